#include "bnx/generate.h"

#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bnx/container.h"
#include "bnx/model_info.h"
#include "cli/gen_mode.h"
#include "cli/header_modes.h"
#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/bnx_decode.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

// Offset of the all_models data in a written file (generated accessors, after verification).
size_t AllModelsOffset(const Bytes& file) {
  const Bytes buf(file.begin(), file.end() - 4);
  flatbuffers::Verifier v(buf.data(), buf.size());
  if (!v.VerifyBuffer<TalvexBNX::BNXContent>(nullptr)) return SIZE_MAX;
  const auto* bin = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf.data())->model_bin();
  if (bin == nullptr || bin->all_models() == nullptr) return SIZE_MAX;
  return static_cast<size_t>(bin->all_models()->data() - buf.data());
}

// The layout rules every written container keeps.
void ExpectContainerLayout(const std::string& path) {
  const Bytes file = ReadBytes(path);
  ASSERT_GE(file.size(), 36u);
  EXPECT_EQ(file.size() % 32, 4u) << path;
  EXPECT_EQ(Crc32(file), 0x2144DF1Cu) << path;
  EXPECT_EQ(LoadLE32(file, file.size() - 4), Crc32(file, 0, file.size() - 4));
  EXPECT_EQ(AllModelsOffset(file) % 32, 0u) << path;
}

class GenerateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = dir_ / "out";
    BNXUtils::SetOutputDir(out_);
  }
  Json::Value Decode(const std::string& path) { return DecodeBnxWithFlatc(path, TALVEX_FLATC, TALVEX_SCHEMA_DIR); }
  BNX_Args TxmArgs(const std::string& target, const Bytes& txm) {
    WriteBytes(dir_ / "model.txm", txm);
    BNX_Args a;
    a.target = target;
    a.all_models_path = dir_ / "model.txm";
    a.compiler_version = "cc 1";
    a.toolchain_version = "tc 2";
    a.solution_id = "42";
    a.solution_tag = "tag";
    a.uuid_from_payload = true;
    return a;
  }
  BNX_Args LegacyArgs(const std::string& target, const LegacyPair& p) {
    WriteLegacyPair(p, dir_ / "fw_info.bin", dir_ / "all_models.bin");
    BNX_Args a;
    a.target = target;
    a.fw_info_path = dir_ / "fw_info.bin";
    a.all_models_path = dir_ / "all_models.bin";
    a.uuid_from_payload = true;
    return a;
  }

  TempDir dir_;
  std::string out_;
};

TEST_F(GenerateTest, TxmPayloadContainerDecodesAsDocumented) {
  const Bytes txm = BuildSampleTxm();
  BNX_Args args = TxmArgs("400", txm);
  ASSERT_EQ(BNXUtils::GenBNXFile(args, ""), 0);
  const std::string path = out_ + "/models_400.bnx";
  ExpectContainerLayout(path);
  const Json::Value j = Decode(path);
  ASSERT_TRUE(j.isObject());
  EXPECT_EQ(j["magic"].asUInt(), 0x012EBD34u);
  const Json::Value& h = j["header"];
  EXPECT_EQ(h["platform"].asString(), "");
  EXPECT_EQ(h["target"].asString(), "TZ400");
  EXPECT_EQ(h["crc"].asUInt(), Crc32(txm));
  EXPECT_EQ(h["uuid"].asUInt(), Crc32(txm));
  EXPECT_EQ(h["tv_number"].asUInt(), 0u);
  EXPECT_EQ(h["encryption_mode"].asString(), "EM_None");
  EXPECT_EQ(h["compiler_version"].asString(), "cc 1");
  EXPECT_EQ(h["toolchain_version"].asString(), "tc 2");
  EXPECT_EQ(h["solution_id"].asString(), "42");
  EXPECT_EQ(h["solution_tag"].asString(), "tag");
  EXPECT_EQ(h["schema_version"]["major_num"].asUInt(), 2u);
  EXPECT_EQ(h["schema_version"]["minor_num"].asUInt(), 0u);
  EXPECT_EQ(h["schema_version"]["revision_num"].asUInt(), 1u);
  ASSERT_EQ(j["model_info"].size(), 2u);
  for (Json::ArrayIndex i = 0; i < 2; ++i) {
    EXPECT_EQ(j["model_info"][i]["id"].asInt(), static_cast<int>(i + 1));
    EXPECT_EQ(j["model_info"][i]["name"].asString(), "");
    EXPECT_EQ(j["model_info"][i]["version"].asString(), "");
  }
  EXPECT_EQ(j["model_bin"]["fw_info"].size(), 0u);
  EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), txm);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"models_400.bnx"});
}

