// The txm module: reading, writing, checks, text view and transformations. TrimModel / TrimCore results
// are checked end to end through -S (model_modes_test), ExtractTxm through -X; here failures and edge cases.
#include <gtest/gtest.h>

#include "common/logger.h"

#include <cstring>
#include <functional>
#include <tuple>

#include "bnx/post_enc.h"
#include "common/exceptions.h"
#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"
#include "txm/txm_reader.h"
#include "txm/txm_transform.h"
#include "txm/txm_writer.h"

namespace T = TalvexTXM;
using testsupport::BuildSampleTxm;
using testsupport::BuildSampleTxmObject;
using testsupport::PackTxm;
using testsupport::SampleTxmOptions;
using testsupport::TempDir;
using testsupport::TxmPayload;
using Bytes = std::vector<uint8_t>;

namespace {

TEST(TxmReaderTest, HostileBuffersGive102AndLeaveTheObjectAlone) {
  const Bytes good = BuildSampleTxm();
  T::TXMContentT obj = BuildSampleTxmObject();
  for (size_t len = 0; len < good.size(); len += (len < 300 ? 1 : 37)) {
    testing::internal::CaptureStderr();
    ASSERT_EQ(talvex::Report(TxmReader::Parse(obj, good.data(), len)), 102) << len;
    testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(obj.models.size(), 2u);
  const Bytes empty = PackTxm(T::TXMContentT());  // a later parse replaces the whole tree
  ASSERT_EQ(talvex::Report(TxmReader::Parse(obj, empty.data(), empty.size())), 0);
  EXPECT_TRUE(!obj.header && obj.models.empty());
}

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

TEST(TxmReaderTest, FileCodesAndTheAlignmentCheckOnFiles) {
  TempDir dir;
  testsupport::WriteBytes(dir / "empty.txm", {});
  testsupport::WriteSampleTxm(dir / "ok.txm");
  testsupport::WriteBytes(dir / "four.txm", {4, 0, 0, 0});  // a size must exceed 4
  const std::string short_read = "Failed to read the file: " + dir.path() + "/\n";  // "" names the folder
  const std::string invalid = "Not a valid TXM file.\n";
  // Name, Parse result, CheckAlignment result, what the two print (an empty file: only the check).
  auto check_failed = [&](const std::string& name) {
    return "The alignment check of " + dir / name + " failed\n";
  };
  const std::vector<std::tuple<std::string, int, int, std::string>> cases = {
      {"empty.txm", 100, -1, invalid + check_failed("empty.txm")},
      {"ok.txm", 0, 0, ""},
      {"", 101, -1, short_read + short_read},
      {"four.txm", 102, -1, invalid + invalid + check_failed("four.txm")}};
  for (const auto& [name, code, aligned, printed] : cases) {
    T::TXMContentT obj;
    testing::internal::CaptureStderr();
    EXPECT_EQ(talvex::Report(TxmReader::Parse(obj, dir / name)), code) << name;
    EXPECT_EQ(talvex::Report(TXM::CheckAlignment(dir / name)), aligned) << name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), printed) << name;
  }
}

TEST(TxmWriterTest, DumpIntoBufferRoundTripsAndRefusesASmallBuffer) {
  const T::TXMContentT original = BuildSampleTxmObject();
  const Bytes expected = PackTxm(original);  // generated packer, no identifier
  Bytes buf(1 << 16, 0xEE), small(10, 0xEE);
  size_t len = 0;
  ASSERT_EQ(talvex::Report(TxmWriter().Dump(original, buf.data(), buf.size(), len)), 0);
  ASSERT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(len)), expected);
  EXPECT_EQ(buf[len], 0xEE);  // nothing past len
  T::TXMContentT parsed;
  ASSERT_EQ(talvex::Report(TxmReader::Parse(parsed, buf.data(), len)), 0);
  EXPECT_EQ(PackTxm(parsed), expected);
  testing::internal::CaptureStderr();
  EXPECT_EQ(talvex::Report(TxmWriter().Dump(original, small.data(), small.size(), len)), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "The buffer size[10] is not enough for data len[" + std::to_string(expected.size()) + "]\n");
  EXPECT_EQ(small, Bytes(10, 0xEE));  // nothing copied
}

