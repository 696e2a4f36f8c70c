#pragma once
#include <string>

// The one folder into which every mode writes its files.
namespace BNXUtils {
bool OutputDirExist(const std::string& path);
// Creates one level only; true when the folder exists afterwards.
bool CreateOutputDir(const std::string& path, unsigned int mode);
// On success the output folder becomes path + "/"; otherwise it is left unchanged.
void SetOutputDir(const std::string& path);
std::string GetOutputDir();
}  // namespace BNXUtils
