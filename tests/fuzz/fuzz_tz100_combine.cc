// The TZ100 command-stream and setup relocation of -c: the input is one model's command.bin and
// setup.bin (framed as in tz100_model.h), relocated in memory to the layout a combine gives it
// and then combined, as a container, with a fixed well-formed TZ100 container.
#include <algorithm>
#include <string>
#include <vector>

#include "bnx/combine.h"
#include "bnx/tz100_utils.h"
#include "common/status.h"
#include "fuzz_common.h"
#include "support/bnx_builder.h"
#include "tz100_model.h"

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
  talvex::Status status;
  const std::vector<FirmInfo> relaid = BNXUtils::RelayoutDDRBuffer({{record(first)}, {old_info}}, &status);
  if (relaid.size() == 2) {
    std::string error;
    (void)BNXUtils::UpdateTZ100CommandBin(cmd.data(), cmd.size(), relaid[1], old_info, &error);
    (void)BNXUtils::UpdateTZ100SetupBin(setup.data(), setup.size(), relaid[1], old_info, &error);
  }

  const std::string in = WriteContainer("in.bnx", model);
  fuzz::Run({"-c", other, in, "-O", fuzz::OutDir()});
  return 0;
}
