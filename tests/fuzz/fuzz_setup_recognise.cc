// The setup-form recogniser.
#include "fuzz_common.h"
#include "setup/setup_recognise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)Setup::IsRawSetup(data, size);
  (void)Setup::IsFBSetup(data, size);
  return 0;
}
