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
using Strings = std::vector<std::string>;

const std::string kBin = TALVEX_BIN;

const std::string kVersion =
    "talvex_bnx_utils version: 2025-09-11(a789b85)\n"
    "talvex_compiler version: 2025-09-11(c3e995af21)\n";
const std::regex kParseFailed("\\[tool\\]\\[error\\]\\[[A-Za-z0-9_]+\\.cc:[0-9]+\\]\\[main\\] failed to parse command\n");
const std::string kAbcCrc = "0x352441c2\n";

// The usage text as the front end prints it, with the program name it was started by.
std::string ExpectedUsage(const std::string& program) {
  return "    \n" + program + R"txt( <section> <options>

  section list:
    EXTRACT_BNX           : -X(--extract) <bnx_file_path> -l(--keep_all) -s(--parse_setup_bin)
    GEN_BNX               : -G(--gen) [-h(--header) <fw_info_path> -m(--model) <all_models_path>]|[-e(--txm) <txm_path>] -t(--target) "target"
    DUMP_DATA             : -I(--info) <bnx_file_path>
    READ_BNX              : -R(--read) <bnx_file_path> -k(--header_key) "info_key"
    READ_MODEL_INFO       : -M(--model_info) <bnx_file_path> -N(--model_idx) "idx"
    COMBINE_BNX           : -c(--combine_bnx) BNX_1 BNX_2 BNX_3...
    UPDATE_MODEL_INFO     : -U(--update_model_info) <bnx_file_path> --model_info_version v1,v2,v3... --model_info_name n1,n2,n3... (--replace_original)
    UPDATE SOLUTION INFO  : --update_solution_info <bnx_file_path> --solution_id 1234 --solution_tag 5a6f7e (--replace_original)
    POST_ENC              : -E(--enc) <bnx_file_path> [-n(--TV) "tv_number"] | [-f(--c_key) customer_key -g(--efuse_key) efuse_key(default: TALVEX_KEY) (-F(--key_file) file_path)]; [Linux Only]
    GET_CRC               : -C(--crc) <bnx_file_path>
    TXM_TO_JSON           : -j(--txm_to_json) <txm_file_path>
    SPLIT_CORE            : -S(--split_core) <txm_file_path> -d(--core_id) core_id -p(--json_path) <addr_json_path> (-i(--model_id) model_id)
    CHECK_ALIGNMENT       : -A(--alignment) <txm_file_path>
    VERIFY_BNX            : --verify BNX_1 BNX_2... (--json)

  options:
    -o, --output    : output file name, default is "models_(target)"
    -O, --folder    : output folder, default is "output/"
    -V, --version   : show version number
    -H, --help      : show this message
    -q, --quiet     : print fewer progress lines
    -a, --solution_id : solution id of UPDATE SOLUTION INFO
    -b, --solution_tag : solution tag of UPDATE SOLUTION INFO
    -i, --model_id  : model id of SPLIT_CORE, default -1 (every model)
    -d, --core_id   : core id of SPLIT_CORE
    -p, --json_path : address json file of SPLIT_CORE
    -k, --header_key : header key of READ_BNX: platform, target, crc, tv_number, encryption_mode, compiler_version, toolchain_version, schema_version, schema_version_major, uuid, solution_id, solution_tag
    --force         : EXTRACT_BNX of a damaged container, each failing check printed as a warning
    --json          : print one JSON document instead of the text (DUMP_DATA, READ_BNX, READ_MODEL_INFO, VERIFY_BNX)
)txt" "    \n";
}

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
  const std::string U = ExpectedUsage(kBin);
  struct Case {
    Strings args;
    int status;
    std::string err, out;
    bool logged;  // err continues with the logged "failed to parse command" line
  };
  const Case cases[] = {
      {{}, 1, U, "", false},
      {{"-C", "abc.bin", "-q", "-H"}, 0, "", U, false},
      {{"--help"}, 0, "", U, false},
      {{"--bogus"}, 1, kBin + ": unrecognized option '--bogus'\n" + U, "", false},
      {{"-q", "-C"}, 1, kBin + ": option requires an argument -- 'C'\n" + U, "", false},
      {{"-q", "-O", "made"}, 255, U, "mode is empty\n", true},
      {{"--info", "  "}, 255, U, "model_path is empty\n", true},
      {{"--enc", "abc.bin"}, 255, U, "tv_number or customer_key is empty\n", true},
      {{"--TV", "5", "--efuse_key", "7", "-E", "abc.bin"}, 255, U, "tv_number or customer_key is empty\n", true},
      {{"-E", ""}, 255, U + U, "model_path is empty\ntv_number or customer_key is empty\n", true},
      {{"-S", "abc.bin", "-d", "0"}, 255, U + "the address file is missing: -p(--json_path)\n", "", true},
      {{"--version", "-H"}, 0, "", kVersion, false},
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
