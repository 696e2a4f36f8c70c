#include <iostream>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/container.h"
#include "bnx/model_info.h"
#include "cli/handlers.h"
#include "cli/paths.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"
#include "txm/txm_func.h"

namespace {
// Common first step of the container commands.
bool RequireFile(const std::string& path) {
  if (BNXUtils::CheckFileExist(path)) return true;
  std::cerr << "BNX file not exist: " << path << std::endl;
  return false;
}

// With --replace_original the new file takes the input's place (when it ends in ".bnx").
std::string OutputNameFor(const CmdArgs& args, const std::string& path) {
  if (!args.blReplaceOriginal) return args.output_name;
  BNXUtils::SetOutputDir(Dirname(path));
  return GetFilenameWithoutExt(path);
}
}  // namespace

int ReadHeader(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  BNXUtils::BnxFile bnx = BNXUtils::BnxFile::Open(path);
  talvex::Report(bnx.TakeOpenStatus());
  std::cout << bnx.Key(args.header_key) << std::endl;
  return 0;
}

int GetCrc(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  uint32_t crc = 0;
  if (talvex::Report(BNXUtils::ComputeFileCRC(path, &crc)) != 0) return -1;
  std::cout << fmt::format("0x{:x}", crc) << std::endl;
  return 0;
}

int CheckAlignment(const CmdArgs& args) {
  // The verdict is the output; a missing or invalid file is simply "failed".
  const int rc = talvex::Report(TXM::CheckAlignment(args.FirstPath()));
  std::cout << fmt::format("CheckAlignment {}\n", rc == 0 ? "successfully" : "failed") << std::flush;
  return 0;
}

int ReadModelInfo(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  BNXUtils::BnxFile bnx = BNXUtils::BnxFile::Open(path);
  talvex::Report(bnx.TakeOpenStatus());
  for (int idx : args.model_idx) std::cout << BNXUtils::GetBNXModelInfo(bnx, idx) << "---------------" << std::endl;
  return 0;
}

int UpdateModelInfo(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  const std::string name = OutputNameFor(args, path);
  std::string written;
  if (talvex::Report(BNXUtils::ModifyModelInfo(path, args.model_info_version_vec, args.model_info_name_vec, name,
                                               &written)) != 0) {
    std::cerr << "Failed to update the model info of " << path << std::endl;
    return -1;
  }
  std::cout << "BNX file with updated model info has been generated in:" << std::endl;
  std::cout << BNXUtils::GetRealpath(written) << std::endl;
  return 0;
}

int UpdateSolutionInfo(const CmdArgs& args) {
  if (args.solution_id.empty() && args.solution_tag.empty()) {
    std::cerr << "[ERROR] Solution ID and Solution Tag are both empty" << std::endl;
    return -1;
  }
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  const std::string name = OutputNameFor(args, path);
  std::string written;
  if (talvex::Report(BNXUtils::ModifySolutionInfo(path, args.solution_id, args.solution_tag, name, &written)) != 0) {
    std::cerr << "Failed to update the solution info of " << path << std::endl;
    return -1;
  }
  std::cout << "BNX file with updated solution info has been generated in:" << std::endl;
  std::cout << BNXUtils::GetRealpath(written) << std::endl;
  return 0;
}
