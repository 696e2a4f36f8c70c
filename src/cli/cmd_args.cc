#include "cli/cmd_args.h"

#include <getopt.h>

#include <algorithm>
#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "cli/options.h"
#include "cli/paths.h"
#include "cli/version.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/strings.h"
#include "encoder/encoder.h"

namespace {

void PrintVersion() { std::cout << kToolchainVersion << "\n" << kCompilerVersion << "\n"; }

// The usage text's option list: "    -o, --output    : " + help, in the table's usage order.
std::string OptionLines() {
  std::vector<const OptionSpec*> listed;
  for (const OptionSpec& spec : OptionTable()) {
    if (spec.usage_rank != 0) listed.push_back(&spec);
  }
  std::sort(listed.begin(), listed.end(), [](const auto* a, const auto* b) { return a->usage_rank < b->usage_rank; });
  std::string keys;
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) keys += (keys.empty() ? "" : ", ") + std::string(k.name);
  std::string out;
  for (const OptionSpec* spec : listed) {
    const std::string names = spec->short_name != 0 ? fmt::format("-{}, --{}", spec->short_name, spec->long_name)
                                                    : fmt::format("--{}", spec->long_name);
    std::string help = spec->help;
    const size_t at = help.find("{keys}");
    if (at != std::string::npos) help.replace(at, 6, keys);
    // Longer names keep one blank before the colon.
    out += fmt::format("    {:<16}: {}\n", names.size() < 16 ? names : names + " ", help);
  }
  return out;
}

}  // namespace

CmdArgs::CmdArgs() : efuse_key(kTalvexKey), key_file(GetCurrentWorkingDirectory() + "talvex_bnx_utils") {}

std::string CmdArgs::UsageText(const char* program) {
  // argv[0] may be null when the program is started with an empty argument list.
  if (program == nullptr) program = "talvex_bnx_utils";
  const auto n = [](char c) { return UsageName(c); };
  std::string s = "    \n" + std::string(program) + " <section> <options>\n\n  section list:\n";
  s += "    EXTRACT_BNX           : " + n('X') + " <bnx_file_path> " + n('l') + " " + n('s') + "\n";
  s += "    GEN_BNX               : " + n('G') + " [" + n('h') + " <fw_info_path> " + n('m') + " <all_models_path>]|[" +
       n('e') + " <txm_path>] " + n('t') + " \"target\"\n";
  s += "    DUMP_DATA             : " + n('I') + " <bnx_file_path>\n";
  s += "    READ_BNX              : " + n('R') + " <bnx_file_path> " + n('k') + " \"info_key\"\n";
  s += "    READ_MODEL_INFO       : " + n('M') + " <bnx_file_path> " + n('N') + " \"idx\"\n";
  s += "    COMBINE_BNX           : " + n('c') + " BNX_1 BNX_2 BNX_3...\n";
  s += "    UPDATE_MODEL_INFO     : " + n('U') + " <bnx_file_path> " + UsageName("model_info_version") + " v1,v2,v3... " +
       UsageName("model_info_name") + " n1,n2,n3... (" + UsageName("replace_original") + ")\n";
  s += "    UPDATE SOLUTION INFO  : " + UsageName("update_solution_info") + " <bnx_file_path> " +
       UsageName("solution_id") + " 1234 " + UsageName("solution_tag") + " 5a6f7e (" + UsageName("replace_original") +
       ")\n";
  s += "    POST_ENC              : " + n('E') + " <bnx_file_path> [" + n('n') + " \"tv_number\"] | [" + n('f') +
       " customer_key " + n('g') + " efuse_key(default: TALVEX_KEY) (" + n('F') + " file_path)]; [Linux Only]\n";
  s += "    GET_CRC               : " + n('C') + " <bnx_file_path>\n";
  s += "    TXM_TO_JSON           : " + n('j') + " <txm_file_path>\n";
  s += "    SPLIT_CORE            : " + n('S') + " <txm_file_path> " + n('d') + " core_id " + n('p') +
       " <addr_json_path> (" + n('i') + " model_id)\n";
  s += "    CHECK_ALIGNMENT       : " + n('A') + " <txm_file_path>\n";
  s += "    VERIFY_BNX            : " + UsageName("verify") + " BNX_1 BNX_2... (" + UsageName("json") + ")\n";
  s += "    DIFF_BNX              : " + UsageName("diff") + " BNX_A BNX_B (" + UsageName("json") + ")\n";
  s += "\n  options:\n" + OptionLines();
  s += "    \n";
  return s;
}

void CmdArgs::usage(const char* program) { std::cerr << UsageText(program); }

ParseOutcome ParseCommandLine(int argc, char** argv, CmdArgs& args) {
  ParseOutcome outcome;
  static const std::string short_options = ShortOptionString();
  static const std::vector<option> long_options = LongOptionArray();
  // 0, not 1: glibc then also drops its inner state (a half-read option group, the
  // argument permutation) left by an earlier parse that stopped early.
  optind = 0;
  int id;
  while ((id = getopt_long(argc, argv, short_options.c_str(), long_options.data(), nullptr)) != -1) {
    const OptionSpec* spec = FindOption(id);
    if (spec == nullptr) {  // getopt_long has printed its own diagnostic
      CmdArgs::usage(argv[0]);
      outcome.exit = true;
      outcome.status = 1;
      return outcome;
    }
    const std::string arg = optarg != nullptr ? optarg : "";
    switch (spec->kind) {
      case OptionSpec::Kind::kMode:
        args.mode = spec->mode;
        // A name with blanks that names a file is that file; otherwise blanks separate files.
        if (spec->takes_arg) {
          args.model_path = talvex::FileExists(arg) ? std::vector<std::string>{arg} : SplitStr(arg, ' ');
        }
        break;
      case OptionSpec::Kind::kVersion:
        PrintVersion();
        outcome.version_stop = true;
        return outcome;
      case OptionSpec::Kind::kHelp:
        // Asked for: the usage is the output, on standard output.
        std::cout << CmdArgs::UsageText(argv[0]) << std::flush;
        outcome.exit = true;
        outcome.status = 0;
        return outcome;
      case OptionSpec::Kind::kSet: {
        const talvex::Status st = spec->set(args, arg);
        if (!st.ok()) {
          outcome.exit = true;
          outcome.status = talvex::Report(st);
          return outcome;
        }
        break;
      }
    }
  }
  for (int i = optind; i < argc; ++i) outcome.extra.push_back(argv[i]);
  return outcome;
}
