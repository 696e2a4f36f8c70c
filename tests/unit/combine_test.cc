// The new DRAM layout of combined legacy models (bnx/combine) and the fw_info of it.
#include "bnx/combine.h"

#include <gtest/gtest.h>

#include "support/bnx_builder.h"
#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_reader.h"
#include "txm/txm_transform.h"
#include "txm/txm_writer.h"

namespace {

using namespace testsupport;

// Every message text of a Status, one per line.
std::string Text(const talvex::Status& st) {
  std::string text;
  for (const talvex::Message& m : st.messages()) text += m.text + "\n";
  return text;
}

// The layout itself is checked end to end through -c (combine_mode_test); here the refusal that
// a container cannot reach without gigabytes of models.
TEST(Relayout, AddressesBeyond32BitsAreRefused) {
  FirmInfo f;
  f.model_id = 4, f.input_start = 0x60000000, f.input_size = 0x10, f.output_start = 0x61000000;
  f.output_size = 0x10, f.dram_start = 0x62000000, f.dram_size = 0x10, f.cmd_start = 0x63000000;
  f.cmd_size = 0xF0000000, f.weight_start = 0x64000000, f.weight_size = 4, f.fw_code_start = 0x65000000;
  f.fw_code_size = 4;
  talvex::Status st;
  EXPECT_TRUE(BNXUtils::RelayoutDDRBuffer({{f}}, &st).empty());
  EXPECT_NE(Text(st).find("32-bit address space"), std::string::npos) << Text(st);
}

TEST(CombineTxm, MergedBytesAreWhatCombineTxmAndTheWriterGive) {
  TempDir dir;
  auto container = [&](const std::string& name, std::vector<int32_t> ids, size_t weight) {
    SampleTxmOptions o;
    o.models.clear();
    for (int32_t id : ids) {
      o.models.push_back(SampleTxmOptions::SampleModel(id));
      o.models.back().weight_bytes = weight;
    }
    SampleBnx s;
    s.models.clear();
    s.all_models = BuildSampleTxm(o);
    WriteBytes(dir / name, BuildBnx(s));
    return s.all_models;
  };
  const std::vector<uint8_t> a = container("a.bnx", {1, 2}, 1024), b = container("b.bnx", {5}, 320);
  std::vector<BNXUtils::CombineSource> srcs(2);
  ASSERT_TRUE(BNXUtils::OpenCombineSource(dir / "a.bnx", srcs[0]).ok());
  ASSERT_TRUE(BNXUtils::OpenCombineSource(dir / "b.bnx", srcs[1]).ok());
  flatbuffers::FlatBufferBuilder fbb;
  std::vector<int32_t> ids;
  talvex::Status st = BNXUtils::CombineTxmSources(srcs, fbb, ids);
  ASSERT_TRUE(st.ok()) << Text(st);
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 5}));

  std::vector<TalvexTXM::TXMContentT> txms(2);
  ASSERT_TRUE(TxmReader::Parse(txms[0], a.data(), a.size()).ok());
  ASSERT_TRUE(TxmReader::Parse(txms[1], b.data(), b.size()).ok());
  TalvexTXM::TXMContentT merged;
  ASSERT_TRUE(TXM::CombineTxm(merged, txms, TXM::GetHeaderBufferInfo(txms[0])).ok());
  TxmWriter writer;
  writer.Finish(merged);
  EXPECT_EQ(std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize()),
            std::vector<uint8_t>(writer.GetBufferPointer(), writer.GetBufferPointer() + writer.GetSize()));

  // Within a container the models come in ascending id; of two equal ids the later one stays.
  container("c.bnx", {9, 3, 9}, 64);
  ASSERT_TRUE(BNXUtils::OpenCombineSource(dir / "c.bnx", srcs[0]).ok());
  srcs.resize(1);
  st = BNXUtils::CombineTxmSources(srcs, fbb, ids);
  ASSERT_TRUE(st.ok()) << Text(st);
  EXPECT_EQ(ids, (std::vector<int32_t>{3, 9}));
}

TEST(CombineTxm, HostileFilesAreRefusedOrReadSafely) {
  namespace T = TalvexTXM;
  TempDir dir;
  auto container = [&](const std::string& name, const std::vector<uint8_t>& txm) {
    SampleBnx s;
    s.models.clear();
    s.all_models = txm;
    WriteBytes(dir / name, BuildBnx(s));
    BNXUtils::CombineSource src;
    talvex::Status opened = BNXUtils::OpenCombineSource(dir / name, src);
    return std::make_pair(std::move(src), std::move(opened));
  };
  auto build = [](bool with_input, bool with_model_header) {
    flatbuffers::FlatBufferBuilder fbb;
    auto npu_core = T::CreateCore(fbb, 0, 0, T::EUParams::NPUEUParams);  // tag without value
    auto loop_core = T::CreateCore(fbb, 0, fbb.CreateVector(&npu_core, 1), T::EUParams::LoopEUParams);
    std::vector<flatbuffers::Offset<T::Core>> cores = {npu_core, loop_core};
    auto model = T::CreateModel(fbb, with_model_header ? T::CreateModelHeader(fbb, 3) : 0, fbb.CreateVector(cores));
    auto input = T::CreateBufferInfo(fbb, with_input ? T::Location::INPUT_BUFFER : T::Location::OUTPUT_BUFFER, 0x60000000, 16);
    auto header = T::CreateTXMHeader(fbb, T::NPUTarget::TZ400, 0, 0, fbb.CreateVector(&input, 1));
    fbb.Finish(T::CreateTXMContent(fbb, 0, header, fbb.CreateVector(&model, 1)));
    return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  };
  // ~1 MiB on disk that would unpack, model by model, into 300 MiB.
  auto shared_model = [] {
    flatbuffers::FlatBufferBuilder fbb;
    fbb.ForceVectorAlignment(1 << 20, 1, 64);
    auto data = fbb.CreateVector(std::vector<uint8_t>(1 << 20, 7));
    auto model = T::CreateModel(fbb, T::CreateModelHeader(fbb, 3), 0, data);
    auto input = T::CreateBufferInfo(fbb, T::Location::INPUT_BUFFER, 0x60000000, 16);
    auto header = T::CreateTXMHeader(fbb, T::NPUTarget::TZ400, 0, 0, fbb.CreateVector(&input, 1));
    fbb.Finish(T::CreateTXMContent(fbb, 0, header, fbb.CreateVector(std::vector(300, model))));
    return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  };
  const struct {
    const char* name;
    std::vector<uint8_t> txm;
    int result;
    const char* message;
  } cases[] = {
      {"union tags without value", build(true, true), 0, ""},
      {"no input buffer", build(false, true), -1, "Failed to CombineTxm"},
      {"model without header", build(true, false), -1, "has no header"},
      {"not a TXM file", std::vector<uint8_t>(64, 0xEE), -1, "valid TXM file"},
      {"one model shared 300 times", shared_model(), -1, "Not a valid TXM file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BNXUtils::CombineSource> srcs;
    auto [src, st] = container("x.bnx", c.txm);
    srcs.push_back(std::move(src));
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<int32_t> ids;
    // A payload that fails the container's checks is refused when it is opened.
    if (st.ok()) st = BNXUtils::CombineTxmSources(srcs, fbb, ids);
    EXPECT_EQ(st.code(), c.result);
    EXPECT_NE(Text(st).find(c.message), std::string::npos) << Text(st);
  }
}

}  // namespace
