// Container generation (bnx/generate) and the version text of generated containers.
#include "bnx/generate.h"

#include <gtest/gtest.h>
#include <zlib.h>

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

// A TXM payload of several 1 MiB pieces, read once for its CRC and its copy: the header crc
// and uuid are the CRC of the TXM file, filled in after the payload went out, the payload is the
// file byte for byte and the trailer closes the whole file; a given uuid stays as given.
TEST(GenerateTest, LargeTxmPayloadCrcIsFilledInAfterTheCopy) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir / "out");
  SampleTxmOptions options;
  options.models[0].cmd_bytes = (size_t{1} << 20) + 3 * 64;
  options.models[1].weight_bytes = (size_t{2} << 20) + 5 * 64;
  const std::vector<uint8_t> txm = BuildSampleTxm(options);
  ASSERT_GT(txm.size(), size_t{3} << 20);
  WriteBytes(dir / "m.txm", txm);
  const uint32_t want = static_cast<uint32_t>(crc32_z(0, txm.data(), txm.size()));
  for (const bool from_payload : {true, false}) {
    BNX_Args args;
    args.target = "400", args.all_models_path = dir / "m.txm";
    args.uuid_from_payload = from_payload;
    args.uuid = 0x5A5A;
    ASSERT_TRUE(BNXUtils::GenBNXFile(args, "big").ok());
    const std::vector<uint8_t> file = ReadBytes(dir / "out/big.bnx");
    ASSERT_EQ(file.size() % 32, 4u);
    EXPECT_EQ(crc32_z(0, file.data(), file.size()), 0x2144DF1Cu);
    const auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data());
    EXPECT_EQ(root->header()->crc(), want);
    EXPECT_EQ(root->header()->uuid(), from_payload ? want : 0x5A5Au);
    EXPECT_EQ(args.uuid, from_payload ? want : 0x5A5Au);
    const auto* all = root->model_bin()->all_models();
    EXPECT_EQ((all->data() - file.data()) % 32, 0);
    EXPECT_EQ(std::vector<uint8_t>(all->begin(), all->end()), txm);
  }
}

}  // namespace
