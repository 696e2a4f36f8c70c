// The one output folder of every mode.
#include "common/output_dir.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support/run.h"

namespace {

TEST(OutputDirTest, CreatesOneLevelOrLeavesTheFolderUnchanged) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "file", "x");
  ASSERT_EQ(mkdir((tmp / "there").c_str(), 0755), 0);
  const mode_t old_mask = umask(022);
  BNXUtils::SetOutputDir(tmp / "out");
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat((tmp / "out").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  for (const std::string& refused : {tmp / "a/b", std::string(), tmp / "file"}) {
    BNXUtils::SetOutputDir(refused);
    EXPECT_EQ(BNXUtils::GetOutputDir(), tmp / "out/") << refused;
  }
  EXPECT_FALSE(testsupport::Exists(tmp / "a"));
  BNXUtils::SetOutputDir(tmp / "there");
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp / "there/");
}

}  // namespace
