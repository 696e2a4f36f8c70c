// Device test configurations of legacy models and the clean-up of per-model files.
#include "bnx/test_conf.h"

#include <gtest/gtest.h>

#include <set>

#include "common/output_dir.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using namespace testsupport;
using Names = std::set<std::string>;

Names FilesIn(const std::string& dir) {
  const std::vector<std::string> v = DirEntries(dir);
  return Names(v.begin(), v.end());
}

TEST(TestConf, TargetsChooseTheScript) {
  // The TZ200 example layout: working buffer, output, input and weight as the device sees them.
  const BNX_FW_INFO_MODEL rec = {4000000000u, 3, 0x60000000, 0x24c00, 0x60200000, 0x310, 0x60100000, 0x8000,
                                 0x62000000,  0x1000, 0x61000000, 0x2000, 0x63000000, 0x120};
  const std::string tz200 =
      "+ENABLE_INST_OPT 1\n+CODE_BASE   0x0\n+RDMA0_BASE  0x60100000\n+WDMA0_BASE  0x60100000\n"
      "+RDMA1_BASE  0x60200000\n+WDMA1_BASE  0x60200000\n+RDMA2_BASE  0x60000000\n+WDMA2_BASE  0x61000000\n"
      "+GETW_BASE   0x61000000\n\n";
  const std::string apb =
      "W NPU_RDMA0_SRC4 0x60100000\nW NPU_WDMA0_DST4 0x60100000\nW NPU_RDMA1_SRC4 0x60200000\n"
      "W NPU_WDMA1_DST4 0x60200000\nW NPU_RDMA2_SRC4 0x60000000\nW NPU_WDMA2_DST4 0x61000000\n"
      "W NPU_RDMA3_SRC4 0x60000000\nW NPU_GETW4 0x61000000\nW NPU_CODE 0x62000000\n\n\n"
      "W NPU_CLEN $NPU_CODE_LENGTH\nW NPU_INTEN 0xffffffff\nW NPU_RUN 0x1\nWAIT\n";
  using T = TalvexBNX::NPUTarget;
  for (const auto& [target, suffix, text] : std::vector<std::tuple<T, std::string, std::string>>{
           {T::TZ100, "_test.conf", "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n"}, {T::TZ200, "_test.conf", tz200},
           {T::TZ300, "_apb.npu", apb}, {T::TZ500, "_apb.npu", apb}, {T::TZ400, "", ""}, {T::TZ600, "", ""}}) {
    TempDir d;
    EXPECT_TRUE(BNXUtils::GenAddrConf(rec, d / "P_", target).ok());
    const std::string name = "P_modelid_4000000000" + suffix;
    EXPECT_EQ(FilesIn(d.path()), suffix.empty() ? Names{} : Names{name}) << name;
    if (!suffix.empty()) EXPECT_EQ(ReadText(d / name), text);
  }
}

class PostCleanUpTmpBinTest : public ::testing::Test {
 protected:
  void SetUp() override { BNXUtils::SetOutputDir(out_); }
  // Writes prefix_fw_info.bin listing ids, and every per-model file of them; returns their names.
  Names Model(const std::string& prefix, const std::vector<uint32_t>& ids, uint32_t count = 0) const {
    std::vector<uint8_t> fw;
    AppendLE32(fw, count != 0 ? count : static_cast<uint32_t>(ids.size()));
    Names n = {prefix.substr(prefix.rfind('/') + 1) + "_fw_info.bin"};
    for (uint32_t id : ids) {
      for (int w = 0; w < 14; ++w) AppendLE32(fw, w == 0 ? id : 0x60000000u + w);
      for (const char* s : {"_command.bin", "_weight.bin", "_setup.bin", "_setup.bin.json", "_apb.npu", "_test.conf"}) {
        WriteText(prefix + "_modelid_" + std::to_string(id) + s, "x");
        n.insert(prefix.substr(prefix.rfind('/') + 1) + "_modelid_" + std::to_string(id) + s);
      }
    }
    WriteBytes(prefix + "_fw_info.bin", fw);
    return n;
  }
  TempDir root_;
  std::string out_ = root_ / "out";
};

TEST_F(PostCleanUpTmpBinTest, HostileNamesAndTables) {
  // A negative count, a file shorter than its count, an empty file: nothing removed. Then a
  // count far beyond the records, with one whole record (id 9) and part of another (id 1).
  Names kept = Model(out_ + "/H", {1}), all = Model(out_ + "/H", {9, 1}, 0x7FFFFFFF);
  std::vector<uint8_t> fw = ReadBytes(out_ + "/H_fw_info.bin"), negative(fw.begin(), fw.begin() + 60);
  fw.resize(4 + 56 + 30);
  negative[0] = negative[1] = negative[2] = negative[3] = 0xFF;
  for (const std::vector<uint8_t>& bad : {negative, std::vector<uint8_t>{2, 0, 0}, std::vector<uint8_t>{}, fw}) {
    WriteBytes(out_ + "/H_fw_info.bin", bad);
    BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "H", false);
    EXPECT_EQ(FilesIn(out_), bad == fw ? kept : all);
  }
  // A name climbing out of the output folder: the neighbour's files stay.
  Names victim = Model(root_ / "victim", {1});
  BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "../victim", true);
  victim.insert("out");
  EXPECT_EQ(FilesIn(root_.path()), victim);
}

}  // namespace
