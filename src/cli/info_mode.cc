// -I (DUMP_DATA): the header and model list of a container, optionally followed by a quiet
// extraction with setup parsing.
#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/model_info.h"
#include "cli/extract_mode.h"
#include "cli/handlers.h"
#include "common/exceptions.h"

namespace {

// One header value on one line.
std::string OneLine(std::string value) {
  for (char& c : value) {
    if (c == '\n') c = ',';
  }
  return value;
}

}  // namespace

int BnxInfo(const CmdArgs& args) {
  const std::vector<std::string> paths = ResolveContainerPaths(args.model_path);
  const std::string path = paths.empty() ? std::string() : paths[0];
  if (!BNXUtils::CheckFileExist(path)) {
    std::cerr << "BNX file not exist: " << path << std::endl;
    return -1;
  }

  // Mapped and verified once; only the header is read, whatever the payload's size.
  const talvex::FileBuffer fb = BNXUtils::GetBNXBuffer(path);
  const TalvexBNX::BNXContent* bnx = fb.ok() ? flatbuffers::GetRoot<TalvexBNX::BNXContent>(fb.data()) : nullptr;

  std::string out = "BNX Header:\n";
  out += fmt::format("{0:-<{1}}\n", "", 60);
  for (const char* key : {"platform", "target", "crc", "tv_number", "encryption_mode", "compiler_version",
                          "toolchain_version", "schema_version", "uuid", "solution_id", "solution_tag"}) {
    std::string value;
    try {
      value = BNXUtils::ReadBNXKey(bnx, key);
    } catch (const TalvexException&) {
      // An unknown stored target: logged by the exception, shown as an empty value.
    }
    out += fmt::format("{0:<20} : {1}\n", key, OneLine(value));
  }
  out += fmt::format("{0:-<{1}}\n\n", "", 60);
  out += "BNX Model Info ( idx / {model_id} / (model_version) / [model_name] ) :\n\n";
  std::cout << out << std::flush;
  BNXUtils::GetBNXModelInfo(path, -1);
  std::cout << fmt::format("\n{0:=<{1}}\n\n", "", 60) << std::flush;

  if (!args.blParseSetupBin) return 0;
  CmdArgs quiet = args;
  quiet.blQuiet = true;
  ExtractBnx(quiet);
  return 0;
}
