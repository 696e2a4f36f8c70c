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
talvex::Status RequireFile(const std::string& path) {
  if (BNXUtils::CheckFileExist(path)) return {};
  return talvex::Status::Error("BNX file not exist: " + path);
}

std::string HeaderKeyList() {
  std::string out;
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) out += (out.empty() ? "" : ", ") + std::string(k.name);
  return out;
}

// Texts the container is to hold must be UTF-8, or the JSON reports could not hold them as they
// are: refused, naming the option and the offending value (mended, to be printable).
talvex::Status RequireUtf8(const char* option, const std::vector<std::string>& values) {
  for (const std::string& v : values) {
    if (!IsValidUtf8(v)) {
      return talvex::Status::Error(UsageName(option) + ": \"" + ToValidUtf8(v) + "\" is not valid UTF-8");
    }
  }
  return {};
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
talvex::Status PrepareRewrite(const CmdArgs& args, const std::string& path, BNXUtils::BnxFile& bnx,
                              std::string& name) {
  talvex::Status st = BNXUtils::OpenForUse(path, bnx);
  if (!StepOk(st)) return st;
  std::string target;
  try {
    target = bnx.target();
  } catch (const TalvexException& e) {
    return talvex::Status(e.status()).SetCode(-1);
  }
  name = OutputNameFor(args, path);
  talvex::Status guard = talvex::CheckNotInput(BNXUtils::GetOutputFilePath(target, name));
  StepOk(guard);
  return guard;
}

// The rewritten container, named on standard output; a failure adds what was not updated.
talvex::Status ReportRewrite(talvex::Status written, const std::string& what, const std::string& path,
                             const std::string& out_path) {
  if (!StepOk(written)) return written.Err("Failed to update the " + what + " of " + path);
  std::cout << "BNX file with updated " << what << " has been generated in:" << std::endl;
  std::cout << BNXUtils::GetRealpath(out_path) << std::endl;
  return {};
}
}  // namespace

talvex::Status ReadHeader(const CmdArgs& args) {
  if (args.header_key.empty()) {
    return talvex::Status::Error("the header key is missing: -k(--header_key) one of " + HeaderKeyList());
  }
  if (!BNXUtils::FindHeaderKey(args.header_key)) {
    return talvex::Status::Error("unknown header key: " + args.header_key + " (valid keys: " + HeaderKeyList() + ")");
  }
  const std::string path = args.FirstPath();
  BNXUtils::BnxFile bnx;
  talvex::Status st = BNXUtils::BnxFile::Open(path, bnx);
  if (!StepOk(st)) return st;
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["file"] = path;
    doc["key"] = args.header_key;
    doc["value"] = HeaderKeyJson(bnx, args.header_key);
    PrintJson(doc);
    return {};
  }
  std::cout << bnx.Key(args.header_key) << std::endl;
  return {};
}

talvex::Status GetCrc(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  talvex::Status st = RequireFile(path);
  if (!st.ok()) return st;
  uint32_t crc = 0;
  st = BNXUtils::ComputeFileCRC(path, &crc);
  if (!StepOk(st)) return st;
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["file"] = path;
    doc["crc32"] = crc;
    PrintJson(doc);
    return {};
  }
  std::cout << fmt::format("0x{:x}", crc) << std::endl;
  return {};
}

talvex::Status CheckAlignment(const CmdArgs& args) {
  // The verdict is the output; a missing or invalid file is simply "failed".
  const int rc = talvex::Report(TXM::CheckAlignment(args.FirstPath()));
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["file"] = args.FirstPath();
    doc["aligned"] = rc == 0;
    PrintJson(doc);
  } else {
    std::cout << fmt::format("CheckAlignment {}\n", rc == 0 ? "successfully" : "failed") << std::flush;
  }
  return talvex::Status(rc == 0 ? 0 : -1);
}

talvex::Status ReadModelInfo(const CmdArgs& args) {
  if (args.model_idx.empty()) {
    return talvex::Status::Error("the model positions are missing: -N(--model_idx) \"0 1 ...\"");
  }
  const std::string path = args.FirstPath();
  BNXUtils::BnxFile bnx;
  talvex::Status st = BNXUtils::BnxFile::Open(path, bnx);
  if (!StepOk(st)) return st;
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
    return {};
  }
  for (int idx : args.model_idx) std::cout << BNXUtils::GetBNXModelInfo(bnx, idx) << "---------------" << std::endl;
  return {};
}

talvex::Status UpdateModelInfo(const CmdArgs& args) {
  talvex::Status st = RequireUtf8("model_info_version", args.model_info_version_vec);
  if (st.ok()) st = RequireUtf8("model_info_name", args.model_info_name_vec);
  if (!st.ok()) return st;
  const std::string path = args.FirstPath();
  std::string name;
  BNXUtils::BnxFile bnx;
  st = PrepareRewrite(args, path, bnx, name);
  if (!st.ok()) return st;
  std::string written;
  st = BNXUtils::ModifyModelInfo(bnx, args.model_info_version_vec, args.model_info_name_vec, name, &written);
  return ReportRewrite(std::move(st), "model info", path, written);
}

talvex::Status UpdateSolutionInfo(const CmdArgs& args) {
  if (args.solution_id.empty() && args.solution_tag.empty()) {
    return talvex::Status::Error("[ERROR] Solution ID and Solution Tag are both empty");
  }
  talvex::Status st = RequireUtf8("solution_id", {args.solution_id});
  if (st.ok()) st = RequireUtf8("solution_tag", {args.solution_tag});
  if (!st.ok()) return st;
  const std::string path = args.FirstPath();
  std::string name;
  BNXUtils::BnxFile bnx;
  st = PrepareRewrite(args, path, bnx, name);
  if (!st.ok()) return st;
  std::string written;
  st = BNXUtils::ModifySolutionInfo(bnx, args.solution_id, args.solution_tag, name, &written);
  return ReportRewrite(std::move(st), "solution info", path, written);
}
