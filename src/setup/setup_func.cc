#include "setup/setup_func.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include <fmt/format.h>

#include "common/json_utils.h"
#include "common/strings.h"
#include "flatbuffers/minireflect.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_nodes.h"
#include "setup_generated.h"

namespace Setup {

namespace {

// Descriptor of a node kind, nullptr for an unknown kind.
const NodeBase* NodeDescriptor(uint32_t type) {
  static const InputInfo input_info;
  static const CPUNode cpu_node;
  static const OutputInfo output_info;
  static const DataInfo data_info;
  static const SuperInfo super_info;
  static const NetworkInput network_input;
  switch (type) {
    case FW_IN_NODE: return &input_info;
    case FW_CPU_NODE: return &cpu_node;
    case FW_OUTPUT_NODE: return &output_info;
    case FW_DATA_NODE: return &data_info;
    case FW_SUPER_NODE: return &super_info;
    case FW_NETWORK_INPUT_NODE: return &network_input;
    default: return nullptr;
  }
}

const NodeBase& HeaderDescriptor(bool is_100) {
  static const TZ100Header tz100;
  static const TZ200Header tz200;
  if (is_100) return tz100;
  return tz200;
}

// Appends one JSON string literal. Valid UTF-8 becomes \u escapes as the FlatBuffers text
// printer writes it; a byte that is not part of valid UTF-8 becomes \u00XX (its Latin-1
// reading) instead of the printer's "\xXX", which no JSON reader accepts.
void AppendJsonString(const char* s, size_t n, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  auto hex4 = [&out](uint32_t v) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
  };
  out += '"';
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '\n': out += "\\n"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      default: break;
    }
    if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    bool valid = false;
    const size_t len = NextUtf8(std::string_view(s, n), i, &valid);
    if (!valid) {  // each byte of an ill-formed sequence on its own
      for (size_t k = 0; k < len; ++k) hex4(static_cast<unsigned char>(s[i + k]));
      i += len;
      continue;
    }
    static const unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = c & kLeadBits[len];
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (cp <= 0xFFFF) {
      hex4(cp);
    } else {
      const uint32_t base = cp - 0x10000;
      hex4(0xD800 + (base >> 10));
      hex4(0xDC00 + (base & 0x3FF));
    }
    i += len;
  }
  out += '"';
}

// The library's multi-line text visitor with the JSON view's settings. Only the tokens it
// would write outside JSON are replaced: non-finite numbers and non-UTF-8 string bytes.
struct JsonTextVisitor : public flatbuffers::ToStringVisitor {
  JsonTextVisitor() : flatbuffers::ToStringVisitor("\n", true, "\t", true) {}

  template <typename T>
  void Real(T x) {
    // JSON has no NaN or infinity; write null for them, as JavaScript's JSON.stringify does.
    if (std::isfinite(x)) {
      s += flatbuffers::NumToString(x);
    } else {
      s += "null";
    }
  }
  void Float(float x) override { Real(x); }
  void Double(double x) override { Real(x); }
  void String(const flatbuffers::String* str) override {
    AppendJsonString(str->c_str(), str->size(), s);
  }
  // A repacked buffer never holds a union value of an unknown kind; stay valid JSON anyway.
  void Unknown(const uint8_t*) override { s += "null"; }
};

}  // namespace

talvex::Status RawToString(const uint8_t* bin, size_t size, std::string& str, bool is_100) {
  const NodeBase& header = HeaderDescriptor(is_100);
  if (bin == nullptr || size < header.GetOffset()) {
    return talvex::Status::Error(fmt::format("setup.bin ends inside its header: {} of {} bytes",
                                             bin == nullptr ? 0 : size, header.GetOffset()));
  }
  header.Dump(str, bin);
  size_t pos = header.GetOffset();
  while (pos < size) {
    const unsigned type = bin[pos];  // the low byte of the little-endian type word
    const NodeBase* node = NodeDescriptor(type);
    if (node == nullptr) return talvex::Status::Error(fmt::format("undefinded node[{}]", type));
    if (size - pos < node->GetOffset()) {
      return talvex::Status::Error(fmt::format("setup.bin ends inside node[{}] at offset {}: {} of {} bytes",
                                               type, pos, size - pos, node->GetOffset()));
    }
    node->Dump(str, bin + pos);
    pos += node->GetOffset();
  }
  return talvex::Status();
}

namespace {

// The JSON view of a raw setup's text view: the header, network input and output info sections
// as objects of numbers, one per section, closed by an empty line.
class RawJsonSections {
 public:
  void Line(const std::string& line) {
    if (line == "Network Input Section") {
      Start(input_);
    } else if (line == "Header Section") {
      Start(header_);
    } else if (line == "Output Info Section") {
      Start(output_);
    } else if (line.empty()) {
      FinishAll();
    } else {
      Field(line);
    }
  }

  Json::Value Result() {
    FinishAll();
    Json::Value result(Json::objectValue);
    result["header"] = headers_.empty() ? Json::Value() : headers_[0];
    result["inputs"] = std::move(inputs_);
    result["outputs"] = std::move(outputs_);
    return result;
  }

