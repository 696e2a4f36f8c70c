#pragma once
// The usage text as the front end prints it, with the program name it was started by; pinned here
// once for the option-table unit test and the end-to-end runs.
#include <string>

namespace testsupport {

inline std::string ExpectedUsage(const std::string& program) {
  return "    \n" + program + R"txt( <section> <options>

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
)txt" "    \n";
}

}  // namespace testsupport
