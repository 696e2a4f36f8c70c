// The one output folder of every mode.
#include "common/output_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support/run.h"

namespace {

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

}  // namespace
