// Container extraction (bnx/extract) and the model table report of fw_info.bin.
#include "bnx/extract.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bnx_generated.h"
#include "cli/extract_mode.h"
#include "cli/fw_info_report.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string RealPath(const std::string& p) {
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) == nullptr ? p : std::string(buf);
}

Bytes Slice(const Bytes& b, size_t offset, size_t len) {
  return Bytes(b.begin() + static_cast<long>(offset), b.begin() + static_cast<long>(offset + len));
}

void PutLE32(Bytes& b, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Word k (0..13) of model record i in fw_info.bin.
size_t RecordWord(size_t i, size_t k) { return 4 + 56 * i + 4 * k; }

SampleBnx LegacySample(int32_t target, uint32_t major, const LegacyPair& pair) {
  SampleBnx s;
  s.target = target;
  s.major = major;
  s.minor = 0;
  s.revision = 1;
  s.fw_info = pair.fw_info;
  s.all_models = pair.all_models;
  return s;
}

// Three models of 20 / 40 / 10 bytes: blocks of 96, 96 and 90 bytes at 0, 96 and 192.
std::vector<LegacyModel> ThreeSmallModels() {
  return {MakeLegacyModel(1, 1, 20, 40, Bytes(10, 0x11)), MakeLegacyModel(2, 1, 20, 40, Bytes(10, 0x22)),
          MakeLegacyModel(3, 1, 20, 40, Bytes(10, 0x33))};
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = dir_ / "out";
    BNXUtils::SetOutputDir(out_);
    ASSERT_EQ(BNXUtils::GetOutputDir(), out_ + "/");
  }
  std::string WriteBnx(const SampleBnx& s, const std::string& name = "in.bnx") {
    WriteBytes(dir_ / name, BuildBnx(s));
    return dir_ / name;
  }
  Bytes Out(const std::string& name) { return ReadBytes(out_ + "/" + name); }

  TempDir dir_;
  std::string out_;
};

TEST_F(ExtractTest, LegacyPayloadAndPerModelSlicesAtPaddedOffsets) {
  // Padding bytes that are not zero: the slices must skip them, not copy them.
  const std::vector<LegacyModel> models = ThreeSmallModels();
  const LegacyPair pair = BuildLegacyPair(models, true, 0xEE);
  ASSERT_EQ(pair.all_models.size(), 282u);
  const std::string bnx = WriteBnx(LegacySample(1, 0, pair));  // TZ200

  std::vector<std::string> setups;
  BNXUtils::ExtractedFiles written;
  ASSERT_EQ(BNXUtils::ExtractBNX(bnx, "P", &setups, &written), 0);

  EXPECT_EQ(DirEntries(out_),
            (std::vector<std::string>{"P_all_models.bin", "P_fw_info.bin", "P_modelid_1_command.bin",
                                      "P_modelid_1_setup.bin", "P_modelid_1_test.conf", "P_modelid_1_weight.bin",
                                      "P_modelid_2_command.bin", "P_modelid_2_setup.bin", "P_modelid_2_test.conf",
                                      "P_modelid_2_weight.bin", "P_modelid_3_command.bin", "P_modelid_3_setup.bin",
                                      "P_modelid_3_test.conf", "P_modelid_3_weight.bin"}));
  EXPECT_EQ(Out("P_fw_info.bin"), pair.fw_info);
  EXPECT_EQ(Out("P_all_models.bin"), pair.all_models);
  const size_t offsets[] = {0, 96, 192};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const std::string stem = "P_modelid_" + std::to_string(i + 1);
    EXPECT_EQ(Out(stem + "_command.bin"), Slice(pair.all_models, offsets[i], 20));
    EXPECT_EQ(Out(stem + "_weight.bin"), Slice(pair.all_models, offsets[i] + 32, 40));
    EXPECT_EQ(Out(stem + "_setup.bin"), Slice(pair.all_models, offsets[i] + 80, 10));
    EXPECT_EQ(Out(stem + "_command.bin"), models[i].cmd);
    EXPECT_EQ(Out(stem + "_weight.bin"), models[i].weight);
    EXPECT_EQ(Out(stem + "_setup.bin"), models[i].setup);
  }
  const std::string abs_out = RealPath(out_);
  EXPECT_EQ(setups, (std::vector<std::string>{abs_out + "/P_modelid_1_setup.bin", abs_out + "/P_modelid_2_setup.bin",
                                              abs_out + "/P_modelid_3_setup.bin"}));
  EXPECT_EQ(written.fw_info, out_ + "/P_fw_info.bin");
  EXPECT_EQ(written.all_models, out_ + "/P_all_models.bin");
  EXPECT_EQ(written.major, 0u);
  EXPECT_EQ(written.target, "200");
}

