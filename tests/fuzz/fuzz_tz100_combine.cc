// The TZ100 command-stream and setup relocation of -c: the input is one model's command.bin and
// setup.bin (a little-endian 16-bit command length, the command bytes, then the setup bytes), put
// in a container with one model at fixed device addresses, relocated in memory to the layout a combine gives it
// and then combined, as a container, with a fixed well-formed TZ100 container.
#include <algorithm>
#include <string>
#include <vector>

#include "bnx/combine.h"
#include "bnx/tz100_utils.h"
#include "common/status.h"
#include "fuzz_common.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/setup_builder.h"

namespace fuzz {

constexpr uint32_t kTz100In = 0x60000000, kTz100InSize = 0x100;
constexpr uint32_t kTz100Out = 0x60000100, kTz100OutSize = 0x40;
constexpr uint32_t kTz100Dram = 0x60001000, kTz100DramSize = 0x800;
constexpr uint32_t kTz100Cmd = 0x60100000;

// A model of these addresses carrying cmd, 32 weight bytes and setup.
testsupport::LegacyModel Tz100Model(uint32_t id, std::vector<uint8_t> cmd, std::vector<uint8_t> setup) {
  testsupport::LegacyModel m = testsupport::MakeLegacyModel(id, 1, 0, 32, {});
  m.cmd = std::move(cmd), m.setup = std::move(setup);
  m.addr_in = kTz100In, m.size_in = kTz100InSize, m.addr_out = kTz100Out, m.size_out = kTz100OutSize;
  m.addr_wbuf = kTz100Dram, m.size_wbuf = kTz100DramSize, m.addr_cmd = kTz100Cmd;
  m.addr_wt = kTz100Cmd + static_cast<uint32_t>((m.cmd.size() + 15) / 16 * 16);
  m.addr_fw = m.addr_wt + static_cast<uint32_t>((m.weight.size() + 15) / 16 * 16);
  return m;
}

// A well-formed model: RDMA0 source and WDMA0 destination in the working buffer, a GETW0 in the
// weights, a raw setup whose header and super node name the same regions.
void Tz100Sample(std::vector<uint8_t>& cmd, std::vector<uint8_t>& setup) {
  const uint32_t rdma = kTz100Dram + 0x10, wdma = kTz100Out + 0x20, getw = kTz100Cmd + 0x24;
  using testsupport::Tz100Conf;
  cmd = testsupport::LE32Words({Tz100Conf(0x0e, rdma), Tz100Conf(0x0f, rdma >> 16), Tz100Conf(0x36, wdma),
                                Tz100Conf(0x37, wdma >> 16), Tz100Conf(0x2e, getw), Tz100Conf(0x2f, getw >> 16)});
  testsupport::RawTZ100Header h;
  h.dram_start = kTz100Dram, h.cmd_start = kTz100Cmd, h.weight_start = kTz100Cmd + 32, h.input_start = kTz100In;
  testsupport::RawSuperNode s;
  s.addr = kTz100Dram + 0x100;
  setup = testsupport::RawSetupWriter().Header(h).InputInfo().Super(s).bytes();
}

}  // namespace fuzz

namespace {

std::string WriteContainer(const std::string& name, const testsupport::LegacyModel& model) {
  const testsupport::LegacyPair pair = testsupport::BuildLegacyPair({model}, true);
  testsupport::SampleBnx s;
  s.target = 0, s.major = 0, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
  s.models = {{"m" + std::to_string(model.id), static_cast<int32_t>(model.id), "1"}};
  const std::vector<uint8_t> bytes = testsupport::BuildBnx(s);
  return fuzz::WriteInput(name, bytes.data(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string other = [] {
    std::vector<uint8_t> cmd, setup;
    fuzz::Tz100Sample(cmd, setup);
    return WriteContainer("other.bnx", fuzz::Tz100Model(2, cmd, setup));
  }();
  if (size < 2) return 0;
  const size_t cmd_len = std::min<size_t>(data[0] | data[1] << 8, size - 2);
  std::vector<uint8_t> cmd(data + 2, data + 2 + cmd_len), setup(data + 2 + cmd_len, data + size);
  const testsupport::LegacyModel model = fuzz::Tz100Model(1, cmd, setup);

  // The relocation itself, to the records a combine of this model after the other one gives.
  testsupport::LegacyModel first;
  {
    std::vector<uint8_t> c, s;
    fuzz::Tz100Sample(c, s);
    first = fuzz::Tz100Model(2, c, s);
  }
  auto record = [](const testsupport::LegacyModel& m) {
    BNX_FW_INFO_MODEL r;
    r.model_id = m.id, r.model_ver = m.version, r.addr_in = m.addr_in, r.size_in = m.size_in;
    r.addr_out = m.addr_out, r.size_out = m.size_out, r.addr_wbuf = m.addr_wbuf, r.size_wbuf = m.size_wbuf;
    r.addr_cmd = m.addr_cmd, r.size_cmd = static_cast<uint32_t>(m.cmd.size());
    r.addr_wt = m.addr_wt, r.size_wt = static_cast<uint32_t>(m.weight.size());
    r.addr_fw = m.addr_fw, r.size_fw = static_cast<uint32_t>(m.setup.size());
    return BNXUtils::ToFirmInfo(r);
  };
  const FirmInfo old_info = record(model);
  std::vector<FirmInfo> relaid;
  if (BNXUtils::RelayoutDDRBuffer({{record(first)}, {old_info}}, relaid).ok() && relaid.size() == 2) {
    (void)BNXUtils::UpdateTZ100CommandBin(cmd.data(), cmd.size(), relaid[1], old_info).ok();
    (void)BNXUtils::UpdateTZ100SetupBin(setup.data(), setup.size(), relaid[1], old_info).ok();
  }

  const std::string in = WriteContainer("in.bnx", model);
  fuzz::Run({"-c", other, in, "-O", fuzz::OutDir()});
  return 0;
}
