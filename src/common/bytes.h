#pragma once
// Little-endian words and alignment: the byte layout rules every binary format here shares.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvex {

// The little-endian word at p (no alignment needed).
inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// v rounded up to a multiple of n (n > 0).
constexpr uint64_t AlignUp(uint64_t v, uint64_t n) { return (v + n - 1) / n * n; }

}  // namespace talvex
