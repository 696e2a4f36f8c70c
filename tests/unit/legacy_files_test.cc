#include "bnx/legacy_files.h"

#include <dirent.h>

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "bnx/generate.h"
#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

std::string TalvexError(const std::function<void()>& f) {
  try {
    f();
  } catch (const TalvexException& e) {
    return e.what();
  }
  return "";
}

class LegacyFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BNXUtils::SetOutputDir(dir_.path());
    fw_ = dir_ / "fw_info.bin";
    all_ = dir_ / "all_models.bin";
  }
  void Write(const LegacyPair& p) { WriteLegacyPair(p, fw_, all_); }
  BNX_Args Args() const {
    BNX_Args a;
    a.fw_info_path = fw_;
    a.all_models_path = all_;
    return a;
  }

  TempDir dir_;
  std::string fw_, all_;
};

// Three models of 20 / 40 / 10 bytes: blocks 32+48+16, 32+48+16 and 32+48+10 bytes.
std::vector<LegacyModel> ThreeSmallModels() {
  return {MakeLegacyModel(1, 1, 20, 40, Bytes(10, 0x11)), MakeLegacyModel(2, 1, 20, 40, Bytes(10, 0x22)),
          MakeLegacyModel(3, 1, 20, 40, Bytes(10, 0x33))};
}

TEST_F(LegacyFilesTest, ParseReadsRecordsWithAndWithoutCrcSection) {
  for (bool with_crc : {false, true}) {
    const LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), with_crc);
    ASSERT_EQ(p.fw_info.size(), with_crc ? 60u * 2 + 20 : 56u * 2 + 12);
    Write(p);
    std::vector<FirmInfo> infos(5);  // replaced, not appended to
    BNXUtils::ParseFWInfoBin(fw_, infos);
    ASSERT_EQ(infos.size(), 2u);
    // Record words in file order: id, version, in, out, wbuf, cmd, weight, setup (start, size).
    for (size_t i = 0; i < 2; ++i) {
      const size_t base = 4 + 56 * i;
      const FirmInfo& f = infos[i];
      EXPECT_EQ(f.model_id, LoadLE32(p.fw_info, base + 0));
      EXPECT_EQ(f.version, LoadLE32(p.fw_info, base + 4));
      EXPECT_EQ(f.input_start, LoadLE32(p.fw_info, base + 8));
      EXPECT_EQ(f.input_size, LoadLE32(p.fw_info, base + 12));
      EXPECT_EQ(f.output_start, LoadLE32(p.fw_info, base + 16));
      EXPECT_EQ(f.output_size, LoadLE32(p.fw_info, base + 20));
      EXPECT_EQ(f.dram_start, LoadLE32(p.fw_info, base + 24));
      EXPECT_EQ(f.dram_size, LoadLE32(p.fw_info, base + 28));
      EXPECT_EQ(f.cmd_start, LoadLE32(p.fw_info, base + 32));
      EXPECT_EQ(f.cmd_size, LoadLE32(p.fw_info, base + 36));
      EXPECT_EQ(f.weight_start, LoadLE32(p.fw_info, base + 40));
      EXPECT_EQ(f.weight_size, LoadLE32(p.fw_info, base + 44));
      EXPECT_EQ(f.fw_code_start, LoadLE32(p.fw_info, base + 48));
      EXPECT_EQ(f.fw_code_size, LoadLE32(p.fw_info, base + 52));
      // Not in the file: filled later from the setup binaries.
      EXPECT_EQ(f.input_num + f.output_num + f.input_row + f.input_col + f.input_channel + f.input_radix +
                    f.first_node,
                0u);
    }
    EXPECT_EQ(infos[1].model_id, 9u);
    EXPECT_EQ(infos[1].version, 0x102u);
  }
  EXPECT_EQ(FirmInfo::ENCRYPT_WITH_EFUSE, 0xFFFF0000u);
}

TEST_F(LegacyFilesTest, ParseRefusesMissingShortAndOverlongCounts) {
  EXPECT_NE(TalvexError([&] {
              std::vector<FirmInfo> v;
              BNXUtils::ParseFWInfoBin(dir_ / "none.bin", v);
            }),
            "");
  // A count far beyond what the file holds is refused before it sizes anything.
  for (uint32_t count : {2u, 1000u, 0xFFFFFFFFu}) {
    Bytes fw = BuildLegacyPair({MakeLegacyModel(1, 1, 16, 16, Bytes(8, 1))}, false).fw_info;
    fw[0] = static_cast<uint8_t>(count);
    fw[1] = static_cast<uint8_t>(count >> 8);
    fw[2] = static_cast<uint8_t>(count >> 16);
    fw[3] = static_cast<uint8_t>(count >> 24);
    WriteBytes(fw_, fw);
    std::vector<FirmInfo> v;
    EXPECT_NE(TalvexError([&] { BNXUtils::ParseFWInfoBin(fw_, v); }), "") << count;
    EXPECT_TRUE(v.empty());
  }
  BNXUtils::FWInfoTable t;
  std::string why;
  EXPECT_FALSE(BNXUtils::DecodeFWInfo(nullptr, 0, t, &why));
  EXPECT_FALSE(why.empty());
}

