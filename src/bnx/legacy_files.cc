#include "bnx/legacy_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <zlib.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "bnx/generate.h"
#include "common/bytes.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "setup/setup_recognise.h"

namespace BNXUtils {
namespace {

constexpr const char* kUndefinedSize = "Undefine file size of fw_info.bin";

using talvex::AppendLE32;
using talvex::LoadLE32;


uint64_t SizeWithoutCRC(uint64_t n) { return 56 * n + 12; }
uint64_t SizeWithCRC(uint64_t n) { return 60 * n + 20; }

std::vector<uint8_t> CRCSectionBytes(const std::vector<uint32_t>& crcs) {
  std::vector<uint8_t> out;
  for (uint32_t crc : crcs) AppendLE32(out, crc);
  return out;
}

std::string FWInfoText(const std::vector<BNX_FW_INFO_MODEL>& records, uint32_t dram_addr_end,
                       uint32_t total_bin_size, const std::vector<uint32_t>& crcs) {
  std::string txt = fmt::format("Total [{}] models:\n", records.size());
  for (const auto& r : records) {
    txt += fmt::format("    id: [{}], version: [0x{:x}]\n", r.model_id, r.model_ver);
    txt += fmt::format(
        "    size: input [0x{:x}], output [0x{:x}], buf [0x{:x}], cmd [0x{:x}], weight [0x{:x}], fw_code[0x{:x}]\n",
        r.size_in, r.size_out, r.size_wbuf, r.size_cmd, r.size_wt, r.size_fw);
    txt += fmt::format(
        "    addr: input [0x{:x}], output [0x{:x}], buf [0x{:x}], cmd [0x{:x}], weight [0x{:x}], fw_code[0x{:x}]\n",
        r.addr_in, r.addr_out, r.addr_wbuf, r.addr_cmd, r.addr_wt, r.addr_fw);
  }
  txt += fmt::format("dram_addr_end [0x{:x}], total bin size:[0x{:x}]\n", dram_addr_end, total_bin_size);
  txt += fmt::format("checksum: all_models.bin [0x{:x}]\n", crcs.empty() ? 0u : crcs[0]);
  for (size_t i = 1; i < crcs.size(); ++i) txt += fmt::format("    {} [0x{:x}], ", i - 1, crcs[i]);
  return txt;
}

}  // namespace

std::vector<BNX_FW_INFO_MODEL> ReadFWInfoRecords(const uint8_t* data, size_t size) {
  std::vector<BNX_FW_INFO_MODEL> records;
  if (data == nullptr || size < 4) return records;
  const int32_t count = static_cast<int32_t>(LoadLE32(data));
  if (count <= 0) return records;
  const size_t n = std::min(static_cast<size_t>(count), (size - 4) / FW_INFO_MODEL_BYTES);
  records.resize(n);
  const uint8_t* p = data + 4;
  for (auto& r : records) {
    uint32_t w[14];
    for (int i = 0; i < 14; ++i) w[i] = LoadLE32(p + 4 * i);
    r = BNX_FW_INFO_MODEL{w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13]};
    p += FW_INFO_MODEL_BYTES;
  }
  return records;
}

talvex::Status DecodeFWInfo(const uint8_t* data, size_t size, FWInfoTable& table) {
  auto fail = [](const std::string& why) { return talvex::Status::Error(why); };
  if (data == nullptr || size < 4) return fail(fmt::format("fw_info.bin is too short: {} bytes", size));
  const uint64_t n = LoadLE32(data);
  // Checked before the count sizes anything.
  if (size < SizeWithoutCRC(n)) {
    return fail(fmt::format("fw_info.bin lists {} models but its {} bytes hold at most {}", n, size,
                            size < 12 ? 0 : (size - 12) / FW_INFO_MODEL_BYTES));
  }
  FWInfoTable out;
  out.records = ReadFWInfoRecords(data, size);
  const uint8_t* p = data + 4 + n * FW_INFO_MODEL_BYTES;
  out.dram_addr_end = LoadLE32(p);
  out.total_bin_size = LoadLE32(p + 4);
  out.has_crc_section = size == SizeWithCRC(n);
  table = std::move(out);
  return {};
}

