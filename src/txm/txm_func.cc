#include "txm/txm_func.h"

#include <fmt/format.h>

#include "common/file_io.h"
#include "txm/txm_reader.h"
#include "txm/txm_verify.h"

namespace TXM {
namespace {

// Bytes from the start of the buffer to the first element of vec.
template <typename T>
size_t DataPos(const flatbuffers::Vector<T>* vec, const uint8_t* base) {
  return static_cast<size_t>(reinterpret_cast<const uint8_t*>(vec->Data()) - base);
}

talvex::Status CheckCores(const flatbuffers::Vector<flatbuffers::Offset<TalvexTXM::Core>>* cores,
                          int32_t model_id, const uint8_t* base) {
  if (cores == nullptr) return talvex::Status();
  for (const TalvexTXM::Core* core : *cores) {
    const int32_t core_id = core->header() ? core->header()->id() : 0;
    if (const TalvexTXM::NPUEUParams* npu = core->eu_params_as_NPUEUParams()) {
      if (npu->cmd() != nullptr) {
        size_t pos = DataPos(npu->cmd(), base);
        if (pos % TXM_PAYLOAD_ALIGN != 0) {
          return talvex::Status::Error(fmt::format("Model[{}] Core[{}] cmd_pos[{}] not align {} in txm",
                                                   model_id, core_id, pos, TXM_PAYLOAD_ALIGN));
        }
      }
      if (npu->weight() != nullptr) {
        size_t pos = DataPos(npu->weight(), base);
        if (pos % TXM_PAYLOAD_ALIGN != 0) {
          return talvex::Status::Error(fmt::format("Model[{}] Core[{}] weight_pos[{}] not align {} in txm",
                                                   model_id, core_id, pos, TXM_PAYLOAD_ALIGN));
        }
      }
    } else if (core->eu_params_as_LoopEUParams() != nullptr) {
      // Depth is bounded by the verifier's nesting limit.
      talvex::Status st = CheckCores(core->exe_unit(), model_id, base);
      if (!st.ok()) return st;
    }
  }
  return talvex::Status();
}

}  // namespace

talvex::Status LoadTxmObj(TalvexTXM::TXMContentT& txm, const std::string& file) {
  talvex::Status st = TxmReader::Parse(txm, file);
  if (!st.ok()) st.Err("Failed to parse the txm file: " + file);
  return st;
}

talvex::Status LoadTxmObjs(std::vector<TalvexTXM::TXMContentT>& txms, const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    TalvexTXM::TXMContentT txm;
    talvex::Status st = LoadTxmObj(txm, file);
    if (!st.ok()) return st;
    txms.push_back(std::move(txm));
  }
  return talvex::Status();
}

std::string ReadTxmHeader(const TalvexTXM::TXMContentT& txm, const std::string& header_key) {
  // A missing header prints like one holding only default values.
  static const TalvexTXM::TXMHeaderT kEmptyHeader;
  static const TalvexTXM::SchemaVersionT kEmptyVersion;
  const TalvexTXM::TXMHeaderT& h = txm.header ? *txm.header : kEmptyHeader;
  const TalvexTXM::SchemaVersionT& v = h.schema_version ? *h.schema_version : kEmptyVersion;
  const bool all = header_key.empty();
  std::string out = "TXM Header:\n";
  if (all || header_key == "compiler_version") {
    out += "  compiler_version: " + h.compiler_version + "\n";
  }
  if (all || header_key == "target") {
    out += std::string("  target: ") + TalvexTXM::EnumNameNPUTarget(h.target) + "\n";
  }
  if (all || header_key == "schema_version") {
    out += fmt::format("  schema version: v{}.{}.{}\n", v.major_num, v.minor_num, v.revision_num);
  }
  if (all || header_key == "buffer_info") {
    out += "  Buffer Information\n";
    for (const auto& info : h.buffer_info) {
      if (!info) continue;
      out += std::string("    location:") + TalvexTXM::EnumNameLocation(info->buffer) + "\n";
      out += fmt::format("       addr:0x{:x}\n", info->start_addr);
    }
  }
  return out;
}

talvex::Status CheckAlignment(const uint8_t* data, size_t size) {
  if (!VerifyTXMBuffer(data, size)) return talvex::Status::Error("Not a valid TXM file.");
  const TalvexTXM::TXMContent* txm = flatbuffers::GetRoot<TalvexTXM::TXMContent>(data);
  if (txm->models() == nullptr) return talvex::Status();
  for (const TalvexTXM::Model* model : *txm->models()) {
    const int32_t model_id = model->header() ? model->header()->id() : 0;
    if (model->const_input() != nullptr) {
      size_t pos = DataPos(model->const_input(), data);
      if (pos % TXM_PAYLOAD_ALIGN != 0) {
        return talvex::Status::Error(
            fmt::format("Model[{}] const_input_pos[{}] not align 64 in txm", model_id, pos));
      }
    }
    talvex::Status st = CheckCores(model->cores(), model_id, data);
    if (!st.ok()) return st;
  }
  return talvex::Status();
}

talvex::Status CheckAlignment(const std::string& path) {
  talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  if (fb.status() == talvex::ReadStatus::kUnreadable) {
    return talvex::Status::Error("Failed to read the file: " + path);
  }
  // Missing, empty and oversized files have no valid buffer: the check reports them so.
  talvex::Status st = CheckAlignment(fb.data(), fb.size());
  if (!st.ok()) st.Err("The alignment check of " + path + " failed");
  return st;
}

BufferLayout GetHeaderBufferInfo(const TalvexTXM::TXMContentT& txm) {
  BufferLayout layout;
  if (!txm.header) return layout;
  for (const auto& info : txm.header->buffer_info) {
    if (info) layout[info->buffer] = {info->start_addr, info->len};
  }
  return layout;
}

std::vector<BufferLayout> GetHeaderBufferInfos(const std::vector<TalvexTXM::TXMContentT>& txms) {
  std::vector<BufferLayout> layouts;
  layouts.reserve(txms.size());
  for (const auto& txm : txms) layouts.push_back(GetHeaderBufferInfo(txm));
  return layouts;
}

}  // namespace TXM
