// The key file of -E: a customer-key encryption of a TZ200 container with raw setups (they get
// the key data appended) and of a container carrying a TXM file, each with the input as its
// key file.
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

std::string Container(const std::string& name, const testsupport::SampleBnx& s) {
  const std::vector<uint8_t> bytes = testsupport::BuildBnx(s);
  return fuzz::WriteInput(name, bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string legacy = [] {
    // Pieces the encoder takes (commands in words, weights in 16-byte blocks), raw setups.
    const testsupport::LegacyPair pair = testsupport::BuildLegacyPair(
        {testsupport::MakeLegacyModel(7, 3, 32, 64, testsupport::BuildRawSetup100()),
         testsupport::MakeLegacyModel(9, 258, 16, 32, testsupport::BuildRawSetup100())},
        true);
    testsupport::SampleBnx s;
    s.target = 1, s.major = 0, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
    s.models = {{"a", 7, "3"}, {"b", 9, "258"}};
    return Container("legacy.bnx", s);
  }();
  static const std::string txm = [] {
    testsupport::SampleBnx s;
    s.all_models = testsupport::BuildSampleTxm();
    return Container("txm.bnx", s);
  }();
  const std::string key = fuzz::WriteInput("key.bin", data, size);
  fuzz::Run({"-E", legacy, "-f", "1234", "-F", key, "-O", fuzz::OutDir()});
  fuzz::Run({"-E", txm, "-f", "beef", "-g", "77", "-F", key, "-O", fuzz::OutDir()});
  return 0;
}
