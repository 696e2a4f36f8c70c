// Writes a legacy fw_info.bin / all_models.bin pair of about SIZE_MIB MiB: MODELS models with
// flatbuffer setups (TZ300 style), pieces padded to 16, no CRC section; written piece by piece.
// Usage: make_big_legacy FW_INFO ALL_MODELS [SIZE_MIB] [MODELS] [FIRST_ID]   (defaults 512, 4, 1;
// the models get ids FIRST_ID, FIRST_ID + 1, ...)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/legacy_builder.h"
#include "support/setup_builder.h"

namespace {
size_t Pad16(size_t v) { return (v + 15) / 16 * 16; }

bool WriteAll(std::FILE* f, const void* data, size_t len) { return len == 0 || std::fwrite(data, 1, len, f) == len; }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FW_INFO ALL_MODELS [SIZE_MIB] [MODELS]\n", argv[0]);
    return 1;
  }
  const size_t mib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 512;
  const size_t models = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 4;
  const size_t first_id = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 1;
  if (models == 0) return 1;
  const size_t per_model = (mib << 20) / models;
  const size_t cmd = per_model / 4 / 16 * 16;
  const size_t weight = (per_model - cmd) / 16 * 16;
  const std::vector<uint8_t> setup = testsupport::BuildFbSetup();

  std::FILE* all = std::fopen(argv[2], "wb");
  if (all == nullptr) return 1;
  std::vector<uint8_t> chunk(1 << 20);
  const uint8_t zeros[16] = {};
  std::vector<uint8_t> fw;
  testsupport::AppendLE32(fw, static_cast<uint32_t>(models));
  uint32_t addr = 0x40100000;
  for (size_t m = 0; m < models; ++m) {
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(m * 31 + i * 7 + 1);
    for (size_t piece : {cmd, weight}) {
      for (size_t done = 0; done < piece; done += chunk.size()) {
        if (!WriteAll(all, chunk.data(), std::min(chunk.size(), piece - done))) return 1;
      }
    }
    if (!WriteAll(all, setup.data(), setup.size())) return 1;
    if (m + 1 < models && !WriteAll(all, zeros, Pad16(setup.size()) - setup.size())) return 1;
    const uint32_t wt = addr + static_cast<uint32_t>(cmd), fwc = wt + static_cast<uint32_t>(weight);
    for (uint32_t w : {static_cast<uint32_t>(first_id + m), 1u, 0x40000000u, 0x1000u, 0x40001000u, 0x1000u, 0x40002000u,
                       0x10000u, addr, static_cast<uint32_t>(cmd), wt, static_cast<uint32_t>(weight), fwc,
                       static_cast<uint32_t>(setup.size())}) {
      testsupport::AppendLE32(fw, w);
    }
    addr = fwc + static_cast<uint32_t>(Pad16(setup.size()));
  }
  testsupport::AppendLE32(fw, addr);
  testsupport::AppendLE32(fw, addr - 0x40100000u);
  if (std::fclose(all) != 0) return 1;
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || !WriteAll(f, fw.data(), fw.size()) || std::fclose(f) != 0) return 1;
  return 0;
}
