#include "bnx/container.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/run.h"
#include "txm_generated.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::BuildBnx;
using testsupport::SampleBnx;

const char* const kAllKeys[] = {"platform",          "target",         "crc",
                                "tv_number",         "encryption_mode", "compiler_version",
                                "toolchain_version", "schema_version", "schema_version_major",
                                "uuid",              "solution_id",    "solution_tag"};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t LittleEndianAt(const Bytes& b, size_t pos) {
  return static_cast<uint32_t>(b[pos]) | static_cast<uint32_t>(b[pos + 1]) << 8 |
         static_cast<uint32_t>(b[pos + 2]) << 16 | static_cast<uint32_t>(b[pos + 3]) << 24;
}

// Offset of the first all_models data byte, and of the byte after it, in a verified buffer.
std::pair<size_t, size_t> AllModelsRange(const Bytes& buf) {
  auto* bnx = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf.data());
  const auto* v = bnx->model_bin()->all_models();
  const size_t start = static_cast<size_t>(v->data() - buf.data());
  return {start, start + v->size()};
}

std::string ExceptionText(const std::function<void()>& f) {
  try {
    f();
  } catch (const TalvexException& e) {
    return e.what();
  }
  return "";
}

// A small but complete TXM file: one model with one NPU core.
Bytes BuildTxm() {
  TalvexTXM::TXMContentT txm;
  txm.magic = 7;
  txm.header = std::make_unique<TalvexTXM::TXMHeaderT>();
  txm.header->target = TalvexTXM::NPUTarget::TZ400;
  auto model = std::make_unique<TalvexTXM::ModelT>();
  model->header = std::make_unique<TalvexTXM::ModelHeaderT>();
  model->header->id = 3;
  auto core = std::make_unique<TalvexTXM::CoreT>();
  core->header = std::make_unique<TalvexTXM::CoreHeaderT>();
  TalvexTXM::NPUEUParamsT npu;
  npu.cmd = {1, 2, 3, 4};
  npu.weight = {9};
  core->eu_params.Set(std::move(npu));
  model->cores.push_back(std::move(core));
  txm.models.push_back(std::move(model));
  flatbuffers::FlatBufferBuilder b;
  b.Finish(TalvexTXM::TXMContent::Pack(b, &txm));
  return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

bool MakeSparse(const std::string& path, const Bytes& head, off_t size) {
  testsupport::WriteBytes(path, head);
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, size) == 0;
  close(fd);
  return ok;
}

class BnxFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = tmp_ / name;
    testsupport::WriteBytes(path, bytes);
    return path;
  }
  testsupport::TempDir tmp_;
};

// ---------------------------------------------------------------- CRC-32

TEST(Crc32Test, KnownValues) {
  const Bytes abc = Text("abc");
  const Bytes check = Text("123456789");
  EXPECT_EQ(BNXUtils::crc32(abc.data(), abc.size()), 0x352441C2u);
  EXPECT_EQ(BNXUtils::crc32(check.data(), check.size()), 0xCBF43926u);
  EXPECT_EQ(BNXUtils::crc32(nullptr, 0), 0u);
  EXPECT_EQ(BNXUtils::crc32(abc.data(), 0), 0u);
  const Bytes zeros(32, 0);
  EXPECT_EQ(BNXUtils::crc32(zeros.data(), zeros.size()), 0x190A55ADu);
}

TEST(Crc32Test, IntactContainerHasTheResidueAndItsTrailerIsTheCrc) {
  for (size_t payload : {0u, 1u, 31u, 32u, 100u, 4097u}) {
    SampleBnx s;
    s.all_models = Bytes(payload, 0x5C);
    const Bytes file = BuildBnx(s);
    ASSERT_EQ(file.size() % 32, 4u) << payload;
    EXPECT_EQ(BNXUtils::crc32(file.data(), file.size()), 0x2144DF1Cu) << payload;
    EXPECT_EQ(BNXUtils::crc32(file.data(), file.size() - 4), LittleEndianAt(file, file.size() - 4));
  }
  EXPECT_EQ(BNXUtils::BNX_RESIDUE_CRC, 0x2144DF1Cu);
}

