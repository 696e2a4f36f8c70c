#pragma once
// Builds sample BNX containers for tests and the bundled samples.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/legacy_builder.h"

namespace testsupport {

struct SampleModel {
  std::string name;
  int32_t id = 0;
  std::string version;
};

// BuildSampleTxm(): the default payload, a TXM that verifies.
std::vector<uint8_t> DefaultTxmPayload();

struct SampleBnx {
  int32_t target = 3;  // TZ400
  uint32_t major = 2, minor = 0, revision = 1;
  // Unset: the CRC-32 of all_models, as in every sound container (uuid follows crc).
  std::optional<uint32_t> crc;
  std::optional<uint32_t> uuid;
  uint32_t tv_number = 0;
  int32_t encryption_mode = 0;
  std::string platform;
  std::string compiler_version = "compiler 1.0";
  std::string toolchain_version = "toolchain 2.0";
  std::string solution_id = "1234";
  std::string solution_tag = "5a6f7e";
  std::vector<SampleModel> models = {{"det", 32768, "1.0"}};
  std::vector<uint8_t> fw_info;
  std::vector<uint8_t> all_models = DefaultTxmPayload();
  bool with_header = true;
};

// A legacy container (target 0 TZ100 ... 4 TZ500) around pair: schema major 0 for TZ100, else 1.
inline SampleBnx LegacyBnx(int32_t target, const LegacyPair& pair) {
  SampleBnx s;
  s.target = target, s.major = target == 0 ? 0 : 1, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
  return s;
}

// FlatBuffers buffer (force-defaults, all_models 32-aligned) plus the CRC trailer.
std::vector<uint8_t> BuildBnx(const SampleBnx& s);
// The header crc BuildBnx writes for s.
uint32_t HeaderCrc(const SampleBnx& s);
// The name prefix of files extracted from it: "BNX_0x" and the header crc in capitals.
std::string DefaultPrefix(const SampleBnx& s);

}  // namespace testsupport
