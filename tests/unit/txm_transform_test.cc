// Namespace TXM transformations, and the front-end helpers ExtractTxm / SaveCmdWtBuffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>

#include "cli/model_modes.h"
#include "common/exceptions.h"
#include "common/output_dir.h"
#include "encoder/encoder.h"
#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"
#include "txm/txm_transform.h"

namespace T = TalvexTXM;
using testsupport::BuildSampleTxmObject;
using testsupport::PackTxm;
using testsupport::SampleTxmOptions;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;

namespace {

const char* const kAddrJson =
    R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
    R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})";

// Packed bytes of one model on its own: equal bytes mean equal trees.
Bytes ModelBytes(const T::ModelT& model) {
  T::TXMContentT c;
  c.models.push_back(std::make_unique<T::ModelT>(model));
  return PackTxm(c);
}

SampleTxmOptions OneModel(int32_t id) {
  SampleTxmOptions o;
  o.models = {o.SampleModel(id)};
  return o;
}

// Runs fn, which must throw a TalvexException with `code` and exactly `text` after the code name.
template <typename Fn>
void ExpectThrows(Fn&& fn, ErrorCode code, const std::string& name, const std::string& text) {
  try {
    fn();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const TalvexException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(std::string(e.what()), name + ": " + text);
  }
}

void ExpectPrecondition(std::function<void()> fn, const std::string& text) {
  ExpectThrows(fn, ErrorCode::UnexpectedValue, "UnexpectedValue", text);
}
void ExpectInvalidInput(std::function<void()> fn, const std::string& text) {
  ExpectThrows(fn, ErrorCode::InvalidProgramInput, "InvalidProgramInput", text);
}

const T::NPUEUParamsT& Npu(const T::CoreT& core) { return *core.eu_params.AsNPUEUParams(); }

}  // namespace

// ---------------- Lookups ----------------

