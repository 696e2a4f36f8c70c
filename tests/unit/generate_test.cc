// Container generation (bnx/generate) and the version text of generated containers.
#include "bnx/generate.h"

#include <gtest/gtest.h>

#include "cli/gen_mode.h"
#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

TEST(GenerateTest, ToolchainVersionComesFromTheLastLineOfTheFile) {
  TempDir dir;
  EXPECT_EQ(ReadToolchainVersion(dir / "none.txt"), "talvex_bnx_utils version: 2025-09-11(a789b85)");
  WriteText(dir / "v.txt", "old\nabc\n");
  EXPECT_EQ(ReadToolchainVersion(dir / "v.txt"), "abc");
}

TEST(GenerateTest, MissingPayloadStopsWithTheUsualReportAndWritesNothing) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir / "out");
  BNX_Args args;
  args.target = "400", args.all_models_path = dir / "nope.txm";
  try {
    (void)BNXUtils::GenBNXFile(args, "");
    ADD_FAILURE() << "a missing payload file must stop the generation";
  } catch (const TalvexException& e) {
    // The log line naming the file, then the program's "error: " line, exit status 1.
    ASSERT_EQ(e.status().messages().size(), 2u);
    EXPECT_TRUE(Contains(e.status().messages()[0].text, "all_models_path[" + args.all_models_path + "] doesn't exist\n"));
    EXPECT_EQ(e.status().messages()[1].text, "error: all_models_path doesn't exist");
    EXPECT_EQ(HandleTalvexException(e), 1);
  }
  EXPECT_EQ(DirEntries(dir / "out"), std::vector<std::string>{});
}

TEST(GenerateTest, GivenModelsAreWrittenAsTheyAreEvenForATxmPayload) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir / "out");
  // Combining and post-encryption pass their own model list: exactly those entries, versions as
  // unsigned decimal text, instead of the payload's models.
  WriteBytes(dir / "m.txm", BuildSampleTxm());
  BNX_Args args;
  args.target = "400", args.all_models_path = dir / "m.txm";
  args.models = {{"BNX_0x1_det", 5, 0x10}, {"", 0xFFFFFFFF, 4294967295u}};
  ASSERT_TRUE(BNXUtils::GenBNXFile(args, "given").ok());
  const std::vector<uint8_t> file = ReadBytes(dir / "out/given.bnx");
  const auto* infos = flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data())->model_info();
  ASSERT_EQ(infos->size(), 2u);
  EXPECT_EQ(infos->Get(0)->name()->str() + " " + std::to_string(infos->Get(0)->id()) + " " + infos->Get(0)->version()->str(),
            "BNX_0x1_det 5 16");
  EXPECT_EQ(infos->Get(1)->name()->str() + " " + std::to_string(infos->Get(1)->id()) + " " + infos->Get(1)->version()->str(),
            " -1 4294967295");
}

}  // namespace