TEST_F(ExtractTest, LastSetupIsReadWithItsExactSize) {
  // The last setup is 5 bytes and ends all_models.bin without padding.
  const std::vector<LegacyModel> models = {MakeLegacyModel(4, 1, 17, 3, Bytes(33, 0x44)),
                                           MakeLegacyModel(8, 1, 16, 1, Bytes(5, 0x55))};
  const LegacyPair pair = BuildLegacyPair(models, false, 0x99);
  ASSERT_EQ(pair.all_models.size(), 32u + 16 + 48 + 16 + 16 + 5);
  ASSERT_EQ(BNXUtils::ExtractBNX(WriteBnx(LegacySample(0, 0, pair)), "", nullptr), 0);
  EXPECT_EQ(Out("modelid_4_command.bin"), models[0].cmd);
  EXPECT_EQ(Out("modelid_4_weight.bin"), models[0].weight);
  EXPECT_EQ(Out("modelid_4_setup.bin"), models[0].setup);
  EXPECT_EQ(Out("modelid_8_command.bin"), Slice(pair.all_models, 96, 16));
  EXPECT_EQ(Out("modelid_8_weight.bin"), Slice(pair.all_models, 112, 1));
  EXPECT_EQ(Out("modelid_8_setup.bin"), Slice(pair.all_models, 128, 5));
  // An empty prefix gives the bare names.
  EXPECT_TRUE(Exists(out_ + "/fw_info.bin"));
  EXPECT_TRUE(Exists(out_ + "/all_models.bin"));
  EXPECT_TRUE(Exists(out_ + "/modelid_8_test.conf"));
}

TEST_F(ExtractTest, TestConfigurationFollowsTheTarget) {
  const LegacyPair pair = BuildLegacyPair({MakeLegacyModel(6, 1, 4, 4, Bytes(4, 1))}, false);
  struct Case {
    int32_t target;
    const char* conf;  // nullptr: none
  };
  for (const Case& c : {Case{0, "_test.conf"}, Case{1, "_test.conf"}, Case{2, "_apb.npu"}, Case{3, nullptr},
                        Case{4, "_apb.npu"}, Case{5, nullptr}}) {
    SCOPED_TRACE(c.target);
    const std::string prefix = "T" + std::to_string(c.target);
    ASSERT_EQ(BNXUtils::ExtractBNX(WriteBnx(LegacySample(c.target, 1, pair)), prefix, nullptr), 0);
    for (const char* conf : {"_test.conf", "_apb.npu"}) {
      const bool expected = c.conf != nullptr && std::string(c.conf) == conf;
      EXPECT_EQ(Exists(out_ + "/" + prefix + "_modelid_6" + conf), expected) << conf;
    }
  }
}

