#include "support/bnx_builder.h"

#include <zlib.h>

#include <cstdio>

#include "bnx_generated.h"
#include "support/txm_builder.h"

namespace testsupport {

std::vector<uint8_t> DefaultTxmPayload() { return BuildSampleTxm(); }

uint32_t HeaderCrc(const SampleBnx& s) {
  if (s.crc) return *s.crc;
  return static_cast<uint32_t>(::crc32(0L, s.all_models.data(), static_cast<uInt>(s.all_models.size())));
}

std::string DefaultPrefix(const SampleBnx& s) {
  char text[16];
  snprintf(text, sizeof text, "%X", HeaderCrc(s));
  return std::string("BNX_0x") + text;
}

std::vector<uint8_t> BuildBnx(const SampleBnx& s) {
  using namespace TalvexBNX;
  flatbuffers::FlatBufferBuilder b(1024);
  b.ForceDefaults(true);
  // all_models first so its alignment is fixed before anything else is placed.
  // Pads so the data ends (and so starts) on a 32-byte boundary, empty vectors included.
  b.PreAlign(s.all_models.empty() ? 32 : s.all_models.size(), 32);
  auto all_models = b.CreateVector(s.all_models);
  auto fw_info = b.CreateVector(s.fw_info);
  auto bin = CreateModelBin(b, fw_info, all_models);
  std::vector<flatbuffers::Offset<ModelInfo>> infos;
  for (const auto& m : s.models) {
    infos.push_back(CreateModelInfo(b, b.CreateString(m.name), m.id, b.CreateString(m.version)));
  }
  auto info_vec = b.CreateVector(infos);
  flatbuffers::Offset<BNXHeader> header;
  if (s.with_header) {
    auto sv = CreateSchemaVersion(b, s.major, s.minor, s.revision);
    header = CreateBNXHeader(b, b.CreateString(s.platform), static_cast<NPUTarget>(s.target), HeaderCrc(s),
                             s.tv_number, static_cast<ENCMode>(s.encryption_mode),
                             b.CreateString(s.compiler_version), b.CreateString(s.toolchain_version), sv,
                             s.uuid.value_or(HeaderCrc(s)), b.CreateString(s.solution_id), b.CreateString(s.solution_tag));
  }
  auto root = CreateBNXContent(b, 0x012EBD34, header, info_vec, bin);
  b.Finish(root);
  std::vector<uint8_t> out(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  uint32_t crc = static_cast<uint32_t>(::crc32(0L, out.data(), static_cast<uInt>(out.size())));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  return out;
}

}  // namespace testsupport
