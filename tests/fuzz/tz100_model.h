#pragma once
// The TZ100 model of the combine fuzz target, shared with its seed writer: a container with one
// model at fixed device addresses whose command.bin and setup.bin come from the input, framed as
// a little-endian 16-bit command length, the command bytes, then the setup bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/legacy_builder.h"
#include "support/setup_builder.h"

namespace fuzz {

constexpr uint32_t kTz100In = 0x60000000, kTz100InSize = 0x100;
constexpr uint32_t kTz100Out = 0x60000100, kTz100OutSize = 0x40;
constexpr uint32_t kTz100Dram = 0x60001000, kTz100DramSize = 0x800;
constexpr uint32_t kTz100Cmd = 0x60100000;

// A model of these addresses carrying cmd, 32 weight bytes and setup.
inline testsupport::LegacyModel Tz100Model(uint32_t id, std::vector<uint8_t> cmd, std::vector<uint8_t> setup) {
  testsupport::LegacyModel m = testsupport::MakeLegacyModel(id, 1, 0, 32, {});
  m.cmd = std::move(cmd), m.setup = std::move(setup);
  m.addr_in = kTz100In, m.size_in = kTz100InSize, m.addr_out = kTz100Out, m.size_out = kTz100OutSize;
  m.addr_wbuf = kTz100Dram, m.size_wbuf = kTz100DramSize, m.addr_cmd = kTz100Cmd;
  m.addr_wt = kTz100Cmd + static_cast<uint32_t>((m.cmd.size() + 15) / 16 * 16);
  m.addr_fw = m.addr_wt + static_cast<uint32_t>((m.weight.size() + 15) / 16 * 16);
  return m;
}

// A command word writing value's low 16 bits to register reg.
inline uint32_t Tz100Conf(uint32_t reg, uint32_t value) { return (8u << 28) | (reg << 16) | (value & 0xffff); }

// A well-formed model: RDMA0 source and WDMA0 destination in the working buffer, a GETW0 in the
// weights, a raw setup whose header and super node name the same regions.
inline void Tz100Sample(std::vector<uint8_t>& cmd, std::vector<uint8_t>& setup) {
  const uint32_t rdma = kTz100Dram + 0x10, wdma = kTz100Out + 0x20, getw = kTz100Cmd + 0x24;
  cmd.clear();
  for (uint32_t w : {Tz100Conf(0x0e, rdma), Tz100Conf(0x0f, rdma >> 16), Tz100Conf(0x36, wdma),
                     Tz100Conf(0x37, wdma >> 16), Tz100Conf(0x2e, getw), Tz100Conf(0x2f, getw >> 16)}) {
    testsupport::AppendLE32(cmd, w);
  }
  testsupport::RawTZ100Header h;
  h.dram_start = kTz100Dram, h.cmd_start = kTz100Cmd, h.weight_start = kTz100Cmd + 32, h.input_start = kTz100In;
  testsupport::RawSuperNode s;
  s.addr = kTz100Dram + 0x100;
  setup = testsupport::RawSetupWriter().Header(h).InputInfo().Super(s).bytes();
}

inline std::vector<uint8_t> Tz100Frame(const std::vector<uint8_t>& cmd, const std::vector<uint8_t>& setup) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(cmd.size()), static_cast<uint8_t>(cmd.size() >> 8)};
  out.insert(out.end(), cmd.begin(), cmd.end());
  out.insert(out.end(), setup.begin(), setup.end());
  return out;
}

}  // namespace fuzz