TEST_F(ExtractTest, ModelContainerGivesOneTxmFileAndNoSplit) {
  SampleBnx s;  // TZ400, major 2
  s.all_models = BuildSampleTxm();
  std::vector<std::string> setups;
  BNXUtils::ExtractedFiles written;
  ASSERT_EQ(BNXUtils::ExtractBNX(WriteBnx(s), "Q", &setups, &written), 0);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"Q_models_400.txm"});
  EXPECT_EQ(Out("Q_models_400.txm"), s.all_models);
  EXPECT_TRUE(setups.empty());
  EXPECT_TRUE(written.fw_info.empty());
  EXPECT_EQ(written.major, 2u);

  // fw_info bytes of a model container are written, but never used to split.
  s.target = 5;
  s.fw_info = BuildLegacyPair(ThreeSmallModels(), false).fw_info;
  ASSERT_EQ(BNXUtils::ExtractBNX(WriteBnx(s), "R", &setups, nullptr), 0);
  EXPECT_EQ(Out("R_fw_info.bin"), s.fw_info);
  EXPECT_EQ(Out("R_models_600.txm"), s.all_models);
  EXPECT_FALSE(Exists(out_ + "/R_modelid_1_command.bin"));
}

// Containers built through the object API, for parts the sample builder always writes.
std::string WritePacked(const TalvexBNX::BNXContentT& obj, const std::string& path) {
  flatbuffers::FlatBufferBuilder fbb;
  fbb.Finish(TalvexBNX::BNXContent::Pack(fbb, &obj));
  Bytes b(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  b.insert(b.end(), 4, 0);
  WriteBytes(path, b);
  return path;
}

TEST_F(ExtractTest, HostileContainersAreRefusedAndNothingIsWritten) {
  const LegacyPair pair = BuildLegacyPair(ThreeSmallModels(), true);
  const Bytes good = BuildBnx(LegacySample(0, 0, pair));
  std::vector<std::pair<std::string, std::string>> cases;  // name, path

  cases.push_back({"missing", dir_ / "missing.bnx"});
  WriteBytes(dir_ / "empty.bnx", {});
  cases.push_back({"empty", dir_ / "empty.bnx"});
  WriteBytes(dir_ / "trunc.bnx", Slice(good, 0, good.size() / 2));
  cases.push_back({"truncated", dir_ / "trunc.bnx"});
  WriteBytes(dir_ / "junk.bnx", Bytes(4096, 0x5A));
  cases.push_back({"junk", dir_ / "junk.bnx"});
  mkdir((dir_ / "dir.bnx").c_str(), 0755);
  cases.push_back({"directory", dir_ / "dir.bnx"});

  SampleBnx s = LegacySample(0, 0, pair);
  s.with_header = false;
  cases.push_back({"no header", WriteBnx(s, "nohdr.bnx")});
  s = LegacySample(9, 0, pair);
  cases.push_back({"unknown target", WriteBnx(s, "target.bnx")});

  TalvexBNX::BNXContentT obj;
  obj.header.reset(new TalvexBNX::BNXHeaderT());
  obj.model_bin.reset(new TalvexBNX::ModelBinT());
  obj.model_bin->all_models = pair.all_models;
  obj.model_bin->fw_info = pair.fw_info;
  cases.push_back({"no schema version", WritePacked(obj, dir_ / "nosv.bnx")});
  obj.header->schema_version.reset(new TalvexBNX::SchemaVersionT());
  obj.model_bin.reset();
  cases.push_back({"no payload", WritePacked(obj, dir_ / "nobin.bnx")});

  // fw_info.bin lists more records than it holds.
  s = LegacySample(0, 0, pair);
  PutLE32(s.fw_info, 0, 1000);
  cases.push_back({"count beyond records", WriteBnx(s, "count.bnx")});
  s.fw_info = Bytes{1, 0, 0};
  cases.push_back({"fw_info of 3 bytes", WriteBnx(s, "short_fw.bnx")});
  // A command size that wraps past 32 bits when padded.
  s = LegacySample(0, 0, pair);
  PutLE32(s.fw_info, RecordWord(1, 9), 0xFFFFFFF8);
  cases.push_back({"huge command size", WriteBnx(s, "huge.bnx")});
  // The payload ends one byte before the last setup does.
  s = LegacySample(0, 0, pair);
  s.all_models.pop_back();
  cases.push_back({"payload shorter than records", WriteBnx(s, "shortpay.bnx")});

  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    std::vector<std::string> setups;
    BNXUtils::ExtractedFiles written;
    EXPECT_EQ(BNXUtils::ExtractBNX(path, "H", &setups, &written), -1);
    EXPECT_EQ(DirEntries(out_), std::vector<std::string>{});
    EXPECT_TRUE(setups.empty());
    EXPECT_TRUE(written.all_models.empty());
  }
}

