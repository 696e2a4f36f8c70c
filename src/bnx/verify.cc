#include "bnx/verify.h"

#include <algorithm>

#include <fmt/format.h>
#include <zlib.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/bytes.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "setup/setup_recognise.h"
#include "txm/txm_func.h"
#include "txm/txm_verify.h"

namespace BNXUtils {
namespace {

std::string Hex(uint32_t v) { return fmt::format("{:#010x}", v); }

class Checks {
 public:
  void Crc(std::string name, uint32_t expected, uint32_t found) {
    list_.push_back({std::move(name), expected == found, Hex(expected), Hex(found)});
  }
  void Pass(std::string name) { list_.push_back({std::move(name), true, "", ""}); }
  void Fail(std::string name, std::string expected, std::string found) {
    list_.push_back({std::move(name), false, std::move(expected), std::move(found)});
  }
  std::vector<VerifyCheck> Take() { return std::move(list_); }

 private:
  std::vector<VerifyCheck> list_;
};

// The text lines of a failed status, joined, for a check's "found".
std::string StatusText(const talvex::Status& st) {
  std::string s;
  for (const talvex::Message& m : st.messages()) {
    if (!s.empty()) s += "; ";
    s += m.text;
  }
  return s.empty() ? "failed" : s;
}

// Where the checks read the container's bytes: CRCs of ranges come from those a command
// recorded while it copied them, else through the open file, else through the mapping.
struct Source {
  const uint8_t* data = nullptr;
  size_t size = 0;
  int fd = -1;
  const RangeCrcs* known = nullptr;

