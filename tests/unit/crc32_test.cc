#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "bnx/crc32.h"

// The folding path must agree with zlib for every length, misalignment and seed,
// including the short tails that fall back to zlib.
TEST(Crc32Update, AgreesWithZlibForAllLengthsAndOffsets) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(1200);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t off = 0; off < 16; ++off) {
    for (size_t n = 0; n + off <= data.size(); n += (n < 300 ? 1 : 37)) {
      const uint8_t* p = data.data() + off;
      ASSERT_EQ(BNXUtils::Crc32Update(0, p, n), static_cast<uint32_t>(crc32_z(0, p, n))) << off << " " << n;
      ASSERT_EQ(BNXUtils::Crc32Update(0xDEADBEEF, p, n), static_cast<uint32_t>(crc32_z(0xDEADBEEF, p, n)));
    }
  }
}

TEST(Crc32Update, ChunkedEqualsWhole) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  uint32_t whole = BNXUtils::Crc32Update(0, data.data(), data.size());
  uint32_t chunked = 0;
  for (size_t i = 0; i < data.size(); i += 999) {
    chunked = BNXUtils::Crc32Update(chunked, data.data() + i, std::min<size_t>(999, data.size() - i));
  }
  EXPECT_EQ(whole, chunked);
  EXPECT_EQ(BNXUtils::Crc32Update(0, reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}
