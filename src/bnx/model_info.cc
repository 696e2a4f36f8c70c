#include "bnx/model_info.h"

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/container.h"
#include "bnx/generate.h"
#include "common/fb_unpack.h"
#include "common/logger.h"

namespace BNXUtils {
namespace {

std::string Text(const flatbuffers::String* s) { return s == nullptr ? std::string() : s->str(); }

// Everything of an opened container but its all_models bytes, unpacked: header and model table
// to be changed, fw_info (a few bytes per model) to be kept.
talvex::Status LoadWithHeader(const BnxFile& file, TalvexBNX::BNXContentT& obj) {
  const std::string& path = file.path();
  if (!file.ok()) return TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to read BNX file: {}", path);
  // A model description shared many times would unpack into far more memory than the file holds.
  if (!talvex::UnpacksWithinBudget(file.data(), file.size(), TalvexBNX::BNXContentTypeTable())) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "BNX file would unpack into more memory than it can hold: {}", path);
  }
  const TalvexBNX::BNXContent* root = file.root();
  if (root->header() == nullptr) return TALVEX_STATUS_ERROR(LogCateg::Common, "BNX file has no header: {}", path);
  obj.magic = root->magic();
  obj.header.reset(root->header()->UnPack());
  if (const auto* infos = root->model_info()) {
    obj.model_info.resize(infos->size());
    for (flatbuffers::uoffset_t i = 0; i < infos->size(); ++i) obj.model_info[i].reset(infos->Get(i)->UnPack());
  }
  if (const TalvexBNX::ModelBin* bin = root->model_bin()) {
    obj.model_bin.reset(new TalvexBNX::ModelBinT());
    if (const auto* fw = bin->fw_info()) obj.model_bin->fw_info.assign(fw->begin(), fw->end());
  }
  return talvex::Status();
}

// Writes obj around the input's all_models bytes, copied file to file (the header's crc is
// theirs: OpenForUse checked it), so the payload never passes through memory.
void WriteAroundPayload(const BnxFile& file, const TalvexBNX::BNXContentT& obj, const std::string& output_name,
                        std::string* written_path) {
  const TalvexBNX::ModelBin* bin = file.root()->model_bin();
  const flatbuffers::Vector<uint8_t>* all = bin != nullptr ? bin->all_models() : nullptr;
  PayloadFill fill;
  if (all != nullptr) {
    fill.data = all->data();
    fill.size = all->size();
    fill.crc = obj.header->crc;
    if (file.fd() >= 0) {
      fill.file_fd = file.fd();
      fill.file_offset = static_cast<uint64_t>(all->data() - file.data());
    }
  }
  flatbuffers::FlatBufferBuilder fbb(BNXBuilderSize(fill.size + (obj.model_bin ? obj.model_bin->fw_info.size() : 0)));
  fbb.Finish(PackBNX(fbb, obj, fill.size));
  std::string path = GenBNXBinary(GetTargetStr(obj.header->target), fbb, output_name, &fill);
  if (written_path != nullptr) *written_path = path;
}

}  // namespace

std::string GetBNXModelInfo(const BnxFile& file, int idx) {
  const auto* infos = file.ok() ? file.root()->model_info() : nullptr;
  std::string out;
  if (infos == nullptr) return out;
  for (flatbuffers::uoffset_t i = 0; i < infos->size(); ++i) {
    if (idx >= 0 && static_cast<flatbuffers::uoffset_t>(idx) != i) continue;
    const auto* m = infos->Get(i);
    out += fmt::format("#{0:0>3} {{{1:>8}}} ({2:>10}) [{3}]\n", i + 1, m->id(), Text(m->version()), Text(m->name()));
  }
  return out;
}

talvex::Status ModifyModelInfo(const BnxFile& file, const std::vector<std::string>& versions,
                               const std::vector<std::string>& names, const std::string& output_name,
                               std::string* written_path) {
  TalvexBNX::BNXContentT obj;
  talvex::Status st = LoadWithHeader(file, obj);
  if (!st.ok()) return st;
  for (size_t i = 0; i < obj.model_info.size(); ++i) {
    if (!obj.model_info[i]) obj.model_info[i].reset(new TalvexBNX::ModelInfoT());
    if (i < versions.size()) obj.model_info[i]->version = versions[i];
    if (i < names.size()) obj.model_info[i]->name = names[i];
  }
  WriteAroundPayload(file, obj, output_name, written_path);
  return talvex::Status();
}

talvex::Status ModifySolutionInfo(const BnxFile& file, const std::string& solution_id,
                                  const std::string& solution_tag, const std::string& output_name,
                                  std::string* written_path) {
  if (solution_id.empty() && solution_tag.empty()) return talvex::Status(-1);
  TalvexBNX::BNXContentT obj;
  talvex::Status st = LoadWithHeader(file, obj);
  if (!st.ok()) return st;
  if (!solution_id.empty()) obj.header->solution_id = solution_id;
  if (!solution_tag.empty()) obj.header->solution_tag = solution_tag;
  WriteAroundPayload(file, obj, output_name, written_path);
  return talvex::Status();
}

}  // namespace BNXUtils
