#include <iostream>

#include "cli/handlers.h"

namespace {
int NotAvailable(const char* mode) {
  std::cerr << mode << " is not available yet in this build of talvex_bnx_utils" << std::endl;
  return -1;
}
}  // namespace

int CombineBnx(const CmdArgs&) { return NotAvailable("COMBINE_BNX (-c)"); }