TEST_F(BnxFileTest, FileCrcOfContentEmptyAndMissingFiles) {
  const std::string abc = Write("abc", Text("abc"));
  EXPECT_EQ(BNXUtils::GetFileCRC(abc), 0x352441C2u);
  uint32_t crc = 1;
  EXPECT_TRUE(BNXUtils::ComputeFileCRC(abc, &crc));
  EXPECT_EQ(crc, 0x352441C2u);

  const std::string empty = Write("empty", {});
  crc = 1;
  EXPECT_TRUE(BNXUtils::ComputeFileCRC(empty, &crc));
  EXPECT_EQ(crc, 0u);
  EXPECT_EQ(BNXUtils::GetFileCRC(empty), 0u);

  crc = 1;
  EXPECT_FALSE(BNXUtils::ComputeFileCRC(tmp_ / "missing", &crc));
  EXPECT_EQ(crc, 0u);
  EXPECT_EQ(BNXUtils::GetFileCRC(tmp_ / "missing"), 0u);

  crc = 1;
  EXPECT_FALSE(BNXUtils::ComputeFileCRC(tmp_.path(), &crc));  // a folder
  EXPECT_EQ(crc, 0u);

  EXPECT_EQ(BNXUtils::GetFileCRC(Write("c.bnx", BuildBnx(SampleBnx()))), 0x2144DF1Cu);
}

TEST_F(BnxFileTest, TailPaddingAppendsTheLittleEndianCrc) {
  const std::string path = Write("f", Text("abc"));
  ASSERT_EQ(BNXUtils::TailPaddingCRCInfo(path), 0);
  EXPECT_EQ(testsupport::ReadBytes(path), (Bytes{'a', 'b', 'c', 0xC2, 0x41, 0x24, 0x35}));
  EXPECT_EQ(BNXUtils::GetFileCRC(path), 0x2144DF1Cu);

  SampleBnx s;
  s.with_trailer = false;
  const std::string bnx = Write("x.bnx", BuildBnx(s));
  ASSERT_EQ(BNXUtils::TailPaddingCRCInfo(bnx), 0);
  s.with_trailer = true;
  EXPECT_EQ(testsupport::ReadBytes(bnx), BuildBnx(s));

  EXPECT_EQ(BNXUtils::TailPaddingCRCInfo(tmp_ / "missing"), -1);
  EXPECT_FALSE(testsupport::Exists(tmp_ / "missing"));
}

// ---------------------------------------------------------------- texts

TEST(EnumTextTest, TargetsBothWays) {
  const char* texts[] = {"100", "200", "300", "400", "500", "600"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(BNXUtils::GetTargetStr(static_cast<TalvexBNX::NPUTarget>(i)), texts[i]);
    EXPECT_EQ(static_cast<int>(BNXUtils::GetTargetEnum(texts[i])), i);
  }
}

TEST(EnumTextTest, UnknownTargetsStopTheOperation) {
  for (const char* bad : {"700", "", "400 ", " 400", "TZ400", "0", "4000"}) {
    const std::string what = ExceptionText([&] { BNXUtils::GetTargetEnum(bad); });
    EXPECT_NE(what.find("Undefine Target!"), std::string::npos) << "[" << bad << "] " << what;
  }
  for (int stored : {6, -1, 1000}) {
    const std::string what = ExceptionText([&] { BNXUtils::GetTargetStr(static_cast<TalvexBNX::NPUTarget>(stored)); });
    EXPECT_NE(what.find("Undefine target"), std::string::npos) << stored << " " << what;
  }
}

