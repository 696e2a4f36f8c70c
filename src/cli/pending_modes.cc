#include <iostream>

#include "cli/handlers.h"

namespace {
int NotAvailable(const char* mode) {
  std::cerr << mode << " is not available yet in this build of talvex_bnx_utils" << std::endl;
  return -1;
}
}  // namespace

int ExtractBnx(const CmdArgs&) { return NotAvailable("EXTRACT_BNX (-X)"); }
int GenBnx(const CmdArgs&) { return NotAvailable("GEN_BNX (-G)"); }
int BnxInfo(const CmdArgs&) { return NotAvailable("DUMP_DATA (-I)"); }
int ReadModelInfo(const CmdArgs&) { return NotAvailable("READ_MODEL_INFO (-M)"); }
int CombineBnx(const CmdArgs&) { return NotAvailable("COMBINE_BNX (-c)"); }
int PostEnc(const CmdArgs&) { return NotAvailable("POST_ENC (-E)"); }
int TxmToJson(const CmdArgs&) { return NotAvailable("TXM_TO_JSON (-j)"); }
int SplitCore(const CmdArgs&) { return NotAvailable("SPLIT_CORE (-S)"); }
int CheckAlignment(const CmdArgs&) { return NotAvailable("CHECK_ALIGNMENT (-A)"); }
int UpdateModelInfo(const CmdArgs&) { return NotAvailable("UPDATE_MODEL_INFO (-U)"); }
int UpdateSolutionInfo(const CmdArgs&) { return NotAvailable("UPDATE SOLUTION INFO (--update_solution_info)"); }
