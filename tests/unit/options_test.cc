// The option table and what is derived from it: the getopt tables, the usage text, the modes.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

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
  EXPECT_EQ(CmdArgs::UsageText(nullptr), R"txt(    
talvex_bnx_utils <section> <options>

  section list:
    EXTRACT_BNX           : -X(--extract) <bnx_file_path> -l(--keep_all) -s(--parse_setup_bin)
    GEN_BNX               : -G(--gen) [-h(--header) <fw_info_path> -m(--model) <all_models_path>]|[-e(--txm) <txm_path>] -t(--target) "target"
    DUMP_DATA             : -I(--info) <bnx_file_path>
    READ_BNX              : -R(--read) <bnx_file_path> -k(--header_key) "info_key"
    READ_MODEL_INFO       : -M(--model_info) <bnx_file_path> -N(--model_idx) "idx"
    COMBINE_BNX           : -c(--combine_bnx) BNX_1 BNX_2 BNX_3...
    UPDATE_MODEL_INFO     : -U(--update_model_info) <bnx_file_path> --model_info_version v1,v2,v3... --model_info_name n1,n2,n3... (--replace_original)
    UPDATE SOLUTION INFO  : --update_solution_info <bnx_file_path> --solution_id 1234 --solution_tag 5a6f7e (--replace_original)
    POST_ENC              : -E(--enc) <bnx_file_path> [-n(--TV) "tv_number"] | [-f(--c_key) customer_key -g(--efuse_key) efuse_key(default: TALVEX_KEY) (-F(--key_file) file_path)]; [Linux Only]

  options:
    -o, --output    : output file name, defautl is "model_(target)"
    -O, --folder    : output folder, defautl is "output/"
    -V, --version   : show version number
    -H, --help      : show this message
    
)txt");
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
