// Container extraction (bnx/extract) and the model table report of fw_info.bin.
#include "bnx/extract.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/logger.h"

#include "bnx_generated.h"
#include "cli/fw_info_report.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;
using namespace testsupport;

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override { BNXUtils::SetOutputDir(out_); }
  std::vector<LegacyModel> models_ = SampleLegacyModels(LegacySetupForm::kRaw);
  LegacyPair pair_ = BuildLegacyPair(models_, true, 0xEE);
  TempDir dir_;
  std::string out_ = dir_ / "out";
};

TEST_F(ExtractTest, HostileContainersAreRefusedAndNothingIsWritten) {
  SampleBnx s;
  s.target = 0, s.major = 0, s.fw_info = pair_.fw_info, s.all_models = pair_.all_models;
  const Bytes good = BuildBnx(s);
  std::vector<Bytes> files = {{}, Bytes(4096, 0x5A), Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))};
  std::vector<SampleBnx> bad(6, s);
  bad[0].with_header = false;
  bad[1].target = 9;                                          // unknown target
  bad[2].fw_info[0] = 100;                                    // more records than the table holds
  bad[3].fw_info = Bytes{1, 0, 0};                            // shorter than a count
  for (int k = 0; k < 4; ++k) bad[4].fw_info[4 + 56 + 36 + k] = k ? 0xFF : 0xF8;  // wraps when padded
  bad[5].all_models.pop_back();                               // one byte short of the last setup
  for (const SampleBnx& b : bad) files.push_back(BuildBnx(b));
  // No schema version, then no payload: containers the sample builder cannot make.
  TalvexBNX::BNXContentT obj;
  obj.header.reset(new TalvexBNX::BNXHeaderT());
  obj.model_bin.reset(new TalvexBNX::ModelBinT());
  obj.model_bin->all_models = pair_.all_models;
  for (int i = 0; i < 2; ++i) {
    flatbuffers::FlatBufferBuilder fbb;
    fbb.Finish(TalvexBNX::BNXContent::Pack(fbb, &obj));
    files.emplace_back(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    files.back().resize(fbb.GetSize() + 4);  // a zero trailer
    obj.header->schema_version.reset(new TalvexBNX::SchemaVersionT());
    obj.model_bin.reset();
  }
  Strings paths = {dir_ / "missing", dir_.path()};
  for (const Bytes& f : files) {
    paths.push_back(dir_ / std::to_string(paths.size()));
    WriteBytes(paths.back(), f);
  }
  for (const std::string& path : paths) {
    Strings setups;
    EXPECT_EQ(talvex::Report(BNXUtils::ExtractBNX(path, "H", &setups)), -1) << path;
    EXPECT_EQ(DirEntries(out_), Strings{}) << path;
    EXPECT_TRUE(setups.empty());
  }
}

// A payload of several 1 MiB pieces is written while its CRC is computed: it comes out byte for
// byte, and one damaged byte in a later piece leaves nothing behind, not even a temporary file.
TEST_F(ExtractTest, LargePayloadIsCheckedAndWrittenInOnePass) {
  SampleBnx s;
  SampleTxmOptions big;
  big.models[0].weight_bytes = (size_t{3} << 20) + 64;
  s.all_models = BuildSampleTxm(big);
  Bytes file = BuildBnx(s);
  WriteBytes(dir_ / "big.bnx", file);
  BNXUtils::ExtractedFiles written;
  ASSERT_EQ(talvex::Report(BNXUtils::ExtractBNX(dir_ / "big.bnx", "P", nullptr, &written)), 0);
  EXPECT_EQ(DirEntries(out_), Strings{"P_models_400.txm"});
  EXPECT_EQ(ReadBytes(written.all_models), s.all_models);
  const auto* all = flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data())->model_bin()->all_models();
  file[static_cast<size_t>(all->data() - file.data()) + (size_t{5} << 19)] ^= 0x01;
  WriteBytes(dir_ / "bad.bnx", file);
  BNXUtils::SetOutputDir(dir_ / "out2");
  EXPECT_EQ(talvex::Report(BNXUtils::ExtractBNX(dir_ / "bad.bnx", "P", nullptr)), -1);
  EXPECT_EQ(DirEntries(dir_ / "out2"), Strings{});
}

// fw_info.bin is put in place only with its all_models.bin: when that cannot be written, an
// earlier fw_info.bin of the same name keeps its bytes and no new one appears.
TEST_F(ExtractTest, FwInfoGoesInPlaceOnlyWithItsAllModels) {
  SampleBnx s;
  s.target = 0, s.major = 0, s.fw_info = pair_.fw_info, s.all_models = pair_.all_models;
  WriteBytes(dir_ / "m.bnx", BuildBnx(s));
  mkdir(out_.c_str(), 0755);  // the output folder may exist already
  ASSERT_EQ(mkdir((out_ + "/P_all_models.bin").c_str(), 0755), 0);  // takes all_models.bin's place
  WriteText(out_ + "/P_fw_info.bin", "earlier");
  EXPECT_EQ(talvex::Report(BNXUtils::ExtractBNX(dir_ / "m.bnx", "P", nullptr)), -1);
  EXPECT_EQ(ReadText(out_ + "/P_fw_info.bin"), "earlier");
  EXPECT_EQ(DirEntries(out_), (Strings{"P_all_models.bin", "P_fw_info.bin"}));
}

TEST_F(ExtractTest, ALinkInTheLastPlaceIsNotFollowed) {
  symlink((dir_ / "elsewhere").c_str(), (dir_ / "link.bin").c_str());
  EXPECT_EQ(BNXUtils::AbsoluteFilePath(dir_ / "./link.bin"), RealPath(dir_.path()) + "/link.bin");
}

TEST_F(ExtractTest, ModelTableReportRefusesWhatItCannotRead) {
  const std::string fw = dir_ / "fw_info.bin", s0 = dir_ / "s0.bin", s1 = dir_ / "s1.bin";
  WriteBytes(fw, BuildLegacyPair(models_, false).fw_info);
  WriteBytes(s0, models_[0].setup);
  std::string text = "unchanged";
  // The one message of each failure, as a log line.
  auto only_line = [](const talvex::Status& st) {
    EXPECT_EQ(talvex::Report(st), -1);
    EXPECT_EQ(st.messages().size(), 1u);
    return st.messages().empty() ? std::string() : st.messages()[0].text;
  };
  const std::string few = only_line(GetAllFwInfoText(fw, {s0}, true, text));  // fewer setup paths than models
  EXPECT_NE(few.find("2 models"), std::string::npos) << few;
  const std::string gone = only_line(GetAllFwInfoText(fw, {s0, s1}, true, text));  // a setup that is not there
  EXPECT_NE(gone.find(s1), std::string::npos) << gone;
  EXPECT_EQ(text, "unchanged");
  for (const Bytes& bad : {Bytes{2, 0}, Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}}) {
    WriteBytes(fw, bad);
    EXPECT_EQ(ParseAllFwInfo(fw, {s0, s0}, true), -1);
  }
  WriteBytes(fw, BuildLegacyPair({}, false).fw_info);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseAllFwInfo(fw, {}, true), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "No model info in fw_info.bin\n");
}

}  // namespace
