// Helpers of src/common and the front end: strings, paths, JSON files, the output folder and the
// Status that carries every failure. (Exception texts and their exit statuses are checked end to
// end: model_modes_test, cases/gen_mode.test.)
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "cli/paths.h"
#include "common/exceptions.h"
#include "common/json_utils.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/status.h"
#include "common/strings.h"
#include "support/run.h"

namespace {

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
  EXPECT_EQ(Str2Ints("1 2 3", ' '), (std::vector<int>{1, 2, 3}));  // read like stoi
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
  // Extension and stem, as the front end names its outputs.
  const std::tuple<const char*, const char*, const char*> names[] = {
      {"dir/a.b.bnx", "bnx", "a.b"}, {"dir.v2/name", "v2/name", ""}, {"a.bnx/", "bnx/", "a"}};
  for (const auto& [path, ext, stem] : names) {
    EXPECT_EQ(GetFileExtention(path), ext) << path;
    EXPECT_EQ(GetFilenameWithoutExt(path), stem) << path;
  }
  testsupport::TempDir tmp;
  testsupport::WriteBytes(tmp / "f.bin", std::vector<unsigned char>(1234, 7));
  EXPECT_EQ(GetFileSize(tmp / "f.bin"), 1234u);
  testing::internal::CaptureStdout();
  EXPECT_EQ(GetFileSize(tmp / "missing"), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to stat file [" + (tmp / "missing") + "] with errno [2]\n");
}

TEST(JsonUtilsTest, TextsAndFilesRoundTripBadInputGivesNull) {
  const char* const compact = "{\"id\":32768,\"list\":[1,\"two\"],\"name\":\"det\",\"nested\":{\"flag\":true}}";
  const Json::Value v = Str2Json(compact);
  EXPECT_EQ(v["list"][1].asString(), "two");
  EXPECT_EQ(Json2Str(v), compact);
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "c.json", std::string(4096, 'x'));  // replaced whole
  ASSERT_EQ(SaveJson(tmp / "c.json", v, true), 0);
  EXPECT_EQ(testsupport::ReadText(tmp / "c.json"), compact);
  ASSERT_EQ(SaveJson(tmp / "p.json", v, false), 0);
  EXPECT_NE(testsupport::ReadText(tmp / "p.json").find("\n\t\"id\" : 32768,\n"), std::string::npos);
  EXPECT_EQ(LoadJson(tmp / "p.json"), v);
  testsupport::WriteText(tmp / "text.json", "this is not json\n");
  testsupport::WriteText(tmp / "empty.json", "");
  for (const std::string& path : {std::string(), tmp / "missing.json", tmp / "text.json", tmp / "empty.json", tmp.path()}) {
    EXPECT_TRUE(LoadJson(path).isNull()) << path;
  }
  EXPECT_EQ(SaveJson(tmp / "no_such_dir/out.json", Json::Value(1), true), -1);  // creates nothing
  EXPECT_EQ(testsupport::DirEntries(tmp.path()), (Strings{"c.json", "empty.json", "p.json", "text.json"}));
}

TEST(OutputDirTest, CreatesMissingParentsOrFailsLeavingTheFolderUnchanged) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "file", "x");
  ASSERT_EQ(mkdir((tmp / "there").c_str(), 0755), 0);
  const mode_t old_mask = umask(022);
  EXPECT_TRUE(BNXUtils::SetOutputDir(tmp / "out"));
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat((tmp / "out").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  // Every missing level is made.
  EXPECT_TRUE(BNXUtils::SetOutputDir(tmp / "a/b/c/"));
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp / "a/b/c//");
  EXPECT_TRUE(BNXUtils::OutputDirExist(tmp / "a/b/c"));
  ASSERT_TRUE(BNXUtils::SetOutputDir(tmp / "out"));
  // Refused: nothing to make, a file in the way, a place where nothing can be made.
  const std::pair<std::string, std::string> refused[] = {
      {"", "empty folder name"}, {tmp / "file", "not a folder"}, {tmp / "file/sub", "file: not a folder"},
      {"/proc/x/y", "/proc/x: No such file or directory"}};
  for (const auto& [path, reason] : refused) {
    std::string error;
    EXPECT_FALSE(BNXUtils::SetOutputDir(path, &error)) << path;
    EXPECT_NE(error.find(reason), std::string::npos) << path << ": " << error;
    EXPECT_EQ(BNXUtils::GetOutputDir(), tmp / "out/") << path;
  }
  EXPECT_TRUE(BNXUtils::SetOutputDir(tmp / "there"));
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp / "there/");
}

TEST(StatusTest, MessagesKeepTheirOrderAndTheCodeFollowsTheFailure) {
  talvex::Status st;
  EXPECT_TRUE(st.ok());
  st.Note(talvex::Status::Error("noted only"));  // a failure that does not stop the step
  EXPECT_TRUE(st.ok());
  st.Merge(talvex::Status(-1).Out("second"));
  EXPECT_EQ(st.code(), -1);
  st.Merge(talvex::Status::Error("third", 7));
  EXPECT_EQ(st.code(), 7);
  ASSERT_EQ(st.messages().size(), 3u);
  EXPECT_EQ(st.messages()[0].sink, talvex::Sink::kStderr);
  EXPECT_EQ(st.messages()[1].sink, talvex::Sink::kStdout);
  EXPECT_EQ(st.messages()[1].text, "second");
  // Reported once: the plain lines go to their streams, in order.
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(talvex::Report(st), 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "second\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "noted only\nthird\n");
  // A log line carries its call site.
  const talvex::Status logged = TALVEX_STATUS_ERROR(LogCateg::Tool, "bad {}", 5);
  ASSERT_EQ(logged.messages().size(), 1u);
  EXPECT_EQ(logged.messages()[0].sink, talvex::Sink::kLog);
  EXPECT_EQ(logged.messages()[0].categ, LogCateg::Tool);
  EXPECT_EQ(logged.messages()[0].text.rfind("[common_test.cc:", 0), 0u);
  EXPECT_NE(logged.messages()[0].text.find("][TestBody] bad 5"), std::string::npos);
}

}  // namespace
