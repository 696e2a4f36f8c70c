// fw_info.bin / all_models.bin (bnx/legacy_files), checked against pairs built by hand.
#include "bnx/legacy_files.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/setup_builder.h"
#include "support/run.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

class LegacyFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { BNXUtils::SetOutputDir(dir_.path()); }
  TempDir dir_;
  std::string fw_ = dir_ / "fw_info.bin", all_ = dir_ / "all_models.bin";
};

TEST_F(LegacyFilesTest, BlocksAndTheirCrcsStayInsideAllModels) {
  // Three models of 20 / 40 / 10 bytes: blocks of 32+48+16, 32+48+16 and 32+48+10 bytes.
  const LegacyPair p = BuildLegacyPair(std::vector<LegacyModel>(3, MakeLegacyModel(1, 1, 20, 40, Bytes(10, 1))), false, 0xEE);
  ASSERT_EQ(p.all_models.size(), 96u + 96u + 90u);
  std::vector<BNX_FW_INFO_MODEL> recs(3, {1, 1, 0, 0, 0, 0, 0, 0, 0, 20, 0, 40, 0, 10});
  const std::vector<uint32_t> expected{Crc32(p.all_models), Crc32(p.all_models, 0, 96), Crc32(p.all_models, 96, 96),
                                       Crc32(p.all_models, 192, 90)};
  EXPECT_EQ(BNXUtils::ComputeCRCSection(recs, p.all_models.data(), p.all_models.size()), expected);
  // The same read from the file; bytes after the last block count for the whole CRC only.
  Bytes longer = p.all_models;
  longer.insert(longer.end(), {7, 8, 9});
  WriteBytes(all_, longer);
  const talvex::FileBuffer file = talvex::FileBuffer::Load(all_);
  ASSERT_TRUE(file.ok());
  std::vector<uint32_t> with_tail = expected;
  with_tail[0] = Crc32(longer);
  EXPECT_EQ(BNXUtils::ComputeCRCSection(recs, file.data(), file.size(), file.fd()), with_tail);
  EXPECT_EQ(BNXUtils::ComputeCRCSection(recs, longer.data(), longer.size()), with_tail);
  // One byte short of the last block, or a block past the end: refused, not read past.
  EXPECT_THROW(BNXUtils::ComputeCRCSection(recs, p.all_models.data(), p.all_models.size() - 1), TalvexException);
  recs[0].size_cmd = 0xFFFFFFF8;  // wraps past 32 bits when rounded to 16
  EXPECT_THROW(BNXUtils::ComputeCRCSection(recs, p.all_models.data(), p.all_models.size()), TalvexException);
}

TEST_F(LegacyFilesTest, GenFWInfoWritesBinaryAndTextExactly) {
  const std::vector<LegacyModel> models = {MakeLegacyModel(5, 0x10, 20, 40, Bytes(10, 1)),
                                           MakeLegacyModel(6, 2, 20, 40, Bytes(10, 2))};
  const LegacyPair p = BuildLegacyPair(models, false);
  WriteLegacyPair(p, fw_, all_);
  std::vector<FirmInfo> infos(5);  // replaced, not appended to
  BNXUtils::ParseFWInfoBin(fw_, infos);
  ASSERT_EQ(infos.size(), 2u);
  for (const FirmInfo& f : infos) {  // not in the file: filled later from the setup binaries
    EXPECT_EQ(f.input_num | f.output_num | f.input_row | f.input_col | f.input_channel | f.input_radix | f.first_node, 0u);
  }
  // Written back from what was read: every field went to its place (the text names them).
  EXPECT_EQ(BNXUtils::GenFWInfo(infos, fw_, all_), 0);
  EXPECT_EQ(ReadBytes(fw_), BuildLegacyPair(models, true).fw_info);
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt"),
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

TEST_F(LegacyFilesTest, GenFWInfoWithoutModelsAndFailures) {
  std::vector<FirmInfo> infos;
  WriteBytes(all_, Bytes{});
  BNXUtils::GenFWInfo(infos, fw_, all_);
  EXPECT_EQ(ReadBytes(fw_), BuildLegacyPair({}, true).fw_info);
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt"),
            "Total [0] models:\ndram_addr_end [0x0], total bin size:[0x0]\nchecksum: all_models.bin [0x0]\n");
  // all_models.bin missing, then too short for the records: the earlier files stay.
  infos.resize(1);
  infos[0].fw_code_size = 0x123;
  WriteText(fw_, "old fw_info");
  EXPECT_THROW(BNXUtils::GenFWInfo(infos, fw_, dir_ / "none.bin"), TalvexException);
  WriteBytes(all_, Bytes(100, 1));
  EXPECT_THROW(BNXUtils::GenFWInfo(infos, fw_, all_), TalvexException);
  EXPECT_EQ(ReadText(fw_), "old fw_info");
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt").substr(0, 17), "Total [0] models:");
  EXPECT_EQ(DirEntries(dir_.path()), (std::vector<std::string>{"all_models.bin", "fw_info.bin", "fw_info.txt"}));
}

TEST_F(LegacyFilesTest, IsSetupBinFbsLooksAtTheFirstModelsSetup) {
  auto container = [&](const std::string& name, const std::vector<LegacyModel>& models, bool with_infos) {
    const LegacyPair p = BuildLegacyPair(models, true);
    SampleBnx s;
    s.target = 1, s.major = 0;
    s.fw_info = p.fw_info, s.all_models = p.all_models;
    if (!with_infos) s.models.clear();
    WriteBytes(dir_ / name, BuildBnx(s));
    return dir_ / name;
  };
  const std::vector<LegacyModel> raw = SampleLegacyModels(LegacySetupForm::kRaw);
  const std::vector<LegacyModel> fb = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
  EXPECT_FALSE(BNXUtils::IsSetupBinFbs(container("raw.bnx", raw, true)));
  EXPECT_TRUE(BNXUtils::IsSetupBinFbs(container("fb.bnx", fb, true)));
  // Only the first model counts.
  EXPECT_TRUE(BNXUtils::IsSetupBinFbs(container("mixed.bnx", {fb[0], raw[1]}, true)));
  // No model, no model_info, a setup beyond all_models, or no container: refused, not guessed.
  EXPECT_THROW(BNXUtils::IsSetupBinFbs(container("none.bnx", {}, true)), TalvexException);
  EXPECT_THROW(BNXUtils::IsSetupBinFbs(container("noinfo.bnx", fb, false)), TalvexException);
  LegacyPair cut = BuildLegacyPair(fb, true);
  SampleBnx s;
  s.target = 1, s.major = 1, s.fw_info = cut.fw_info;
  s.all_models.assign(cut.all_models.begin(), cut.all_models.begin() + 40);
  WriteBytes(dir_ / "cut.bnx", BuildBnx(s));
  EXPECT_THROW(BNXUtils::IsSetupBinFbs(dir_ / "cut.bnx"), TalvexException);
  EXPECT_THROW(BNXUtils::IsSetupBinFbs(dir_ / "missing.bnx"), TalvexException);
}

}  // namespace
