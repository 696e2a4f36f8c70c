// Container generation (bnx/generate) and the version text of generated containers.
#include "bnx/generate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "cli/gen_mode.h"
#include "common/exceptions.h"
#include "common/file_io.h"
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

// Pieces of a combined payload are copied from the file they lie in only when they lie in it
// whole; anything else (past its end, before it, straddling it) comes from memory. The CRC is
// the same either way.
TEST(GenerateTest, PiecesAreReadFromTheFileOnlyWhenTheyLieInItWhole) {
  TempDir dir;
  std::vector<uint8_t> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  WriteBytes(dir / "f", bytes);
  const talvex::FileBuffer file = talvex::FileBuffer::Load(dir / "f");
  ASSERT_TRUE(file.ok() && file.fd() >= 0);
  const std::vector<BNXUtils::MappedFile> files = {{file.data(), file.size(), file.fd()}};
  std::vector<uint8_t> outside(bytes.begin(), bytes.begin() + 100);
  struct Case {
    const uint8_t* p;
    size_t n;
    bool in_file;
    uint64_t offset;
  };
  const Case cases[] = {{file.data(), file.size(), true, 0},
                        {file.data() + 9990, 10, true, 9990},
                        {file.data() + 10000, 0, true, 10000},
                        {file.data() + 9990, 11, false, 0},
                        {outside.data(), outside.size(), false, 0}};
  for (const Case& c : cases) {
    uint64_t at = 77;
    const BNXUtils::MappedFile* f = BNXUtils::FileHolding(files, c.p, c.n, &at);
    EXPECT_EQ(f != nullptr, c.in_file) << c.n;
    if (f != nullptr) EXPECT_EQ(at, c.offset);
    // (The straddling piece would read past the mapping, so it gets no CRC here.)
    if (c.in_file || c.p == outside.data()) {
      EXPECT_EQ(BNXUtils::Crc32Piece(files, 0, c.p, c.n), static_cast<uint32_t>(crc32(0, c.p, static_cast<uInt>(c.n))));
    }
  }
}

}  // namespace
