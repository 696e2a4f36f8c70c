#pragma once
// Tells the two setup.bin forms apart.
#include <cstddef>
#include <cstdint>

namespace Setup {
constexpr uint32_t MAGIC = 0x8EB5A462;
// At least 4 bytes and the raw magic first; nothing else is checked.
bool IsRawSetup(const uint8_t* bin, size_t size);
// Verifies as a flatbuffer INFContent root (depth 64, 1,000,000 tables, alignment checked).
bool IsFBSetup(const uint8_t* bin, size_t size);
}  // namespace Setup
