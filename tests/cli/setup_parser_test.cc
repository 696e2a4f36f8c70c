// talvex_setup_parser: the JSON view of one setup.bin, written beside it.
#include <gtest/gtest.h>

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/setup_builder.h"

namespace {

using testsupport::Exists;
using testsupport::RunResult;

class SetupParserTest : public ::testing::Test {
 protected:
  RunResult Parse(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {TALVEX_SETUP_PARSER};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, dir_.path());
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    testsupport::WriteBytes(dir_ / name, std::vector<unsigned char>(bytes.begin(), bytes.end()));
    return dir_ / name;
  }
  // The JSON file must parse strictly; a null value otherwise.
  static Json::Value ReadJson(const std::string& path) {
    const std::string text = testsupport::ReadText(path);
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value v;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &v, &errors)) return Json::Value();
    return v;
  }
  testsupport::TempDir dir_;
};

TEST_F(SetupParserTest, RawSetupsFollowTheTarget) {
  const std::string s100 = Write("a_setup.bin", testsupport::BuildRawSetup100());
  RunResult r = Parse({s100, "-p100", "-j"});
  ASSERT_EQ(r.status, 0) << r.err;
  Json::Value j = ReadJson(s100 + ".json");
  ASSERT_TRUE(j.isObject());
  // The first-generation header: 18 words, with the input shape in it.
  EXPECT_EQ(j["header"].size(), 18u);
  EXPECT_EQ(j["header"]["magic"].asInt64(), 0x8EB5A462LL);
  EXPECT_EQ(j["header"]["input_row"].asInt(), 224);
  EXPECT_EQ(j["header"]["input_radix"].asInt(), 7);
  EXPECT_TRUE(j["inputs"].isArray());
  ASSERT_EQ(j["outputs"].size(), 1u);
  EXPECT_EQ(j["outputs"][0]["output_radix"].asInt(), 5);

  testsupport::SampleRawSetup200 s;
  s.header.input_num = 0;  // set from the two inputs
  s.inputs.push_back(testsupport::RawNetworkInput{1, 0, 7, 9, 16, 0x60500000, 1008, 4});
  const std::string s200 = Write("b_setup.bin", testsupport::BuildRawSetup200(s));
  r = Parse({s200, "-p", "200"});  // the separate form of -p, and -j left out
  ASSERT_EQ(r.status, 0) << r.err;
  j = ReadJson(s200 + ".json");
  ASSERT_TRUE(j.isObject());
  EXPECT_EQ(j["header"].size(), 15u);
  EXPECT_EQ(j["header"]["input_num"].asInt(), 2);
  ASSERT_EQ(j["inputs"].size(), 2u);
  EXPECT_EQ(j["inputs"][1]["input_row"].asInt(), 7);
  EXPECT_EQ(j["inputs"][1]["input_start"].asInt64(), 0x60500000LL);

  // Without -p100 a raw file is read with the second-generation header.
  r = Parse({s100});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadJson(s100 + ".json")["header"].size(), 15u);
}

TEST_F(SetupParserTest, FlatbufferSetup) {
  testsupport::SampleFbSetup s;
  s.run_val = 3;
  const std::string path = Write("m_setup.bin", testsupport::BuildFbSetup(s));
  testsupport::WriteText(path + ".json", std::string(4096, '#'));  // replaced whole
  const RunResult r = Parse({path});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json::Value j = ReadJson(path + ".json");
  ASSERT_TRUE(j.isObject()) << testsupport::ReadText(path + ".json");
  EXPECT_EQ(j["header"]["platform"].asString(), "tz400");
  EXPECT_EQ(j["header"]["run_val"].asInt(), 3);
  ASSERT_EQ(j["inputs"].size(), 1u);
  EXPECT_EQ(j["inputs"][0]["name"].asString(), "input");
  ASSERT_EQ(j["outputs"].size(), 1u);
  EXPECT_EQ(j["outputs"][0]["name"].asString(), "output");
  // A target is accepted and changes nothing for this form.
  EXPECT_EQ(Parse({path, "-p400", "-j"}).status, 0);
  EXPECT_EQ(ReadJson(path + ".json"), j);
}

TEST_F(SetupParserTest, BadFilesFail) {
  RunResult r = Parse({dir_ / "missing_setup.bin", "-p100", "-j"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("missing_setup.bin"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir_ / "missing_setup.bin.json"));

  std::vector<uint8_t> junk(257);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 131 + 7);
  const std::string random = Write("junk_setup.bin", junk);
  r = Parse({random});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("neither a raw nor a flatbuffer setup.bin"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(random + ".json"));

  const std::string empty = Write("empty_setup.bin", {});
  r = Parse({empty, "-p200"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("empty_setup.bin"), std::string::npos);
  EXPECT_FALSE(Exists(empty + ".json"));

  // The raw magic followed by a header cut short.
  const std::string cut = Write("cut_setup.bin", {0x62, 0xA4, 0xB5, 0x8E, 1, 0, 0, 0, 2});
  r = Parse({cut, "-p100"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cut_setup.bin"), std::string::npos);
  EXPECT_FALSE(Exists(cut + ".json"));
}

TEST_F(SetupParserTest, ArgumentsAndHelp) {
  const std::string path = Write("a_setup.bin", testsupport::BuildRawSetup100());
  const std::vector<std::vector<std::string>> bad = {
      {},                           // no file
      {path, "-x"},                 // unknown option
      {path, "-p"},                 // -p without target
      {path, "-p700"},              // unknown target
      {path, path},                 // two files
      {path, "-p100", "-p200"},     // two targets
  };
  for (const auto& args : bad) {
    const RunResult r = Parse(args);
    EXPECT_NE(r.status, 0) << args.size();
    EXPECT_FALSE(r.err.empty());
    EXPECT_NE(r.err.find("Usage: talvex_setup_parser SETUP_BIN [-pTARGET] [-j]"), std::string::npos);
  }
  EXPECT_FALSE(Exists(path + ".json"));

  const RunResult help = Parse({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: talvex_setup_parser SETUP_BIN [-pTARGET] [-j]\n", 0), 0u);
  EXPECT_NE(help.out.find("-j "), std::string::npos);
  EXPECT_EQ(Parse({"-h"}).status, 0);
}

}  // namespace
