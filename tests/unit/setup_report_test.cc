// Setup report boxes, built from JSON views as the setup readers write them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json_utils.h"
#include "setup/setup_report.h"

namespace {

// Box lines of inner width 60 around ASCII contents; longer contents are not cut.
std::string Box(const std::vector<std::string>& contents) {
  std::string out;
  for (const auto& c : contents) {
    out += "│" + c + std::string(c.size() < 60 ? 60 - c.size() : 0, ' ') + "│\n";
  }
  return out;
}

TEST(SetupReport, EmptyViewIsOneBlankLine) {
  for (auto* fn : {Get100SetupBinInfo, GetRawSetupBinInfo, GetFbsSetupBinInfo}) {
    EXPECT_EQ(fn(Json::Value(), 60), Box({""}));
  }
}

// No inputs; absent entry: the default 0xFFFFFFFF; null scale: nan; short shape: 0s; long line.
TEST(SetupReport, FlatbufferTensors) {
  Json::Value view = Str2Json(R"({"outputs": [{"name": "out0", "format": 3, "shape": [1, 10],
      "buffer": {"len": 10}, "quantization": {"fxp_info": [{"scale": 0.3, "radix": 1},
      {"scale": 2.0, "radix": -3}, {"scale": null, "radix": 4}]}}, {"shape": [1, 16, 7, 7]}]})");
  view["outputs"][1]["name"] = std::string(60, 'n');
  EXPECT_EQ(GetFbsSetupBinInfo(view, 60),
            Box({"Input node info:", "Output node info:", "    < 0 > Name  = out0",
                 "    < 0 > Format                       = 3",
                 "    < 0 > Shape (batch, ch, row, col)  = (1, 10, 0, 0)",
                 "    < 0 > Quantization :", "           fxp_info [0] (scale, radix) = (0.30, 1)",
                 "           fxp_info [1] (scale, radix) = (2.00, -3)",
                 "           fxp_info [2] (scale, radix) = (nan, 4)",
                 "    < 0 > Buffer :", "           [entry]           4294967295 : 0xffffffff",
                 "           [  len]                   10 : 0x0000000a", "",
                 "    < 1 > Name  = " + std::string(60, 'n'),
                 "    < 1 > Format                       = 0",
                 "    < 1 > Shape (batch, ch, row, col)  = (1, 16, 7, 7)",
                 "    < 1 > Quantization :", "    < 1 > Buffer :",
                 "           [entry]                    0 : 0x00000000",
                 "           [  len]                    0 : 0x00000000", ""}));
}

// TZ200: the inputs are the network input nodes; a word of 2^31 and above shows unsigned. (The
// output boxes are those of TZ100, compared whole by the container report tests.)
TEST(SetupReport, RawInputs) {
  const Json::Value view = Str2Json(R"({"inputs": [{"input_format": 1, "input_row": 10,
      "input_col": 20, "input_channel": 3, "input_start": 2415919104, "input_size": 600,
      "input_radix": 7}]})");
  EXPECT_EQ(GetRawSetupBinInfo(view, 60),
            Box({"Input node info:", "    < 0 > Name  = ",
                 "    < 0 > Format                       = 1",
                 "    < 0 > Shape (batch, ch, row, col)  = (1, 3, 10, 20)",
                 "    < 0 > Quantization :",
                 "           fxp_info [0] (scale, radix) = (defualt, 7)", "    < 0 > Buffer :",
                 "           [entry]           2415919104 : 0x90000000",
                 "           [  len]                  600 : 0x00000258", "", "Output node info:"}));
}

}  // namespace
