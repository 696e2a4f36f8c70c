// The new DRAM layout of combined legacy models (bnx/combine) and the fw_info of it.
#include "bnx/combine.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
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

FirmInfo Model(uint32_t id, uint32_t in_size, uint32_t out_size, uint32_t dram_size, uint32_t cmd, uint32_t wt,
               uint32_t fw) {
  FirmInfo f;
  f.model_id = id;
  f.version = id + 100;
  f.input_start = 0x60000000;
  f.input_size = in_size;
  f.output_start = 0x61000000;
  f.output_size = out_size;
  f.dram_start = 0x62000000;
  f.dram_size = dram_size;
  f.cmd_start = 0x63000000;
  f.cmd_size = cmd;
  f.weight_start = 0x64000000;
  f.weight_size = wt;
  f.fw_code_start = 0x65000000;
  f.fw_code_size = fw;
  f.input_num = 3;  // not in fw_info.bin: dropped by the layout
  f.first_node = 9;
  return f;
}

// id, input, output, working, cmd, weight, fw_code starts of a new record.
std::vector<uint32_t> Starts(const FirmInfo& f) {
  return {f.model_id, f.input_start, f.output_start, f.dram_start, f.cmd_start, f.weight_start, f.fw_code_start};
}

TEST(Relayout, SharedInputAndWorkingBuffersPackedOutputsAndCode) {
  // Input sizes 0x1000 and 0x2000: the shared input buffer is 0x2000 long. Outputs of 0x100 and
  // 0x30 are packed; the working buffer starts at the next multiple of 16 after both.
  talvex::Status st;
  const std::vector<FirmInfo> out = BNXUtils::RelayoutDDRBuffer(
      {{Model(1, 0x1000, 0x100, 0x800, 20, 40, 10)}, {Model(2, 0x2000, 0x30, 0x1000, 16, 17, 1)}}, &st);
  ASSERT_TRUE(st.ok()) << Text(st);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Starts(out[0]),
            (std::vector<uint32_t>{1, 0x60000000, 0x60002000, 0x60002130, 0x60003130, 0x60003150, 0x60003180}));
  EXPECT_EQ(Starts(out[1]),
            (std::vector<uint32_t>{2, 0x60000000, 0x60002100, 0x60002130, 0x60003190, 0x600031A0, 0x600031C0}));
  EXPECT_EQ(out[1].version, 102u);
  EXPECT_EQ(out[1].dram_size, 0x1000u);
  EXPECT_EQ(out[0].input_num + out[0].first_node, 0u);
}

TEST(Relayout, RefusalsTable) {
  FirmInfo other_input = Model(2, 0x10, 0x10, 0x10, 4, 4, 4);
  other_input.input_start += 0x40;
  FirmInfo shared_output = Model(3, 0x10, 0x10, 0x10, 4, 4, 4);
  shared_output.output_start = shared_output.dram_start;
  FirmInfo huge = Model(4, 0x10, 0x10, 0x10, 0xF0000000, 4, 4);
  const struct {
    const char* name;
    std::vector<std::vector<FirmInfo>> in;
    const char* error;
  } cases[] = {
      {"input address differs", {{Model(1, 0x10, 0x10, 0x10, 4, 4, 4)}, {other_input}}, "Input address should be the same!"},
      {"no dedicated output buffer", {{Model(1, 0x10, 0x10, 0x10, 4, 4, 4), shared_output}},
       "dedicated output buffer should be enable"},
      {"beyond 32-bit addresses", {{huge}}, "32-bit address space"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    talvex::Status st;
    EXPECT_TRUE(BNXUtils::RelayoutDDRBuffer(c.in, &st).empty());
    EXPECT_FALSE(st.ok());
    EXPECT_NE(Text(st).find(c.error), std::string::npos) << Text(st);
  }
  talvex::Status st;
  EXPECT_TRUE(BNXUtils::RelayoutDDRBuffer({{}, {}}, &st).empty());
  EXPECT_TRUE(st.ok());
}

TEST(Relayout, FwInfoOfTheNewRecordsMatchesTheBuiltPair) {
  // Two models laid out as the builder lays them: the encoded fw_info.bin is the builder's.
  LegacyModel a = MakeLegacyModel(5, 0x10, 20, 40, std::vector<uint8_t>(10, 1));
  LegacyModel b = MakeLegacyModel(6, 0x11, 36, 17, std::vector<uint8_t>(3, 2));
  const LegacyPair p = BuildLegacyPair({a, b}, true);
  std::vector<FirmInfo> infos(2);
  for (int i = 0; i < 2; ++i) {
    const uint8_t* r = p.fw_info.data() + 4 + 56 * i;
    uint32_t w[14];
    for (int j = 0; j < 14; ++j) w[j] = r[4 * j] | r[4 * j + 1] << 8 | r[4 * j + 2] << 16 | uint32_t{r[4 * j + 3]} << 24;
    infos[i] = BNXUtils::ToFirmInfo({w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13]});
  }
  std::vector<uint8_t> bin;
  std::string txt;
  std::vector<uint32_t> crcs = {p.all_models_crc};
  crcs.insert(crcs.end(), p.block_crcs.begin(), p.block_crcs.end());
  BNXUtils::GenFWInfo(infos, crcs, bin, txt);
  EXPECT_EQ(bin, p.fw_info);
  EXPECT_EQ(txt.substr(0, 46), "Total [2] models:\n    id: [5], version: [0x10]");
  EXPECT_EQ(txt.substr(txt.rfind("checksum")), fmt::format("checksum: all_models.bin [0x{:x}]\n    0 [0x{:x}],     1 [0x{:x}], ",
                                                           crcs[0], crcs[1], crcs[2]));
}

TEST(CheckBNXPaths, OpensEveryContainerAndSaysWhy) {
  TempDir dir;
  SampleBnx a, b;
  a.target = 2, a.major = 1, a.models = {{"", 1, "1"}};
  b.target = 4, b.major = 1, b.models = {{"", 2, "1"}};
  WriteBytes(dir / "a.bnx", BuildBnx(a));
  WriteBytes(dir / "b.bnx", BuildBnx(b));
  std::string message;
  EXPECT_EQ(BNXUtils::CheckBNX({dir / "a.bnx", dir / "a.bnx"}, &message), -1);
  EXPECT_EQ(message, "model_id 1 existed. Please make sure it unique.\n");
  EXPECT_EQ(BNXUtils::CheckBNX({dir / "a.bnx", dir / "b.bnx"}, &message), -1);
  EXPECT_EQ(message, "All BNX should be the same target.\n");
  EXPECT_EQ(BNXUtils::CheckBNX({dir / "a.bnx", dir / "none.bnx"}, &message), -1);
  EXPECT_EQ(message, "BNX file not exist: " + dir / "none.bnx" + "\n");
  EXPECT_EQ(BNXUtils::CheckBNX({dir / "b.bnx"}, &message), 0);
  EXPECT_EQ(message, "");
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
    EXPECT_TRUE(BNXUtils::OpenCombineSource(dir / name, src).ok());
    return src;
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
      {"not a TXM file", std::vector<uint8_t>(64, 0xEE), -1, "Not a valid TXM file"},
      {"one model shared 300 times", shared_model(), -1, "Not a valid TXM file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BNXUtils::CombineSource> srcs;
    srcs.push_back(container("x.bnx", c.txm));
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<int32_t> ids;
    const talvex::Status st = BNXUtils::CombineTxmSources(srcs, fbb, ids);
    EXPECT_EQ(st.code(), c.result);
    EXPECT_NE(Text(st).find(c.message), std::string::npos) << Text(st);
  }
}

}  // namespace
