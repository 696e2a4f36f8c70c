// The model table report of fw_info.bin (-X -s on a legacy container).
#include "cli/fw_info_report.h"

#include <iostream>

#include <fmt/format.h>
#include <json/json.h>

#include "bnx/legacy_files.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/report_text.h"
#include "setup/setup_func.h"
#include "setup/setup_recognise.h"
#include "setup/setup_report.h"

namespace {

constexpr const char* kNoModel = "No model info in fw_info.bin";

using talvex::AddrLine;
using talvex::FramedLine;

}  // namespace

SetupView SetupViewOf(bool flatbuffer, bool first_generation) {
  return first_generation ? SetupView::kTz100Raw : flatbuffer ? SetupView::kFlatbuffer : SetupView::kRaw;
}

namespace {

std::string MemoryLines(const BNXUtils::FWInfoTable& table) {
  const uint32_t start = table.records.front().addr_in;
  return talvex::MemorySummary(start, table.dram_addr_end, table.dram_addr_end - start, table.total_bin_size);
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
  const std::string setup_text = GetSetupBinInfo(json, SetupViewOf(fb, first_generation), kWidth);
  return talvex::BoxTop(title, kWidth) + FramedLine("", kWidth) + FramedLine(id, kWidth) + FramedLine(ver, kWidth) +
         FramedLine("", kWidth) + FramedLine("Addr(IN/OUT/WBUF)", kWidth) + FramedLine(in, kWidth) +
         FramedLine(out, kWidth) + FramedLine(wbuf, kWidth) + FramedLine("", kWidth) +
         FramedLine("Addr(CMD/WT/SET)", kWidth) + FramedLine(cmd, kWidth) + FramedLine(wt, kWidth) +
         FramedLine(set, kWidth) + FramedLine("", kWidth) + FramedLine(std::string(kWidth, '='), kWidth) +
         FramedLine("", kWidth) + FramedLine(format, kWidth) + setup_text + talvex::BoxBottom(title, kWidth);
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
  const talvex::Status decoded = BNXUtils::DecodeFWInfo(fw.data(), fw.size(), table);
  if (!decoded.ok()) {
    return TALVEX_STATUS_ERROR(LogCateg::Tool, "Invalid {}: {}", fw_info_path, decoded.Reason());
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
