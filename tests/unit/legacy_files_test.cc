// fw_info.bin read and written back, with the fw_info.txt beside it: the cases compare the binary
// pair with the builder's but show only the first line of the text.
#include "bnx/legacy_files.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "common/output_dir.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

TEST(LegacyFiles, FwInfoWrittenBackBinaryAndTextExactly) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir.path());
  const std::string fw = dir / "fw_info.bin", all = dir / "all_models.bin";
  const std::vector<LegacyModel> models = {MakeLegacyModel(5, 0x10, 20, 40, Bytes(10, 1)),
                                           MakeLegacyModel(6, 2, 20, 40, Bytes(10, 2))};
  const LegacyPair p = BuildLegacyPair(models, false);
  WriteLegacyPair(p, fw, all);
  std::vector<FirmInfo> infos(5);  // replaced, not appended to
  BNXUtils::ParseFWInfoBin(fw, infos);
  ASSERT_EQ(infos.size(), 2u);
  for (const FirmInfo& f : infos) {  // not in the file: filled later from the setup binaries
    EXPECT_EQ(f.input_num | f.output_num | f.input_row | f.input_col | f.input_channel | f.input_radix | f.first_node, 0u);
  }
  // Written back from what was read: every field went to its place (the text names them).
  EXPECT_EQ(BNXUtils::GenFWInfo(infos, fw, all), 0);
  EXPECT_EQ(ReadBytes(fw), BuildLegacyPair(models, true).fw_info);
  EXPECT_EQ(ReadText(dir / "fw_info.txt"),
            "Total [2] models:\n"
            "    id: [5], version: [0x10]\n"
            "    size: input [0x100], output [0x40], buf [0x800], cmd [0x14], weight [0x28], fw_code[0xa]\n"
            "    addr: input [0x60000000], output [0x60000100], buf [0x60001000], cmd [0x60100000], weight [0x60100020], "
            "fw_code[0x60100050]\n"
            "    id: [6], version: [0x2]\n"
            "    size: input [0x100], output [0x40], buf [0x800], cmd [0x14], weight [0x28], fw_code[0xa]\n"
            "    addr: input [0x60000000], output [0x60000100], buf [0x60001000], cmd [0x60100060], weight [0x60100080], "
            "fw_code[0x601000b0]\n"
            "dram_addr_end [0x601000c0], total bin size:[0xc0]\n" +
                fmt::format("checksum: all_models.bin [0x{:x}]\n", p.all_models_crc) +
                fmt::format("    0 [0x{:x}],     1 [0x{:x}], ", p.block_crcs[0], p.block_crcs[1]));
}

}  // namespace
