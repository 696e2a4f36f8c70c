#pragma once
#include <cstddef>
#include <cstdint>

namespace BNXUtils {
// Continues a CRC-32 (ISO-HDLC, as zlib's crc32): Crc32Update(0, p, n) is the CRC of p[0..n).
// Computed by ISA-L, which picks the fastest kernel the processor supports.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size);
}  // namespace BNXUtils
