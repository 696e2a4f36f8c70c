#include "bnx/crc32.h"

#include <isa-l/crc.h>

namespace BNXUtils {

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0) return crc;
  // crc32_gzip_refl takes and returns the finished (complemented) value, exactly as zlib's crc32.
  return crc32_gzip_refl(crc, data, static_cast<uint64_t>(size));
}

}  // namespace BNXUtils
