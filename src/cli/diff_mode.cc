// --diff A B: what differs between two containers (or TXM files), one line per difference, in
// the exit status convention of diff(1).
#include <iostream>
#include <map>
#include <set>

#include <fmt/format.h>

#include "bnx/crc32.h"
#include "cli/handlers.h"
#include "cli/json_report.h"
#include "cli/model_layout.h"
#include "txm/txm_verify.h"
#include "txm_generated.h"

namespace {

talvex::Status ContainerSide(const BNXUtils::BnxFile& bnx, Json::Value& doc) {
  std::vector<ModelLayout> layouts;
  const talvex::Status st = ReadContainerLayouts(bnx, true, layouts);
  if (!st.ok()) return talvex::Status::Error(bnx.path() + ": " + st.Reason());
  doc["header"] = HeaderJson(bnx);
  Json::Value payload = PayloadJson(bnx);
  const auto* bin = bnx.root()->model_bin();
  // (fw_info.bin ends with its own CRC, so a CRC of it would be the same for every file: its
  // records are compared as the models' regions.)
  if (bin != nullptr && bin->all_models() != nullptr) {
    const uint8_t* p = bin->all_models()->data();
    payload["crc32"] = BNXUtils::Crc32Mirrored(0, p, bin->all_models()->size(), bnx.fd(),
                                               static_cast<uint64_t>(p - bnx.data()));
  }
  doc["payload"] = payload;
  // Models are matched by id: where a model stands in the list is no difference of its own.
  Json::Value models = ModelsJson(bnx, layouts);
  for (Json::Value& m : models) m.removeMember("position");
  doc["models"] = models;
  return {};
}

talvex::Status TxmSide(const std::string& path, const talvex::FileBuffer& fb, Json::Value& doc) {
  std::vector<ModelLayout> layouts;
  const talvex::Status st = ReadTxmLayouts(fb.data(), fb.size(), fb.fd(), 0, true, layouts);
  if (!st.ok()) return talvex::Status::Error(path + ": " + st.Reason());
  const auto* txm = flatbuffers::GetRoot<TalvexTXM::TXMContent>(fb.data());
  Json::Value header(Json::objectValue);
  if (const TalvexTXM::TXMHeader* h = txm->header()) {
    const char* target = TalvexTXM::EnumNameNPUTarget(h->target());
    header["target"] = target != nullptr ? target : "";
    header["compiler_version"] = h->compiler_version() != nullptr ? h->compiler_version()->str() : "";
    if (const TalvexTXM::SchemaVersion* v = h->schema_version()) {
      header["schema_version"] = fmt::format("{}.{}.{}", v->major_num(), v->minor_num(), v->revision_num());
    }
  }
  doc["header"] = header;
  Json::Value payload(Json::objectValue);
  payload["kind"] = "txm";
  payload["size"] = static_cast<Json::UInt64>(fb.size());
  payload["crc32"] = BNXUtils::Crc32Mirrored(0, fb.data(), fb.size(), fb.fd(), 0);
  doc["payload"] = payload;
  Json::Value models(Json::arrayValue);
  for (const ModelLayout& l : layouts) {
    Json::Value m = LayoutJson(l);
    m["id"] = l.id;
    models.append(m);
  }
  doc["models"] = models;
  return {};
}

// What --diff compares of one file: a container's header, payload and models, or a TXM file's.
talvex::Status DiffSide(const std::string& path, Json::Value& doc) {
  BNXUtils::BnxFile bnx = BNXUtils::BnxFile::Open(path);
  if (bnx.ok()) return ContainerSide(bnx, doc);
  if (!bnx.exists()) return talvex::Status::Error("no such file: " + path);
  const talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  if (fb.ok() && TXM::VerifyTXMBuffer(fb.data(), fb.size())) return TxmSide(path, fb, doc);
  return talvex::Status::Error(path + ": neither a BNX container nor a TXM file");
}

struct Difference {
  std::string path;
  Json::Value a;  // null: added in B
  Json::Value b;  // null: removed from A
};

// Keys whose values read best in hexadecimal.
bool HexKey(const std::string& key) {
  static const std::set<std::string> kHex = {"start", "size",  "address", "offset", "crc32", "crc", "setup_crc32",
                                             "entry", "len",   "uuid",    "fw_info_size"};
  return kHex.count(key) != 0;
}

std::string ValueText(const Json::Value& v, const std::string& key) {
  if (v.isNull()) return "(none)";
  if ((v.isUInt64() || v.isInt64()) && !v.isBool()) {
    if (HexKey(key) && v.isUInt64()) return fmt::format("{:#x}", v.asUInt64());
    return v.isInt64() ? std::to_string(v.asInt64()) : std::to_string(v.asUInt64());
  }
  Json::StreamWriterBuilder b;
  b["indentation"] = "";
  b["emitUTF8"] = true;
  return Json::writeString(b, v);
}

// The member an array's elements are matched by (models by id, regions by name), or "" for
// matching by position.
const char* MatchKey(const std::string& array_name) {
  if (array_name == "models") return "id";
  if (array_name == "regions") return "name";
  return "";
}

void Compare(const std::string& path, const std::string& key, const Json::Value& a, const Json::Value& b,
             std::vector<Difference>& out);

std::string LabelOf(const Json::Value& v, const char* match) {
  return v.isObject() && v.isMember(match) ? v[match].asString() : std::string("?");
}

void CompareArrays(const std::string& path, const std::string& key, const Json::Value& a, const Json::Value& b,
                   std::vector<Difference>& out) {
  const char* match = MatchKey(key);
  if (*match == '\0') {
    for (Json::ArrayIndex i = 0; i < std::max(a.size(), b.size()); ++i) {
      Compare(fmt::format("{}[{}]", path, i), key, i < a.size() ? a[i] : Json::Value(),
              i < b.size() ? b[i] : Json::Value(), out);
    }
    return;
  }
  // The k-th element of a label in A against the k-th of that label in B.
  const bool by_name = std::string(match) == "name";
  const auto label_path = [&](const std::string& label, int k) {
    const std::string tag = k == 0 ? label : fmt::format("{}#{}", label, k + 1);
    return by_name ? path + "." + tag : fmt::format("{}[{}]", path, tag);
  };
  std::map<std::string, int> seen_a;
  std::map<std::string, int> seen_b;
  std::vector<std::pair<std::string, int>> order;
  std::map<std::pair<std::string, int>, std::pair<Json::Value, Json::Value>> pairs;
  for (const Json::Value& v : a) {
    const std::string l = LabelOf(v, match);
    const auto id = std::make_pair(l, seen_a[l]++);
    order.push_back(id);
    pairs[id].first = v;
  }
  for (const Json::Value& v : b) {
    const std::string l = LabelOf(v, match);
    const auto id = std::make_pair(l, seen_b[l]++);
    if (pairs.count(id) == 0) order.push_back(id);
    pairs[id].second = v;
  }
  for (const auto& id : order) Compare(label_path(id.first, id.second), key, pairs[id].first, pairs[id].second, out);
}

void Compare(const std::string& path, const std::string& key, const Json::Value& a, const Json::Value& b,
             std::vector<Difference>& out) {
  if (a.isObject() && b.isObject()) {
    std::vector<std::string> keys = a.getMemberNames();
    for (const std::string& k : b.getMemberNames()) {
      if (!a.isMember(k)) keys.push_back(k);
    }
    for (const std::string& k : keys) {
      // Where a TXM payload lies in its file, and the map derived from the regions, only
      // repeat what the sizes, CRCs and regions say.
      if (k == "offset" || k == "memory_map" || k == "file") continue;
      Compare(path.empty() ? k : path + "." + k, k, a.get(k, Json::Value()), b.get(k, Json::Value()), out);
    }
  } else if (a.isArray() && b.isArray()) {
    CompareArrays(path, key, a, b, out);
  } else if (a != b) {
    out.push_back({path, a, b});
  }
}

std::string DiffLine(const Difference& d) {
  const std::string key = d.path.substr(d.path.find_last_of('.') + 1);
  const bool whole = d.a.isObject() || d.b.isObject() || d.a.isArray() || d.b.isArray();
  if (whole && d.a.isNull()) return d.path + ": added";
  if (whole && d.b.isNull()) return d.path + ": removed";
  return d.path + ": " + ValueText(d.a, key) + " -> " + ValueText(d.b, key);
}

}  // namespace

talvex::Status DiffBnx(const CmdArgs& args) {
  if (args.model_path.size() != 2) {
    return talvex::Status::Error("--diff compares two files; " + std::to_string(args.model_path.size()) + " given");
  }
  Json::Value side[2];
  for (int i = 0; i < 2; ++i) {
    talvex::Status st = DiffSide(args.model_path[i], side[i]);
    if (!st.ok()) return st;
  }
  std::vector<Difference> diffs;
  Compare("", "", side[0], side[1], diffs);
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["a"] = args.model_path[0];
    doc["b"] = args.model_path[1];
    doc["same"] = diffs.empty();
    Json::Value list(Json::arrayValue);
    for (const Difference& d : diffs) {
      Json::Value e(Json::objectValue);
      e["path"] = d.path;
      e["change"] = d.a.isNull() ? "added" : d.b.isNull() ? "removed" : "changed";
      e["a"] = d.a;
      e["b"] = d.b;
      list.append(e);
    }
    doc["differences"] = list;
    PrintJson(doc);
  } else {
    std::string text;
    for (const Difference& d : diffs) text += DiffLine(d) + "\n";
    std::cout << text << std::flush;
  }
  return talvex::Status(diffs.empty() ? 0 : kDiffersStatus);
}