TEST_F(GenerateTest, ZeroScalarsAndTheMagicArePhysicallyPresent) {
  BNX_Args args = TxmArgs("600", BuildSampleTxm());
  BNXUtils::GenBNXFile(args, "x");
  const Bytes file = ReadBytes(out_ + "/x.bnx");
  const auto* root = reinterpret_cast<const flatbuffers::Table*>(flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data()));
  EXPECT_NE(root->GetOptionalFieldOffset(TalvexBNX::BNXContent::VT_MAGIC), 0);
  const auto* h = reinterpret_cast<const flatbuffers::Table*>(flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data())->header());
  for (auto vt : {TalvexBNX::BNXHeader::VT_TV_NUMBER, TalvexBNX::BNXHeader::VT_ENCRYPTION_MODE,
                  TalvexBNX::BNXHeader::VT_PLATFORM, TalvexBNX::BNXHeader::VT_TARGET}) {
    EXPECT_NE(h->GetOptionalFieldOffset(vt), 0) << vt;
  }
  const auto* sv = reinterpret_cast<const flatbuffers::Table*>(
      flatbuffers::GetRoot<TalvexBNX::BNXContent>(file.data())->header()->schema_version());
  EXPECT_NE(sv->GetOptionalFieldOffset(TalvexBNX::SchemaVersion::VT_MINOR_NUM), 0);
}

TEST_F(GenerateTest, LegacyTargetsSchemaVersionsAndModelEntries) {
  struct Case {
    std::string target;
    LegacySetupForm form;
    unsigned major;
  };
  for (const Case& c : {Case{"100", LegacySetupForm::kRaw, 0}, Case{"200", LegacySetupForm::kRaw, 0},
                        Case{"200", LegacySetupForm::kFlatbuffer, 1}, Case{"300", LegacySetupForm::kFlatbuffer, 1},
                        Case{"500", LegacySetupForm::kFlatbuffer, 1}}) {
    SCOPED_TRACE(c.target + " major " + std::to_string(c.major));
    const LegacyPair p = BuildLegacyPair(SampleLegacyModels(c.form), false);
    BNX_Args args = LegacyArgs(c.target, p);
    EXPECT_EQ(BNXUtils::GetMajorNumber(args), static_cast<int>(c.major));
    ASSERT_EQ(BNXUtils::GenBNXFile(args, ""), 0);
    const std::string path = out_ + "/models_" + c.target + ".bnx";
    ExpectContainerLayout(path);
    const Json::Value j = Decode(path);
    EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), c.major);
    EXPECT_EQ(j["header"]["crc"].asUInt(), p.all_models_crc);
    EXPECT_EQ(j["header"]["uuid"].asUInt(), p.all_models_crc);
    ASSERT_EQ(j["model_info"].size(), 2u);
    EXPECT_EQ(j["model_info"][0]["id"].asInt(), 7);
    EXPECT_EQ(j["model_info"][0]["version"].asString(), "3");
    EXPECT_EQ(j["model_info"][1]["id"].asInt(), 9);
    EXPECT_EQ(j["model_info"][1]["version"].asString(), "258");
    EXPECT_EQ(j["model_info"][1]["name"].asString(), "");
    // The stored fw_info carries the CRC section, and so does the input file now.
    const Bytes with_crc = BuildLegacyPair(SampleLegacyModels(c.form), true).fw_info;
    EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), with_crc);
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), with_crc);
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), p.all_models);
  }
}

