// The TXM model report: its record readers, memory summary, framed model blocks, payload files.
#include <gtest/gtest.h>

#include "common/logger.h"

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "cli/txm_report.h"
#include "common/output_dir.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

namespace T = TalvexTXM;
using testsupport::PackTxm;
using testsupport::SampleBufferInfo;
using testsupport::SampleTxmOptions;
using testsupport::TxmPayload;

BNXUtils::TXM_TENSOR ReadTensor(const T::TensorT& t) {
  flatbuffers::FlatBufferBuilder fbb;
  fbb.Finish(T::Tensor::Pack(fbb, &t));
  return BNXUtils::ReadTXMTensorInfo(flatbuffers::GetRoot<T::Tensor>(fbb.GetBufferPointer()));
}

TEST(TxmReportRecords, TensorShapeFollowsTheChannelDimension) {
  // Shape, ch_dim, and the (batch, ch, row, col) read from them; never past the shape.
  const std::vector<std::tuple<std::vector<int32_t>, uint8_t, std::vector<uint32_t>>> shapes = {
      {{2, 5, 7, 11}, 3, {2, 11, 7, 5}}, {{2, 5, 7, 11}, 0, {5, 2, 7, 11}}, {{2, 5, 7, 11}, 4, {2, 5, 7, 11}},
      {{2, 5, 7, 11, 13}, 4, {2, 13, 7, 11}}, {{4, 6}, 0, {6, 4, 0, 0}}, {{}, 3, {0, 0, 0, 0}}};
  for (const auto& [shape, ch_dim, dims] : shapes) {
    T::TensorT t = testsupport::SampleTensor("x", T::Location::CPU_TEMP_BUFFER, shape, 0x123456789ULL);
    t.ch_dim = ch_dim;
    const BNXUtils::TXM_TENSOR r = ReadTensor(t);
    EXPECT_EQ((std::vector<uint32_t>{r.shape_batch, r.shape_ch, r.shape_row, r.shape_col}), dims);
    EXPECT_EQ(r.buffer_entry, 0x23456789u);  // truncated to 32 bits
  }
}

class TxmReportFile : public testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name) {
    testsupport::WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  std::string Write(const SampleTxmOptions& o, const std::string& name) {
    return Write(testsupport::BuildSampleTxm(o), name);
  }
  int Report(const std::string& path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int r = GetTXMModelInfo(path);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return r;
  }
  testsupport::TempDir dir_;
  std::string out_, err_;
};

// A framed line of plain ASCII content: 60 characters between the bars.
std::string Box(const std::string& ascii) {
  return "\xE2\x94\x82" + ascii + std::string(ascii.size() < 60 ? 60 - ascii.size() : 0, ' ') + "\xE2\x94\x82\n";
}
// "0x{:x}" centred in 12, as the payload lines show a file offset.
std::string Centred(size_t offset) {
  char hex[32];
  const int n = std::snprintf(hex, sizeof hex, "0x%zx", offset);
  return std::string((12 - n) / 2, ' ') + hex + std::string(12 - n - (12 - n) / 2, ' ');
}

