// The option table and what is derived from it: the getopt tables, the usage text, the modes.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/usage_text.h"

namespace {

TEST(OptionTableTest, DerivedGetoptTablesAndUsageText) {
  EXPECT_EQ(ShortOptionString(), "X:lsGh:m:e:t:a:b:I:R:k:M:N:C:c:E:n:j:A:S:i:d:p:o:O:VHqf:g:F:U:");
  const std::vector<option> longs = LongOptionArray();
  ASSERT_EQ(longs.size(), OptionTable().size() + 1);
  EXPECT_EQ(longs.back().name, nullptr);
  for (size_t i = 0; i + 1 < longs.size(); ++i) {
    EXPECT_EQ(FindOption(longs[i].val), &OptionTable()[i]) << longs[i].name;  // every id unique
    EXPECT_EQ(longs[i].has_arg, OptionTable()[i].takes_arg ? required_argument : no_argument) << longs[i].name;
  }
  EXPECT_EQ(CmdArgs::UsageText(nullptr), testsupport::ExpectedUsage("talvex_bnx_utils"));
}

TEST(OptionTableTest, UsageNamesEveryOption) {
  const std::string usage = CmdArgs::UsageText(nullptr);
  for (const OptionSpec& spec : OptionTable()) {
    EXPECT_NE(usage.find(std::string("--") + spec.long_name), std::string::npos) << spec.long_name;
    if (spec.short_name != 0) {
      const std::string s(1, spec.short_name);
      EXPECT_TRUE(usage.find("-" + s + "(--") != std::string::npos || usage.find("-" + s + ", --") != std::string::npos)
          << spec.long_name;
    }
  }
}

TEST(OptionTableTest, EveryModeHasOneOptionAndOneHandler) {
  std::set<CmdArgs::CMDMode> modes;
  for (const OptionSpec& spec : OptionTable()) {
    if (spec.kind != OptionSpec::Kind::kMode) continue;
    EXPECT_TRUE(modes.insert(spec.mode).second) << spec.long_name;
    EXPECT_EQ(FunctionMap.count(spec.mode), 1u) << spec.long_name;
  }
  EXPECT_EQ(modes.size(), FunctionMap.size());
  EXPECT_EQ(FunctionMap.count(CmdArgs::None), 0u);
}

}  // namespace
