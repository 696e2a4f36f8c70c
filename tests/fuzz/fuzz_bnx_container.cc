// The container loader and the header / model-info readers (every read-only command, the memory
// map and its picture, --diff), and
// extraction with the information report's setup views.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bnx = fuzz::WriteInput("in.bnx", data, size);
  fuzz::Run({"-I", bnx});
  fuzz::Run({"-I", bnx, "--json", "--map", fuzz::OutDir() + "/map.svg"});
  fuzz::Run({"--diff", bnx, bnx});
  fuzz::Run({"-R", bnx, "-k", "target"});
  fuzz::Run({"-R", bnx, "-k", "schema_version"});
  fuzz::Run({"-M", bnx, "-N", "0"});
  fuzz::Run({"-C", bnx});
  fuzz::Run({"-A", bnx});
  fuzz::Run({"-X", bnx, "-O", fuzz::OutDir()});
  fuzz::Run({"-I", bnx, "-s", "-O", fuzz::OutDir()});
  return 0;
}
