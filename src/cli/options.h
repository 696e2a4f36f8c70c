#pragma once
// The command line as one table: each option is described once (long name, short letter,
// argument, what it does), and the getopt tables and the option names in the usage text are
// derived from it.
#include <getopt.h>

#include <string>
#include <vector>

#include "cli/cmd_args.h"
#include "common/status.h"

struct OptionSpec {
  enum class Kind {
    kSet,      // set(args, argument)
    kMode,     // selects `mode`; with an argument, the argument split at blanks is the paths
    kVersion,  // prints the version texts; option reading stops there
    kHelp,     // prints the usage; the program exits 0
  };

  const char* long_name;
  char short_name;  // 0: long only
  bool takes_arg;
  Kind kind;
  CmdArgs::CMDMode mode;  // kMode only
  // kSet only: stores the argument; a failed status stops option reading (exit status 1).
  talvex::Status (*set)(CmdArgs& args, const std::string& arg);
  // Its line in the usage text's option list ("{keys}" stands for the header keys), and where
  // in that list (0: not listed; the modes have their own lines).
  const char* help = nullptr;
  int usage_rank = 0;
};

// Every option, in the order of the long-option table.
const std::vector<OptionSpec>& OptionTable();

// The value getopt_long returns for an option: its short letter, or 10000 + its position in
// the table for a long-only one.
int OptionId(const OptionSpec& spec);
const OptionSpec* FindOption(int id);

// Derived from the table: the getopt short-option string and the long-option array (ending
// in a null entry).
std::string ShortOptionString();
std::vector<option> LongOptionArray();

// "-X(--extract)" for a short letter, "--update_solution_info" for a long-only name: how the
// usage text names an option.
std::string UsageName(char short_name);
std::string UsageName(const char* long_name);
