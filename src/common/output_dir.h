#pragma once
#include <string>

#include "common/status.h"

// The one folder into which every mode writes its files.
namespace BNXUtils {
bool OutputDirExist(const std::string& path);
// Creates the folder with every missing parent; fails unless it is a folder afterwards, its
// reason naming the level that could not be made and why.
talvex::Status CreateOutputDir(const std::string& path, unsigned int mode);
// On success the output folder becomes path + "/"; on failure it is left
// unchanged and the caller must not write anything (there is no fallback folder).
talvex::Status SetOutputDir(const std::string& path);
std::string GetOutputDir();
}  // namespace BNXUtils
