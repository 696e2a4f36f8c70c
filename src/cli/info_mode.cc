// -I (DUMP_DATA): the header and model list of a container, optionally followed by a quiet
// extraction with setup parsing.
#include <iostream>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/model_info.h"
#include "cli/extract_mode.h"
#include "cli/handlers.h"
#include "cli/json_report.h"
#include "common/exceptions.h"
#include "common/logger.h"

namespace {

// One header value on one line.
std::string OneLine(std::string value) {
  for (char& c : value) {
    if (c == '\n') c = ',';
  }
  return value;
}

}  // namespace

talvex::Status BnxInfo(const CmdArgs& args) {
  // Every container is opened once; the first is reported, and -s extracts them all.
  std::vector<BNXUtils::BnxFile> files = OpenContainers(args);
  if (files.empty() || !files[0].exists()) {
    return talvex::Status::Error("BNX file not exist: " + (files.empty() ? std::string() : files[0].path()));
  }
  BNXUtils::BnxFile& bnx = files[0];
  // Only the header is read, whatever the payload's size. A file that is not a container
  // (empty, unreadable, a folder, invalid) gets no report at all, only the reason.
  if (!bnx.ok()) {
    talvex::Status st = bnx.TakeOpenStatus();
    if (st.messages().empty()) st.Err("Failed to read the file: " + bnx.path() + " (file is empty)");
    return st.SetCode(-1);
  }

  if (args.blJson) {
    Json::Value doc(Json::objectValue);
    doc["file"] = bnx.path();
    doc["header"] = HeaderJson(bnx);
    Json::Value models(Json::arrayValue);
    for (uint32_t i = 0; i < bnx.model_count(); ++i) models.append(ModelJson(bnx, static_cast<int>(i)));
    doc["models"] = models;
    doc["payload"] = PayloadJson(bnx);
    PrintJson(doc);
    return {};
  }

  std::string out = "BNX Header:\n";
  out += fmt::format("{0:-<{1}}\n", "", 60);
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) {
    if (!k.in_info_report) continue;
    const char* key = k.name;
    std::string value;
    try {
      value = bnx.Key(key);
    } catch (const TalvexException& e) {
      // An unknown stored target: reported, shown as an empty value.
      talvex::Report(e.status());
    }
    out += fmt::format("{0:<20} : {1}\n", key, OneLine(value));
  }
  out += fmt::format("{0:-<{1}}\n\n", "", 60);
  out += "BNX Model Info ( idx / {model_id} / (model_version) / [model_name] ) :\n\n";
  out += BNXUtils::GetBNXModelInfo(bnx, -1);
  out += fmt::format("\n{0:=<{1}}\n\n", "", 60);
  std::cout << out << std::flush;

  if (!args.blParseSetupBin) return {};
  CmdArgs quiet = args;
  quiet.blQuiet = true;
  // The report is out; a failed extraction still makes the command fail.
  if (ExtractOpened(quiet, files) == 0) return {};
  return talvex::Status::Error("The extraction of " + bnx.path() + " failed");
}
