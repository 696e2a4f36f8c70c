#pragma once
// Running the separate talvex_setup_parser program on an extracted setup binary.
#include <string>

// word unchanged when it holds only characters the shell takes literally, else single-quoted
// (each "'" written as '\'').
std::string ShellQuote(const std::string& word);

// The command that turns one setup binary into JSON:
// dir + "talvex_setup_parser " + setup, then " -p" + target + " -j" for a raw setup.
// The program path and the setup path are quoted with ShellQuote.
std::string SetupParserCommand(const std::string& dir, const std::string& setup_path, bool raw,
                               const std::string& target);

// Runs a shell command through system(); its exit status (0 for success), or -1 when it did
// not run or ended by a signal.
int RunCommand(const std::string& command);
