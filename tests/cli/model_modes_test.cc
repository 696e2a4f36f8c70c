// End-to-end runs of -j (TXM to JSON) and -S (split one core out of every model).
#include <sys/stat.h>

#include <tuple>

#include "common/logger.h"
#include "support/tool_test.h"
#include "txm/txm_func.h"

namespace {

namespace T = TalvexTXM;
using namespace testsupport;

// Exit statuses of a TalvexException with ErrorCode UnexpectedValue / InvalidProgramInput.
constexpr int kUnexpectedValue = 9;
constexpr int kInvalidProgramInput = 2;

class ModelModesTest : public ToolTest {
 protected:
  void SetUp() override {
    SampleTxmOptions o;
    o.models = {o.SampleModel(1), o.SampleModel(0)};  // results come in ascending model id
    sample_ = BuildSampleTxmObject(o);
    WriteBytes(dir_ / "in.txm", PackTxm(sample_));
    WriteText(addr_, R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
                     R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})");
  }
  RunResult Split(int core, const Strings& extra = {}, const std::string& input = "in.txm") {
    Strings args = {"-S", input, "-d", std::to_string(core), "-p", addr_, "-O", "out"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tool(args);
  }
  std::string addr_ = dir_ / "addr.json";
  T::TXMContentT sample_;
};

TEST_F(ModelModesTest, TxmToJsonNamesAndText) {
  ASSERT_EQ(Tool({"-j", "in.txm", "-O", "out", "-o", "x.json"}).status, 0);
  // An empty folder: the working folder, named after the input's last path component.
  ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
  WriteBytes(dir_ / "sub/a.txm", PackTxm(sample_));
  ASSERT_EQ(Tool({"-j", "sub/a.txm", "-O", ""}).status, 0);
  EXPECT_TRUE(Exists(dir_ / "a.txm.no_binary.json"));
  const RunResult r = Tool({"-j", "in.txm", "-O", "out"});
  EXPECT_EQ(std::make_tuple(r.status, r.out), std::make_tuple(0, std::string()));
  EXPECT_EQ(DirEntries(out_), (Strings{"in.txm.no_binary.json", "x.json"}));

  if (testsupport::Run({"jq", "--version"}).status != 0) GTEST_SKIP() << "jq is not installed";
  // Valid JSON without payloads; fields equal to their default (id 0) are not stored.
  const RunResult jq = testsupport::Run(
      {"jq", "-c",
       "[[.. | objects | keys[] | select(. == \"cmd\" or . == \"weight\" or . == \"const_input\")], .magic,"
       " .header.target, (.models | map(.header.id // 0)), .models[1].header.encrypt_info.mode,"
       " (.models[1].cores[2] | .eu_params_type, .eu_params.max_trip_count), .models[0].header.inputs[0].shape]",
       out_ + "/in.txm.no_binary.json"});
  EXPECT_EQ(jq.out, "[[],827152468,\"TZ400\",[1,0],\"NoEnc\",\"LoopEUParams\",4,[1,3,224,224]]\n") << jq.err;
}

TEST_F(ModelModesTest, UnreadableTxmFilesAreRefused) {
  // The reader itself is tried on hostile bytes in txm_func_test; here how a failure ends the run.
  WriteBytes(dir_ / "junk.txm", std::vector<uint8_t>(100, 0xFF));
  const std::vector<std::pair<Strings, std::string>> cases = {
      {{"-j", "junk.txm", "-O", "out"}, "Failed to read the txm file"},
      {{"-j", "in.txm in.txm", "-O", "out"}, "-j(--txm_to_json) takes one file; refusing the extra file in.txm"},
      {{"-S", "in.txm in.txm", "-d", "0", "-p", addr_, "-O", "out"},
       "-S(--split_core) takes one file; refusing the extra file in.txm"}};
  for (const auto& [args, message] : cases) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, args[1] == "junk.txm" ? kUnexpectedValue : 255) << args[1];
    EXPECT_TRUE(Contains(r.err, message)) << r.err;
    EXPECT_EQ(r.out, "") << args[1];
  }
  EXPECT_EQ(Tool(cases[0].first).err.rfind("Not a valid TXM file.\nFailed to parse the txm file: junk.txm\n", 0), 0u);
  EXPECT_TRUE(DirEntries(out_).empty());
}

