#include "bnx/container.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bnx/crc32.h"
#include "bnx/bnx_file.h"
#include "bnx/extract.h"
#include "bnx/model_info.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/output_dir.h"
#include "support/bnx_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::BuildBnx;
using testsupport::SampleBnx;

// Offset of the first all_models byte in a verified buffer.
size_t AllModelsStart(const Bytes& buf) {
  const auto* v = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf.data())->model_bin()->all_models();
  return static_cast<size_t>(v->data() - buf.data());
}

class BnxFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    testsupport::WriteBytes(tmp_ / name, bytes);
    return tmp_ / name;
  }
  testsupport::TempDir tmp_;
};

// The CRC agrees with zlib for every short length, misalignment and seed, and for a large buffer
// whole or continued across odd split points.
TEST(Crc32Test, AgreesWithZlib) {
  std::mt19937 rng(7);
  Bytes data((8u << 20) + 13);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t off = 0; off < 16; ++off) {
    for (size_t n = 0; n + off <= 1200; n += (n < 300 ? 1 : 37)) {
      const uint8_t* p = data.data() + off;
      ASSERT_EQ(BNXUtils::Crc32Update(0, p, n), static_cast<uint32_t>(crc32_z(0, p, n))) << off << " " << n;
      ASSERT_EQ(BNXUtils::Crc32Update(0xDEADBEEF, p, n), static_cast<uint32_t>(crc32_z(0xDEADBEEF, p, n)));
    }
  }
  EXPECT_EQ(BNXUtils::crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
  const uint32_t want = static_cast<uint32_t>(crc32_z(0, data.data(), data.size()));
  EXPECT_EQ(BNXUtils::crc32(data.data(), data.size()), want);
  for (size_t cut : {size_t{1}, size_t{63}, size_t{4096}, size_t{(1u << 20) + 7}, data.size() - 1}) {
    EXPECT_EQ(BNXUtils::Crc32Update(BNXUtils::Crc32Update(0, data.data(), cut), data.data() + cut, data.size() - cut),
              want) << cut;
  }
  EXPECT_EQ(BNXUtils::Crc32Update(want, nullptr, 0), want);
}

// A range of a file read through the 256 KiB buffer agrees with zlib over the same bytes, for
// lengths and offsets on both sides of the buffer's boundaries; a range past the end fails.
TEST_F(BnxFileTest, FileRangeCrcAcrossChunkBoundaries) {
  constexpr size_t kChunk = size_t{256} << 10;
  std::mt19937 rng(5);
  Bytes data(3 * kChunk + 77);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const std::string path = Write("range", data);
  const talvex::UniqueFd fd(open(path.c_str(), O_RDONLY));
  ASSERT_TRUE(fd.valid());
  for (size_t off : {size_t{0}, size_t{1}, kChunk - 1, kChunk}) {
    for (size_t len : {size_t{0}, size_t{1}, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk + 3, data.size() - off}) {
      if (off + len > data.size()) continue;
      uint32_t crc = 0x1234;
      ASSERT_TRUE(BNXUtils::Crc32FileRange(fd.get(), off, len, &crc)) << off << " " << len;
      EXPECT_EQ(crc, static_cast<uint32_t>(crc32_z(0x1234, data.data() + off, len))) << off << " " << len;
    }
  }
  uint32_t crc = 7;
  EXPECT_FALSE(BNXUtils::Crc32FileRange(fd.get(), data.size() - 10, 11, &crc));
  EXPECT_EQ(crc, 7u);
  EXPECT_FALSE(BNXUtils::Crc32FileRange(-1, 0, 1, &crc));
}

TEST_F(BnxFileTest, FileCrcAndTrailer) {
  const std::string abc = Write("abc", {'a', 'b', 'c'});
  EXPECT_EQ(BNXUtils::GetFileCRC(abc), 0x352441C2u);
  uint32_t crc = 1;
  EXPECT_FALSE(BNXUtils::ComputeFileCRC(tmp_.path(), &crc).ok());  // a folder: failure, not a CRC of 0
  ASSERT_EQ(BNXUtils::TailPaddingCRCInfo(abc), 0);
  EXPECT_EQ(testsupport::ReadBytes(abc), (Bytes{'a', 'b', 'c', 0xC2, 0x41, 0x24, 0x35}));
  EXPECT_EQ(BNXUtils::TailPaddingCRCInfo(tmp_ / "missing"), -1);
  EXPECT_FALSE(testsupport::Exists(tmp_ / "missing"));
}

