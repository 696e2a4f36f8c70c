// What no case can reach of the command line: an argument list without a program name, and the
// man page and the bash completion against the option table.
#include "cli/cmd_args.h"

#include <gtest/gtest.h>

#include <regex>

#include "bnx/container.h"
#include "cli/options.h"
#include "support/run.h"

// argv[0] may be null (an empty argument list): the usage names the program itself.
TEST(ParseTest, UsageWithoutAProgramName) {
  EXPECT_EQ(CmdArgs::UsageText(nullptr), CmdArgs::UsageText("talvex_bnx_utils"));
  EXPECT_EQ(CmdArgs::UsageText(nullptr).rfind("    \ntalvex_bnx_utils <section> <options>\n", 0), 0u);
}

// Every option of the table is described in the man page and offered by the completion, by its
// long name and its letter; so is every header key.
TEST(ParseTest, ManPageAndCompletionKnowEveryOption) {
  const std::string man = testsupport::ReadText(std::string(TALVEX_SOURCE_ROOT) + "/man/talvex_bnx_utils.1");
  const std::string completion = testsupport::ReadText(std::string(TALVEX_SOURCE_ROOT) + "/completion/talvex_bnx_utils");
  for (const OptionSpec& spec : OptionTable()) {
    const std::string name = spec.long_name;
    EXPECT_TRUE(std::regex_search(man, std::regex("\\\\-\\\\-" + name + "\\b"))) << "man page: --" << name;
    EXPECT_TRUE(std::regex_search(completion, std::regex("[ \"]--" + name + "[ \"\n]"))) << "completion: --" << name;
    if (spec.short_name == 0) continue;
    const std::string letter(1, spec.short_name);
    EXPECT_TRUE(std::regex_search(man, std::regex("\\\\-" + letter + "\\b"))) << "man page: -" << letter;
    EXPECT_TRUE(std::regex_search(completion, std::regex("[ \"]-" + letter + " --" + name))) << "completion: -" << letter;
  }
  for (const BNXUtils::HeaderKey& key : BNXUtils::HeaderKeys()) {
    EXPECT_TRUE(std::regex_search(man, std::regex(std::string("\\b") + key.name + "\\b"))) << "man page: " << key.name;
    EXPECT_TRUE(std::regex_search(completion, std::regex(std::string("[\\s\"]") + key.name + "[\\s\"]"))) << key.name;
  }
}
