#include "bnx/container.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <climits>
#include <cstdlib>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/crc32.h"
#include "setup/setup_recognise.h"
#include "common/fb_unpack.h"
#include "common/bytes.h"
#include "common/format_ids.h"
#include "common/exceptions.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "txm/txm_verify.h"

namespace BNXUtils {
namespace {

constexpr const char* kNotValid = "Not a valid BNX file.";

// A short read: the file, then the fixed text (which alone does not say which input failed).
talvex::Status ShortRead(const std::string& path) {
  talvex::Status st = TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to read the file: {}", path);
  return TALVEX_STATUS_LOG(st, LogCateg::Common, kError, "Buffer and file size should be the same.");
}

}  // namespace

talvex::Status LoadVerified(const std::string& path, bool (*verify)(const uint8_t*, size_t), LogCateg categ,
                            const char* not_valid, talvex::FileBuffer& out) {
  talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  if (fb.status() == talvex::ReadStatus::kMissing || fb.status() == talvex::ReadStatus::kEmpty) {
    return talvex::Status(-1);
  }
  if (!fb.ok()) {
    return TALVEX_STATUS_ERROR(categ, "Failed to read the file: {} ({})", path, talvex::ReadStatusText(fb.status()));
  }
  if (!verify(fb.data(), fb.size())) {
    // The line of its own keeps the message the same for every file and still names this one.
    return TALVEX_STATUS_ERROR(categ, "{}", not_valid).Err("Refused: " + path);
  }
  out = std::move(fb);
  return talvex::Status();
}

uint32_t crc32(const uint8_t* data, size_t size) { return Crc32Update(0, data, size); }

talvex::Status ComputeFileCRC(const std::string& path, uint32_t* crc) {
  *crc = 0;
  // Streamed through a cache-sized buffer: faster than mapping, and any size works.
  const talvex::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ENOENT) return talvex::Status(-1);
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Failed to read the file: {}", path);
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) return ShortRead(path);
  std::vector<uint8_t> chunk(256 * 1024);
  uint32_t value = 0;
  uint64_t total = 0;
  for (;;) {
    ssize_t n = read(fd.get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ShortRead(path);
    if (n == 0) break;
    value = Crc32Update(value, chunk.data(), static_cast<size_t>(n));
    total += static_cast<uint64_t>(n);
  }
  if (S_ISREG(st.st_mode) && total != static_cast<uint64_t>(st.st_size)) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "Buffer and file size should be the same.");
  }
  *crc = value;
  return talvex::Status();
}

talvex::Status CheckBNXAlignment(const uint8_t* buf, size_t size) {
  if (!VerifyBNXBuffer(buf, size)) return TALVEX_STATUS_ERROR(LogCateg::Common, "{}", kNotValid);
  auto* bnx = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf);
  if (bnx->model_bin() == nullptr || bnx->model_bin()->all_models() == nullptr) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "BNX file has no all_models payload");
  }
  const size_t offset = static_cast<size_t>(bnx->model_bin()->all_models()->data() - buf);
  if (offset % ALL_MODELS_ALIGN != 0) {
    return TALVEX_STATUS_ERROR(LogCateg::Common, "all_models[{}] not align {} in bnx", offset, ALL_MODELS_ALIGN);
  }
  return talvex::Status();
}

TalvexBNX::NPUTarget GetTargetEnum(const std::string& target) {
  const int index = talvex::TargetIndex(target);
  if (index >= 0) return static_cast<TalvexBNX::NPUTarget>(index);
  throw TalvexException(ErrorCode::UnexpectedValue, fmt::format("Undefine Target! [{}]", target));
}

uint32_t SchemaMajorFor(TalvexBNX::NPUTarget target, const uint8_t* first_setup, size_t size) {
  if (IsTxmTarget(target)) return 2;
  if (target == TalvexBNX::NPUTarget::TZ100) return 0;
  if (target == TalvexBNX::NPUTarget::TZ200) return Setup::IsFBSetup(first_setup, size) ? 1 : 0;
  return 1;
}

bool IsTxmTarget(TalvexBNX::NPUTarget target) {
  return target == TalvexBNX::NPUTarget::TZ400 || target == TalvexBNX::NPUTarget::TZ600;
}

