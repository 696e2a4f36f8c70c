#include <iostream>

#include "cli/handlers.h"

namespace {
int NotAvailable(const char* mode) {
  std::cerr << mode << " is not available yet in this build of talvex_bnx_utils" << std::endl;
  return -1;
}
}  // namespace

int PostEnc(const CmdArgs&) { return NotAvailable("POST_ENC (-E)"); }