 private:
  struct Slot {
    bool open = false;
    Json::Value obj{Json::objectValue};
  };

  static void Start(Slot& slot) {
    slot.open = true;
    slot.obj = Json::Value(Json::objectValue);
  }
  static void Finish(Slot& slot, Json::Value& list) {
    if (!slot.open) return;
    list.append(std::move(slot.obj));
    slot.open = false;
    slot.obj = Json::Value(Json::objectValue);
  }
  void FinishAll() {
    Finish(input_, inputs_);
    Finish(output_, outputs_);
    Finish(header_, headers_);
  }
  // "key: value" of the open section (the text between the first two colons, read as a number).
  void Field(const std::string& line) {
    Slot* target = input_.open ? &input_ : output_.open ? &output_ : header_.open ? &header_ : nullptr;
    if (target == nullptr) return;  // title, input info, CPU, data and super nodes
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    const size_t next = line.find(':', colon + 1);
    const size_t count = next == std::string::npos ? std::string::npos : next - colon - 1;
    const long long number = std::strtoll(line.substr(colon + 1, count).c_str(), nullptr, 10);
    target->obj[line.substr(0, colon)] = Json::Value(static_cast<Json::Int64>(number));
  }

  Json::Value headers_{Json::arrayValue}, inputs_{Json::arrayValue}, outputs_{Json::arrayValue};
  Slot header_, input_, output_;
};

}  // namespace

talvex::Status RawToJson(const uint8_t* bin, size_t size, Json::Value& json, bool is_100) {
  std::string text;
  talvex::Status st = RawToString(bin, size, text, is_100);
  if (!st.ok()) return st.Err("Failed to parse old setup.bin");
  RawJsonSections sections;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    sections.Line(text.substr(begin, end - begin));
    begin = end + 1;
  }
  json = sections.Result();
  return talvex::Status();
}

talvex::Status UpdateEncryptEFuse(uint8_t* bin, size_t size) {
  if (IsRawSetup(bin, size)) {
    if (size < ENC_KEY_DATA_OFFSET_POS + 4) return talvex::Status::Error("Not a valid raw based setup.bin");
    talvex::StoreLE32(bin + ENC_KEY_DATA_OFFSET_POS, ENC_KEY_EFUSE);
    return talvex::Status();
  }
  if (!IsFBSetup(bin, size)) return talvex::Status::Error("Not a valid flatbuffer based setup.bin");
  // The buffer's size is fixed: only a mode byte that was written can be changed.
  const auto* root = flatbuffers::GetRoot<TalvexSetup::INFContent>(bin);
  const TalvexSetup::Header* header = root->header();
  if (header == nullptr) return talvex::Status();
  const TalvexSetup::EncryptInfo* info = header->encrypt_info();
  if (info == nullptr) return talvex::Status();
  const uint8_t* mode = reinterpret_cast<const flatbuffers::Table*>(info)->GetAddressOf(
      TalvexSetup::EncryptInfo::VT_MODE);
  if (mode == nullptr) return talvex::Status();
  bin[static_cast<size_t>(mode - bin)] = static_cast<uint8_t>(TalvexSetup::EncryptedMode::EFuse);
  return talvex::Status();
}

talvex::Status UpdateEncryptCustomerKeyInRawSetup(uint8_t* bin, size_t size) {
  if (!IsRawSetup(bin, size)) return talvex::Status();
  if (size < ENC_KEY_DATA_OFFSET_POS + 4) return talvex::Status::Error("Not a valid raw based setup.bin");
  talvex::StoreLE32(bin + ENC_KEY_DATA_OFFSET_POS, static_cast<uint32_t>(size));
  return talvex::Status();
}

talvex::Status FBToJsonString(const uint8_t* bin, size_t size, std::string& str) {
  if (IsRawSetup(bin, size)) return talvex::Status::Error("The setup.bin is raw type");
  TalvexSetup::INFContentT content;
  content.magic = FB_SETUP_MAGIC;
  talvex::Status st = SetupFBReader::Parse(content, bin, size);
  if (!st.ok()) return st.Err("Failed to parse setup.bin");
  // Repacked without forced defaults, so every field equal to its default drops out.
  flatbuffers::FlatBufferBuilder fbb(1024);
  fbb.ForceDefaults(false);
  fbb.Finish(SetupFBReader::Pack(fbb, content));

  JsonTextVisitor visitor;
  flatbuffers::IterateFlatBuffer(fbb.GetBufferPointer(), TalvexSetup::INFContentTypeTable(), &visitor);
  str = std::move(visitor.s);
  return talvex::Status();
}

talvex::Status FBToJson(const uint8_t* bin, size_t size, Json::Value& json) {
  std::string text;
  talvex::Status st = FBToJsonString(bin, size, text);
  if (!st.ok()) return st.Err("Failed to convert json string");
  Json::Value value = Str2Json(text);
  // Never reported as success with a null view.
  if (!value.isObject()) return talvex::Status::Error("Failed to convert json string");
  json = std::move(value);
  return talvex::Status();
}

}  // namespace Setup
