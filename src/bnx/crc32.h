#pragma once
#include <cstddef>
#include <cstdint>

namespace BNXUtils {
// Continues a CRC-32 (ISO-HDLC, as zlib's crc32): Crc32Update(0, p, n) is the CRC of p[0..n).
// Computed by ISA-L, which picks the fastest kernel the processor supports.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size);

// Continues *crc over len bytes of the open file fd from offset on, read through a small
// cache-resident buffer. Reading a large range this way costs a fraction of touching the same
// bytes through a mapping (one page fault per few pages). False, *crc unchanged, when the file
// cannot be read that far.
bool Crc32FileRange(int fd, uint64_t offset, uint64_t len, uint32_t* crc);
}  // namespace BNXUtils
