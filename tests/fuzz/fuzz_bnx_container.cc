// The container loader and the header / model-info readers: every read-only command.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bnx = fuzz::WriteInput("in.bnx", data, size);
  fuzz::Run({"-I", bnx});
  fuzz::Run({"-R", bnx, "-k", "target"});
  fuzz::Run({"-R", bnx, "-k", "schema_version"});
  fuzz::Run({"-M", bnx, "-N", "0"});
  fuzz::Run({"-C", bnx});
  fuzz::Run({"-A", bnx});
  return 0;
}