TEST(TxmWriterTest, PayloadsStartOn64AndEmptyOnesAreNotStored) {
  SampleTxmOptions o;
  o.models[0].cmd_bytes = 1, o.models[0].weight_bytes = 3, o.models[0].const_input_bytes = 5;
  // Emptied payloads (also a present empty vector read in) are absent, so none can sit off a 64 boundary.
  Bytes bytes = BuildSampleTxm(o);
  ASSERT_TRUE(testsupport::SetPayloadLength(bytes, 1, TxmPayload::kConstInput, -1, 0));
  T::TXMContentT content;
  ASSERT_EQ(talvex::Report(TxmReader::Parse(content, bytes.data(), bytes.size())), 0);
  content.models[1]->cores[0]->eu_params.AsNPUEUParams()->cmd.clear();
  TxmWriter w;
  w.Finish(content);
  bytes.assign(w.GetBufferPointer(), w.GetBufferPointer() + w.GetSize());
  EXPECT_EQ(bytes.size() % 64, 0u);
  testsupport::PayloadRef ref;
  for (auto kind : {TxmPayload::kCmd, TxmPayload::kWeight, TxmPayload::kConstInput}) {
    ASSERT_TRUE(testsupport::FindPayload(bytes, 0, kind, 0, &ref));
    EXPECT_EQ(ref.data_pos() % 64, 0u);
  }
  EXPECT_FALSE(testsupport::FindPayload(bytes, 1, TxmPayload::kConstInput, -1, &ref) ||
               testsupport::FindPayload(bytes, 1, TxmPayload::kCmd, 0, &ref));
}

TEST(TxmWriterTest, OutputPathRuleAndFiles) {
  using NT = T::NPUTarget;
  const std::vector<std::tuple<NT, std::string, std::string, int, int, std::string, std::string>> cases = {
      {NT::TZ400, "", "a.txm", 3, 2, ".x", "a.txm"},
      {NT::TZ1000, "x//y/", "", -1, -1, "", "x/y/models_1000.txm"},
      {NT::UNKNOW, "a//b", "", -1, 0, ".bak", "a/b/models_UNKNOW_core_0.txm.bak"},  // no "TZ" to remove
      {static_cast<NT>(9), "", "", 1, -1, "", "models__model_1.txm"}};  // beyond the last name
  for (const auto& [target, folder, name, model, core, postfix, want] : cases) {
    EXPECT_EQ(TxmWriter::OutputPath(target, folder, name, model, core, postfix), want);
  }
  TempDir dir;  // written and printed files are checked through -S; here what must not be written
  testing::internal::CaptureStdout();
  std::string path;
  EXPECT_EQ(talvex::Report(TxmWriter().Dump(BuildSampleTxmObject(), dir / "no/..", "", 7, -1, "", path)), -1);
  EXPECT_EQ(talvex::Report(TxmWriter().GenBin(dir / "x.txm")), -1);  // nothing finished to write
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(testsupport::DirEntries(dir.path()).empty());
}