TEST(EnumTextTest, TargetsAndModes) {
  const char* texts[] = {"100", "200", "300", "400", "500", "600"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(BNXUtils::GetTargetStr(static_cast<TalvexBNX::NPUTarget>(i)), texts[i]);
    EXPECT_EQ(static_cast<int>(BNXUtils::GetTargetEnum(texts[i])), i);
  }
  for (const char* bad : {"700", "", " 400", "TZ400"}) EXPECT_THROW(BNXUtils::GetTargetEnum(bad), TalvexException) << bad;
  EXPECT_THROW(BNXUtils::GetTargetStr(static_cast<TalvexBNX::NPUTarget>(6)), TalvexException);
  EXPECT_EQ(BNXUtils::GetEncModeStr(static_cast<TalvexBNX::ENCMode>(7)), "NONE");
}

TEST_F(BnxFileTest, LoadersOnAGoodContainer) {
  SampleBnx s;
  s.platform = "plat";
  s.target = 4;
  s.crc = 0x1A2B3C4D;
  s.uuid = 0xDEADBEEF;
  s.tv_number = 0x12AB;
  s.encryption_mode = 2;
  s.major = 1, s.minor = 2, s.revision = 3;
  s.models = {{"det", 32768, "1.0"}, {"", 5, ""}, {"cls", -7, "2"}};
  const std::string path = Write("good.bnx", BuildBnx(s));
  const std::pair<const char*, const char*> expected[] = {
      {"platform", "plat"}, {"target", "500"}, {"crc", "0x1A2B3C4D"}, {"tv_number", "0x12AB"},
      {"encryption_mode", "TV_Number"}, {"compiler_version", "compiler 1.0"}, {"toolchain_version", "toolchain 2.0"},
      {"schema_version", "v1.2.3"}, {"schema_version_major", "1"}, {"uuid", "0xDEADBEEF"},
      {"solution_id", "1234"}, {"solution_tag", "5a6f7e"}, {"Target", ""}, {"", ""},
  };
  for (const auto& [key, value] : expected) EXPECT_EQ(BNXUtils::ReadBNX(path, key), value) << key;
  EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 3u);
  EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "BNX_0x1A2B3C4D");
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(path).code(), 0);
  s.with_header = false;
  const std::string no_header = Write("nohdr.bnx", BuildBnx(s));
  EXPECT_EQ(BNXUtils::ReadBNX(no_header, "crc") + BNXUtils::ReadBNX(no_header, "target"), "");
}

// One model description shared many times (small on disk, huge unpacked) is refused whole.
TEST_F(BnxFileTest, SharedModelDescriptionCannotBlowUpMemory) {
  for (const size_t refs : {300, 4}) {  // ~1 MiB on disk: 300 MiB or 4 MiB unpacked
    flatbuffers::FlatBufferBuilder b;
    auto info = TalvexBNX::CreateModelInfo(b, b.CreateString(std::string(1 << 20, 'n')), 1);
    b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, TalvexBNX::CreateBNXHeader(b, b.CreateString("p")),
                                         b.CreateVector(std::vector(refs, info))));
    const std::string path = Write("shared.bnx", Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize()));
    TalvexBNX::BNXContentT obj;
    obj.magic = 7;
    EXPECT_EQ(BNXUtils::GetBNXObj(path, obj), refs == 4) << refs;
    EXPECT_EQ(obj.model_info.size(), refs == 4 ? 4u : 0u);
    EXPECT_EQ(obj.magic, refs == 4 ? 0x012EBD34u : 7u);
  }
}

TEST_F(BnxFileTest, AbsentFieldsReadAsTheirDefaults) {
  flatbuffers::FlatBufferBuilder b;  // no force-defaults: only the platform text is stored
  b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, TalvexBNX::CreateBNXHeader(b, b.CreateString("p"))));
  const Bytes buf(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  const std::string path = Write("sparse.bnx", buf);
  EXPECT_EQ(BNXUtils::ReadBNX(path, "target") + " " + BNXUtils::ReadBNX(path, "crc"), "100 0x0");
  TalvexBNX::BNXContentT obj;
  obj.magic = 1;
  ASSERT_TRUE(BNXUtils::GetBNXObj(path, obj));
  EXPECT_EQ(obj.magic, 0x012EBD34u);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(buf.data(), buf.size()).code(), -1);  // no payload table
  flatbuffers::FlatBufferBuilder c;
  c.Finish(TalvexBNX::CreateBNXContent(c, 0x012EBD34, 0, 0, TalvexBNX::CreateModelBin(c, c.CreateVector(Bytes(9, 1)))));
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(c.GetBufferPointer(), c.GetSize()).code(), -1);  // no all_models
}

