#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/run.h"

TEST(TalvexExceptionTest, CodeNamesMessageAndStatus) {
  const char* names[] = {"Success",         "Common",        "InvalidProgramInput", "InvalidONNXAttribute",
                         "HardwareNotSupport", "UnexpectedGraph", "UnimplementedFeature", "ValueNotReady",
                         "VolmarError",     "UnexpectedValue"};
  ASSERT_EQ(EnumStrMap<ErrorCode>().size(), 11u);
  for (int code = 0; code < 10; ++code) EXPECT_EQ(EnumStrMap<ErrorCode>().at(static_cast<ErrorCode>(code)), names[code]);
  EXPECT_EQ(EnumStrMap<ErrorCode>().at(ErrorCode::Max), "Max");
  InvalidProgramInput e("bad file");
  EXPECT_STREQ(e.what(), "InvalidProgramInput: bad file");
  EXPECT_EQ(HandleTalvexException(e), 2);
}

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