TEST_F(GenerateTest, GivenModelsAreWrittenAsIsEvenForATxmPayload) {
  BNX_Args args = TxmArgs("400", BuildSampleTxm());
  args.models = {{"BNX_0x1_a", 32768, 7}, {"b", 5, 0xFFFFFFFF}};
  args.uuid_from_payload = false;
  args.uuid = 0xABCD;
  args.tv_number = 9;
  args.encryption_mode = 2;
  BNXUtils::GenBNXFile(args, "");
  const Json::Value j = Decode(out_ + "/models_400.bnx");
  ASSERT_EQ(j["model_info"].size(), 2u);
  EXPECT_EQ(j["model_info"][0]["name"].asString(), "BNX_0x1_a");
  EXPECT_EQ(j["model_info"][0]["id"].asInt(), 32768);
  EXPECT_EQ(j["model_info"][0]["version"].asString(), "7");
  EXPECT_EQ(j["model_info"][1]["version"].asString(), "4294967295");
  EXPECT_EQ(j["header"]["uuid"].asUInt(), 0xABCDu);
  EXPECT_EQ(j["header"]["tv_number"].asUInt(), 9u);
  EXPECT_EQ(j["header"]["encryption_mode"].asString(), "EM_TVNum");
}

TEST_F(GenerateTest, EmptyPayloadStillGetsAnAlignedAllModelsVector) {
  // No models: fw_info.bin of 12 bytes and an empty all_models.bin.
  BNX_Args args = LegacyArgs("100", BuildLegacyPair({}, false));
  ASSERT_EQ(ReadBytes(args.all_models_path).size(), 0u);
  ASSERT_EQ(BNXUtils::GenBNXFile(args, "empty"), 0);
  const std::string path = out_ + "/empty.bnx";
  ExpectContainerLayout(path);
  const Json::Value j = Decode(path);
  ASSERT_TRUE(j["model_bin"].isMember("all_models"));
  EXPECT_EQ(j["model_bin"]["all_models"].size(), 0u);
  EXPECT_EQ(j["model_info"].size(), 0u);
  EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]).size(), 20u);
  EXPECT_EQ(j["header"]["crc"].asUInt(), 0u);
}

TEST_F(GenerateTest, GeneratingTwiceGivesIdenticalFiles) {
  BNX_Args args = LegacyArgs("100", BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), false));
  BNXUtils::GenBNXFile(args, "a");
  BNXUtils::GenBNXFile(args, "b");
  EXPECT_EQ(ReadBytes(out_ + "/a.bnx"), ReadBytes(out_ + "/b.bnx"));
  BNX_Args t = TxmArgs("400", BuildSampleTxm());
  BNXUtils::GenBNXFile(t, "c");
  BNXUtils::GenBNXFile(t, "d");
  EXPECT_EQ(ReadBytes(out_ + "/c.bnx"), ReadBytes(out_ + "/d.bnx"));
}

TEST_F(GenerateTest, BadInputsWriteNothing) {
  BNX_Args missing = TxmArgs("400", BuildSampleTxm());
  missing.all_models_path = dir_ / "nope.txm";
  EXPECT_THROW(BNXUtils::GenBNXFile(missing, ""), std::invalid_argument);

  BNX_Args unknown = TxmArgs("700", BuildSampleTxm());
  EXPECT_THROW(BNXUtils::GenBNXFile(unknown, ""), TalvexException);
  unknown.target = "400 ";
  EXPECT_THROW(BNXUtils::GenBNXFile(unknown, ""), TalvexException);

  // Not a TXM file, and a truncated one.
  BNX_Args not_txm = TxmArgs("400", Bytes(200, 0x41));
  EXPECT_THROW(BNXUtils::GenBNXFile(not_txm, ""), TalvexException);
  Bytes txm = BuildSampleTxm();
  txm.resize(txm.size() / 2);
  BNX_Args cut = TxmArgs("600", txm);
  EXPECT_THROW(BNXUtils::GenBNXFile(cut, ""), TalvexException);

  // fw_info.bin listing more than all_models.bin holds; fw_info.bin stays as it was.
  LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false);
  BNX_Args legacy = LegacyArgs("300", p);
  WriteBytes(legacy.all_models_path, Bytes(p.all_models.begin(), p.all_models.begin() + 40));
  EXPECT_THROW(BNXUtils::GenBNXFile(legacy, ""), InvalidProgramInput);
  EXPECT_EQ(ReadBytes(legacy.fw_info_path), p.fw_info);
  // A TZ200 pair whose first setup reaches past the end.
  legacy.target = "200";
  EXPECT_THROW(BNXUtils::GenBNXFile(legacy, ""), InvalidProgramInput);

  EXPECT_TRUE(DirEntries(out_).empty());
}

