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

TEST(ParseTest, ModeOptionsSetModeAndPaths) {
  const std::tuple<const char*, const char*, CmdArgs::CMDMode> cases[] = {
      {"-X", "--extract", CmdArgs::ExtractBnx}, {"-I", "--info", CmdArgs::BnxInfo}, {"-R", "--read", CmdArgs::ReadHeader},
      {"-M", "--model_info", CmdArgs::ReadModelInfo}, {"-C", "--crc", CmdArgs::GetCrc}, {"-E", "--enc", CmdArgs::PostEnc},
      {"-c", "--combine_bnx", CmdArgs::CombineBnx}, {"-j", "--txm_to_json", CmdArgs::TxmToJson},
      {"-S", "--split_core", CmdArgs::SplitCore}, {"-A", "--alignment", CmdArgs::CheckAlignment},
      {"-U", "--update_model_info", CmdArgs::UpdateModelInfo},
      {"--update_solution_info", "--update_solution_info", CmdArgs::UpdateSolutionInfo},
  };
  for (const auto& [short_opt, long_opt, mode] : cases) {
    for (const char* opt : {short_opt, long_opt}) {
      const Parsed p = Parse({opt, "f"});
      EXPECT_EQ(p.args.mode, mode) << opt;
      EXPECT_EQ(p.args.model_path, Strings{"f"}) << opt;
    }
  }
  // Split at spaces within one argument only; -G keeps the paths.
  EXPECT_EQ(Parse({"--info", " x.bnx  y.bnx "}).args.model_path, (Strings{"x.bnx", "", "y.bnx"}));
  EXPECT_EQ(Parse({"stray", "--info", "a", "b"}).args.model_path, Strings{"a"});
  EXPECT_EQ(Parse({"-I", "a", "--gen"}).args.model_path, Strings{"a"});
  // Words that are not options are handed back for the driver (-X and -c take them as files).
  const Parsed several = Parse({"-c", "a b", "-O", "o", "c", "d"});
  EXPECT_EQ(several.args.model_path, (Strings{"a", "b"}));
  EXPECT_EQ(several.outcome.extra, (Strings{"c", "d"}));
}

TEST(ParseTest, ValueOptionsFillTheirFields) {
  const std::tuple<const char*, const char*, std::string CmdArgs::*> texts[] = {
      {"-h", "--header", &CmdArgs::fwInfo_path},     {"-m", "--model", &CmdArgs::allModels_path},
      {"-e", "--txm", &CmdArgs::txm_path},           {"-t", "--target", &CmdArgs::target},
      {"-a", "--solution_id", &CmdArgs::solution_id}, {"-b", "--solution_tag", &CmdArgs::solution_tag},
      {"-k", "--header_key", &CmdArgs::header_key},  {"-p", "--json_path", &CmdArgs::json_path},
      {"-o", "--output", &CmdArgs::output_name},     {"-O", "--folder", &CmdArgs::output_folder},
      {"-F", "--key_file", &CmdArgs::key_file},
  };
  for (const auto& [short_opt, long_opt, field] : texts) {
    EXPECT_EQ(Parse({short_opt, "v"}).args.*field, "v") << short_opt;
    EXPECT_EQ(Parse({short_opt, "v", long_opt, "w"}).args.*field, "w") << long_opt;  // later wins
  }
  EXPECT_TRUE(Parse({"-l"}).args.blKeepAll && Parse({"--keep_all"}).args.blKeepAll);
  EXPECT_TRUE(Parse({"-s"}).args.blParseSetupBin && Parse({"--parse_setup_bin"}).args.blParseSetupBin);
  EXPECT_TRUE(Parse({"-q"}).args.blQuiet && Parse({"--quiet"}).args.blQuiet);
  EXPECT_TRUE(Parse({"--replace_original"}).args.blReplaceOriginal);
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
