#pragma once
// Keyed scrambling of NPU command (unit 4) and weight (unit 16) payloads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The default e-fuse key (TALVEX_KEY).
constexpr uint32_t kTalvexKey = 0x51A9;

// A customer key file, read once: its path (for messages) and the 256-word key table of its
// first 1024 bytes, little-endian words, zero beyond a shorter file.
struct KeyFile {
  std::string path;
  std::array<uint32_t, 256> table{};
};

class Encoder {
 public:
  // key_file: customer key mode; null selects efuse mode (orig_key must then be 0). Throws
  // std::runtime_error when the key cannot be derived.
  Encoder(uint32_t orig_key, uint32_t efuse_key, const KeyFile* key_file);

  // Scrambles data in place; its own inverse. Throws std::runtime_error (data unchanged)
  // for a unit other than 4 or 16 or a size that is not a multiple of the unit.
  void Encode(char* data, size_t size, size_t garble_unit) const;

  uint32_t key() const { return key_; }

  // 8 masking words carrying the 16-bit customer key, then the 256 key-table words.
  static std::vector<uint32_t> GenDecryptKeyData(uint32_t orig_key, const KeyFile& key_file);

  // Warns when the file is shorter than the table. Throws std::runtime_error naming the file
  // when it cannot be read, is not a regular file (a FIFO is refused without waiting for a
  // writer), is empty, or has only zero bytes in the key table: no key could come from it.
  static KeyFile LoadKeyFile(const std::string& path);

 private:
  uint32_t key_;
};

namespace EncoderDetail {
constexpr size_t KEY_TABLE_WORDS = 256;
constexpr unsigned RANDOM_SEED = 73421;
uint32_t KeyWord(uint32_t key);          // W(k)
uint32_t SpreadKeyWord(uint32_t w);      // u, the weight-block permutation of W
uint32_t encode(uint32_t value, const uint32_t* table);
// Fills a zeroed 256-word table as LoadKeyFile describes.
void ReadKeyTable(const std::string& path, uint32_t* data);
// key_file: customer key mode; null: efuse mode.
uint32_t GenEncKey(uint32_t orig_key, uint32_t efuse_key, const KeyFile* key_file);
}  // namespace EncoderDetail
