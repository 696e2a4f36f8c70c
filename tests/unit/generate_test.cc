// Container writing (bnx/generate) and the container operations of bnx/model_info.
#include "bnx/generate.h"

#include <gtest/gtest.h>

#include "common/logger.h"

#include <stdexcept>

#include "bnx/model_info.h"
#include "cli/gen_mode.h"
#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

class GenerateTest : public ::testing::Test {
 protected:
  void SetUp() override { BNXUtils::SetOutputDir(out_); }
  TempDir dir_;
  std::string out_ = dir_ / "out";
};

TEST_F(GenerateTest, VersionFileMissingPayloadAndHeaderlessContainers) {
  EXPECT_EQ(ReadToolchainVersion(dir_ / "none.txt"), "talvex_bnx_utils version: 2025-09-11(a789b85)");
  WriteText(dir_ / "v.txt", "old\nabc\n");  // the last line wins
  EXPECT_EQ(ReadToolchainVersion(dir_ / "v.txt"), "abc");
  BNX_Args args;
  args.target = "400", args.all_models_path = dir_ / "nope.txm";
  try {
    (void)BNXUtils::GenBNXFile(args, "");
    ADD_FAILURE() << "a missing payload file must stop the generation";
  } catch (const TalvexException& e) {
    // Reported as before: the log line naming the file, then the program's "error: " line.
    ASSERT_EQ(e.status().messages().size(), 2u);
    EXPECT_NE(e.status().messages()[0].text.find("all_models_path[" + args.all_models_path + "] doesn't exist\n"),
              std::string::npos);
    EXPECT_EQ(e.status().messages()[1].text, "error: all_models_path doesn't exist");
    EXPECT_EQ(HandleTalvexException(e), 1);
  }
  // Without a header there is no target to name the output by: refused, nothing written.
  SampleBnx s;
  s.uuid = 0xFEEDBEEF;
  WriteBytes(dir_ / "a.bnx", BuildBnx(s));
  s.with_header = false;
  WriteBytes(dir_ / "b.bnx", BuildBnx(s));
  EXPECT_EQ(talvex::Report(BNXUtils::ModifySolutionInfo(dir_ / "b.bnx", "1", "", "")), -1);
  EXPECT_EQ(talvex::Report(BNXUtils::ModifyModelInfo(dir_ / "b.bnx", {"1"}, {}, "")), -1);
  EXPECT_EQ(talvex::Report(BNXUtils::ModifySolutionInfo(dir_ / "a.bnx", "", "", "")), -1);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{});
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir_ / "a.bnx"), 0xFEEDBEEFu);
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir_ / "b.bnx"), 0u);
}

TEST_F(GenerateTest, GivenModelsAreWrittenAsTheyAreEvenForATxmPayload) {
  // Combining and post-encryption pass their own model list: exactly those entries, versions as
  // unsigned decimal text, instead of the payload's models.
  WriteBytes(dir_ / "m.txm", BuildSampleTxm());
  BNX_Args args;
  args.target = "400", args.all_models_path = dir_ / "m.txm";
  args.models = {{"BNX_0x1_det", 5, 0x10}, {"", 0xFFFFFFFF, 4294967295u}};
  ASSERT_TRUE(BNXUtils::GenBNXFile(args, "given").ok());
  const std::vector<uint8_t> file = ReadBytes(out_ + "/given.bnx");
  const auto* infos = flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data())->model_info();
  ASSERT_EQ(infos->size(), 2u);
  EXPECT_EQ(infos->Get(0)->name()->str() + " " + std::to_string(infos->Get(0)->id()) + " " + infos->Get(0)->version()->str(),
            "BNX_0x1_det 5 16");
  EXPECT_EQ(infos->Get(1)->name()->str() + " " + std::to_string(infos->Get(1)->id()) + " " + infos->Get(1)->version()->str(),
            " -1 4294967295");
}

}  // namespace