TEST(TxmFuncTest, ReadTxmHeaderText) {
  auto header_text = [](const T::TXMContentT& txm, const std::string& key) { return TXM::ReadTxmHeader(txm, key); };
  const T::TXMContentT txm = BuildSampleTxmObject();
  EXPECT_EQ(header_text(txm, "target"), "TXM Header:\n  target: TZ400\n");
  EXPECT_EQ(header_text(txm, "Target"), "TXM Header:\n");
  SampleTxmOptions o;  // names out of range are empty; addresses are not cut
  o.header_buffer_info = {{T::Location::INPUT_BUFFER, 0x60000000, 1},
                          {static_cast<T::Location>(7), 0x1234567890ULL, 1}};
  o.target = static_cast<T::NPUTarget>(3);
  o.major = 2, o.minor = 0, o.revision = 10;
  EXPECT_EQ(header_text(BuildSampleTxmObject(o), ""),
            "TXM Header:\n  compiler_version: talvex_compiler 1.0\n  target: \n  schema version: v2.0.10\n"
            "  Buffer Information\n    location:INPUT_BUFFER\n       addr:0x60000000\n"
            "    location:\n       addr:0x1234567890\n");
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

TEST(TxmFuncTest, BufferLayoutAndTextView) {
  SampleTxmOptions o;  // a later entry for the same Location wins
  o.header_buffer_info = {{T::Location::OUTPUT_BUFFER, 0x200, 0x20}, {T::Location::INPUT_BUFFER, 0x100, 0x10},
                          {T::Location::OUTPUT_BUFFER, 0x300, 0x30}};
  const TXM::BufferLayout want = {{T::Location::INPUT_BUFFER, {0x100, 0x10}},
                                  {T::Location::OUTPUT_BUFFER, {0x300, 0x30}}};
  EXPECT_EQ(TXM::GetHeaderBufferInfo(BuildSampleTxmObject(o)), want);
  EXPECT_TRUE(TXM::GetHeaderBufferInfo(T::TXMContentT()).empty());  // no header at all

  // The text view is checked as JSON end to end through -j; here that its file is replaced whole.
  T::TXMContentT txm;
  txm.magic = 7;
  TempDir dir;
  testsupport::WriteText(dir / "view.json", std::string(5000, 'x'));
  EXPECT_EQ(talvex::Report(TXM::DumpDebugText(txm, dir / "view.json", false)), 0);
  EXPECT_EQ(testsupport::ReadText(dir / "view.json"), "{\n  \"magic\": 7\n}");
  EXPECT_EQ(talvex::Report(TXM::DumpDebugText(txm, dir / "no/such/dir/view.json", true)), -1);
  EXPECT_FALSE(testsupport::Exists(dir / "no"));
}

// Packed bytes of one model on its own: equal bytes mean equal trees.
Bytes ModelBytes(const T::ModelT& model) {
  T::TXMContentT c;
  c.models.push_back(std::make_unique<T::ModelT>(model));
  return PackTxm(c);
}

template <typename Core>
auto& Npu(Core& core) {
  return *core.eu_params.AsNPUEUParams();
}

// fn must throw a TalvexException with exactly "<name of code>: <text>".
void ExpectThrows(const std::function<void()>& fn, const std::string& text,
                  ErrorCode code = ErrorCode::UnexpectedValue) {
  try {
    fn();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const TalvexException& e) {
    EXPECT_EQ(e.what(), (code == ErrorCode::UnexpectedValue ? "UnexpectedValue: " : "InvalidProgramInput: ") + text);
  }
}

TEST(TxmCombine, CopiesEveryModelWithTheGivenLayoutOrRefusesMismatches) {
  SampleTxmOptions one, moved, tz1000, no_input;
  one.models.resize(1);  // id 1 again: ids are kept
  moved.header_buffer_info[0].start_addr = 0x60000040;
  tz1000.target = T::NPUTarget::TZ1000;
  no_input.header_buffer_info = {{T::Location::OUTPUT_BUFFER, 0x60000000, 16}};
  std::vector<T::TXMContentT> txms;
  txms.push_back(BuildSampleTxmObject());
  txms.push_back(BuildSampleTxmObject(one));
  T::TXMContentT out;
  ASSERT_EQ(talvex::Report(TXM::CombineTxm(out, txms, {{T::Location::WORKING_BUFFER, {0x90000000, 0x100}},
                                        {T::Location::INPUT_BUFFER, {0x80000000, 0x40}}})), 0);
  ASSERT_EQ(out.header->buffer_info.size(), 2u);  // ascending Location order
  EXPECT_EQ(std::make_tuple(out.magic, out.header->compiler_version, out.header->buffer_info[0]->buffer,
                            out.header->buffer_info[0]->start_addr, out.header->buffer_info[1]->len),
            std::make_tuple(txms[0].magic, "talvex_compiler 1.0", T::Location::INPUT_BUFFER, 0x80000000u, 0x100u));
  ASSERT_EQ(out.models.size(), 3u);
  EXPECT_EQ(ModelBytes(*out.models[2]), ModelBytes(*txms[1].models[0]));

  out.magic = 77;
  txms[1] = BuildSampleTxmObject(moved);
  testing::internal::CaptureStdout();
  EXPECT_EQ(talvex::Report(TXM::CombineTxm(out, txms, {})), -1);
  txms[1] = BuildSampleTxmObject(tz1000);
  EXPECT_EQ(talvex::Report(TXM::CombineTxm(out, txms, {})), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Input addr should be the same, root:1610612736, another:1610612800\nTXM target did not match!\n");
  txms[1] = BuildSampleTxmObject(no_input);
  ExpectThrows([&] { (void)TXM::CombineTxm(out, txms, {}); }, "There is no match buffer");
  ExpectThrows([&] { (void)TXM::CombineTxm(out, {}, {}); }, "No TXM content to combine");
  EXPECT_EQ(out.magic, 77u);  // untouched by every refusal
  txms.pop_back();
  ASSERT_EQ(talvex::Report(TXM::CombineTxm(out, txms, {})), 0);
  EXPECT_TRUE(out.header->buffer_info.empty());
}

TEST(TxmTrimCore, RefusalsAndAddressFiles) {
  TempDir dir;
  const std::string path = dir / "addr.json";
  SampleTxmOptions o;
  o.models.resize(1);
  o.header_buffer_info.pop_back();  // no CPU_TEMP_BUFFER: its member is never read
  const T::TXMContentT txm = BuildSampleTxmObject(o);
  const Bytes before = PackTxm(txm);
  T::TXMContentT out;
  testsupport::WriteText(path, R"({"input_addr":"0x1","output_addr":"0X2","dram_base_addr":"00003"})");
  ASSERT_EQ(talvex::Report(TXM::TrimCore(out, txm, 0, path)), 0);
  EXPECT_EQ(out.models[0]->header->buffer_info[2]->start_addr, 3u);
  EXPECT_EQ(PackTxm(txm), before);  // the source stays as it was

  T::TXMContentT bare = BuildSampleTxmObject(o);  // a core without a payload cannot run on its own
  bare.models[0]->cores[0]->eu_params.Reset();
  ExpectThrows([&] { (void)TXM::TrimCore(out, bare, 0, path); }, "Unknown eu_params:[0]", ErrorCode::InvalidProgramInput);
  o.header_buffer_info.push_back({T::Location::WEIGHT_SEGMENT, 0x70000000, 64});
  ExpectThrows([&] { (void)TXM::TrimCore(out, BuildSampleTxmObject(o), 0, path); }, "Undefinded buffer:[4]",
               ErrorCode::InvalidProgramInput);

  out.magic = 99;
  const std::string hex = "[" + path + "] addr for key [input_addr] should be a hexadecimal text of 32 bits, not [";
  // Values that are not 32-bit hexadecimal text would become wrong addresses (bad digits: model_modes_test).
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "json constructed from [" + path + "] is null"},
      {R"({"input_addr":"0x1","output_addr":"0x2"})", "[" + path + "] should contains addr for key [dram_base_addr]"},
      {R"({"input_addr": "0x100000000"})", hex + "0x100000000]"},
      {R"({"input_addr": 1610612736})", hex + "1610612736]"}};
  for (const auto& [text, message] : cases) {
    testsupport::WriteText(path, text);
    ExpectThrows([&] { (void)TXM::TrimCore(out, txm, 0, path); }, message, ErrorCode::InvalidProgramInput);
  }
  EXPECT_EQ(out.magic, 99u);  // nothing produced by any failure
}

