// The TXM model report: memory summary, framed model blocks, per-core payload files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/txm_report.h"
#include "common/output_dir.h"
#include "support/run.h"
#include "support/txm_builder.h"

namespace {

namespace T = TalvexTXM;
using BNXUtils::MODEL_CORES;
using BNXUtils::MODEL_INFO;
using BNXUtils::TXM_TENSOR;
using testsupport::TempDir;

// Box parts, in UTF-8.
const std::string kV = "\xE2\x94\x82";   // │ U+2502
const std::string kH = "\xE2\x94\x80";   // ─ U+2500
const std::string kTL = "\xE2\x94\x8C";  // ┌ U+250C
const std::string kTR = "\xE2\x94\x90";  // ┐ U+2510
const std::string kBL = "\xE2\x94\x94";  // └ U+2514
const std::string kBR = "\xE2\x94\x98";  // ┘ U+2518

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// A framed line of plain ASCII content: 60 characters between the bars.
std::string Box(const std::string& ascii) {
  return kV + ascii + std::string(ascii.size() < 60 ? 60 - ascii.size() : 0, ' ') + kV + "\n";
}

size_t CodePoints(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

TEST(TxmModelReport, FramedLineWidth) {
  EXPECT_EQ(FramedLine(""), kV + std::string(60, ' ') + kV + "\n");
  EXPECT_EQ(FramedLine("Addr(CMD/WT)"),
            kV + "Addr(CMD/WT)                                                " + kV + "\n");
  // Longer text is never cut, and non-ASCII text is padded by characters, not bytes.
  EXPECT_EQ(FramedLine(std::string(70, 'n')), kV + std::string(70, 'n') + kV + "\n");
  EXPECT_EQ(CodePoints(FramedLine("\xC3\xA9t\xC3\xA9")), 63u);  // "été", bars, line feed
}

TEST(TxmModelReport, MemorySummary) {
  BNXUtils::ModelMemory mm;
  mm.DDR_start_addr = 0x60000000;
  mm.DDR_end_addr = 0x60400000;
  mm.DDR_space_needed = 1048576;
  mm.model_size_no_header_buff = 0x280000;
  EXPECT_EQ(GetMemoryInfoStr(mm),
            "DDR start addr                 = [0x60000000]\n"
            "DDR end addr                   = [0x60400000]\n"
            "DDR space needed               = [0x00100000] : 1.00 MB\n"
            "Model size(no heading buff)    = [0x00280000] : 2.50 MB\n"
            "\n");
  mm = {};
  mm.DDR_space_needed = 0xFFFFFFFF;
  EXPECT_NE(GetMemoryInfoStr(mm).find("= [0xffffffff] : 4096.00 MB\n"), std::string::npos);
}

TXM_TENSOR Tensor(const std::string& name) {
  TXM_TENSOR t;
  t.name = name;
  t.format = 3;
  t.shape_batch = 1;
  t.shape_ch = 3;
  t.shape_row = 224;
  t.shape_col = 224;
  t.quantParam.scale = {0.5f, 0.25f};
  t.quantParam.radix = {7, 6};
  t.buffer_entry = 0x60000000;
  t.buffer_len = 150528;
  return t;
}

MODEL_INFO SampleInfo() {
  MODEL_INFO info;
  BNXUtils::MODEL_HEADER& h = info.model_header;
  h.model_id = 26;
  h.encryp.mode = 7;
  h.addr_in = 0x60000000;
  h.size_in = 150528;
  h.addr_out = 0x60100000;
  h.size_out = 784;
  h.addr_wbuf = 0x60200000;
  h.size_wbuf = 0;
  h.format = "TXM format";
  h.input_nodes = {Tensor("in")};
  MODEL_CORES npu;
  npu.id = 0;
  npu.eu_params_type = 1;
  npu.npu_param.cmd_addr = 0x1c0;
  npu.npu_param.cmd_size = 256;
  npu.npu_param.wt_addr = 0x2c0;
  npu.npu_param.wt_size = 1024;
  MODEL_CORES cpu;
  cpu.id = 1;
  cpu.eu_params_type = 2;
  MODEL_CORES loop;
  loop.id = 2;
  loop.eu_params_type = 3;
  loop.loop_param.max_trip_count = 5;
  info.model_core = {npu, cpu, loop};
  return info;
}

TEST(TxmModelReport, ModelBlockAsDocumented) {
  const std::string rule(60, '=');
  const std::string expected =
      kTL + " Model #1 " + Repeat(kH, 50) + kTR + "\n" +
      Box("") +
      Box("Model ID        = [26]:[0x1a]") +
      Box("Encryption Mode = [7]:[]") +
      Box("") +
      Box("Addr(IN/OUT/WBUF)") +
      Box("    [ input] 0x60000000 L =   150528 : 0x00024c00") +
      Box("    [output] 0x60100000 L =      784 : 0x00000310") +
      Box("    [  wbuf] 0x60200000 L =        0 : 0x00000000") +
      Box("") +
      Box("Addr(CMD/WT)") +
      Box("    < 0 > Core :") +
      Box("      [   cmd]    0x1c0    L =      256 : 0x00000100") +
      Box("      [weight]    0x2c0    L =     1024 : 0x00000400") +
      Box("    < 1 > Core :") +
      Box("      [Display unsupported EUParams type: 2]") +
      Box("    < 2 > Core :") +
      Box("      [Display unsupported EUParams type: 3]") +
      Box("") +
      Box(rule) +
      Box("") +
      Box("setup.bin format = [TXM format]") +
      Box("Input node info:") +
      Box("    < 0 > Name  = in") +
      Box("    < 0 > Format                       = 3") +
      Box("    < 0 > Shape (batch, ch, row, col)  = (1, 3, 224, 224)") +
      Box("    < 0 > Quantization :") +
      Box("           fxp_info [0] (scale, radix) = (0.500, 7)") +
      Box("    < 0 > Buffer :") +
      Box("           [entry]           1610612736 : 0x60000000") +
      Box("           [  len]               150528 : 0x00024c00") +
      Box("") +
      Box("Output node info:") +
      Box(rule) +
      Box("Model cores info: ") +
      Box("    < 0 > ID    = 0") +
      Box("    < 0 > eu params type = NPU EUParams") +
      Box("    < 0 > cmd address = 448") +
      Box("    < 0 > cmd size = 256") +
      Box("    < 0 > weight address = 704") +
      Box("    < 0 > weight size = 1024") +
      Box("    < 1 > ID    = 1") +
      Box("    < 1 > eu params type = CPU EUParams") +
      Box("    < 2 > ID    = 2") +
      Box("    < 2 > eu params type = LOOP EUParams") +
      Box("    < 2 > max trip count = 5") +
      kBL + Repeat(kH, 50) + " Model #1 " + kBR + "\n\n";
  const std::string block = GetModelsInfoStr(SampleInfo(), 0);
  EXPECT_EQ(block, expected);

  // Every line of the block is 62 characters wide, whatever its byte length.
  for (const std::string& line : Lines(block)) {
    if (!line.empty()) EXPECT_EQ(CodePoints(line), 62u) << line;
  }
}

TEST(TxmModelReport, TitlesNamesAndOddCores) {
  MODEL_INFO info = SampleInfo();
  info.model_header.encryp.mode = 2;
  info.model_header.model_id = 0xFFFFFFFF;
  std::string block = GetModelsInfoStr(info, 11);
  EXPECT_EQ(block.rfind(kTL + " Model #12 " + Repeat(kH, 49) + kTR + "\n", 0), 0u);
  EXPECT_NE(block.find(Box("Encryption Mode = [2]:[EFuse]")), std::string::npos);
  EXPECT_NE(block.find(Box("Model ID        = [4294967295]:[0xffffffff]")), std::string::npos);
  info.model_header.encryp.mode = -1;
  EXPECT_NE(GetModelsInfoStr(info, 0).find(Box("Encryption Mode = [-1]:[]")), std::string::npos);

  // An unknown union tag: a bare "Core" entry and only the id in the core list.
  MODEL_CORES odd;
  odd.id = 9;
  odd.eu_params_type = 0;
  info.model_core = {odd};
  EXPECT_EQ(GetCMDWTInfoStr(info),
            Box("    < 0 > Core :") + Box("      [Display unsupported EUParams type: 0]"));
  EXPECT_EQ(GetCoreInfo(info.model_core), Box("Model cores info: ") + Box("    < 0 > ID    = 9"));
  EXPECT_EQ(GetNodeInfo({}), "");

  // A tensor without quantisation values shows zeros; a long name overflows the frame.
  TXM_TENSOR t = Tensor(std::string(58, 'x'));
  t.quantParam = {};
  const std::string nodes = GetNodeInfo({t});
  EXPECT_NE(nodes.find(Box("           fxp_info [0] (scale, radix) = (0.000, 0)")), std::string::npos);
  EXPECT_NE(nodes.find(kV + "    < 0 > Name  = " + std::string(58, 'x') + kV + "\n"), std::string::npos);
}

// ---- the whole report on TXM files ----

class TxmModelReportFile : public ::testing::Test {
 protected:
  void SetUp() override {
    BNXUtils::SetOutputDir(dir_ / "out");
    ASSERT_EQ(BNXUtils::GetOutputDir(), dir_ / "out/");
  }
  int Report(const std::string& path) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int r = GetTXMModelInfo(path);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
    return r;
  }
  TempDir dir_;
  std::string out_, err_;
};

std::vector<testsupport::SampleBufferInfo> Layout(uint64_t base, uint64_t len) {
  return {{T::Location::INPUT_BUFFER, base, len},
          {T::Location::OUTPUT_BUFFER, base + 0x100000, 0x40000},
          {T::Location::WORKING_BUFFER, base + 0x200000, 0x80000},
          {T::Location::CPU_TEMP_BUFFER, base + 0x300000, 0x4000}};
}

TEST_F(TxmModelReportFile, ReportAndPayloadFiles) {
  testsupport::SampleTxmOptions opt;
  opt.header_buffer_info = Layout(0x60000000, 0x1000);  // DDR end 0x60304000
  opt.models = {opt.SampleModel(5), opt.SampleModel(8)};
  for (auto& m : opt.models) {
    m.buffer_info = Layout(0x70000000, 0x100000);  // 0x1c4000 per model
  }
  opt.models[1].cmd_bytes = 0;
  const std::vector<uint8_t> buf = testsupport::BuildSampleTxm(opt);
  const std::string path = dir_ / "m.txm";
  testsupport::WriteBytes(path, buf);

  ASSERT_EQ(Report(path), 0) << err_;
  // 2 * 0x1c4000 = 0x388000; + 0x304000 = 0x68c000 (6.55 MB).
  EXPECT_EQ(out_.rfind("DDR start addr                 = [0x60000000]\n"
                       "DDR end addr                   = [0x60304000]\n"
                       "DDR space needed               = [0x0068c000] : 6.55 MB\n"
                       "Model size(no heading buff)    = [0x00388000] : 3.53 MB\n"
                       "\n" + kTL + " Model #1 ",
                       0),
            0u)
      << out_;
  EXPECT_NE(out_.find(kTL + " Model #2 "), std::string::npos);
  EXPECT_NE(out_.find(Box("Model ID        = [8]:[0x8]")), std::string::npos);
  EXPECT_NE(out_.find(Box("Encryption Mode = [1]:[NoEnc]")), std::string::npos);
  EXPECT_NE(out_.find(Box("    [ input] 0x70000000 L =  1048576 : 0x00100000")), std::string::npos);

  testsupport::PayloadRef cmd;
  ASSERT_TRUE(testsupport::FindPayload(buf, 0, testsupport::TxmPayload::kCmd, 0, &cmd));
  EXPECT_NE(out_.find(Box("    < 0 > cmd address = " + std::to_string(cmd.data_pos()))), std::string::npos);
  EXPECT_NE(out_.find(Box("    < 0 > cmd size = 256")), std::string::npos);
  EXPECT_NE(out_.find(Box("      [Display unsupported EUParams type: 2]")), std::string::npos);
  for (const std::string& line : Lines(out_)) {
    if (line.rfind(kV, 0) == 0 || line.rfind(kTL, 0) == 0 || line.rfind(kBL, 0) == 0) {
      EXPECT_EQ(CodePoints(line), 62u) << line;
    }
  }

  // Per model id and core position, the core's own cmd / weight bytes; empty ones too.
  const T::TXMContentT obj = testsupport::BuildSampleTxmObject(opt);
  for (size_t m = 0; m < 2; ++m) {
    const auto& cores = obj.models[m]->cores;
    ASSERT_EQ(cores.size(), 3u);
    for (size_t c = 0; c < cores.size(); ++c) {
      const std::string stem =
          dir_ / ("out/model_" + std::to_string(obj.models[m]->header->id) + "_core_" + std::to_string(c) + "_");
      std::vector<uint8_t> cmd_bytes, wt_bytes;
      if (const T::NPUEUParamsT* npu = cores[c]->eu_params.AsNPUEUParams()) {
        cmd_bytes = npu->cmd;
        wt_bytes = npu->weight;
      }
      ASSERT_TRUE(testsupport::Exists(stem + "cmd_buffer.bin")) << stem;
      ASSERT_TRUE(testsupport::Exists(stem + "weight_buffer.bin")) << stem;
      EXPECT_EQ(testsupport::ReadBytes(stem + "cmd_buffer.bin"),
                std::vector<unsigned char>(cmd_bytes.begin(), cmd_bytes.end()));
      EXPECT_EQ(testsupport::ReadBytes(stem + "weight_buffer.bin"),
                std::vector<unsigned char>(wt_bytes.begin(), wt_bytes.end()));
    }
  }
  EXPECT_EQ(testsupport::ReadBytes(dir_ / "out/model_5_core_0_cmd_buffer.bin").size(), 256u);
  EXPECT_TRUE(testsupport::ReadBytes(dir_ / "out/model_8_core_0_cmd_buffer.bin").empty());
  EXPECT_EQ(testsupport::ReadBytes(dir_ / "out/model_8_core_0_weight_buffer.bin").size(), 1024u);
}

TEST_F(TxmModelReportFile, UnreadableOrEmptyFilesStop) {
  EXPECT_EQ(Report(dir_ / "missing.txm"), -1);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("Failed to read the TXM file: " + dir_ / "missing.txm"), std::string::npos);

  std::vector<unsigned char> junk(300);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<unsigned char>(i * 37 + 11);
  testsupport::WriteBytes(dir_ / "junk.txm", junk);
  EXPECT_EQ(Report(dir_ / "junk.txm"), -1);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("Failed to read the TXM file: "), std::string::npos);

  testsupport::SampleTxmOptions opt;
  opt.models.clear();
  testsupport::WriteSampleTxm(dir_ / "none.txm", opt);
  EXPECT_EQ(Report(dir_ / "none.txm"), -1);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("No model in the TXM file: " + dir_ / "none.txm"), std::string::npos);

  // A model header without its four buffer ranges cannot be summarised.
  opt = {};
  opt.models = {opt.SampleModel(1)};
  opt.models[0].buffer_info = std::vector<testsupport::SampleBufferInfo>{};
  testsupport::WriteSampleTxm(dir_ / "short.txm", opt);
  EXPECT_EQ(Report(dir_ / "short.txm"), -1);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("Failed to read the memory layout of the TXM file: "), std::string::npos);

  EXPECT_FALSE(testsupport::Exists(dir_ / "out/model_1_core_0_cmd_buffer.bin"));
}

}  // namespace