FWInfoTable DecodeFWInfoExact(const uint8_t* data, size_t size) {
  // Only the two sizes a fw_info.bin can have (56n + 12, 60n + 20) are accepted; a count
  // that does not match is refused before it sizes anything.
  if (data == nullptr || size < 4) throw InvalidProgramInput(kUndefinedSize);
  const uint64_t n = LoadLE32(data);
  if (size != SizeWithoutCRC(n) && size != SizeWithCRC(n)) throw InvalidProgramInput(kUndefinedSize);
  FWInfoTable table;
  const talvex::Status decoded = DecodeFWInfo(data, size, table);
  if (!decoded.ok()) throw InvalidProgramInput(decoded.Reason());
  return table;
}

FirmInfo ToFirmInfo(const BNX_FW_INFO_MODEL& rec) {
  FirmInfo f;
  f.model_id = rec.model_id;
  f.version = rec.model_ver;
  f.input_start = rec.addr_in;
  f.input_size = rec.size_in;
  f.output_start = rec.addr_out;
  f.output_size = rec.size_out;
  f.dram_start = rec.addr_wbuf;
  f.dram_size = rec.size_wbuf;
  f.cmd_start = rec.addr_cmd;
  f.cmd_size = rec.size_cmd;
  f.weight_start = rec.addr_wt;
  f.weight_size = rec.size_wt;
  f.fw_code_start = rec.addr_fw;
  f.fw_code_size = rec.size_fw;
  return f;
}

BNX_FW_INFO_MODEL ToFWInfoModel(const FirmInfo& f) {
  return BNX_FW_INFO_MODEL{f.model_id,     f.version,     f.input_start,  f.input_size, f.output_start,
                           f.output_size,  f.dram_start,  f.dram_size,    f.cmd_start,  f.cmd_size,
                           f.weight_start, f.weight_size, f.fw_code_start, f.fw_code_size};
}

std::vector<ModelPieces> PieceLayout(const std::vector<BNX_FW_INFO_MODEL>& records) {
  std::vector<ModelPieces> layout(records.size());
  uint64_t at = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const BNX_FW_INFO_MODEL& r = records[i];
    ModelPieces& p = layout[i];
    p.cmd = at;
    p.weight = p.cmd + Pad16(r.size_cmd);
    p.setup = p.weight + Pad16(r.size_wt);
    p.end = at = p.setup + (i + 1 == records.size() ? uint64_t{r.size_fw} : Pad16(r.size_fw));
  }
  return layout;
}

std::vector<ModelPieces> CheckBlocksFit(const std::vector<BNX_FW_INFO_MODEL>& records, uint64_t all_models_size) {
  std::vector<ModelPieces> layout = PieceLayout(records);
  for (size_t i = 0; i < layout.size(); ++i) {
    if (layout[i].end > all_models_size) {
      throw InvalidProgramInput(fmt::format(
          "fw_info.bin lists more model data than all_models.bin holds: model #{} (id {}) needs bytes {}..{}, "
          "all_models.bin has {} bytes",
          i, records[i].model_id, layout[i].cmd, layout[i].end, all_models_size));
    }
  }
  return layout;
}

std::vector<uint32_t> ComputeCRCSection(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                                        size_t all_models_size, int all_models_fd) {
  const std::vector<ModelPieces> layout = CheckBlocksFit(records, all_models_size);
  // One pass: the whole file's CRC is put together from the models' blocks, which follow each
  // other from its start, and whatever follows the last one.
  std::vector<uint32_t> crcs(1, 0);
  crcs.reserve(records.size() + 1);
  const auto crc_of = [&](uint64_t at, uint64_t len) {
    return Crc32Mirrored(0, all_models + at, static_cast<size_t>(len), all_models_fd, at);
  };
  uint32_t whole = 0;
  for (const ModelPieces& p : layout) {
    crcs.push_back(crc_of(p.cmd, p.size()));
    whole = static_cast<uint32_t>(::crc32_combine(whole, crcs.back(), static_cast<z_off_t>(p.size())));
  }
  const uint64_t offset = layout.empty() ? 0 : layout.back().end;
  const uint64_t rest = all_models_size - offset;
  if (rest != 0) whole = static_cast<uint32_t>(::crc32_combine(whole, crc_of(offset, rest), static_cast<z_off_t>(rest)));
  crcs[0] = whole;
  return crcs;
}