TEST(TxmLookup, GetModelAndGetCore) {
  const T::TXMContentT txm = BuildSampleTxmObject();
  EXPECT_EQ(TXM::GetModel(txm.models, -1), txm.models[0].get());
  EXPECT_EQ(TXM::GetModel(txm.models, 2), txm.models[1].get());
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::GetModel(txm.models, 5), nullptr);
  EXPECT_EQ(TXM::GetModel({}, -1), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to find the model with the id: 5\nUnable to find the model with the id: -1\n");

  const auto& cores = txm.models[0]->cores;
  EXPECT_EQ(TXM::GetCore(cores, -1), cores[0].get());
  // Depth first: nested cores of the LOOP core are found.
  EXPECT_EQ(TXM::GetCore(cores, 3), cores[2]->exe_unit[0].get());
  EXPECT_EQ(TXM::GetCore(cores, 4), cores[2]->exe_unit[1].get());
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::GetCore(cores, 42), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(TxmLookup, GetBufferAddrTruncatesAndFailsWhenAbsent) {
  SampleTxmOptions o;
  o.header_buffer_info = {{T::Location::OUTPUT_BUFFER, 0x1, 4},
                          {T::Location::INPUT_BUFFER, 0x1234567890ULL, 4},
                          {T::Location::INPUT_BUFFER, 0x99, 4}};
  const T::TXMContentT txm = BuildSampleTxmObject(o);
  EXPECT_EQ(TXM::GetBufferAddr(txm.header->buffer_info, T::Location::INPUT_BUFFER), 0x34567890u);
  ExpectPrecondition([&] { TXM::GetBufferAddr(txm.header->buffer_info, T::Location::WORKING_BUFFER); },
                     "There is no match buffer");
}

// ---------------- CombineTxm ----------------

TEST(TxmCombine, OneContainerIsCopiedWithTheGivenLayout) {
  std::vector<T::TXMContentT> txms;
  txms.push_back(BuildSampleTxmObject());
  TXM::BufferLayout layout = {{T::Location::WORKING_BUFFER, {0x90000000, 0x100}},
                              {T::Location::INPUT_BUFFER, {0x80000000, 0x40}}};
  T::TXMContentT out;
  ASSERT_EQ(TXM::CombineTxm(out, txms, layout), 0);
  EXPECT_EQ(out.magic, txms[0].magic);
  EXPECT_EQ(out.header->target, T::NPUTarget::TZ400);
  EXPECT_EQ(out.header->compiler_version, "talvex_compiler 1.0");
  EXPECT_EQ(out.header->schema_version->revision_num, 3u);
  ASSERT_EQ(out.header->buffer_info.size(), 2u);  // ascending Location order
  EXPECT_EQ(out.header->buffer_info[0]->buffer, T::Location::INPUT_BUFFER);
  EXPECT_EQ(out.header->buffer_info[0]->start_addr, 0x80000000u);
  EXPECT_EQ(out.header->buffer_info[0]->len, 0x40u);
  EXPECT_EQ(out.header->buffer_info[1]->buffer, T::Location::WORKING_BUFFER);
  EXPECT_EQ(out.header->buffer_info[1]->len, 0x100u);
  ASSERT_EQ(out.models.size(), 2u);
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(ModelBytes(*out.models[i]), ModelBytes(*txms[0].models[i]));
}

TEST(TxmCombine, ModelsOfAllInputsInOrderAndEmptyLayout) {
  std::vector<T::TXMContentT> txms;
  txms.push_back(BuildSampleTxmObject());
  txms.push_back(BuildSampleTxmObject(OneModel(1)));  // the same id again: ids are kept
  T::TXMContentT out;
  ASSERT_EQ(TXM::CombineTxm(out, txms, {}), 0);
  EXPECT_TRUE(out.header->buffer_info.empty());
  ASSERT_EQ(out.models.size(), 3u);
  EXPECT_EQ(out.models[0]->header->id, 1);
  EXPECT_EQ(out.models[1]->header->id, 2);
  EXPECT_EQ(out.models[2]->header->id, 1);
  EXPECT_EQ(ModelBytes(*out.models[2]), ModelBytes(*txms[1].models[0]));
}

TEST(TxmCombine, MismatchesAreRefusedWithoutTouchingTheResult) {
  SampleTxmOptions other;
  other.header_buffer_info[0].start_addr = 0x60000040;
  std::vector<T::TXMContentT> txms;
  txms.push_back(BuildSampleTxmObject());
  txms.push_back(BuildSampleTxmObject(other));
  T::TXMContentT out;
  out.magic = 77;
  testing::internal::CaptureStdout();
  EXPECT_EQ(TXM::CombineTxm(out, txms, {}), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Input addr should be the same, root:1610612736, another:1610612800\n");
  EXPECT_EQ(out.magic, 77u);
  EXPECT_TRUE(out.models.empty());

  SampleTxmOptions tz1000;
  tz1000.target = T::NPUTarget::TZ1000;
  txms[1] = BuildSampleTxmObject(tz1000);
  testing::internal::CaptureStdout();
  EXPECT_EQ(TXM::CombineTxm(out, txms, {}), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TXM target did not match!\n");
  EXPECT_EQ(out.magic, 77u);

  SampleTxmOptions no_input;
  no_input.header_buffer_info = {{T::Location::OUTPUT_BUFFER, 0x60000000, 16}};
  txms[1] = BuildSampleTxmObject(no_input);
  ExpectPrecondition([&] { TXM::CombineTxm(out, txms, {}); }, "There is no match buffer");
  ExpectPrecondition([&] { TXM::CombineTxm(out, {}, {}); }, "No TXM content to combine");
}

// ---------------- TrimModel ----------------

TEST(TxmTrimModel, OneContainerPerModel) {
  const T::TXMContentT txm = BuildSampleTxmObject();
  std::map<int32_t, T::TXMContentT> out;
  ASSERT_EQ(TXM::TrimModel(out, txm, -1), 0);
  ASSERT_EQ(out.size(), 2u);
  for (int32_t id : {1, 2}) {
    const T::TXMContentT& one = out.at(id);
    EXPECT_EQ(one.magic, txm.magic);
    ASSERT_EQ(one.models.size(), 1u);
    EXPECT_EQ(ModelBytes(*one.models[0]), ModelBytes(*txm.models[id - 1]));
    EXPECT_EQ(one.header->buffer_info.size(), 4u);
    EXPECT_EQ(one.header->buffer_info[3]->start_addr, 0x60150000u);
  }
  ASSERT_EQ(TXM::TrimModel(out, txm, 2), 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out.begin()->first, 2);
  // A missing id: success, and the map is cleared.
  EXPECT_EQ(TXM::TrimModel(out, txm, 7), 0);
  EXPECT_TRUE(out.empty());
}

// ---------------- TrimCore ----------------

class TxmTrimCore : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::WriteText(addr_, kAddrJson); }
  T::TXMContentT Single(SampleTxmOptions o = OneModel(5)) { return BuildSampleTxmObject(o); }
  TempDir dir_;
  std::string addr_ = dir_ / "addr.json";
};

TEST_F(TxmTrimCore, TopLevelNpuCore) {
  const T::TXMContentT txm = Single();
  const Bytes before = PackTxm(txm);
  T::TXMContentT out;
  ASSERT_EQ(TXM::TrimCore(out, txm, 0, addr_), 0);
  EXPECT_EQ(PackTxm(txm), before);  // the source is left as it was

  EXPECT_EQ(out.magic, txm.magic);
  // The file header keeps the source's addresses.
  EXPECT_EQ(out.header->buffer_info[0]->start_addr, 0x60000000u);
  ASSERT_EQ(out.models.size(), 1u);
  const T::ModelT& m = *out.models[0];
  const T::ModelT& src = *txm.models[0];
  const T::CoreT& src_core = *src.cores[0];
  EXPECT_EQ(m.header->id, 5);
  EXPECT_EQ(m.header->core_number, 1);
  EXPECT_EQ(m.header->wt_ref_model_id, -1);
  EXPECT_EQ(m.header->npu_run_val, 1u);
  EXPECT_EQ(m.header->compiler_version, "talvex_compiler 1.0");
  EXPECT_EQ(m.header->schema_version->minor_num, 2u);
  EXPECT_EQ(m.header->encrypt_info->mode, T::EncryptedMode::NoEnc);
  ASSERT_EQ(m.header->dma_bank_info.size(), 2u);
  EXPECT_EQ(m.header->dma_bank_info[1]->type, T::DMAType::WDMA);
  ASSERT_EQ(m.header->inputs.size(), 1u);
  EXPECT_EQ(m.header->inputs[0]->name, "core0_in");
  EXPECT_EQ(m.header->outputs[0]->name, "core0_out");
  // Relocated: the header's Locations and lengths, the address file's start addresses.
  const std::vector<std::pair<T::Location, uint64_t>> want = {
      {T::Location::INPUT_BUFFER, 0x80000000}, {T::Location::OUTPUT_BUFFER, 0x80100000},
      {T::Location::WORKING_BUFFER, 0x80200000}, {T::Location::CPU_TEMP_BUFFER, 0x80300000}};
  ASSERT_EQ(m.header->buffer_info.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(m.header->buffer_info[i]->buffer, want[i].first);
    EXPECT_EQ(m.header->buffer_info[i]->start_addr, want[i].second);
    EXPECT_EQ(m.header->buffer_info[i]->len, txm.header->buffer_info[i]->len);
  }
  EXPECT_EQ(m.const_input, src.const_input);
  ASSERT_EQ(m.cores.size(), 1u);
  const T::CoreT& c = *m.cores[0];
  EXPECT_EQ(c.header->id, 0);
  EXPECT_EQ(c.header->type, T::CoreType::NPU);
  EXPECT_TRUE(c.header->dependency.empty());
  EXPECT_EQ(c.header->parent, src_core.header->parent);
  EXPECT_EQ(c.header->children, src_core.header->children);
  EXPECT_EQ(Npu(c).cmd, Npu(src_core).cmd);
  EXPECT_EQ(Npu(c).weight, Npu(src_core).weight);
  const Bytes packed = PackTxm(out);
  EXPECT_EQ(TXM::CheckAlignment(packed.data(), packed.size()), 0);
}

TEST_F(TxmTrimCore, NestedNpuCpuAndLoopCores) {
  const T::TXMContentT txm = Single();
  const T::CoreT& loop = *txm.models[0]->cores[2];
  T::TXMContentT out;
  // Nested NPU core 3 of the LOOP core: id 0, type NPU, no dependency (it had {2}).
  ASSERT_EQ(TXM::TrimCore(out, txm, 3, addr_), 0);
  ASSERT_EQ(out.models[0]->cores.size(), 1u);
  const T::CoreT& nested = *out.models[0]->cores[0];
  EXPECT_EQ(nested.header->id, 0);
  EXPECT_EQ(nested.header->type, T::CoreType::NPU);
  EXPECT_TRUE(nested.header->dependency.empty());
  EXPECT_EQ(Npu(nested).cmd, Npu(*loop.exe_unit[0]).cmd);
  EXPECT_EQ(out.models[0]->header->inputs[0]->name, "core3_in");

  // Nested CPU core 4: its operators come along, the type still says NPU.
  ASSERT_EQ(TXM::TrimCore(out, txm, 4, addr_), 0);
  const T::CoreT& cpu = *out.models[0]->cores[0];
  EXPECT_EQ(cpu.header->type, T::CoreType::NPU);
  ASSERT_NE(cpu.eu_params.AsCPUEUParams(), nullptr);
  EXPECT_EQ(cpu.eu_params.AsCPUEUParams()->operators.size(), 3u);

  // The LOOP core itself: its own payload stays, its nested cores do not.
  ASSERT_EQ(TXM::TrimCore(out, txm, 2, addr_), 0);
  const T::CoreT& l = *out.models[0]->cores[0];
  EXPECT_TRUE(l.exe_unit.empty());
  ASSERT_NE(l.eu_params.AsLoopEUParams(), nullptr);
  EXPECT_EQ(l.eu_params.AsLoopEUParams()->max_trip_count, 4u);
  EXPECT_EQ(l.eu_params.AsLoopEUParams()->npu_params->cmd, loop.eu_params.AsLoopEUParams()->npu_params->cmd);
  EXPECT_EQ(l.eu_params.AsLoopEUParams()->condition_var->name, "loop_cond");

  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::TrimCore(out, txm, 9, addr_), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to find the core with the core_id: 9\n");
}

TEST_F(TxmTrimCore, Preconditions) {
  T::TXMContentT out;
  const T::TXMContentT two = BuildSampleTxmObject();
  ExpectPrecondition([&] { TXM::TrimCore(out, two, 0, addr_); }, "Should only one model");
  const T::TXMContentT one = Single();
  ExpectPrecondition([&] { TXM::TrimCore(out, one, -1, addr_); }, "Need a specific core_id");

  // A LOOP core nested in another core stops the search when it is reached.
  T::TXMContentT nested_loop = Single();
  auto& loop = nested_loop.models[0]->cores[2];
  loop->exe_unit.insert(loop->exe_unit.begin(), std::make_unique<T::CoreT>(*loop));
  loop->exe_unit[0]->exe_unit.clear();
  loop->exe_unit[0]->header->id = 8;
  ExpectPrecondition([&] { TXM::TrimCore(out, nested_loop, 3, addr_); }, "core type should not be loop");
  // Found before the search goes that deep: no failure.
  EXPECT_EQ(TXM::TrimCore(out, nested_loop, 2, addr_), 0);
  EXPECT_TRUE(out.models[0]->cores[0]->exe_unit.empty());

  // A core without a payload cannot run on its own.
  T::TXMContentT bare = Single();
  bare.models[0]->cores[0]->eu_params.Reset();
  ExpectInvalidInput([&] { TXM::TrimCore(out, bare, 0, addr_); }, "Unknown eu_params:[0]");
}

TEST_F(TxmTrimCore, AddressFileCases) {
  T::TXMContentT out;
  out.magic = 99;
  // A WEIGHT_SEGMENT in the file header cannot be relocated.
  SampleTxmOptions weight = OneModel(5);
  weight.header_buffer_info.push_back({T::Location::WEIGHT_SEGMENT, 0x70000000, 64});
  const T::TXMContentT with_weight = Single(weight);
  ExpectInvalidInput([&] { TXM::TrimCore(out, with_weight, 0, addr_); }, "Undefinded buffer:[4]");

  // Members are only read for the buffers present.
  SampleTxmOptions no_cpu = OneModel(5);
  no_cpu.header_buffer_info.pop_back();
  const T::TXMContentT txm_no_cpu = Single(no_cpu);
  const std::string partial = dir_ / "partial.json";
  testsupport::WriteText(partial, R"({"input_addr":"0x1","output_addr":"0X2","dram_base_addr":"00003"})");
  ASSERT_EQ(TXM::TrimCore(out, txm_no_cpu, 0, partial), 0);
  ASSERT_EQ(out.models[0]->header->buffer_info.size(), 3u);
  EXPECT_EQ(out.models[0]->header->buffer_info[1]->start_addr, 2u);
  EXPECT_EQ(out.models[0]->header->buffer_info[2]->start_addr, 3u);
  // No buffers at all: the file is never read.
  SampleTxmOptions none = OneModel(5);
  none.header_buffer_info.clear();
  EXPECT_EQ(TXM::TrimCore(out, Single(none), 0, dir_ / "missing.json"), 0);
  EXPECT_TRUE(out.models[0]->header->buffer_info.empty());

  out.magic = 99;
  const T::TXMContentT txm = Single();
  ExpectInvalidInput([&] { TXM::TrimCore(out, txm, 0, partial); },
                     "[" + partial + "] should contains addr for key [cpu_tmp_addr]");
  for (const char* text : {"not json {", "", "[1, 2]"}) {
    const std::string path = dir_ / "bad.json";
    testsupport::WriteText(path, text);
    const std::string msg = std::string(text) == "[1, 2]"
                                ? "[" + path + "] should contains addr for key [input_addr]"
                                : "json constructed from [" + path + "] is null";
    ExpectInvalidInput([&] { TXM::TrimCore(out, txm, 0, path); }, msg);
  }
  ExpectInvalidInput([&] { TXM::TrimCore(out, txm, 0, dir_ / "missing.json"); },
                     "json constructed from [" + dir_ / "missing.json" + "] is null");

  // Values that are not 32-bit hexadecimal text would become wrong addresses.
  const std::vector<std::pair<std::string, std::string>> bad_values = {
      {R"("0xZZ")", "0xZZ"},           {R"("")", ""},
      {R"("0x")", "0x"},               {R"("-1")", "-1"},
      {R"(" 0x10")", " 0x10"},         {R"("0x100000000")", "0x100000000"},
      {"1610612736", "1610612736"},    {R"({"a":1})", R"({"a":1})"}};
  for (const auto& [json_value, shown] : bad_values) {
    const std::string path = dir_ / "hostile.json";
    testsupport::WriteText(path, std::string(R"({"input_addr": )") + json_value + "}");
    ExpectInvalidInput([&] { TXM::TrimCore(out, txm, 0, path); },
                       "[" + path + "] addr for key [input_addr] should be a hexadecimal text of 32 bits, not [" +
                           shown + "]");
  }
  EXPECT_EQ(out.magic, 99u);  // nothing produced by any failure
}

// ---------------- DeepCopy / UpdateWeight ----------------

TEST(TxmDeepCopy, IndependentEqualCopy) {
  T::TXMContentT src = BuildSampleTxmObject();
  T::TXMContentT dst;
  ASSERT_EQ(TXM::DeepCopy(dst, src), 0);
  EXPECT_EQ(PackTxm(dst), PackTxm(src));
  src.models[0]->const_input[0] ^= 0xFF;
  EXPECT_NE(PackTxm(dst), PackTxm(src));
}

TEST(TxmUpdateWeight, ReplacesTheWeightOfAnNpuCore) {
  TempDir dir;
  const Bytes weight = testsupport::PayloadBytes(48, 3);
  testsupport::WriteBytes(dir / "w.bin", weight);
  T::TXMContentT txm = BuildSampleTxmObject();
  // Nested core 3 of model 2, found through the LOOP core.
  ASSERT_EQ(TXM::UpdateWeight(txm, 2, 3, dir / "w.bin", 1), 0);
  EXPECT_EQ(Npu(*txm.models[1]->cores[2]->exe_unit[0]).weight, weight);
  EXPECT_EQ(txm.models[1]->header->wt_ref_model_id, 1);
  EXPECT_EQ(txm.models[0]->header->wt_ref_model_id, -1);

  const Bytes before = PackTxm(txm);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::UpdateWeight(txm, 1, 0, dir / "none.bin", 2), -1);
  EXPECT_EQ(TXM::UpdateWeight(txm, 9, 0, dir / "w.bin", 2), -2);
  EXPECT_EQ(TXM::UpdateWeight(txm, 1, 9, dir / "w.bin", 2), -3);
  EXPECT_EQ(TXM::UpdateWeight(txm, 1, 1, dir / "w.bin", 2), -4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to read the file: " + dir / "none.bin" + "\n"
            "Unable to find the model with the id: 9\n"
            "Without weight field for the EUParamsType: 2\n");
  EXPECT_EQ(PackTxm(txm), before);
}

