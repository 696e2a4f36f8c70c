// talvex_setup_parser writes the JSON view of one setup.bin beside it. Extraction trusts its exit
// status: 0 written, 1 failed (and no file left), 2 bad arguments.
#include "common/json_utils.h"
#include "support/tool_test.h"

namespace {

using namespace testsupport;

using SetupParserTest = ToolTest;

TEST_F(SetupParserTest, WritesTheViewOrFailsWithoutOne) {
  auto parse = [this](const Strings& args) { return RunTool(TALVEX_SETUP_PARSER, args, dir_.path()); };
  const std::string raw = Write("a_setup.bin", BuildRawSetup100());
  ASSERT_EQ(parse({raw, "-p100", "-j"}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(raw + ".json"))["header"].size(), 18u);  // the TZ100 header
  ASSERT_EQ(parse({raw}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(raw + ".json"))["header"].size(), 15u);  // TZ200, the default
  const std::string fb = Write("m_setup.bin", BuildFbSetup());
  WriteText(fb + ".json", std::string(4096, '#'));  // replaced whole
  ASSERT_EQ(parse({fb}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(fb + ".json"))["inputs"][0]["name"], "input");

  std::vector<uint8_t> junk(257);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 131 + 7);
  for (const std::string& path : {dir_ / "missing_setup.bin", Write("empty_setup.bin", {}),
                                  Write("cut_setup.bin", {0x62, 0xA4, 0xB5, 0x8E, 1, 0, 0, 0, 2}),
                                  Write("junk_setup.bin", junk)}) {
    const RunResult r = parse({path, "-p100"});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(path + ".json"));
  }
  EXPECT_EQ(parse({raw, "-p700"}).status, 2);
}

}  // namespace
