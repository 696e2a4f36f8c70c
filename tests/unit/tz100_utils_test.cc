// TZ100 address relocation (bnx/tz100_utils): command streams and raw setups built word by word.
#include "bnx/tz100_utils.h"

#include <gtest/gtest.h>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

const auto Insn = Tz100Insn;
const auto Conf = Tz100Conf;
const auto Words = LE32Words;

FirmInfo Regions(uint32_t dram, uint32_t out, uint32_t cmd, uint32_t wt, uint32_t in) {
  FirmInfo f;
  f.dram_start = dram;
  f.output_start = out;
  f.cmd_start = cmd;
  f.weight_start = wt;
  f.input_start = in;
  return f;
}

// Each row moves the working buffer (RDMA0, WDMA0 above it), the output buffer (WDMA0 below the
// working buffer) and the weights (GETW0) from the old layout to (dram, out, wt); out empty: refused,
// the stream unchanged.
TEST(TZ100Relocation, CommandStreamTable) {
  const uint32_t kDram = 0x60000000, kOut = 0x50000000, kWt = 0x62000000;
  const FirmInfo old_f = Regions(kDram, kOut, 0x61000000, kWt, 0x40000000);
  const std::vector<uint32_t> stream = {Conf(0x2e, 0x0100), Conf(0x2f, 0x6200), Insn(7, 0, 0), Conf(0x0e, 0x0200),
                                        Conf(0x0f, 0x6000), Insn(4, 0, 0), Conf(0x36, 0x0300), Conf(0x37, 0x5000),
                                        Insn(5, 0, 0)};
  auto with = [&](std::vector<uint32_t> words, std::initializer_list<uint32_t> more) {
    words.insert(words.end(), more);
    return words;
  };
  struct Case {
    const char* name;
    std::vector<uint32_t> in;
    uint32_t dram, out, wt;
    std::vector<uint32_t> want;
    const char* error;
  };
  const uint32_t kNew = 0x60100000;
  const std::vector<Case> cases = {
      {"low then high half move together", {Conf(0x0e, 0x1234), Conf(0x0f, 0x6000)}, kNew, kOut, kWt,
       {Conf(0x0e, 0x1234), Conf(0x0f, 0x6010)}, ""},
      {"unrelated CONF between the halves is fine", {Conf(0x0e, 0x0010), Conf(0x20, 0x5555), Conf(0x0f, 0x6000)},
       kNew, kOut, kWt, {Conf(0x0e, 0x0010), Conf(0x20, 0x5555), Conf(0x0f, 0x6010)}, ""},
      {"RDMA between the halves", {Conf(0x0e, 0x1234), Insn(4, 0, 0), Conf(0x0f, 0x6000)}, kNew, kOut, kWt, {},
       "register of acl and ach should be continue!"},
      {"other opcodes pass", {Insn(0, 0, 1), Insn(1, 0, 1), Insn(2, 0, 1), Insn(5, 0, 1), Insn(6, 0, 1), Insn(7, 0, 1)},
       kNew, kOut, kWt, {Insn(0, 0, 1), Insn(1, 0, 1), Insn(2, 0, 1), Insn(5, 0, 1), Insn(6, 0, 1), Insn(7, 0, 1)}, ""},
      {"undefined opcode 3", {Insn(3, 0, 0)}, kNew, kOut, kWt, {}, "Undefinded OP code!"},
      {"undefined opcode 0xf", {Conf(0x0e, 0), Conf(0x0f, 0x6000), Insn(0xf, 0, 0)}, kNew, kOut, kWt, {},
       "Undefinded OP code!"},
      {"address below the old base", {Conf(0x0e, 0xfff0), Conf(0x0f, 0x5fff)}, kNew, kOut, kWt, {},
       "reg value out of range!"},
      {"offset of 2^31 or more", {Conf(0x2e, 0), Conf(0x2f, 0xe200)}, kDram, kOut, 0x62100000, {},
       "offset should >= zero!"},
      {"high half without low half is left alone", {Conf(0x0f, 0x6000), Conf(0x0e, 1), Conf(0x0f, 0x6000)}, kNew, kOut,
       kWt, {Conf(0x0f, 0x6000), Conf(0x0e, 1), Conf(0x0f, 0x6010)}, ""},
      {"WDMA0 above the working buffer moves with it", {Conf(0x36, 0x0040), Conf(0x37, 0x6000)}, kNew, 0x50100000,
       kWt, {Conf(0x36, 0x0040), Conf(0x37, 0x6010)}, ""},
      {"WDMA0 below the working buffer moves with the output buffer", {Conf(0x36, 0x0040), Conf(0x37, 0x5000)}, kNew,
       0x50100000, kWt, {Conf(0x36, 0x0040), Conf(0x37, 0x5010)}, ""},
      {"WDMA0 below both buffers", {Conf(0x36, 0x0040), Conf(0x37, 0x4000)}, kNew, 0x50100000, kWt, {},
       "address out of range"},
      {"new address beyond 32 bits", {Conf(0x0e, 0), Conf(0x0f, 0x6100)}, 0xFFF00000, kOut, kWt, {}, "beyond 32 bits"},
      // Nothing moved: no pass, not a byte changed (even words no pass could read stay).
      {"nothing moved", with(stream, {Insn(3, 0, 0)}), kDram, kOut, kWt, with(stream, {Insn(3, 0, 0)}), ""},
      {"every region moved", stream, 0x70000000, 0x58000000, 0x72000000,
       {Conf(0x2e, 0x0100), Conf(0x2f, 0x7200), Insn(7, 0, 0), Conf(0x0e, 0x0200), Conf(0x0f, 0x7000), Insn(4, 0, 0),
        Conf(0x36, 0x0300), Conf(0x37, 0x5800), Insn(5, 0, 0)}, ""},
      // A failure in the last pass leaves the earlier passes' registers unchanged too.
      {"last pass fails", with(stream, {Conf(0x36, 0), Conf(0x37, 0x4000)}), 0x70000000, 0x58000000, 0x72000000, {},
       "address out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = Words(c.in);
    const FirmInfo new_f = Regions(c.dram, c.out, 0x61000000, c.wt, 0x40000000);
    const talvex::Status st = BNXUtils::UpdateTZ100CommandBin(data.data(), data.size(), new_f, old_f);
    EXPECT_EQ(st.ok(), !c.want.empty());
    EXPECT_EQ(data, Words(c.want.empty() ? c.in : c.want));
    EXPECT_NE(st.Reason().find(c.error), std::string::npos) << st.Reason();
  }
}

RawTZ100Header HeaderOf(const FirmInfo& f) {
  RawTZ100Header h;
  h.dram_start = f.dram_start;
  h.cmd_start = f.cmd_start;
  h.weight_start = f.weight_start;
  h.input_start = f.input_start;
  return h;
}

TEST(TZ100Relocation, SetupTable) {
  const FirmInfo old_f = Regions(0x60000000, 0x50000000, 0x61000000, 0x62000000, 0x40000000);
  const FirmInfo new_f = Regions(0x70000000, 0x58000000, 0x71000000, 0x72000000, 0x40000010);
  auto setup_with_super = [&](uint32_t addr, const RawTZ100Header& h) {
    RawSuperNode s;
    s.addr = addr;
    return RawSetupWriter().Header(h).InputInfo().Output().Data().Cpu().Super(s).bytes();
  };
  auto expected = [&](uint32_t addr) { return setup_with_super(addr, HeaderOf(new_f)); };

  struct Case {
    const char* name;
    Bytes in;
    FirmInfo new_f, old_f;
    Bytes out;  // empty: refused, unchanged
    const char* error;
  };
  RawTZ100Header wrong_cmd = HeaderOf(old_f);
  wrong_cmd.cmd_start += 16;
  RawTZ100Header bad_magic = HeaderOf(old_f);
  bad_magic.magic = 0x12345678;
  FirmInfo shared_out = old_f;
  shared_out.output_start = shared_out.dram_start;
  Bytes truncated = setup_with_super(0x60000000, HeaderOf(old_f));
  truncated.resize(truncated.size() - 4);
  // A working buffer more than 2 GiB below the commands: a super node 2^31 into it is refused.
  const FirmInfo wide = Regions(0x10000000, 0x08000000, 0xA0000000, 0xB0000000, 0x40000000);
  const std::vector<Case> cases = {
      {"super node in the working buffer", setup_with_super(0x60000100, HeaderOf(old_f)), new_f, old_f,
       expected(0x70000100), ""},
      {"super node at the old dram_start", setup_with_super(0x60000000, HeaderOf(old_f)), new_f, old_f,
       expected(0x70000000), ""},
      {"super node in the output buffer", setup_with_super(0x50000020, HeaderOf(old_f)), new_f, old_f,
       expected(0x58000020), ""},
      {"super node at the old cmd_start", setup_with_super(0x61000000, HeaderOf(old_f)), new_f, old_f, {},
       "Data out of range!"},
      {"super node below the output buffer", setup_with_super(0x4fffffff, HeaderOf(old_f)), new_f, old_f, {},
       "Data out of range!"},
      {"no dedicated output buffer", setup_with_super(0x60000000, HeaderOf(old_f)), new_f, shared_out, {},
       "should be enable dedicated output buffer"},
      {"wrong magic", setup_with_super(0x60000000, bad_magic), new_f, old_f, {},
       "Magic number of setup.bin did not match!"},
      {"header cmd start differs from the record", setup_with_super(0x60000000, wrong_cmd), new_f, old_f, {},
       "cmd start did not match"},
      {"network input node", RawSetupWriter().Header(HeaderOf(old_f)).NetworkInput().bytes(), new_f, old_f, {},
       "Undefinded node index"},
      {"truncated node", truncated, new_f, old_f, {}, "ends inside a node"},
      {"super node 2^31 into the working buffer", setup_with_super(0x90000000, HeaderOf(wide)), wide, wide, {},
       "output node offset should >= 0"},
      {"shorter than a header", Bytes(40, 0), new_f, old_f, {}, "shorter than the TZ100 header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = c.in;
    const talvex::Status st = BNXUtils::UpdateTZ100SetupBin(data.data(), data.size(), c.new_f, c.old_f);
    EXPECT_EQ(st.ok(), !c.out.empty());
    EXPECT_EQ(data, c.out.empty() ? c.in : c.out);
    EXPECT_NE(st.Reason().find(c.error), std::string::npos) << st.Reason();
  }
}

}  // namespace
