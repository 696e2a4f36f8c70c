#include "bnx/model_info.h"

#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/generate.h"
#include "common/logger.h"

namespace BNXUtils {
namespace {

std::string Text(const flatbuffers::String* s) { return s == nullptr ? std::string() : s->str(); }

// Repacks an unpacked container and writes it; the shared tail of both Modify operations.
void WriteRepacked(const TalvexBNX::BNXContentT& obj, const std::string& output_name, std::string* written_path) {
  flatbuffers::FlatBufferBuilder fbb(1024);
  fbb.Finish(PackBNX(fbb, obj));
  std::string path = GenBNXBinary(GetTargetStr(obj.header->target), fbb, output_name);
  if (written_path != nullptr) *written_path = path;
}

bool LoadWithHeader(const std::string& path, TalvexBNX::BNXContentT& obj) {
  if (!GetBNXObj(path, obj)) {
    TALVEX_LOG_ERROR(LogCateg::Common, "Failed to read BNX file: {}", path);
    return false;
  }
  if (!obj.header) {
    TALVEX_LOG_ERROR(LogCateg::Common, "BNX file has no header: {}", path);
    return false;
  }
  return true;
}

}  // namespace

void GetBNXModelInfo(const std::string& path, int idx) {
  talvex::FileBuffer fb = GetBNXBuffer(path);
  if (!fb.ok()) return;
  const auto* infos = flatbuffers::GetRoot<TalvexBNX::BNXContent>(fb.data())->model_info();
  if (infos == nullptr) return;
  std::string out;
  for (flatbuffers::uoffset_t i = 0; i < infos->size(); ++i) {
    if (idx >= 0 && static_cast<flatbuffers::uoffset_t>(idx) != i) continue;
    const auto* m = infos->Get(i);
    out += fmt::format("#{0:0>3} {{{1:>8}}} ({2:>10}) [{3}]\n", i + 1, m->id(), Text(m->version()), Text(m->name()));
  }
  std::cout << out;
}

void ReadBNXModelInfo(const std::string& path, int idx) { GetBNXModelInfo(path, idx); }

void ReadBNXModelInfo(const std::string& path, int idx, std::string& id, std::string& version, std::string& name) {
  // Flat access: the payload is not copied just to read one description.
  talvex::FileBuffer fb = GetBNXBuffer(path);
  if (!fb.ok() || idx < 0) return;
  const auto* infos = flatbuffers::GetRoot<TalvexBNX::BNXContent>(fb.data())->model_info();
  if (infos == nullptr || static_cast<flatbuffers::uoffset_t>(idx) >= infos->size()) return;
  const auto* m = infos->Get(static_cast<flatbuffers::uoffset_t>(idx));
  id = std::to_string(m->id());
  version = Text(m->version());
  name = Text(m->name());
}

int ModifyModelInfo(const std::string& path, const std::vector<std::string>& versions,
                    const std::vector<std::string>& names, const std::string& output_name,
                    std::string* written_path) {
  TalvexBNX::BNXContentT obj;
  if (!LoadWithHeader(path, obj)) return -1;
  for (size_t i = 0; i < obj.model_info.size(); ++i) {
    if (!obj.model_info[i]) obj.model_info[i].reset(new TalvexBNX::ModelInfoT());
    if (i < versions.size()) obj.model_info[i]->version = versions[i];
    if (i < names.size()) obj.model_info[i]->name = names[i];
  }
  WriteRepacked(obj, output_name, written_path);
  return 0;
}

int ModifySolutionInfo(const std::string& path, const std::string& solution_id, const std::string& solution_tag,
                       const std::string& output_name, std::string* written_path) {
  if (solution_id.empty() && solution_tag.empty()) return -1;
  TalvexBNX::BNXContentT obj;
  if (!LoadWithHeader(path, obj)) return -1;
  if (!solution_id.empty()) obj.header->solution_id = solution_id;
  if (!solution_tag.empty()) obj.header->solution_tag = solution_tag;
  WriteRepacked(obj, output_name, written_path);
  return 0;
}

uint32_t GetUuidInBnx(const std::string& path) {
  talvex::FileBuffer fb = GetBNXBuffer(path);
  if (!fb.ok()) return 0;
  const auto* header = flatbuffers::GetRoot<TalvexBNX::BNXContent>(fb.data())->header();
  return header == nullptr ? 0 : header->uuid();
}

}  // namespace BNXUtils
