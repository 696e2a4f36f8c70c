#include "bnx/crc32.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <isa-l/crc.h>
#include <zlib.h>

namespace BNXUtils {

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0) return crc;
  // crc32_gzip_refl takes and returns the finished (complemented) value, exactly as zlib's crc32.
  return crc32_gzip_refl(crc, data, static_cast<uint64_t>(size));
}

bool Crc32FileRange(int fd, uint64_t offset, uint64_t len, uint32_t* crc) {
  if (len == 0) return true;
  if (fd < 0) return false;
  // Small enough to stay in the L2 cache between the read and the CRC.
  constexpr size_t kChunk = size_t{256} << 10;
  const std::unique_ptr<uint8_t[]> chunk(new uint8_t[kChunk]);
  uint32_t value = *crc;
  while (len > 0) {
    const ssize_t n = pread(fd, chunk.get(), static_cast<size_t>(std::min<uint64_t>(len, kChunk)),
                            static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    value = Crc32Update(value, chunk.get(), static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
    len -= static_cast<uint64_t>(n);
  }
  *crc = value;
  return true;
}

uint32_t Crc32Mirrored(uint32_t crc, const uint8_t* p, size_t n, int fd, uint64_t offset) {
  uint32_t from_file = crc;
  if (fd >= 0 && Crc32FileRange(fd, offset, n, &from_file)) return from_file;
  return Crc32Update(crc, p, n);
}

uint32_t Crc32Around(const uint8_t* head, size_t head_size, uint32_t payload_crc, uint64_t payload_size,
                     const uint8_t* tail, size_t tail_size) {
  uint32_t crc = Crc32Update(0, head, head_size);
  if (payload_size != 0) crc = static_cast<uint32_t>(::crc32_combine(crc, payload_crc, static_cast<z_off_t>(payload_size)));
  if (tail_size != 0) {
    crc = static_cast<uint32_t>(::crc32_combine(crc, Crc32Update(0, tail, tail_size), static_cast<z_off_t>(tail_size)));
  }
  return crc;
}

}  // namespace BNXUtils
