// Setup report boxes, from the JSON views of all three setup kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/json_utils.h"
#include "setup/setup_func.h"
#include "setup/setup_report.h"
#include "support/setup_builder.h"

namespace {

const std::string kBar = "\xe2\x94\x82";  // U+2502

// A box line at width 60 for ASCII content.
std::string Line(const std::string& content) {
  return kBar + content + std::string(content.size() < 60 ? 60 - content.size() : 0, ' ') + kBar +
         "\n";
}

std::string Lines(const std::vector<std::string>& contents) {
  std::string out;
  for (const auto& c : contents) out += Line(c);
  return out;
}

TEST(SetupReport, ReinterpretBits) {
  EXPECT_EQ(ReinterpretUint32tToFloat(0x3F800000), 1.0f);
  EXPECT_EQ(ReinterpretUint32tToFloat(0xBE800000), -0.25f);
  EXPECT_EQ(ReinterpretUint32tToFloat(0), 0.0f);
  EXPECT_TRUE(std::isinf(ReinterpretUint32tToFloat(0x7F800000)));
}

TEST(SetupReport, EmptyViewIsOneBlankLine) {
  const std::string blank =
      "\xe2\x94\x82                                                            \xe2\x94\x82\n";
  EXPECT_EQ(Get100SetupBinInfo(Json::Value(), 60), blank);
  EXPECT_EQ(GetRawSetupBinInfo(Json::Value(Json::objectValue), 60), blank);
  EXPECT_EQ(GetFbsSetupBinInfo(Json::Value(Json::arrayValue), 60), blank);
  EXPECT_EQ(Line(""), blank);
}

TEST(SetupReport, Tz100TwoOutputs) {
  testsupport::SampleRawSetup100 s;
  s.header.input_row = 224;
  s.header.input_col = 224;
  s.header.input_channel = 3;
  s.header.input_start = 0x60000000;
  s.header.input_size = 150528;
  s.header.input_radix = 7;
  s.outputs = {{1, 1, 0, 0, 0, 7, 7, 16, 0, 5, 0x3F800000}, {1, 0, 0, 0, 0, 14, 14, 8, 1, 6, 0x3E800000}};
  auto bin = testsupport::BuildRawSetup100(s);
  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(bin.data(), bin.size(), json, true), 0);
  EXPECT_EQ(Get100SetupBinInfo(json, 60),
            Lines({"Input node info:",
                   "    < 0 > Name  = ",
                   "    < 0 > Format                       = default",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 3, 224, 224)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (defualt, 7)",
                   "    < 0 > Buffer :",
                   "           [entry]           1610612736 : 0x60000000",
                   "           [  len]               150528 : 0x00024c00",
                   "",
                   "Output node info:",
                   "    < 0 > Name  = ",
                   "    < 0 > Format                       = 1",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 16, 7, 7)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (1.00, 5)",
                   "    < 0 > Buffer :",
                   "           [entry]                    0 : 0x00000000",
                   "           [  len]                    0 : 0x00000000",
                   "",
                   "    < 1 > Name  = ",
                   "    < 1 > Format                       = 0",
                   "    < 1 > Shape (batch, ch, row, col)  = (1, 8, 14, 14)",
                   "    < 1 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (0.25, 6)",
                   "    < 1 > Buffer :",
                   "           [entry]                    0 : 0x00000000",
                   "           [  len]                    0 : 0x00000000",
                   ""}));
}

TEST(SetupReport, Tz200InputsFromNetworkInputNodes) {
  testsupport::SampleRawSetup200 s;
  s.inputs = {{0, 1, 10, 20, 3, 0x90000000, 600, 7}, {1, 0, 5, 6, 1, 0x60500000, 30, 4}};
  s.outputs = {{1, 2, 0, 0, 0, 7, 8, 16, 0, 5, 0x3F800000}};
  auto bin = testsupport::BuildRawSetup200(s);
  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(bin.data(), bin.size(), json, false), 0);
  EXPECT_EQ(GetRawSetupBinInfo(json, 60),
            Lines({"Input node info:",
                   "    < 0 > Name  = ",
                   "    < 0 > Format                       = 1",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 3, 10, 20)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (defualt, 7)",
                   "    < 0 > Buffer :",
                   "           [entry]           2415919104 : 0x90000000",  // above 2^31: unsigned
                   "           [  len]                  600 : 0x00000258",
                   "",
                   "    < 1 > Name  = ",
                   "    < 1 > Format                       = 0",
                   "    < 1 > Shape (batch, ch, row, col)  = (1, 1, 5, 6)",
                   "    < 1 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (defualt, 4)",
                   "    < 1 > Buffer :",
                   "           [entry]           1615855616 : 0x60500000",
                   "           [  len]                   30 : 0x0000001e",
                   "",
                   "Output node info:",
                   "    < 0 > Name  = ",
                   "    < 0 > Format                       = 2",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 16, 7, 8)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (1.00, 5)",
                   "    < 0 > Buffer :",
                   "           [entry]                    0 : 0x00000000",
                   "           [  len]                    0 : 0x00000000",
                   ""}));
}