TEST_F(TxmReportFile, ReportOfAFileLineByLine) {
  SampleTxmOptions o;
  o.models = {o.SampleModel(1), o.SampleModel(26)};
  o.models[1].encrypt_mode = static_cast<T::EncryptedMode>(7);
  o.models[1].cmd_bytes = 0;  // an empty payload still gets its file
  // Model buffers are taken by position, whatever their Location says; 32-bit values wrap.
  o.models[1].buffer_info = std::vector<SampleBufferInfo>{
      {T::Location::WEIGHT_SEGMENT, 0x11, 0xFFFFFFFF}, {T::Location::INPUT_BUFFER, 0x21, 0x1'0000'0022ULL},
      {T::Location::CPU_TEMP_BUFFER, 0x1'0000'0031ULL, 0x32}, {T::Location::OUTPUT_BUFFER, 0x41, 0x42},
      {T::Location::UNKNOW, 0, 0x1000}};  // only the first four count
  T::TXMContentT obj = testsupport::BuildSampleTxmObject(o);
  obj.models[1]->header->outputs.clear();
  const std::vector<uint8_t> bytes = PackTxm(obj);
  BNXUtils::SetOutputDir(dir_ / "out");
  ASSERT_EQ(Report(Write(bytes, "m.txm")), 0) << err_;
  testsupport::PayloadRef wt;
  ASSERT_TRUE(testsupport::FindPayload(bytes, 1, TxmPayload::kWeight, 0, &wt));
  const std::string rule = Box(std::string(60, '='));
  std::string bar;
  for (int i = 0; i < 50; ++i) bar += "\xE2\x94\x80";
  // Header buffers 0x60000000..0x60160000; model buffers 0xa6000 + 0x1'00000095 = 0xa6095 (32 bits).
  const std::string summary =
      "DDR start addr                 = [0x60000000]\nDDR end addr                   = [0x60160000]\n"
      "DDR space needed               = [0x00206095] : 2.02 MB\n"
      "Model size(no heading buff)    = [0x000a6095] : 0.65 MB\n\n\xE2\x94\x8C Model #1 ";
  EXPECT_EQ(out_.substr(0, summary.size()), summary);
  const std::string block =
      "\xE2\x94\x8C Model #2 " + bar + "\xE2\x94\x90\n" + Box("") + Box("Model ID        = [26]:[0x1a]") +
      Box("Encryption Mode = [7]:[]") + Box("") + Box("Addr(IN/OUT/WBUF)") +
      Box("    [ input]    0x11    L = 4294967295 : 0xffffffff") +
      Box("    [output]    0x21    L =       34 : 0x00000022") +
      Box("    [  wbuf]    0x31    L =       50 : 0x00000032") + Box("") + Box("Addr(CMD/WT)") +
      Box("    < 0 > Core :") + Box("      [   cmd] " + Centred(0) + "L =        0 : 0x00000000") +
      Box("      [weight] " + Centred(wt.data_pos()) + "L =     1024 : 0x00000400") +
      Box("    < 1 > Core :") + Box("      [Display unsupported EUParams type: 2]") +
      Box("    < 2 > Core :") + Box("      [Display unsupported EUParams type: 3]") + Box("") + rule + Box("") +
      Box("setup.bin format = [TXM format]") + Box("Input node info:") + Box("    < 0 > Name  = input") +
      Box("    < 0 > Format                       = 2") +
      Box("    < 0 > Shape (batch, ch, row, col)  = (1, 3, 224, 224)") + Box("    < 0 > Quantization :") +
      Box("           fxp_info [0] (scale, radix) = (0.500, 7)") + Box("    < 0 > Buffer :") +
      Box("           [entry]                    0 : 0x00000000") +
      Box("           [  len]               150528 : 0x00024c00") + Box("") + Box("Output node info:") + rule +
      Box("Model cores info: ") + Box("    < 0 > ID    = 0") + Box("    < 0 > eu params type = NPU EUParams") +
      Box("    < 0 > cmd address = 0") + Box("    < 0 > cmd size = 0") +
      Box("    < 0 > weight address = " + std::to_string(wt.data_pos())) + Box("    < 0 > weight size = 1024") +
      Box("    < 1 > ID    = 1") + Box("    < 1 > eu params type = CPU EUParams") +
      Box("    < 2 > ID    = 2") + Box("    < 2 > eu params type = LOOP EUParams") +
      Box("    < 2 > max trip count = 4") + "\xE2\x94\x94" + bar + " Model #2 \xE2\x94\x98\n\n";
  EXPECT_EQ(out_.substr(out_.size() - block.size()), block);

  // Per model id and core position, the core's own cmd / weight bytes; empty ones too.
  const T::NPUEUParamsT& npu = *obj.models[0]->cores[0]->eu_params.AsNPUEUParams();
  EXPECT_EQ(testsupport::ReadBytes(dir_ / "out/model_1_core_0_cmd_buffer.bin"), npu.cmd);
  EXPECT_EQ(testsupport::ReadBytes(dir_ / "out/model_1_core_0_weight_buffer.bin"), npu.weight);
  EXPECT_EQ(testsupport::DirEntries(dir_ / "out").size(), 12u);  // 2 models, 3 cores, 2 files
  EXPECT_TRUE(testsupport::ReadBytes(dir_ / "out/model_26_core_0_cmd_buffer.bin").empty());
  EXPECT_EQ(talvex::FramedLine("\xC3\xA9t\xC3\xA9").size(), 6 + 5 + 57 + 1u);  // "été" is padded by characters
}

TEST_F(TxmReportFile, HostileFilesAreRefused) {
  SampleTxmOptions no_header, short_model, none;
  no_header.models[1].with_header = false;
  short_model.models[1].buffer_info = testsupport::DefaultModelBufferInfo(1, 10);
  short_model.models[1].buffer_info->pop_back();
  none.models.clear();
  const std::string layout = "Failed to read the memory layout of the TXM file: ";
  const std::string unread = "Failed to read the TXM file: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Write(no_header, "a.txm"), layout}, {Write(short_model, "b.txm"), layout},
      {Write(none, "none.txm"), "No model in the TXM file: "}, {dir_ / "missing.txm", unread},
      {Write(std::vector<uint8_t>(64, 0xFF), "junk.txm"), unread}};
  BNXUtils::SetOutputDir(dir_ / "out");
  for (const auto& [path, message] : cases) {
    EXPECT_EQ(Report(path), -1) << path;
    EXPECT_EQ(out_, "") << path;
    EXPECT_NE(err_.find(message + path), std::string::npos) << err_;
    BNXUtils::BNX_CONTENT_TXM all;
    EXPECT_EQ(talvex::Report(BNXUtils::GetTXMAll(path, all)), message == layout || message == unread ? -1 : 0) << path;
  }
  EXPECT_TRUE(testsupport::DirEntries(dir_ / "out").empty());
  BNXUtils::MODEL_HEADER h;
  EXPECT_EQ(talvex::Report(BNXUtils::ReadTXMModelInfo(cases[1].first, 1, h)), -1);  // three buffers
  EXPECT_EQ(talvex::Report(BNXUtils::ReadTXMModelInfo(cases[0].first, 2, h)), -1);  // no such model
}

}  // namespace
