#include "bnx/extract.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "bnx/legacy_files.h"
#include "bnx/test_conf.h"
#include "bnx/verify.h"
#include "common/bytes.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"

namespace BNXUtils {
namespace {

constexpr const char* kFwInfoName = "fw_info.bin";
constexpr const char* kAllModelsName = "all_models.bin";


// The payload of one container, viewed in place (the container stays mapped meanwhile).
struct PayloadView {
  const uint8_t* fw_info = nullptr;
  size_t fw_info_size = 0;
  const uint8_t* all_models = nullptr;
  size_t all_models_size = 0;
  uint32_t major = 0;
  TalvexBNX::NPUTarget target = TalvexBNX::NPUTarget::TZ100;
  std::string target_str;
  // The file the views point into, so that the bytes can be copied file to file.
  const uint8_t* file_base = nullptr;
  int file_fd = -1;
};

// The bytes [data, data + size) written to out but not yet put in place (out.Commit() does
// that): copied from the container file in the kernel when they lie in it, from memory otherwise.
bool StageRange(talvex::AtomicFileWriter& out, const PayloadView& p, const uint8_t* data, size_t size) {
  if (size == 0 || data == nullptr) return out.ok();
  if (p.file_fd >= 0 && data >= p.file_base) return out.CopyFrom(p.file_fd, static_cast<uint64_t>(data - p.file_base), size);
  return out.Write(data, size);
}

// The same bytes as a new file at path.
talvex::Status ExtractRange(const std::string& path, const PayloadView& p, const uint8_t* data, size_t size) {
  talvex::AtomicFileWriter out(path);
  if (StageRange(out, p, data, size) && out.Commit()) return talvex::Status();
  return TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to write the file: {} ({})", path, out.error());
}

// The target's text; a failure naming the file for a value outside the known targets.
talvex::Status TargetText(TalvexBNX::NPUTarget target, const std::string& what, std::string& out) {
  try {
    out = GetTargetStr(target);
    return talvex::Status();
  } catch (const TalvexException& e) {
    talvex::Status st = e.status();
    return TALVEX_STATUS_LOG(st.SetCode(-1), LogCateg::Common, kError, "BNX file has an unknown target: {}", what);
  }
}

// A legacy fw_info.bin must describe all_models.bin before any per-model file is cut from it.
talvex::Status CheckLegacyPayload(const uint8_t* fw_info, size_t fw_info_size, uint64_t all_models_size,
                                  FWInfoTable& table, const std::string& what) {
  const talvex::Status decoded = DecodeFWInfo(fw_info, fw_info_size, table);
  if (!decoded.ok()) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Invalid fw_info.bin in {}: {}", what, decoded.Reason());
  }
  try {
    CheckBlocksFit(table.records, all_models_size);
  } catch (const TalvexException& e) {
    talvex::Status st = e.status();
    return TALVEX_STATUS_LOG(st.SetCode(-1), LogCateg::Common, kError, "Invalid fw_info.bin in {}: {}", what, e.what());
  }
  return talvex::Status();
}

// Where the all_models vector goes: the name comes from the prefix, the major and the target.
std::string AllModelsPath(const PayloadView& p, const std::string& prefix) {
  const std::string all_name = p.major == 2 ? "models_" + p.target_str + ".txm" : kAllModelsName;
  return GetOutputDir() + ExtractedName(prefix, all_name);
}

// Writes the payload vectors. all_ready, if given, already holds the all_models bytes (written
// to AllModelsPath) and is committed in their place.
talvex::Status WritePayload(const PayloadView& p, const std::string& prefix, ExtractedFiles* written,
                            talvex::AtomicFileWriter* all_ready = nullptr) {
  const std::string out_dir = GetOutputDir();
  // fw_info.bin describes all_models.bin: it is put in place only once that is, so that a
  // failed extraction never leaves one without the other (nor replaces an earlier one).
  std::string fw_path;
  std::unique_ptr<talvex::AtomicFileWriter> fw_out;
  if (p.fw_info_size != 0) {
    fw_path = out_dir + ExtractedName(prefix, kFwInfoName);
    fw_out = std::make_unique<talvex::AtomicFileWriter>(fw_path);
    if (!StageRange(*fw_out, p, p.fw_info, p.fw_info_size)) {
      return TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to write the file: {} ({})", fw_path, fw_out->error());
    }
  }
  const std::string path = AllModelsPath(p, prefix);
  talvex::Status st;
  if (all_ready == nullptr) {
    st = ExtractRange(path, p, p.all_models, p.all_models_size);
  } else if (!all_ready->Commit()) {
    st = TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to write the file: {} ({})", path, all_ready->error());
  }
  if (!st.ok()) return st;
  if (fw_out != nullptr) {
    if (!fw_out->Commit()) {
      return TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to write the file: {} ({})", fw_path, fw_out->error());
    }
    if (written != nullptr) written->fw_info = fw_path;
  }
  if (written != nullptr) {
    written->all_models = path;
    written->major = p.major;
    written->target = p.target_str;
  }
  return talvex::Status();
}

talvex::Status SplitChecked(const std::vector<BNX_FW_INFO_MODEL>& records, const PayloadView& p,
                            const std::string& prefix, TalvexBNX::NPUTarget target, std::vector<std::string>* setups) {
  const std::string base = prefix.empty() ? GetOutputDir() : GetOutputDir() + prefix + "_";
  talvex::Status st;
  const std::vector<ModelPieces> layout = PieceLayout(records);
  for (size_t i = 0; i < records.size(); ++i) {
    const BNX_FW_INFO_MODEL& rec = records[i];
    // A test configuration that cannot be written is reported, but the model is still cut out.
    st.Note(GenAddrConf(rec, base, target));
    const std::string stem = AbsoluteFilePath(base + "modelid_" + std::to_string(rec.model_id));
    if (setups != nullptr) setups->push_back(stem + "_setup.bin");
    const ModelPieces& pieces = layout[i];
    for (const auto& [suffix, at, size] : {std::make_tuple("_command.bin", pieces.cmd, rec.size_cmd),
                                           std::make_tuple("_weight.bin", pieces.weight, rec.size_wt),
                                           std::make_tuple("_setup.bin", pieces.setup, rec.size_fw)}) {
      const uint8_t* from = p.all_models == nullptr ? nullptr : p.all_models + at;
      talvex::Status piece = ExtractRange(stem + suffix, p, from, size);
      if (!piece.ok()) return st.Merge(std::move(piece));
    }
  }
  return st;
}

bool NamesFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string ExtractedName(const std::string& prefix, const std::string& name) {
  return prefix.empty() ? name : prefix + "_" + name;
}

std::string AbsoluteFilePath(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char buf[PATH_MAX + 1] = {};
  if (realpath(folder.c_str(), buf) == nullptr) return path;
  std::string dir(buf);
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir + name;
}

std::vector<std::string> ResolveContainerPaths(const std::vector<std::string>& pieces) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < pieces.size()) {
    std::string joined, found;
    size_t end = i;
    for (size_t j = i; j < pieces.size(); ++j) {
      joined = j == i ? pieces[i] : joined + " " + pieces[j];
      if (NamesFile(joined)) {
        found = joined;
        end = j;
      }
    }
    if (!found.empty()) {
      out.push_back(found);
      i = end + 1;
      continue;
    }
    // A blank between two paths typed twice leaves an empty piece: no container.
    if (!pieces[i].empty()) out.push_back(pieces[i]);
    ++i;
  }
  return out;
}

