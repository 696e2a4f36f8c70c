// --verify: every integrity layer of each container given, one line per check and a summary;
// nothing is written.
#include <iostream>

#include <fmt/format.h>

#include "bnx/verify.h"
#include "cli/handlers.h"
#include "cli/json_report.h"

// A container failed a check (distinct from 255: the command itself could not run).
constexpr int kVerifyFailed = 3;

talvex::Status VerifyBnx(const CmdArgs& args) {
  size_t total = 0;
  size_t failed = 0;
  Json::Value files(Json::arrayValue);
  std::string text;
  for (const std::string& path : args.model_path) {
    const std::vector<BNXUtils::VerifyCheck> checks = BNXUtils::VerifyContainer(path);
    size_t file_failed = 0;
    for (const BNXUtils::VerifyCheck& c : checks) {
      ++total;
      if (!c.ok) ++file_failed;
      text += BNXUtils::CheckLine(path, c) + "\n";
    }
    failed += file_failed;
    if (args.blJson) files.append(VerifyJson(path, checks));
  }
  const bool ok = failed == 0;
  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["ok"] = ok;
    doc["files"] = files;
    doc["checks"] = static_cast<Json::UInt64>(total);
    doc["failed"] = static_cast<Json::UInt64>(failed);
    PrintJson(doc);
  } else {
    text += fmt::format("verify {}: {} file(s), {} check(s), {} failed\n", ok ? "ok" : "FAILED",
                        args.model_path.size(), total, failed);
    std::cout << text << std::flush;
  }
  return talvex::Status(ok ? 0 : kVerifyFailed);
}
