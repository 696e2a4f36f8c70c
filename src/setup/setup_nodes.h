#pragma once
// Raw (first-generation) setup.bin: word layouts and the descriptors of its text view.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace Setup {

// Node kinds: the low byte of a node's first word.
constexpr uint32_t FW_IN_NODE = 0;
constexpr uint32_t FW_CPU_NODE = 1;
constexpr uint32_t FW_OUTPUT_NODE = 2;
constexpr uint32_t FW_DATA_NODE = 3;
constexpr uint32_t FW_SUPER_NODE = 4;
constexpr uint32_t FW_NETWORK_INPUT_NODE = 5;

// enc_key_data_offset value meaning "device key held in eFuse".
constexpr uint32_t ENC_KEY_EFUSE = 0xFFFF0000;
// Byte offset of enc_key_data_offset in both header forms.
constexpr size_t ENC_KEY_DATA_OFFSET_POS = 8;


// In-memory images of the headers and node bodies (the words after the type word).
// Fill them with memcpy from little-endian data after checking the length.
namespace Layout {

struct TZ100HEADER {
  uint32_t magic, version, enc_key_data_offset, model_type, application_type, dram_start,
      dram_size, input_row, input_col, input_channel, cmd_start, cmd_size, weight_start,
      weight_size, input_start, input_size, input_radix, output_num;
};
struct TZ200HEADER {
  uint32_t magic, version, enc_key_data_offset, model_type, application_type, dram_start,
      dram_size, cmd_start, cmd_size, weight_start, weight_size, input_start, input_size,
      input_num, output_num;
};
struct InputInfo {
  uint32_t next_cpu;
};
struct CPUNode {
  uint32_t input_data_num, op_type, in_num_row, in_num_col, in_num_ch, out_num_row, out_num_col,
      out_num_ch, h_pad, w_pad, kernel_h, kernel_w, stride_h, stride_w;
};
struct OutputNode {
  uint32_t supernum, data_format, row_start, col_start, ch_start, row_length, col_length,
      ch_length, output_index, output_radix, output_scale;
};
struct DataNode {
  uint32_t supernum, data_format, data_radix, data_scale, row_start, col_start, ch_start,
      row_length, col_length, ch_length;
};
struct SuperNode {
  uint32_t addr, row_start, col_start, ch_start, row_length, col_length, ch_length;
};
struct NetworkInputNode {
  uint32_t input_index, input_format, input_row, input_col, input_channel, input_start,
      input_size, input_radix;
};

static_assert(sizeof(TZ100HEADER) == 72, "TZ100 header is 18 words");
static_assert(sizeof(TZ200HEADER) == 60, "TZ200 header is 15 words");
static_assert(sizeof(InputInfo) == 4 && sizeof(CPUNode) == 56 && sizeof(OutputNode) == 44 &&
                  sizeof(DataNode) == 40 && sizeof(SuperNode) == 28 &&
                  sizeof(NetworkInputNode) == 32,
              "node bodies are whole words without padding");

}  // namespace Layout

// One label per word of a header or node; the first label also carries the section heading.
class NodeBase {
 public:
  virtual ~NodeBase() = default;
  // Appends "label: value\n" per word; element_ptr must hold GetOffset() bytes.
  void Dump(std::string& str, const uint8_t* element_ptr) const;
  // Size of the header or node in bytes.
  size_t GetOffset() const { return description.size() * 4; }

  std::vector<std::string> description;
};

class TZ100Header : public NodeBase {
 public:
  TZ100Header();
};
class TZ200Header : public NodeBase {
 public:
  TZ200Header();
};
class InputInfo : public NodeBase {
 public:
  InputInfo();
};
class CPUNode : public NodeBase {
 public:
  CPUNode();
};
class OutputInfo : public NodeBase {
 public:
  OutputInfo();
};
class DataInfo : public NodeBase {
 public:
  DataInfo();
};
class SuperInfo : public NodeBase {
 public:
  SuperInfo();
};
class NetworkInput : public NodeBase {
 public:
  NetworkInput();
};

}  // namespace Setup