TEST_F(LegacyFilesTest, BlocksOfThreeModelsAndTheirCrcs) {
  const auto models = ThreeSmallModels();
  const LegacyPair p = BuildLegacyPair(models, false, 0xEE);
  ASSERT_EQ(p.all_models.size(), 96u + 96u + 90u);
  std::vector<BNX_FW_INFO_MODEL> recs;
  for (const auto& m : models) {
    BNX_FW_INFO_MODEL r;
    r.size_cmd = static_cast<uint32_t>(m.cmd.size());
    r.size_wt = static_cast<uint32_t>(m.weight.size());
    r.size_fw = static_cast<uint32_t>(m.setup.size());
    recs.push_back(r);
  }
  EXPECT_EQ(BNXUtils::ModelBlockSize(recs[0], false), 96u);
  EXPECT_EQ(BNXUtils::ModelBlockSize(recs[2], true), 90u);
  const auto crcs = BNXUtils::ComputeCRCSection(recs, p.all_models.data(), p.all_models.size());
  ASSERT_EQ(crcs.size(), 4u);
  EXPECT_EQ(crcs[0], Crc32(p.all_models));
  EXPECT_EQ(crcs[1], Crc32(p.all_models, 0, 96));
  EXPECT_EQ(crcs[2], Crc32(p.all_models, 96, 96));
  EXPECT_EQ(crcs[3], Crc32(p.all_models, 192, 90));
  // One byte short of the last block: refused, not read past.
  EXPECT_NE(TalvexError([&] { BNXUtils::ComputeCRCSection(recs, p.all_models.data(), p.all_models.size() - 1); }),
            "");
}

TEST_F(LegacyFilesTest, GenFWBinDataAddsTheCrcSectionOnce) {
  const LegacyPair p = BuildLegacyPair({MakeLegacyModel(4, 2, 20, 40, Bytes(10, 0x5A))}, false);
  ASSERT_EQ(p.fw_info.size(), 68u);
  Write(p);
  BNX_Args args = Args();
  Bytes out;
  BNXUtils::GenFWBinData(args, out);
  const Bytes file = ReadBytes(fw_);
  ASSERT_EQ(file.size(), 80u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 68), p.fw_info);
  EXPECT_EQ(LoadLE32(file, 68), Crc32(p.all_models));
  // The only block is the whole all_models.bin (the last setup is not padded).
  EXPECT_EQ(LoadLE32(file, 72), Crc32(p.all_models));
  EXPECT_EQ(LoadLE32(file, 76), Crc32(file, 0, 76));
  EXPECT_EQ(out, file);
  // Same bytes as a pair built with the section from the start.
  EXPECT_EQ(file, BuildLegacyPair({MakeLegacyModel(4, 2, 20, 40, Bytes(10, 0x5A))}, true).fw_info);

  Bytes again;
  BNXUtils::GenFWBinData(args, again);
  EXPECT_EQ(ReadBytes(fw_), file);
  EXPECT_EQ(again, file);
}

TEST_F(LegacyFilesTest, GenFWBinDataRefusesOtherSizesAndLeavesTheFileAlone) {
  const LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), false);
  WriteBytes(all_, p.all_models);
  std::vector<Bytes> bad = {Bytes{}, Bytes{1, 0}, p.fw_info, p.fw_info};
  bad[2].push_back(0);    // one byte too many
  bad[3].resize(bad[3].size() - 4);  // one word too few
  for (const Bytes& fw : bad) {
    WriteBytes(fw_, fw);
    BNX_Args args = Args();
    Bytes out;
    const std::string err = TalvexError([&] { BNXUtils::GenFWBinData(args, out); });
    EXPECT_NE(err.find("Undefine file size of fw_info.bin"), std::string::npos) << fw.size();
    EXPECT_EQ(ReadBytes(fw_), fw);
  }
}

