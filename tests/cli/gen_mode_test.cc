// End-to-end runs of -G (GEN_BNX).
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/bnx_decode.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

const char* const kFixedToolchain = "talvex_bnx_utils version: 2025-09-11(a789b85)";
const char* const kFixedCompiler = "talvex_compiler version: 2025-09-11(c3e995af21)";

class GenModeTest : public ::testing::Test {
 protected:
  RunResult Gen(std::vector<std::string> extra) {
    std::vector<std::string> argv = {TALVEX_BIN, "-G", "-O", out_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return testsupport::Run(argv, dir_.path());
  }
  Json::Value Decode(const std::string& path) { return DecodeBnxWithFlatc(path, TALVEX_FLATC, TALVEX_SCHEMA_DIR); }
  void ExpectLayout(const std::string& path) {
    const Bytes file = ReadBytes(path);
    ASSERT_GT(file.size(), 4u);
    EXPECT_EQ(file.size() % 32, 4u);
    EXPECT_EQ(Crc32(file), 0x2144DF1Cu);
  }
  std::string WriteTxm() {
    txm_ = BuildSampleTxm();
    WriteBytes(dir_ / "model.txm", txm_);
    return dir_ / "model.txm";
  }
  void WriteLegacy(const LegacyPair& p) {
    pair_ = p;
    WriteLegacyPair(p, dir_ / "fw_info.bin", dir_ / "all_models.bin");
  }
  std::vector<std::string> LegacyOpts(const std::string& target) {
    return {"-t", target, "-h", dir_ / "fw_info.bin", "-m", dir_ / "all_models.bin"};
  }

  TempDir dir_;
  std::string out_ = dir_ / "out";
  Bytes txm_;
  LegacyPair pair_;
};

TEST_F(GenModeTest, TxmTargetsPrintTheRealPathAndWriteTheContainer) {
  const std::string txm = WriteTxm();
  for (const std::string target : {"400", "600"}) {
    // -h / -m are ignored for these targets.
    RunResult r = Gen({"-t", target, "-e", txm, "-h", "nothing", "-m", "nothing", "-a", "sol", "-b", "t4g"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string path = out_ + "/models_" + target + ".bnx";
    EXPECT_EQ(r.out, RealPath(path) + "\n");
    ExpectLayout(path);
    const Json::Value j = Decode(path);
    const Json::Value& h = j["header"];
    EXPECT_EQ(h["target"].asString(), "TZ" + target);
    EXPECT_EQ(h["schema_version"]["major_num"].asUInt(), 2u);
    EXPECT_EQ(h["crc"].asUInt(), Crc32(txm_));
    EXPECT_EQ(h["uuid"].asUInt(), Crc32(txm_));
    EXPECT_EQ(h["platform"].asString(), "");
    EXPECT_EQ(h["tv_number"].asUInt(), 0u);
    EXPECT_EQ(h["encryption_mode"].asString(), "EM_None");
    EXPECT_EQ(h["solution_id"].asString(), "sol");
    EXPECT_EQ(h["solution_tag"].asString(), "t4g");
    EXPECT_EQ(h["compiler_version"].asString(), kFixedCompiler);
    if (!Exists("/workspace/version.txt")) {
      EXPECT_EQ(h["toolchain_version"].asString(), kFixedToolchain);
    }
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), txm_);
    EXPECT_EQ(j["model_info"].size(), 2u);
  }
}

TEST_F(GenModeTest, LegacyTargetsAndTheirSchemaVersions) {
  struct Case {
    std::string target;
    LegacySetupForm form;
    unsigned major;
  };
  for (const Case& c : {Case{"100", LegacySetupForm::kRaw, 0}, Case{"200", LegacySetupForm::kRaw, 0},
                        Case{"200", LegacySetupForm::kFlatbuffer, 1}, Case{"300", LegacySetupForm::kFlatbuffer, 1},
                        Case{"500", LegacySetupForm::kFlatbuffer, 1}}) {
    SCOPED_TRACE(c.target);
    WriteLegacy(BuildLegacyPair(SampleLegacyModels(c.form), false));
    std::vector<std::string> opts = LegacyOpts(c.target);
    opts.insert(opts.end(), {"-e", "ignored.txm"});
    RunResult r = Gen(opts);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string path = out_ + "/models_" + c.target + ".bnx";
    EXPECT_NE(r.out.find(RealPath(path) + "\n"), std::string::npos);
    ExpectLayout(path);
    const Json::Value j = Decode(path);
    EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), c.major);
    EXPECT_EQ(j["header"]["schema_version"]["minor_num"].asUInt(), 0u);
    EXPECT_EQ(j["header"]["schema_version"]["revision_num"].asUInt(), 1u);
    EXPECT_EQ(j["model_info"][0]["version"].asString(), "3");
    EXPECT_EQ(j["model_info"][1]["version"].asString(), "258");
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), pair_.all_models);
  }
}

