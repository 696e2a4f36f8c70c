#include "encoder/encoder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "support/run.h"

using Bytes = std::vector<unsigned char>;

TEST(EncoderTest, KeysAndKeyData) {
  // Key values and the scrambled bytes of both units are checked end to end (post_enc_test).
  EXPECT_THROW(Encoder(5, 0x51A9, nullptr), std::runtime_error);  // "orig_key == 0"
  // A short key file fills the table from the front; the rest stays 0.
  testsupport::TempDir dir;
  testsupport::WriteBytes(dir / "short", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  const KeyFile file = Encoder::LoadKeyFile(dir / "short");
  const std::vector<uint32_t> a = Encoder::GenDecryptKeyData(0xA5C3, file);
  ASSERT_EQ(a.size(), 264u);
  EXPECT_EQ(a, Encoder::GenDecryptKeyData(0xA5C3, file));
  EXPECT_EQ(std::vector<uint32_t>(a.begin() + 8, a.begin() + 12),
            (std::vector<uint32_t>{0x04030201u, 0x08070605u, 0x0A09u, 0}));
  EXPECT_EQ(a[263], 0u);
  uint32_t key = 0;  // two bits in every fourth bit pair of the eight masking words
  for (unsigned j = 0; j < 8; ++j) key |= ((a[j] >> (4 * j)) & 3u) << (2 * j);
  EXPECT_EQ(key, 0xA5C3u);
  EXPECT_EQ(EncoderDetail::encode(0, a.data() + 8), 0xFFFFFFFFu);  // every rotation of 0 reads bit 0 of word 0
}

TEST(EncoderTest, TwiceRestoresAndBadInputChangesNothing) {
  const Encoder enc(0, 0xBEEF, nullptr);
  Bytes data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
  Bytes work = data;
  char* p = reinterpret_cast<char*>(work.data());
  for (size_t unit : {4u, 16u}) {
    enc.Encode(p, work.size(), unit);
    EXPECT_NE(work, data);
    enc.Encode(p, work.size(), unit);
    EXPECT_EQ(work, data);
    enc.Encode(nullptr, 0, unit);
  }
  for (const auto& [size, unit] : {std::pair<size_t, size_t>{6, 4}, {20, 16}, {16, 8}, {10, 4}}) {
    EXPECT_THROW(enc.Encode(p, size, unit), std::runtime_error) << size;
  }
  EXPECT_EQ(work, data);  // the failed calls changed nothing
}
