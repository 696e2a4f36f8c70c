#include "cli/gen_mode.h"

#include <fstream>
#include <iostream>

#include "bnx/container.h"
#include "bnx/generate.h"
#include "cli/handlers.h"
#include "common/file_io.h"
#include "common/format_ids.h"
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
  // Only TZ400 and TZ600 carry a TXM file; TZ200's major (0 or 1) is the generator's to find.
  const int index = talvex::TargetIndex(args.target);
  if (index == 3 || index == 5) {
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

namespace {
std::string ValidTargets() {
  std::string out;
  for (const char* t : talvex::kTargetTexts) out += (out.empty() ? "" : ", ") + std::string(t);
  return out;
}

}  // namespace

bool CheckGenArguments(const CmdArgs& args) {
  if (args.target.empty()) {
    std::cerr << "the target is missing: -t(--target), one of " << ValidTargets() << std::endl;
    return false;
  }
  const int index = talvex::TargetIndex(args.target);
  if (index < 0) {
    std::cerr << "unknown target: " << args.target << " (valid targets: " << ValidTargets() << ")" << std::endl;
    return false;
  }
  // TZ400 and TZ600 carry one TXM file; the others all_models.bin (with fw_info.bin).
  const bool txm = index == 3 || index == 5;
  bool ok = true;
  if (txm && args.txm_path.empty()) {
    std::cerr << "the TXM file is missing: -e(--txm) <txm_path> (target " << args.target << ")" << std::endl;
    ok = false;
  }
  // Every legacy container carries fw_info.bin: readers find the models through it.
  if (!txm && args.fwInfo_path.empty()) {
    std::cerr << "the fw_info file is missing: -h(--header) <fw_info_path> (target " << args.target << ")"
              << std::endl;
    ok = false;
  }
  if (!txm && args.allModels_path.empty()) {
    std::cerr << "the all_models file is missing: -m(--model) <all_models_path> (target " << args.target << ")"
              << std::endl;
    ok = false;
  }
  // Only the files this target reads are looked at; each missing one is named with its option.
  const struct {
    std::string path;
    const char* option;
  } inputs[] = {{txm ? args.txm_path : args.fwInfo_path, txm ? "-e(--txm)" : "-h(--header)"},
                {txm ? std::string() : args.allModels_path, "-m(--model)"}};
  for (const auto& in : inputs) {
    if (in.path.empty() || talvex::FileExists(in.path)) continue;
    std::cerr << "no such file: " << in.path << " (" << in.option << ")" << std::endl;
    ok = false;
  }
  return ok;
}

talvex::Status GenBnx(const CmdArgs& args) {
  if (!CheckGenArguments(args)) return talvex::Status(-1);  // each problem was named
  // The container must not take the place of its own TXM or all_models file.
  talvex::Status st = talvex::CheckNotInput(BNXUtils::GetOutputFilePath(args.target, args.output_name));
  if (!StepOk(st)) return st;
  std::cout << BNXUtils::GetRealpath(GenNewBnx(args)) << std::endl;
  return {};
}
