#include "bnx/verify.h"

#include <fmt/format.h>
#include <zlib.h>

#include "bnx/container.h"
#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/bytes.h"
#include "common/file_io.h"
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

void CheckLegacy(const uint8_t* fw, size_t fw_size, const uint8_t* all, size_t all_size, uint32_t major,
                 Checks& c) {
  FWInfoTable table;
  std::string error;
  if (!DecodeFWInfo(fw, fw_size, table, &error)) {
    c.Fail("fw_info.bin", "a readable model table", error);
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
  c.Crc("fw_info.bin crc of all_models.bin", crc32(all, all_size), talvex::LoadLE32(fw + section));
  uint64_t offset = 0;
  for (size_t i = 0; i < n; ++i) {
    const BNX_FW_INFO_MODEL& r = table.records[i];
    const std::string model = fmt::format("model #{}", i + 1);
    const uint64_t block = ModelBlockSize(r, i + 1 == n);
    if (offset + block > all_size) {
      c.Fail(model + " bounds", fmt::format("bytes {}..{} inside all_models.bin", offset, offset + block),
             fmt::format("all_models.bin has {} bytes", all_size));
      offset += block;
      continue;
    }
    c.Pass(model + " bounds");
    c.Crc(model + " crc", crc32(all + offset, static_cast<size_t>(block)),
          talvex::LoadLE32(fw + section + 4 + 4 * i));
    // Readers take the setup form from the schema major: 0 raw, anything else a flatbuffer.
    const uint8_t* setup = all + offset + Pad16(r.size_cmd) + Pad16(r.size_wt);
    const bool raw = major == 0;
    const bool form_ok = raw ? Setup::IsRawSetup(setup, r.size_fw) : Setup::IsFBSetup(setup, r.size_fw);
    if (form_ok) {
      c.Pass(model + " setup");
    } else {
      c.Fail(model + " setup", raw ? "a raw setup.bin" : "a flatbuffer setup.bin",
             fmt::format("{} bytes in neither that form", r.size_fw));
    }
    offset += block;
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

// CRC of n bytes of the mapped file at p, read through the file where it is open: walking a
// large mapping page by page costs several times more than the kernel's copy out of its cache.
uint32_t FileCrc(const talvex::FileBuffer& fb, const uint8_t* p, size_t n) {
  uint32_t crc = 0;
  if (fb.fd() >= 0 && Crc32FileRange(fb.fd(), static_cast<uint64_t>(p - fb.data()), n, &crc)) return crc;
  return crc32(p, n);
}

}  // namespace

std::vector<VerifyCheck> VerifyContainer(const std::string& path) {
  Checks c;
  talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  if (!fb.ok()) {
    c.Fail("file", "a readable file", talvex::ReadStatusText(fb.status()));
    return c.Take();
  }
  const uint8_t* data = fb.data();
  const size_t size = fb.size();
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
  const uint32_t payload_crc = all != nullptr ? FileCrc(fb, all, all_size) : 0;
  uint32_t file_crc = 0;
  if (all != nullptr && all + all_size <= data + size - 4) {
    const size_t before = static_cast<size_t>(all - data);
    file_crc = static_cast<uint32_t>(crc32_combine(Crc32Update(0, data, before), payload_crc, all_size));
    file_crc = Crc32Update(file_crc, all + all_size, size - 4 - before - all_size);
  } else {
    file_crc = FileCrc(fb, data, size - 4);
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
    CheckLegacy(fw == nullptr ? nullptr : fw->data(), fw == nullptr ? 0 : fw->size(), all, all_size, major, c);
  }
  return c.Take();
}

}  // namespace BNXUtils
