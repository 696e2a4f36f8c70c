// Writes the bundled sample inputs (samples/) with the test builders:
//   sample.txm                      a two-model TZ400 compiler output (NPU, CPU and LOOP cores)
//   tz300/fw_info.bin, all_models.bin  a two-model legacy pair with flatbuffer setups
//   tz100/fw_info.bin, all_models.bin  a one-model legacy pair with a raw first-generation setup
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "support/legacy_builder.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "samples";
  mkdir(dir.c_str(), 0755);
  testsupport::WriteSampleTxm(dir + "/sample.txm");

  using testsupport::MakeLegacyModel;
  mkdir((dir + "/tz300").c_str(), 0755);
  const auto tz300 = testsupport::BuildLegacyPair(
      {MakeLegacyModel(32768, 1, 96, 256, testsupport::BuildFbSetup()),
       MakeLegacyModel(32769, 2, 64, 128, testsupport::BuildFbSetup())},
      false);
  testsupport::WriteLegacyPair(tz300, dir + "/tz300/fw_info.bin", dir + "/tz300/all_models.bin");

  mkdir((dir + "/tz100").c_str(), 0755);
  const auto tz100 = testsupport::BuildLegacyPair(
      {MakeLegacyModel(1, 1, 48, 80, testsupport::BuildRawSetup100())}, false);
  testsupport::WriteLegacyPair(tz100, dir + "/tz100/fw_info.bin", dir + "/tz100/all_models.bin");

  std::printf("samples written to %s\n", dir.c_str());
  return 0;
}
