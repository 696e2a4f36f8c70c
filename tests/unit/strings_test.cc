#include "common/strings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/run.h"

namespace {

using Strings = std::vector<std::string>;

// Runs f and returns the message of the exception of type E it throws ("" when none).
template <typename E, typename F>
std::string ThrownMessage(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

TEST(TrimTest, RemovesEveryKindOfWhiteSpaceAtBothEndsOnly) {
  EXPECT_EQ(Trim("\t a b \n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\v\f\r x\ty \r\f\v"), "x\ty");
  EXPECT_EQ(LTrim("  a b  "), "a b  ");
  EXPECT_EQ(RTrim("  a b  "), "  a b");
  EXPECT_EQ(LTrim(" \t\n"), "");
  EXPECT_EQ(RTrim(" \t\n"), "");
  // Bytes above 0x7F are not white space in the default locale and must not be misread as such.
  EXPECT_EQ(Trim("\xA0x\xFF"), "\xA0x\xFF");
}

TEST(SplitStrTest, SpaceSeparatedPiecesAreTrimmedAndEmptyPiecesKept) {
  EXPECT_EQ(SplitStr(" x y ", ' '), (Strings{"x", "y"}));
  EXPECT_EQ(SplitStr("x  y", ' '), (Strings{"x", "", "y"}));
  EXPECT_EQ(SplitStr("", ' '), Strings{});
  EXPECT_EQ(SplitStr(" \t ", ' '), Strings{});
  EXPECT_EQ(SplitStr("one", ' '), Strings{"one"});
  EXPECT_EQ(SplitStr("a\tb c", ' '), (Strings{"a\tb", "c"}));
}

TEST(SplitStrTest, CommaSeparatedPieces) {
  EXPECT_EQ(SplitStr("x,", ','), Strings{"x"});
  EXPECT_EQ(SplitStr("a b,,c", ','), (Strings{"a b", "", "c"}));
  EXPECT_EQ(SplitStr("1.0 ,2.0,,3", ','), (Strings{"1.0", "2.0", "", "3"}));
  EXPECT_EQ(SplitStr(" a , b ", ','), (Strings{"a", "b"}));
  EXPECT_EQ(SplitStr(",", ','), Strings{""});
  EXPECT_EQ(SplitStr(",a", ','), (Strings{"", "a"}));
  // Only one final separator is swallowed; the one before it still ends an empty piece.
  EXPECT_EQ(SplitStr("a,,", ','), (Strings{"a", ""}));
}

TEST(Str2IntsTest, ReadsDecimalPiecesLikeStoi) {
  EXPECT_EQ(Str2Ints("1 2 3", ' '), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Str2Ints("7x", ' '), std::vector<int>{7});
  EXPECT_EQ(Str2Ints("-4 +5", ' '), (std::vector<int>{-4, 5}));
  EXPECT_EQ(Str2Ints("2147483647 -2147483648", ' '), (std::vector<int>{2147483647, -2147483647 - 1}));
  EXPECT_EQ(Str2Ints("1,2", ','), (std::vector<int>{1, 2}));
  EXPECT_EQ(Str2Ints("", ' '), std::vector<int>{});
  EXPECT_EQ(Str2Ints("3 ", ' '), std::vector<int>{3});
}

TEST(Str2IntsTest, BadPiecesRaiseTheStandardStoiErrors) {
  EXPECT_EQ(ThrownMessage<std::invalid_argument>([] { Str2Ints("1  2", ' '); }), "stoi");
  EXPECT_EQ(ThrownMessage<std::invalid_argument>([] { Str2Ints("abc", ' '); }), "stoi");
  // Pieces are not trimmed, so a leading separator gives an empty first piece.
  EXPECT_EQ(ThrownMessage<std::invalid_argument>([] { Str2Ints(" 1", ' '); }), "stoi");
  EXPECT_EQ(ThrownMessage<std::out_of_range>([] { Str2Ints("2147483648", ' '); }), "stoi");
  EXPECT_EQ(ThrownMessage<std::out_of_range>([] { Str2Ints("1 -2147483649", ' '); }), "stoi");
}

TEST(PadToNTest, RoundsAwayFromZeroToAMultiple) {
  EXPECT_EQ(PadToN(0, 16), 0);
  EXPECT_EQ(PadToN(1, 16), 16);
  EXPECT_EQ(PadToN(16, 16), 16);
  EXPECT_EQ(PadToN(17, 16), 32);
  EXPECT_EQ(PadToN(-5, 4), -8);
  EXPECT_EQ(PadToN(-8, 4), -8);
  EXPECT_EQ(PadToN(-1, 64), -64);
  EXPECT_EQ(PadToN(5, 1), 5);
  // Still exact for large values below 2^53.
  const int64_t big = (int64_t{1} << 52) + 1;
  EXPECT_EQ(PadToN(big, 32), (int64_t{1} << 52) + 32);
  EXPECT_EQ(PadToN(int64_t{3} << 32, 4096), int64_t{3} << 32);
}

TEST(PathTest, DirnameDropsTheLastComponent) {
  EXPECT_EQ(Dirname("a/b/c"), "a/b");
  EXPECT_EQ(Dirname("a/b/"), "a");
  EXPECT_EQ(Dirname("/x"), "");
  EXPECT_EQ(Dirname("file.bin"), "");
  EXPECT_EQ(Dirname(""), "");
  EXPECT_EQ(Dirname("/"), "");
  EXPECT_EQ(Dirname("/usr/lib/x.so"), "/usr/lib");
}

TEST(PathTest, BasenameKeepsTheLastComponentWithItsExtension) {
  EXPECT_EQ(Basename("a/b/c.bin"), "c.bin");
  EXPECT_EQ(Basename("a/b/"), "b");
  EXPECT_EQ(Basename("file.bin"), "file.bin");
  EXPECT_EQ(Basename("folder/"), "folder");
  EXPECT_EQ(Basename(""), "");
  EXPECT_EQ(Basename("/x"), "x");
  EXPECT_EQ(Basename("/"), "");
}

TEST(ParseHexTest, ReadsUnsignedHexAndKeepsTheLow32Bits) {
  EXPECT_EQ(ParseHex("0x1A"), 26u);
  EXPECT_EQ(ParseHex("1a"), 26u);
  EXPECT_EQ(ParseHex("0X1a"), 26u);
  EXPECT_EQ(ParseHex("zz"), 0u);
  EXPECT_EQ(ParseHex(""), 0u);
  EXPECT_EQ(ParseHex("  ff"), 0xFFu);
  EXPECT_EQ(ParseHex("12g4"), 0x12u);
  EXPECT_EQ(ParseHex("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHex("123456789"), 0x23456789u);
}

TEST(EraseDuplicateSlashesTest, CollapsesEveryRunOfSlashes) {
  EXPECT_EQ(EraseDuplicateSlashes("a//b///c/"), "a/b/c/");
  EXPECT_EQ(EraseDuplicateSlashes("//a"), "/a");
  EXPECT_EQ(EraseDuplicateSlashes("////"), "/");
  EXPECT_EQ(EraseDuplicateSlashes("a/b"), "a/b");
  EXPECT_EQ(EraseDuplicateSlashes(""), "");
  EXPECT_EQ(EraseDuplicateSlashes("a\\\\b"), "a\\\\b");
}

TEST(GetFileSizeTest, ReportsSizeOfFilesAndExplainsFailures) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "f.bin";
  testsupport::WriteBytes(path, std::vector<unsigned char>(1234, 7));
  EXPECT_EQ(GetFileSize(path), 1234u);

  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(GetFileSize(f), 1234u);
  std::fclose(f);

  const std::string missing = tmp / "missing.bin";
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileSize(missing), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to stat file [" + missing + "] with errno [2]\n");

  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileSize(static_cast<FILE*>(nullptr)), 0u);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Failed to fstat file with errno [", 0), 0u) << out;
  EXPECT_EQ(out.back(), '\n');
}

}  // namespace
