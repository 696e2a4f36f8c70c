#include "common/json_utils.h"

#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/run.h"

namespace {

Json::Value Sample() {
  Json::Value v;
  v["name"] = "det";
  v["id"] = 32768;
  v["list"].append(1);
  v["list"].append("two");
  v["nested"]["flag"] = true;
  return v;
}

// Entries of a folder other than "." and "..".
int CountEntries(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") ++n;
  }
  closedir(d);
  return n;
}

TEST(JsonTextTest, Json2StrIsCompactAndStr2JsonReadsItBack) {
  const Json::Value v = Sample();
  const std::string text = Json2Str(v);
  EXPECT_EQ(text, "{\"id\":32768,\"list\":[1,\"two\"],\"name\":\"det\",\"nested\":{\"flag\":true}}");
  EXPECT_EQ(Str2Json(text), v);
  EXPECT_EQ(Json2Str(Json::Value()), "null");
}

TEST(JsonTextTest, UnreadableTextGivesNull) {
  EXPECT_TRUE(Str2Json("").isNull());
  EXPECT_TRUE(Str2Json("{\"a\": ").isNull());
  EXPECT_TRUE(Str2Json("not json").isNull());
  std::istringstream in("[1, 2");
  EXPECT_TRUE(Istream2Json(in).isNull());
  std::istringstream good(" {\"k\": [1, 2]} ");
  EXPECT_EQ(Istream2Json(good)["k"][1].asInt(), 2);
}

TEST(LoadJsonTest, MissingEmptyOrBrokenFilesGiveNull) {
  testsupport::TempDir tmp;
  EXPECT_TRUE(LoadJson("").isNull());
  EXPECT_TRUE(LoadJson(tmp / "missing.json").isNull());
  testsupport::WriteText(tmp / "text.json", "this is not json\n");
  EXPECT_TRUE(LoadJson(tmp / "text.json").isNull());
  testsupport::WriteText(tmp / "empty.json", "");
  EXPECT_TRUE(LoadJson(tmp / "empty.json").isNull());
  EXPECT_TRUE(LoadJson(tmp.path()).isNull());  // a folder
}

TEST(SaveJsonTest, CompactAndIndentedFilesReadBackEqual) {
  testsupport::TempDir tmp;
  const Json::Value v = Sample();

  ASSERT_EQ(SaveJson(tmp / "compact.json", v, true), 0);
  const std::string compact = testsupport::ReadText(tmp / "compact.json");
  EXPECT_EQ(compact, "{\"id\":32768,\"list\":[1,\"two\"],\"name\":\"det\",\"nested\":{\"flag\":true}}");
  EXPECT_EQ(LoadJson(tmp / "compact.json"), v);

  ASSERT_EQ(SaveJson(tmp / "pretty.json", v, false), 0);
  const std::string pretty = testsupport::ReadText(tmp / "pretty.json");
  EXPECT_NE(pretty.find("\n\t\"id\" : 32768,\n"), std::string::npos) << pretty;
  EXPECT_EQ(LoadJson(tmp / "pretty.json"), v);
}

TEST(SaveJsonTest, ReplacesAnExistingFileWhole) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "out.json";
  testsupport::WriteText(path, std::string(4096, 'x'));
  Json::Value small;
  small["a"] = 1;
  ASSERT_EQ(SaveJson(path, small, true), 0);
  EXPECT_EQ(testsupport::ReadText(path), "{\"a\":1}");
  EXPECT_EQ(CountEntries(tmp.path()), 1);  // no temporary file left behind
}

TEST(SaveJsonTest, UnwritablePathsFailAndCreateNothing) {
  testsupport::TempDir tmp;
  EXPECT_EQ(SaveJson(tmp / "no_such_dir/out.json", Sample(), true), -1);
  EXPECT_FALSE(testsupport::Exists(tmp / "no_such_dir"));
  EXPECT_EQ(CountEntries(tmp.path()), 0);

  // A folder in the way of the file.
  ASSERT_EQ(mkdir((tmp / "taken").c_str(), 0755), 0);
  EXPECT_EQ(SaveJson(tmp / "taken", Sample(), false), -1);
  EXPECT_EQ(CountEntries(tmp / "taken"), 0);
  EXPECT_EQ(CountEntries(tmp.path()), 1);
}

}  // namespace
