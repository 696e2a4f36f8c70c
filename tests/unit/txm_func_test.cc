// Namespace TXM: loading, header print, alignment check, buffer layout, text view.
#include <gtest/gtest.h>

#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"

namespace T = TalvexTXM;
using testsupport::BuildSampleTxm;
using testsupport::BuildSampleTxmObject;
using testsupport::TempDir;
using testsupport::TxmPayload;

namespace {

std::string HeaderText(const T::TXMContentT& txm, const std::string& key) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(TXM::ReadTxmHeader(txm, key), 0);
  return testing::internal::GetCapturedStdout();
}

TEST(TxmFuncTest, LoadTxmObjAddsItsLineAfterTheReaders) {
  TempDir dir;
  T::TXMContentT txm;
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::LoadTxmObj(txm, dir / "none.txm"), 100);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to parse the txm file: " + dir / "none.txm" + "\n");

  testsupport::WriteBytes(dir / "bad.txm", std::vector<uint8_t>(100, 0xFF));
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::LoadTxmObj(txm, dir / "bad.txm"), 102);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Not a valid TXM file.\nFailed to parse the txm file: " + dir / "bad.txm" + "\n");
}

TEST(TxmFuncTest, LoadTxmObjsStopsAtFirstFailure) {
  TempDir dir;
  testsupport::WriteSampleTxm(dir / "a.txm");
  testsupport::SampleTxmOptions o;
  o.models = {o.SampleModel(9)};
  testsupport::WriteSampleTxm(dir / "c.txm", o);
  testsupport::WriteBytes(dir / "bad.txm", {1, 2, 3, 4, 5, 6, 7, 8});

  std::vector<T::TXMContentT> txms;
  EXPECT_EQ(TXM::LoadTxmObjs(txms, {dir / "a.txm", dir / "c.txm"}), 0);
  ASSERT_EQ(txms.size(), 2u);
  EXPECT_EQ(txms[1].models[0]->header->id, 9);

  txms.clear();
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::LoadTxmObjs(txms, {dir / "a.txm", dir / "bad.txm", dir / "c.txm"}), 102);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(txms.size(), 1u);
}

TEST(TxmFuncTest, ReadTxmHeaderText) {
  const T::TXMContentT txm = BuildSampleTxmObject();
  EXPECT_EQ(HeaderText(txm, ""),
            "TXM Header:\n"
            "  compiler_version: talvex_compiler 1.0\n"
            "  target: TZ400\n"
            "  schema version: v1.2.3\n"
            "  Buffer Information\n"
            "    location:INPUT_BUFFER\n"
            "       addr:0x60000000\n"
            "    location:OUTPUT_BUFFER\n"
            "       addr:0x60040000\n"
            "    location:WORKING_BUFFER\n"
            "       addr:0x60050000\n"
            "    location:CPU_TEMP_BUFFER\n"
            "       addr:0x60150000\n");
  EXPECT_EQ(HeaderText(txm, "target"), "TXM Header:\n  target: TZ400\n");
  EXPECT_EQ(HeaderText(txm, "compiler_version"),
            "TXM Header:\n  compiler_version: talvex_compiler 1.0\n");
  EXPECT_EQ(HeaderText(txm, "schema_version"), "TXM Header:\n  schema version: v1.2.3\n");
  EXPECT_EQ(HeaderText(txm, "crc"), "TXM Header:\n");
  EXPECT_EQ(HeaderText(txm, "Target"), "TXM Header:\n");
}

TEST(TxmFuncTest, ReadTxmHeaderNamesAndAddresses) {
  testsupport::SampleTxmOptions o;
  o.header_buffer_info = testsupport::AllLocationsBufferInfo(0xABC);
  o.header_buffer_info.push_back({static_cast<T::Location>(7), 0x1234567890ULL, 1});
  o.target = static_cast<T::NPUTarget>(3);
  o.major = 2;
  o.minor = 0;
  o.revision = 10;
  o.models.clear();
  const T::TXMContentT txm = BuildSampleTxmObject(o);
  EXPECT_EQ(HeaderText(txm, "buffer_info"),
            "TXM Header:\n"
            "  Buffer Information\n"
            "    location:UNKNOW\n       addr:0xabc\n"
            "    location:INPUT_BUFFER\n       addr:0x10abc\n"
            "    location:OUTPUT_BUFFER\n       addr:0x20abc\n"
            "    location:WORKING_BUFFER\n       addr:0x30abc\n"
            "    location:WEIGHT_SEGMENT\n       addr:0x40abc\n"
            "    location:CONST_INPUT_SEGMENT\n       addr:0x50abc\n"
            "    location:CPU_TEMP_BUFFER\n       addr:0x60abc\n"
            "    location:\n       addr:0x1234567890\n");
  EXPECT_EQ(HeaderText(txm, "target"), "TXM Header:\n  target: \n");
  EXPECT_EQ(HeaderText(txm, "schema_version"), "TXM Header:\n  schema version: v2.0.10\n");
}

