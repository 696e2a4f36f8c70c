// TxmReader::Parse: result codes, messages and hostile inputs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

using testsupport::BuildSampleTxm;
using testsupport::TempDir;

namespace {

int ParseBytes(const std::vector<uint8_t>& bytes, std::string* err = nullptr) {
  TalvexTXM::TXMContentT obj;
  testing::internal::CaptureStderr();
  int ret = TxmReader::Parse(obj, bytes.data(), bytes.size());
  std::string e = testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = e;
  return ret;
}

TEST(TxmReaderTest, ParsesSampleIntoObjectTree) {
  std::vector<uint8_t> bytes = BuildSampleTxm();
  TalvexTXM::TXMContentT obj;
  ASSERT_EQ(TxmReader::Parse(obj, bytes.data(), bytes.size()), 0);
  EXPECT_EQ(obj.magic, 0x314D5854u);
  ASSERT_TRUE(obj.header);
  EXPECT_EQ(obj.header->target, TalvexTXM::NPUTarget::TZ400);
  ASSERT_EQ(obj.models.size(), 2u);
  EXPECT_EQ(obj.models[0]->header->id, 1);
  EXPECT_EQ(obj.models[1]->header->id, 2);
  EXPECT_EQ(obj.models[0]->header->wt_ref_model_id, -1);
  ASSERT_EQ(obj.models[0]->cores.size(), 3u);
  const auto* loop = obj.models[0]->cores[2]->eu_params.AsLoopEUParams();
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->max_trip_count, 4u);
  ASSERT_EQ(obj.models[0]->cores[2]->exe_unit.size(), 2u);
  EXPECT_EQ(obj.models[0]->cores[2]->exe_unit[0]->header->id, 3);
  const auto* npu = obj.models[0]->cores[0]->eu_params.AsNPUEUParams();
  ASSERT_NE(npu, nullptr);
  EXPECT_EQ(npu->cmd, testsupport::PayloadBytes(256, 17));
}

TEST(TxmReaderTest, ParseReplacesWholeObject) {
  // Fields absent from the file must not keep values from an earlier parse.
  TalvexTXM::TXMContentT obj = testsupport::BuildSampleTxmObject();
  testsupport::SampleTxmOptions o;
  o.with_header = false;
  o.models.clear();
  std::vector<uint8_t> bytes = BuildSampleTxm(o);
  ASSERT_EQ(TxmReader::Parse(obj, bytes.data(), bytes.size()), 0);
  EXPECT_FALSE(obj.header);
  EXPECT_TRUE(obj.models.empty());
}

TEST(TxmReaderTest, InvalidBuffersGive102AndLeaveObjectAlone) {
  std::string err;
  EXPECT_EQ(ParseBytes({}, &err), 102);
  EXPECT_EQ(err, "Not a valid TXM file.\n");
  // Size must exceed 4, even for a plausible root offset.
  EXPECT_EQ(ParseBytes({4, 0, 0, 0}, &err), 102);
  EXPECT_EQ(err, "Not a valid TXM file.\n");

  TalvexTXM::TXMContentT obj = testsupport::BuildSampleTxmObject();
  std::vector<uint8_t> junk(64, 0xFF);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, junk.data(), junk.size()), 102);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(obj.models.size(), 2u);
}

TEST(TxmReaderTest, EveryTruncatedPrefixIsRejected) {
  std::vector<uint8_t> bytes = BuildSampleTxm();
  ASSERT_GT(bytes.size(), 1000u);
  for (size_t len = 0; len < bytes.size(); len += (len < 300 ? 1 : 37)) {
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(len));
    ASSERT_EQ(ParseBytes(prefix), 102) << "prefix length " << len;
  }
  std::vector<uint8_t> almost(bytes.begin(), bytes.end() - 1);
  EXPECT_EQ(ParseBytes(almost), 102);
}

TEST(TxmReaderTest, RandomBytesAreRejected) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> bytes(rng() % 2048);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(ParseBytes(bytes), 102) << "case " << i;
  }
}