TEST(TxmEdit, UpdateWeight) {
  TempDir dir;
  const Bytes weight = testsupport::PayloadBytes(48, 3);
  testsupport::WriteBytes(dir / "w.bin", weight);
  T::TXMContentT txm = BuildSampleTxmObject();
  ASSERT_EQ(talvex::Report(TXM::UpdateWeight(txm, 2, 3, dir / "w.bin", 1)), 0);  // core 3 sits in model 2's LOOP core
  EXPECT_EQ(std::make_tuple(Npu(*txm.models[1]->cores[2]->exe_unit[0]).weight, txm.models[1]->header->wt_ref_model_id),
            std::make_tuple(weight, 1));
  const Bytes before = PackTxm(txm);
  testing::internal::CaptureStderr();
  EXPECT_EQ(talvex::Report(TXM::UpdateWeight(txm, 1, 0, dir / "none.bin", 2)), -1);
  EXPECT_EQ(talvex::Report(TXM::UpdateWeight(txm, 9, 0, dir / "w.bin", 2)), -2);
  EXPECT_EQ(talvex::Report(TXM::UpdateWeight(txm, 1, 9, dir / "w.bin", 2)), -3);
  EXPECT_EQ(talvex::Report(TXM::UpdateWeight(txm, -1, 1, dir / "w.bin", 2)), -4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to read the file: " + dir / "none.bin" + "\nUnable to find the model with the id: 9\n"
            "Without weight field for the EUParamsType: 2\n");
  EXPECT_EQ(PackTxm(txm), before);

}