TEST_F(BnxFileTest, MissingTinyHugeBadRootAndEveryTruncatedFileIsRefused) {
  SampleBnx sample;
  sample.all_models = Bytes(100, 0xAB);
  const Bytes full = BuildBnx(sample);
  Bytes bad_root = full;
  const uint32_t beyond = static_cast<uint32_t>(full.size());
  std::memcpy(bad_root.data(), &beyond, 4);
  std::vector<std::string> paths = {tmp_ / "missing.bnx", tmp_.path(), Write("root", bad_root)};
  // 2 GiB or more (sparse), also when the low 32 bits of the size look like a small valid file.
  for (const off_t size : {off_t{1} << 31, (off_t{1} << 32) + static_cast<off_t>(full.size())}) {
    paths.push_back(Write("huge" + std::to_string(size), full));
    ASSERT_EQ(truncate(paths.back().c_str(), size), 0);
  }
  const size_t data_end = AllModelsStart(full) + 100;
  for (size_t n = 0; n < data_end; ++n) paths.push_back(Write("cut" + std::to_string(n), Bytes(full.begin(), full.begin() + n)));
  for (const auto& path : paths) {
    EXPECT_FALSE(BNXUtils::GetBNXBuffer(path).ok()) << path;
    EXPECT_FALSE(BNXUtils::GetTXMBuffer(path).ok()) << path;
    TalvexBNX::BNXContentT obj;
    obj.magic = 7;
    EXPECT_FALSE(BNXUtils::GetBNXObj(path, obj)) << path;
    EXPECT_EQ(obj.magic, 7u);  // left alone
    EXPECT_EQ(BNXUtils::ReadBNX(path, "crc"), "") << path;
    EXPECT_EQ(BNXUtils::GetBNXModelSize(path), 0u) << path;
    EXPECT_EQ(BNXUtils::GenDefaultOutputPrefix(path), "") << path;  // no files of its own
    EXPECT_EQ(BNXUtils::CheckBNXAlignment(path).code(), -1) << path;
  }
  // Cutting only padding or the trailer leaves a readable container.
  for (size_t n = data_end; n < full.size(); ++n) {
    EXPECT_EQ(BNXUtils::ReadBNX(Write("cut", Bytes(full.begin(), full.begin() + n)), "crc"),
              BNXUtils::ReadBNX(Write("whole", full), "crc")) << n;
  }
  const Bytes txm = testsupport::BuildSampleTxm();
  EXPECT_EQ(BNXUtils::GetTXMBuffer(Write("m.txm", txm)).size(), txm.size());
  EXPECT_FALSE(BNXUtils::GetTXMBuffer(Write("half.txm", Bytes(txm.begin(), txm.begin() + txm.size() / 2))).ok());
}

TEST_F(BnxFileTest, MisalignedPayloadFailsTheAlignmentCheck) {
  // Written without the forced alignment; a longer platform text shifts the payload off 32.
  Bytes buf;
  for (size_t extra = 0; buf.empty() || AllModelsStart(buf) % 32 == 0; ++extra) {
    ASSERT_LT(extra, 64u);
    flatbuffers::FlatBufferBuilder b;
    auto bin = TalvexBNX::CreateModelBin(b, 0, b.CreateVector(Bytes(40, 0x33)));
    auto header = TalvexBNX::CreateBNXHeader(b, b.CreateString(std::string(extra, 'p')));
    b.Finish(TalvexBNX::CreateBNXContent(b, 0x012EBD34, header, 0, bin));
    buf.assign(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
  }
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(Write("mis.bnx", buf)).code(), -1);
  EXPECT_TRUE(BNXUtils::GetBNXBuffer(tmp_ / "mis.bnx").ok());  // still a container
}