TEST(SetupReport, FlatbufferTensors) {
  testsupport::SampleFbSetup s;  // default input: "input", 1x3x224x224, (0.5, 7), entry 0
  testsupport::SampleTensor out0 = testsupport::SampleFbOutput();
  out0.name = "out0";
  out0.format = 3;
  out0.shape = {1, 10};
  out0.fxp_info = {{0.3f, 1}, {0.5f, 2}, {2.0f, -3}};
  out0.entry = 0xFFFFFFFF;  // "no entry": left out of the view as the default
  out0.len = 10;
  testsupport::SampleTensor out1 = testsupport::SampleFbOutput();
  out1.name = "out1";
  out1.with_quantization = false;
  out1.with_buffer = false;
  s.outputs = {out0, out1};
  auto bin = testsupport::BuildFbSetup(s);
  Json::Value json;
  ASSERT_EQ(Setup::FBToJson(bin.data(), bin.size(), json), 0);
  EXPECT_EQ(GetFbsSetupBinInfo(json, 60),
            Lines({"Input node info:",
                   "    < 0 > Name  = input",
                   "    < 0 > Format                       = 0",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 3, 224, 224)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (0.500, 7)",
                   "    < 0 > Buffer :",
                   "           [entry]                    0 : 0x00000000",
                   "           [  len]               150528 : 0x00024c00",
                   "",
                   "Output node info:",
                   "    < 0 > Name  = out0",
                   "    < 0 > Format                       = 3",
                   "    < 0 > Shape (batch, ch, row, col)  = (1, 10, 0, 0)",
                   "    < 0 > Quantization :",
                   "           fxp_info [0] (scale, radix) = (0.30, 1)",
                   "           fxp_info [1] (scale, radix) = (0.50, 2)",
                   "           fxp_info [2] (scale, radix) = (2.00, -3)",
                   "    < 0 > Buffer :",
                   "           [entry]           4294967295 : 0xffffffff",
                   "           [  len]                   10 : 0x0000000a",
                   "",
                   "    < 1 > Name  = out1",
                   "    < 1 > Format                       = 0",
                   "    < 1 > Shape (batch, ch, row, col)  = (1, 16, 7, 7)",
                   "    < 1 > Quantization :",
                   "    < 1 > Buffer :",
                   "           [entry]                    0 : 0x00000000",
                   "           [  len]                    0 : 0x00000000",
                   ""}));
}

TEST(SetupReport, PaddingCountsCharactersNotBytes) {
  Json::Value json = Str2Json(R"({"inputs": [{"name": "h\u00e9llo"}]})");
  ASSERT_TRUE(json.isObject());
  const std::string report = GetFbsSetupBinInfo(json, 60);
  // 23 characters (24 bytes) of content, then 37 blanks.
  const std::string expected = kBar + "    < 0 > Name  = h\xc3\xa9llo" + std::string(37, ' ') + kBar + "\n";
  EXPECT_NE(report.find(expected), std::string::npos) << report;
}

TEST(SetupReport, LongContentIsNotCut) {
  const std::string name(70, 'n');
  Json::Value json(Json::objectValue);
  json["inputs"][0]["name"] = name;
  const std::string report = GetFbsSetupBinInfo(json, 60);
  EXPECT_NE(report.find(kBar + "    < 0 > Name  = " + name + kBar + "\n"), std::string::npos);
  // Other lines keep the width.
  EXPECT_EQ(report.substr(0, 3 + 60 + 3 + 1), Line("Input node info:"));
}

TEST(SetupReport, NonFiniteScales) {
  testsupport::SampleRawSetup100 raw;
  raw.outputs = {{1, 0, 0, 0, 0, 1, 1, 1, 0, 2, 0x7FC00000}};
  auto bin = testsupport::BuildRawSetup100(raw);
  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(bin.data(), bin.size(), json, true), 0);
  EXPECT_NE(Get100SetupBinInfo(json, 60).find(Line("           fxp_info [0] (scale, radix) = (nan, 2)")),
            std::string::npos);

  testsupport::SampleFbSetup fb;
  fb.inputs[0].fxp_info = {{std::numeric_limits<float>::quiet_NaN(), 1}};
  bin = testsupport::BuildFbSetup(fb);
  ASSERT_EQ(Setup::FBToJson(bin.data(), bin.size(), json), 0);
  EXPECT_NE(GetFbsSetupBinInfo(json, 60).find(Line("           fxp_info [0] (scale, radix) = (nan, 1)")),
            std::string::npos);
}

TEST(SetupReport, MalformedViewsDoNotThrow) {
  for (const char* text : {
           R"({"inputs": "x", "outputs": [1, "s", null]})",
           R"({"header": [1], "outputs": [{"data_format": "a", "ch_length": {"x": 1}}]})",
           R"({"inputs": [{"name": 5, "shape": "bad", "format": -2,
               "quantization": {"fxp_info": [{"scale": "str", "radix": true}, 7]},
               "buffer": [1]}]})",
           R"({"inputs": [{"shape": [1e300, -1e300, 3.7, 18446744073709551615]}]})",
           R"([1, 2, 3])",
           R"("text")",
       }) {
    Json::Value json = Str2Json(text);
    ASSERT_FALSE(json.isNull()) << text;
    EXPECT_NO_THROW(Get100SetupBinInfo(json, 60)) << text;
    EXPECT_NO_THROW(GetRawSetupBinInfo(json, 60)) << text;
    EXPECT_NO_THROW(GetFbsSetupBinInfo(json, 60)) << text;
  }
  Json::Value neg = Str2Json(R"({"inputs": [{"format": -2, "shape": [1, 4294967295]}]})");
  EXPECT_NE(GetFbsSetupBinInfo(neg, 60).find("= -2 "), std::string::npos);
  EXPECT_NE(GetFbsSetupBinInfo(neg, 60).find("(1, 4294967295, 0, 0)"), std::string::npos);
  EXPECT_NO_THROW(GetFbsSetupBinInfo(neg, -5));
}

}  // namespace
