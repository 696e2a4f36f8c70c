#pragma once
// Builds sample setup.bin files, raw (TZ100 / TZ200) and flatbuffer, for tests and samples.
// The raw builders write the word layout of the format directly and share no code with src/setup.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

constexpr uint32_t kRawSetupMagic = 0x8EB5A462;

// ---- Raw setup.bin: little-endian 32-bit words, header then typed nodes ----

struct RawTZ100Header {  // 18 words
  uint32_t magic = kRawSetupMagic;
  uint32_t version = 1;
  uint32_t enc_key_data_offset = 0;
  uint32_t model_type = 0;
  uint32_t application_type = 0;
  uint32_t dram_start = 0x60000000;
  uint32_t dram_size = 0x00100000;
  uint32_t input_row = 224;
  uint32_t input_col = 224;
  uint32_t input_channel = 3;
  uint32_t cmd_start = 0x60200000;
  uint32_t cmd_size = 0x1000;
  uint32_t weight_start = 0x60300000;
  uint32_t weight_size = 0x2000;
  uint32_t input_start = 0x60400000;
  uint32_t input_size = 224 * 224 * 3;
  uint32_t input_radix = 7;
  uint32_t output_num = 1;
};

struct RawTZ200Header {  // 15 words
  uint32_t magic = kRawSetupMagic;
  uint32_t version = 2;
  uint32_t enc_key_data_offset = 0;
  uint32_t model_type = 0;
  uint32_t application_type = 0;
  uint32_t dram_start = 0x60000000;
  uint32_t dram_size = 0x00100000;
  uint32_t cmd_start = 0x60200000;
  uint32_t cmd_size = 0x1000;
  uint32_t weight_start = 0x60300000;
  uint32_t weight_size = 0x2000;
  uint32_t input_start = 0x60400000;
  uint32_t input_size = 224 * 224 * 3;
  uint32_t input_num = 1;
  uint32_t output_num = 1;
};

// Node bodies: the words after the type word, in file order.
struct RawInputInfo {  // type 0
  uint32_t next_cpu = 0;
};
struct RawCpuNode {  // type 1
  uint32_t input_data_num = 1, op_type = 3, in_num_row = 7, in_num_col = 7, in_num_ch = 16,
           out_num_row = 1, out_num_col = 1, out_num_ch = 16, h_pad = 0, w_pad = 0, kernel_h = 7,
           kernel_w = 7, stride_h = 1, stride_w = 1;
};
struct RawOutputInfo {  // type 2
  uint32_t supernum = 1, data_format = 0, row_start = 0, col_start = 0, ch_start = 0,
           row_length = 7, col_length = 7, ch_length = 16, output_index = 0, output_radix = 5,
           output_scale = 0x3F800000;  // bit pattern of 1.0f
};
struct RawDataInfo {  // type 3
  uint32_t supernum = 1, data_format = 0, data_radix = 5, data_scale = 0x3F800000, row_start = 0,
           col_start = 0, ch_start = 0, row_length = 7, col_length = 7, ch_length = 16;
};
struct RawSuperNode {  // type 4
  uint32_t addr = 0x60010000, row_start = 0, col_start = 0, ch_start = 0, row_length = 7,
           col_length = 7, ch_length = 16;
};
struct RawNetworkInput {  // type 5
  uint32_t input_index = 0, input_format = 0, input_row = 224, input_col = 224,
           input_channel = 3, input_start = 0x60400000, input_size = 224 * 224 * 3,
           input_radix = 7;
};

// Appends words in file order; the type word of each node can be overridden (e.g. 0x105).
class RawSetupWriter {
 public:
  RawSetupWriter& Word(uint32_t w);
  RawSetupWriter& Words(std::initializer_list<uint32_t> words);
  RawSetupWriter& Header(const RawTZ100Header& h);
  RawSetupWriter& Header(const RawTZ200Header& h);
  RawSetupWriter& InputInfo(const RawInputInfo& n = {}, uint32_t type_word = 0);
  RawSetupWriter& Cpu(const RawCpuNode& n = {}, uint32_t type_word = 1);
  RawSetupWriter& Output(const RawOutputInfo& n = {}, uint32_t type_word = 2);
  RawSetupWriter& Data(const RawDataInfo& n = {}, uint32_t type_word = 3);
  RawSetupWriter& Super(const RawSuperNode& n = {}, uint32_t type_word = 4);
  RawSetupWriter& NetworkInput(const RawNetworkInput& n = {}, uint32_t type_word = 5);
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A TZ100 setup: the default header, input info, one default output info node and one default
// super node (160 bytes).
std::vector<uint8_t> BuildRawSetup100();

// ---- Flatbuffer setup.bin (TalvexSetup.INFContent) ----

struct SampleFxp {
  float scale = 1.0f;
  int32_t radix = 0;
};

struct SampleTensor {
  std::string name = "tensor";
  std::vector<int32_t> shape = {1, 3, 224, 224};
  std::vector<SampleFxp> fxp_info = {SampleFxp{}};
  uint32_t entry = 0;
  int32_t len = 224 * 224 * 3;
  int8_t segment = 1;  // Segment.INPUT
};
SampleTensor SampleFbInput();   // "input", 1x3x224x224, fxp (0.5, 7), INPUT segment, entry 0
SampleTensor SampleFbOutput();  // "output", 1x16x7x7, fxp (0.25, 5), OUTPUT segment, entry 1

struct SampleSegment {
  int8_t segment = 0;
  uint32_t start = 0;
  uint32_t len = 0;
};

// A Clip operator with its ClipOptions.
struct SampleOperator {
  std::string name = "op";
  float clip_min = 0.0f;
  float clip_max = 6.0f;
};

// Platform "tz400", target TZ400, schema version 1.2.42, a WORKING and a CMD segment.
struct SampleFbSetup {
  std::vector<SampleSegment> segments = {{3, 0x60000000, 0x100000}, {4, 0x60200000, 0x1000}};
  bool with_encrypt_info = false;
  int8_t encrypt_mode = 1;  // EncryptedMode.NoEnc
  std::vector<uint8_t> key;
  std::vector<SampleTensor> inputs = {SampleFbInput()};
  std::vector<SampleTensor> outputs = {SampleFbOutput()};
  std::vector<SampleOperator> cpu_nodes;
};
// Packed through the generated object API; finished without file identifier.
std::vector<uint8_t> BuildFbSetup(const SampleFbSetup& s = {});
// A TZ300 setup whose one operator names ConvOptions but stores no options table: it passes
// the verifier (the shape of input that once crashed the JSON view's repack).
std::vector<uint8_t> BuildFbSetupBareOptionsTag();

}  // namespace testsupport
