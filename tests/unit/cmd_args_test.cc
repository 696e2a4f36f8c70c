// Reading the command line into CmdArgs (the default key and key file are checked end to end by -E).
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

// Words of one argument split at blanks; words that are not options go back to the driver.
TEST(ParseTest, PathsAndStrayWords) {
  EXPECT_EQ(Parse({"--info", " x.bnx  y.bnx "}).args.model_path, (Strings{"x.bnx", "", "y.bnx"}));
  EXPECT_EQ(Parse({"stray", "--info", "a", "b"}).args.model_path, Strings{"a"});
  EXPECT_EQ(Parse({"-I", "a", "--gen"}).args.model_path, Strings{"a"});
  const Parsed several = Parse({"-c", "a b", "-O", "o", "c", "d"});
  EXPECT_EQ(several.args.model_path, (Strings{"a", "b"}));
  EXPECT_EQ(several.outcome.extra, (Strings{"c", "d"}));
  const Parsed lists = Parse({"--model_info_version", "1.0 ,2.0,,3", "--model_info_name", "x,"});
  EXPECT_EQ(lists.args.model_info_version_vec, (Strings{"1.0", "2.0", "", "3"}));
  EXPECT_EQ(lists.args.model_info_name_vec, Strings{"x"});
}

// Which of --TV and --c_key wins, and that --TV clears the e-fuse key: post_enc_test KeyOptionsDecideTheMode.
TEST(ParseTest, KeyOptionsAreHexAndExcludeEachOther) {
  using Keys = std::tuple<uint32_t, uint32_t, uint32_t>;  // tv_number, customer_key, efuse_key
  const std::pair<Strings, Keys> cases[] = {
      {{"--TV", "1234"}, {0x1234, 0, 0}},
      {{"--TV", "0x1234"}, {0x1234, 0, 0}},
      {{"-n", "1FFFFFFFF"}, {0xFFFFFFFF, 0, 0}},  // low 32 bits
      {{"--TV", "5", "--efuse_key", "7"}, {0, 0, 7}},
      {{"-f", "0XAbC", "-g", "12xyz"}, {0, 0xABC, 0x12}},
  };
  for (const auto& [words, keys] : cases) {
    const CmdArgs a = Parse(words).args;
    EXPECT_EQ(Keys(a.tv_number, a.customer_key, a.efuse_key), keys) << words[0] << " " << words[1];
  }
}

// argv[0] may be null (an empty argument list): the usage names the program itself. The whole text
// is pinned by command_line_test.
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
