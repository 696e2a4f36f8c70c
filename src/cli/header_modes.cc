#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "cli/handlers.h"

namespace {
// Common first step of the container commands.
bool RequireFile(const std::string& path) {
  if (BNXUtils::CheckFileExist(path)) return true;
  std::cerr << "BNX file not exist: " << path << std::endl;
  return false;
}
}  // namespace

int ReadHeader(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  std::cout << BNXUtils::ReadBNX(path, args.header_key) << std::endl;
  return 0;
}

int GetCrc(const CmdArgs& args) {
  const std::string path = args.FirstPath();
  if (!RequireFile(path)) return -1;
  uint32_t crc = 0;
  if (!BNXUtils::ComputeFileCRC(path, &crc)) return -1;
  std::cout << fmt::format("0x{:x}", crc) << std::endl;
  return 0;
}
