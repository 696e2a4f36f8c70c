#include "cli/driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <iostream>
#include <system_error>
#include <vector>

#include "cli/gen_mode.h"
#include "cli/handlers.h"
#include "cli/json_report.h"
#include "cli/options.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"

namespace {

// The option that chose the mode, as the usage text names it ("-R(--read)").
std::string ModeOptionName(CmdArgs::CMDMode mode) {
  for (const OptionSpec& spec : OptionTable()) {
    if (spec.kind == OptionSpec::Kind::kMode && spec.mode == mode) {
      return spec.short_name != 0 ? UsageName(spec.short_name) : UsageName(spec.long_name);
    }
  }
  return "the mode option";
}

// Modes that read exactly one input file.
bool TakesOneFile(CmdArgs::CMDMode mode) {
  switch (mode) {
    case CmdArgs::ReadHeader:
    case CmdArgs::ReadModelInfo:
    case CmdArgs::GetCrc:
    case CmdArgs::CheckAlignment:
    case CmdArgs::TxmToJson:
    case CmdArgs::SplitCore:
    case CmdArgs::UpdateModelInfo:
    case CmdArgs::UpdateSolutionInfo:
    case CmdArgs::BnxInfo:
      return true;
    default:
      return false;
  }
}

// Modes that write files into the output folder. The others only read and print, or write
// beside their input, and must not leave an output folder behind.
bool WritesFiles(const CmdArgs& args) {
  switch (args.mode) {
    case CmdArgs::UpdateModelInfo:
    case CmdArgs::UpdateSolutionInfo:
      return !args.blReplaceOriginal;  // the new file takes the input's place
    case CmdArgs::ReadHeader:
    case CmdArgs::ReadModelInfo:
    case CmdArgs::GetCrc:
    case CmdArgs::CheckAlignment:
    case CmdArgs::VerifyBnx:
    case CmdArgs::DiffBnx:
    case CmdArgs::None:
      return false;
    case CmdArgs::BnxInfo:
      return args.blParseSetupBin;
    default:
      return true;
  }
}

// Modes whose --json document lists the files they wrote (the text they print is not shown).
bool ListsWrittenFiles(CmdArgs::CMDMode mode) {
  switch (mode) {
    case CmdArgs::GenBnx:
    case CmdArgs::ExtractBnx:
    case CmdArgs::CombineBnx:
    case CmdArgs::PostEnc:
    case CmdArgs::UpdateModelInfo:
    case CmdArgs::UpdateSolutionInfo:
    case CmdArgs::TxmToJson:
    case CmdArgs::SplitCore:
      return true;
    default:
      return false;
  }
}

// The handler's failure, its lines for standard output moved to standard error: with --json
// standard output holds the document alone.
talvex::Status OnStderr(const talvex::Status& st) {
  talvex::Status out(st.code());
  for (talvex::Message m : st.messages()) {
    if (m.sink == talvex::Sink::kStdout) m.sink = talvex::Sink::kStderr;
    out.Add(std::move(m));
  }
  return out;
}

// The files -j and -S read; a missing one is named with its option. (The generation checks
// its own inputs, which depend on the target.)
// What a special file is, or nullptr for a regular file, a folder or nothing at all.
const char* SpecialKind(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return nullptr;
  if (S_ISFIFO(st.st_mode)) return "a named pipe";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return nullptr;
}

bool CheckInputFiles(const CmdArgs& args) {
  // A pipe or a device would be waited on, or read without end (-E checks its key file itself).
  std::vector<std::string> inputs = {args.fwInfo_path, args.allModels_path, args.txm_path, args.json_path};
  inputs.insert(inputs.end(), args.model_path.begin(), args.model_path.end());
  bool special = false;
  for (const std::string& path : inputs) {
    if (const char* kind = SpecialKind(path)) {
      std::cerr << "not a regular file: " << path << " (" << kind << ")" << std::endl;
      special = true;
    }
  }
  if (special) return false;
  if (args.mode != CmdArgs::TxmToJson && args.mode != CmdArgs::SplitCore) return true;
  bool ok = true;
  if (!args.model_path.empty() && !args.model_path[0].empty() && !talvex::FileExists(args.model_path[0])) {
    std::cerr << "no such file: " << args.model_path[0] << " (" << ModeOptionName(args.mode) << ")" << std::endl;
    ok = false;
  }
  if (args.mode == CmdArgs::SplitCore && !args.json_path.empty() && !talvex::FileExists(args.json_path)) {
    std::cerr << "no such file: " << args.json_path << " (" << UsageName('p') << ")" << std::endl;
    ok = false;
  }
  return ok;
}

// Every file the command reads; an output may replace the mode's own input only with
// --replace_original.
void ProtectCommandInputs(const CmdArgs& args) {
  std::vector<std::string> inputs = {args.fwInfo_path, args.allModels_path, args.txm_path, args.json_path,
                                     args.key_file};
  if (!args.blReplaceOriginal) inputs.insert(inputs.end(), args.model_path.begin(), args.model_path.end());
  talvex::ProtectInputs(inputs);
  talvex::AllowReplacing(args.blReplaceOriginal ? args.model_path : std::vector<std::string>{});
}

// Creates the output folder (with its parents) for a mode that writes; false, with the folder
// and the reason on standard error, when it cannot be made: then nothing may be written.
bool PrepareOutputFolder(const CmdArgs& args) {
  // An explicitly empty -O "" asks for the working folder itself.
  if (!WritesFiles(args) || args.output_folder.empty()) return true;
  const talvex::Status made = BNXUtils::SetOutputDir(args.output_folder);
  if (made.ok()) return true;
  std::cerr << "Failed to create the output folder " << args.output_folder << " (" << made.Reason() << ")" << std::endl;
  return false;
}

// The folders that creating the output folder will make, deepest first.
std::vector<std::string> FoldersToMake(const CmdArgs& args) {
  std::vector<std::string> missing;
  if (!WritesFiles(args) || args.output_folder.empty()) return missing;
  std::string path = args.output_folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::error_code ec;
  for (std::filesystem::path p(path); !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
    if (ec) break;
    missing.push_back(p.string());
  }
  return missing;
}

// A command that failed leaves no empty folder of its own making behind; anything it did
// write (or anything else put there meanwhile) keeps the folder.
void RemoveEmptyFolders(const std::vector<std::string>& made) {
  for (const std::string& dir : made) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec) || !std::filesystem::is_empty(dir, ec) || ec) return;
    if (!std::filesystem::remove(dir, ec)) return;
  }
}