// ---------------- Payload removal ----------------

TEST(TxmRemove, TrimBinaryKeepsWhatIsAskedFor) {
  const T::TXMContentT src = BuildSampleTxmObject();
  T::TXMContentT txm = BuildSampleTxmObject();
  TXM::TrimBinary(txm, true, false);
  for (size_t m = 0; m < 2; ++m) {
    EXPECT_TRUE(txm.models[m]->const_input.empty());
    EXPECT_EQ(Npu(*txm.models[m]->cores[0]).cmd, Npu(*src.models[m]->cores[0]).cmd);
    EXPECT_EQ(Npu(*txm.models[m]->cores[0]).weight, Npu(*src.models[m]->cores[0]).weight);
    EXPECT_EQ(Npu(*txm.models[m]->cores[2]->exe_unit[0]).cmd, Npu(*src.models[m]->cores[2]->exe_unit[0]).cmd);
  }

  txm = BuildSampleTxmObject();
  TXM::TrimBinary(txm, false, true);
  for (const auto& model : txm.models) {
    EXPECT_EQ(model->const_input.size(), 128u);
    EXPECT_TRUE(Npu(*model->cores[0]).cmd.empty());
    EXPECT_TRUE(Npu(*model->cores[0]).weight.empty());
    const T::CoreT& loop = *model->cores[2];
    EXPECT_TRUE(loop.eu_params.AsLoopEUParams()->npu_params->cmd.empty());
    EXPECT_TRUE(loop.eu_params.AsLoopEUParams()->npu_params->weight.empty());
    EXPECT_TRUE(Npu(*loop.exe_unit[0]).cmd.empty());
    EXPECT_TRUE(Npu(*loop.exe_unit[0]).weight.empty());
    EXPECT_EQ(model->cores[1]->eu_params.AsCPUEUParams()->operators.size(), 3u);
  }
  // Emptied payloads are absent fields: the packed file still passes the alignment rule.
  const Bytes packed = PackTxm(txm);
  EXPECT_EQ(TXM::CheckAlignment(packed.data(), packed.size()), 0);
}