TEST(EnumTextTest, EncryptionModesHexAndSchemaVersions) {
  EXPECT_EQ(BNXUtils::GetEncModeStr(TalvexBNX::ENCMode::EM_None), "NONE");
  EXPECT_EQ(BNXUtils::GetEncModeStr(TalvexBNX::ENCMode::EM_CUSTOM), "CUSTOM");
  EXPECT_EQ(BNXUtils::GetEncModeStr(TalvexBNX::ENCMode::EM_TVNum), "TV_Number");
  EXPECT_EQ(BNXUtils::GetEncModeStr(static_cast<TalvexBNX::ENCMode>(7)), "NONE");
  EXPECT_EQ(BNXUtils::GetEncModeStr(static_cast<TalvexBNX::ENCMode>(-1)), "NONE");

  EXPECT_EQ(BNXUtils::GetHexFromUInt(0), "0x0");
  EXPECT_EQ(BNXUtils::GetHexFromUInt(255), "0xFF");
  EXPECT_EQ(BNXUtils::GetHexFromUInt(4779), "0x12AB");
  EXPECT_EQ(BNXUtils::GetHexFromUInt(0xFFFFFFFFu), "0xFFFFFFFF");

  flatbuffers::FlatBufferBuilder b;
  b.Finish(TalvexBNX::CreateSchemaVersion(b, 2, 0, 1));
  auto* v = flatbuffers::GetRoot<TalvexBNX::SchemaVersion>(b.GetBufferPointer());
  EXPECT_EQ(BNXUtils::GetSchemaVersionStr(v), "v2.0.1");
  EXPECT_EQ(BNXUtils::GetSchemaMajorVersionStr(v), "2");
  EXPECT_EQ(BNXUtils::GetSchemaVersionStr(nullptr), "");
  EXPECT_EQ(BNXUtils::GetSchemaMajorVersionStr(nullptr), "");

  flatbuffers::FlatBufferBuilder big;
  big.Finish(TalvexBNX::CreateSchemaVersion(big, 4294967295u, 10, 300));
  auto* w = flatbuffers::GetRoot<TalvexBNX::SchemaVersion>(big.GetBufferPointer());
  EXPECT_EQ(BNXUtils::GetSchemaVersionStr(w), "v4294967295.10.300");
}

// ---------------------------------------------------------------- verification

TEST(VerifyTest, TinyAndBadRootOffsetsAreRefused) {
  const Bytes good = BuildBnx(SampleBnx());
  ASSERT_TRUE(BNXUtils::VerifyBNXBuffer(good.data(), good.size()));
  EXPECT_FALSE(BNXUtils::VerifyBNXBuffer(nullptr, good.size()));
  for (size_t n = 0; n <= 4; ++n) EXPECT_FALSE(BNXUtils::VerifyBNXBuffer(good.data(), n)) << n;

  for (uint32_t root : {0u, static_cast<uint32_t>(good.size()), static_cast<uint32_t>(good.size() + 64),
                        0x7FFFFFF0u, 0xFFFFFFFCu}) {
    Bytes bad = good;
    std::memcpy(bad.data(), &root, 4);
    EXPECT_FALSE(BNXUtils::VerifyBNXBuffer(bad.data(), bad.size())) << root;
  }
}

TEST(VerifyTest, EveryTruncationThatCutsDataIsRefused) {
  const Bytes full = BuildBnx(SampleBnx());
  const size_t data_end = AllModelsRange(full).second;
  ASSERT_LE(data_end, full.size() - 4);
  for (size_t n = 0; n < full.size(); ++n) {
    const bool ok = BNXUtils::VerifyBNXBuffer(full.data(), n);
    if (n < data_end) EXPECT_FALSE(ok) << n;
    else EXPECT_TRUE(ok) << n;  // only padding or the trailer was cut
  }
}

// Single-byte damage anywhere: refused, or accepted and then read without harm.
TEST(VerifyTest, DamagedBytesNeverBreakTheReaders) {
  SampleBnx s;
  s.models = {{"a", 1, "1.0"}, {"bb", 2, ""}};
  s.fw_info = Bytes(8, 1);
  const Bytes good = BuildBnx(s);
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t mask : {0xFF, 0x80, 0x01}) {
      Bytes bad = good;
      bad[i] ^= mask;
      if (!BNXUtils::VerifyBNXBuffer(bad.data(), bad.size())) {
        EXPECT_EQ(BNXUtils::CheckBNXAlignment(bad.data(), bad.size()), -1);
        continue;
      }
      auto* bnx = flatbuffers::GetRoot<TalvexBNX::BNXContent>(bad.data());
      for (const char* key : kAllKeys) {
        try {
          (void)BNXUtils::ReadBNXKey(bnx, key);
        } catch (const TalvexException&) {  // a damaged target value
        }
      }
      TalvexBNX::BNXContentT obj;
      bnx->UnPackTo(&obj);
      (void)BNXUtils::CheckBNXAlignment(bad.data(), bad.size());
    }
  }
}

