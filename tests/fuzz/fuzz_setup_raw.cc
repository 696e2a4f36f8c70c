// The setup-form recogniser, the raw setup reader with its text and JSON views for both header
// generations, and the in-place customer-key marking.
#include <vector>

#include "fuzz_common.h"
#include "setup/setup_func.h"
#include "setup/setup_recognise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)Setup::IsRawSetup(data, size);
  (void)Setup::IsFBSetup(data, size);
  for (const bool is_100 : {true, false}) {
    std::string text;
    Json::Value json;
    (void)Setup::RawToString(data, size, text, is_100);
    (void)Setup::RawToJson(data, size, json, is_100);
  }
  std::vector<uint8_t> copy(data, data + size);
  (void)Setup::UpdateEncryptCustomerKeyInRawSetup(copy.data(), copy.size());
  return 0;
}