// ---------------- PostEnc ----------------

namespace {

uint32_t Rotr(uint32_t v, unsigned n) { return (v >> n) | (v << (32 - n)); }

uint32_t Word(const Bytes& b, size_t i) {
  uint32_t w;
  std::memcpy(&w, b.data() + 4 * i, 4);
  return w;
}

// Checks enc = plain scrambled with the key word pattern of unit 4 / unit 16.
void ExpectScrambled(const Bytes& plain, const Bytes& enc, uint32_t key, size_t unit) {
  ASSERT_EQ(plain.size(), enc.size());
  const uint32_t w = EncoderDetail::KeyWord(key);
  const uint32_t u = EncoderDetail::SpreadKeyWord(w);
  const uint32_t block[4] = {Rotr(u, 2), Rotr(u, 15), u, w};
  for (size_t i = 0; i < plain.size() / 4; ++i) {
    const uint32_t want = unit == 4 ? w : block[i % 4];
    ASSERT_EQ(Word(plain, i) ^ Word(enc, i), want) << "word " << i << " unit " << unit;
  }
}

// Efuse key of a device number: the number XOR the bits of 0x51A9 spread to even positions.
uint32_t EfuseKey(uint32_t tv_number) {
  uint32_t spread = 0;
  for (unsigned i = 0; i < 16; ++i) spread |= ((0x51A9u >> i) & 1u) << (2 * i);
  return tv_number ^ spread;
}

}  // namespace