TEST(VerifyTest, RandomBytesNeverBreakTheReaders) {
  std::mt19937 rng(20250911);
  for (int round = 0; round < 2000; ++round) {
    Bytes junk(rng() % 300);
    for (auto& byte : junk) byte = static_cast<uint8_t>(rng());
    // A plausible root offset makes the verifier look further than the first word.
    if (junk.size() >= 8 && round % 2 == 0) {
      const uint32_t root = static_cast<uint32_t>(4 + (rng() % (junk.size() - 4)) / 4 * 4);
      std::memcpy(junk.data(), &root, 4);
    }
    if (!BNXUtils::VerifyBNXBuffer(junk.data(), junk.size())) continue;
    auto* bnx = flatbuffers::GetRoot<TalvexBNX::BNXContent>(junk.data());
    for (const char* key : kAllKeys) {
      try {
        (void)BNXUtils::ReadBNXKey(bnx, key);
      } catch (const TalvexException&) {
      }
    }
    TalvexBNX::BNXContentT obj;
    bnx->UnPackTo(&obj);
  }
}

// ---------------------------------------------------------------- loaders

TEST_F(BnxFileTest, LoadersOnAGoodContainer) {
  SampleBnx s;
  s.platform = "plat";
  s.target = 4;
  s.crc = 0x1A2B3C4D;
  s.uuid = 0xDEADBEEF;
  s.tv_number = 0x12AB;
  s.encryption_mode = 2;
  s.major = 1;
  s.minor = 2;
  s.revision = 3;
  s.models = {{"det", 32768, "1.0"}, {"", 5, ""}, {"cls", -7, "2"}};
  s.fw_info = Bytes(16, 0x11);
  s.all_models = Bytes(200, 0x22);
  const Bytes file = BuildBnx(s);
  const std::string path = Write("good.bnx", file);

  talvex::FileBuffer fb = BNXUtils::GetBNXBuffer(path);
  ASSERT_TRUE(fb.ok());
  ASSERT_EQ(fb.size(), file.size());
  EXPECT_EQ(std::memcmp(fb.data(), file.data(), file.size()), 0);

  const std::pair<const char*, const char*> expected[] = {
      {"platform", "plat"},
      {"target", "500"},
      {"crc", "0x1A2B3C4D"},
      {"tv_number", "0x12AB"},
      {"encryption_mode", "TV_Number"},
      {"compiler_version", "compiler 1.0"},
      {"toolchain_version", "toolchain 2.0"},
      {"schema_version", "v1.2.3"},
      {"schema_version_major", "1"},
      {"uuid", "0xDEADBEEF"},
      {"solution_id", "1234"},
      {"solution_tag", "5a6f7e"},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(BNXUtils::ReadBNX(path, key), value) << key;
  for (const char* unknown : {"", "Target", "magic", "crc ", "header"}) {
    EXPECT_EQ(BNXUtils::ReadBNX(path, unknown), "") << unknown;
  }
  EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 3u);
  EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "BNX_0x1A2B3C4D");
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(path), 0);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(file.data(), file.size()), 0);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(file.data(), file.size() - 4), 0);  // without trailer

  TalvexBNX::BNXContentT obj;
  ASSERT_TRUE(BNXUtils::GetBNXObj(path, obj));
  EXPECT_EQ(obj.magic, 0x012EBD34u);
  ASSERT_NE(obj.header, nullptr);
  EXPECT_EQ(obj.header->platform, "plat");
  EXPECT_EQ(obj.header->target, TalvexBNX::NPUTarget::TZ500);
  EXPECT_EQ(obj.header->crc, 0x1A2B3C4Du);
  EXPECT_EQ(obj.header->uuid, 0xDEADBEEFu);
  EXPECT_EQ(obj.header->encryption_mode, TalvexBNX::ENCMode::EM_TVNum);
  ASSERT_NE(obj.header->schema_version, nullptr);
  EXPECT_EQ(obj.header->schema_version->revision_num, 3u);
  ASSERT_EQ(obj.model_info.size(), 3u);
  EXPECT_EQ(obj.model_info[0]->name, "det");
  EXPECT_EQ(obj.model_info[0]->id, 32768);
  EXPECT_EQ(obj.model_info[2]->id, -7);
  EXPECT_EQ(obj.model_info[2]->version, "2");
  ASSERT_NE(obj.model_bin, nullptr);
  EXPECT_EQ(obj.model_bin->fw_info, Bytes(16, 0x11));
  EXPECT_EQ(obj.model_bin->all_models, Bytes(200, 0x22));
}