TEST_F(GenerateTest, PackBNXKeepsEverythingAndAlignsAnEmptyPayload) {
  for (size_t payload : {size_t{0}, size_t{1}, size_t{33}, size_t{100}}) {
    SampleBnx s;
    s.models = {{"det", 32768, "1.0"}, {"", 2, ""}};
    s.fw_info = {1, 2, 3};
    s.all_models = Bytes(payload, 0x5C);
    WriteBytes(dir_ / "in.bnx", BuildBnx(s));
    TalvexBNX::BNXContentT obj;
    ASSERT_TRUE(BNXUtils::GetBNXObj(dir_ / "in.bnx", obj));
    flatbuffers::FlatBufferBuilder fbb(1024);
    fbb.Finish(BNXUtils::PackBNX(fbb, obj));
    const std::string path = BNXUtils::GenBNXBinary("400", fbb, "packed");
    EXPECT_EQ(path, out_ + "/packed.bnx");
    ExpectContainerLayout(path);
    const Json::Value j = Decode(path);
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), s.all_models) << payload;
    EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), s.fw_info);
    EXPECT_EQ(j["model_info"][0]["name"].asString(), "det");
    EXPECT_EQ(j["model_info"][1]["id"].asInt(), 2);
    EXPECT_EQ(j["header"]["crc"].asUInt(), s.crc);
    EXPECT_EQ(j["header"]["solution_tag"].asString(), s.solution_tag);
  }
}

TEST_F(GenerateTest, MisalignedBufferIsRefusedAndNotWritten) {
  // A payload placed without forced alignment.
  for (size_t len = 1; len < 40; ++len) {
    flatbuffers::FlatBufferBuilder fbb(1024);
    const Bytes payload(len, 1);
    auto all = fbb.CreateVector(payload);
    auto bin = TalvexBNX::CreateModelBin(fbb, 0, all);
    fbb.Finish(TalvexBNX::CreateBNXContent(fbb, 0x012EBD34, 0, 0, bin));
    const uint8_t* data = flatbuffers::GetRoot<TalvexBNX::BNXContent>(fbb.GetBufferPointer())->model_bin()->all_models()->data();
    if ((data - fbb.GetBufferPointer()) % 32 == 0) continue;
    try {
      BNXUtils::GenBNXBinary("100", fbb, "bad");
      ADD_FAILURE() << "no error";
    } catch (const TalvexException& e) {
      EXPECT_NE(std::string(e.what()).find("Detect alignment issue in bnx"), std::string::npos);
    }
    EXPECT_TRUE(DirEntries(out_).empty());
    return;
  }
  FAIL() << "no misaligned layout found";
}

TEST_F(GenerateTest, PayloadWrittenFromOutsideTheBuilder) {
  const Bytes payload = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 11, 12, 13};
  auto build = [&](flatbuffers::FlatBufferBuilder& fbb) {
    auto all = BNXUtils::CreateAllModelsSpace(fbb, payload.size());
    fbb.Finish(TalvexBNX::CreateBNXContent(fbb, 0x012EBD34, 0, 0, TalvexBNX::CreateModelBin(fbb, 0, all)));
  };
  flatbuffers::FlatBufferBuilder fbb(64);
  build(fbb);
  const BNXUtils::PayloadFill fill{payload.data(), payload.size(), Crc32(payload)};
  const std::string path = BNXUtils::GenBNXBinary("500", fbb, "", &fill);
  EXPECT_EQ(path, out_ + "/models_500.bnx");
  ExpectContainerLayout(path);
  EXPECT_EQ(JsonBytes(Decode(path)["model_bin"]["all_models"]), payload);
  // A fill that does not match the reserved space is refused, and nothing is written.
  flatbuffers::FlatBufferBuilder other(64);
  build(other);
  const BNXUtils::PayloadFill shorter{payload.data(), payload.size() - 1, 0};
  EXPECT_THROW(BNXUtils::GenBNXBinary("500", other, "short", &shorter), TalvexException);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"models_500.bnx"});
}

TEST_F(GenerateTest, GetBinDataAppendsOrReportsOne) {
  WriteBytes(dir_ / "f", Bytes{1, 2, 3});
  Bytes v;
  EXPECT_EQ(BNXUtils::GetBinData(dir_ / "f", v), 0);
  EXPECT_EQ(v, (Bytes{1, 2, 3}));
  Bytes w;
  EXPECT_EQ(BNXUtils::GetBinData(dir_ / "missing", w), 1);
  EXPECT_TRUE(w.empty());
}

