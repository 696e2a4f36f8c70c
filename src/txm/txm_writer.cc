#include "txm/txm_writer.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "common/file_io.h"
#include "common/logger.h"
#include "common/strings.h"
#include "txm/txm_object.h"

TxmWriter::TxmWriter() : builder_(1024) {}

TxmWriter::TxmWriter(size_t initial_size)
    : builder_(std::max<size_t>(1024, std::min<size_t>(initial_size, FLATBUFFERS_MAX_BUFFER_SIZE / 2))) {}

void TxmWriter::Finish(const TalvexTXM::TXMContentT& content) {
  builder_.Clear();
  finished_ = false;
  // The generated packer skips empty vectors, and ForceVectorAlignment only pads for
  // non-empty ones, so every stored force-aligned vector is 64-aligned.
  builder_.Finish(TXM::PackTxm(builder_, content));
  finished_ = true;
}

const uint8_t* TxmWriter::GetBufferPointer() const {
  return IsFinished() ? builder_.GetBufferPointer() : nullptr;
}

std::string TxmWriter::OutputPath(TalvexTXM::NPUTarget target, const std::string& folder,
                                  const std::string& out_name, int model_id, int core_id,
                                  const std::string& postfix) {
  std::string name = out_name;
  if (name.empty()) {
    std::string stem = TalvexTXM::EnumNameNPUTarget(target);
    size_t tz = stem.find("TZ");
    if (tz != std::string::npos) stem.erase(tz, 2);
    if (model_id != -1) stem += "_model_" + std::to_string(model_id);
    if (core_id != -1) stem += "_core_" + std::to_string(core_id);
    name = "models_" + stem + ".txm" + postfix;
  }
  return EraseDuplicateSlashes(folder.empty() ? name : folder + "/" + name);
}

talvex::Status TxmWriter::Dump(const TalvexTXM::TXMContentT& content, const std::string& folder,
                               const std::string& out_name, int model_id, int core_id,
                               const std::string& postfix, std::string& path) {
  Finish(content);
  const TalvexTXM::NPUTarget target =
      content.header ? content.header->target : TalvexTXM::NPUTarget::UNKNOW;
  path = OutputPath(target, folder, out_name, model_id, core_id, postfix);
  return GenBin(path);
}

talvex::Status TxmWriter::GenBin(const std::string& path) {
  if (!IsFinished()) return TALVEX_STATUS_ERROR(LogCateg::Txm, "No finished TXM buffer to write to {}", path);
  return talvex::WriteNewFile(path, builder_.GetBufferPointer(), builder_.GetSize(), LogCateg::Txm);
}
