// talvex_setup_parser writes the JSON view of one setup.bin beside it. Extraction trusts its exit
// status: 0 written, 1 failed (and no file left), 2 bad arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json_utils.h"
#include "support/run.h"
#include "support/setup_builder.h"

namespace {

using testsupport::ReadText;

TEST(SetupParserTest, WritesTheViewOrFailsWithoutOne) {
  testsupport::TempDir dir;
  auto parse = [&dir](const std::vector<std::string>& args) {
    return testsupport::RunTool(TALVEX_SETUP_PARSER, args, dir.path());
  };
  auto write = [&dir](const std::string& name, const std::vector<uint8_t>& bytes) {
    testsupport::WriteBytes(dir / name, std::vector<unsigned char>(bytes.begin(), bytes.end()));
    return dir / name;
  };
  const std::string raw = write("a_setup.bin", testsupport::BuildRawSetup100());
  ASSERT_EQ(parse({raw, "-p100", "-j"}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(raw + ".json"))["header"].size(), 18u);  // the TZ100 header
  ASSERT_EQ(parse({raw}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(raw + ".json"))["header"].size(), 15u);  // TZ200, the default
  const std::string fb = write("m_setup.bin", testsupport::BuildFbSetup());
  testsupport::WriteText(fb + ".json", std::string(4096, '#'));  // replaced whole
  ASSERT_EQ(parse({fb}).status, 0);
  EXPECT_EQ(Str2Json(ReadText(fb + ".json"))["inputs"][0]["name"], "input");

  std::vector<uint8_t> junk(257);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 131 + 7);
  for (const std::string& path : {dir / "missing_setup.bin", write("empty_setup.bin", {}),
                                  write("cut_setup.bin", {0x62, 0xA4, 0xB5, 0x8E, 1, 0, 0, 0, 2}),
                                  write("junk_setup.bin", junk)}) {
    const testsupport::RunResult r = parse({path, "-p100"});
    EXPECT_EQ(r.status, 1) << path;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_FALSE(testsupport::Exists(path + ".json"));
  }
  EXPECT_EQ(parse({raw, "-p700"}).status, 2);
}

}  // namespace
