#include "setup/setup_nodes.h"

namespace Setup {

void NodeBase::Dump(std::string& str, const uint8_t* element_ptr) const {
  for (size_t i = 0; i < description.size(); ++i) {
    str += description[i];
    str += ": ";
    str += std::to_string(talvex::LoadLE32(element_ptr + 4 * i));
    str += "\n";
  }
}

TZ100Header::TZ100Header() {
  description = {"TZ100 Setup.bin\n\nHeader Section\nmagic",
                 "version",
                 "enc_key_data_offset",
                 "model_type",
                 "application_type",
                 "dram_start",
                 "dram_size",
                 "input_row",
                 "input_col",
                 "input_channel",
                 "cmd_start",
                 "cmd_size",
                 "weight_start",
                 "weight_size",
                 "input_start",
                 "input_size",
                 "input_radix",
                 "output_num"};
}

TZ200Header::TZ200Header() {
  description = {"TZ200 Setup.bin\n\nHeader Section\nmagic",
                 "version",
                 "enc_key_data_offset",
                 "model_type",
                 "application_type",
                 "dram_start",
                 "dram_size",
                 "cmd_start",
                 "cmd_size",
                 "weight_start",
                 "weight_size",
                 "input_start",
                 "input_size",
                 "input_num",
                 "output_num"};
}

InputInfo::InputInfo() { description = {"\nInput Info Section\ntype", "next_cpu"}; }

CPUNode::CPUNode() {
  description = {"\nCPU Node Section\ntype",
                 "input_data_num",
                 "op_type",
                 "in_num_row",
                 "in_num_col",
                 "in_num_ch",
                 "out_num_row",
                 "out_num_col",
                 "out_num_ch",
                 "h_pad",
                 "w_pad",
                 "kernel_h",
                 "kernel_w",
                 "stride_h",
                 "stride_w"};
}

OutputInfo::OutputInfo() {
  description = {"\nOutput Info Section\ntype",
                 "supernum",
                 "data_format",
                 "row_start",
                 "col_start",
                 "ch_start",
                 "row_length",
                 "col_length",
                 "ch_length",
                 "output_index",
                 "output_radix",
                 "output_scale"};
}

DataInfo::DataInfo() {
  description = {"\nData Info Section\ntype",
                 "supernum",
                 "data_format",
                 "data_radix",
                 "data_scale",
                 "row_start",
                 "col_start",
                 "ch_start",
                 "row_length",
                 "col_length",
                 "ch_length"};
}

SuperInfo::SuperInfo() {
  description = {"\nSuper Node Info Section\ntype",
                 "addr",
                 "row_start",
                 "col_start",
                 "ch_start",
                 "row_length",
                 "col_length",
                 "ch_length"};
}

NetworkInput::NetworkInput() {
  description = {"\n\nNetwork Input Section\ntype",
                 "input_index",
                 "input_format",
                 "input_row",
                 "input_col",
                 "input_channel",
                 "input_start",
                 "input_size",
                 "input_radix"};
}

}  // namespace Setup
