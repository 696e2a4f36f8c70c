// Device test configurations of legacy models and the clean-up of per-model files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <set>
#include <string>
#include <vector>

#include "bnx/test_conf.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using testsupport::Exists;
using testsupport::ReadText;
using testsupport::TempDir;
using testsupport::WriteText;

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
  }
  return names;
}

// The TZ200 example layout: working buffer, output, input and weight as the device sees them.
BNX_FW_INFO_MODEL ExampleRecord(uint32_t id) {
  BNX_FW_INFO_MODEL r;
  r.model_id = id;
  r.model_ver = 3;
  r.addr_in = 0x60000000;
  r.size_in = 0x24c00;
  r.addr_out = 0x60200000;
  r.size_out = 0x310;
  r.addr_wbuf = 0x60100000;
  r.size_wbuf = 0x8000;
  r.addr_cmd = 0x62000000;
  r.size_cmd = 0x1000;
  r.addr_wt = 0x61000000;
  r.size_wt = 0x2000;
  r.addr_fw = 0x63000000;
  r.size_fw = 0x120;
  return r;
}

const char kTz200Conf[] =
    "+ENABLE_INST_OPT 1\n"
    "+CODE_BASE   0x0\n"
    "+RDMA0_BASE  0x60100000\n"
    "+WDMA0_BASE  0x60100000\n"
    "+RDMA1_BASE  0x60200000\n"
    "+WDMA1_BASE  0x60200000\n"
    "+RDMA2_BASE  0x60000000\n"
    "+WDMA2_BASE  0x61000000\n"
    "+GETW_BASE   0x61000000\n"
    "\n";

const char kTz100Conf[] = "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n";

const char kApbNpu[] =
    "W NPU_RDMA0_SRC4 0x60100000\n"
    "W NPU_WDMA0_DST4 0x60100000\n"
    "W NPU_RDMA1_SRC4 0x60200000\n"
    "W NPU_WDMA1_DST4 0x60200000\n"
    "W NPU_RDMA2_SRC4 0x60000000\n"
    "W NPU_WDMA2_DST4 0x61000000\n"
    "W NPU_RDMA3_SRC4 0x60000000\n"
    "W NPU_GETW4 0x61000000\n"
    "W NPU_CODE 0x62000000\n"
    "\n"
    "\n"
    "W NPU_CLEN $NPU_CODE_LENGTH\n"
    "W NPU_INTEN 0xffffffff\n"
    "W NPU_RUN 0x1\n"
    "WAIT\n";

TEST(TestConf, TargetsChooseTheScript) {
  TempDir dir;
  const std::string base = dir / "P_";
  const BNX_FW_INFO_MODEL rec = ExampleRecord(7);

  BNXUtils::GenAddrConf(rec, base, TalvexBNX::NPUTarget::TZ200);
  EXPECT_EQ(ReadText(dir / "P_modelid_7_test.conf"), kTz200Conf);

  TempDir dir100;
  BNXUtils::GenAddrConf(rec, dir100 / "", TalvexBNX::NPUTarget::TZ100);
  EXPECT_EQ(FilesIn(dir100.path()), std::set<std::string>{"modelid_7_test.conf"});
  EXPECT_EQ(ReadText(dir100 / "modelid_7_test.conf"), kTz100Conf);

  for (auto target : {TalvexBNX::NPUTarget::TZ300, TalvexBNX::NPUTarget::TZ500}) {
    TempDir d;
    BNXUtils::GenAddrConf(ExampleRecord(4000000000u), d / "Q_", target);
    EXPECT_EQ(FilesIn(d.path()), std::set<std::string>{"Q_modelid_4000000000_apb.npu"});
    EXPECT_EQ(ReadText(d / "Q_modelid_4000000000_apb.npu"), kApbNpu);
  }

  for (auto target : {TalvexBNX::NPUTarget::TZ400, TalvexBNX::NPUTarget::TZ600}) {
    TempDir d;
    BNXUtils::GenAddrConf(rec, d / "P_", target);
    EXPECT_TRUE(FilesIn(d.path()).empty());
  }
}