TEST(TxmPostEnc, EfuseEncodesNpuPayloadsAndKeepsKeyBytes) {
  SampleTxmOptions o;
  o.models[0].encrypt_key = {1, 2, 3};
  const T::TXMContentT src = BuildSampleTxmObject(o);
  T::TXMContentT txm = BuildSampleTxmObject(o);
  ASSERT_EQ(TXM::PostEnc(txm, 0x1234, 0, ""), 0);
  const uint32_t key = EfuseKey(0x1234);
  for (size_t m = 0; m < 2; ++m) {
    const T::ModelT& e = *txm.models[m];
    const T::ModelT& p = *src.models[m];
    EXPECT_EQ(e.header->encrypt_info->mode, T::EncryptedMode::EFuse);
    EXPECT_EQ(e.header->encrypt_info->key, p.header->encrypt_info->key);
    ExpectScrambled(Npu(*p.cores[0]).cmd, Npu(*e.cores[0]).cmd, key, 4);
    ExpectScrambled(Npu(*p.cores[0]).weight, Npu(*e.cores[0]).weight, key, 16);
    // Nested NPU core of the LOOP core: encoded; the loop's own payload and the CPU cores: not.
    ExpectScrambled(Npu(*p.cores[2]->exe_unit[0]).cmd, Npu(*e.cores[2]->exe_unit[0]).cmd, key, 4);
    ExpectScrambled(Npu(*p.cores[2]->exe_unit[0]).weight, Npu(*e.cores[2]->exe_unit[0]).weight, key, 16);
    EXPECT_EQ(e.cores[2]->eu_params.AsLoopEUParams()->npu_params->cmd,
              p.cores[2]->eu_params.AsLoopEUParams()->npu_params->cmd);
    EXPECT_EQ(e.const_input, p.const_input);
  }
  EXPECT_EQ(txm.models[0]->header->encrypt_info->key, (Bytes{1, 2, 3}));
}

