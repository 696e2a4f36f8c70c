#include "cli/driver.h"

#include <iostream>

#include "common/logger.h"
#include "common/output_dir.h"

bool CheckModeArguments(const CmdArgs& args, const char* program) {
  bool ok = true;
  if (args.mode == CmdArgs::None) {
    std::cout << "mode is empty" << std::endl;
    CmdArgs::usage(program);
    return false;
  }
  if (args.mode == CmdArgs::GenBnx) return true;
  if (args.model_path.empty()) {
    CmdArgs::usage(program);
    std::cout << "model_path is empty" << std::endl;
    ok = false;
  }
  if (args.mode == CmdArgs::PostEnc && args.tv_number == 0 && args.customer_key == 0) {
    CmdArgs::usage(program);
    std::cout << "tv_number or customer_key is empty" << std::endl;
    ok = false;
  } else if (args.mode == CmdArgs::SplitCore && (args.core_id == -1 || args.json_path.empty())) {
    CmdArgs::usage(program);
    ok = false;
  }
  return ok;
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

  if (parsed.version_stop) {
    if (args.mode == CmdArgs::None) return 0;
    return FunctionMap.at(args.mode)(args);
  }

  const bool ok = CheckModeArguments(args, argv[0]);
  BNXUtils::SetOutputDir(args.output_folder);
  if (!ok) {
    // Reported as coming from main, the program's entry point.
    SpdLog(LogCateg::Tool, kError, talvex::FailPrefix(__FILE__, __LINE__, "main") + "failed to parse command");
    return -1;
  }
  return FunctionMap.at(args.mode)(args);
}
