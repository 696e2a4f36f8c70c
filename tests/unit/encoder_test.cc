#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "encoder/encoder.h"
#include "support/run.h"

namespace {

uint32_t Rotr(uint32_t v, unsigned n) { return n == 0 ? v : (v >> n) | (v << (32 - n)); }

// W(k) written bit by bit from the permutation table, independently of the shift form.
uint32_t KeyWordByBits(uint32_t k) {
  uint32_t w = 0;
  for (unsigned i = 0; i < 6; ++i) w |= ((k >> (16 + i)) & 1u) << i;
  for (unsigned i = 0; i < 13; ++i) w |= ((k >> i) & 1u) << (6 + i);
  for (unsigned i = 0; i < 10; ++i) w |= ((k >> (22 + i)) & 1u) << (19 + i);
  for (unsigned i = 0; i < 3; ++i) w |= ((k >> (13 + i)) & 1u) << (29 + i);
  return w;
}

std::vector<uint32_t> Words(const std::vector<char>& bytes) {
  std::vector<uint32_t> w(bytes.size() / 4);
  std::memcpy(w.data(), bytes.data(), w.size() * 4);
  return w;
}

void WriteKeyFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(EncoderKeys, KeyWordIsTheDocumentedPermutation) {
  for (uint32_t k : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u, 0xA5A5A5A5u, 0x0001E000u}) {
    EXPECT_EQ(EncoderDetail::KeyWord(k), KeyWordByBits(k)) << std::hex << k;
  }
  // Single bits land where the table puts them.
  EXPECT_EQ(EncoderDetail::KeyWord(1u << 16), 1u);
  EXPECT_EQ(EncoderDetail::KeyWord(1u), 1u << 6);
  EXPECT_EQ(EncoderDetail::KeyWord(1u << 22), 1u << 19);
  EXPECT_EQ(EncoderDetail::KeyWord(1u << 13), 1u << 29);
  // u: bit 0 of u from bit 30 of w, bit 31 from bit 0, bits 7..15 from 16..24.
  EXPECT_EQ(EncoderDetail::SpreadKeyWord(1u << 30), 1u);
  EXPECT_EQ(EncoderDetail::SpreadKeyWord(1u), 1u << 31);
  EXPECT_EQ(EncoderDetail::SpreadKeyWord(0x01FF0000u), 0x0000FF80u);
  EXPECT_EQ(EncoderDetail::SpreadKeyWord(0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(EncoderKeys, TableHashOfZeroAndOnesTables) {
  std::vector<uint32_t> zeros(256, 0), ones(256, 0xFFFFFFFFu);
  for (uint32_t v : {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(EncoderDetail::encode(v, zeros.data()), 0u);
    EXPECT_EQ(EncoderDetail::encode(v, ones.data()), 0xFFFFFFFFu);
  }
  // Value 0: every rotation indexes bit 0 of word 0.
  std::vector<uint32_t> t(256, 0);
  t[0] = 1;
  EXPECT_EQ(EncoderDetail::encode(0, t.data()), 0xFFFFFFFFu);
}

TEST(EncoderKeys, EfuseModeSpreadsTheDefaultKey) {
  // 0x51A9 spread to even bits: 0x11004441... computed bit by bit.
  uint32_t spread = 0;
  for (unsigned i = 0; i < 16; ++i) spread |= ((0x51A9u >> i) & 1u) << (2 * i);
  EXPECT_EQ(Encoder(0, 0, "").key(), spread);
  EXPECT_EQ(Encoder(0, 0x51A9, "").key(), 0x51A9u ^ spread);
  EXPECT_THROW(Encoder(5, 0x51A9, ""), std::runtime_error);  // "orig_key == 0"
}

TEST(EncoderKeys, KeyTableFileShortAndMissing) {
  testsupport::TempDir dir;
  const std::string path = dir / "key.bin";
  WriteKeyFile(path, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  uint32_t table[256] = {};
  EncoderDetail::ReadKeyTable(path, table);
  EXPECT_EQ(table[0], 0x04030201u);
  EXPECT_EQ(table[1], 0x08070605u);
  EXPECT_EQ(table[2], 0x00000A09u);
  for (int i = 3; i < 256; ++i) ASSERT_EQ(table[i], 0u);
  EXPECT_THROW(EncoderDetail::ReadKeyTable(dir / "missing", table), std::runtime_error);
  EXPECT_THROW(Encoder(1, 2, dir / "missing"), std::runtime_error);
}

TEST(EncoderKeys, CustomerKeyHashesThroughTheTable) {
  testsupport::TempDir dir;
  std::vector<uint8_t> bytes(1024, 0xFF);
  WriteKeyFile(dir / "ones.bin", bytes);
  EXPECT_EQ(Encoder(0x1234, 0x51A9, dir / "ones.bin").key(), 0xFFFFFFFFu);
  WriteKeyFile(dir / "zeros.bin", std::vector<uint8_t>(1024, 0));
  EXPECT_EQ(Encoder(0x1234, 0x51A9, dir / "zeros.bin").key(), 0u);
}

TEST(EncoderGarble, KnownVectorsForBothUnits) {
  testsupport::TempDir dir;
  const Encoder enc(0, 0x1357, "");
  const uint32_t w = KeyWordByBits(enc.key());
  const uint32_t u = EncoderDetail::SpreadKeyWord(w);

  std::vector<char> cmd(8, 0);
  enc.Encode(cmd.data(), cmd.size(), 4);
  EXPECT_EQ(Words(cmd), (std::vector<uint32_t>{w, w}));

  std::vector<char> wt(16, 0);
  enc.Encode(wt.data(), wt.size(), 16);
  EXPECT_EQ(Words(wt), (std::vector<uint32_t>{Rotr(u, 2), Rotr(u, 15), u, w}));
}

TEST(EncoderGarble, TwiceRestoresAndEmptyIsAccepted) {
  const Encoder enc(0, 0xBEEF, "");
  std::vector<char> data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37 + 11);
  for (size_t unit : {4u, 16u}) {
    std::vector<char> copy = data;
    enc.Encode(copy.data(), copy.size(), unit);
    EXPECT_NE(copy, data);
    enc.Encode(copy.data(), copy.size(), unit);
    EXPECT_EQ(copy, data);
    enc.Encode(nullptr, 0, unit);
  }
}

TEST(EncoderGarble, BadUnitOrLengthFailsWithoutChangingData) {
  const Encoder enc(0, 0xBEEF, "");
  std::vector<char> data(20, 7);
  const std::vector<char> before = data;
  EXPECT_THROW(enc.Encode(data.data(), 6, 4), std::runtime_error);
  EXPECT_THROW(enc.Encode(data.data(), 20, 16), std::runtime_error);
  EXPECT_THROW(enc.Encode(data.data(), 16, 8), std::runtime_error);
  EXPECT_EQ(data, before);
}

TEST(EncoderGarble, FileFormScramblesInPlaceAndFailsCleanly) {
  testsupport::TempDir dir;
  const Encoder enc(0, 0xBEEF, "");
  const std::string path = dir / "wt.bin";
  std::vector<unsigned char> bytes(64);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
  testsupport::WriteBytes(path, bytes);
  enc.Encode(path, 16);
  EXPECT_NE(testsupport::ReadBytes(path), bytes);
  enc.Encode(path, 16);
  EXPECT_EQ(testsupport::ReadBytes(path), bytes);

  testsupport::WriteBytes(path, std::vector<unsigned char>(10, 1));
  EXPECT_THROW(enc.Encode(path, 4), std::runtime_error);
  EXPECT_EQ(testsupport::ReadBytes(path), std::vector<unsigned char>(10, 1));
  EXPECT_THROW(enc.Encode(dir / "missing.bin", 4), std::runtime_error);
}

TEST(EncoderKeyData, DeterministicAndCarriesTheCustomerKey) {
  testsupport::TempDir dir;
  std::vector<uint8_t> table(1024);
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i);
  WriteKeyFile(dir / "key.bin", table);
  const auto a = Encoder::GenDecryptKeyData(0xA5C3, dir / "key.bin");
  const auto b = Encoder::GenDecryptKeyData(0xA5C3, dir / "key.bin");
  ASSERT_EQ(a.size(), 264u);
  EXPECT_EQ(a, b);
  uint32_t key = 0;
  for (unsigned j = 0; j < 8; ++j) key |= ((a[j] >> (4 * j)) & 3u) << (2 * j);
  EXPECT_EQ(key, 0xA5C3u);
  EXPECT_EQ(a[8], 0x03020100u);
  EXPECT_EQ(a[263], 0xFFFEFDFCu);
}
