// End-to-end runs of the built tool: usage and version texts, exit statuses, the
// argument checks, the output folder and the logger as the front end sets it up.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/run.h"

namespace {


using testsupport::RunResult;
using testsupport::TempDir;
using Strings = std::vector<std::string>;

const std::string kBin = TALVEX_BIN;

std::string Usage(const std::string& program) {
  return "    \n" + program +
         " <section> <options>\n\n"
         "  section list:\n"
         "    EXTRACT_BNX           : -X(--extract) <bnx_file_path> -l(--keep_all) -s(--parse_setup_bin)\n"
         "    GEN_BNX               : -G(--gen) [-h(--header) <fw_info_path> -m(--model) <all_models_path>]|"
         "[-e(--txm) <txm_path>] -t(--target) \"target\"\n"
         "    DUMP_DATA             : -I(--info) <bnx_file_path>\n"
         "    READ_BNX              : -R(--read) <bnx_file_path> -k(--header_key) \"info_key\"\n"
         "    READ_MODEL_INFO       : -M(--model_info) <bnx_file_path> -N(--model_idx) \"idx\"\n"
         "    COMBINE_BNX           : -c(--combine_bnx) BNX_1 BNX_2 BNX_3...\n"
         "    UPDATE_MODEL_INFO     : -U(--update_model_info) <bnx_file_path> --model_info_version v1,v2,v3... "
         "--model_info_name n1,n2,n3... (--replace_original)\n"
         "    UPDATE SOLUTION INFO  : --update_solution_info <bnx_file_path> --solution_id 1234 "
         "--solution_tag 5a6f7e (--replace_original)\n"
         "    POST_ENC              : -E(--enc) <bnx_file_path> [-n(--TV) \"tv_number\"] | [-f(--c_key) "
         "customer_key -g(--efuse_key) efuse_key(default: TALVEX_KEY) (-F(--key_file) file_path)]; [Linux Only]\n"
         "\n"
         "  options:\n"
         "    -o, --output    : output file name, defautl is \"model_(target)\"\n"
         "    -O, --folder    : output folder, defautl is \"output/\"\n"
         "    -V, --version   : show version number\n"
         "    -H, --help      : show this message\n"
         "    \n";
}

const std::string kVersion =
    "talvex_bnx_utils version: 2025-09-11(a789b85)\n"
    "talvex_compiler version: 2025-09-11(c3e995af21)\n";

// The logged line of a failed argument check.
const std::regex kParseFailed("\\[tool\\]\\[error\\]\\[[A-Za-z0-9_]+\\.cc:[0-9]+\\]\\[main\\] failed to parse command\n");

// Every run happens in a fresh folder so the default "output" folder lands there.
class CommandLineTest : public ::testing::Test {
 protected:
  RunResult Tool(const Strings& args, const Strings& env = {"SPDLOG_LEVEL="}) {
    Strings argv = {kBin};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, dir_.path(), env);
  }
  std::string File(const std::string& name, const std::string& content) {
    testsupport::WriteText(dir_ / name, content);
    return dir_ / name;
  }
  TempDir dir_;
};

TEST_F(CommandLineTest, NoArgumentsPrintsUsageAndExitsWithOne) {
  const RunResult r = Tool({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, Usage(kBin));
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(testsupport::Exists(dir_ / "output"));
}

TEST_F(CommandLineTest, UsageNamesTheProgramAsCalled) {
  // Through a relative path from the tool's own folder.
  const std::string folder = kBin.substr(0, kBin.rfind('/'));
  const std::string name = "./" + kBin.substr(kBin.rfind('/') + 1);
  const RunResult r = testsupport::Run({name, "-H"}, folder);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, Usage(name));
}

TEST_F(CommandLineTest, HelpExitsWithZeroAlsoAfterOtherOptions) {
  for (const Strings& args : {Strings{"-H"}, Strings{"--help"}, Strings{"-C", "x", "-q", "-H"},
                              Strings{"--enc", "x", "--help", "--bogus"}}) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.err, Usage(kBin)) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
  EXPECT_FALSE(testsupport::Exists(dir_ / "output"));
}

TEST_F(CommandLineTest, VersionAloneExitsWithZero) {
  for (const Strings& args : {Strings{"-V"}, Strings{"--version"}, Strings{"-V", "-H"}, Strings{"-q", "-V", "--bogus"}}) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_EQ(r.err, kVersion) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
}

