#pragma once
#include <cstddef>
#include <cstdint>

namespace TXM {
// Size in (4, 0x7FFFFFFF), then standard verification of a TXMContent root
// (depth 64, 1,000,000 tables, alignment checked, no identifier).
bool VerifyTXMBuffer(const uint8_t* buf, size_t size);
}  // namespace TXM