TEST(TxmPostEnc, CustKeyStoresDecryptKeyDataAndTwiceRestores) {
  TempDir dir;
  const Bytes table = testsupport::PayloadBytes(1024, 0x5A);
  testsupport::WriteBytes(dir / "key.bin", table);
  const T::TXMContentT src = BuildSampleTxmObject();
  T::TXMContentT txm = BuildSampleTxmObject();
  ASSERT_EQ(TXM::PostEnc(txm, 0x51A9, 0x1234, dir / "key.bin"), 0);
  for (const auto& model : txm.models) {
    EXPECT_EQ(model->header->encrypt_info->mode, T::EncryptedMode::CustKey);
    const Bytes& key = model->header->encrypt_info->key;
    ASSERT_EQ(key.size(), 1056u);
    EXPECT_EQ(Bytes(key.begin() + 32, key.end()), table);  // the 256 table words follow 8 mask words
    // The 16-bit customer key sits in bits 4j, 4j+1 of mask word j.
    uint32_t c_key = 0;
    for (unsigned j = 0; j < 8; ++j) c_key |= ((Word(key, j) >> (4 * j)) & 3u) << (2 * j);
    EXPECT_EQ(c_key, 0x1234u);
  }
  EXPECT_NE(Npu(*txm.models[0]->cores[0]).cmd, Npu(*src.models[0]->cores[0]).cmd);

  // The scrambling is its own inverse: the same key once more gives the plain payloads back.
  for (auto& model : txm.models) model->header->encrypt_info->mode = T::EncryptedMode::NoEnc;
  ASSERT_EQ(TXM::PostEnc(txm, 0x51A9, 0x1234, dir / "key.bin"), 0);
  for (size_t m = 0; m < 2; ++m) {
    txm.models[m]->header->encrypt_info = std::make_unique<T::EncryptInfoT>(*src.models[m]->header->encrypt_info);
  }
  EXPECT_EQ(PackTxm(txm), PackTxm(src));
}