TEST_F(LegacyFilesTest, RecordsBeyondAllModelsAreRefusedBeforeAnythingIsWritten) {
  const LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), false);
  // all_models.bin one byte short of what the records describe.
  Write(p);
  WriteBytes(all_, Bytes(p.all_models.begin(), p.all_models.end() - 1));
  BNX_Args args = Args();
  Bytes out;
  EXPECT_NE(TalvexError([&] { BNXUtils::GenFWBinData(args, out); }).find("all_models.bin"), std::string::npos);
  EXPECT_EQ(ReadBytes(fw_), p.fw_info);

  // A command size near 4 GiB: no wrap-around, no huge read.
  Bytes fw = p.fw_info;
  fw[4 + 36] = 0xF0;
  fw[4 + 37] = fw[4 + 38] = fw[4 + 39] = 0xFF;
  WriteBytes(fw_, fw);
  WriteBytes(all_, p.all_models);
  EXPECT_NE(TalvexError([&] { BNXUtils::GenFWBinData(args, out); }), "");
  EXPECT_EQ(ReadBytes(fw_), fw);
  EXPECT_NE(TalvexError([&] { BNXUtils::GetSetupBinContent(all_, fw_); }), "");
}

TEST_F(LegacyFilesTest, WriteCRCInfoAppendsAllModelsAndBlockCrcs) {
  const auto models = ThreeSmallModels();
  const LegacyPair p = BuildLegacyPair(models, false);
  Write(p);
  std::vector<FirmInfo> infos;
  BNXUtils::ParseFWInfoBin(fw_, infos);
  BNX_Args args = Args();
  BNXUtils::WriteCRCInfo(args, infos);
  const Bytes file = ReadBytes(fw_);
  ASSERT_EQ(file.size(), p.fw_info.size() + 16);
  EXPECT_EQ(LoadLE32(file, p.fw_info.size()), p.all_models_crc);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(LoadLE32(file, p.fw_info.size() + 4 + 4 * i), p.block_crcs[i]);
}

// Two models of 20 / 40 / 10 bytes at fixed addresses.
std::vector<FirmInfo> TwoFirmInfos() {
  FirmInfo a;
  a.model_id = 5;
  a.version = 0x10;
  a.input_start = 0x60000000;
  a.input_size = 0x100;
  a.output_start = 0x60000100;
  a.output_size = 0x40;
  a.dram_start = 0x60001000;
  a.dram_size = 0x800;
  a.cmd_start = 0x60100000;
  a.cmd_size = 20;
  a.weight_start = 0x60100020;
  a.weight_size = 40;
  a.fw_code_start = 0x60100050;
  a.fw_code_size = 10;
  FirmInfo b = a;
  b.model_id = 6;
  b.version = 2;
  b.output_start = 0x60000140;
  b.cmd_start = 0x60100060;
  b.weight_start = 0x60100080;
  b.fw_code_start = 0x601000b0;
  return {a, b};
}

TEST_F(LegacyFilesTest, GenFWInfoWritesBinaryAndTextExactly) {
  const LegacyPair p = BuildLegacyPair(
      {MakeLegacyModel(5, 0x10, 20, 40, Bytes(10, 1)), MakeLegacyModel(6, 2, 20, 40, Bytes(10, 2))}, false);
  WriteBytes(all_, p.all_models);
  std::vector<FirmInfo> infos = TwoFirmInfos();
  EXPECT_EQ(BNXUtils::GenFWInfo(infos, fw_, all_), 0);

  Bytes expect;
  AppendLE32(expect, 2);
  for (const FirmInfo& f : infos) {
    for (uint32_t w : {f.model_id, f.version, f.input_start, f.input_size, f.output_start, f.output_size,
                       f.dram_start, f.dram_size, f.cmd_start, f.cmd_size, f.weight_start, f.weight_size,
                       f.fw_code_start, f.fw_code_size}) {
      AppendLE32(expect, w);
    }
  }
  AppendLE32(expect, 0x601000c0);  // last setup start + 10 rounded to 16
  AppendLE32(expect, 0xc0);        // minus the first command start
  const uint32_t c_all = Crc32(p.all_models), c0 = Crc32(p.all_models, 0, 96), c1 = Crc32(p.all_models, 96, 90);
  AppendLE32(expect, c_all);
  AppendLE32(expect, c0);
  AppendLE32(expect, c1);
  AppendLE32(expect, Crc32(expect));
  EXPECT_EQ(ReadBytes(fw_), expect);

  const std::string txt =
      "Total [2] models:\n"
      "    id: [5], version: [0x10]\n"
      "    size: input [0x100], output [0x40], buf [0x800], cmd [0x14], weight [0x28], fw_code[0xa]\n"
      "    addr: input [0x60000000], output [0x60000100], buf [0x60001000], cmd [0x60100000], weight [0x60100020], "
      "fw_code[0x60100050]\n"
      "    id: [6], version: [0x2]\n"
      "    size: input [0x100], output [0x40], buf [0x800], cmd [0x14], weight [0x28], fw_code[0xa]\n"
      "    addr: input [0x60000000], output [0x60000140], buf [0x60001000], cmd [0x60100060], weight [0x60100080], "
      "fw_code[0x601000b0]\n"
      "dram_addr_end [0x601000c0], total bin size:[0xc0]\n" +
      fmt::format("checksum: all_models.bin [0x{:x}]\n", c_all) +
      fmt::format("    0 [0x{:x}],     1 [0x{:x}], ", c0, c1);
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt"), txt);
}

