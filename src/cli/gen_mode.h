#pragma once
#include <string>

#include "cli/cmd_args.h"

#include "cli/version.h"

constexpr const char* kToolchainVersionFile = "/workspace/version.txt";

// Generates the container the command line asks for; returns the path written. Failures
// throw TalvexException.
std::string GenNewBnx(const CmdArgs& args);
// The tool-chain version text: the last line of version_file when it opens and has one,
// else the fixed text.
std::string ReadToolchainVersion(const std::string& version_file);
