#include "common/output_dir.h"

#include <sys/stat.h>

namespace BNXUtils {
namespace {
std::string OUTPUT_DIR;
}

bool OutputDirExist(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateOutputDir(const std::string& path, unsigned int mode) {
  if (path.empty()) return false;
  if (OutputDirExist(path)) return true;
  return mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

void SetOutputDir(const std::string& path) {
  if (CreateOutputDir(path, 0755)) OUTPUT_DIR = path + "/";
}

std::string GetOutputDir() { return OUTPUT_DIR; }
}  // namespace BNXUtils