TEST_F(BnxFileTest, AbsentFieldsReadAsTheirDefaults) {
  // Written without force-defaults: only the platform text is stored.
  flatbuffers::FlatBufferBuilder b;
  auto header = TalvexBNX::CreateBNXHeader(b, b.CreateString("p"));
  b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, header));
  const Bytes buf(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf.data());
  ASSERT_FALSE(reinterpret_cast<const flatbuffers::Table*>(root)->CheckField(TalvexBNX::BNXContent::VT_MAGIC));
  const std::string path = Write("sparse.bnx", buf);

  EXPECT_EQ(BNXUtils::ReadBNX(path, "platform"), "p");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "target"), "100");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "crc"), "0x0");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "tv_number"), "0x0");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "uuid"), "0x0");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "encryption_mode"), "NONE");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "compiler_version"), "");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "schema_version"), "");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "schema_version_major"), "");
  EXPECT_EQ(BNXUtils::ReadBNX(path, "solution_tag"), "");
  EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 0u);

  TalvexBNX::BNXContentT obj;
  obj.magic = 1;
  ASSERT_TRUE(BNXUtils::GetBNXObj(path, obj));
  EXPECT_EQ(obj.magic, 0x012EBD34u);
  EXPECT_EQ(obj.model_bin, nullptr);
  // A verified container without a payload cannot pass the alignment check.
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(buf.data(), buf.size()), -1);
}

TEST_F(BnxFileTest, ContainerWithoutHeaderGivesEmptyTexts) {
  SampleBnx s;
  s.with_header = false;
  const std::string path = Write("nohdr.bnx", BuildBnx(s));
  for (const char* key : kAllKeys) EXPECT_EQ(BNXUtils::ReadBNX(path, key), "") << key;
  EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "BNX_");
  EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 1u);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(path), 0);
}

TEST_F(BnxFileTest, StoredTargetOutsideTheTableStopsTheRead) {
  SampleBnx s;
  s.target = 6;
  const std::string path = Write("t6.bnx", BuildBnx(s));
  const std::string what = ExceptionText([&] { BNXUtils::ReadBNX(path, "target"); });
  EXPECT_NE(what.find("Undefine target"), std::string::npos) << what;
  EXPECT_EQ(BNXUtils::ReadBNX(path, "crc"), "0x1A2B3C4D");  // other keys are unaffected
  s.target = -1;
  const std::string neg = Write("tneg.bnx", BuildBnx(s));
  EXPECT_FALSE(ExceptionText([&] { BNXUtils::ReadBNX(neg, "target"); }).empty());
}

TEST_F(BnxFileTest, MissingEmptyAndTinyFilesAreRefusedQuietly) {
  std::vector<std::string> paths = {tmp_ / "missing.bnx", Write("empty.bnx", {}), tmp_.path()};
  for (size_t n = 1; n <= 4; ++n) paths.push_back(Write("tiny" + std::to_string(n), Bytes(n, 0)));
  paths.push_back(Write("four", Bytes{8, 0, 0, 0}));
  for (const auto& path : paths) {
    EXPECT_FALSE(BNXUtils::GetBNXBuffer(path).ok()) << path;
    EXPECT_FALSE(BNXUtils::GetTXMBuffer(path).ok()) << path;
    TalvexBNX::BNXContentT obj;
    obj.magic = 7;
    EXPECT_FALSE(BNXUtils::GetBNXObj(path, obj)) << path;
    EXPECT_EQ(obj.magic, 7u);
    EXPECT_EQ(BNXUtils::ReadBNX(path, "crc"), "") << path;
    EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 0u) << path;
    EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "BNX_") << path;
    EXPECT_EQ(BNXUtils::CheckBNXAlignment(path), -1) << path;
  }
}

