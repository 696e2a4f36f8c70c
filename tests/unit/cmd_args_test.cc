// What no case can reach of the command line: an argument list without a program name.
#include "cli/cmd_args.h"

#include <gtest/gtest.h>

// argv[0] may be null (an empty argument list): the usage names the program itself.
TEST(ParseTest, UsageWithoutAProgramName) {
  EXPECT_EQ(CmdArgs::UsageText(nullptr), CmdArgs::UsageText("talvex_bnx_utils"));
  EXPECT_EQ(CmdArgs::UsageText(nullptr).rfind("    \ntalvex_bnx_utils <section> <options>\n", 0), 0u);
}