TEST_F(BnxFileTest, OpenedOnceItSaysWhatItHoldsOrWhyNot) {
  SampleBnx s;
  s.target = 2;
  s.major = 1;
  s.crc = 0x1A2B3C4D;
  s.models = {{"a", 1, "1"}, {"b", 2, "2"}};
  BNXUtils::BnxFile good = BNXUtils::BnxFile::Open(Write("good.bnx", BuildBnx(s)));
  BNXUtils::BnxFile moved = std::move(good);  // views stay valid when the object moves
  ASSERT_TRUE(moved.ok() && moved.exists() && moved.open_status().ok());
  EXPECT_EQ(moved.target(), "300");
  EXPECT_EQ(moved.major(), 1u);
  EXPECT_EQ(moved.default_prefix(), "BNX_0x1A2B3C4D");
  EXPECT_EQ(moved.model_count(), 2u);
  EXPECT_EQ(moved.Key("crc"), "0x1A2B3C4D");

  struct Case {
    std::string path;
    bool exists;
    std::string message;  // part of the one message, or empty for none
  };
  const Case cases[] = {
      {tmp_ / "missing.bnx", false, ""},
      {Write("empty.bnx", {}), true, ""},
      {Write("junk.bnx", Bytes(64, 0xEE)), true, "Not a valid BNX file."},
      {tmp_.path(), true, "Failed to read the file: " + tmp_.path() + " (file cannot be read)"},
  };
  for (const Case& c : cases) {
    BNXUtils::BnxFile f = BNXUtils::BnxFile::Open(c.path);
    EXPECT_FALSE(f.ok()) << c.path;
    EXPECT_EQ(f.exists(), c.exists) << c.path;
    EXPECT_TRUE(f.header() == nullptr && f.data() == nullptr && f.default_prefix().empty()) << c.path;
    const talvex::Status first = f.TakeOpenStatus();
    EXPECT_EQ(first.code(), -1) << c.path;
    // An invalid file is also named on a line of its own.
    const size_t lines = c.message.empty() ? 0u : c.message == "Not a valid BNX file." ? 2u : 1u;
    ASSERT_EQ(first.messages().size(), lines) << c.path;
    if (!c.message.empty()) EXPECT_NE(first.messages()[0].text.find(c.message), std::string::npos) << c.path;
    const talvex::Status again = f.TakeOpenStatus();  // reported once: the failure stays, the words do not
    EXPECT_TRUE(again.code() == -1 && again.messages().empty()) << c.path;
  }
}

TEST_F(BnxFileTest, ExtractionOfAnOpenedFileAddsOnlyItsOwnLineOnceTheOpeningWasReported) {
  BNXUtils::SetOutputDir(tmp_ / "out");
  BNXUtils::BnxFile f = BNXUtils::BnxFile::Open(Write("junk.bnx", Bytes(64, 0xEE)));
  const talvex::Status whole = BNXUtils::ExtractBNX(tmp_ / "junk.bnx", "", nullptr);
  ASSERT_EQ(whole.messages().size(), 3u);  // opened here: why, which file, then what could not be done
  EXPECT_NE(whole.messages()[0].text.find("Not a valid BNX file."), std::string::npos);
  EXPECT_EQ(whole.messages()[1].text, "Refused: " + tmp_ / "junk.bnx");
  (void)f.TakeOpenStatus();
  const talvex::Status rest = BNXUtils::ExtractBNX(f, "", nullptr);
  ASSERT_EQ(rest.messages().size(), 1u);
  EXPECT_NE(rest.messages()[0].text.find("Cannot extract " + tmp_ / "junk.bnx" + ": not a valid BNX file"),
            std::string::npos);
  EXPECT_EQ(testsupport::DirEntries(tmp_ / "out"), std::vector<std::string>{});
  // The model-info edit of a file that did not open says which one it could not read.
  const talvex::Status edit = BNXUtils::ModifyModelInfo(f, {"1"}, {}, "");
  ASSERT_EQ(edit.messages().size(), 1u);
  EXPECT_NE(edit.messages()[0].text.find("Failed to read BNX file: " + tmp_ / "junk.bnx"), std::string::npos);
}

TEST_F(BnxFileTest, HeaderlessOrEmptyEditsAreRefusedAndNothingIsWritten) {
  BNXUtils::SetOutputDir(tmp_ / "out");
  SampleBnx s;
  s.uuid = 0xFEEDBEEF;
  const std::string a = Write("a.bnx", BuildBnx(s));
  s.with_header = false;  // no target to name the output by
  const std::string b = Write("b.bnx", BuildBnx(s));
  const BNXUtils::BnxFile fa = BNXUtils::BnxFile::Open(a), fb = BNXUtils::BnxFile::Open(b);
  const talvex::Status no_header = BNXUtils::ModifyModelInfo(fb, {"1"}, {}, "");
  EXPECT_EQ(no_header.code(), -1);
  ASSERT_EQ(no_header.messages().size(), 1u);
  EXPECT_NE(no_header.messages()[0].text.find("BNX file has no header: " + b), std::string::npos);
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(fb, "1", "", "").code(), -1);
  EXPECT_EQ(BNXUtils::ModifySolutionInfo(fa, "", "", "").code(), -1);  // nothing to change
  EXPECT_EQ(testsupport::DirEntries(tmp_ / "out"), std::vector<std::string>{});
  EXPECT_EQ(BNXUtils::GetUuidInBnx(a), 0xFEEDBEEFu);
  EXPECT_EQ(BNXUtils::GetUuidInBnx(b), 0u);
}

}  // namespace