talvex::Status ExtractBNX(const std::string& bnx_path, const std::string& prefix, std::vector<std::string>* setups,
                          ExtractedFiles* written) {
  BnxFile bnx = BnxFile::Open(bnx_path);
  return ExtractBNX(bnx, prefix, setups, written, Damaged::kRefuse);
}

namespace {

// What extraction writes from a container, read before the CRCs are known.
struct ExtractPlan {
  PayloadView p;
  FWInfoTable table;
  bool split = false;  // a legacy payload cut along its records
  std::string payload_prefix;
};

talvex::Status PlanExtraction(const BnxFile& file, const std::string& prefix, const ExtractLayout& layout,
                              ExtractPlan& plan) {
  const std::string& bnx_path = file.path();
  const TalvexBNX::BNXHeader* header = file.header();
  if (header == nullptr) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Cannot extract {}: the BNX file has no header", bnx_path);
  }
  if (!file.has_major()) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Cannot extract {}: the BNX file has no schema version", bnx_path);
  }
  const TalvexBNX::ModelBin* bin = file.root()->model_bin();
  if (bin == nullptr) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Cannot extract {}: the BNX file has no payload (model_bin)",
                               bnx_path);
  }
  PayloadView& p = plan.p;
  p.file_base = file.data();
  p.file_fd = file.fd();
  p.major = file.major();
  p.target = header->target();
  talvex::Status st = TargetText(p.target, bnx_path, p.target_str);
  if (!st.ok()) return st;
  if (bin->fw_info() != nullptr) {
    p.fw_info = bin->fw_info()->data();
    p.fw_info_size = bin->fw_info()->size();
  }
  if (bin->all_models() != nullptr) {
    p.all_models = bin->all_models()->data();
    p.all_models_size = bin->all_models()->size();
  }
  // Only the legacy layout is split per model, and only along records that fit.
  plan.split = p.major != 2 && p.fw_info_size != 0;
  plan.payload_prefix = layout.plain_legacy_names && p.major != 2 ? "" : prefix;
  if (!plan.split) return {};
  return CheckLegacyPayload(p.fw_info, p.fw_info_size, p.all_models_size, plan.table, bnx_path);
}

