#pragma once
#include <string>

#include "cli/cmd_args.h"

// Version texts written into generated containers.
constexpr const char* kToolchainVersion = "talvex_bnx_utils version: 2025-09-11(a789b85)";
constexpr const char* kCompilerVersion = "talvex_compiler version: 2025-09-11(c3e995af21)";
constexpr const char* kToolchainVersionFile = "/workspace/version.txt";

// Generates the container the command line asks for; returns the path written.
std::string GenNewBnx(const CmdArgs& args);
// The tool-chain version text: the last line of version_file when it opens and has one,
// else the fixed text.
std::string ReadToolchainVersion(const std::string& version_file);
