// Container generation (bnx/generate) and the version text of generated containers.
#include "bnx/generate.h"

#include <gtest/gtest.h>

#include "cli/gen_mode.h"
#include "support/run.h"

namespace {

using namespace testsupport;

TEST(GenerateTest, ToolchainVersionComesFromTheLastLineOfTheFile) {
  TempDir dir;
  EXPECT_EQ(ReadToolchainVersion(dir / "none.txt"), "talvex_bnx_utils version: 2025-09-11(a789b85)");
  WriteText(dir / "v.txt", "old\nabc\n");
  EXPECT_EQ(ReadToolchainVersion(dir / "v.txt"), "abc");
}

}  // namespace