TEST(TxmPostEnc, RefusalsLeaveTheTreeUnchanged) {
  // Model 1 passes, model 2 is already encrypted: model 1 must not be scrambled either.
  SampleTxmOptions o;
  o.models[1].encrypt_mode = T::EncryptedMode::EFuse;
  T::TXMContentT txm = BuildSampleTxmObject(o);
  Bytes before = PackTxm(txm);
  ExpectPrecondition([&] { TXM::PostEnc(txm, 0x1234, 0, ""); }, "the model should not be encryped");
  EXPECT_EQ(PackTxm(txm), before);

  o.models[1].encrypt_mode = T::EncryptedMode::DEFAULT;
  txm = BuildSampleTxmObject(o);
  ExpectPrecondition([&] { TXM::PostEnc(txm, 0x1234, 0, ""); }, "the model should not be encryped");

  // A LOOP core nested in the LOOP core of the second model.
  txm = BuildSampleTxmObject();
  auto& loop = txm.models[1]->cores[2];
  loop->exe_unit.push_back(std::make_unique<T::CoreT>(*loop));
  before = PackTxm(txm);
  ExpectPrecondition([&] { TXM::PostEnc(txm, 0x1234, 0, ""); }, "sub core should be NPU or CPU core");
  EXPECT_EQ(PackTxm(txm), before);

  // A weight that is not whole 16-byte blocks, in the last model.
  SampleTxmOptions odd;
  odd.models[1].weight_bytes = 1000;
  txm = BuildSampleTxmObject(odd);
  before = PackTxm(txm);
  ExpectPrecondition([&] { TXM::PostEnc(txm, 0x1234, 0, ""); },
                     "Model[2] Core[0] weight of 1000 bytes: length % 16 == 0");
  EXPECT_EQ(PackTxm(txm), before);

  // An unreadable key file stops before anything changes.
  txm = BuildSampleTxmObject();
  before = PackTxm(txm);
  EXPECT_THROW(TXM::PostEnc(txm, 0, 0x1234, "/nonexistent/key.bin"), std::runtime_error);
  EXPECT_EQ(PackTxm(txm), before);
}