// ---- CheckAlignment ----

std::string CheckErr(const std::vector<uint8_t>& bytes, int* ret) {
  testing::internal::CaptureStderr();
  *ret = TXM::CheckAlignment(bytes.data(), bytes.size());
  return testing::internal::GetCapturedStderr();
}

TEST(TxmFuncTest, CheckAlignmentAcceptsWellFormedFiles) {
  int ret = -2;
  EXPECT_EQ(CheckErr(BuildSampleTxm(), &ret), "");
  EXPECT_EQ(ret, 0);
  testsupport::SampleTxmOptions o;
  o.models.clear();
  EXPECT_EQ(CheckErr(BuildSampleTxm(o), &ret), "");
  EXPECT_EQ(ret, 0);
}

TEST(TxmFuncTest, CheckAlignmentNamesEachMisalignedPayload) {
  int ret = 0;
  std::vector<uint8_t> bytes = BuildSampleTxm();
  size_t pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kConstInput, -1);
  ASSERT_NE(pos, 0u);
  EXPECT_EQ(pos % 64, 4u);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[1] const_input_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
  EXPECT_EQ(ret, -1);

  bytes = BuildSampleTxm();
  pos = testsupport::ShiftPayload(bytes, 1, TxmPayload::kCmd, 0, 8);
  ASSERT_NE(pos, 0u);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[2] Core[0] cmd_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
  EXPECT_EQ(ret, -1);

  bytes = BuildSampleTxm();
  pos = testsupport::ShiftPayload(bytes, 1, TxmPayload::kWeight, 0, 60);
  ASSERT_NE(pos, 0u);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[2] Core[0] weight_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
  EXPECT_EQ(ret, -1);
}

TEST(TxmFuncTest, CheckAlignmentSearchesLoopCores) {
  int ret = 0;
  std::vector<uint8_t> bytes = BuildSampleTxm();
  size_t pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kCmd, 3);
  ASSERT_NE(pos, 0u);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[1] Core[3] cmd_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
  EXPECT_EQ(ret, -1);
}

TEST(TxmFuncTest, CheckAlignmentReportsFirstFaultOnly) {
  // const_input is checked before the cores, and models in order.
  int ret = 0;
  std::vector<uint8_t> bytes = BuildSampleTxm();
  size_t cmd_pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kCmd, 0);
  testsupport::ShiftPayload(bytes, 1, TxmPayload::kConstInput, -1);
  ASSERT_NE(cmd_pos, 0u);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[1] Core[0] cmd_pos[" + std::to_string(cmd_pos) + "] not align 64 in txm\n");
  size_t ci_pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kConstInput, -1);
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[1] const_input_pos[" + std::to_string(ci_pos) + "] not align 64 in txm\n");
}