TEST_F(ExtractTest, PathAndPrefixTextKeepsPathsWithBlanks) {
  mkdir((dir_ / "my dir").c_str(), 0755);
  const std::string spaced = dir_ / "my dir/a b.bnx";
  const std::string plain = dir_ / "plain.bnx";
  WriteBytes(spaced, {1});
  WriteBytes(plain, {1});
  struct Case {
    std::string text, path, prefix;
  };
  for (const Case& c : {Case{spaced, spaced, ""}, Case{spaced + " P", spaced, "P"}, Case{spaced + "   P ", spaced, "P"},
                        Case{plain + " P", plain, "P"}, Case{plain, plain, ""}, Case{"x.bnx y z", "x.bnx", "y"},
                        Case{"  x.bnx\tP", "x.bnx", "P"}, Case{"", "", ""}}) {
    SCOPED_TRACE(c.text);
    std::string path, prefix;
    BNXUtils::SplitPathAndPrefix(c.text, path, prefix);
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(prefix, c.prefix);
  }

  const LegacyPair pair = BuildLegacyPair(ThreeSmallModels(), false);
  WriteBytes(spaced, BuildBnx(LegacySample(0, 0, pair)));
  ASSERT_EQ(BNXUtils::ExtractBNX(spaced + " P", nullptr), 0);
  EXPECT_EQ(Out("P_all_models.bin"), pair.all_models);
}

TEST_F(ExtractTest, ExtractAllModelsFromFiles) {
  const std::vector<LegacyModel> models = ThreeSmallModels();
  const LegacyPair pair = BuildLegacyPair(models, false);
  const std::string fw = dir_ / "fw_info.bin";
  const std::string all = dir_ / "all_models.bin";
  EXPECT_EQ(BNXUtils::ExtractAllModels(all, fw, "F", TalvexBNX::NPUTarget::TZ300, nullptr), -1);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{});

  WriteLegacyPair(pair, fw, all);
  std::vector<std::string> setups;
  ASSERT_EQ(BNXUtils::ExtractAllModels(all, fw, "F", TalvexBNX::NPUTarget::TZ300, &setups), 0);
  ASSERT_EQ(setups.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string stem = "F_modelid_" + std::to_string(i + 1);
    EXPECT_EQ(Out(stem + "_command.bin"), models[i].cmd);
    EXPECT_EQ(Out(stem + "_weight.bin"), models[i].weight);
    EXPECT_EQ(Out(stem + "_setup.bin"), models[i].setup);
    EXPECT_TRUE(Exists(out_ + "/" + stem + "_apb.npu"));
    EXPECT_EQ(setups[i], RealPath(out_) + "/" + stem + "_setup.bin");
  }

  // Records that reach beyond all_models.bin: refused before a single file is cut.
  TempDir other;
  BNXUtils::SetOutputDir(other.path());
  Bytes short_all = pair.all_models;
  short_all.resize(200);
  WriteBytes(all, short_all);
  EXPECT_EQ(BNXUtils::ExtractAllModels(all, fw, "G", TalvexBNX::NPUTarget::TZ300, &setups), -1);
  EXPECT_EQ(DirEntries(other.path()), std::vector<std::string>{});

  // Records of empty pieces split an empty all_models.bin into empty files.
  const LegacyPair empty = BuildLegacyPair({MakeLegacyModel(2, 1, 0, 0, {})}, false);
  WriteLegacyPair(empty, fw, all);
  ASSERT_EQ(BNXUtils::ExtractAllModels(all, fw, "E", TalvexBNX::NPUTarget::TZ600, nullptr), 0);
  EXPECT_EQ(DirEntries(other.path()), (std::vector<std::string>{"E_modelid_2_command.bin", "E_modelid_2_setup.bin",
                                                                 "E_modelid_2_weight.bin"}));
}