TEST(TxmReaderTest, CorruptedSamplesNeverCrash) {
  // Random byte changes either fail verification or give a tree that packs again.
  const std::vector<uint8_t> good = BuildSampleTxm();
  std::mt19937 rng(99);
  int rejected = 0;
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 4; ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    TalvexTXM::TXMContentT obj;
    testing::internal::CaptureStderr();
    int ret = TxmReader::Parse(obj, bytes.data(), bytes.size());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ret == 0 || ret == 102);
    if (ret == 102) {
      ++rejected;
      continue;
    }
    TxmWriter writer;
    writer.Finish(obj);
    EXPECT_GT(writer.GetSize(), 0u);
  }
  EXPECT_GT(rejected, 0);
}

TEST(TxmReaderTest, UnionTagWithoutValueReadsAsNoUnion) {
  // Such files verify; packing their tree again must not touch the missing value.
  namespace T = TalvexTXM;
  flatbuffers::FlatBufferBuilder fbb;
  auto op = T::CreateOperator(fbb, fbb.CreateString("conv"), T::BuiltinOperator::Conv,
                              T::BuiltinOptions::ConvOptions, 0);
  auto cpu = T::CreateCPUEUParams(fbb, fbb.CreateVector(&op, 1));
  auto cpu_core = T::CreateCore(fbb, 0, 0, T::EUParams::CPUEUParams, cpu.Union());
  auto npu_core = T::CreateCore(fbb, 0, 0, T::EUParams::NPUEUParams, 0);
  auto loop_core = T::CreateCore(fbb, 0, fbb.CreateVector(&npu_core, 1), T::EUParams::LoopEUParams, 0);
  std::vector<flatbuffers::Offset<T::Core>> cores = {npu_core, cpu_core, loop_core};
  auto model = T::CreateModel(fbb, 0, fbb.CreateVector(cores), 0);
  fbb.Finish(T::CreateTXMContent(fbb, 0, 0, fbb.CreateVector(&model, 1)));

  T::TXMContentT obj;
  ASSERT_EQ(TxmReader::Parse(obj, fbb.GetBufferPointer(), fbb.GetSize()), 0);
  const auto& parsed = obj.models[0]->cores;
  EXPECT_EQ(parsed[0]->eu_params.type, T::EUParams::NONE);
  ASSERT_EQ(parsed[1]->eu_params.type, T::EUParams::CPUEUParams);
  EXPECT_EQ(parsed[1]->eu_params.AsCPUEUParams()->operators[0]->builtin_options.type,
            T::BuiltinOptions::NONE);
  EXPECT_EQ(parsed[2]->eu_params.type, T::EUParams::NONE);
  EXPECT_EQ(parsed[2]->exe_unit[0]->eu_params.type, T::EUParams::NONE);
  TxmWriter writer;
  writer.Finish(obj);
  EXPECT_GT(writer.GetSize(), 0u);
}

TEST(TxmReaderTest, PathFormCodes) {
  TempDir dir;
  TalvexTXM::TXMContentT obj;

  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, dir / "missing.txm"), 100);
  testsupport::WriteBytes(dir / "empty.txm", {});
  EXPECT_EQ(TxmReader::Parse(obj, dir / "empty.txm"), 100);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  // A folder has a size but cannot be read as a file.
  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, dir.path()), 101);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to read the file: " + dir.path() + "\n");

  testsupport::WriteBytes(dir / "four.txm", {8, 0, 0, 0});
  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, dir / "four.txm"), 102);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a valid TXM file.\n");

  std::vector<uint8_t> bytes = BuildSampleTxm();
  testsupport::WriteBytes(dir / "ok.txm", bytes);
  EXPECT_EQ(TxmReader::Parse(obj, dir / "ok.txm"), 0);
  EXPECT_EQ(obj.models.size(), 2u);
  bytes.resize(bytes.size() / 2);
  testsupport::WriteBytes(dir / "half.txm", bytes);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, dir / "half.txm"), 102);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a valid TXM file.\n");
}

TEST(TxmReaderTest, FileOf2GiBIsNotValid) {
  // Sparse: nothing is read, the size alone rules it out.
  TempDir dir;
  const std::string path = dir / "huge.txm";
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{1} << 31), 0);
  close(fd);
  TalvexTXM::TXMContentT obj;
  testing::internal::CaptureStderr();
  EXPECT_EQ(TxmReader::Parse(obj, path), 102);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a valid TXM file.\n");
}

}  // namespace