TEST(TxmFuncTest, CheckAlignmentChecksPresentEmptyVectors) {
  int ret = -2;
  std::vector<uint8_t> bytes = BuildSampleTxm();
  ASSERT_TRUE(testsupport::SetPayloadLength(bytes, 0, TxmPayload::kWeight, 0, 0));
  EXPECT_EQ(CheckErr(bytes, &ret), "");
  EXPECT_EQ(ret, 0);
  size_t pos = testsupport::ShiftPayload(bytes, 0, TxmPayload::kCmd, 0);
  ASSERT_TRUE(testsupport::SetPayloadLength(bytes, 0, TxmPayload::kCmd, 0, 0));
  EXPECT_EQ(CheckErr(bytes, &ret),
            "Model[1] Core[0] cmd_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
}

TEST(TxmFuncTest, CheckAlignmentOnFiles) {
  TempDir dir;
  testsupport::WriteSampleTxm(dir / "ok.txm");
  EXPECT_EQ(TXM::CheckAlignment(dir / "ok.txm"), 0);

  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::CheckAlignment(dir / "missing.txm"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a valid TXM file.\n");
  testsupport::WriteBytes(dir / "four.txm", {8, 0, 0, 0});
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::CheckAlignment(dir / "four.txm"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not a valid TXM file.\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::CheckAlignment(dir.path()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to read the file: " + dir.path() + "\n");

  std::vector<uint8_t> bytes = BuildSampleTxm();
  size_t pos = testsupport::ShiftPayload(bytes, 1, TxmPayload::kWeight, 3);
  testsupport::WriteBytes(dir / "bad.txm", bytes);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TXM::CheckAlignment(dir / "bad.txm"), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Model[2] Core[3] weight_pos[" + std::to_string(pos) + "] not align 64 in txm\n");
}

// ---- Buffer layout ----

TEST(TxmFuncTest, HeaderBufferInfoLaterEntryWins) {
  testsupport::SampleTxmOptions o;
  o.header_buffer_info = {{T::Location::OUTPUT_BUFFER, 0x200, 0x20},
                          {T::Location::INPUT_BUFFER, 0x100, 0x10},
                          {T::Location::OUTPUT_BUFFER, 0x300, 0x30}};
  std::vector<T::TXMContentT> txms;
  txms.push_back(BuildSampleTxmObject(o));
  txms.push_back(BuildSampleTxmObject());
  txms.emplace_back();  // no header at all

  TXM::BufferLayout layout = TXM::GetHeaderBufferInfo(txms[0]);
  ASSERT_EQ(layout.size(), 2u);
  auto it = layout.begin();
  EXPECT_EQ(it->first, T::Location::INPUT_BUFFER);
  EXPECT_EQ(it->second, std::make_pair(uint64_t{0x100}, uint64_t{0x10}));
  ++it;
  EXPECT_EQ(it->first, T::Location::OUTPUT_BUFFER);
  EXPECT_EQ(it->second, std::make_pair(uint64_t{0x300}, uint64_t{0x30}));

  std::vector<TXM::BufferLayout> all = TXM::GetHeaderBufferInfos(txms);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], layout);
  EXPECT_EQ(all[1].size(), 4u);
  EXPECT_EQ(all[1].at(T::Location::CPU_TEMP_BUFFER), std::make_pair(uint64_t{0x60150000}, uint64_t{0x10000}));
  EXPECT_TRUE(all[2].empty());
}

// ---- Text view ----

T::TXMContentT SmallTxm() {
  T::TXMContentT txm;
  txm.magic = 7;
  txm.header = std::make_unique<T::TXMHeaderT>();
  txm.header->target = T::NPUTarget::TZ400;
  txm.header->compiler_version = "c";
  auto model = std::make_unique<T::ModelT>();
  model->header = std::make_unique<T::ModelHeaderT>();
  model->header->id = 5;
  auto core = std::make_unique<T::CoreT>();
  core->header = std::make_unique<T::CoreHeaderT>();
  core->header->id = 3;
  T::NPUEUParamsT npu;
  npu.cmd = {9};
  core->eu_params.Set(std::move(npu));
  model->cores.push_back(std::move(core));
  model->const_input = {1, 2};
  txm.models.push_back(std::move(model));
  return txm;
}

const char* const kSmallText =
    "{\n"
    "  \"magic\": 7,\n"
    "  \"header\": {\n"
    "    \"target\": \"TZ400\",\n"
    "    \"compiler_version\": \"c\"\n"
    "  },\n"
    "  \"models\": [\n"
    "    {\n"
    "      \"header\": {\n"
    "        \"id\": 5\n"
    "      },\n"
    "      \"cores\": [\n"
    "        {\n"
    "          \"header\": {\n"
    "            \"id\": 3\n"
    "          },\n"
    "          \"eu_params_type\": \"NPUEUParams\",\n"
    "          \"eu_params\": {\n"
    "            \"cmd\": [\n"
    "              9\n"
    "            ]\n"
    "          }\n"
    "        }\n"
    "      ],\n"
    "      \"const_input\": [\n"
    "        1,\n"
    "        2\n"
    "      ]\n"
    "    }\n"
    "  ]\n"
    "}";

TEST(TxmFuncTest, DebugTextShape) { EXPECT_EQ(TXM::GetDebugText(SmallTxm()), kSmallText); }

TEST(TxmFuncTest, DebugTextNamesEnumsAndOptions) {
  const std::string text = TXM::GetDebugText(BuildSampleTxmObject());
  EXPECT_NE(text.find("\"opcode_index\": \"Conv\""), std::string::npos);
  EXPECT_NE(text.find("\"builtin_options_type\": \"ConvOptions\""), std::string::npos);
  EXPECT_NE(text.find("\"location\": \"CPU_TEMP_BUFFER\""), std::string::npos);
  EXPECT_NE(text.find("\"eu_params_type\": \"LoopEUParams\""), std::string::npos);
  EXPECT_NE(text.find("\"mode\": \"NoEnc\""), std::string::npos);
  EXPECT_NE(text.find("\"name\": \"loop_cond\""), std::string::npos);
}

TEST(TxmFuncTest, DumpDebugTextWritesAndReplaces) {
  TempDir dir;
  testsupport::WriteText(dir / "view.json", std::string(5000, 'x'));
  EXPECT_EQ(TXM::DumpDebugText(SmallTxm(), dir / "view.json", false), 0);
  EXPECT_EQ(testsupport::ReadText(dir / "view.json"), kSmallText);
  EXPECT_EQ(TXM::DumpDebugText(SmallTxm(), dir / "no/such/dir/view.json", true), -1);
  EXPECT_FALSE(testsupport::Exists(dir / "no"));
}

}  // namespace
