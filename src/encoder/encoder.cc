#include "encoder/encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/file_io.h"
#include "common/logger.h"
#include "common/strings.h"

namespace EncoderDetail {
namespace {

constexpr size_t KEY_TABLE_BYTES = KEY_TABLE_WORDS * 4;

uint32_t Rotr(uint32_t v, unsigned n) { return n == 0 ? v : (v >> n) | (v << (32 - n)); }
uint32_t Bit(uint32_t v, unsigned i) { return (v >> i) & 1u; }

// Logs the condition at critical level and stops the operation.
[[noreturn]] void Fail(const std::string& prefix, const std::string& text) {
  SpdLog(LogCateg::Common, kCritical, prefix + text);
  throw std::runtime_error(text);
}

}  // namespace

uint32_t KeyWord(uint32_t k) {
  return ((k >> 16) & 0x3Fu) | ((k & 0x1FFFu) << 6) | (((k >> 22) & 0x3FFu) << 19) | (((k >> 13) & 0x7u) << 29);
}

uint32_t SpreadKeyWord(uint32_t w) {
  // Source bit of w for each bit of u, from bit 0 up.
  static const unsigned kFrom[32] = {30, 28, 26, 31, 29, 27, 25, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                     11, 9,  7,  5,  3,  1,  12, 13, 14, 15, 10, 8,  6,  4,  2,  0};
  uint32_t u = 0;
  for (unsigned i = 0; i < 32; ++i) u |= Bit(w, kFrom[i]) << i;
  return u;
}

uint32_t encode(uint32_t value, const uint32_t* table) {
  uint32_t out = 0;
  for (unsigned i = 0; i < 32; ++i) {
    const uint32_t idx = Rotr(value, i) & 0x3FFFu;
    out |= Bit(table[idx >> 6], (idx >> 1) & 31u) << i;
  }
  return out;
}

void ReadKeyTable(const std::string& path, uint32_t* data) {
  const std::string unreadable = "Failed to read key [" + path + "]";
  // Non-blocking, so that a FIFO without a writer is refused below rather than waited on.
  const talvex::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) throw std::runtime_error(unreadable);
  if (!S_ISREG(st.st_mode)) {
    const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISDIR(st.st_mode) ? "a directory"
                       : S_ISCHR(st.st_mode) ? "a character device"
                       : S_ISBLK(st.st_mode) ? "a block device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "of unknown type";
    throw std::runtime_error(fmt::format("Key file [{}] is {}, not a regular file", path, kind));
  }
  uint8_t bytes[KEY_TABLE_BYTES] = {};
  size_t got = 0;
  while (got < sizeof(bytes)) {
    const ssize_t n = ::read(fd.get(), bytes + got, sizeof(bytes) - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error(unreadable);
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == 0) throw std::runtime_error(fmt::format("Key file [{}] is empty: no key can be derived from it", path));
  if (std::all_of(bytes, bytes + got, [](uint8_t b) { return b == 0; })) {
    throw std::runtime_error(fmt::format(
        "Key file [{}] has only zero bytes in its key table (first {} bytes): no key can be derived from it", path,
        KEY_TABLE_BYTES));
  }
  if (got < KEY_TABLE_BYTES) {
    TALVEX_LOG(LogCateg::Common, kWarn, "encryption_file is too short, better use file larger than {} bytes",
               KEY_TABLE_BYTES);
  }
  // Words beyond the file keep the caller's zeros; a partial last word fills its low bytes.
  std::memcpy(data, bytes, got);
}

uint32_t GenEncKey(uint32_t orig_key, uint32_t efuse_key, const KeyFile* key_file) {
  TALVEX_LOG_KEY(LogCateg::Common, "(0x{:04x}, 0x{:04x}, {})", orig_key, efuse_key,
                 key_file != nullptr ? key_file->path : std::string());
  if (key_file != nullptr) {
    const uint32_t value = (efuse_key << 16) | (orig_key & 0xFFFFu);
    TALVEX_LOG_KEY(LogCateg::Common, "Temp enc key: [0x{:08X}]", value);
    return encode(value, key_file->table.data());
  }
  if (orig_key != 0) Fail(talvex::FailPrefix(__FILE__, __LINE__, __func__), "orig_key == 0");
  const uint32_t base = kTalvexKey & 0xFFFFu;
  uint32_t spread = 0;
  for (unsigned i = 0; i < 16; ++i) spread |= Bit(base, i) << (2 * i);
  return efuse_key ^ spread;
}

}  // namespace EncoderDetail