  uint32_t Crc(const uint8_t* p, size_t n) const {
    const uint64_t offset = static_cast<uint64_t>(p - data);
    uint32_t crc = 0;
    if (known != nullptr && known->Find(offset, n, &crc)) return crc;
    return Crc32Mirrored(0, p, n, fd, offset);
  }
};

void CheckLegacy(const Source& src, const uint8_t* fw, size_t fw_size, const uint8_t* all, size_t all_size,
                 uint32_t all_crc, uint32_t major, Checks& c) {
  FWInfoTable table;
  const talvex::Status decoded = DecodeFWInfo(fw, fw_size, table);
  if (!decoded.ok()) {
    c.Fail("fw_info.bin", "a readable model table", decoded.Reason());
    return;
  }
  const size_t n = table.records.size();
  const uint64_t with_section = 60 * uint64_t{n} + 20;
  if (fw_size != with_section) {
    c.Fail("fw_info.bin crc section", fmt::format("{} bytes (with the section)", with_section),
           fmt::format("{} bytes", fw_size));
    return;
  }
  const size_t section = 12 + FW_INFO_MODEL_BYTES * n;
  c.Crc("fw_info.bin crc of all_models.bin", all_crc, talvex::LoadLE32(fw + section));
  const std::vector<ModelPieces> layout = PieceLayout(table.records);
  for (size_t i = 0; i < n; ++i) {
    const BNX_FW_INFO_MODEL& r = table.records[i];
    const ModelPieces& p = layout[i];
    const std::string model = fmt::format("model #{}", i + 1);
    if (p.end > all_size) {
      c.Fail(model + " bounds", fmt::format("bytes {}..{} inside all_models.bin", p.cmd, p.end),
             fmt::format("all_models.bin has {} bytes", all_size));
      continue;
    }
    c.Pass(model + " bounds");
    c.Crc(model + " crc", src.Crc(all + p.cmd, static_cast<size_t>(p.size())), talvex::LoadLE32(fw + section + 4 + 4 * i));
    // Readers take the setup form from the schema major: 0 raw, anything else a flatbuffer.
    const uint8_t* setup = all + p.setup;
    const bool raw = major == 0;
    const bool form_ok = raw ? Setup::IsRawSetup(setup, r.size_fw) : Setup::IsFBSetup(setup, r.size_fw);
    if (form_ok) {
      c.Pass(model + " setup");
    } else {
      c.Fail(model + " setup", raw ? "a raw setup.bin" : "a flatbuffer setup.bin",
             fmt::format("{} bytes in neither that form", r.size_fw));
    }
  }
  const size_t own = section + 4 + 4 * n;
  c.Crc("fw_info.bin trailer crc", crc32(fw, own), talvex::LoadLE32(fw + own));
}

void CheckTxm(const uint8_t* all, size_t all_size, Checks& c) {
  if (!TXM::VerifyTXMBuffer(all, all_size)) {
    c.Fail("txm", "a valid TXM file", "a payload that does not verify");
    return;
  }
  c.Pass("txm");
  const talvex::Status st = TXM::CheckAlignment(all, all_size);
  if (st.ok()) {
    c.Pass("txm alignment");
  } else {
    c.Fail("txm alignment", "64-byte aligned inputs, commands and weights", StatusText(st));
  }
}

std::vector<VerifyCheck> CheckBytes(const Source& src) {
  Checks c;
  const uint8_t* data = src.data;
  const size_t size = src.size;
  if (size <= 4) {
    c.Fail("trailer crc", "a file longer than its 4-byte trailer", fmt::format("{} bytes", size));
    return c.Take();
  }
  const bool valid = VerifyBNXBuffer(data, size);
  const auto* root = valid ? flatbuffers::GetRoot<TalvexBNX::BNXContent>(data) : nullptr;
  const TalvexBNX::ModelBin* bin = root != nullptr ? root->model_bin() : nullptr;
  const flatbuffers::Vector<uint8_t>* payload = bin != nullptr ? bin->all_models() : nullptr;
  const uint8_t* all = payload != nullptr ? payload->data() : nullptr;
  const size_t all_size = payload != nullptr ? payload->size() : 0;
  // The payload is read once: its CRC is also the middle of the whole file's.
  const uint32_t payload_crc = all != nullptr ? src.Crc(all, all_size) : 0;
  uint32_t file_crc = 0;
  if (all != nullptr && all + all_size <= data + size - 4) {
    const size_t before = static_cast<size_t>(all - data);
    const size_t after = size - 4 - before - all_size;
    file_crc = static_cast<uint32_t>(crc32_combine(src.Crc(data, before), payload_crc, all_size));
    file_crc = static_cast<uint32_t>(crc32_combine(file_crc, src.Crc(all + all_size, after), after));
  } else {
    file_crc = src.Crc(data, size - 4);
  }
  c.Crc("trailer crc", file_crc, talvex::LoadLE32(data + size - 4));
  if (!valid) {
    c.Fail("container", "a valid BNX container", "a file that does not verify");
    return c.Take();
  }
  c.Pass("container");
  const TalvexBNX::BNXHeader* header = root->header();
  if (header == nullptr || header->schema_version() == nullptr) {
    c.Fail("header", "a header with a schema version", header == nullptr ? "no header" : "no schema version");
    return c.Take();
  }
  if (all == nullptr) {
    c.Fail("payload", "all_models", "no payload");
    return c.Take();
  }
  c.Crc("header crc", payload_crc, header->crc());
  // Post-encryption recomputes crc from the new payload but keeps the uuid of the original.
  if (header->encryption_mode() == TalvexBNX::ENCMode::EM_None) c.Crc("uuid", header->crc(), header->uuid());

  const uint32_t major = header->schema_version()->major_num();
  if (major == 2) {
    CheckTxm(all, all_size, c);
  } else {
    const auto* fw = bin->fw_info();
    CheckLegacy(src, fw == nullptr ? nullptr : fw->data(), fw == nullptr ? 0 : fw->size(), all, all_size,
                payload_crc, major, c);
  }
  return c.Take();
}

size_t FailedCount(const std::vector<VerifyCheck>& checks) {
  size_t n = 0;
  for (const VerifyCheck& check : checks) n += check.ok ? 0 : 1;
  return n;
}

}  // namespace

void RangeCrcs::Record(uint64_t offset, uint64_t len, uint32_t crc) {
  if (len != 0) ranges_[offset] = {len, crc};
}

bool RangeCrcs::Find(uint64_t offset, uint64_t len, uint32_t* crc) const {
  uint32_t value = 0;
  uint64_t at = offset;
  const uint64_t end = offset + len;
  while (at < end) {
    const auto it = ranges_.find(at);
    if (it == ranges_.end() || it->second.first > end - at) return false;
    const auto [n, piece] = it->second;
    value = at == offset ? piece : static_cast<uint32_t>(crc32_combine(value, piece, static_cast<z_off_t>(n)));
    at += n;
  }
  *crc = value;
  return true;
}

void RangeCrcs::BeginPieces(uint64_t start, std::vector<uint64_t> cuts) {
  cuts_ = std::move(cuts);
  next_cut_ = 0;
  while (next_cut_ < cuts_.size() && cuts_[next_cut_] <= start) ++next_cut_;
  pos_ = range_start_ = start;
  range_crc_ = 0;
}

void RangeCrcs::Feed(const uint8_t* data, size_t n) {
  while (n > 0) {
    if (next_cut_ < cuts_.size() && pos_ == cuts_[next_cut_]) {
      Record(range_start_, pos_ - range_start_, range_crc_);
      range_start_ = pos_;
      range_crc_ = 0;
      ++next_cut_;
      continue;
    }
    const uint64_t room = next_cut_ < cuts_.size() ? cuts_[next_cut_] - pos_ : n;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(room, n));
    range_crc_ = Crc32Update(range_crc_, data, take);
    data += take;
    n -= take;
    pos_ += take;
  }
}

