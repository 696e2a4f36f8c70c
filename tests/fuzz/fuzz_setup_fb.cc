// The flatbuffer setup reader, its JSON view (which repacks the tree) and the in-place
// eFuse marking.
#include <vector>

#include "fuzz_common.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_func.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TalvexSetup::INFContentT content;
  (void)SetupFBReader::Parse(content, data, size);
  Json::Value json;
  (void)Setup::FBToJson(data, size, json);
  std::vector<uint8_t> copy(data, data + size);
  if (Setup::UpdateEncryptEFuse(copy.data(), copy.size()).ok()) (void)Setup::FBToJson(copy.data(), copy.size(), json);
  return 0;
}