talvex::Status CheckFWInfoOwnCRC(const uint8_t* fw_info, size_t fw_info_size, const std::string& fw_info_path,
                                 const std::string& all_models_path) {
  if (fw_info == nullptr || fw_info_size < 4) {
    return TALVEX_STATUS_ERROR(LogCateg::Common,
                               "fw_info.bin has no CRC section: {} bytes (fw_info: {}, all_models: {})", fw_info_size,
                               fw_info_path, all_models_path);
  }
  const size_t own = fw_info_size - 4;
  const uint32_t expected = crc32(fw_info, own);
  const uint32_t found = LoadLE32(fw_info + own);
  if (expected == found) return talvex::Status();
  return TALVEX_STATUS_ERROR(LogCateg::Common,
                             "fw_info.bin CRC section is damaged: own crc of fw_info.bin expected {:#010x}, found "
                             "{:#010x} (fw_info: {}, all_models: {})",
                             expected, found, fw_info_path, all_models_path);
}

talvex::Status CheckCRCSection(const uint8_t* fw_info, size_t fw_info_size,
                               const std::vector<BNX_FW_INFO_MODEL>& records, const std::vector<uint32_t>& crcs,
                               const std::string& fw_info_path, const std::string& all_models_path) {
  const size_t n = records.size();
  if (fw_info == nullptr || fw_info_size != SizeWithCRC(n) || crcs.size() != n + 1) {
    return TALVEX_STATUS_ERROR(LogCateg::Common,
                               "fw_info.bin has no CRC section for its {} models: {} bytes, {} crcs to compare "
                               "(fw_info: {}, all_models: {})",
                               n, fw_info_size, crcs.size(), fw_info_path, all_models_path);
  }
  talvex::Status own = CheckFWInfoOwnCRC(fw_info, fw_info_size, fw_info_path, all_models_path);
  if (!own.ok()) return own;
  // Every word that differs gets its line: the blocks that do tell which models were edited.
  talvex::Status st;
  const uint8_t* section = fw_info + SizeWithoutCRC(n);
  for (size_t k = 0; k <= n; ++k) {
    const uint32_t found = LoadLE32(section + 4 * k);
    if (found == crcs[k]) continue;
    const std::string check = k == 0 ? std::string("crc of all_models.bin")
                                     : fmt::format("crc of the block of model #{} (id {})", k, records[k - 1].model_id);
    TALVEX_STATUS_LOG(st.SetCode(-1), LogCateg::Common, kError,
                      "fw_info.bin CRC section does not match all_models.bin: {} expected {:#010x}, found {:#010x} "
                      "(fw_info: {}, all_models: {})",
                      check, crcs[k], found, fw_info_path, all_models_path);
  }
  if (!st.ok()) return st;
  return TALVEX_STATUS_LOG(st, LogCateg::Common, kDebug, "BNX included crc information");
}

talvex::Status CheckSetupForms(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                               size_t all_models_size, int major, bool major_from_first,
                               const std::string& fw_info_path, const std::string& all_models_path) {
  const bool raw = major == 0;
  const std::vector<ModelPieces> layout = PieceLayout(records);
  for (size_t i = 0; i < records.size(); ++i) {
    const BNX_FW_INFO_MODEL& r = records[i];
    const uint64_t at = layout[i].setup;
    if (all_models == nullptr || layout[i].end > all_models_size) {
      return TALVEX_STATUS_ERROR(LogCateg::Common,
                                 "setup.bin of model #{} (id {}) lies beyond the {} bytes of all_models.bin "
                                 "(fw_info: {}, all_models: {})",
                                 i + 1, r.model_id, all_models_size, fw_info_path, all_models_path);
    }
    const uint8_t* setup = all_models + at;
    if (!(raw ? Setup::IsRawSetup(setup, r.size_fw) : Setup::IsFBSetup(setup, r.size_fw))) {
      return TALVEX_STATUS_ERROR(LogCateg::Common,
                                 "setup.bin of model #{} (id {}) is not a {} setup.bin, the form readers of schema "
                                 "major {} expect{}: {} bytes at offset {} of all_models.bin (fw_info: {}, "
                                 "all_models: {})",
                                 i + 1, r.model_id, raw ? "raw" : "flatbuffer", major,
                                 major_from_first ? " (the major follows the first model's setup.bin)" : "", r.size_fw,
                                 at, fw_info_path, all_models_path);
    }
  }
  return talvex::Status();
}