std::string GetTargetStr(TalvexBNX::NPUTarget target) {
  const int index = static_cast<int>(target);
  if (index < 0 || index >= talvex::kTargetCount) {
    throw TalvexException(ErrorCode::UnexpectedValue, fmt::format("Undefine target [{}]", index));
  }
  return talvex::kTargetTexts[index];
}

std::string GetEncModeStr(TalvexBNX::ENCMode mode) {
  switch (mode) {
    case TalvexBNX::ENCMode::EM_CUSTOM: return "CUSTOM";
    case TalvexBNX::ENCMode::EM_TVNum: return "TV_Number";
    default: return "NONE";
  }
}

std::string GetHexFromUInt(uint32_t value) { return fmt::format("0x{:X}", value); }

std::string GetSchemaVersionStr(const TalvexBNX::SchemaVersion* v) {
  if (v == nullptr) return "";
  return fmt::format("v{}.{}.{}", v->major_num(), v->minor_num(), v->revision_num());
}

std::string GetSchemaMajorVersionStr(const TalvexBNX::SchemaVersion* v) {
  return v == nullptr ? "" : fmt::format("{}", v->major_num());
}

bool VerifyBNXBuffer(const uint8_t* buf, size_t size) {
  return talvex::VerifyRoot<TalvexBNX::BNXContent>(buf, size);
}

talvex::Status GetTXMBuffer(const std::string& path, talvex::FileBuffer& out) {
  return LoadVerified(path, TXM::VerifyTXMBuffer, LogCateg::Common, kNotValid, out);
}

namespace {
using Header = TalvexBNX::BNXHeader;
std::string FieldText(const flatbuffers::String* s) { return s == nullptr ? std::string() : s->str(); }
}  // namespace

const std::vector<HeaderKey>& HeaderKeys() {
  using Number = std::optional<uint32_t>;
  static const std::vector<HeaderKey> keys = {
      {"platform", [](const Header& h) { return FieldText(h.platform()); }, nullptr, true},
      {"target", [](const Header& h) { return GetTargetStr(h.target()); }, nullptr, true},
      {"crc", [](const Header& h) { return GetHexFromUInt(h.crc()); }, [](const Header& h) -> Number { return h.crc(); },
       true},
      {"tv_number", [](const Header& h) { return GetHexFromUInt(h.tv_number()); },
       [](const Header& h) -> Number { return h.tv_number(); }, true},
      {"encryption_mode", [](const Header& h) { return GetEncModeStr(h.encryption_mode()); }, nullptr, true},
      {"compiler_version", [](const Header& h) { return FieldText(h.compiler_version()); }, nullptr, true},
      {"toolchain_version", [](const Header& h) { return FieldText(h.toolchain_version()); }, nullptr, true},
      {"schema_version", [](const Header& h) { return GetSchemaVersionStr(h.schema_version()); }, nullptr, true},
      {"schema_version_major", [](const Header& h) { return GetSchemaMajorVersionStr(h.schema_version()); },
       [](const Header& h) -> Number {
         return h.schema_version() != nullptr ? Number(h.schema_version()->major_num()) : std::nullopt;
       },
       false},
      {"uuid", [](const Header& h) { return GetHexFromUInt(h.uuid()); }, [](const Header& h) -> Number { return h.uuid(); },
       true},
      {"solution_id", [](const Header& h) { return FieldText(h.solution_id()); }, nullptr, true},
      {"solution_tag", [](const Header& h) { return FieldText(h.solution_tag()); }, nullptr, true},
  };
  return keys;
}

const HeaderKey* FindHeaderKey(const std::string& name) {
  for (const HeaderKey& k : HeaderKeys()) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

std::string ReadBNXKey(const TalvexBNX::BNXContent* bnx, const std::string& key) {
  const Header* h = bnx == nullptr ? nullptr : bnx->header();
  const HeaderKey* k = FindHeaderKey(key);
  return h == nullptr || k == nullptr ? "" : k->text(*h);
}

bool CheckFileExist(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string GetRealpath(const std::string& path) {
  char buf[PATH_MAX + 1] = {};
  return realpath(path.c_str(), buf) == nullptr ? path : std::string(buf);
}

std::string GetOutputFilePath(const std::string& target, std::string name) {
  if (name.empty()) return GetOutputDir() + "models_" + target + ".bnx";
  return GetOutputDir() + name + ".bnx";
}

}  // namespace BNXUtils
