#include "support/legacy_builder.h"

#include <zlib.h>

#include <fstream>

#include "setup_generated.h"

namespace testsupport {

namespace {
size_t Pad16(size_t v) { return (v + 15) / 16 * 16; }

std::vector<uint8_t> Pattern(size_t len, uint8_t seed) {
  std::vector<uint8_t> out(len);
  for (size_t i = 0; i < len; ++i) out[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

constexpr uint32_t kRawSetupMagicWord = 0x8EB5A462;
}  // namespace

uint32_t Crc32(const std::vector<uint8_t>& bytes, size_t offset, size_t len) {
  if (len == SIZE_MAX) len = bytes.size() - offset;
  if (len == 0) return 0;
  return static_cast<uint32_t>(::crc32(0L, bytes.data() + offset, static_cast<uInt>(len)));
}

void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutLE32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> LE32Words(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) AppendLE32(out, w);
  return out;
}

std::vector<uint8_t> RawSetupPlaceholder() {
  std::vector<uint8_t> out;
  AppendLE32(out, kRawSetupMagicWord);
  for (uint32_t i = 0; i < 5; ++i) AppendLE32(out, 0x1000 + i);
  return out;
}

namespace {
std::vector<uint8_t> FbSetupPlaceholder() {
  TalvexSetup::INFContentT obj;
  obj.header.reset(new TalvexSetup::HeaderT());
  obj.header->platform = "tz300";
  obj.header->target = TalvexSetup::NPUTarget::TZ300;
  flatbuffers::FlatBufferBuilder fbb(256);
  fbb.Finish(TalvexSetup::INFContent::Pack(fbb, &obj));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}
}  // namespace

LegacyModel MakeLegacyModel(uint32_t id, uint32_t version, size_t cmd_bytes, size_t weight_bytes,
                            std::vector<uint8_t> setup) {
  LegacyModel m;
  m.id = id;
  m.version = version;
  m.cmd = Pattern(cmd_bytes, static_cast<uint8_t>(id * 3 + 1));
  m.weight = Pattern(weight_bytes, static_cast<uint8_t>(id * 3 + 2));
  m.setup = std::move(setup);
  return m;
}

LegacyPair BuildLegacyPair(const std::vector<LegacyModel>& in, bool with_crc, uint8_t pad_byte) {
  std::vector<LegacyModel> models = in;
  // Addresses: input, output, working buffers, then each model's pieces one after another.
  uint32_t addr = 0x60100000;
  for (auto& m : models) {
    if (m.addr_cmd == 0) {
      m.addr_in = 0x60000000;
      m.size_in = 0x100;
      m.addr_out = 0x60000100;
      m.size_out = 0x40;
      m.addr_wbuf = 0x60001000;
      m.size_wbuf = 0x800;
      m.addr_cmd = addr;
      m.addr_wt = m.addr_cmd + static_cast<uint32_t>(Pad16(m.cmd.size()));
      m.addr_fw = m.addr_wt + static_cast<uint32_t>(Pad16(m.weight.size()));
      addr = m.addr_fw + static_cast<uint32_t>(Pad16(m.setup.size()));
    }
  }
  LegacyPair p;
  std::vector<size_t> block_offsets;
  for (size_t i = 0; i < models.size(); ++i) {
    const auto& m = models[i];
    const bool last = i + 1 == models.size();
    block_offsets.push_back(p.all_models.size());
    for (const auto* piece : {&m.cmd, &m.weight, &m.setup}) {
      p.all_models.insert(p.all_models.end(), piece->begin(), piece->end());
      if (!(last && piece == &m.setup)) p.all_models.resize(Pad16(p.all_models.size()), pad_byte);
    }
  }
  block_offsets.push_back(p.all_models.size());
  p.all_models_crc = Crc32(p.all_models);
  for (size_t i = 0; i < models.size(); ++i) {
    p.block_crcs.push_back(Crc32(p.all_models, block_offsets[i], block_offsets[i + 1] - block_offsets[i]));
  }

  AppendLE32(p.fw_info, static_cast<uint32_t>(models.size()));
  uint32_t first_cmd = 0;
  for (const auto& m : models) {
    for (uint32_t w : {m.id, m.version, m.addr_in, m.size_in, m.addr_out, m.size_out, m.addr_wbuf, m.size_wbuf,
                       m.addr_cmd, static_cast<uint32_t>(m.cmd.size()), m.addr_wt, static_cast<uint32_t>(m.weight.size()),
                       m.addr_fw, static_cast<uint32_t>(m.setup.size())}) {
      AppendLE32(p.fw_info, w);
    }
    if (first_cmd == 0) first_cmd = m.addr_cmd;
  }
  const uint32_t dram_addr_end =
      models.empty() ? 0 : models.back().addr_fw + static_cast<uint32_t>(Pad16(models.back().setup.size()));
  AppendLE32(p.fw_info, dram_addr_end);
  AppendLE32(p.fw_info, dram_addr_end - first_cmd);
  if (with_crc) {
    AppendLE32(p.fw_info, p.all_models_crc);
    for (uint32_t c : p.block_crcs) AppendLE32(p.fw_info, c);
    AppendLE32(p.fw_info, Crc32(p.fw_info));
  }
  return p;
}

std::vector<LegacyModel> SampleLegacyModels(LegacySetupForm form) {
  auto setup = [&]() { return form == LegacySetupForm::kRaw ? RawSetupPlaceholder() : FbSetupPlaceholder(); };
  return {MakeLegacyModel(7, 3, 20, 40, setup()), MakeLegacyModel(9, 0x102, 36, 17, setup())};
}

void WriteLegacyPair(const LegacyPair& pair, const std::string& fw_info_path, const std::string& all_models_path) {
  WriteFile(fw_info_path, pair.fw_info);
  WriteFile(all_models_path, pair.all_models);
}

}  // namespace testsupport