void RangeCrcs::Finish() {
  Record(range_start_, pos_ - range_start_, range_crc_);
  range_start_ = pos_;
  range_crc_ = 0;
  cuts_.clear();
}

std::vector<VerifyCheck> VerifyContainer(const std::string& path) {
  talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  if (!fb.ok()) {
    Checks c;
    c.Fail("file", "a readable file", talvex::ReadStatusText(fb.status()));
    return c.Take();
  }
  Source src;
  src.data = fb.data();
  src.size = fb.size();
  src.fd = fb.fd();
  return CheckBytes(src);
}

std::vector<VerifyCheck> VerifyContainer(const BnxFile& file, const RangeCrcs* known) {
  if (!file.ok()) {
    Checks c;
    c.Fail("file", "a readable, valid container", "a file that could not be opened");
    return c.Take();
  }
  Source src;
  src.data = file.data();
  src.size = file.size();
  src.fd = file.fd();
  src.known = known;
  return CheckBytes(src);
}

std::string CheckLine(const std::string& path, const VerifyCheck& check) {
  if (check.ok) return fmt::format("{}: {}: ok", path, check.name);
  if (check.expected.empty()) return fmt::format("{}: {}: FAILED: {}", path, check.name, check.found);
  return fmt::format("{}: {}: FAILED: expected {}, found {}", path, check.name, check.expected, check.found);
}

talvex::Status CheckForUse(const BnxFile& file, const std::vector<VerifyCheck>& checks, Damaged damaged) {
  const size_t failed = FailedCount(checks);
  if (failed == 0) return talvex::Status();
  const bool refuse = damaged == Damaged::kRefuse;
  talvex::Status st(refuse ? -1 : 0);
  for (const VerifyCheck& check : checks) {
    if (check.ok) continue;
    if (refuse) {
      st.Err(CheckLine(file.path(), check));
    } else {
      st.Log(LogCateg::Common, kWarn, CheckLine(file.path(), check));
    }
  }
  if (refuse) {
    return TALVEX_STATUS_LOG(st, LogCateg::Common, kError,
                             "Refusing the damaged container {}: {} of its {} integrity checks failed", file.path(),
                             failed, checks.size());
  }
  return TALVEX_STATUS_LOG(st, LogCateg::Common, kWarn, "Taking the damaged container {} apart as it is (--force)",
                           file.path());
}

talvex::Status CheckForUse(const BnxFile& file, Damaged damaged, const RangeCrcs* known) {
  return CheckForUse(file, VerifyContainer(file, known), damaged);
}

talvex::Status OpenForUse(const std::string& path, BnxFile& file) {
  talvex::Status st = BnxFile::Open(path, file);
  return st.ok() ? CheckForUse(file) : st;
}

}  // namespace BNXUtils