// The payload is read once, through the file (faulting in every page of the mapping costs more
// than the CRC itself): the payload file is written in the same pass, each piece added to the
// CRCs of its model's block while still in cache, and the rest of the body's CRCs taken around
// it. The checks then take those CRCs instead of reading the bytes again. Null (and known left
// empty) when the pass failed: the checks meet the failure again and report it.
std::unique_ptr<talvex::AtomicFileWriter> CopyPayloadWithCrcs(const ExtractPlan& plan, size_t body, RangeCrcs& known) {
  const PayloadView& p = plan.p;
  const uint64_t at = static_cast<uint64_t>(p.all_models - p.file_base);
  const uint64_t len = p.all_models_size;
  std::vector<uint64_t> cuts;
  for (const ModelPieces& pieces : plan.split ? PieceLayout(plan.table.records) : std::vector<ModelPieces>()) {
    if (pieces.cmd >= len) break;
    cuts.push_back(at + pieces.cmd);
  }
  cuts.push_back(at + len);
  auto all_out = std::make_unique<talvex::AtomicFileWriter>(AllModelsPath(p, plan.payload_prefix));
  uint32_t head = 0, tail = 0;
  known.BeginPieces(at, std::move(cuts));
  const auto feed = [&known](const uint8_t* d, size_t n) { known.Feed(d, n); };
  const bool done = Crc32FileRange(p.file_fd, 0, at, &head) && all_out->CopyFrom(p.file_fd, at, len, feed) &&
                    Crc32FileRange(p.file_fd, at + len, body - at - len, &tail);
  known.Finish();
  known.Record(0, at, head);
  known.Record(at + len, body - at - len, tail);
  if (done) return all_out;
  known = RangeCrcs();
  return nullptr;
}

}  // namespace

talvex::Status ExtractBNX(BnxFile& file, const std::string& prefix, std::vector<std::string>* setups,
                          ExtractedFiles* written, Damaged damaged, const ExtractLayout& layout) {
  if (written != nullptr) *written = ExtractedFiles();
  const std::string& bnx_path = file.path();
  if (!file.exists()) return TALVEX_STATUS_ERROR(LogCateg::Common, "BNX file not exist: {}", bnx_path);
  // Mapped, verified and read in place: the payload is copied once, into the files written.
  if (!file.ok()) {
    talvex::Status st = file.TakeOpenStatus();
    return TALVEX_STATUS_LOG(st, LogCateg::Common, kError, "Cannot extract {}: not a valid BNX file", bnx_path);
  }
  // A damaged container is refused before any file is written from it.
  if (file.size() < CRC_TRAILER_BYTES) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Cannot extract {}: the BNX file has no CRC trailer", bnx_path);
  }
  // What to write is checked before the CRCs; a failure is reported after theirs.
  ExtractPlan plan;
  talvex::Status meta = PlanExtraction(file, prefix, layout, plan);
  RangeCrcs known;
  std::unique_ptr<talvex::AtomicFileWriter> all_out;
  if (meta.ok() && plan.p.file_fd >= 0 && plan.p.all_models_size != 0) {
    all_out = CopyPayloadWithCrcs(plan, file.size() - CRC_TRAILER_BYTES, known);
  }
  talvex::Status st = CheckForUse(file, damaged, &known);
  if (!st.ok()) return st.Note(std::move(meta));
  if (!meta.ok()) return st.Merge(std::move(meta));
  // The payload file is kept only now that the checks hold; otherwise nothing at all is written.
  st.Merge(WritePayload(plan.p, plan.payload_prefix, written, all_out.get()));
  if (!st.ok() || !plan.split || !layout.pieces) return st;
  return st.Merge(SplitChecked(plan.table.records, plan.p, prefix, plan.p.target, setups));
}

}  // namespace BNXUtils
