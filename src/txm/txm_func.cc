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

}  // namespace TXM
