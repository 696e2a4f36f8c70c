// The TXM model report.
#include "cli/txm_report.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)GetTXMModelInfo(fuzz::WriteInput("in.txm", data, size));
  return 0;
}
