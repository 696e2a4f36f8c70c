#include "fuzz_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "cli/driver.h"
#include "common/exceptions.h"
#include "common/logger.h"
#include "spdlog/spdlog.h"

namespace fuzz {

const std::string& Dir() {
  static const std::string dir = [] {
    const char* given = std::getenv("TALVEX_FUZZ_DIR");
    std::string d = given != nullptr && *given != '\0' ? std::string(given) + "/"
                                                       : "/dev/shm/talvex_fuzz_" + std::to_string(getpid()) + "/";
    mkdir(d.c_str(), 0700);
    mkdir((d + "out").c_str(), 0700);
    return d;
  }();
  return dir;
}

std::string OutDir() { return Dir() + "out"; }

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = Dir() + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();  // the harness itself is broken: stop loudly
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

void ClearOutput() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(OutDir(), ec)) std::filesystem::remove_all(e.path(), ec);
}

int Run(const std::vector<std::string>& args) {
  std::vector<std::string> words = {"talvex_bnx_utils"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // The program registers its loggers at start; a second start in one process would throw.
  spdlog::drop_all();
  int status = 1;
  try {
    status = RunMain(static_cast<int>(words.size()), argv.data());
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
  } catch (const std::exception&) {
  }
  ClearOutput();
  return status;
}

}  // namespace fuzz
