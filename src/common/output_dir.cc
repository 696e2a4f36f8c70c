#include "common/output_dir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace BNXUtils {
namespace {
std::string OUTPUT_DIR;
}

bool OutputDirExist(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateOutputDir(const std::string& path, unsigned int mode, std::string* error) {
  if (path.empty()) {
    if (error != nullptr) *error = "empty folder name";
    return false;
  }
  // Each missing level in turn, as mkdir -p does; a level made meanwhile by someone else is fine.
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    const std::string level = pos == std::string::npos ? path : path.substr(0, pos);
    struct stat st {};
    if (!level.empty() && level.back() != '/' && stat(level.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      if (error != nullptr) *error = level + ": not a folder";
      return false;
    }
    if (!level.empty() && level.back() != '/' && !OutputDirExist(level)) {
      if (mkdir(level.c_str(), static_cast<mode_t>(mode)) != 0 && !(errno == EEXIST && OutputDirExist(level))) {
        if (error != nullptr) *error = level + ": " + std::strerror(errno);
        return false;
      }
    }
    if (pos == std::string::npos) break;
  }
  if (OutputDirExist(path)) return true;
  if (error != nullptr) *error = "not a folder";
  return false;
}

bool SetOutputDir(const std::string& path, std::string* error) {
  if (!CreateOutputDir(path, 0755, error)) return false;
  OUTPUT_DIR = path + "/";
  return true;
}

std::string GetOutputDir() { return OUTPUT_DIR; }
}  // namespace BNXUtils
