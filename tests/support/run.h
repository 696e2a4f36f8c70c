#pragma once
// Temporary folders and whole-file reads and writes, for the tests and their input builders.
#include <string>
#include <vector>

namespace testsupport {

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
