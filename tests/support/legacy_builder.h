#pragma once
// Builds legacy fw_info.bin / all_models.bin pairs from their byte layout, for tests.
// Independent of src/bnx: words are written by hand, CRCs come straight from zlib.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct LegacyModel {
  uint32_t id = 0;
  uint32_t version = 0;
  uint32_t addr_in = 0, size_in = 0;
  uint32_t addr_out = 0, size_out = 0;
  uint32_t addr_wbuf = 0, size_wbuf = 0;
  uint32_t addr_cmd = 0;
  uint32_t addr_wt = 0;
  uint32_t addr_fw = 0;
  std::vector<uint8_t> cmd;
  std::vector<uint8_t> weight;
  std::vector<uint8_t> setup;
};

struct LegacyPair {
  std::vector<uint8_t> fw_info;     // 56n + 12 bytes, or 60n + 20 with the CRC section
  std::vector<uint8_t> all_models;  // blocks back to back, pieces padded to 16 (not the last setup)
  uint32_t all_models_crc = 0;
  std::vector<uint32_t> block_crcs;
};

uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t offset = 0, size_t len = SIZE_MAX);
void AppendLE32(std::vector<uint8_t>& out, uint32_t v);
void PutLE32(std::vector<uint8_t>& out, size_t at, uint32_t v);
std::vector<uint8_t> LE32Words(const std::vector<uint32_t>& words);

// A TZ100 command word: opcode and register index in the head, value in the low half; CONF (opcode
// 8) writes a 16-bit value into a register.
constexpr uint32_t Tz100Insn(uint32_t opcode, uint32_t reg, uint32_t value) {
  return (opcode << 28) | (reg << 16) | (value & 0xffff);
}
constexpr uint32_t Tz100Conf(uint32_t reg, uint32_t value) { return Tz100Insn(8, reg, value); }

// The raw setup of SampleLegacyModels(kRaw): the magic word, then five words.
std::vector<uint8_t> RawSetupPlaceholder();

// Models with command/weight/setup pieces of these sizes, filled with a per-model pattern,
// with plausible ascending device addresses (command of model 0 at 0x60100000).
LegacyModel MakeLegacyModel(uint32_t id, uint32_t version, size_t cmd_bytes, size_t weight_bytes,
                            std::vector<uint8_t> setup);

// pad_byte fills the 16-byte padding in all_models.bin.
LegacyPair BuildLegacyPair(const std::vector<LegacyModel>& models, bool with_crc, uint8_t pad_byte = 0);

enum class LegacySetupForm { kRaw, kFlatbuffer };
// Two models whose setups all have the given form (TZ100: raw; TZ300/TZ500: flatbuffer;
// TZ200: either): placeholders, a raw magic word then a few words, or a minimal flatbuffer
// INFContent that the setup verifier accepts.
std::vector<LegacyModel> SampleLegacyModels(LegacySetupForm form);

void WriteLegacyPair(const LegacyPair& pair, const std::string& fw_info_path, const std::string& all_models_path);

}  // namespace testsupport
