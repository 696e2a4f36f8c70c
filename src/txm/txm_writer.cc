#include "txm/txm_writer.h"

#include <cstring>
#include <iostream>

#include <fmt/format.h>

#include "common/file_io.h"
#include "common/logger.h"
#include "common/strings.h"

TxmWriter::TxmWriter() = default;

TxmWriter::TxmWriter(flatbuffers::FlatBufferBuilder&& builder) { builder_.Swap(builder); }

void TxmWriter::Finish(const TalvexTXM::TXMContentT& content) {
  builder_.Clear();
  // The generated packer skips empty vectors, and ForceVectorAlignment only pads for
  // non-empty ones, so every stored force-aligned vector is 64-aligned.
  builder_.Finish(TalvexTXM::TXMContent::Pack(builder_, &content));
}

const uint8_t* TxmWriter::GetBufferPointer() const {
  return IsFinished() ? builder_.GetBufferPointer() : nullptr;
}

size_t TxmWriter::GetSize() const { return IsFinished() ? builder_.GetSize() : 0; }

int TxmWriter::Dump(const TalvexTXM::TXMContentT& content, uint8_t* buf, size_t size,
                    size_t& len) {
  Finish(content);
  len = GetSize();
  if (len > size || (buf == nullptr && len > 0)) {
    std::cerr << fmt::format("The buffer size[{}] is not enough for data len[{}]\n", size, len);
    return -1;
  }
  std::memcpy(buf, GetBufferPointer(), len);
  return 0;
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

std::string TxmWriter::Dump(const TalvexTXM::TXMContentT& content, const std::string& folder,
                            const std::string& out_name, int model_id, int core_id,
                            const std::string& postfix, bool blOutputDisplay) {
  Finish(content);
  const TalvexTXM::NPUTarget target =
      content.header ? content.header->target : TalvexTXM::NPUTarget::UNKNOW;
  std::string path = OutputPath(target, folder, out_name, model_id, core_id, postfix);
  return GenBin(path, blOutputDisplay) == 0 ? path : std::string();
}

int TxmWriter::GenBin(const std::string& path, bool blOutputDisplay) {
  if (!IsFinished()) {
    TALVEX_LOG_ERROR(LogCateg::Txm, "No finished TXM buffer to write to {}", path);
    return -1;
  }
  std::string error;
  if (!talvex::WriteFileAtomic(path, builder_.GetBufferPointer(), builder_.GetSize(), &error)) {
    TALVEX_LOG_ERROR(LogCateg::Txm, "Failed to write the file: {} ({})", path, error);
    return -1;
  }
  if (blOutputDisplay) std::cout << path << std::endl;
  return 0;
}