TEST_F(CommandLineTest, VersionAfterAModeRunsThatModeWithoutTheChecks) {
  const std::string f = File("abc.bin", "abc");
  const RunResult r = Tool({"--crc", f, "-V", "-q", "--bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kVersion);
  EXPECT_EQ(r.out, "0x352441c2\n");

  // Split without its core id and json path would fail the checks; here it reaches the handler.
  const RunResult s = Tool({"-S", f, "-V"});
  EXPECT_EQ(s.err.rfind(kVersion, 0), 0u);
  EXPECT_EQ(s.out.find("failed to parse command"), std::string::npos) << s.out;
  EXPECT_EQ(s.err.find("<section> <options>"), std::string::npos);

  // A blank mode argument reaches the handler, which fails cleanly.
  const RunResult blank = Tool({"-C", " ", "-V"});
  EXPECT_EQ(blank.status, 255);
  EXPECT_EQ(blank.err, kVersion + "BNX file not exist: \n");
}

TEST_F(CommandLineTest, UnknownOptionOrMissingArgumentExitsWithOne) {
  const std::pair<Strings, std::string> cases[] = {
      {{"--bogus"}, kBin + ": unrecognized option '--bogus'\n"},
      {{"-Z", "-C", "x"}, kBin + ": invalid option -- 'Z'\n"},
      {{"-C"}, kBin + ": option requires an argument -- 'C'\n"},
      {{"-q", "--info"}, kBin + ": option '--info' requires an argument\n"},
  };
  for (const auto& [args, diagnostic] : cases) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.err, diagnostic + Usage(kBin)) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
}

TEST_F(CommandLineTest, MissingModeFailsWithItsMessageAndTheLoggedLine) {
  const RunResult r = Tool({"-q", "-O", "made"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, Usage(kBin));
  ASSERT_EQ(r.out.rfind("mode is empty\n", 0), 0u) << r.out;
  EXPECT_TRUE(std::regex_match(r.out.substr(14), kParseFailed)) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);  // not a terminal: no colour
  // The folder is made although a check failed.
  EXPECT_TRUE(testsupport::Exists(dir_ / "made"));
}

TEST_F(CommandLineTest, EmptyModelPathFails) {
  const RunResult r = Tool({"--info", "  "});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, Usage(kBin));
  ASSERT_EQ(r.out.rfind("model_path is empty\n", 0), 0u) << r.out;
  EXPECT_TRUE(std::regex_match(r.out.substr(20), kParseFailed)) << r.out;
  EXPECT_TRUE(testsupport::Exists(dir_ / "output"));
}

TEST_F(CommandLineTest, PostEncryptionNeedsADeviceKeyNumberOrCustomerKey) {
  const std::string f = File("a.bnx", "x");
  for (const Strings& args : {Strings{"--enc", f}, Strings{"--TV", "5", "--efuse_key", "7", "-E", f},
                              Strings{"-E", f, "-g", "1234"}, Strings{"-E", f, "-n", "0"}}) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, Usage(kBin));
    ASSERT_EQ(r.out.rfind("tv_number or customer_key is empty\n", 0), 0u) << r.out;
    EXPECT_TRUE(std::regex_match(r.out.substr(35), kParseFailed)) << r.out;
  }
  // Both checks run: two messages, the usage text twice.
  const RunResult both = Tool({"-E", ""});
  EXPECT_EQ(both.status, 255);
  EXPECT_EQ(both.err, Usage(kBin) + Usage(kBin));
  ASSERT_EQ(both.out.rfind("model_path is empty\ntv_number or customer_key is empty\n", 0), 0u) << both.out;
  EXPECT_TRUE(std::regex_match(both.out.substr(55), kParseFailed)) << both.out;

  // With a key the checks pass and the handler runs.
  for (const Strings& args : {Strings{"-E", f, "--TV", "5"}, Strings{"-E", f, "--c_key", "10"}}) {
    const RunResult ok = Tool(args);
    EXPECT_EQ(ok.out.find("failed to parse command"), std::string::npos) << ok.out;
    EXPECT_EQ(ok.err.find("<section> <options>"), std::string::npos) << ok.err;
  }
}

TEST_F(CommandLineTest, SplitCoreNeedsCoreIdAndJsonPath) {
  const std::string f = File("m.txm", "x");
  for (const Strings& args : {Strings{"--split_core", f}, Strings{"--split_core", f, "--core_id", "0"},
                              Strings{"-S", f, "-p", "a.json"}, Strings{"-S", f, "-p", "a.json", "-d", "-1"}}) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, Usage(kBin));
    EXPECT_TRUE(std::regex_match(r.out, kParseFailed)) << r.out;
  }
  const RunResult ok = Tool({"-S", f, "-d", "0", "-p", "a.json"});
  EXPECT_EQ(ok.out.find("failed to parse command"), std::string::npos) << ok.out;
  EXPECT_EQ(ok.err.find("<section> <options>"), std::string::npos) << ok.err;
}

