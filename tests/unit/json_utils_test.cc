#include "common/json_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run.h"

const char* const kCompact = "{\"id\":32768,\"list\":[1,\"two\"],\"name\":\"det\",\"nested\":{\"flag\":true}}";

TEST(JsonUtilsTest, TextsAndFilesRoundTrip) {
  const Json::Value v = Str2Json(kCompact);
  EXPECT_EQ(v["list"][1].asString(), "two");
  EXPECT_EQ(Json2Str(v), kCompact);
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "c.json", std::string(4096, 'x'));  // replaced whole
  ASSERT_EQ(SaveJson(tmp / "c.json", v, true), 0);
  EXPECT_EQ(testsupport::ReadText(tmp / "c.json"), kCompact);
  ASSERT_EQ(SaveJson(tmp / "p.json", v, false), 0);
  EXPECT_NE(testsupport::ReadText(tmp / "p.json").find("\n\t\"id\" : 32768,\n"), std::string::npos);
  EXPECT_EQ(LoadJson(tmp / "p.json"), v);
  EXPECT_EQ(testsupport::DirEntries(tmp.path()), (std::vector<std::string>{"c.json", "p.json"}));
}

TEST(JsonUtilsTest, BadInputGivesNullAndBadOutputCreatesNothing) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "text.json", "this is not json\n");
  testsupport::WriteText(tmp / "empty.json", "");
  for (const std::string& path : {std::string(), tmp / "missing.json", tmp / "text.json", tmp / "empty.json", tmp.path()}) {
    EXPECT_TRUE(LoadJson(path).isNull()) << path;
  }
  EXPECT_EQ(SaveJson(tmp / "no_such_dir/out.json", Json::Value(1), true), -1);
  EXPECT_EQ(testsupport::DirEntries(tmp.path()), (std::vector<std::string>{"empty.json", "text.json"}));
}
