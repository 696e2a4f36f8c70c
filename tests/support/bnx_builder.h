#pragma once
// Builds sample BNX containers for tests and the bundled samples.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct SampleModel {
  std::string name;
  int32_t id = 0;
  std::string version;
};

struct SampleBnx {
  int32_t target = 3;  // TZ400
  uint32_t major = 2, minor = 0, revision = 1;
  uint32_t crc = 0x1A2B3C4D;
  uint32_t uuid = 0x1A2B3C4D;
  uint32_t tv_number = 0;
  int32_t encryption_mode = 0;
  std::string platform;
  std::string compiler_version = "compiler 1.0";
  std::string toolchain_version = "toolchain 2.0";
  std::string solution_id = "1234";
  std::string solution_tag = "5a6f7e";
  std::vector<SampleModel> models = {{"det", 32768, "1.0"}};
  std::vector<uint8_t> fw_info;
  std::vector<uint8_t> all_models = std::vector<uint8_t>(100, 0xAB);
  bool with_header = true;
};

// FlatBuffers buffer (force-defaults, all_models 32-aligned) plus the CRC trailer.
std::vector<uint8_t> BuildBnx(const SampleBnx& s);

}  // namespace testsupport
