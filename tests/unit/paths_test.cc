// Path helpers of the front end.
#include "cli/paths.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(PathsTest, ExtensionAndStem) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"dir/a.b.bnx", "bnx", "a.b"}, {"dir.v2/name", "v2/name", ""}, {"a.bnx/", "bnx/", "a"}};
  for (const auto& [path, ext, stem] : cases) {
    EXPECT_EQ(GetFileExtention(path), ext) << path;
    EXPECT_EQ(GetFilenameWithoutExt(path), stem) << path;
  }
}

}  // namespace