TEST_F(ExtractTest, ModelBinsOfAnUnpackedContainer) {
  TalvexBNX::BNXContentT obj;
  EXPECT_EQ(BNXUtils::Extract_ModelBins(obj, "O"), -1);
  obj.model_bin.reset(new TalvexBNX::ModelBinT());
  obj.model_bin->all_models = {1, 2, 3};
  EXPECT_EQ(BNXUtils::Extract_ModelBins(obj, "O"), -1);  // no header to name the files by
  obj.header.reset(new TalvexBNX::BNXHeaderT());
  obj.header->target = TalvexBNX::NPUTarget::TZ300;
  obj.header->schema_version.reset(new TalvexBNX::SchemaVersionT());
  obj.header->schema_version->major_num = 1;
  EXPECT_EQ(BNXUtils::Extract_ModelBins(obj, "O"), 0);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"O_all_models.bin"});  // no fw_info bytes, no file
  EXPECT_EQ(Out("O_all_models.bin"), (Bytes{1, 2, 3}));

  obj.header->schema_version->major_num = 2;
  obj.model_bin->all_models.clear();
  obj.model_bin->fw_info = {9};
  EXPECT_EQ(BNXUtils::Extract_ModelBins(obj, ""), 0);
  EXPECT_EQ(Out("models_300.txm"), Bytes{});  // written even when empty
  EXPECT_EQ(Out("fw_info.bin"), Bytes{9});
}

TEST_F(ExtractTest, ExtractBinReportsFilesItCannotCreate) {
  const Bytes data = {0, 1, 2, 3, 4, 5, 6, 7};
  ASSERT_EQ(BNXUtils::ExtractBin(out_ + "/piece.bin", data.data(), 2, 5), 0);
  EXPECT_EQ(Out("piece.bin"), (Bytes{2, 3, 4, 5, 6}));
  EXPECT_EQ(BNXUtils::ExtractBin(out_ + "/no/such/folder.bin", data.data(), 0, 8), -1);
  mkdir((out_ + "/taken").c_str(), 0755);
  EXPECT_EQ(BNXUtils::ExtractBin(out_ + "/taken", data.data(), 0, 8), -1);

  // A payload file that cannot be created fails the extraction.
  mkdir((out_ + "/W_fw_info.bin").c_str(), 0755);
  const LegacyPair pair = BuildLegacyPair(ThreeSmallModels(), false);
  EXPECT_EQ(BNXUtils::ExtractBNX(WriteBnx(LegacySample(0, 0, pair)), "W", nullptr), -1);
  EXPECT_FALSE(Exists(out_ + "/W_modelid_1_command.bin"));
}

TEST(ExtractPathTest, AbsoluteFilePathKeepsTheLastComponent) {
  TempDir d;
  mkdir((d / "sub").c_str(), 0755);
  symlink((d / "elsewhere").c_str(), (d / "sub/link.bin").c_str());
  const std::string real = RealPath(d.path());
  EXPECT_EQ(BNXUtils::AbsoluteFilePath(d / "sub/./new.bin"), real + "/sub/new.bin");
  // A link in the last place is not followed: the file written is the one named.
  EXPECT_EQ(BNXUtils::AbsoluteFilePath(d / "sub/link.bin"), real + "/sub/link.bin");
  EXPECT_EQ(BNXUtils::AbsoluteFilePath(d / "nowhere/x.bin"), d / "nowhere/x.bin");
}

// ---- Container paths and the setup parser's command line ----

