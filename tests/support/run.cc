#include "support/run.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {
std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::string& cwd,
              const std::vector<std::string>& env) {
  TempDir io;
  const std::string out_path = io / "stdout";
  const std::string err_path = io / "stderr";
  // A shell gives us cwd and redirection without reimplementing them.
  std::string cmd;
  if (!cwd.empty()) cmd += "cd '" + cwd + "' && ";
  cmd += "exec";
  for (const auto& e : env) cmd += " env '" + e + "'";
  for (const auto& a : argv) {
    std::string q;
    for (char c : a) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    cmd += " '" + q + "'";
  }
  cmd += " </dev/null >'" + out_path + "' 2>'" + err_path + "'";
  int rc = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = Slurp(out_path);
  r.err = Slurp(err_path);
  return r;
}

TempDir::TempDir() {
  std::string tmpl = "/tmp/talvex_test_XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::string cmd = "rm -rf '" + path_ + "'";
  (void)std::system(cmd.c_str());
}

std::string ReadText(const std::string& path) { return Slurp(path); }

std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::string s = Slurp(path);
  return std::vector<unsigned char>(s.begin(), s.end());
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

RunResult RunTool(const std::string& bin, const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& env) {
  std::vector<std::string> argv = {bin};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, cwd, env);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace testsupport