TEST_F(BnxFileTest, EveryTruncatedFileIsRefusedByEveryLoader) {
  const Bytes full = BuildBnx(SampleBnx());
  const size_t data_end = AllModelsRange(full).second;
  const std::string path = tmp_ / "cut.bnx";
  for (size_t n = 0; n < full.size(); ++n) {
    testsupport::WriteBytes(path, Bytes(full.begin(), full.begin() + static_cast<long>(n)));
    TalvexBNX::BNXContentT obj;
    const bool loaded = BNXUtils::GetBNXBuffer(path).ok();
    const bool unpacked = BNXUtils::GetBNXObj(path, obj);
    const std::string crc = BNXUtils::ReadBNX(path, "crc");
    if (n < data_end) {
      EXPECT_FALSE(loaded) << n;
      EXPECT_FALSE(unpacked) << n;
      EXPECT_EQ(crc, "") << n;
      EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 0u) << n;
      EXPECT_EQ(BNXUtils::CheckBNXAlignment(path), -1) << n;
    } else {
      EXPECT_TRUE(loaded) << n;
      EXPECT_TRUE(unpacked) << n;
      EXPECT_EQ(crc, "0x1A2B3C4D") << n;
    }
  }
}

TEST_F(BnxFileTest, GetBNXObjLeavesTheObjectAloneOnFailure) {
  TalvexBNX::BNXContentT obj;
  obj.magic = 99;
  obj.header = std::make_unique<TalvexBNX::BNXHeaderT>();
  obj.header->crc = 5;
  Bytes junk(256);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 13 + 5);
  EXPECT_FALSE(BNXUtils::GetBNXObj(Write("junk", junk), obj));
  EXPECT_EQ(obj.magic, 99u);
  ASSERT_NE(obj.header, nullptr);
  EXPECT_EQ(obj.header->crc, 5u);
  EXPECT_TRUE(obj.model_info.empty());
}

TEST_F(BnxFileTest, TxmLoaderVerifiesATxmRoot) {
  const Bytes txm = BuildTxm();
  const std::string path = Write("m.txm", txm);
  talvex::FileBuffer fb = BNXUtils::GetTXMBuffer(path);
  ASSERT_TRUE(fb.ok());
  ASSERT_EQ(fb.size(), txm.size());
  EXPECT_EQ(std::memcmp(fb.data(), txm.data(), txm.size()), 0);

  // Cutting the file in half always breaks a reference.
  const std::string half = Write("half.txm", Bytes(txm.begin(), txm.begin() + static_cast<long>(txm.size() / 2)));
  EXPECT_FALSE(BNXUtils::GetTXMBuffer(half).ok());
  Bytes bad_root = txm;
  const uint32_t beyond = static_cast<uint32_t>(txm.size());
  std::memcpy(bad_root.data(), &beyond, 4);
  EXPECT_FALSE(BNXUtils::GetTXMBuffer(Write("badroot.txm", bad_root)).ok());
}

TEST_F(BnxFileTest, MisalignedPayloadFailsTheAlignmentCheck) {
  // Written without the forced alignment; the platform text shifts the payload until
  // it no longer starts on a 32-byte boundary.
  Bytes buf;
  size_t offset = 0;
  for (size_t extra = 0; extra < 64; ++extra) {
    flatbuffers::FlatBufferBuilder b;
    auto all = b.CreateVector(Bytes(40, 0x33));
    auto bin = TalvexBNX::CreateModelBin(b, 0, all);
    auto header = TalvexBNX::CreateBNXHeader(b, b.CreateString(std::string(extra, 'p')));
    b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, header, 0, bin));
    buf.assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
    offset = AllModelsRange(buf).first;
    if (offset % 32 != 0) break;
  }
  ASSERT_NE(offset % 32, 0u);
  ASSERT_TRUE(BNXUtils::VerifyBNXBuffer(buf.data(), buf.size()));
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(buf.data(), buf.size()), -1);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(Write("mis.bnx", buf)), -1);
  // It is still a container the loaders accept.
  EXPECT_TRUE(BNXUtils::GetBNXBuffer(tmp_ / "mis.bnx").ok());
}

