#include "cli/gen_mode.h"

#include <fstream>
#include <iostream>

#include "bnx/container.h"
#include "bnx/generate.h"
#include "cli/handlers.h"
#include "common/logger.h"

std::string ReadToolchainVersion(const std::string& version_file) {
  std::string version = kToolchainVersion;
  std::ifstream in(version_file);
  std::string line;
  while (in && std::getline(in, line)) version = line;
  return version;
}

std::string GenNewBnx(const CmdArgs& args) {
  BNX_Args bnx;
  bnx.target = args.target;
  if (args.target == "200") {
    // Its schema major depends on the first setup, read from these two files.
    bnx.fw_info_path = args.fwInfo_path;
    bnx.all_models_path = args.allModels_path;
  }
  const int major = BNXUtils::GetMajorNumber(bnx);
  if (major == 2) {
    bnx.fw_info_path.clear();
    bnx.all_models_path = args.txm_path;
  } else {
    bnx.fw_info_path = args.fwInfo_path;
    bnx.all_models_path = args.allModels_path;
  }
  bnx.tv_number = 0;
  bnx.encryption_mode = static_cast<int8_t>(TalvexBNX::ENCMode::EM_None);
  bnx.platform.clear();
  // The uuid is the CRC of the payload bytes the container is built from (read once there).
  bnx.uuid_from_payload = true;
  bnx.solution_id = args.solution_id;
  bnx.solution_tag = args.solution_tag;
  bnx.toolchain_version = ReadToolchainVersion(kToolchainVersionFile);
  bnx.compiler_version = kCompilerVersion;
  bnx.models.clear();
  // Every failure throws; what comes back are notes only.
  talvex::Report(BNXUtils::GenBNXFile(bnx, args.output_name));
  return BNXUtils::GetOutputFilePath(args.target, args.output_name);
}

int GenBnx(const CmdArgs& args) {
  std::cout << BNXUtils::GetRealpath(GenNewBnx(args)) << std::endl;
  return 0;
}
