// The fw_info.bin / all_models.bin pair: the fw_info parser, the model table report and
// generation of a container from the pair. The input is fw_info.bin, all_models.bin and one
// setup.bin, split by the first two little-endian 16-bit words (their lengths, wrapped).
#include <algorithm>
#include <string>
#include <vector>

#include "bnx/legacy_files.h"
#include "cli/fw_info_report.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t rest = size - 4;
  const size_t fw_len = std::min<size_t>(data[0] | data[1] << 8, rest);
  const size_t am_len = std::min<size_t>(data[2] | data[3] << 8, rest - fw_len);
  const uint8_t* fw = data + 4;
  const std::string fw_path = fuzz::WriteInput("fw_info.bin", fw, fw_len);
  const std::string am_path = fuzz::WriteInput("all_models.bin", fw + fw_len, am_len);
  const std::string setup = fuzz::WriteInput("setup.bin", fw + fw_len + am_len, rest - fw_len - am_len);

  BNXUtils::FWInfoTable table;
  (void)BNXUtils::DecodeFWInfo(fw, fw_len, table).ok();
  for (const bool first_generation : {true, false}) {
    std::string text;
    (void)GetAllFwInfoText(fw_path, std::vector<std::string>(4, setup), first_generation, text);
  }
  for (const char* target : {"100", "200", "300"}) {
    fuzz::Run({"-G", "-t", target, "-h", fw_path, "-m", am_path, "-O", fuzz::OutDir()});
  }
  return 0;
}
