// -I (DUMP_DATA): the header and model list of a container, optionally followed by a quiet
// extraction with setup parsing.
#include <iostream>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/model_info.h"
#include "cli/extract_mode.h"
#include "cli/handlers.h"
#include "cli/json_report.h"
#include "cli/model_layout.h"
#include "common/file_io.h"
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

Json::Value InfoJson(const BNXUtils::BnxFile& bnx, const std::vector<ModelLayout>& layouts,
                     const talvex::Status& layout_status) {
  Json::Value doc(Json::objectValue);
  doc["file"] = bnx.path();
  doc["header"] = HeaderJson(bnx);
  doc["models"] = ModelsJson(bnx, layouts);
  doc["payload"] = PayloadJson(bnx);
  if (!layout_status.ok()) doc["layout_error"] = layout_status.Reason();
  return doc;
}

std::string InfoText(const BNXUtils::BnxFile& bnx) {
  std::string out = "BNX Header:\n";
  out += fmt::format("{0:-<{1}}\n", "", 60);
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) {
    if (!k.in_info_report) continue;
    std::string value;
    try {
      value = bnx.Key(k.name);
    } catch (const TalvexException& e) {
      // An unknown stored target: reported, shown as an empty value.
      talvex::Report(e.status());
    }
    out += fmt::format("{0:<20} : {1}\n", k.name, OneLine(value));
  }
  out += fmt::format("{0:-<{1}}\n\n", "", 60);
  out += "BNX Model Info ( idx / {model_id} / (model_version) / [model_name] ) :\n\n";
  out += BNXUtils::GetBNXModelInfo(bnx, -1);
  out += fmt::format("\n{0:=<{1}}\n\n", "", 60);
  return out;
}

// The quiet extraction of -s; with --json its text is not shown.
talvex::Status ExtractForInfo(const CmdArgs& args, std::vector<BNXUtils::BnxFile>& files) {
  CmdArgs quiet = args;
  quiet.blQuiet = true;
  auto silence = args.blJson ? std::make_unique<SilencedStdout>() : nullptr;
  // The report is out; a failed extraction still makes the command fail.
  if (ExtractOpened(quiet, files) == 0) return {};
  return talvex::Status::Error("The extraction of " + files[0].path() + " failed");
}

}  // namespace

talvex::Status BnxInfo(const CmdArgs& args) {
  // Every container is opened once; the first is reported, and -s extracts them all.
  std::vector<BNXUtils::BnxFile> files = OpenContainers(args);
  if (files.empty() || !files[0].exists()) {
    return talvex::Status::Error("BNX file not exist: " + (files.empty() ? std::string() : files[0].path()));
  }
  BNXUtils::BnxFile& bnx = files[0];
  // A file that is not a container (empty, unreadable, a folder, invalid) gets no report at
  // all, only the reason.
  if (!bnx.ok()) {
    talvex::Status st = bnx.TakeOpenStatus();
    if (st.messages().empty()) st.Err("Failed to read the file: " + bnx.path() + " (file is empty)");
    return st.SetCode(-1);
  }
  // The models' layouts come from their records, never from their payload bytes.
  std::vector<ModelLayout> layouts;
  const talvex::Status layout = ReadContainerLayouts(bnx, false, layouts);
  if (!layout.ok() && !args.blJson) {
    std::cerr << "No memory map for " << bnx.path() << ": " << layout.Reason() << std::endl;
  }
  if (!args.map_path.empty()) {
    if (!layout.ok()) return talvex::Status::Error("No memory map to write to " + args.map_path);
    const std::string svg = MemoryMapSvg(layouts, bnx.path());
    talvex::Status st = talvex::WriteFileAtomic(args.map_path, svg.data(), svg.size());
    if (!st.ok()) return talvex::Status::Error("Failed to write " + args.map_path + ": " + st.Reason());
  }
  if (args.blJson) {
    Json::Value doc = InfoJson(bnx, layouts, layout);
    talvex::Status st = args.blParseSetupBin ? ExtractForInfo(args, files) : talvex::Status();
    if (args.blParseSetupBin || !args.map_path.empty()) doc["files"] = WrittenFilesJson(talvex::PlacedOutputs())["files"];
    if (st.ok()) PrintJson(doc);
    return st;
  }
  std::string out = InfoText(bnx);
  if (layout.ok() && !layouts.empty()) out += MemoryMapText(layouts);
  std::cout << out << std::flush;
  return args.blParseSetupBin ? ExtractForInfo(args, files) : talvex::Status();
}