TEST(TestConf, AddressesAreLow32BitsUnpaddedLowerCase) {
  BNXUtils::AddrInfo a = BNXUtils::GetAddrInfo(ExampleRecord(1));
  EXPECT_EQ(a.const_in_buf.offset, 0x60000000u);
  EXPECT_EQ(a.const_in_buf.size, 0x24c00u);
  EXPECT_EQ(a.cpu_tmp_buf.offset + a.cpu_tmp_buf.size + a.sram_buf.offset + a.sram_buf.size, 0u);
  EXPECT_EQ(a.setup_seg.offset, 0x63000000u);

  a.data_buf.offset = 0x1000000ABull;
  a.out_buf.offset = 0xABCDEF;
  a.in_buf.offset = 0;
  a.weight_seg.offset = 0xFFFFFFFFull;
  a.const_in_buf.offset = 0x10;
  a.cmd_seg.offset = 0x200000000ull;
  EXPECT_EQ(BNXUtils::Get200TestConfText(a),
            "+ENABLE_INST_OPT 1\n+CODE_BASE   0x0\n"
            "+RDMA0_BASE  0xab\n+WDMA0_BASE  0xab\n"
            "+RDMA1_BASE  0xabcdef\n+WDMA1_BASE  0xabcdef\n"
            "+RDMA2_BASE  0x0\n+WDMA2_BASE  0xffffffff\n+GETW_BASE   0xffffffff\n\n");
  EXPECT_EQ(BNXUtils::GetApbNpuText(a, 26),
            "W NPU_RDMA0_SRC4 0xab\nW NPU_WDMA0_DST4 0xab\n"
            "W NPU_RDMA1_SRC4 0xabcdef\nW NPU_WDMA1_DST4 0xabcdef\n"
            "W NPU_RDMA2_SRC4 0x0\nW NPU_WDMA2_DST4 0xffffffff\n"
            "W NPU_RDMA3_SRC4 0x10\nW NPU_GETW4 0xffffffff\nW NPU_CODE 0x0\n\n\n"
            "W NPU_CLEN $NPU_CODE_LENGTH\nW NPU_INTEN 0xffffffff\nW NPU_RUN 0x1a\nWAIT\n");
}

TEST(TestConf, WritersReplaceFilesAndFailCleanly) {
  TempDir dir;
  const std::string path = dir / "m_test.conf";
  WriteText(path, std::string(500, 'x'));  // longer than the new text
  EXPECT_TRUE(BNXUtils::Gen100TestConf(path));
  EXPECT_EQ(ReadText(path), kTz100Conf);

  const BNXUtils::AddrInfo a = BNXUtils::GetAddrInfo(ExampleRecord(1));
  EXPECT_FALSE(BNXUtils::Gen100TestConf(dir / "missing/x_test.conf"));
  EXPECT_FALSE(BNXUtils::Gen200TestConf(a, dir / "missing/x_test.conf"));
  EXPECT_FALSE(BNXUtils::GenApbNpu(a, dir / "missing/x_apb.npu", 1));
  EXPECT_EQ(FilesIn(dir.path()), std::set<std::string>{"m_test.conf"});
}

// ---- PostCleanUpTmpBin ----

const char* const kModelSuffixes[] = {"_command.bin", "_weight.bin", "_setup.bin",
                                      "_setup.bin.json", "_apb.npu", "_test.conf"};

std::vector<uint8_t> FwInfo(uint32_t count, const std::vector<uint32_t>& ids, bool trailer = true) {
  std::vector<uint8_t> out;
  testsupport::AppendLE32(out, count);
  for (uint32_t id : ids) {
    testsupport::AppendLE32(out, id);
    for (int w = 1; w < 14; ++w) testsupport::AppendLE32(out, 0x60000000u + w);
  }
  if (trailer) {
    testsupport::AppendLE32(out, 0x61000000);
    testsupport::AppendLE32(out, 0x1000);
  }
  return out;
}

class PostCleanUpTmpBinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = root_ / "out";
    BNXUtils::SetOutputDir(out_);
    ASSERT_EQ(BNXUtils::GetOutputDir(), out_ + "/");
  }
  std::string Out(const std::string& name) const { return out_ + "/" + name; }
  void Touch(const std::string& path) const { WriteText(path, "x"); }
  void ModelFiles(const std::string& prefix, uint32_t id) const {
    for (const char* s : kModelSuffixes) Touch(prefix + "_modelid_" + std::to_string(id) + s);
  }
  std::set<std::string> ModelNames(const std::string& prefix, uint32_t id) const {
    std::set<std::string> n;
    for (const char* s : kModelSuffixes) n.insert(prefix + "_modelid_" + std::to_string(id) + s);
    return n;
  }
  // Legacy extraction leftovers with prefix N: models 3 and 70000, both pairs, fw_info.txt.
  void Extracted(const std::string& prefix) const {
    testsupport::WriteBytes(Out(prefix + "_fw_info.bin"), FwInfo(2, {3, 70000}));
    Touch(Out(prefix + "_all_models.bin"));
    ModelFiles(Out(prefix), 3);
    ModelFiles(Out(prefix), 70000);
    Touch(Out("all_models.bin"));
    Touch(Out("fw_info.bin"));
    Touch(Out("fw_info.txt"));
    Touch(Out(prefix + "_modelid_5_command.bin"));  // not listed: never touched
    Touch(Out("other.bin"));
  }

  TempDir root_;
  std::string out_;
};

