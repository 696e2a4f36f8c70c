#include "txm/txm_transform.h"

#include <algorithm>

#include <fmt/format.h>

#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/json_utils.h"
#include "common/strings.h"
#include "encoder/encoder.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

namespace TXM {
namespace {

namespace T = TalvexTXM;
using flatbuffers::FlatBufferBuilder;
using flatbuffers::Offset;

[[noreturn]] void FailPrecondition(const std::string& text) {
  throw TalvexException(ErrorCode::UnexpectedValue, text);
}

int32_t ModelId(const T::ModelT& model) { return model.header ? model.header->id : 0; }
int32_t CoreId(const T::CoreT& core) { return core.header ? core.header->id : 0; }

template <typename Obj>
std::vector<std::unique_ptr<Obj>> CloneAll(const std::vector<std::unique_ptr<Obj>>& in) {
  std::vector<std::unique_ptr<Obj>> out;
  out.reserve(in.size());
  for (const auto& p : in) {
    if (p) out.push_back(std::make_unique<Obj>(*p));
  }
  return out;
}

template <typename Obj>
std::unique_ptr<Obj> Clone(const std::unique_ptr<Obj>& p) {
  return p ? std::make_unique<Obj>(*p) : nullptr;
}

// ---- Sizing the builder ----

uint64_t NpuBytes(const T::NPUEUParamsT* npu) {
  return npu == nullptr ? 0 : npu->cmd.size() + npu->weight.size() + 2 * TXM_PAYLOAD_ALIGN;
}

// Bytes of bulk data under a core; the tables around them are small in comparison.
uint64_t PayloadBytes(const T::CoreT& core, int depth = 0) {
  uint64_t bytes = NpuBytes(core.eu_params.AsNPUEUParams());
  if (const T::LoopEUParamsT* loop = core.eu_params.AsLoopEUParams()) {
    bytes += NpuBytes(loop->npu_params.get());
  }
  if (const T::CPUEUParamsT* cpu = core.eu_params.AsCPUEUParams()) {
    for (const auto& op : cpu->operators) {
      if (!op) continue;
      for (const auto& w : op->weights) bytes += w ? w->values.size() : 0;
    }
  }
  // Trees from files nest at most as deep as the verifier allows.
  if (depth < 64) {
    for (const auto& sub : core.exe_unit) bytes += sub ? PayloadBytes(*sub, depth + 1) : 0;
  }
  return bytes;
}

uint64_t PayloadBytes(const T::ModelT& model) {
  uint64_t bytes = model.const_input.size() + TXM_PAYLOAD_ALIGN;
  for (const auto& core : model.cores) bytes += core ? PayloadBytes(*core) : 0;
  return bytes;
}

// A builder that can take `payload` bytes without growing: each growth copies everything
// built so far, which costs both time and a second copy in memory on large models.
size_t BuilderCapacity(uint64_t payload) {
  const uint64_t want = payload + payload / 32 + 4096;
  return static_cast<size_t>(std::min<uint64_t>(want, talvex::kMaxInputBytes));
}

// A FlatBuffers buffer cannot exceed 2 GiB; refuse before the builder's offsets overflow.
talvex::Status FitsOneBuffer(uint64_t payload) {
  if (payload < talvex::kMaxInputBytes) return talvex::Status();
  return talvex::Status::Error(
      fmt::format("The TXM content needs {} bytes, more than one TXM file can hold", payload), TxmReader::kInvalid);
}

// Finishes the buffer (no identifier) and parses it into out.
talvex::Status FinishAndParse(FlatBufferBuilder& fbb, Offset<T::TXMContent> root, T::TXMContentT& out) {
  fbb.Finish(root);
  return TxmReader::Parse(out, fbb.GetBufferPointer(), fbb.GetSize());
}

// const_input is force-aligned to 64 like the generated packer does; empty means absent.
Offset<flatbuffers::Vector<uint8_t>> PackConstInput(FlatBufferBuilder& fbb, const std::vector<uint8_t>& data) {
  if (data.empty()) return 0;
  fbb.ForceVectorAlignment(data.size(), sizeof(uint8_t), TXM_PAYLOAD_ALIGN);
  return fbb.CreateVector(data);
}

template <typename Table>
Offset<flatbuffers::Vector<Offset<Table>>> PackOffsets(FlatBufferBuilder& fbb,
                                                       const std::vector<Offset<Table>>& offsets) {
  return offsets.empty() ? 0 : fbb.CreateVector(offsets);
}

Offset<T::TXMHeader> PackHeader(FlatBufferBuilder& fbb, const std::unique_ptr<T::TXMHeaderT>& header) {
  return header ? T::TXMHeader::Pack(fbb, header.get()) : 0;
}

// ---- Address file of TrimCore ----

const char* AddrKey(T::Location location) {
  switch (location) {
    case T::Location::INPUT_BUFFER: return "input_addr";
    case T::Location::OUTPUT_BUFFER: return "output_addr";
    case T::Location::WORKING_BUFFER: return "dram_base_addr";
    case T::Location::CPU_TEMP_BUFFER: return "cpu_tmp_addr";
    default: return nullptr;
  }
}

// Optional "0x", then hexadecimal digits only, and a value that fits 32 bits: anything else
// would silently become a wrong (truncated or zero) device address.
bool IsHexAddr(const std::string& text) {
  size_t i = (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) ? 2 : 0;
  if (i == text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  return true;
}

// Loaded on the first lookup only, so a layout without buffers never needs the file.
class AddressFile {
 public:
  explicit AddressFile(const std::string& path) : path_(path) {}

  uint32_t Get(const char* key) {
    if (!loaded_) {
      json_ = LoadJson(path_);
      loaded_ = true;
    }
    if (json_.isNull()) {
      throw InvalidProgramInput(fmt::format("json constructed from [{}] is null", path_));
    }
    // isMember on anything but an object would throw from inside jsoncpp.
    if (!json_.isObject() || !json_.isMember(key)) {
      throw InvalidProgramInput(fmt::format("[{}] should contains addr for key [{}]", path_, key));
    }
    const Json::Value& value = json_[key];
    const std::string text = value.isString() ? value.asString() : Json2Str(value);
    if (!value.isString() || !IsHexAddr(text)) {
      throw InvalidProgramInput(fmt::format(
          "[{}] addr for key [{}] should be a hexadecimal text of 32 bits, not [{}]", path_, key, text));
    }
    return ParseHex(text);
  }

 private:
  std::string path_;
  bool loaded_ = false;
  Json::Value json_;
};

// ---- PostEnc ----

void CheckEncodable(const T::NPUEUParamsT& npu, int32_t model_id, int32_t core_id) {
  if (npu.cmd.size() % 4 != 0) {
    FailPrecondition(fmt::format("Model[{}] Core[{}] cmd of {} bytes: length % 4 == 0", model_id,
                                 core_id, npu.cmd.size()));
  }
  if (npu.weight.size() % 16 != 0) {
    FailPrecondition(fmt::format("Model[{}] Core[{}] weight of {} bytes: length % 16 == 0",
                                 model_id, core_id, npu.weight.size()));
  }
}

void EncodeNpu(const Encoder& encoder, T::NPUEUParamsT& npu) {
  encoder.Encode(reinterpret_cast<char*>(npu.cmd.data()), npu.cmd.size(), 4);
  encoder.Encode(reinterpret_cast<char*>(npu.weight.data()), npu.weight.size(), 16);
}

// ---- Payload removal ----

void Release(std::vector<uint8_t>& bytes) { std::vector<uint8_t>().swap(bytes); }

void RemoveCoreBinary(T::CoreT& core, int depth) {
  if (T::NPUEUParamsT* npu = core.eu_params.AsNPUEUParams()) {
    Release(npu->cmd);
    Release(npu->weight);
  } else if (T::LoopEUParamsT* loop = core.eu_params.AsLoopEUParams()) {
    if (loop->npu_params) {
      Release(loop->npu_params->cmd);
      Release(loop->npu_params->weight);
    }
  }
  if (depth >= 64) return;
  for (auto& sub : core.exe_unit) {
    if (sub) RemoveCoreBinary(*sub, depth + 1);
  }
}

}  // namespace

namespace {
}  // namespace

size_t PackCapacity(const T::ModelT& model) { return BuilderCapacity(PayloadBytes(model)); }

namespace {
}  // namespace

int ForEachModelById(T::TXMContentT& txm, int32_t model_id,
                     const std::function<int(int32_t id, T::TXMContentT& one)>& fn) {
  // Positions of the models to visit, grouped by ascending id, in one pass: a scan of all models
  // per id would make visiting every model quadratic in their number.
  std::map<int32_t, std::vector<size_t>> by_id;
  for (size_t i = 0; i < txm.models.size(); ++i) {
    const auto& model = txm.models[i];
    if (model && (model_id == -1 || ModelId(*model) == model_id)) by_id[ModelId(*model)].push_back(i);
  }
  for (const auto& [id, positions] : by_id) {
    T::TXMContentT one;
    one.magic = txm.magic;
    one.models.push_back(std::move(txm.models[positions.back()]));
    for (size_t i : positions) txm.models[i].reset();
    one.header = std::move(txm.header);
    const int ret = fn(id, one);
    txm.header = std::move(one.header);
    if (ret != 0) return ret;
  }
  return 0;
}

namespace {

// A core at the top level, or one level down inside another core; null when there is none.
const T::CoreT* FindTrimmedCore(const T::ModelT& model, int32_t core_id, bool& top_level) {
  for (const auto& core : model.cores) {
    if (!core) continue;
    if (CoreId(*core) == core_id) {
      top_level = true;
      return core.get();
    }
    for (const auto& sub : core->exe_unit) {
      if (!sub) continue;
      if (sub->eu_params.type == T::EUParams::LoopEUParams) FailPrecondition("core type should not be loop");
      if (CoreId(*sub) == core_id) return sub.get();
    }
  }
  return nullptr;
}

// The file header's layout, moved to the addresses the core will run at.
TxmBufferInfos RelocatedBuffers(const T::TXMContentT& txm, const std::string& json_path) {
  AddressFile addresses(json_path);
  TxmBufferInfos relocated;
  if (!txm.header) return relocated;
  for (const auto& info : txm.header->buffer_info) {
    if (!info) continue;
    const char* key = AddrKey(info->buffer);
    if (key == nullptr) throw InvalidProgramInput(fmt::format("Undefinded buffer:[{}]", static_cast<int>(info->buffer)));
    auto entry = std::make_unique<T::BufferInfoT>();
    entry->buffer = info->buffer;
    entry->len = info->len;
    entry->start_addr = addresses.Get(key);
    relocated.push_back(std::move(entry));
  }
  return relocated;
}

// The header of the one-core model: the core's tensors, the model's settings, the new layout.
T::ModelHeaderT TrimmedModelHeader(const T::ModelT& model, const T::CoreT& taken, TxmBufferInfos relocated) {
  T::ModelHeaderT header;
  const T::ModelHeaderT* src = model.header.get();
  header.id = ModelId(model);
  if (taken.header) {
    header.inputs = CloneAll(taken.header->inputs);
    header.outputs = CloneAll(taken.header->outputs);
  }
  header.core_number = 1;
  if (src != nullptr) {
    header.npu_run_val = src->npu_run_val;
    header.dma_bank_info = CloneAll(src->dma_bank_info);
    header.encrypt_info = Clone(src->encrypt_info);
    header.compiler_version = src->compiler_version;
    header.schema_version = Clone(src->schema_version);
  }
  header.buffer_info = std::move(relocated);
  header.wt_ref_model_id = -1;
  return header;
}

// The taken core's header as core 0 of its own model.
T::CoreHeaderT TrimmedCoreHeader(const T::CoreT& taken) {
  T::CoreHeaderT header;
  header.id = 0;
  if (taken.header) {
    header.inputs = CloneAll(taken.header->inputs);
    header.outputs = CloneAll(taken.header->outputs);
    header.parent = taken.header->parent;
    header.children = taken.header->children;
  }
  header.type = T::CoreType::NPU;
  return header;
}

}  // namespace

talvex::Status TrimCore(T::TXMContentT& result, const T::TXMContentT& txm, int32_t core_id,
                        const std::string& json_path) {
  if (txm.models.size() != 1 || !txm.models[0]) FailPrecondition("Should only one model");
  if (core_id < 0) FailPrecondition("Need a specific core_id");
  const T::ModelT& model = *txm.models[0];
  bool top_level = false;
  const T::CoreT* taken = FindTrimmedCore(model, core_id, top_level);
  if (taken == nullptr) {
    return talvex::Status::Error(fmt::format("Unable to find the core with the core_id: {}", core_id));
  }
  TxmBufferInfos relocated = RelocatedBuffers(txm, json_path);
  const T::EUParams tag = taken->eu_params.type;
  if (tag != T::EUParams::NPUEUParams && tag != T::EUParams::CPUEUParams && tag != T::EUParams::LoopEUParams) {
    throw InvalidProgramInput(fmt::format("Unknown eu_params:[{}]", static_cast<int>(tag)));
  }
  const T::ModelHeaderT model_header = TrimmedModelHeader(model, *taken, std::move(relocated));
  const T::CoreHeaderT core_header = TrimmedCoreHeader(*taken);

  // A LOOP core taken at the top level runs alone: its nested cores stay behind.
  const bool keep_nested = !(top_level && tag == T::EUParams::LoopEUParams);
  uint64_t payload = PayloadBytes(*taken) + model.const_input.size() + TXM_PAYLOAD_ALIGN;
  talvex::Status fits = FitsOneBuffer(payload);
  if (!fits.ok()) return fits.Err("Failed to create TXMContentT object");
  // The taken core's payloads are packed straight from the source, never copied in between.
  FlatBufferBuilder fbb(BuilderCapacity(payload));
  std::vector<Offset<T::Core>> nested;
  for (const auto& sub : taken->exe_unit) {
    if (sub && keep_nested) nested.push_back(T::Core::Pack(fbb, sub.get()));
  }
  const auto nested_off = PackOffsets(fbb, nested);
  const auto eu_off = taken->eu_params.Pack(fbb);
  const auto core_header_off = T::CoreHeader::Pack(fbb, &core_header);
  const Offset<T::Core> core_off = T::CreateCore(fbb, core_header_off, nested_off, tag, eu_off);
  const auto cores_off = fbb.CreateVector(&core_off, 1);
  const auto const_input_off = PackConstInput(fbb, model.const_input);
  const auto model_header_off = T::ModelHeader::Pack(fbb, &model_header);
  const Offset<T::Model> model_off = T::CreateModel(fbb, model_header_off, cores_off, const_input_off);
  const auto models_off = fbb.CreateVector(&model_off, 1);
  const auto header_off = PackHeader(fbb, txm.header);
  talvex::Status st = FinishAndParse(fbb, T::CreateTXMContent(fbb, txm.magic, header_off, models_off), result);
  if (!st.ok()) st.Err("Failed to create TXMContentT object");
  return st;
}

void RemoveAllCoresBinaryPayload(T::TXMContentT& txm) {
  for (auto& model : txm.models) {
    if (!model) continue;
    for (auto& core : model->cores) {
      if (core) RemoveCoreBinary(*core, 0);
    }
  }
}

void RemoveModelConstantInputData(T::TXMContentT& txm) {
  for (auto& model : txm.models) {
    if (model) Release(model->const_input);
  }
}

void TrimBinary(T::TXMContentT& txm, bool reserve_core_binary, bool reserve_const_input) {
  if (!reserve_core_binary) RemoveAllCoresBinaryPayload(txm);
  if (!reserve_const_input) RemoveModelConstantInputData(txm);
}

void PostEnc(T::TXMContentT& txm, const Encoder& encoder, const std::vector<uint8_t>& key_bytes) {
  // Check everything first: a refusal half-way would leave some models scrambled and
  // others not, with nothing in the tree to tell which.
  for (const auto& model : txm.models) {
    if (!model) continue;
    const T::EncryptInfoT* info = model->header ? model->header->encrypt_info.get() : nullptr;
    if (info == nullptr || info->mode != T::EncryptedMode::NoEnc) {
      FailPrecondition("the model should not be encryped");
    }
    for (const auto& core : model->cores) {
      if (!core) continue;
      if (const T::NPUEUParamsT* npu = core->eu_params.AsNPUEUParams()) {
        CheckEncodable(*npu, ModelId(*model), CoreId(*core));
      } else if (core->eu_params.AsLoopEUParams() != nullptr) {
        for (const auto& sub : core->exe_unit) {
          if (!sub) continue;
          if (sub->eu_params.type == T::EUParams::LoopEUParams) {
            FailPrecondition("sub core should be NPU or CPU core");
          }
          if (const T::NPUEUParamsT* sub_npu = sub->eu_params.AsNPUEUParams()) {
            CheckEncodable(*sub_npu, ModelId(*model), CoreId(*sub));
          }
        }
      }
    }
  }

  for (auto& model : txm.models) {
    if (!model) continue;
    T::EncryptInfoT& info = *model->header->encrypt_info;
    if (!key_bytes.empty()) {
      info.mode = T::EncryptedMode::CustKey;
      info.key = key_bytes;
    } else {
      info.mode = T::EncryptedMode::EFuse;
    }
    for (auto& core : model->cores) {
      if (!core) continue;
      if (T::NPUEUParamsT* npu = core->eu_params.AsNPUEUParams()) {
        EncodeNpu(encoder, *npu);
      } else if (core->eu_params.AsLoopEUParams() != nullptr) {
        // The loop's own npu_params are left as they are; only its nested NPU cores run encrypted.
        for (auto& sub : core->exe_unit) {
          if (!sub) continue;
          if (T::NPUEUParamsT* sub_npu = sub->eu_params.AsNPUEUParams()) EncodeNpu(encoder, *sub_npu);
        }
      }
    }
  }
}

}  // namespace TXM
