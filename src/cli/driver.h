#pragma once
// The program behind main(): loggers, option reading, the checks of the chosen mode's
// arguments, the output folder, and the mode's handler.
#include "cli/cmd_args.h"

// True when args holds what its mode cannot do without; otherwise prints the usage and the
// reason (as the command line always has) and returns false.
bool CheckModeArguments(const CmdArgs& args, const char* program);

// The whole program; exceptions from handlers propagate to main().
int RunMain(int argc, char** argv);
