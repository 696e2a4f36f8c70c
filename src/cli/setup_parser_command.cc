#include "cli/setup_parser_command.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {
bool ShellSafe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("_./-+,:@%", c) != nullptr;
}
}  // namespace

std::string ShellQuote(const std::string& word) {
  bool safe = !word.empty();
  for (char c : word) safe = safe && ShellSafe(c);
  if (safe) return word;
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

std::string SetupParserCommand(const std::string& dir, const std::string& setup_path, bool raw,
                               const std::string& target) {
  std::string cmd = ShellQuote(dir + "talvex_setup_parser") + " " + ShellQuote(setup_path);
  if (raw) cmd += " -p" + target + " -j";
  return cmd;
}

int RunCommand(const std::string& command) {
  // The child writes to the same streams: what was printed so far goes first.
  std::cout << std::flush;
  std::cerr << std::flush;
  std::fflush(nullptr);
  const int st = std::system(command.c_str());
  if (st == -1 || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}
