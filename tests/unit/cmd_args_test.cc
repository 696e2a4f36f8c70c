// Reading the command line into CmdArgs: what no case reaches (blank splitting, stray words and
// the lists of -U are checked end to end).
#include "cli/cmd_args.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct Parsed {
  CmdArgs args;
  ParseOutcome outcome;
  std::string err;  // what parsing wrote to stderr
};

// Parses a command line given as words; argv[0] is "prog".
Parsed Parse(Strings words) {
  words.insert(words.begin(), "prog");
  std::vector<char*> argv;
  for (auto& s : words) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  Parsed p;
  testing::internal::CaptureStderr();
  p.outcome = ParseCommandLine(static_cast<int>(words.size()), argv.data(), p.args);
  p.err = testing::internal::GetCapturedStderr();
  return p;
}

// Hex key values, read leniently and cut to 32 bits (which key wins: the post_enc and
// command_line cases).
TEST(ParseTest, KeyOptionsAreLenientHex) {
  using Keys = std::tuple<uint32_t, uint32_t, uint32_t>;  // tv_number, customer_key, efuse_key
  const std::pair<Strings, Keys> cases[] = {
      {{"--TV", "1234"}, {0x1234, 0, 0}},
      {{"--TV", "0x1234"}, {0x1234, 0, 0}},
      {{"-n", "1FFFFFFFF"}, {0xFFFFFFFF, 0, 0}},  // low 32 bits
      {{"-f", "0XAbC", "-g", "12xyz"}, {0, 0xABC, 0x12}},
  };
  for (const auto& [words, keys] : cases) {
    const CmdArgs a = Parse(words).args;
    EXPECT_EQ(Keys(a.tv_number, a.customer_key, a.efuse_key), keys) << words[0] << " " << words[1];
  }
}

// argv[0] may be null (an empty argument list): the usage names the program itself.
TEST(ParseTest, UsageWithoutAProgramName) {
  EXPECT_EQ(CmdArgs::UsageText(nullptr), CmdArgs::UsageText("talvex_bnx_utils"));
  EXPECT_EQ(CmdArgs::UsageText(nullptr).rfind("    \ntalvex_bnx_utils <section> <options>\n", 0), 0u);
}

TEST(ParseTest, DecimalNumbers) {
  const Parsed p = Parse({"-i", " +12", "--core_id", "9abc", "--model_idx", "0 2 -5"});  // -d, -N: end to end
  EXPECT_FALSE(p.outcome.exit);
  EXPECT_EQ(std::make_pair(p.args.model_id, p.args.core_id), std::make_pair(12, 9));
  EXPECT_EQ(p.args.model_idx, (std::vector<int32_t>{0, 2, -5}));
  for (const Strings& bad : {Strings{"--model_id", "abc"}, Strings{"-i", "2147483648"}, Strings{"-d", "-99999999999"},
                             Strings{"-N", "1  2"}, Strings{"-N", "0 4294967296"}}) {
    const Parsed r = Parse({"-C", "f", bad[0], bad[1], "-q"});
    EXPECT_TRUE(r.outcome.exit && r.outcome.status != 0) << bad[1];
    EXPECT_NE(r.err.find("\"" + bad[1] + "\""), std::string::npos) << r.err;
    EXPECT_FALSE(r.args.blQuiet);  // reading stopped at the bad value
  }
}

}  // namespace
