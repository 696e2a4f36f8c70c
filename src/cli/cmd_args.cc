#include "cli/cmd_args.h"

#include <getopt.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "cli/paths.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"

namespace {

constexpr const char* kToolVersion = "talvex_bnx_utils version: ";
constexpr const char* kCompilerVersion = "talvex_compiler version: ";
constexpr const char* kBuildDate = "2025-09-11";
constexpr const char* kToolBuildId = "a789b85";
constexpr const char* kCompilerBuildId = "c3e995af21";

constexpr const char* kShortOptions = "X:lsGh:m:e:t:a:b:I:R:k:M:N:C:c:E:n:j:A:S:i:d:p:o:O:VHqf:g:F:U:";

enum LongOnly : int {
  kModelInfoVersion = 10001,
  kModelInfoName = 10002,
  kReplaceOriginal = 10003,
  kUpdateSolutionInfo = 10004,
};

const struct option kLongOptions[] = {
    {"extract", required_argument, nullptr, 'X'},
    {"keep_all", no_argument, nullptr, 'l'},
    {"parse_setup_bin", no_argument, nullptr, 's'},
    {"gen", no_argument, nullptr, 'G'},
    {"header", required_argument, nullptr, 'h'},
    {"model", required_argument, nullptr, 'm'},
    {"txm", required_argument, nullptr, 'e'},
    {"target", required_argument, nullptr, 't'},
    {"solution_id", required_argument, nullptr, 'a'},
    {"solution_tag", required_argument, nullptr, 'b'},
    {"info", required_argument, nullptr, 'I'},
    {"read", required_argument, nullptr, 'R'},
    {"header_key", required_argument, nullptr, 'k'},
    {"model_info", required_argument, nullptr, 'M'},
    {"model_idx", required_argument, nullptr, 'N'},
    {"crc", required_argument, nullptr, 'C'},
    {"combine_bnx", required_argument, nullptr, 'c'},
    {"enc", required_argument, nullptr, 'E'},
    {"TV", required_argument, nullptr, 'n'},
    {"txm_to_json", required_argument, nullptr, 'j'},
    {"alignment", required_argument, nullptr, 'A'},
    {"split_core", required_argument, nullptr, 'S'},
    {"model_id", required_argument, nullptr, 'i'},
    {"core_id", required_argument, nullptr, 'd'},
    {"json_path", required_argument, nullptr, 'p'},
    {"output", required_argument, nullptr, 'o'},
    {"folder", required_argument, nullptr, 'O'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'H'},
    {"quiet", no_argument, nullptr, 'q'},
    {"c_key", required_argument, nullptr, 'f'},
    {"efuse_key", required_argument, nullptr, 'g'},
    {"key_file", required_argument, nullptr, 'F'},
    {"update_model_info", required_argument, nullptr, 'U'},
    {"model_info_version", required_argument, nullptr, kModelInfoVersion},
    {"model_info_name", required_argument, nullptr, kModelInfoName},
    {"replace_original", no_argument, nullptr, kReplaceOriginal},
    {"update_solution_info", required_argument, nullptr, kUpdateSolutionInfo},
    {nullptr, 0, nullptr, 0},
};

void PrintVersion() {
  std::cerr << kToolVersion << kBuildDate << "(" << kToolBuildId << ")" << "\n"
            << kCompilerVersion << kBuildDate << "(" << kCompilerBuildId << ")" << "\n";
}

// A bad number on the command line: named with its option and value.
struct BadNumber : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int32_t ReadDecimal(const char* option, const std::string& text) {
  try {
    return std::stoi(text);
  } catch (const std::exception&) {
    throw BadNumber(std::string("invalid value for ") + option + ": \"" + text +
                    "\" (expected a decimal integer in the signed 32-bit range)");
  }
}

std::vector<int32_t> ReadDecimalList(const char* option, const std::string& text) {
  try {
    return Str2Ints(text, ' ');
  } catch (const std::exception&) {
    throw BadNumber(std::string("invalid value for ") + option + ": \"" + text +
                    "\" (expected decimal integers in the signed 32-bit range, separated by single spaces)");
  }
}

void SelectMode(CmdArgs& args, CmdArgs::CMDMode mode, const char* arg) {
  args.mode = mode;
  args.model_path = SplitStr(arg, ' ');
}

}  // namespace