TEST(GenModeVersionTest, LastLineOfTheVersionFileWins) {
  TempDir dir;
  EXPECT_EQ(ReadToolchainVersion(dir / "none.txt"), "talvex_bnx_utils version: 2025-09-11(a789b85)");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc\n", "abc"}, {"a\nb", "b"}, {"a\nb\n", "b"}, {"a\n\n", ""}, {"", "talvex_bnx_utils version: 2025-09-11(a789b85)"}};
  for (const auto& c : cases) {
    WriteText(dir / "v.txt", c.first);
    EXPECT_EQ(ReadToolchainVersion(dir / "v.txt"), c.second) << c.first;
  }
}

// ---- model descriptions, solution fields, uuid ----

class ModelInfoOpsTest : public GenerateTest {};

TEST_F(ModelInfoOpsTest, ReadOneDescriptionAndTheUuid) {
  SampleBnx s;
  s.models = {{"det", 32768, "1.0"}, {"cls", -3, ""}};
  s.uuid = 0xFEEDBEEF;
  WriteBytes(dir_ / "a.bnx", BuildBnx(s));
  std::string id = "x", version = "y", name = "z";
  BNXUtils::ReadBNXModelInfo(dir_ / "a.bnx", 1, id, version, name);
  EXPECT_EQ(id, "-3");
  EXPECT_EQ(version, "");
  EXPECT_EQ(name, "cls");
  for (int idx : {-1, 2}) {
    std::string a = "x", b = "y", c = "z";
    BNXUtils::ReadBNXModelInfo(dir_ / "a.bnx", idx, a, b, c);
    EXPECT_EQ(a + b + c, "xyz");
  }
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir_ / "a.bnx"), 0xFEEDBEEFu);
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir_ / "missing.bnx"), 0u);
  s.with_header = false;
  WriteBytes(dir_ / "b.bnx", BuildBnx(s));
  EXPECT_EQ(BNXUtils::GetUuidInBnx(dir_ / "b.bnx"), 0u);
  // Without a header there is no target to name the output by: refused, nothing written.
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(dir_ / "b.bnx", "1", "", ""), -1);
  EXPECT_EQ(BNXUtils::ModifyModelInfo(dir_ / "b.bnx", {"1"}, {}, ""), -1);
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(dir_ / "a.bnx", "", "", ""), -1);
  EXPECT_TRUE(DirEntries(out_).empty());
}

TEST_F(ModelInfoOpsTest, ListingFormat) {
  SampleBnx s;
  s.models = {{"det", 32768, "1.0"}, {"", 2, "12345678901"}};
  WriteBytes(dir_ / "a.bnx", BuildBnx(s));
  testing::internal::CaptureStdout();
  BNXUtils::GetBNXModelInfo(dir_ / "a.bnx", -1);
  BNXUtils::GetBNXModelInfo(dir_ / "a.bnx", 0);
  BNXUtils::GetBNXModelInfo(dir_ / "a.bnx", 5);
  BNXUtils::ReadBNXModelInfo(dir_ / "a.bnx", 1);
  BNXUtils::GetBNXModelInfo(dir_ / "missing.bnx", -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "#001 {   32768} (       1.0) [det]\n"
            "#002 {       2} (12345678901) []\n"
            "#001 {   32768} (       1.0) [det]\n"
            "#002 {       2} (12345678901) []\n");
}

TEST_F(ModelInfoOpsTest, WriteFileAppendsWholeFiles) {
  Bytes big(10000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13);
  WriteBytes(dir_ / "src", big);
  FILE* out = fopen((dir_ / "dst").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fputs("head", out);
  EXPECT_EQ(WriteFile(out, dir_ / "src"), 0);
  EXPECT_EQ(WriteFile(out, dir_ / "missing"), -1);
  fclose(out);
  Bytes expect = {'h', 'e', 'a', 'd'};
  expect.insert(expect.end(), big.begin(), big.end());
  EXPECT_EQ(ReadBytes(dir_ / "dst"), expect);
  // A stream that cannot take the data.
  FILE* ro = fopen((dir_ / "src").c_str(), "rb");
  ASSERT_NE(ro, nullptr);
  EXPECT_EQ(WriteFile(ro, dir_ / "src"), -1);
  fclose(ro);
}

}  // namespace
