#pragma once
// The legacy payload of schema major 0 and 1 containers: fw_info.bin (one 56-byte record per
// model, then the CRC section) and all_models.bin (each model's command, weight and setup
// binaries, every piece starting on a 16-byte boundary).
//
// All of these treat both files as untrusted: counts, sizes and block extents are checked
// against the real file sizes before use. Malformed or inconsistent files stop the operation
// with an InvalidProgramInput (TalvexException) that names the condition; unreadable files or
// failed writes with a TalvexException of ErrorCode::Common.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/status.h"

struct BNX_Args;

// One model as the firmware tools keep it in memory (21 words). Fields absent from
// fw_info.bin (input_num ... first_node) are filled from the setup binaries by relocation.
struct FirmInfo {
  static constexpr uint32_t ENCRYPT_WITH_EFUSE = 0xFFFF0000;

  uint32_t dram_start = 0;
  uint32_t dram_size = 0;
  uint32_t cmd_start = 0;
  uint32_t cmd_size = 0;
  uint32_t weight_start = 0;
  uint32_t weight_size = 0;
  uint32_t input_start = 0;
  uint32_t input_size = 0;
  uint32_t fw_code_start = 0;
  uint32_t fw_code_size = 0;
  uint32_t input_num = 0;
  uint32_t output_num = 0;
  uint32_t output_size = 0;
  uint32_t output_start = 0;
  uint32_t input_row = 0;
  uint32_t input_col = 0;
  uint32_t input_channel = 0;
  uint32_t input_radix = 0;
  uint32_t first_node = 0;
  uint32_t model_id = 0;
  uint32_t version = 0;
};

// The 56-byte model record of fw_info.bin, words in file order (little-endian on disk).
struct BNX_FW_INFO_MODEL {
  uint32_t model_id = 0;
  uint32_t model_ver = 0;
  uint32_t addr_in = 0;
  uint32_t size_in = 0;
  uint32_t addr_out = 0;
  uint32_t size_out = 0;
  uint32_t addr_wbuf = 0;
  uint32_t size_wbuf = 0;
  uint32_t addr_cmd = 0;
  uint32_t size_cmd = 0;
  uint32_t addr_wt = 0;
  uint32_t size_wt = 0;
  uint32_t addr_fw = 0;
  uint32_t size_fw = 0;
};
static_assert(sizeof(BNX_FW_INFO_MODEL) == 56, "fw_info.bin records are 56 bytes");

