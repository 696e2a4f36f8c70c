// Extraction of a container, and the information report with its setup views (in process).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bnx = fuzz::WriteInput("in.bnx", data, size);
  fuzz::Run({"-X", bnx, "-O", fuzz::OutDir()});
  fuzz::Run({"-I", bnx, "-s", "-O", fuzz::OutDir()});
  return 0;
}