TEST_F(CommandLineTest, GenerationAlonePassesTheChecks) {
  const RunResult r = Tool({"-G"});
  EXPECT_EQ(r.out.find("failed to parse command"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("<section> <options>"), std::string::npos) << r.err;
  EXPECT_TRUE(testsupport::Exists(dir_ / "output"));
}

TEST_F(CommandLineTest, HandlerResultIsTheExitStatus) {
  const std::string f = File("abc.bin", "abc");
  const RunResult ok = Tool({"-C", f});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "0x352441c2\n");
  const RunResult missing = Tool({"-C", dir_ / "missing.bin"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.out, "");
  // Later mode options win: the first file is never read.
  const RunResult later = Tool({"--info", dir_ / "missing.bin", "--crc", f});
  EXPECT_EQ(later.status, 0);
  EXPECT_EQ(later.out, "0x352441c2\n");
}

// A stored target outside the table stops the read; the program ends in order, not by abort.
TEST_F(CommandLineTest, ExceptionFromAHandlerEndsWithANonZeroStatus) {
  testsupport::SampleBnx s;
  s.target = 6;
  const std::string f = dir_ / "t6.bnx";
  testsupport::WriteBytes(f, testsupport::BuildBnx(s));
  const RunResult r = Tool({"-R", f, "-k", "target"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.status, -1);  // exited, no signal
  EXPECT_NE(r.out.find("[common][error]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Undefine target"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << r.err;
}

TEST_F(CommandLineTest, FolderOptionCreatesOneLevelButNotOnTheVersionPath) {
  const std::string f = File("abc.bin", "abc");
  EXPECT_EQ(Tool({"-C", f, "-O", "out1"}).status, 0);
  EXPECT_TRUE(testsupport::Exists(dir_ / "out1"));

  EXPECT_EQ(Tool({"-O", "out2", "-C", f, "-V"}).status, 0);
  EXPECT_FALSE(testsupport::Exists(dir_ / "out2"));
  EXPECT_EQ(Tool({"-O", "out3", "-V"}).status, 0);
  EXPECT_FALSE(testsupport::Exists(dir_ / "out3"));
  EXPECT_FALSE(testsupport::Exists(dir_ / "output"));

  const RunResult deep = Tool({"--folder", "a/b", "-C", f});
  EXPECT_EQ(deep.status, 0);
  EXPECT_FALSE(testsupport::Exists(dir_ / "a"));

  EXPECT_EQ(Tool({"-C", f}).status, 0);
  EXPECT_TRUE(testsupport::Exists(dir_ / "output"));
}

TEST_F(CommandLineTest, BadNumbersAreRejectedBeforeAnyHandlerRuns) {
  const std::string f = File("abc.bin", "abc");
  const std::pair<Strings, std::string> cases[] = {
      {{"--model_id", "abc"}, "--model_id"},       {{"-i", "99999999999"}, "--model_id"},
      {{"--core_id", "core"}, "--core_id"},         {{"-d", "2147483648"}, "--core_id"},
      {{"--model_idx", "0 x"}, "--model_idx"},      {{"-N", "1  2"}, "--model_idx"},
      {{"-N", "-2147483649"}, "--model_idx"},
  };
  for (const auto& [args, option] : cases) {
    Strings line = {"-C", f, "-O", "never"};
    line.insert(line.end(), args.begin(), args.end());
    const RunResult r = Tool(line);
    EXPECT_NE(r.status, 0) << args[1];
    EXPECT_EQ(r.out, "") << args[1];  // no CRC printed: the handler did not run
    EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"" + args[1] + "\""), std::string::npos) << r.err;
  }
  EXPECT_FALSE(testsupport::Exists(dir_ / "never"));
}

TEST_F(CommandLineTest, LogLevelsFromTheEnvironment) {
  const Strings no_mode = {"-q"};
  // The front end logs at "debug"; an error line is visible by default and with "error".
  for (const char* level : {"SPDLOG_LEVEL=", "SPDLOG_LEVEL=error", "SPDLOG_LEVEL=common=off",
                           "SPDLOG_LEVEL=tool=error,off"}) {
    const RunResult r = Tool(no_mode, {level});
    EXPECT_EQ(r.status, 255) << level;
    EXPECT_TRUE(std::regex_match(r.out.substr(std::min<size_t>(14, r.out.size())), kParseFailed))
        << level << ": " << r.out;
    EXPECT_EQ(r.err.find("failed to parse command"), std::string::npos) << level;
  }
  for (const char* level : {"SPDLOG_LEVEL=off", "SPDLOG_LEVEL=critical", "SPDLOG_LEVEL=tool=off",
                           "SPDLOG_LEVEL=mmu=trace,tool=off"}) {
    const RunResult r = Tool(no_mode, {level});
    EXPECT_EQ(r.status, 255) << level;
    EXPECT_EQ(r.out, "mode is empty\n") << level;
    EXPECT_EQ(r.err, Usage(kBin)) << level;
  }
}

}  // namespace