TEST_F(ModelModesTest, SplitCoreEveryKindOfCore) {
  // 0 NPU, 1 CPU, 2 LOOP, 3 NPU and 4 CPU nested in the LOOP core.
  for (int core = 0; core <= 4; ++core) {
    SCOPED_TRACE("core " + std::to_string(core));
    const RunResult r = Split(core);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string tail = "_core_" + std::to_string(core) + ".txm";
    EXPECT_EQ(r.out, "out/models_400_model_0" + tail + "\nout/models_400_model_1" + tail + "\n");
    for (int model = 0; model < 2; ++model) {
      const std::string path = out_ + "/models_400_model_" + std::to_string(model) + tail;
      EXPECT_EQ(talvex::Report(TXM::CheckAlignment(path)), 0);
      T::TXMContentT txm;
      ASSERT_EQ(talvex::Report(TXM::LoadTxmObj(txm, path)), 0);
      ASSERT_EQ(txm.models.size(), 1u);
      const T::ModelT& m = *txm.models[0];
      const T::ModelT& sm = *sample_.models[1 - model];
      EXPECT_EQ(std::make_tuple(m.header->id, m.header->core_number, m.header->wt_ref_model_id, m.header->npu_run_val,
                                m.header->compiler_version, m.header->dma_bank_info.size()),
                std::make_tuple(model, 1, -1, sm.header->npu_run_val, sm.header->compiler_version, 2u));
      ASSERT_EQ(m.header->buffer_info.size(), 4u);
      for (size_t i = 0; i < 4; ++i) {  // relocated; the file header keeps the compiled addresses
        const T::BufferInfoT& src = *sample_.header->buffer_info[i];
        EXPECT_EQ(std::make_tuple(m.header->buffer_info[i]->buffer, m.header->buffer_info[i]->start_addr,
                                  m.header->buffer_info[i]->len, txm.header->buffer_info[i]->start_addr),
                  std::make_tuple(src.buffer, 0x80000000 + 0x100000 * i, src.len, src.start_addr));
      }
      EXPECT_EQ(m.const_input, sm.const_input);
      ASSERT_EQ(m.cores.size(), 1u);
      const T::CoreT& c = *m.cores[0];
      const T::CoreT& src = core <= 2 ? *sm.cores[core] : *sm.cores[2]->exe_unit[core - 3];
      EXPECT_EQ(std::make_tuple(c.header->id, c.header->type, c.header->dependency.empty(), c.exe_unit.empty()),
                std::make_tuple(0, T::CoreType::NPU, true, true));
      EXPECT_EQ(std::make_tuple(m.header->inputs[0]->name, c.header->children, c.eu_params.type),
                std::make_tuple(src.header->inputs[0]->name, src.header->children, src.eu_params.type));
      if (const T::NPUEUParamsT* npu = c.eu_params.AsNPUEUParams()) {
        EXPECT_EQ(std::make_tuple(npu->cmd, npu->weight),
                  std::make_tuple(src.eu_params.AsNPUEUParams()->cmd, src.eu_params.AsNPUEUParams()->weight));
      }
    }
  }
}

