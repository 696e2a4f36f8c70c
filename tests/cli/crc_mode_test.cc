// -C / --crc: the CRC-32 of a whole file, as "0x" and lower-case hex digits.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/run.h"

namespace {

using testsupport::RunResult;
using Bytes = std::vector<unsigned char>;

// Bitwise reference CRC-32 (reflected 0xEDB88320, init and final XOR all ones).
uint32_t ReferenceCrc(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x\n", v);
  return buf;
}

class CrcModeTest : public ::testing::Test {
 protected:
  RunResult Crc(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {TALVEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, dir_.path(), {"SPDLOG_LEVEL="});
  }
  std::string Write(const std::string& name, const Bytes& bytes) {
    testsupport::WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  testsupport::TempDir dir_;
};

TEST_F(CrcModeTest, KnownTexts) {
  const RunResult abc = Crc({"-C", Write("abc", {'a', 'b', 'c'})});
  EXPECT_EQ(abc.status, 0);
  EXPECT_EQ(abc.out, "0x352441c2\n");
  EXPECT_EQ(abc.err, "");

  const RunResult check = Crc({"--crc", Write("check", {'1', '2', '3', '4', '5', '6', '7', '8', '9'})});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "0xcbf43926\n");
}

TEST_F(CrcModeTest, EmptyFileGivesZero) {
  const RunResult r = Crc({"-C", Write("empty", {})});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0x0\n");
}

TEST_F(CrcModeTest, IntactContainersAllGiveTheResidue) {
  testsupport::SampleBnx a;
  testsupport::SampleBnx b;
  b.all_models = Bytes(3000, 0x01);
  b.models = {{"x", 1, "1"}, {"y", 2, "2"}};
  b.target = 0;
  b.major = 0;
  for (const auto& s : {a, b}) {
    const RunResult r = Crc({"-C", Write("c.bnx", testsupport::BuildBnx(s))});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0x2144df1c\n");
  }
}

TEST_F(CrcModeTest, OtherFilesGiveTheirOwnCrc) {
  testsupport::SampleBnx s;
  s.with_trailer = false;
  const Bytes no_trailer = testsupport::BuildBnx(s);
  EXPECT_EQ(Crc({"-C", Write("raw.bnx", no_trailer)}).out, Hex(ReferenceCrc(no_trailer)));

  Bytes data(70000);
  uint32_t x = 12345;
  for (auto& byte : data) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(x >> 16);
  }
  EXPECT_EQ(Crc({"-C", Write("data", data)}).out, Hex(ReferenceCrc(data)));

  // No leading zeros: find content whose CRC is below 0x10000000.
  Bytes small;
  for (uint32_t n = 0; small.empty() || ReferenceCrc(small) >= 0x10000000u; ++n) {
    small = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8), 0x5A};
  }
  const std::string expected = Hex(ReferenceCrc(small));
  ASSERT_LT(expected.size(), 11u);
  EXPECT_EQ(Crc({"-C", Write("small", small)}).out, expected);
}

TEST_F(CrcModeTest, OnlyTheFirstPathIsRead) {
  const std::string abc = Write("abc", {'a', 'b', 'c'});
  const RunResult r = Crc({"-C", abc + " " + (dir_ / "missing")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0x352441c2\n");
}

TEST_F(CrcModeTest, MissingFileFailsWith255) {
  const std::string missing = dir_ / "no_such.bnx";
  const RunResult r = Crc({"-C", missing});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "BNX file not exist: " + missing + "\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(CrcModeTest, FolderFailsWithAMessage) {
  ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
  const RunResult r = Crc({"-C", dir_ / "folder"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.rfind("0x", 0), 0u) << r.out;  // no CRC printed
  EXPECT_NE((r.out + r.err).find(dir_ / "folder"), std::string::npos) << r.out << r.err;
}

TEST_F(CrcModeTest, UnreadableFileFailsWithAMessage) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  const std::string f = Write("secret", {'a'});
  ASSERT_EQ(chmod(f.c_str(), 0), 0);
  const RunResult r = Crc({"-C", f});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.rfind("0x", 0), 0u) << r.out;  // no CRC printed
  EXPECT_NE((r.out + r.err).find(f), std::string::npos) << r.out << r.err;
}

}  // namespace
