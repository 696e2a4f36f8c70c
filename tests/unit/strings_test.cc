#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "support/run.h"

using Strings = std::vector<std::string>;

TEST(StringsTest, TrimAndSplit) {
  EXPECT_EQ(Trim("\t a b \n") + Trim("\v\f\r "), "a b");
  EXPECT_EQ(Trim("\xA0x\xFF"), "\xA0x\xFF");  // bytes above 0x7F are not white space
  const std::pair<std::pair<const char*, char>, Strings> cases[] = {
      {{" x y ", ' '}, {"x", "y"}}, {{"x  y", ' '}, {"x", "", "y"}}, {{" \t ", ' '}, {}},
      {{"x,", ','}, {"x"}},         {{",a", ','}, {"", "a"}},        {{"a,,", ','}, {"a", ""}},
      {{" a , b ", ','}, {"a", "b"}},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(SplitStr(in.first, in.second), out) << in.first;
}

TEST(StringsTest, Str2IntsReadsLikeStoi) {
  EXPECT_EQ(Str2Ints("1 2 3", ' '), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Str2Ints("7x -2147483648", ' '), (std::vector<int>{7, -2147483647 - 1}));
  EXPECT_THROW(Str2Ints("1  2", ' '), std::invalid_argument);
  EXPECT_THROW(Str2Ints(" 1", ' '), std::invalid_argument);  // pieces are not trimmed
  EXPECT_THROW(Str2Ints("1 2147483648", ' '), std::out_of_range);
}

TEST(StringsTest, NumbersAndPaths) {
  for (const auto& [in, out] : {std::pair<int64_t, int64_t>{0, 0}, {1, 16}, {16, 16}, {17, 32}, {-5, -16}}) {
    EXPECT_EQ(PadToN(in, 16), out) << in;
  }
  for (const char* hex : {"0x1A", "1a", "0X1a", "1ag"}) EXPECT_EQ(ParseHex(hex), 26u) << hex;
  EXPECT_EQ(ParseHex("zz") + ParseHex("123456789"), 0x23456789u);
  const std::tuple<const char*, const char*, const char*> paths[] = {
      {"a/b/c.bin", "a/b", "c.bin"}, {"a/b/", "a", "b"}, {"file.bin", "", "file.bin"}, {"", "", ""}, {"/", "", ""}};
  for (const auto& [path, dir, base] : paths) {
    EXPECT_EQ(Dirname(path), dir) << path;
    EXPECT_EQ(Basename(path), base) << path;
  }
  EXPECT_EQ(EraseDuplicateSlashes("//a//b///c/"), "/a/b/c/");
}

TEST(StringsTest, GetFileSizeExplainsFailures) {
  testsupport::TempDir tmp;
  testsupport::WriteBytes(tmp / "f.bin", std::vector<unsigned char>(1234, 7));
  EXPECT_EQ(GetFileSize(tmp / "f.bin"), 1234u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileSize(tmp / "missing"), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to stat file [" + (tmp / "missing") + "] with errno [2]\n");
}
