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
  testsupport::WriteText(tmp / "c.json", kCompact);
  EXPECT_EQ(LoadJson(tmp / "c.json"), v);
}

TEST(JsonUtilsTest, BadInputGivesNull) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "text.json", "this is not json\n");
  testsupport::WriteText(tmp / "empty.json", "");
  for (const std::string& path : {std::string(), tmp / "missing.json", tmp / "text.json", tmp / "empty.json", tmp.path()}) {
    EXPECT_TRUE(LoadJson(path).isNull()) << path;
  }
}