uint32_t ReadHexKey(const std::string& text) {
  return static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 16));
}

CmdArgs::CmdArgs() : efuse_key(ReadHexKey("0x51A9")), key_file(GetCurrentWorkingDirectory() + "talvex_bnx_utils") {}

void CmdArgs::usage(const char* program) {
  // argv[0] may be null when the program is started with an empty argument list.
  if (program == nullptr) program = "talvex_bnx_utils";
  std::cerr << "    \n"
            << program << " <section> <options>\n\n"
            << "  section list:\n"
            << "    EXTRACT_BNX           : -X(--extract) <bnx_file_path> -l(--keep_all) -s(--parse_setup_bin)\n"
            << "    GEN_BNX               : -G(--gen) [-h(--header) <fw_info_path> -m(--model) <all_models_path>]|[-e(--txm) <txm_path>] -t(--target) \"target\"\n"
            << "    DUMP_DATA             : -I(--info) <bnx_file_path>\n"
            << "    READ_BNX              : -R(--read) <bnx_file_path> -k(--header_key) \"info_key\"\n"
            << "    READ_MODEL_INFO       : -M(--model_info) <bnx_file_path> -N(--model_idx) \"idx\"\n"
            << "    COMBINE_BNX           : -c(--combine_bnx) BNX_1 BNX_2 BNX_3...\n"
            << "    UPDATE_MODEL_INFO     : -U(--update_model_info) <bnx_file_path> --model_info_version v1,v2,v3... --model_info_name n1,n2,n3... (--replace_original)\n"
            << "    UPDATE SOLUTION INFO  : --update_solution_info <bnx_file_path> --solution_id 1234 --solution_tag 5a6f7e (--replace_original)\n"
            << "    POST_ENC              : -E(--enc) <bnx_file_path> [-n(--TV) \"tv_number\"] | [-f(--c_key) customer_key -g(--efuse_key) efuse_key(default: TALVEX_KEY) (-F(--key_file) file_path)]; [Linux Only]\n"
            << "\n"
            << "  options:\n"
            << "    -o, --output    : output file name, defautl is \"model_(target)\"\n"
            << "    -O, --folder    : output folder, defautl is \"output/\"\n"
            << "    -V, --version   : show version number\n"
            << "    -H, --help      : show this message\n"
            << "    \n";
}