TEST_F(GenModeTest, FwInfoGrowsOnceAndRepeatedRunsAreIdentical) {
  WriteLegacy(BuildLegacyPair({MakeLegacyModel(4, 2, 20, 40, RawSetupPlaceholder())}, false));
  ASSERT_EQ(ReadBytes(dir_ / "fw_info.bin").size(), 68u);
  std::vector<std::string> opts = LegacyOpts("100");
  opts.insert(opts.end(), {"-o", "first"});
  RunResult r1 = Gen(opts);
  ASSERT_EQ(r1.status, 0) << r1.out;
  EXPECT_EQ(r1.out.find("BNX included crc information"), std::string::npos);
  const Bytes fw = ReadBytes(dir_ / "fw_info.bin");
  ASSERT_EQ(fw.size(), 80u);
  EXPECT_EQ(LoadLE32(fw, 68), pair_.all_models_crc);
  EXPECT_EQ(LoadLE32(fw, 72), pair_.all_models_crc);  // one block: the whole all_models.bin
  EXPECT_EQ(LoadLE32(fw, 76), Crc32(fw, 0, 76));

  opts.back() = "second";
  RunResult r2 = Gen(opts);
  ASSERT_EQ(r2.status, 0);
  EXPECT_NE(r2.out.find("BNX included crc information"), std::string::npos);
  EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), fw);
  EXPECT_EQ(ReadBytes(out_ + "/first.bnx"), ReadBytes(out_ + "/second.bnx"));
  EXPECT_EQ(DirEntries(out_), (std::vector<std::string>{"first.bnx", "second.bnx"}));
}

TEST_F(GenModeTest, OutputNames) {
  const std::string txm = WriteTxm();
  RunResult a = Gen({"-t", "400", "-e", txm, "-o", "name"});
  EXPECT_EQ(a.out, RealPath(out_ + "/name.bnx") + "\n");
  RunResult b = Gen({"-t", "400", "-e", txm, "-o", "name.bnx"});
  EXPECT_EQ(b.out, RealPath(out_ + "/name.bnx.bnx") + "\n");
  EXPECT_EQ(DirEntries(out_), (std::vector<std::string>{"name.bnx", "name.bnx.bnx"}));
  EXPECT_EQ(ReadBytes(out_ + "/name.bnx"), ReadBytes(out_ + "/name.bnx.bnx"));
}

TEST_F(GenModeTest, RelativeOutputFolder) {
  const std::string txm = WriteTxm();
  RunResult r = testsupport::Run({TALVEX_BIN, "-G", "-t", "400", "-e", txm, "-O", "rel"}, dir_.path());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, RealPath(dir_ / "rel/models_400.bnx") + "\n");
}

TEST_F(GenModeTest, FailuresExitNonZeroAndLeaveNoFile) {
  const std::string txm = WriteTxm();
  {
    RunResult r = Gen({"-t", "400", "-e", dir_ / "missing.txm"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("all_models_path[" + (dir_ / "missing.txm") + "] doesn't exist"), std::string::npos) << r.out;
  }
  {
    RunResult r = Gen({"-t", "100", "-m", dir_ / "missing.bin", "-h", dir_ / "missing_fw.bin"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("doesn't exist"), std::string::npos);
  }
  for (const std::string target : {"700", "", "4OO"}) {
    RunResult r = Gen({"-t", target, "-e", txm});
    EXPECT_NE(r.status, 0) << target;
  }
  {
    RunResult r = Gen({"-e", txm});  // no target at all
    EXPECT_NE(r.status, 0);
  }
  {
    WriteText(dir_ / "not.txm", std::string(300, 'x'));
    RunResult r = Gen({"-t", "400", "-e", dir_ / "not.txm"});
    EXPECT_NE(r.status, 0);
  }
  {
    Bytes cut = txm_;
    cut.resize(cut.size() - 100);
    WriteBytes(dir_ / "cut.txm", cut);
    RunResult r = Gen({"-t", "600", "-e", dir_ / "cut.txm"});
    EXPECT_NE(r.status, 0);
  }
  {
    // fw_info.bin of a size that is neither 56n + 12 nor 60n + 20.
    WriteLegacy(BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), false));
    Bytes fw = pair_.fw_info;
    fw.push_back(0);
    WriteBytes(dir_ / "fw_info.bin", fw);
    RunResult r = Gen(LegacyOpts("100"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("Undefine file size of fw_info.bin"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), fw);
  }
  {
    // fw_info.bin listing more model data than all_models.bin holds.
    WriteLegacy(BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false));
    WriteBytes(dir_ / "all_models.bin", Bytes(pair_.all_models.begin(), pair_.all_models.begin() + 64));
    for (const std::string target : {"300", "200"}) {
      RunResult r = Gen(LegacyOpts(target));
      EXPECT_NE(r.status, 0) << target;
      EXPECT_NE((r.out + r.err).find("all_models.bin"), std::string::npos) << r.out << r.err;
    }
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), pair_.fw_info);
  }
  {
    // A count far beyond the file.
    Bytes fw = pair_.fw_info;
    fw[3] = 0x7F;
    WriteBytes(dir_ / "fw_info.bin", fw);
    WriteBytes(dir_ / "all_models.bin", pair_.all_models);
    RunResult r = Gen(LegacyOpts("500"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("Undefine file size of fw_info.bin"), std::string::npos);
  }
  // Nothing written, not even a temporary file.
  EXPECT_TRUE(DirEntries(out_).empty()) << DirEntries(out_).size();
}

}  // namespace
