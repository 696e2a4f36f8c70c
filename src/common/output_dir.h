#pragma once
#include <string>

// The one folder into which every mode writes its files.
namespace BNXUtils {
bool OutputDirExist(const std::string& path);
// Creates the folder with every missing parent; true when it is a folder afterwards. On
// failure *error (if given) names the level that could not be made and why.
bool CreateOutputDir(const std::string& path, unsigned int mode, std::string* error = nullptr);
// On success the output folder becomes path + "/"; on failure it is left
// unchanged and the caller must not write anything (there is no fallback folder).
bool SetOutputDir(const std::string& path, std::string* error = nullptr);
std::string GetOutputDir();
}  // namespace BNXUtils