TEST_F(LegacyFilesTest, GenFWInfoDramEndAndNoModels) {
  FirmInfo f;
  f.cmd_start = 0x60F00000;
  f.fw_code_start = 0x61000000;
  f.fw_code_size = 0x123;
  WriteBytes(all_, Bytes(0x123, 7));
  std::vector<FirmInfo> one = {f};
  BNXUtils::GenFWInfo(one, fw_, all_);
  Bytes bin = ReadBytes(fw_);
  ASSERT_EQ(bin.size(), 80u);
  EXPECT_EQ(LoadLE32(bin, 60), 0x61000130u);
  EXPECT_EQ(LoadLE32(bin, 64), 0x61000130u - 0x60F00000u);

  std::vector<FirmInfo> none;
  WriteBytes(all_, Bytes{});
  BNXUtils::GenFWInfo(none, fw_, all_);
  bin = ReadBytes(fw_);
  ASSERT_EQ(bin.size(), 20u);
  EXPECT_EQ(LoadLE32(bin, 0), 0u);
  EXPECT_EQ(LoadLE32(bin, 4), 0u);
  EXPECT_EQ(LoadLE32(bin, 8), 0u);
  EXPECT_EQ(LoadLE32(bin, 12), 0u);  // CRC of an empty all_models.bin
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt"),
            "Total [0] models:\ndram_addr_end [0x0], total bin size:[0x0]\nchecksum: all_models.bin [0x0]\n");
}

TEST_F(LegacyFilesTest, GenFWInfoFailureLeavesEarlierFilesIntact) {
  WriteText(fw_, "old fw_info");
  WriteText(dir_ / "fw_info.txt", "old text");
  std::vector<FirmInfo> infos = TwoFirmInfos();
  // all_models.bin missing, then too short for the records.
  EXPECT_NE(TalvexError([&] { BNXUtils::GenFWInfo(infos, fw_, all_); }), "");
  WriteBytes(all_, Bytes(100, 1));
  EXPECT_NE(TalvexError([&] { BNXUtils::GenFWInfo(infos, fw_, all_); }), "");
  EXPECT_EQ(ReadText(fw_), "old fw_info");
  EXPECT_EQ(ReadText(dir_ / "fw_info.txt"), "old text");
  EXPECT_EQ(DirEntries(dir_.path()), (std::vector<std::string>{"all_models.bin", "fw_info.bin", "fw_info.txt"}));
}

TEST_F(LegacyFilesTest, FirstSetupBinaryAndItsForm) {
  const LegacyPair raw = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), false, 0xCC);
  Write(raw);
  EXPECT_EQ(BNXUtils::GetSetupBinContent(all_, fw_), RawSetupPlaceholder());
  const LegacyPair none = BuildLegacyPair({}, false);
  Write(none);
  EXPECT_TRUE(BNXUtils::GetSetupBinContent(all_, fw_).empty());
  EXPECT_NE(TalvexError([&] { BNXUtils::GetSetupBinContent(dir_ / "missing", fw_); })
                .find("ifs_m.is_open() && ifs_f.is_open()"),
            std::string::npos);

  for (auto form : {LegacySetupForm::kRaw, LegacySetupForm::kFlatbuffer}) {
    const LegacyPair p = BuildLegacyPair(SampleLegacyModels(form), true);
    SampleBnx s;
    s.target = 1;
    s.fw_info = p.fw_info;
    s.all_models = p.all_models;
    WriteBytes(dir_ / "c.bnx", BuildBnx(s));
    EXPECT_EQ(BNXUtils::IsSetupBinFbs(dir_ / "c.bnx"), form == LegacySetupForm::kFlatbuffer);
  }
  SampleBnx empty;
  empty.models.clear();
  empty.fw_info = none.fw_info;
  WriteBytes(dir_ / "e.bnx", BuildBnx(empty));
  EXPECT_NE(TalvexError([&] { BNXUtils::IsSetupBinFbs(dir_ / "e.bnx"); }).find("model count should not be zero:"),
            std::string::npos);
}

}  // namespace