TEST_F(BnxFileTest, PayloadTableWithoutAllModelsFailsTheAlignmentCheck) {
  flatbuffers::FlatBufferBuilder b;
  auto fw = b.CreateVector(Bytes(12, 1));
  auto bin = TalvexBNX::CreateModelBin(b, fw, 0);
  b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, 0, 0, bin));
  const Bytes buf(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  ASSERT_TRUE(BNXUtils::VerifyBNXBuffer(buf.data(), buf.size()));
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(buf.data(), buf.size()), -1);

  SampleBnx empty_payload;
  empty_payload.all_models.clear();
  const Bytes ok = BuildBnx(empty_payload);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(ok.data(), ok.size()), 0);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(Bytes(64, 0).data(), 64), -1);
}

// Files of 2 GiB or more (sparse, no disk cost) are refused before anything is mapped or
// verified, including sizes whose low 32 bits look like a small valid file.
TEST_F(BnxFileTest, HugeFilesAreRefusedCleanly) {
  const Bytes good = BuildBnx(SampleBnx());
  const off_t sizes[] = {(off_t{1} << 31) - 1, off_t{1} << 31,
                         (off_t{1} << 32) + static_cast<off_t>(good.size())};
  for (const off_t size : sizes) {
    const std::string path = tmp_ / "huge.bnx";
    if (!MakeSparse(path, good, size)) GTEST_SKIP() << "no sparse files here";
    EXPECT_EQ(BNXUtils::GetFileSizeFromPath(path), static_cast<uint64_t>(size));
    EXPECT_FALSE(BNXUtils::GetBNXBuffer(path).ok()) << size;
    EXPECT_FALSE(BNXUtils::GetTXMBuffer(path).ok()) << size;
    TalvexBNX::BNXContentT obj;
    EXPECT_FALSE(BNXUtils::GetBNXObj(path, obj)) << size;
    EXPECT_EQ(obj.header, nullptr);
    EXPECT_EQ(BNXUtils::ReadBNX(path, "crc"), "") << size;
    EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 0u) << size;
    EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "BNX_") << size;
    EXPECT_EQ(BNXUtils::CheckBNXAlignment(path), -1) << size;
    unlink(path.c_str());
  }
}

// ---------------------------------------------------------------- file names

TEST_F(BnxFileTest, OutputFilePathUsesTheOutputFolder) {
  BNXUtils::SetOutputDir(tmp_.path());
  const std::string dir = tmp_.path() + "/";
  EXPECT_EQ(BNXUtils::GetOutputFilePath("100", ""), dir + "models_100.bnx");
  EXPECT_EQ(BNXUtils::GetOutputFilePath("400", "x.bnx"), dir + "x.bnx.bnx");
  EXPECT_EQ(BNXUtils::GetOutputFilePath("400", "name"), dir + "name.bnx");
}

TEST_F(BnxFileTest, ExistenceSizeAndRealPath) {
  const std::string f = Write("f.bin", Bytes(77, 1));
  ASSERT_EQ(mkdir((tmp_ / "d").c_str(), 0755), 0);
  EXPECT_TRUE(BNXUtils::CheckFileExist(f));
  EXPECT_TRUE(BNXUtils::CheckFileExist(tmp_ / "d"));
  EXPECT_FALSE(BNXUtils::CheckFileExist(tmp_ / "nope"));
  EXPECT_FALSE(BNXUtils::CheckFileExist(""));
  EXPECT_EQ(BNXUtils::GetFileSizeFromPath(f), 77u);
  EXPECT_EQ(BNXUtils::GetFileSizeFromPath(tmp_ / "nope"), 0u);

  const std::string canonical = BNXUtils::GetRealpath(f);
  EXPECT_EQ(canonical.front(), '/');
  EXPECT_EQ(canonical.find("//"), std::string::npos);
  EXPECT_EQ(canonical.substr(canonical.size() - 6), "/f.bin");
  EXPECT_EQ(BNXUtils::GetRealpath(tmp_.path() + "//d/..//./f.bin"), canonical);
  EXPECT_EQ(BNXUtils::GetRealpath(tmp_ / "not/yet.bnx"), tmp_ / "not/yet.bnx");
}

}  // namespace
