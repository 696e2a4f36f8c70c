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

talvex::Status CreateOutputDir(const std::string& path, unsigned int mode) {
  if (path.empty()) return talvex::Status::Error("empty folder name");
  // Each missing level in turn, as mkdir -p does; a level made meanwhile by someone else is fine.
  for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
    const std::string level = pos == std::string::npos ? path : path.substr(0, pos);
    struct stat st {};
    if (!level.empty() && level.back() != '/' && stat(level.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      return talvex::Status::Error(level + ": not a folder");
    }
    if (!level.empty() && level.back() != '/' && !OutputDirExist(level)) {
      if (mkdir(level.c_str(), static_cast<mode_t>(mode)) != 0 && !(errno == EEXIST && OutputDirExist(level))) {
        return talvex::Status::Error(level + ": " + std::strerror(errno));
      }
    }
    if (pos == std::string::npos) break;
  }
  if (OutputDirExist(path)) return {};
  return talvex::Status::Error("not a folder");
}

talvex::Status SetOutputDir(const std::string& path) {
  talvex::Status made = CreateOutputDir(path, 0755);
  if (made.ok()) OUTPUT_DIR = path + "/";
  return made;
}

std::string GetOutputDir() { return OUTPUT_DIR; }
}  // namespace BNXUtils