talvex::Status GenFWBinData(const std::string& fw_info_path, const std::string& all_models_path,
                            const uint8_t* fw_info, size_t fw_info_size, const uint8_t* all_models,
                            size_t all_models_size, std::vector<uint8_t>& out, int all_models_fd,
                            std::optional<uint32_t>* all_models_crc) {
  const FWInfoTable table = DecodeFWInfoExact(fw_info, fw_info_size);
  CheckBlocksFit(table.records, all_models_size);
  static const char* const kStale = "fw_info.bin CRC section does not match all_models.bin";
  if (table.has_crc_section) {
    // A damaged section is refused before all_models.bin is read.
    talvex::Status own = CheckFWInfoOwnCRC(fw_info, fw_info_size, fw_info_path, all_models_path);
    if (!own.ok()) throw TalvexException(ErrorCode::InvalidProgramInput, kStale, std::move(own));
  }
  const std::vector<uint32_t> crcs = ComputeCRCSection(table.records, all_models, all_models_size, all_models_fd);
  if (all_models_crc != nullptr) *all_models_crc = crcs[0];
  out.assign(fw_info, fw_info + fw_info_size);
  if (table.has_crc_section) {
    // A section written for other bytes (all_models.bin edited after extraction) would be
    // carried into a container the device refuses.
    talvex::Status st = CheckCRCSection(fw_info, fw_info_size, table.records, crcs, fw_info_path, all_models_path);
    if (!st.ok()) throw TalvexException(ErrorCode::InvalidProgramInput, kStale, std::move(st));
    return st;
  }
  // The amended bytes live in memory only: the user's fw_info.bin is an input and stays as it is.
  std::vector<uint8_t> tail = CRCSectionBytes(crcs);
  out.insert(out.end(), tail.begin(), tail.end());
  AppendLE32(out, crc32(out.data(), out.size()));
  return talvex::Status();
}

std::vector<uint8_t> FirstSetupBin(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                                   size_t all_models_size) {
  if (records.empty()) return {};
  const BNX_FW_INFO_MODEL& r = records[0];
  const uint64_t start = PieceLayout({r})[0].setup;
  if (start + r.size_fw > all_models_size) {
    throw InvalidProgramInput(fmt::format(
        "fw_info.bin lists more model data than all_models.bin holds: the first setup.bin needs bytes {}..{}, "
        "all_models.bin has {} bytes",
        start, start + r.size_fw, all_models_size));
  }
  const uint8_t* p = all_models + start;
  return std::vector<uint8_t>(p, p + r.size_fw);
}

std::vector<uint8_t> BuildFWInfo(const std::vector<BNX_FW_INFO_MODEL>& records, const std::vector<uint32_t>& crcs,
                                 std::string* text) {
  uint32_t dram_addr_end = 0;
  uint32_t first_cmd_start = 0;
  for (const auto& r : records) {
    dram_addr_end = r.addr_fw + static_cast<uint32_t>(Pad16(r.size_fw));
    if (first_cmd_start == 0) first_cmd_start = r.addr_cmd;
  }
  const uint32_t total_bin_size = records.empty() ? 0 : dram_addr_end - first_cmd_start;
  std::vector<uint8_t> bin;
  bin.reserve(SizeWithCRC(records.size()));
  AppendLE32(bin, static_cast<uint32_t>(records.size()));
  for (const auto& r : records) {
    for (uint32_t w : {r.model_id, r.model_ver, r.addr_in, r.size_in, r.addr_out, r.size_out, r.addr_wbuf,
                       r.size_wbuf, r.addr_cmd, r.size_cmd, r.addr_wt, r.size_wt, r.addr_fw, r.size_fw}) {
      AppendLE32(bin, w);
    }
  }
  AppendLE32(bin, dram_addr_end);
  AppendLE32(bin, total_bin_size);
  for (uint32_t crc : crcs) AppendLE32(bin, crc);
  AppendLE32(bin, crc32(bin.data(), bin.size()));
  if (text != nullptr) *text = FWInfoText(records, dram_addr_end, total_bin_size, crcs);
  return bin;
}

}  // namespace BNXUtils