// Every input that changed while it was read fails the command, whatever it made of it.
int ReportChangedInputs(int status) {
  const talvex::Status changed = talvex::CheckInputsUnchanged();
  talvex::Report(changed);
  return changed.ok() ? status : (status != 0 ? status : -1);
}

int RunHandler(const CmdArgs& args) {
  const std::vector<std::string> made = FoldersToMake(args);
  if (!PrepareOutputFolder(args)) return -1;
  // A container rewritten in place is held from before it is read until it is replaced, so
  // that concurrent rewrites take turns instead of each undoing the others.
  std::vector<std::unique_ptr<talvex::FileLock>> locks;
  if (args.blReplaceOriginal) {
    for (const std::string& path : args.model_path) locks.push_back(std::make_unique<talvex::FileLock>(path));
  }
  // A failed command takes back the files it put in place (-l keeps what was made).
  talvex::BeginOutputs();
  const auto finish = [&](int status) {
    if (status == 0 || args.blKeepAll) {
      talvex::KeepOutputs();
    } else {
      talvex::UndoOutputs();
    }
    if (status != 0) RemoveEmptyFolders(made);
  };
  int status = -1;
  const bool list_files = args.blJson && ListsWrittenFiles(args.mode);
  auto quiet = list_files ? std::make_unique<SilencedStdout>() : nullptr;
  try {
    const talvex::Status done = FunctionMap.at(args.mode)(args);
    quiet.reset();
    status = ReportChangedInputs(talvex::Report(list_files ? OnStderr(done) : done));
    if (status == 0 && list_files) PrintJson(WrittenFilesJson(talvex::PlacedOutputs()));
  } catch (...) {
    // Reported (and given its status) by main; what the command wrote goes all the same.
    finish(-1);
    throw;
  }
  finish(status);
  return status;
}

}  // namespace

