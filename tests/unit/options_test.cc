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
    GET_CRC               : -C(--crc) <bnx_file_path>
    TXM_TO_JSON           : -j(--txm_to_json) <txm_file_path>
    SPLIT_CORE            : -S(--split_core) <txm_file_path> -d(--core_id) core_id -p(--json_path) <addr_json_path> (-i(--model_id) model_id)
    CHECK_ALIGNMENT       : -A(--alignment) <txm_file_path>
    VERIFY_BNX            : --verify BNX_1 BNX_2... (--json)

  options:
    -o, --output    : output file name, default is "models_(target)"
    -O, --folder    : output folder, default is "output/"
    -V, --version   : show version number
    -H, --help      : show this message
    -q, --quiet     : print fewer progress lines
    -a, --solution_id : solution id of UPDATE SOLUTION INFO
    -b, --solution_tag : solution tag of UPDATE SOLUTION INFO
    -i, --model_id  : model id of SPLIT_CORE, default -1 (every model)
    -d, --core_id   : core id of SPLIT_CORE
    -p, --json_path : address json file of SPLIT_CORE
    -k, --header_key : header key of READ_BNX: platform, target, crc, tv_number, encryption_mode, compiler_version, toolchain_version, schema_version, schema_version_major, uuid, solution_id, solution_tag
    --json          : print one JSON document instead of the text (DUMP_DATA, READ_BNX, READ_MODEL_INFO, VERIFY_BNX)
    
)txt");
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
