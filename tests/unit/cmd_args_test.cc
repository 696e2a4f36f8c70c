#include "cli/cmd_args.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/paths.h"

namespace {

using Strings = std::vector<std::string>;

struct Parsed {
  CmdArgs args;
  ParseOutcome outcome;
  std::string err;  // what parsing wrote to stderr
};

// Parses a command line given as words; argv[0] is "prog".
Parsed Parse(const Strings& words) {
  Strings storage = {"prog"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  Parsed p;
  testing::internal::CaptureStderr();
  p.outcome = ParseCommandLine(static_cast<int>(storage.size()), argv.data(), p.args);
  p.err = testing::internal::GetCapturedStderr();
  return p;
}

std::string ExecutableFolder() {
  char buf[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return exe.substr(0, exe.rfind('/') + 1);
}

TEST(CmdArgsTest, Defaults) {
  CmdArgs a;
  EXPECT_EQ(a.mode, CmdArgs::None);
  EXPECT_EQ(static_cast<int>(CmdArgs::None), 13);
  EXPECT_TRUE(a.model_path.empty());
  EXPECT_EQ(a.model_id, -1);
  EXPECT_EQ(a.core_id, -1);
  EXPECT_EQ(a.tv_number, 0u);
  EXPECT_EQ(a.customer_key, 0u);
  EXPECT_EQ(a.efuse_key, 0x51A9u);
  EXPECT_EQ(a.output_folder, "output");
  EXPECT_EQ(a.output_name, "");
  EXPECT_FALSE(a.blKeepAll);
  EXPECT_FALSE(a.blParseSetupBin);
  EXPECT_FALSE(a.blQuiet);
  EXPECT_FALSE(a.blReplaceOriginal);
  EXPECT_TRUE(a.model_idx.empty());
  EXPECT_EQ(a.key_file, ExecutableFolder() + "talvex_bnx_utils");
  EXPECT_EQ(a.FirstPath(), "");
}

TEST(CmdArgsTest, FunctionMapHasOneHandlerPerMode) {
  EXPECT_EQ(FunctionMap.size(), 13u);
  for (int m = 0; m <= 12; ++m) EXPECT_EQ(FunctionMap.count(static_cast<CmdArgs::CMDMode>(m)), 1u) << m;
  EXPECT_EQ(FunctionMap.count(CmdArgs::None), 0u);
}

TEST(ParseTest, EveryModeOptionSetsModeAndPaths) {
  const std::pair<Strings, CmdArgs::CMDMode> cases[] = {
      {{"-X", "f"}, CmdArgs::ExtractBnx},        {{"--extract", "f"}, CmdArgs::ExtractBnx},
      {{"-I", "f"}, CmdArgs::BnxInfo},           {{"--info", "f"}, CmdArgs::BnxInfo},
      {{"-R", "f"}, CmdArgs::ReadHeader},        {{"--read", "f"}, CmdArgs::ReadHeader},
      {{"-M", "f"}, CmdArgs::ReadModelInfo},     {{"--model_info", "f"}, CmdArgs::ReadModelInfo},
      {{"-C", "f"}, CmdArgs::GetCrc},            {{"--crc", "f"}, CmdArgs::GetCrc},
      {{"-c", "f"}, CmdArgs::CombineBnx},        {{"--combine_bnx", "f"}, CmdArgs::CombineBnx},
      {{"-E", "f"}, CmdArgs::PostEnc},           {{"--enc", "f"}, CmdArgs::PostEnc},
      {{"-j", "f"}, CmdArgs::TxmToJson},         {{"--txm_to_json", "f"}, CmdArgs::TxmToJson},
      {{"-S", "f"}, CmdArgs::SplitCore},         {{"--split_core", "f"}, CmdArgs::SplitCore},
      {{"-A", "f"}, CmdArgs::CheckAlignment},    {{"--alignment", "f"}, CmdArgs::CheckAlignment},
      {{"-U", "f"}, CmdArgs::UpdateModelInfo},   {{"--update_model_info", "f"}, CmdArgs::UpdateModelInfo},
      {{"--update_solution_info", "f"}, CmdArgs::UpdateSolutionInfo},
  };
  for (const auto& [words, mode] : cases) {
    const Parsed p = Parse(words);
    EXPECT_FALSE(p.outcome.exit) << words[0];
    EXPECT_EQ(p.args.mode, mode) << words[0];
    EXPECT_EQ(p.args.model_path, Strings{"f"}) << words[0];
  }
  const Parsed g = Parse({"--gen"});
  EXPECT_EQ(g.args.mode, CmdArgs::GenBnx);
  EXPECT_TRUE(g.args.model_path.empty());
}

TEST(ParseTest, PathsAreSplitAtSpacesInOneArgumentOnly) {
  EXPECT_EQ(Parse({"--info", "a b"}).args.model_path, (Strings{"a", "b"}));
  EXPECT_EQ(Parse({"--info", "a", "b"}).args.model_path, Strings{"a"});  // b is ignored
  EXPECT_EQ(Parse({"-c", " x.bnx  y.bnx "}).args.model_path, (Strings{"x.bnx", "", "y.bnx"}));
  EXPECT_TRUE(Parse({"-I", "  "}).args.model_path.empty());
  // Words that are not options may come first; they are skipped.
  EXPECT_EQ(Parse({"stray", "-C", "f"}).args.model_path, Strings{"f"});
}

TEST(ParseTest, LaterModeOptionReplacesModeAndPaths) {
  const Parsed p = Parse({"--info", "one", "--read", "two"});
  EXPECT_EQ(p.args.mode, CmdArgs::ReadHeader);
  EXPECT_EQ(p.args.model_path, Strings{"two"});
  const Parsed g = Parse({"-I", "a", "-G"});  // -G keeps the paths
  EXPECT_EQ(g.args.mode, CmdArgs::GenBnx);
  EXPECT_EQ(g.args.model_path, Strings{"a"});
}

TEST(ParseTest, PlainValueOptions) {
  const Parsed p = Parse({"-h", "fw.bin", "-m", "all.bin", "-e", "m.txm", "-t", "400", "-a", "sid", "-b", "stag", "-k",
                          "crc", "-p", "a.json", "-o", "name", "-O", "dir", "-F", "keys", "-l", "-s", "-q",
                          "--replace_original"});
  EXPECT_FALSE(p.outcome.exit);
  EXPECT_EQ(p.args.fwInfo_path, "fw.bin");
  EXPECT_EQ(p.args.allModels_path, "all.bin");
  EXPECT_EQ(p.args.txm_path, "m.txm");
  EXPECT_EQ(p.args.target, "400");
  EXPECT_EQ(p.args.solution_id, "sid");
  EXPECT_EQ(p.args.solution_tag, "stag");
  EXPECT_EQ(p.args.header_key, "crc");
  EXPECT_EQ(p.args.json_path, "a.json");
  EXPECT_EQ(p.args.output_name, "name");
  EXPECT_EQ(p.args.output_folder, "dir");
  EXPECT_EQ(p.args.key_file, "keys");
  EXPECT_TRUE(p.args.blKeepAll);
  EXPECT_TRUE(p.args.blParseSetupBin);
  EXPECT_TRUE(p.args.blQuiet);
  EXPECT_TRUE(p.args.blReplaceOriginal);
  EXPECT_EQ(p.args.mode, CmdArgs::None);

  const Parsed l = Parse({"--header", "h", "--model", "m", "--txm", "t", "--target", "600", "--solution_id", "i",
                          "--solution_tag", "g", "--header_key", "k", "--json_path", "j", "--output", "o", "--folder",
                          "f", "--key_file", "kf", "--keep_all", "--parse_setup_bin", "--quiet"});
  EXPECT_EQ(l.args.fwInfo_path, "h");
  EXPECT_EQ(l.args.allModels_path, "m");
  EXPECT_EQ(l.args.txm_path, "t");
  EXPECT_EQ(l.args.target, "600");
  EXPECT_EQ(l.args.output_folder, "f");
  EXPECT_EQ(l.args.key_file, "kf");
  EXPECT_TRUE(l.args.blKeepAll && l.args.blParseSetupBin && l.args.blQuiet);
  // A later option of the same field wins.
  EXPECT_EQ(Parse({"-o", "a", "--output", "b"}).args.output_name, "b");
}

TEST(ParseTest, CommaListsKeepEmptyPieces) {
  const Parsed p = Parse({"--model_info_version", "1.0 ,2.0,,3", "--model_info_name", "det, cls"});
  EXPECT_EQ(p.args.model_info_version_vec, (Strings{"1.0", "2.0", "", "3"}));
  EXPECT_EQ(p.args.model_info_name_vec, (Strings{"det", "cls"}));
  EXPECT_EQ(Parse({"--model_info_name", "x,"}).args.model_info_name_vec, Strings{"x"});
}

TEST(ParseTest, DeviceKeyNumberIsAlwaysHexadecimal) {
  EXPECT_EQ(Parse({"--TV", "1234"}).args.tv_number, 0x1234u);
  EXPECT_EQ(Parse({"--TV", "0x1234"}).args.tv_number, 0x1234u);
  EXPECT_EQ(Parse({"-n", "ff"}).args.tv_number, 0xFFu);
  EXPECT_EQ(Parse({"-n", "1FFFFFFFF"}).args.tv_number, 0xFFFFFFFFu);  // low 32 bits
  EXPECT_EQ(Parse({"-n", "zz"}).args.tv_number, 0u);
}

TEST(ParseTest, KeyOptionsExcludeEachOther) {
  const Parsed a = Parse({"--c_key", "10", "--TV", "5"});
  EXPECT_EQ(a.args.customer_key, 0u);
  EXPECT_EQ(a.args.tv_number, 5u);
  EXPECT_EQ(a.args.efuse_key, 0u);

  const Parsed b = Parse({"--TV", "5", "--c_key", "10"});
  EXPECT_EQ(b.args.tv_number, 0u);
  EXPECT_EQ(b.args.customer_key, 0x10u);
  EXPECT_EQ(b.args.efuse_key, 0u);  // cleared by --TV, not restored

  const Parsed c = Parse({"--TV", "5", "--efuse_key", "7"});
  EXPECT_EQ(c.args.tv_number, 0u);
  EXPECT_EQ(c.args.customer_key, 0u);
  EXPECT_EQ(c.args.efuse_key, 7u);

  const Parsed d = Parse({"-f", "0XAbC", "-g", "0x12345678"});
  EXPECT_EQ(d.args.customer_key, 0xABCu);
  EXPECT_EQ(d.args.efuse_key, 0x12345678u);
  EXPECT_EQ(d.args.tv_number, 0u);
  EXPECT_EQ(Parse({"-f", "12xyz"}).args.customer_key, 0x12u);
  EXPECT_EQ(Parse({"-g", "nothex"}).args.efuse_key, 0u);
  EXPECT_EQ(Parse({"-q"}).args.efuse_key, 0x51A9u);
}

TEST(ParseTest, DecimalNumbers) {
  const Parsed p = Parse({"-i", "12", "-d", "-3", "-N", "0 2 5"});
  EXPECT_FALSE(p.outcome.exit);
  EXPECT_EQ(p.args.model_id, 12);
  EXPECT_EQ(p.args.core_id, -3);
  EXPECT_EQ(p.args.model_idx, (std::vector<int32_t>{0, 2, 5}));
  EXPECT_EQ(Parse({"--model_id", " +7"}).args.model_id, 7);
  EXPECT_EQ(Parse({"--core_id", "9abc"}).args.core_id, 9);
  EXPECT_EQ(Parse({"--model_id", "2147483647"}).args.model_id, 2147483647);
  EXPECT_TRUE(Parse({"--model_idx", ""}).args.model_idx.empty());
}

TEST(ParseTest, BadNumbersRejectTheCommandLine) {
  const std::pair<Strings, std::string> cases[] = {
      {{"--model_id", "abc"}, "--model_id"},       {{"-i", ""}, "--model_id"},
      {{"--model_id", "2147483648"}, "--model_id"}, {{"--core_id", "x1"}, "--core_id"},
      {{"-d", "-99999999999"}, "--core_id"},        {{"--model_idx", "1  2"}, "--model_idx"},
      {{"-N", "one"}, "--model_idx"},              {{"-N", "0 4294967296"}, "--model_idx"},
  };
  for (const auto& [words, option] : cases) {
    Strings line = {"-C", "f"};
    line.insert(line.end(), words.begin(), words.end());
    line.push_back("-q");
    const Parsed p = Parse(line);
    EXPECT_TRUE(p.outcome.exit) << words[1];
    EXPECT_NE(p.outcome.status, 0) << words[1];
    EXPECT_NE(p.err.find(option), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("\"" + words[1] + "\""), std::string::npos) << p.err;
    EXPECT_FALSE(p.args.blQuiet);  // reading stopped at the bad value
  }
}

TEST(ParseTest, HelpStopsWithStatusZero) {
  for (const Strings& words : {Strings{"-H"}, Strings{"--help"}, Strings{"-C", "f", "-q", "-H", "-l"}}) {
    const Parsed p = Parse(words);
    EXPECT_TRUE(p.outcome.exit);
    EXPECT_EQ(p.outcome.status, 0);
    EXPECT_FALSE(p.outcome.version_stop);
    EXPECT_NE(p.err.find("prog <section> <options>\n\n"), std::string::npos) << p.err;
    EXPECT_FALSE(p.args.blKeepAll);
  }
}

TEST(ParseTest, VersionStopsOptionReading) {
  const Parsed p = Parse({"--info", "f", "-V", "-q", "-H"});
  EXPECT_FALSE(p.outcome.exit);
  EXPECT_TRUE(p.outcome.version_stop);
  EXPECT_EQ(p.args.mode, CmdArgs::BnxInfo);
  EXPECT_EQ(p.args.model_path, Strings{"f"});
  EXPECT_FALSE(p.args.blQuiet);
  EXPECT_EQ(p.err, "talvex_bnx_utils version: 2025-09-11(a789b85)\ntalvex_compiler version: 2025-09-11(c3e995af21)\n");
  const Parsed alone = Parse({"--version"});
  EXPECT_TRUE(alone.outcome.version_stop);
  EXPECT_EQ(alone.args.mode, CmdArgs::None);
}

TEST(ParseTest, UnknownOptionsAndMissingArgumentsExitWithOne) {
  const std::pair<Strings, std::string> cases[] = {
      {{"--bogus"}, "prog: unrecognized option '--bogus'\n"},
      {{"-Z"}, "prog: invalid option -- 'Z'\n"},
      {{"-I", "f", "-C"}, "prog: option requires an argument -- 'C'\n"},
      {{"--crc"}, "prog: option '--crc' requires an argument\n"},
      {{"--quiet=1"}, "prog: option '--quiet' doesn't allow an argument\n"},
  };
  for (const auto& [words, diagnostic] : cases) {
    const Parsed p = Parse(words);
    EXPECT_TRUE(p.outcome.exit) << words[0];
    EXPECT_EQ(p.outcome.status, 1) << words[0];
    // getopt's own diagnostic first, then the usage text.
    EXPECT_EQ(p.err.rfind(diagnostic + "    \nprog <section> <options>\n", 0), 0u) << p.err;
  }
}

// getopt keeps state between calls; every parse must start afresh.
TEST(ParseTest, RepeatedParsesDoNotLeakGetoptState) {
  const Parsed first = Parse({"-I", "a", "-Vq"});  // stops inside the "-Vq" group
  EXPECT_TRUE(first.outcome.version_stop);
  EXPECT_FALSE(first.args.blQuiet);
  const Parsed second = Parse({"-C", "b"});
  EXPECT_FALSE(second.outcome.exit);
  EXPECT_FALSE(second.args.blQuiet);
  EXPECT_EQ(second.args.mode, CmdArgs::GetCrc);
  EXPECT_EQ(second.args.model_path, Strings{"b"});

  const Parsed bad = Parse({"-lZs"});  // stops inside a group at the unknown letter
  EXPECT_TRUE(bad.outcome.exit);
  const Parsed third = Parse({"x", "-R", "c", "y"});
  EXPECT_FALSE(third.outcome.exit);
  EXPECT_FALSE(third.args.blParseSetupBin);
  EXPECT_EQ(third.args.mode, CmdArgs::ReadHeader);
  EXPECT_EQ(third.args.model_path, Strings{"c"});
}

TEST(ReadHexKeyTest, ReadsUnsignedHexLow32Bits) {
  EXPECT_EQ(ReadHexKey("0x51A9"), 0x51A9u);
  EXPECT_EQ(ReadHexKey("51a9"), 0x51A9u);
  EXPECT_EQ(ReadHexKey(""), 0u);
  EXPECT_EQ(ReadHexKey("0x"), 0u);
  EXPECT_EQ(ReadHexKey("123456789"), 0x23456789u);
}

TEST(PathHelpersTest, ExtensionAndNameWithoutExtension) {
  EXPECT_EQ(GetFileExtention("dir/a.bnx"), "bnx");
  EXPECT_EQ(GetFileExtention("a.tar.gz"), "gz");
  EXPECT_EQ(GetFileExtention("dir.v2/name"), "v2/name");  // the last "." of the whole path
  EXPECT_EQ(GetFileExtention("name"), "");
  EXPECT_EQ(GetFileExtention("name."), "");
  EXPECT_EQ(GetFilenameWithoutExt("dir/a.bnx"), "a");
  EXPECT_EQ(GetFilenameWithoutExt("dir/a.b.bnx"), "a.b");
  EXPECT_EQ(GetFilenameWithoutExt("dir.v2/name"), "");
  EXPECT_EQ(GetFilenameWithoutExt("a.bnx/"), "a");
  EXPECT_EQ(GetFilenameWithoutExt(".hidden"), "");
  EXPECT_EQ(GetFilenameWithoutExt(""), "");
}

TEST(PathHelpersTest, FolderOfTheRunningExecutable) {
  const std::string dir = GetCurrentWorkingDirectory();
  EXPECT_EQ(dir, ExecutableFolder());
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_EQ(dir.back(), '/');
}

}  // namespace
