// The model table report of fw_info.bin (-X -s on a legacy container).
#include "cli/fw_info_report.h"

#include <iostream>

#include <fmt/format.h>
#include <json/json.h>

#include "bnx/legacy_files.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "setup/setup_func.h"
#include "setup/setup_recognise.h"
#include "setup/setup_report.h"

namespace {

constexpr const char* kNoModel = "No model info in fw_info.bin";

// "    [ input] 0x60000000 L =      256 : 0x00000100"
std::string AddrLine(const char* name, uint32_t addr, uint32_t len) {
  return fmt::format("    [{0:>{1}}]{2:^{3}}L = {4:>{5}} : {4:#010x}", name, 6, fmt::format("0x{:x}", addr), 12,
                     len, 8);
}

std::string MemoryLines(const BNXUtils::FWInfoTable& table) {
  constexpr int kLabel = 30;
  constexpr double kMiB = 1024.0 * 1024.0;
  const uint32_t start = table.records.front().addr_in;
  const uint32_t space = table.dram_addr_end - start;
  std::string s;
  s += fmt::format("{0:<{1}} = [{2:#010x}]\n", "DDR start addr", kLabel, start);
  s += fmt::format("{0:<{1}} = [{2:#010x}]\n", "DDR end addr", kLabel, table.dram_addr_end);
  s += fmt::format("{0:<{1}} = [{2:#010x}] : {3:.2f} MB\n", "DDR space needed", kLabel, space, space / kMiB);
  s += fmt::format("{0:<{1}} = [{2:#010x}] : {3:.2f} MB\n", "Model size(no heading buff)", kLabel,
                   table.total_bin_size, table.total_bin_size / kMiB);
  s += "\n";
  return s;
}

std::string ModelBox(const BNX_FW_INFO_MODEL& rec, size_t index, const talvex::FileBuffer& setup,
                     bool first_generation) {
  // An empty setup file is a buffer of no bytes: neither form, so a null view.
  const uint8_t* bin = setup.ok() ? setup.data() : nullptr;
  const size_t size = setup.ok() ? setup.size() : 0;
  const bool fb = Setup::IsFBSetup(bin, size);
  Json::Value json;
  const int conv =
      talvex::Report(fb ? Setup::FBToJson(bin, size, json) : Setup::RawToJson(bin, size, json, first_generation));
  if (conv == -1) json = Json::Value();

  constexpr int kWidth = FW_INFO_REPORT_WIDTH;
  const std::string title = fmt::format(" Model #{0} ", index + 1);
  const std::string id = fmt::format("{0:<{1}} = [{2}]:[0x{2:x}]", "Model ID", 15, rec.model_id);
  const std::string ver = fmt::format("{0:<{1}} = [{2}]:[0x{2:x}]", "Model Version", 15, rec.model_ver);
  const std::string in = AddrLine("input", rec.addr_in, rec.size_in);
  const std::string out = AddrLine("output", rec.addr_out, rec.size_out);
  const std::string wbuf = AddrLine("wbuf", rec.addr_wbuf, rec.size_wbuf);
  const std::string cmd = AddrLine("cmd", rec.addr_cmd, rec.size_cmd);
  const std::string wt = AddrLine("wt", rec.addr_wt, rec.size_wt);
  const std::string set = AddrLine("set", rec.addr_fw, rec.size_fw);
  const std::string format = fmt::format("{0:<{1}} = [{2}]", "setup.bin format", 15, fb ? "FlatBuffers" : "raw binary");
  const std::string setup_text = first_generation ? Get100SetupBinInfo(json, kWidth)
                                 : fb             ? GetFbsSetupBinInfo(json, kWidth)
                                                  : GetRawSetupBinInfo(json, kWidth);
  return fmt::format(
      "┌{0:─<{2}}┐\n│{1: ^{2}}│\n│{3: <{2}}│\n│{4: <{2}}│\n│{1: <{2}}│\n│{5: <{2}}│\n│{6: <{2}}│\n│{7: <{2}}│\n"
      "│{8: <{2}}│\n│{1: <{2}}│\n│{9: <{2}}│\n│{10: <{2}}│\n│{11: <{2}}│\n│{12: <{2}}│\n│{1: <{2}}│\n│{1:=<{2}}│\n"
      "│{1: <{2}}│\n│{13: <{2}}│\n{14}└{0:─>{2}}┘\n",
      title, "", kWidth, id, ver, "Addr(IN/OUT/WBUF)", in, out, wbuf, "Addr(CMD/WT/SET)", cmd, wt, set, format,
      setup_text);
}

}  // namespace

talvex::Status GetAllFwInfoText(const std::string& fw_info_path, const std::vector<std::string>& setup_paths,
                                bool first_generation, std::string& text) {
  const talvex::FileBuffer fw = talvex::FileBuffer::Load(fw_info_path);
  if (!fw.ok()) {
    return TALVEX_STATUS_ERROR(LogCateg::Tool, "Failed to read {}: {}", fw_info_path,
                               talvex::ReadStatusText(fw.status()));
  }
  BNXUtils::FWInfoTable table;
  std::string error;
  if (!BNXUtils::DecodeFWInfo(fw.data(), fw.size(), table, &error)) {
    return TALVEX_STATUS_ERROR(LogCateg::Tool, "Invalid {}: {}", fw_info_path, error);
  }
  if (table.records.empty()) return talvex::Status(-1).Out(kNoModel);
  if (setup_paths.size() < table.records.size()) {
    return TALVEX_STATUS_ERROR(LogCateg::Tool, "fw_info.bin lists {} models but {} setup binaries were given",
                               table.records.size(), setup_paths.size());
  }
  // Every setup is read before anything is built, so a failure prints no partial report.
  std::vector<talvex::FileBuffer> setups;
  setups.reserve(table.records.size());
  for (size_t i = 0; i < table.records.size(); ++i) {
    talvex::FileBuffer fb = talvex::FileBuffer::Load(setup_paths[i]);
    if (!fb.ok() && fb.status() != talvex::ReadStatus::kEmpty) {
      return TALVEX_STATUS_ERROR(LogCateg::Tool, "Failed to read the setup binary of model #{}: {} ({})", i + 1,
                                 setup_paths[i], talvex::ReadStatusText(fb.status()));
    }
    setups.push_back(std::move(fb));
  }
  std::string s = MemoryLines(table);
  for (size_t i = 0; i < table.records.size(); ++i) s += ModelBox(table.records[i], i, setups[i], first_generation);
  s += "\n";
  text = std::move(s);
  return talvex::Status();
}

int ParseAllFwInfo(const std::string& fw_info_path, const std::vector<std::string>& setup_paths,
                   bool first_generation) {
  std::string text;
  const talvex::Status st = GetAllFwInfoText(fw_info_path, setup_paths, first_generation, text);
  if (st.ok()) std::cout << text << std::flush;
  return talvex::Report(st);
}
