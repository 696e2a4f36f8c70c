// The address JSON of -S, against a sample TXM file from the test builders.
#include "fuzz_common.h"
#include "support/txm_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string txm = [] {
    const std::string path = fuzz::Dir() + "sample.txm";
    testsupport::WriteSampleTxm(path);
    return path;
  }();
  const std::string json = fuzz::WriteInput("addr.json", data, size);
  fuzz::Run({"-S", txm, "-d", "0", "-p", json, "-O", fuzz::OutDir()});
  return 0;
}
