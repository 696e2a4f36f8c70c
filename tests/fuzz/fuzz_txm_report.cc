// The TXM model report (it also writes each NPU core's buffers into the output folder).
#include "cli/txm_report.h"
#include "common/output_dir.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BNXUtils::SetOutputDir(fuzz::OutDir());
  (void)GetTXMModelInfo(fuzz::WriteInput("in.txm", data, size));
  fuzz::ClearOutput();
  return 0;
}