namespace BNXUtils {

constexpr size_t FW_INFO_MODEL_BYTES = sizeof(BNX_FW_INFO_MODEL);
// Every piece of all_models.bin starts on this boundary.
constexpr uint32_t ALL_MODELS_PIECE_ALIGN = 16;
// A piece's length rounded up to the next piece boundary.
inline uint64_t Pad16(uint64_t v) { return talvex::AlignUp(v, ALL_MODELS_PIECE_ALIGN); }

// fw_info.bin decoded and checked against its own size.
struct FWInfoTable {
  std::vector<BNX_FW_INFO_MODEL> records;
  uint32_t dram_addr_end = 0;
  uint32_t total_bin_size = 0;
  bool has_crc_section = false;  // the file is 60n + 20 bytes long
};

// The complete model records of fw_info.bin bytes, at most as many as the count word says: a
// count of zero or below, or one beyond the records present, yields only what is there.
std::vector<BNX_FW_INFO_MODEL> ReadFWInfoRecords(const uint8_t* data, size_t size);

// Decodes fw_info.bin bytes. The size must hold the count's records and the two trailing
// words (56n + 12 or more); a failure's reason says why.
talvex::Status DecodeFWInfo(const uint8_t* data, size_t size, FWInfoTable& table);

// As DecodeFWInfo, but the size must be exactly 56n + 12 or 60n + 20; otherwise throws
// InvalidProgramInput.
FWInfoTable DecodeFWInfoExact(const uint8_t* data, size_t size);

FirmInfo ToFirmInfo(const BNX_FW_INFO_MODEL& rec);
BNX_FW_INFO_MODEL ToFWInfoModel(const FirmInfo& info);

// Where one model's pieces lie in all_models.bin. Its block holds the command, the weight and
// the setup, each starting on a 16-byte boundary; only the last model's setup is not padded, so
// that the file ends right after it.
struct ModelPieces {
  uint64_t cmd = 0;  // where the block starts
  uint64_t weight = 0;
  uint64_t setup = 0;
  uint64_t end = 0;  // where the block ends: the next model's command
  uint64_t size() const { return end - cmd; }
};
// The pieces of the records' models from offset 0 (64-bit offsets, checked against no file).
std::vector<ModelPieces> PieceLayout(const std::vector<BNX_FW_INFO_MODEL>& records);
// PieceLayout of records whose blocks all lie within all_models_size bytes; throws
// InvalidProgramInput naming the first that does not.
std::vector<ModelPieces> CheckBlocksFit(const std::vector<BNX_FW_INFO_MODEL>& records, uint64_t all_models_size);

// CRC section of fw_info.bin for these records: CRC of all of all_models, then one CRC per
// block. Checks the blocks first (CheckBlocksFit). all_models_fd, when given, is the open file
// whose mapping all_models is: the bytes are then read from it, which costs less than
// faulting in the mapping.
std::vector<uint32_t> ComputeCRCSection(const std::vector<BNX_FW_INFO_MODEL>& records,
                                        const uint8_t* all_models, size_t all_models_size,
                                        int all_models_fd = -1);

// fw_info.bin bytes that carry their CRC section (60n + 20 bytes, n = records.size()) checked
// against the bytes it covers. Both fail naming both paths, the check, and the expected and
// found value. CheckFWInfoOwnCRC needs no all_models.bin: only the file's last word, the CRC
// of everything before it. CheckCRCSection checks that word too, then each word of the section
// against crcs (as ComputeCRCSection gives them; one line per word that differs); when all
// agree, the status notes "BNX included crc information" (debug level).
talvex::Status CheckFWInfoOwnCRC(const uint8_t* fw_info, size_t fw_info_size, const std::string& fw_info_path,
                                 const std::string& all_models_path);
talvex::Status CheckCRCSection(const uint8_t* fw_info, size_t fw_info_size,
                               const std::vector<BNX_FW_INFO_MODEL>& records, const std::vector<uint32_t>& crcs,
                               const std::string& fw_info_path, const std::string& all_models_path);

// Fails on the first model whose setup.bin is not of the form that readers of schema major
// `major` expect (0 raw, any other a flatbuffer), naming it by position (from 1) and id; with
// major_from_first the message says the major came from the first model's setup.bin. The
// records' blocks must fit in all_models (CheckBlocksFit).
talvex::Status CheckSetupForms(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                               size_t all_models_size, int major, bool major_from_first,
                               const std::string& fw_info_path, const std::string& all_models_path);

// Same, with both files already in memory (fw_info holds the file at fw_info_path as read):
// the CRCs are computed from exactly these bytes (all_models_fd as in ComputeCRCSection), and
// all_models_crc (if given) receives their CRC of all of all_models.
talvex::Status GenFWBinData(const std::string& fw_info_path, const std::string& all_models_path,
                            const uint8_t* fw_info, size_t fw_info_size, const uint8_t* all_models,
                            size_t all_models_size, std::vector<uint8_t>& out, int all_models_fd = -1,
                            std::optional<uint32_t>* all_models_crc = nullptr);

// A complete fw_info.bin (CRC section and own CRC included) for records whose CRC section is
// crcs (CRC of all of all_models.bin, then one per block); *text, if given, gets fw_info.txt.
std::vector<uint8_t> BuildFWInfo(const std::vector<BNX_FW_INFO_MODEL>& records, const std::vector<uint32_t>& crcs,
                                 std::string* text = nullptr);

// First model's setup binary within in-memory legacy files; empty when there is no model.
std::vector<uint8_t> FirstSetupBin(const std::vector<BNX_FW_INFO_MODEL>& records, const uint8_t* all_models,
                                   size_t all_models_size);

}  // namespace BNXUtils
