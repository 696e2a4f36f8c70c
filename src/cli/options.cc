#include "cli/options.h"

#include <stdexcept>

#include "common/strings.h"

namespace {

using Kind = OptionSpec::Kind;

// A bad number is named with its option and value.
talvex::Status BadNumber(const char* option, const std::string& text, const char* expected) {
  return talvex::Status::Error(std::string("invalid value for ") + option + ": \"" + text + "\" (expected " + expected +
                                   ")",
                               1);
}

template <typename Fn>
talvex::Status ReadNumber(const char* option, const std::string& text, const char* expected, Fn&& store) {
  try {
    store();
    return talvex::Status();
  } catch (const std::exception&) {
    return BadNumber(option, text, expected);
  }
}

constexpr const char* kDecimal = "a decimal integer in the signed 32-bit range";
constexpr const char* kDecimalList = "decimal integers in the signed 32-bit range, separated by single spaces";

talvex::Status Done() { return talvex::Status(); }

const std::vector<OptionSpec> kOptions = {
    {"extract", 'X', true, Kind::kMode, CmdArgs::ExtractBnx, nullptr},
    {"keep_all", 'l', false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blKeepAll = true, Done(); }},
    {"parse_setup_bin", 's', false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blParseSetupBin = true, Done(); }},
    {"gen", 'G', false, Kind::kMode, CmdArgs::GenBnx, nullptr},
    {"header", 'h', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.fwInfo_path = v, Done(); }},
    {"model", 'm', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.allModels_path = v, Done(); }},
    {"txm", 'e', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.txm_path = v, Done(); }},
    {"target", 't', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.target = v, Done(); }},
    {"solution_id", 'a', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.solution_id = v, Done(); },
     "solution id of UPDATE SOLUTION INFO", 6},
    {"solution_tag", 'b', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.solution_tag = v, Done(); },
     "solution tag of UPDATE SOLUTION INFO", 7},
    {"info", 'I', true, Kind::kMode, CmdArgs::BnxInfo, nullptr},
    {"read", 'R', true, Kind::kMode, CmdArgs::ReadHeader, nullptr},
    {"header_key", 'k', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.header_key = v, Done(); },
     "header key of READ_BNX: {keys}", 11},
    {"model_info", 'M', true, Kind::kMode, CmdArgs::ReadModelInfo, nullptr},
    {"model_idx", 'N', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       return ReadNumber("--model_idx", v, kDecimalList, [&] { a.model_idx = Str2Ints(v, ' '); });
     }},
    {"crc", 'C', true, Kind::kMode, CmdArgs::GetCrc, nullptr},
    {"combine_bnx", 'c', true, Kind::kMode, CmdArgs::CombineBnx, nullptr},
    {"enc", 'E', true, Kind::kMode, CmdArgs::PostEnc, nullptr},
    {"TV", 'n', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       a.tv_number = ParseHex(v.rfind("0x", 0) == 0 ? v : "0x" + v);
       a.customer_key = 0;
       a.efuse_key = 0;
       return Done();
     }},
    {"txm_to_json", 'j', true, Kind::kMode, CmdArgs::TxmToJson, nullptr},
    {"alignment", 'A', true, Kind::kMode, CmdArgs::CheckAlignment, nullptr},
    {"split_core", 'S', true, Kind::kMode, CmdArgs::SplitCore, nullptr},
    {"model_id", 'i', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       return ReadNumber("--model_id", v, kDecimal, [&] { a.model_id = std::stoi(v); });
     },
     "model id of SPLIT_CORE, default -1 (every model)", 8},
    {"core_id", 'd', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       return ReadNumber("--core_id", v, kDecimal, [&] { a.core_id = std::stoi(v); });
     },
     "core id of SPLIT_CORE", 9},
    {"json_path", 'p', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.json_path = v, Done(); },
     "address json file of SPLIT_CORE", 10},
    {"output", 'o', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.output_name = v, Done(); },
     "output file name, default is \"models_(target)\"", 1},
    {"folder", 'O', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.output_folder = v, Done(); },
     "output folder, default is \"output/\"", 2},
    {"version", 'V', false, Kind::kVersion, CmdArgs::None, nullptr,
     "show version number", 3},
    {"help", 'H', false, Kind::kHelp, CmdArgs::None, nullptr,
     "show this message", 4},
    {"quiet", 'q', false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blQuiet = true, Done(); },
     "print fewer progress lines", 5},
    {"c_key", 'f', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       a.customer_key = ParseHex(v);
       a.tv_number = 0;
       return Done();
     }},
    {"efuse_key", 'g', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) {
       a.efuse_key = ParseHex(v);
       a.tv_number = 0;
       return Done();
     }},
    {"key_file", 'F', true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.key_file = v, Done(); }},
    {"update_model_info", 'U', true, Kind::kMode, CmdArgs::UpdateModelInfo, nullptr},
    {"model_info_version", 0, true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.model_info_version_vec = SplitStr(v, ','), Done(); }},
    {"model_info_name", 0, true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.model_info_name_vec = SplitStr(v, ','), Done(); }},
    {"replace_original", 0, false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blReplaceOriginal = true, Done(); }},
    {"update_solution_info", 0, true, Kind::kMode, CmdArgs::UpdateSolutionInfo, nullptr},
    {"verify", 0, true, Kind::kMode, CmdArgs::VerifyBnx, nullptr},
    {"json", 0, false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blJson = true, Done(); },
     "print one JSON document instead of the text (every mode)", 13},
    {"diff", 0, true, Kind::kMode, CmdArgs::DiffBnx, nullptr},
    {"map", 0, true, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string& v) { return a.map_path = v, Done(); },
     "SVG file for the memory map of DUMP_DATA", 14},
    {"force", 0, false, Kind::kSet, CmdArgs::None,
     [](CmdArgs& a, const std::string&) { return a.blForce = true, Done(); },
     "EXTRACT_BNX of a damaged container, each failing check printed as a warning", 12},
};

constexpr int kLongOnlyBase = 10000;

}  // namespace

const std::vector<OptionSpec>& OptionTable() { return kOptions; }

int OptionId(const OptionSpec& spec) {
  if (spec.short_name != 0) return static_cast<unsigned char>(spec.short_name);
  return kLongOnlyBase + static_cast<int>(&spec - kOptions.data());
}

const OptionSpec* FindOption(int id) {
  for (const OptionSpec& spec : kOptions) {
    if (OptionId(spec) == id) return &spec;
  }
  return nullptr;
}

std::string ShortOptionString() {
  std::string s;
  for (const OptionSpec& spec : kOptions) {
    if (spec.short_name == 0) continue;
    s += spec.short_name;
    if (spec.takes_arg) s += ':';
  }
  return s;
}

std::vector<option> LongOptionArray() {
  std::vector<option> out;
  for (const OptionSpec& spec : kOptions) {
    out.push_back({spec.long_name, spec.takes_arg ? required_argument : no_argument, nullptr, OptionId(spec)});
  }
  out.push_back({nullptr, 0, nullptr, 0});
  return out;
}

std::string UsageName(char short_name) {
  for (const OptionSpec& spec : kOptions) {
    if (spec.short_name == short_name) return std::string("-") + short_name + "(--" + spec.long_name + ")";
  }
  throw std::logic_error(std::string("no option -") + short_name);
}

std::string UsageName(const char* long_name) {
  for (const OptionSpec& spec : kOptions) {
    if (std::string(spec.long_name) == long_name) return std::string("--") + long_name;
  }
  throw std::logic_error(std::string("no option --") + long_name);
}
