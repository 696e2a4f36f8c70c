#include "cli/paths.h"

#include <unistd.h>

#include <vector>

#include "common/strings.h"

std::string GetCurrentWorkingDirectory() {
  std::vector<char> buf(4096, '\0');
  if (readlink("/proc/self/exe", buf.data(), buf.size() - 1) < 0) return "";
  std::string exe(buf.data());
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? exe : exe.substr(0, slash + 1);
}

std::string GetFilenameWithoutExt(const std::string& path) {
  std::string base = Basename(path);
  size_t dot = base.rfind('.');
  return dot == std::string::npos ? "" : base.substr(0, dot);
}
