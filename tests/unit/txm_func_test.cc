// The TXM reader on hostile buffers (union tags without values, shared data that would unpack to
// gigabytes; truncations: the hostile cases) and the alignment check naming each kind of
// misaligned payload; the cases meet only a misaligned command.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/logger.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

namespace T = TalvexTXM;
using testsupport::BuildSampleTxm;
using testsupport::SampleTxmOptions;
using testsupport::TxmPayload;
using Bytes = std::vector<uint8_t>;

namespace {

// Union tags without their value verify; they read as no union (core params at the top and nested
// in a LOOP core, operator options at the top and fused), so packing the tree again never touches them.
TEST(TxmReaderTest, UnionTagsWithoutValueReadAsNone) {
  flatbuffers::FlatBufferBuilder fbb;
  auto bare = T::CreateOperator(fbb, 0, T::BuiltinOperator::Conv, T::BuiltinOptions::ConvOptions);
  auto fusion = T::CreateFusionOptions(fbb, fbb.CreateVector(&bare, 1)).Union();
  std::vector<flatbuffers::Offset<T::Operator>> ops = {
      T::CreateOperator(fbb, 0, T::BuiltinOperator::Relu, T::BuiltinOptions::ClipOptions),
      T::CreateOperator(fbb, 0, T::BuiltinOperator::Conv, T::BuiltinOptions::FusionOptions, fusion)};
  auto cpu_core = T::CreateCore(fbb, 0, 0, T::EUParams::CPUEUParams,
                                T::CreateCPUEUParams(fbb, fbb.CreateVector(ops)).Union());
  auto npu_core = T::CreateCore(fbb, 0, 0, T::EUParams::NPUEUParams);
  auto loop_core = T::CreateCore(fbb, 0, fbb.CreateVector(&npu_core, 1), T::EUParams::LoopEUParams);
  std::vector<flatbuffers::Offset<T::Core>> cores = {npu_core, cpu_core, loop_core};
  auto model = T::CreateModel(fbb, 0, fbb.CreateVector(cores));
  fbb.Finish(T::CreateTXMContent(fbb, 0, 0, fbb.CreateVector(&model, 1)));
  T::TXMContentT obj;
  ASSERT_EQ(talvex::Report(TxmReader::Parse(obj, fbb.GetBufferPointer(), fbb.GetSize())), 0);
  EXPECT_EQ(obj.models[0]->cores[0]->eu_params.type, T::EUParams::NONE);
  EXPECT_EQ(obj.models[0]->cores[2]->exe_unit[0]->eu_params.type, T::EUParams::NONE);
  auto& cpu = *obj.models[0]->cores[1]->eu_params.AsCPUEUParams();
  EXPECT_EQ(cpu.operators[0]->builtin_options.type, T::BuiltinOptions::NONE);
  EXPECT_EQ(cpu.operators[1]->builtin_options.AsFusionOptions()->node_list[0]->builtin_options.type,
            T::BuiltinOptions::NONE);
  TxmWriter().Finish(obj);
}

// One model shared by many offsets verifies but would unpack to many copies of its payload:
// refused as not valid before unpacking, like the setup reader does; a few copies still read.
TEST(TxmReaderTest, SharedDataCannotBlowUpMemory) {
  for (const size_t refs : {300, 4}) {  // ~1 MiB on disk: 300 MiB or 4 MiB unpacked
    flatbuffers::FlatBufferBuilder fbb;
    fbb.ForceVectorAlignment(1 << 20, 1, 64);
    auto data = fbb.CreateVector(Bytes(1 << 20, 7));
    auto model = T::CreateModel(fbb, 0, 0, data);
    fbb.Finish(T::CreateTXMContent(fbb, 0, 0, fbb.CreateVector(std::vector(refs, model))));
    T::TXMContentT obj;
    testing::internal::CaptureStderr();
    const int code = talvex::Report(TxmReader::Parse(obj, fbb.GetBufferPointer(), fbb.GetSize()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, refs == 300 ? 102 : 0) << err;
    EXPECT_EQ(obj.models.size(), refs == 300 ? 0u : refs);
  }
}

TEST(TxmFuncTest, CheckAlignmentNamesTheFirstMisalignedPayload) {
  auto check = [](const Bytes& bytes, int expected_ret) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(talvex::Report(TXM::CheckAlignment(bytes.data(), bytes.size())), expected_ret);
    return testing::internal::GetCapturedStderr();
  };
  auto not_aligned = [](const std::string& what, size_t pos) {
    return what + "_pos[" + std::to_string(pos) + "] not align 64 in txm\n";
  };
  SampleTxmOptions none;
  none.models.clear();
  EXPECT_EQ(check(BuildSampleTxm(none), 0), "");
  // Model position, payload, core id (3 sits in the LOOP core), shift, and the named payload.
  const std::vector<std::tuple<int, TxmPayload, int, uint32_t, std::string>> cases = {
      {0, TxmPayload::kConstInput, -1, 4, "Model[1] const_input"},
      {1, TxmPayload::kCmd, 0, 8, "Model[2] Core[0] cmd"},
      {1, TxmPayload::kWeight, 0, 60, "Model[2] Core[0] weight"},
      {0, TxmPayload::kCmd, 3, 4, "Model[1] Core[3] cmd"}};
  for (const auto& [model, kind, core, shift, what] : cases) {
    Bytes bytes = BuildSampleTxm();
    const size_t pos = testsupport::ShiftPayload(bytes, model, kind, core, shift);
    ASSERT_NE(pos, 0u) << what;
    EXPECT_EQ(check(bytes, -1), not_aligned(what, pos));
  }
  // Models in order, const_input before the cores; present empty vectors are checked too.
  Bytes bytes = BuildSampleTxm();
  const size_t cmd_pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kCmd, 0);
  ASSERT_TRUE(testsupport::SetPayloadLength(bytes, 0, TxmPayload::kCmd, 0, 0));
  testsupport::ShiftPayload(bytes, 1, TxmPayload::kConstInput, -1);
  EXPECT_EQ(check(bytes, -1), not_aligned("Model[1] Core[0] cmd", cmd_pos));
}

}  // namespace
