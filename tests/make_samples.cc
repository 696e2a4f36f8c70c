// Writes the bundled sample files (samples/) with the test builders.
#include <cstdio>
#include <string>

#include "support/bnx_builder.h"
#include "support/run.h"

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "samples";
  testsupport::SampleBnx bnx;
  bnx.models = {{"det", 32768, "1.0"}, {"cls", 32769, "2.1"}};
  testsupport::WriteBytes(dir + "/sample.bnx", testsupport::BuildBnx(bnx));
  std::printf("samples written to %s\n", dir.c_str());
  return 0;
}
