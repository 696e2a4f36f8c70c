#include <iostream>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/container.h"
#include "bnx/model_info.h"
#include "bnx/verify.h"
#include "cli/handlers.h"
#include "cli/json_report.h"
#include "cli/options.h"
#include "cli/paths.h"
#include "common/exceptions.h"
#include "common/file_io.h"
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

// The opened container, or -1 after saying why: missing ("BNX file not exist: "), empty,
// unreadable, a folder, or not a valid container. A command never reports on a file it could
// not read as if it were empty.
int OpenOrReport(const std::string& path, BNXUtils::BnxFile& bnx) {
  return talvex::Report(BNXUtils::BnxFile::Open(path, bnx)) != 0 ? -1 : 0;
}

std::string HeaderKeyList() {
  std::string out;
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) out += (out.empty() ? "" : ", ") + std::string(k.name);
  return out;
}

// Texts the container is to hold must be UTF-8, or the JSON reports could not hold them as they
// are; false, after naming the option and the offending value (mended, to be printable).
bool RequireUtf8(const char* option, const std::vector<std::string>& values) {
  for (const std::string& v : values) {
    if (!IsValidUtf8(v)) {
      std::cerr << UsageName(option) << ": \"" << ToValidUtf8(v) << "\" is not valid UTF-8" << std::endl;
      return false;
    }
  }
  return true;
}

// With --replace_original the new file takes the input's place (when it ends in ".bnx").
std::string OutputNameFor(const CmdArgs& args, const std::string& path) {
  if (!args.blReplaceOriginal) return args.output_name;
  // A bare file name lies in the working folder.
  const std::string dir = Dirname(path);
  (void)BNXUtils::SetOutputDir(dir.empty() ? "." : dir);  // it holds the input, so it exists
  return GetFilenameWithoutExt(path);
}
// Opens and checks the input and fixes the output name; refuses, before anything is written, a
// damaged container, or an output that would replace the input without --replace_original
// (the default output folder may well hold the input already).
int PrepareRewrite(const CmdArgs& args, const std::string& path, BNXUtils::BnxFile& bnx, std::string& name) {
  if (talvex::Report(BNXUtils::OpenForUse(path, bnx)) != 0) return -1;
  std::string target;
  try {
    target = bnx.target();
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
    return -1;
  }
  name = OutputNameFor(args, path);
  return talvex::Report(talvex::CheckNotInput(BNXUtils::GetOutputFilePath(target, name))) != 0 ? -1 : 0;
}
}  // namespace

int ReadHeader(const CmdArgs& args) {
  if (args.header_key.empty()) {
    std::cerr << "the header key is missing: -k(--header_key) one of " << HeaderKeyList() << std::endl;
    return -1;
  }
  if (!BNXUtils::FindHeaderKey(args.header_key)) {
    std::cerr << "unknown header key: " << args.header_key << " (valid keys: " << HeaderKeyList() << ")" << std::endl;
    return -1;
  }
  const std::string path = args.FirstPath();
  BNXUtils::BnxFile bnx;
  if (OpenOrReport(path, bnx) != 0) return -1;
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["file"] = path;
    doc["key"] = args.header_key;
    doc["value"] = HeaderKeyJson(bnx, args.header_key);
    PrintJson(doc);
    return 0;
  }
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
  return rc == 0 ? 0 : -1;
}

int ReadModelInfo(const CmdArgs& args) {
  if (args.model_idx.empty()) {
    std::cerr << "the model positions are missing: -N(--model_idx) \"0 1 ...\"" << std::endl;
    return -1;
  }
  const std::string path = args.FirstPath();
  BNXUtils::BnxFile bnx;
  if (OpenOrReport(path, bnx) != 0) return -1;
  if (args.blJson) {
    // Positions beyond the list are left out, as the text prints nothing for them.
    Json::Value doc(Json::objectValue);
    doc["file"] = path;
    Json::Value models(Json::arrayValue);
    for (int idx : args.model_idx) {
      // A negative position means every model, as in the text.
      if (idx < 0) {
        for (uint32_t i = 0; i < bnx.model_count(); ++i) models.append(ModelJson(bnx, static_cast<int>(i)));
        continue;
      }
      Json::Value m = ModelJson(bnx, idx);
      if (!m.isNull()) models.append(m);
    }
    doc["models"] = models;
    PrintJson(doc);
    return 0;
  }
  for (int idx : args.model_idx) std::cout << BNXUtils::GetBNXModelInfo(bnx, idx) << "---------------" << std::endl;
  return 0;
}

int UpdateModelInfo(const CmdArgs& args) {
  if (!RequireUtf8("model_info_version", args.model_info_version_vec) ||
      !RequireUtf8("model_info_name", args.model_info_name_vec)) {
    return -1;
  }
  const std::string path = args.FirstPath();
  std::string name;
  BNXUtils::BnxFile bnx;
  if (PrepareRewrite(args, path, bnx, name) != 0) return -1;
  std::string written;
  if (talvex::Report(BNXUtils::ModifyModelInfo(bnx, args.model_info_version_vec, args.model_info_name_vec, name,
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
  if (!RequireUtf8("solution_id", {args.solution_id}) || !RequireUtf8("solution_tag", {args.solution_tag})) return -1;
  const std::string path = args.FirstPath();
  std::string name;
  BNXUtils::BnxFile bnx;
  if (PrepareRewrite(args, path, bnx, name) != 0) return -1;
  std::string written;
  if (talvex::Report(BNXUtils::ModifySolutionInfo(bnx, args.solution_id, args.solution_tag, name, &written)) != 0) {
    std::cerr << "Failed to update the solution info of " << path << std::endl;
    return -1;
  }
  std::cout << "BNX file with updated solution info has been generated in:" << std::endl;
  std::cout << BNXUtils::GetRealpath(written) << std::endl;
  return 0;
}
