// The container operations of bnx/model_info on containers they must refuse.
#include "bnx/model_info.h"

#include <gtest/gtest.h>

#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/run.h"

namespace {

using namespace testsupport;

TEST(ModelInfoTest, HeaderlessOrEmptyRequestsAreRefusedAndNothingIsWritten) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir / "out");
  SampleBnx s;
  s.uuid = 0xFEEDBEEF;
  WriteBytes(dir / "a.bnx", BuildBnx(s));
  s.with_header = false;  // no target to name the output by
  WriteBytes(dir / "b.bnx", BuildBnx(s));
  const talvex::Status no_header = BNXUtils::ModifyModelInfo(dir / "b.bnx", {"1"}, {}, "");
  EXPECT_EQ(no_header.code(), -1);
  ASSERT_EQ(no_header.messages().size(), 1u);
  EXPECT_TRUE(Contains(no_header.messages()[0].text, "BNX file has no header: " + dir / "b.bnx"));
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(dir / "b.bnx", "1", "", "").code(), -1);
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(dir / "a.bnx", "", "", "").code(), -1);  // nothing to change
  EXPECT_EQ(DirEntries(dir / "out"), std::vector<std::string>{});
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir / "a.bnx"), 0xFEEDBEEFu);
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir / "b.bnx"), 0u);
}

TEST(ModelInfoTest, AContainerThatDoesNotVerifyIsReportedOnceWithItsPath) {
  TempDir dir;
  WriteText(dir / "bad.bnx", "garbage!");
  const talvex::Status st = BNXUtils::ModifyModelInfo(dir / "bad.bnx", {"1"}, {}, "");
  ASSERT_EQ(st.messages().size(), 3u);
  EXPECT_TRUE(Contains(st.messages()[0].text, "Not a valid BNX file."));
  EXPECT_EQ(st.messages()[1].text, "Refused: " + dir / "bad.bnx");
  EXPECT_TRUE(Contains(st.messages()[2].text, "Failed to read BNX file: " + dir / "bad.bnx"));
}

}  // namespace