bool CheckModeArguments(const CmdArgs& args, const char* program) {
  bool ok = true;
  if (args.mode == CmdArgs::None) {
    std::cout << "mode is empty" << std::endl;
    CmdArgs::usage(program);
    return false;
  }
  if (args.mode == CmdArgs::GenBnx) return CheckGenArguments(args);
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
    if (args.core_id == -1) std::cerr << "the core id is missing: " << UsageName('d') << std::endl;
    if (args.json_path.empty()) std::cerr << "the address file is missing: " << UsageName('p') << std::endl;
    ok = false;
  }
  if (args.blForce && args.mode != CmdArgs::ExtractBnx) {
    std::cerr << UsageName("force") << " applies to " << UsageName('X') << " only, not to "
              << ModeOptionName(args.mode) << std::endl;
    ok = false;
  }
  if (TakesOneFile(args.mode) && args.model_path.size() > 1) {
    std::cerr << ModeOptionName(args.mode) << " takes one file; refusing the extra file " << args.model_path[1]
              << std::endl;
    ok = false;
  }
  return CheckInputFiles(args) && ok;
}

namespace {

int RunMainAs(int argc, char** argv, CmdArgs& args) {
  InitLoggers(1, true, "", "%^[%n][%l]%v%$");
  if (argc < 2) {
    CmdArgs::usage(argv[0]);
    return 1;
  }
  const ParseOutcome parsed = ParseCommandLine(argc, argv, args);
  // A bad option of --diff must not read as "the files differ".
  if (parsed.exit) return args.mode == CmdArgs::DiffBnx && parsed.status == kDiffersStatus ? -1 : parsed.status;

  // Words that are not options: more containers for the modes that take several, else refused.
  if (!parsed.extra.empty() && args.mode != CmdArgs::None) {
    if (args.mode == CmdArgs::ExtractBnx || args.mode == CmdArgs::CombineBnx || args.mode == CmdArgs::VerifyBnx ||
        args.mode == CmdArgs::DiffBnx) {
      args.model_path.insert(args.model_path.end(), parsed.extra.begin(), parsed.extra.end());
    } else {
      std::cerr << "unexpected argument: " << parsed.extra[0] << " (" << ModeOptionName(args.mode)
                << " takes no further file)" << std::endl;
      CmdArgs::usage(argv[0]);
      return 1;
    }
  }
  ProtectCommandInputs(args);
  // -q: no debug lines (the default level shows them), unless SPDLOG_LEVEL asks for them.
  if (args.blQuiet && GetEnv("SPDLOG_LEVEL").empty()) {
    for (int c = 0; c < static_cast<int>(LogCateg::LOG_CATEG_SIZE); ++c) SetLogLevel(static_cast<LogCateg>(c), kInfo);
  }

  if (parsed.version_stop) {
    if (args.mode == CmdArgs::None) return 0;
    // Even on this short path a mode that writes gets its folder, never the current one.
    return RunHandler(args);
  }

  if (!CheckModeArguments(args, argv[0])) {
    // Reported as coming from main, the program's entry point.
    SpdLog(LogCateg::Tool, kError, talvex::FailPrefix(__FILE__, __LINE__, "main") + "failed to parse command");
    return -1;
  }
  return RunHandler(args);
}

}  // namespace

int RunMain(int argc, char** argv) {
  CmdArgs args;
  const int status = RunMainAs(argc, argv, args);
  // --diff keeps the statuses of diff(1): 1 says the files differ, so any failure (its handler's
  // too) is 2.
  if (args.mode == CmdArgs::DiffBnx && status != 0 && status != kDiffersStatus) return 2;
  return status;
}