ParseOutcome ParseCommandLine(int argc, char** argv, CmdArgs& args) {
  ParseOutcome outcome;
  // 0, not 1: glibc then also drops its inner state (a half-read option group, the
  // argument permutation) left by an earlier parse that stopped early.
  optind = 0;
  try {
    int opt;
    while ((opt = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
      const std::string arg = optarg != nullptr ? optarg : "";
      switch (opt) {
        case 'X': SelectMode(args, CmdArgs::ExtractBnx, optarg); break;
        case 'l': args.blKeepAll = true; break;
        case 's': args.blParseSetupBin = true; break;
        case 'G': args.mode = CmdArgs::GenBnx; break;
        case 'h': args.fwInfo_path = arg; break;
        case 'm': args.allModels_path = arg; break;
        case 'e': args.txm_path = arg; break;
        case 't': args.target = arg; break;
        case 'a': args.solution_id = arg; break;
        case 'b': args.solution_tag = arg; break;
        case 'I': SelectMode(args, CmdArgs::BnxInfo, optarg); break;
        case 'R': SelectMode(args, CmdArgs::ReadHeader, optarg); break;
        case 'k': args.header_key = arg; break;
        case 'M': SelectMode(args, CmdArgs::ReadModelInfo, optarg); break;
        case 'N': args.model_idx = ReadDecimalList("--model_idx", arg); break;
        case 'C': SelectMode(args, CmdArgs::GetCrc, optarg); break;
        case 'c': SelectMode(args, CmdArgs::CombineBnx, optarg); break;
        case 'E': SelectMode(args, CmdArgs::PostEnc, optarg); break;
        case 'n':
          args.tv_number = ReadHexKey(arg.rfind("0x", 0) == 0 ? arg : "0x" + arg);
          args.customer_key = 0;
          args.efuse_key = 0;
          break;
        case 'j': SelectMode(args, CmdArgs::TxmToJson, optarg); break;
        case 'A': SelectMode(args, CmdArgs::CheckAlignment, optarg); break;
        case 'S': SelectMode(args, CmdArgs::SplitCore, optarg); break;
        case 'i': args.model_id = ReadDecimal("--model_id", arg); break;
        case 'd': args.core_id = ReadDecimal("--core_id", arg); break;
        case 'p': args.json_path = arg; break;
        case 'o': args.output_name = arg; break;
        case 'O': args.output_folder = arg; break;
        case 'V':
          PrintVersion();
          outcome.version_stop = true;
          return outcome;
        case 'H':
          CmdArgs::usage(argv[0]);
          outcome.exit = true;
          outcome.status = 0;
          return outcome;
        case 'q': args.blQuiet = true; break;
        case 'f':
          args.customer_key = ReadHexKey(arg);
          args.tv_number = 0;
          break;
        case 'g':
          args.efuse_key = ReadHexKey(arg);
          args.tv_number = 0;
          break;
        case 'F': args.key_file = arg; break;
        case 'U': SelectMode(args, CmdArgs::UpdateModelInfo, optarg); break;
        case kModelInfoVersion: args.model_info_version_vec = SplitStr(arg, ','); break;
        case kModelInfoName: args.model_info_name_vec = SplitStr(arg, ','); break;
        case kReplaceOriginal: args.blReplaceOriginal = true; break;
        case kUpdateSolutionInfo: SelectMode(args, CmdArgs::UpdateSolutionInfo, optarg); break;
        default:  // getopt_long has printed its own diagnostic
          CmdArgs::usage(argv[0]);
          outcome.exit = true;
          outcome.status = 1;
          return outcome;
      }
    }
    // "-c BNX_1 BNX_2 ...": the containers after the first one arrive as arguments of their own.
    if (args.mode == CmdArgs::CombineBnx) {
      for (int i = optind; i < argc; ++i) args.model_path.push_back(argv[i]);
    }
  } catch (const BadNumber& e) {
    std::cerr << e.what() << std::endl;
    outcome.exit = true;
    outcome.status = 1;
  }
  return outcome;
}

int RunMain(int argc, char** argv) {
  InitLoggers(1, true, "", "%^[%n][%l]%v%$");
  CmdArgs args;
  if (argc < 2) {
    CmdArgs::usage(argv[0]);
    return 1;
  }
  const ParseOutcome parsed = ParseCommandLine(argc, argv, args);
  if (parsed.exit) return parsed.status;
  const bool version_stop = parsed.version_stop;

  if (version_stop) {
    if (args.mode == CmdArgs::None) return 0;
    return FunctionMap.at(args.mode)(args);
  }

  bool failed = false;
  if (args.mode == CmdArgs::None) {
    std::cout << "mode is empty" << std::endl;
    CmdArgs::usage(argv[0]);
    failed = true;
  } else if (args.mode != CmdArgs::GenBnx) {
    if (args.model_path.empty()) {
      CmdArgs::usage(argv[0]);
      std::cout << "model_path is empty" << std::endl;
      failed = true;
    }
    if (args.mode == CmdArgs::PostEnc && args.tv_number == 0 && args.customer_key == 0) {
      CmdArgs::usage(argv[0]);
      std::cout << "tv_number or customer_key is empty" << std::endl;
      failed = true;
    } else if (args.mode == CmdArgs::SplitCore && (args.core_id == -1 || args.json_path.empty())) {
      CmdArgs::usage(argv[0]);
      failed = true;
    }
  }

  BNXUtils::SetOutputDir(args.output_folder);

  if (failed) {
    // Reported as coming from main, the program's entry point.
    SpdLog(LogCateg::Tool, kError, talvex::FailPrefix(__FILE__, __LINE__, "main") + "failed to parse command");
    return -1;
  }
  return FunctionMap.at(args.mode)(args);
}