TEST(ExtractFrontEndTest, ContainerPathsSplitAtBlanksAreJoinedBack) {
  TempDir d;
  mkdir((d / "my dir").c_str(), 0755);
  WriteBytes(d / "my dir/a b.bnx", {1});
  WriteBytes(d / "c.bnx", {1});
  WriteBytes(d / "c.bnx d.bnx", {1});
  const std::string a = d / "my dir/a b.bnx";
  const std::string dir_a = d / "my";  // first piece of a
  const std::string c = d / "c.bnx";
  using V = std::vector<std::string>;
  // The command line splits at every single blank.
  EXPECT_EQ(ResolveContainerPaths(V{dir_a, "dir/a", "b.bnx"}), V{a});
  EXPECT_EQ(ResolveContainerPaths(V{dir_a, "dir/a", "b.bnx", c}), (V{a, c}));
  EXPECT_EQ(ResolveContainerPaths(V{c, dir_a, "dir/a", "b.bnx"}), (V{c, a}));
  // The longest existing run wins.
  EXPECT_EQ(ResolveContainerPaths(V{c, "d.bnx"}), V{c + " d.bnx"});
  // Pieces naming nothing stay as they are; empty pieces from doubled blanks are dropped.
  EXPECT_EQ(ResolveContainerPaths(V{"x.bnx", "", "y.bnx"}), (V{"x.bnx", "y.bnx"}));
  EXPECT_EQ(ResolveContainerPaths(V{}), V{});
}

TEST(ExtractFrontEndTest, SetupParserCommandLines) {
  EXPECT_EQ(SetupParserCommand("/opt/t/", "/o/BNX_0xAB_modelid_1_setup.bin", true, "100"),
            "/opt/t/talvex_setup_parser /o/BNX_0xAB_modelid_1_setup.bin -p100 -j");
  EXPECT_EQ(SetupParserCommand("/opt/t/", "/o/N_modelid_1_setup.bin", false, "300"),
            "/opt/t/talvex_setup_parser /o/N_modelid_1_setup.bin");
  EXPECT_EQ(SetupParserCommand("/my tools/", "/o d/x.bin", true, "200"),
            "'/my tools/talvex_setup_parser' '/o d/x.bin' -p200 -j");
  EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
  EXPECT_EQ(ShellQuote(""), "''");
  EXPECT_EQ(ShellQuote("$(rm -rf x)"), "'$(rm -rf x)'");
}

TEST(ExtractFrontEndTest, QuotedPathsReachTheProgramUnchanged) {
  // A stand-in parser in a folder with a blank records the arguments it receives.
  TempDir d;
  const std::string bin_dir = d / "bin dir";
  mkdir(bin_dir.c_str(), 0755);
  WriteText(bin_dir + "/talvex_setup_parser",
            "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 3\n");
  chmod((bin_dir + "/talvex_setup_parser").c_str(), 0755);
  const std::string setup = d / "o $(touch INJECTED) `touch X` it's;ls &.bin";
  const int st = RunCommand("cd " + ShellQuote(d.path()) + " && " +
                            SetupParserCommand(bin_dir + "/", setup, true, "100"));
  EXPECT_EQ(st, 3);
  EXPECT_EQ(ReadText(bin_dir + "/args.txt"), "3|" + setup + "|-p100|-j|");
  EXPECT_FALSE(Exists(d / "INJECTED"));
  EXPECT_FALSE(Exists(d / "X"));
  EXPECT_EQ(RunCommand("exit 0"), 0);
  EXPECT_EQ(RunCommand("kill -9 $$"), -1);
}

// ---- The model table report ----

