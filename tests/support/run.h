#pragma once
// Runs a program and captures what it printed, for end-to-end tests.
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
  int status = -1;  // exit status (0..255), or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the given arguments in `cwd` (empty: current folder), with
// `env` entries ("NAME=value") added to the environment.
RunResult Run(const std::vector<std::string>& argv, const std::string& cwd = "",
              const std::vector<std::string>& env = {});

// Runs the program bin with args (argv[1]...) in cwd, env entries added: the fixtures' Tool().
RunResult RunTool(const std::string& bin, const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& env = {});

// part occurs in text.
bool Contains(const std::string& text, const std::string& part);

// A fresh empty folder under the system temp folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadText(const std::string& path);
std::vector<unsigned char> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
void WriteText(const std::string& path, const std::string& text);
// Names in a folder (without "." and ".."), sorted; empty when it cannot be read.
std::vector<std::string> DirEntries(const std::string& dir);

}  // namespace testsupport