namespace {

// Whole little-endian words in 16-byte blocks, so the compiler can vectorise the loops.
void XorPattern(uint8_t* buf, size_t length, const uint32_t (&pattern)[4]) {
  size_t i = 0;
  for (; i + 16 <= length; i += 16) {
    uint32_t v[4];
    std::memcpy(v, buf + i, 16);
    for (int j = 0; j < 4; ++j) v[j] ^= pattern[j];
    std::memcpy(buf + i, v, 16);
  }
  for (int j = 0; i + 4 <= length; i += 4, ++j) {
    uint32_t v;
    std::memcpy(&v, buf + i, 4);
    v ^= pattern[j];
    std::memcpy(buf + i, &v, 4);
  }
}

void Garble32(uint8_t* buf, size_t length, uint32_t key) {
  const uint32_t w = EncoderDetail::KeyWord(key);
  const uint32_t pattern[4] = {w, w, w, w};
  XorPattern(buf, length, pattern);
}

void Garble128(uint8_t* buf, size_t length, uint32_t key) {
  const uint32_t w = EncoderDetail::KeyWord(key);
  const uint32_t u = EncoderDetail::SpreadKeyWord(w);
  const uint32_t pattern[4] = {(u >> 2) | (u << 30), (u >> 15) | (u << 17), u, w};
  XorPattern(buf, length, pattern);
}

}  // namespace

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "payload words are little-endian");

namespace {

void LogKey(uint32_t key) {
  SpdLogKey(LogCateg::Common,
            talvex::FailPrefix(__FILE__, __LINE__, "Encoder") + fmt::format("Encryption Key: [0x{:08X}]", key));
}

}  // namespace

Encoder::Encoder(uint32_t orig_key, uint32_t efuse_key, const KeyFile* key_file)
    : key_(EncoderDetail::GenEncKey(orig_key, efuse_key, key_file)) {
  LogKey(key_);
}

KeyFile Encoder::LoadKeyFile(const std::string& path) {
  KeyFile file;
  file.path = path;
  EncoderDetail::ReadKeyTable(path, file.table.data());
  return file;
}

void Encoder::Encode(char* data, size_t size, size_t garble_unit) const {
  const std::string prefix = talvex::FailPrefix(__FILE__, __LINE__, "Encode");
  auto* bytes = reinterpret_cast<uint8_t*>(data);
  if (garble_unit == 4) {
    if (size % 4 != 0) EncoderDetail::Fail(prefix, "length % 4 == 0");
    Garble32(bytes, size, key_);
  } else if (garble_unit == 16) {
    if (size % 16 != 0) EncoderDetail::Fail(prefix, "length % 16 == 0");
    Garble128(bytes, size, key_);
  } else {
    EncoderDetail::Fail(prefix, fmt::format("Invalid garble unit [{}]", garble_unit));
  }
}

std::vector<uint32_t> Encoder::GenDecryptKeyData(uint32_t orig_key, const KeyFile& key_file) {
  std::srand(EncoderDetail::RANDOM_SEED);
  std::vector<uint32_t> out;
  out.reserve(8 + EncoderDetail::KEY_TABLE_WORDS);
  const uint32_t key16 = orig_key & 0xFFFFu;
  for (unsigned j = 0; j < 8; ++j) {
    uint32_t r = static_cast<uint32_t>(std::rand());
    r &= ~(3u << (4 * j));
    r |= ((key16 >> (2 * j)) & 3u) << (4 * j);
    out.push_back(r);
  }
  out.insert(out.end(), key_file.table.begin(), key_file.table.end());
  return out;
}
