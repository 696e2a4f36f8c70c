// End-to-end runs of the built tool: usage and version texts, exit statuses, the
// argument checks, the output folder and the logger as the front end sets it up.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/run.h"
#include "support/usage_text.h"

namespace {

using testsupport::RunResult;
using Strings = std::vector<std::string>;

const std::string kBin = TALVEX_BIN;

const std::string kVersion =
    "talvex_bnx_utils version: 2025-09-11(a789b85)\n"
    "talvex_compiler version: 2025-09-11(c3e995af21)\n";
const std::regex kParseFailed("\\[tool\\]\\[error\\]\\[[A-Za-z0-9_]+\\.cc:[0-9]+\\]\\[main\\] failed to parse command\n");
const std::string kAbcCrc = "0x352441c2\n";

// Every run happens in a fresh folder (holding abc.bin) so the default "output" folder lands there.
class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::WriteText(dir_ / "abc.bin", "abc"); }
  RunResult Tool(const Strings& args, const Strings& env = {"SPDLOG_LEVEL="}) {
    return testsupport::RunTool(kBin, args, dir_.path(), env);
  }
  testsupport::TempDir dir_;
};

// One case per row of the exit-status table (and the -V and key-option variants).
TEST_F(CommandLineTest, ExitStatusTable) {
  const std::string U = testsupport::ExpectedUsage(kBin);
  struct Case {
    Strings args;
    int status;
    std::string err, out;
    bool logged;  // err continues with the logged "failed to parse command" line
  };
  const Case cases[] = {
      {{}, 1, U, "", false},
      {{"-C", "abc.bin", "-q", "-H"}, 0, "", U, false},
      {{"--bogus"}, 1, kBin + ": unrecognized option '--bogus'\n" + U, "", false},
      {{"-q", "-C"}, 1, kBin + ": option requires an argument -- 'C'\n" + U, "", false},
      {{"-q", "-O", "made"}, 255, U, "mode is empty\n", true},
      {{"--info", "  "}, 255, U, "model_path is empty\n", true},
      {{"--enc", "abc.bin"}, 255, U, "tv_number or customer_key is empty\n", true},
      {{"--TV", "5", "--efuse_key", "7", "-E", "abc.bin"}, 255, U, "tv_number or customer_key is empty\n", true},
      {{"-E", ""}, 255, U + U, "model_path is empty\ntv_number or customer_key is empty\n", true},
      {{"-S", "abc.bin", "-d", "0"}, 255, U + "the address file is missing: -p(--json_path)\n", "", true},
      {{"-V", "-H"}, 0, "", kVersion, false},
      {{"-C", "abc.bin"}, 0, "", kAbcCrc, false},
      {{"-C", "missing.bin"}, 255, "BNX file not exist: missing.bin\n", "", false},
      {{"--info", "missing.bin", "--crc", "abc.bin"}, 0, "", kAbcCrc, false},  // later mode wins
      {{"--crc", "abc.bin", "-V", "-q", "--bogus"}, 0, "", kVersion + kAbcCrc, false},
      {{"-C", " ", "-V"}, 255, "BNX file not exist: \n", kVersion, false},
  };
  for (const Case& c : cases) {
    const std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + std::to_string(c.args.size());
    const RunResult r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << what;
    const std::string rest = r.err.substr(std::min(c.err.size(), r.err.size()));
    if (c.logged) EXPECT_TRUE(std::regex_match(rest, kParseFailed)) << what << r.err;  // and no colour
    else EXPECT_EQ(rest, "") << what;
  }
  EXPECT_FALSE(testsupport::Exists(dir_ / "made"));  // a failed command makes no folder
}

TEST_F(CommandLineTest, CompleteArgumentsPassTheChecks) {
  for (const Strings& args : {Strings{"-G", "-t", "400", "-e", "abc.bin"}, Strings{"-S", "abc.bin", "-d", "0", "-p", "abc.bin"},
                              Strings{"-E", "abc.bin", "--TV", "5"}, Strings{"-E", "abc.bin", "--c_key", "10"},
                              Strings{"-S", "abc.bin", "-V"}}) {  // -V skips the checks
    const RunResult r = Tool(args);
    EXPECT_EQ((r.out + r.err).find("failed to parse command"), std::string::npos) << args[0] << r.out << r.err;
    EXPECT_EQ(r.err.find("<section> <options>"), std::string::npos) << args[0] << r.err;
  }
}

// -C / --crc: "0x" and lower-case hex digits of the CRC-32 of the first file named.
TEST_F(CommandLineTest, CrcModeTexts) {
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, "0xcbf43926\n"},
      {{}, "0x0\n"},
      {{0x46, 0x00, 0x5A}, "0xe8908a\n"},  // no leading zeros
      {testsupport::BuildBnx(testsupport::SampleBnx()), "0x2144df1c\n"},  // an intact container: the residue
  };
  for (const auto& [bytes, text] : cases) {
    testsupport::WriteBytes(dir_ / "f", bytes);
    const RunResult r = Tool({"-C", "f"});
    EXPECT_EQ(r.status, 0) << text;
    EXPECT_EQ(r.out + r.err, text);
  }
}

// A stored target outside the table stops the read; the program ends in order, not by abort.
TEST_F(CommandLineTest, ExceptionFromAHandlerEndsWithANonZeroStatus) {
  testsupport::SampleBnx s;
  s.target = 6;
  testsupport::WriteBytes(dir_ / "t6.bnx", testsupport::BuildBnx(s));
  const RunResult r = Tool({"-R", "t6.bnx", "-k", "target"});
  EXPECT_GT(r.status, 0);  // exited, no signal
  EXPECT_NE(r.err.find("Undefine target"), std::string::npos) << r.err;
}

}  // namespace