// One TZ100 model at fixed addresses, its raw setup made of the builder's default header (one
// input) and one default output info node.
class FwInfoReportTest : public ::testing::Test {
 protected:
  void SetUp() override { BNXUtils::SetOutputDir(dir_.path()); }
  LegacyModel Model() {
    LegacyModel m = MakeLegacyModel(5, 0x102, 20, 40, BuildRawSetup100());
    m.addr_in = 0x60000000;
    m.size_in = 150528;
    m.addr_out = 0x60040000;
    m.size_out = 4096;
    m.addr_wbuf = 0x60050000;
    m.size_wbuf = 0x100000;
    m.addr_cmd = 0x61000000;
    m.addr_wt = 0x61000020;
    m.addr_fw = 0x61000050;
    return m;
  }
  void Write(const LegacyPair& p) {
    WriteBytes(dir_ / "fw_info.bin", p.fw_info);
    setups_.clear();
    for (size_t i = 0; i < p.block_offsets.size(); ++i) {
      const std::string path = dir_ / ("setup_" + std::to_string(i) + ".bin");
      setups_.push_back(path);
    }
  }
  TempDir dir_;
  std::vector<std::string> setups_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// The whole first-generation report is compared line by line end to end (-X -s, -I -s).
TEST_F(FwInfoReportTest, FlatbufferSetupsAreNamedAndSummarised) {
  LegacyModel a = Model();
  a.setup = BuildFbSetup();
  LegacyModel b = MakeLegacyModel(6, 1, 16, 16, FbSetupPlaceholder());
  const LegacyPair p = BuildLegacyPair({a, b}, false);
  Write(p);
  WriteBytes(setups_[0], a.setup);
  WriteBytes(setups_[1], b.setup);
  std::string text;
  ASSERT_EQ(GetAllFwInfoText(dir_ / "fw_info.bin", setups_, false, text), 0);
  const std::vector<std::string> lines = Lines(text);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "┌ Model #2 ──────────────────────────────────────────────────┐"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "│setup.bin format = [FlatBuffers]                            │"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "│    < 0 > Name  = input                                     │"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "│           fxp_info [0] (scale, radix) = (0.500, 7)         │"),
            lines.end());
}

TEST_F(FwInfoReportTest, MissingAndHostileInputsGiveMessagesNotCrashes) {
  const LegacyModel m = Model();
  const LegacyPair p = BuildLegacyPair({m, MakeLegacyModel(6, 1, 16, 16, RawSetupPlaceholder())}, false);
  Write(p);
  std::string text = "unchanged", error;
  // Fewer setup paths than models.
  EXPECT_EQ(GetAllFwInfoText(dir_ / "fw_info.bin", {setups_[0]}, true, text, &error), -1);
  EXPECT_NE(error.find("2 models"), std::string::npos) << error;
  EXPECT_EQ(ParseAllFwInfo(dir_ / "fw_info.bin", {}, true), -1);
  // A setup binary that is not there.
  WriteBytes(setups_[0], m.setup);
  EXPECT_EQ(GetAllFwInfoText(dir_ / "fw_info.bin", setups_, true, text, &error), -1);
  EXPECT_NE(error.find(setups_[1]), std::string::npos) << error;
  EXPECT_EQ(text, "unchanged");
  // An empty setup binary is neither form: the report shows it with an empty summary.
  WriteBytes(setups_[1], {});
  ASSERT_EQ(GetAllFwInfoText(dir_ / "fw_info.bin", setups_, false, text, &error), 0) << error;
  EXPECT_NE(text.find("└────────────────────────────────────────────────── Model #2 ┘\n"), std::string::npos);

  // fw_info.bin missing, short, or counting more records than it has.
  EXPECT_EQ(ParseAllFwInfo(dir_ / "none.bin", setups_, true), -1);
  WriteBytes(dir_ / "fw_info.bin", {2, 0});
  EXPECT_EQ(ParseAllFwInfo(dir_ / "fw_info.bin", setups_, true), -1);
  Bytes fw = p.fw_info;
  PutLE32(fw, 0, 0x7FFFFFFF);
  WriteBytes(dir_ / "fw_info.bin", fw);
  EXPECT_EQ(ParseAllFwInfo(dir_ / "fw_info.bin", setups_, true), -1);
  // No model at all.
  WriteBytes(dir_ / "fw_info.bin", BuildLegacyPair({}, false).fw_info);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseAllFwInfo(dir_ / "fw_info.bin", setups_, true), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No model info in fw_info.bin\n");
}

}  // namespace