TEST_F(ModelModesTest, SplitCoreSelectionNamesAndFailures) {
  RunResult r = Split(0, {"-i", "7"});  // no model 7: nothing to do
  EXPECT_EQ(std::make_tuple(r.status, r.out), std::make_tuple(0, std::string()));
  EXPECT_EQ(Split(1, {"-i", "1"}).out, "out/models_400_model_1_core_1.txm\n");
  r = Split(9);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Unable to find the core with the core_id: 9\nFailed to ExtractCore with core_id: 9\n");
  // One given name for every result: the last model's file remains.
  r = Split(0, {"-o", "one.txm"});
  EXPECT_TRUE(Contains(r.err, "SplitCore doesn't support specifying output")) << r.err;
  EXPECT_TRUE(Contains(r.err, "[tool][warning]")) << r.err;  // warnings on standard error only
  EXPECT_TRUE(Contains(r.out, "out/one.txm\nout/one.txm\n") && !Contains(r.out, "[warning]")) << r.out;
  EXPECT_EQ(DirEntries(out_), (Strings{"models_400_model_1_core_1.txm", "one.txm"}));
  T::TXMContentT one;
  ASSERT_EQ(talvex::Report(TXM::LoadTxmObj(one, out_ + "/one.txm")), 0);
  EXPECT_EQ(one.models[0]->header->id, 1);

  // A model without the core fails the run after the other model's file was written: the failed
  // run takes that file back.
  SampleTxmOptions two;
  two.models = {two.SampleModel(1), two.SampleModel(0)};
  T::TXMContentT partial = BuildSampleTxmObject(two);
  auto& cores = partial.models[0]->cores;  // model 1, split after model 0
  cores.erase(cores.begin() + 1);
  WriteBytes(dir_ / "partial.txm", PackTxm(partial));
  r = Split(1, {}, "partial.txm");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "out/models_400_model_0_core_1.txm\n");
  EXPECT_EQ(DirEntries(out_), (Strings{"models_400_model_1_core_1.txm", "one.txm"}));

  // Refusals of the split itself stop the run before anything more is written.
  T::TXMContentT nested = BuildSampleTxmObject();
  auto& loop = nested.models[0]->cores[2];
  loop->exe_unit.insert(loop->exe_unit.begin(), std::make_unique<T::CoreT>(*loop));
  WriteBytes(dir_ / "nested.txm", PackTxm(nested));
  r = Split(3, {}, "nested.txm");
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(Contains(r.err, "UnexpectedValue: core type should not be loop")) << r.err;
  WriteText(addr_, R"({"input_addr": "0x8000000g"})");
  r = Split(0);
  EXPECT_EQ(r.status, kInvalidProgramInput);
  EXPECT_TRUE(Contains(r.err, "InvalidProgramInput: [" + addr_ + "] addr for key [input_addr] should be a "
                                                                  "hexadecimal text of 32 bits, not [0x8000000g]"))
      << r.err;
  EXPECT_EQ(DirEntries(out_), (Strings{"models_400_model_1_core_1.txm", "one.txm"}));
}

// Each id is visited once, in ascending order; of the models sharing an id, the last one counts
// (-S, and the per-model files of -X -l).
TEST_F(ModelModesTest, ModelsSharingAnIdGiveTheLastOfThem) {
  SampleTxmOptions o;
  o.models = {o.SampleModel(5), o.SampleModel(2), o.SampleModel(5)};
  o.models[2].cmd_bytes = 512;  // tells the second model 5 from the first
  SampleBnx s;
  s.all_models = BuildSampleTxm(o);
  s.models = {{"a", 5, ""}, {"b", 2, ""}, {"c", 5, ""}};
  s.crc = s.uuid = Crc32(s.all_models);
  Write("dup.txm", s.all_models);
  Write("dup.bnx", BuildBnx(s));
  EXPECT_EQ(Split(0, {}, "dup.txm").out, "out/models_400_model_2_core_0.txm\nout/models_400_model_5_core_0.txm\n");
  ASSERT_EQ(Tool({"-X", "dup.bnx", "-l", "-O", "x", "-o", "d"}).status, 0);
  for (const std::string& path : {out_ + "/models_400_model_5_core_0.txm", root_ + "/x/02_d_model_5.txm"}) {
    T::TXMContentT five;
    ASSERT_EQ(talvex::Report(TXM::LoadTxmObj(five, path)), 0) << path;
    ASSERT_EQ(five.models.size(), 1u);
    EXPECT_EQ(five.models[0]->cores[0]->eu_params.AsNPUEUParams()->cmd.size(), 512u) << path;
  }
  EXPECT_TRUE(Exists(root_ + "/x/01_d_model_2.txm"));
}

}  // namespace