// ---------------- Front-end helpers ----------------

TEST(TxmFrontEnd, ExtractTxmNumbersFilesByAscendingModelId) {
  TempDir dir;
  SampleTxmOptions o;
  o.models = {o.SampleModel(5), o.SampleModel(3)};
  testsupport::WriteSampleTxm(dir / "in.txm", o);
  CmdArgs cmd;
  cmd.model_path = {dir / "in.txm"};
  cmd.output_folder = dir / "out/";
  cmd.output_name = "net";
  ASSERT_TRUE(BNXUtils::CreateOutputDir(dir / "out", 0755));
  std::vector<std::string> files = {"kept"};
  ASSERT_EQ(ExtractTxm(cmd, files), 0);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], "kept");
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_EQ(files[1], std::string(real) + "/out/01_net_model_3.txm");
  EXPECT_EQ(files[2], std::string(real) + "/out/02_net_model_5.txm");
  EXPECT_FALSE(testsupport::Exists(dir / "out/01_net"));
  T::TXMContentT one;
  ASSERT_EQ(TXM::LoadTxmObj(one, files[2]), 0);
  ASSERT_EQ(one.models.size(), 1u);
  EXPECT_EQ(one.models[0]->header->id, 5);

  // Without a name the files keep the bare index names.
  cmd.output_name.clear();
  cmd.model_id = 3;
  files.clear();
  ASSERT_EQ(ExtractTxm(cmd, files), 0);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], std::string(real) + "/out/01_");

  cmd.model_path = {dir / "in.txm", dir / "in.txm"};
  ExpectPrecondition([&] { ExtractTxm(cmd, files); }, "should be only one txm file");
  cmd.model_path = {dir / "missing.txm"};
  testing::internal::CaptureStderr();
  ExpectPrecondition([&] { ExtractTxm(cmd, files); }, "Failed to read the txm file");
  testing::internal::GetCapturedStderr();
}

TEST(TxmFrontEnd, SaveCmdWtBufferWritesIntoTheOutputFolder) {
  TempDir dir;
  BNXUtils::SetOutputDir(dir.path());
  const Bytes bytes = testsupport::PayloadBytes(100, 1);
  SaveCmdWtBuffer("model_1_core_0_cmd_buffer", bytes);
  EXPECT_EQ(testsupport::ReadBytes(dir / "model_1_core_0_cmd_buffer.bin"), bytes);
  SaveCmdWtBuffer("model_1_core_0_cmd_buffer", {});  // replaced, also by nothing
  EXPECT_TRUE(testsupport::ReadBytes(dir / "model_1_core_0_cmd_buffer.bin").empty());
  SaveCmdWtBuffer("no_such_dir/x", bytes);  // unwritable: nothing written, no crash
  EXPECT_FALSE(testsupport::Exists(dir / "no_such_dir/x.bin"));
}
