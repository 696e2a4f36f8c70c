// The CRC against zlib at every length, alignment and split, in memory and over a file's range,
// and a container whose shared model description would blow up memory when unpacked.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "common/fb_unpack.h"
#include "common/file_io.h"
#include "support/run.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The CRC agrees with zlib for every short length, misalignment and seed, and for a large buffer
// whole or continued across odd split points.
TEST(Crc32Test, AgreesWithZlib) {
  std::mt19937 rng(7);
  Bytes data((8u << 20) + 13);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t off = 0; off < 16; ++off) {
    for (size_t n = 0; n + off <= 1200; n += (n < 300 ? 1 : 37)) {
      const uint8_t* p = data.data() + off;
      ASSERT_EQ(BNXUtils::Crc32Update(0, p, n), static_cast<uint32_t>(crc32_z(0, p, n))) << off << " " << n;
      ASSERT_EQ(BNXUtils::Crc32Update(0xDEADBEEF, p, n), static_cast<uint32_t>(crc32_z(0xDEADBEEF, p, n)));
    }
  }
  const uint32_t want = static_cast<uint32_t>(crc32_z(0, data.data(), data.size()));
  EXPECT_EQ(BNXUtils::crc32(data.data(), data.size()), want);
  for (size_t cut : {size_t{1}, size_t{63}, size_t{4096}, size_t{(1u << 20) + 7}, data.size() - 1}) {
    EXPECT_EQ(BNXUtils::Crc32Update(BNXUtils::Crc32Update(0, data.data(), cut), data.data() + cut, data.size() - cut),
              want) << cut;
  }
  EXPECT_EQ(BNXUtils::Crc32Update(want, nullptr, 0), want);
}

// A range of a file read through the 256 KiB buffer agrees with zlib over the same bytes, for
// lengths and offsets on both sides of the buffer's boundaries; a range past the end fails.
TEST(Crc32Test, FileRangeAcrossChunkBoundaries) {
  testsupport::TempDir tmp;
  constexpr size_t kChunk = size_t{256} << 10;
  std::mt19937 rng(5);
  Bytes data(3 * kChunk + 77);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const std::string path = tmp / "range";
  testsupport::WriteBytes(path, data);
  const talvex::UniqueFd fd(open(path.c_str(), O_RDONLY));
  ASSERT_TRUE(fd.valid());
  for (size_t off : {size_t{0}, size_t{1}, kChunk - 1, kChunk}) {
    for (size_t len : {size_t{0}, size_t{1}, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 3, data.size() - off}) {
      if (off + len > data.size()) continue;
      uint32_t crc = 0x1234;
      ASSERT_TRUE(BNXUtils::Crc32FileRange(fd.get(), off, len, &crc)) << off << " " << len;
      EXPECT_EQ(crc, static_cast<uint32_t>(crc32_z(0x1234, data.data() + off, len))) << off << " " << len;
    }
  }
  uint32_t crc = 7;
  EXPECT_FALSE(BNXUtils::Crc32FileRange(fd.get(), data.size() - 10, 11, &crc));
  EXPECT_EQ(crc, 7u);
  EXPECT_FALSE(BNXUtils::Crc32FileRange(-1, 0, 1, &crc));
}

// One model description shared many times (small on disk, huge unpacked) is refused whole.
TEST(BnxReader, SharedModelDescriptionCannotBlowUpMemory) {
  for (const size_t refs : {300, 4}) {  // ~1 MiB on disk: 300 MiB or 4 MiB unpacked
    flatbuffers::FlatBufferBuilder b;
    auto info = TalvexBNX::CreateModelInfo(b, b.CreateString(std::string(1 << 20, 'n')), 1);
    b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, TalvexBNX::CreateBNXHeader(b, b.CreateString("p")),
                                         b.CreateVector(std::vector(refs, info))));
    EXPECT_EQ(talvex::UnpacksWithinBudget(b.GetBufferPointer(), b.GetSize(), TalvexBNX::BNXContentTypeTable()),
              refs == 4)
        << refs;
  }
}

}  // namespace
