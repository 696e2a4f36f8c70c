// Raw setup.bin text view of every prefix of a TZ100 and a TZ200 setup (the JSON view and the
// key-offset word are checked end to end by the setup_parser and edge_inputs cases).
#include <gtest/gtest.h>

#include "common/logger.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "setup/setup_func.h"
#include "support/capture.h"
#include "support/setup_builder.h"

namespace {

using testsupport::RawSetupWriter;
using Bytes = std::vector<uint8_t>;
using testsupport::Call;
using testsupport::Outcome;


const Bytes kTz100 = RawSetupWriter().Header(testsupport::RawTZ100Header{0x8EB5A462, 3, 0, 1, 2})
    .InputInfo({1}).bytes();
const char kTz100Text[] =
    "TZ100 Setup.bin\n\nHeader Section\nmagic: 2394268770\nversion: 3\nenc_key_data_offset: 0\n"
    "model_type: 1\napplication_type: 2\ndram_start: 1610612736\ndram_size: 1048576\n"
    "input_row: 224\ninput_col: 224\ninput_channel: 3\ncmd_start: 1612709888\ncmd_size: 4096\n"
    "weight_start: 1613758464\nweight_size: 8192\ninput_start: 1614807040\ninput_size: 150528\n"
    "input_radix: 7\noutput_num: 1\n\nInput Info Section\ntype: 0\nnext_cpu: 1\n";

// Every other node kind once, an output last; 0x105 is type 5 (only the low byte counts).
const Bytes kTz200 = RawSetupWriter().Header(testsupport::RawTZ200Header{})
    .NetworkInput({1, 2, 3, 4, 5, 6, 7, 8}, 0x105)
    .Cpu({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}).Data({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})
    .Super({1, 2, 3, 4, 5, 6, 7}).Output({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}).bytes();
const char kTz200Text[] =
    "TZ200 Setup.bin\n\nHeader Section\nmagic: 2394268770\nversion: 2\nenc_key_data_offset: 0\n"
    "model_type: 0\napplication_type: 0\ndram_start: 1610612736\ndram_size: 1048576\n"
    "cmd_start: 1612709888\ncmd_size: 4096\nweight_start: 1613758464\nweight_size: 8192\n"
    "input_start: 1614807040\ninput_size: 150528\ninput_num: 1\noutput_num: 1\n"
    "\n\nNetwork Input Section\ntype: 261\ninput_index: 1\ninput_format: 2\ninput_row: 3\n"
    "input_col: 4\ninput_channel: 5\ninput_start: 6\ninput_size: 7\ninput_radix: 8\n"
    "\nCPU Node Section\ntype: 1\ninput_data_num: 1\nop_type: 2\nin_num_row: 3\nin_num_col: 4\n"
    "in_num_ch: 5\nout_num_row: 6\nout_num_col: 7\nout_num_ch: 8\nh_pad: 9\nw_pad: 10\n"
    "kernel_h: 11\nkernel_w: 12\nstride_h: 13\nstride_w: 14\n"
    "\nData Info Section\ntype: 3\nsupernum: 1\ndata_format: 2\ndata_radix: 3\ndata_scale: 4\n"
    "row_start: 5\ncol_start: 6\nch_start: 7\nrow_length: 8\ncol_length: 9\nch_length: 10\n"
    "\nSuper Node Info Section\ntype: 4\naddr: 1\nrow_start: 2\ncol_start: 3\nch_start: 4\n"
    "row_length: 5\ncol_length: 6\nch_length: 7\n"
    "\nOutput Info Section\ntype: 2\nsupernum: 1\ndata_format: 2\nrow_start: 3\ncol_start: 4\n"
    "ch_start: 5\nrow_length: 6\ncol_length: 7\nch_length: 8\noutput_index: 9\noutput_radix: 10\n"
    "output_scale: 11\n";

// Every prefix (an exact-size heap block) succeeds exactly at node boundaries, the whole file with
// the full text; any other fails cleanly, keeping the text of the complete parts.
TEST(RawSetupText, EveryPrefixOfBothForms) {
  const std::pair<bool, std::vector<size_t>> cases[] = {{true, {72, 80}},
                                                        {false, {60, 96, 156, 200, 232, 280}}};
  for (const auto& [is_100, bounds] : cases) {
    const Bytes& full = is_100 ? kTz100 : kTz200;
    std::string complete;  // text at the last boundary passed
    for (size_t len = 0; len <= full.size(); ++len) {
      const Bytes cut(full.begin(), full.begin() + len);
      const bool boundary = std::count(bounds.begin(), bounds.end(), len) > 0;
      std::string text = "kept:";  // appended to
      const Outcome o =
          Call([&, tz100 = is_100] { return Setup::RawToString(cut.data(), len, text, tz100); });
      if (boundary) complete = text.substr(5);
      EXPECT_EQ(o.first, boundary ? 0 : -1) << len;
      EXPECT_EQ(o.second.empty(), boundary) << len;
      EXPECT_EQ(text, "kept:" + complete) << len;
    }
    EXPECT_EQ(complete, is_100 ? kTz100Text : kTz200Text);
  }
}

}  // namespace
