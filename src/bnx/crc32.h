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

// Continues crc over the n bytes at p, which are also the bytes at offset of the open file fd
// (-1: none): read through the file where it can be (cheaper than faulting in a mapping), from
// memory otherwise.
uint32_t Crc32Mirrored(uint32_t crc, const uint8_t* p, size_t n, int fd, uint64_t offset);

// The CRC of head, then payload_size bytes whose CRC is payload_crc, then tail, as one run of
// bytes: the payload is not read again.
uint32_t Crc32Around(const uint8_t* head, size_t head_size, uint32_t payload_crc, uint64_t payload_size,
                     const uint8_t* tail, size_t tail_size);
}  // namespace BNXUtils
