#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/status.h"

// The parsed command line; built once by main and handed to one mode handler.
struct CmdArgs {
  enum CMDMode : int32_t {
    ExtractBnx = 0,
    GenBnx = 1,
    BnxInfo = 2,
    ReadHeader = 3,
    ReadModelInfo = 4,
    GetCrc = 5,
    CombineBnx = 6,
    PostEnc = 7,
    TxmToJson = 8,
    SplitCore = 9,
    CheckAlignment = 10,
    UpdateModelInfo = 11,
    UpdateSolutionInfo = 12,
    None = 13,
    VerifyBnx = 14,
    DiffBnx = 15,
  };

  CmdArgs();
  // The usage text (program: argv[0]); usage() prints it on standard error.
  static std::string UsageText(const char* program);
  static void usage(const char* program);

  CMDMode mode = None;
  std::vector<std::string> model_path;
  std::string header_key;
  int32_t model_id = -1;
  int32_t core_id = -1;
  uint32_t tv_number = 0;
  uint32_t customer_key = 0;
  uint32_t efuse_key = 0;
  std::string output_name;
  std::string output_folder = "output";
  std::string json_path;
  bool blKeepAll = false;
  bool blParseSetupBin = false;
  std::string fwInfo_path;
  std::string allModels_path;
  std::string txm_path;
  std::string target;
  std::string solution_id;
  std::string solution_tag;
  std::vector<int32_t> model_idx;
  bool blQuiet = false;
  std::vector<std::string> model_info_version_vec;
  std::vector<std::string> model_info_name_vec;
  bool blReplaceOriginal = false;
  std::string key_file;
  bool blJson = false;  // --json: one JSON document on standard output instead of the text
  std::string map_path;  // --map: -I draws the memory map into this SVG file
  bool blForce = false;  // --force: -X takes apart a container that fails its integrity checks

  // First input file, or an empty text when the mode was given a blank argument.
  std::string FirstPath() const { return model_path.empty() ? std::string() : model_path[0]; }
};

using ModeHandler = std::function<talvex::Status(const CmdArgs&)>;
extern const std::map<CmdArgs::CMDMode, ModeHandler> FunctionMap;

// What option reading ended with.
struct ParseOutcome {
  bool exit = false;          // stop now with `status` (help, bad option, bad number)
  int status = 0;
  bool version_stop = false;  // -V was read: option reading stopped there
  std::vector<std::string> extra;  // words that are not options (not collected after -V)
};
// Reads the options of OptionTable() (cli/options.h) into args (getopt_long; diagnostics and
// usage printed as needed).
ParseOutcome ParseCommandLine(int argc, char** argv, CmdArgs& args);