// The fast unpacking of post-encryption must give exactly the tree of the reader.
TEST(TxmPostEnc, UnpackTxmMatchesTheReaderAndOutputNames) {
  SampleTxmOptions big;
  big.models[0].cmd_bytes = 4096, big.models[0].weight_bytes = 8192, big.models[1].const_input_bytes = 0;
  for (const auto& options : {SampleTxmOptions(), big}) {
    const Bytes txm = BuildSampleTxm(options);
    T::TXMContentT plain, fast;
    ASSERT_TRUE(TxmReader::Parse(plain, txm.data(), txm.size()).ok());
    ASSERT_TRUE(BNXUtils::UnpackTxm(fast, txm.data(), txm.size()).ok());
    EXPECT_EQ(PackTxm(fast), PackTxm(plain));
    EXPECT_EQ(Npu(*fast.models[0]->cores[0]).weight, Npu(*plain.models[0]->cores[0]).weight);
  }
  // Which key wins is checked end to end (post_enc_test); a given name keeps its extension.
  EXPECT_EQ(BNXUtils::EncOutputName("400", ""), "models_400.enc");
  EXPECT_EQ(BNXUtils::EncOutputName("100", "x.bnx"), "x.bnx.enc");
}

TEST(TxmPostEnc, RefusalsLeaveTheWholeTreeUnchanged) {
  // Model 1 always passes; a fault in model 2 must not leave model 1 scrambled either.
  const std::vector<std::pair<std::function<void(T::TXMContentT&)>, std::string>> cases = {
      {[](auto& t) { t.models[1]->header->encrypt_info->mode = T::EncryptedMode::DEFAULT; },
       "the model should not be encryped"},
      {[](auto& t) { auto& l = t.models[1]->cores[2]; l->exe_unit.push_back(std::make_unique<T::CoreT>(*l)); },
       "sub core should be NPU or CPU core"},
      {[](auto& t) { Npu(*t.models[1]->cores[0]).weight.resize(1000); },
       "Model[2] Core[0] weight of 1000 bytes: length % 16 == 0"}};
  for (const auto& [spoil, text] : cases) {
    T::TXMContentT txm = BuildSampleTxmObject();
    spoil(txm);
    const Bytes before = PackTxm(txm);
    ExpectThrows([&] { (void)TXM::PostEnc(txm, 0x1234, 0, ""); }, text);
    EXPECT_EQ(PackTxm(txm), before) << text;
  }
  T::TXMContentT txm = BuildSampleTxmObject();
  EXPECT_THROW(TXM::PostEnc(txm, 0, 0x1234, "/nonexistent/key.bin"), std::runtime_error);
  EXPECT_EQ(PackTxm(txm), PackTxm(BuildSampleTxmObject()));
  // The scrambled payloads are checked end to end (post_enc_test); an eFuse pass keeps stored key bytes.
  txm.models[0]->header->encrypt_info->key = {1, 2, 3};
  ASSERT_EQ(TXM::PostEnc(txm, 0x1234, 0, ""), 0);
  EXPECT_EQ(txm.models[0]->header->encrypt_info->key, (Bytes{1, 2, 3}));
}

}  // namespace