TEST_F(PostCleanUpTmpBinTest, KeepsPairsUnlessDeletingAll) {
  Extracted("N");
  BNXUtils::PostCleanUpTmpBin({"ignored.bnx"}, "N", false);
  EXPECT_EQ(FilesIn(out_),
            (std::set<std::string>{"N_fw_info.bin", "N_all_models.bin", "all_models.bin", "fw_info.bin",
                                   "fw_info.txt", "N_modelid_5_command.bin", "other.bin"}));

  Extracted("N");
  BNXUtils::PostCleanUpTmpBin({"ignored.bnx"}, "N", true);
  EXPECT_EQ(FilesIn(out_), (std::set<std::string>{"N_modelid_5_command.bin", "other.bin"}));

  // Nothing left to remove: missing files are skipped silently.
  BNXUtils::PostCleanUpTmpBin({"ignored.bnx"}, "N", true);
  EXPECT_EQ(FilesIn(out_), (std::set<std::string>{"N_modelid_5_command.bin", "other.bin"}));
}

TEST_F(PostCleanUpTmpBinTest, DefaultPrefixPerContainer) {
  testsupport::SampleBnx s;
  s.crc = 0x1A2B3C4D;
  testsupport::WriteBytes(root_ / "a.bnx", testsupport::BuildBnx(s));
  s.crc = 0xBEEF;
  testsupport::WriteBytes(root_ / "b.bnx", testsupport::BuildBnx(s));

  testsupport::WriteBytes(Out("BNX_0x1A2B3C4D_fw_info.bin"), FwInfo(1, {3}));
  ModelFiles(Out("BNX_0x1A2B3C4D"), 3);
  testsupport::WriteBytes(Out("BNX_0xBEEF_fw_info.bin"), FwInfo(1, {9}));
  ModelFiles(Out("BNX_0xBEEF"), 9);
  // An unreadable container has no prefix: files of an empty CRC text stay.
  testsupport::WriteBytes(Out("BNX__fw_info.bin"), FwInfo(1, {3}));
  ModelFiles(Out("BNX_"), 3);

  BNXUtils::PostCleanUpTmpBin({root_ / "a.bnx", root_ / "b.bnx", root_ / "missing.bnx"}, "", false);
  std::set<std::string> expected = ModelNames("BNX_", 3);
  expected.insert({"BNX_0x1A2B3C4D_fw_info.bin", "BNX_0xBEEF_fw_info.bin", "BNX__fw_info.bin"});
  EXPECT_EQ(FilesIn(out_), expected);
}

TEST_F(PostCleanUpTmpBinTest, HostileFwInfoRemovesOnlyWhatItCanRead) {
  // Count far beyond the records; one whole record (id 1) and part of another (id 9).
  std::vector<uint8_t> fw = FwInfo(0x7FFFFFFF, {1, 9}, false);
  fw.resize(4 + 56 + 30);
  testsupport::WriteBytes(Out("H_fw_info.bin"), fw);
  ModelFiles(Out("H"), 1);
  ModelFiles(Out("H"), 9);
  BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "H", false);
  std::set<std::string> expected = ModelNames("H", 9);
  expected.insert("H_fw_info.bin");
  EXPECT_EQ(FilesIn(out_), expected);

  // A negative count, a file shorter than the count, and an empty file: nothing removed.
  for (const std::vector<uint8_t>& bad :
       {FwInfo(0xFFFFFFFF, {9}), std::vector<uint8_t>{2, 0, 0}, std::vector<uint8_t>{}}) {
    testsupport::WriteBytes(Out("H_fw_info.bin"), bad);
    BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "H", false);
    EXPECT_EQ(FilesIn(out_), expected);
  }
}

TEST_F(PostCleanUpTmpBinTest, NeverReachesOutsideTheOutputFolder) {
  // A name climbing out of the output folder: the neighbour's files stay.
  testsupport::WriteBytes(root_ / "victim_fw_info.bin", FwInfo(1, {1}));
  Touch(root_ / "victim_all_models.bin");
  ModelFiles(root_ / "victim", 1);
  BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "../victim", true);
  std::set<std::string> expected = ModelNames("victim", 1);
  expected.insert({"victim_fw_info.bin", "victim_all_models.bin", "out"});
  EXPECT_EQ(FilesIn(root_.path()), expected);

  // A sub-folder of the output folder is still ours; directories are never removed.
  ASSERT_EQ(mkdir(Out("sub").c_str(), 0755), 0);
  testsupport::WriteBytes(Out("sub/S_fw_info.bin"), FwInfo(1, {2}));
  ModelFiles(Out("sub/S"), 2);
  ASSERT_EQ(unlink(Out("sub/S_modelid_2_test.conf").c_str()), 0);
  ASSERT_EQ(mkdir(Out("sub/S_modelid_2_test.conf").c_str(), 0755), 0);
  BNXUtils::PostCleanUpTmpBin({"x.bnx"}, "sub/S", false);
  EXPECT_EQ(FilesIn(Out("sub")), (std::set<std::string>{"S_fw_info.bin", "S_modelid_2_test.conf"}));
}

}  // namespace
