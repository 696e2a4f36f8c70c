// -X (EXTRACT_BNX): containers taken apart into their payload files, optionally with setup
// JSON views and the model reports.
#include "cli/extract_mode.h"

#include <exception>
#include <iostream>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/extract.h"
#include "bnx/test_conf.h"
#include "cli/fw_info_report.h"
#include "cli/handlers.h"
#include "cli/model_modes.h"
#include "cli/paths.h"
#include "cli/setup_parser_command.h"
#include "cli/txm_report.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"
#include "txm/txm_func.h"
#include "txm/txm_transform.h"

namespace {

// One container per model of the extracted TXM file, named after the prefix.
// views, if given, receives the JSON view text of each file (SplitTxmFile).
int RunExtractTxm(const CmdArgs& args, const std::string& txm, const std::string& prefix,
                  std::vector<std::string>& txm_files, std::vector<std::string>* views = nullptr) {
  int r = -1;
  try {
    r = SplitTxmFile(txm, args.output_folder, prefix, -1, txm_files, views);
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
  } catch (const std::exception& e) {
    TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to split {}: {}", txm, e.what());
  }
  if (r != 0) std::cerr << "Failed to ExtractTxm with model_id: " << -1 << std::endl;
  return r;
}

// The JSON view of every new per-model TXM file, then the model report of the whole file.
// views holds the view texts of the files from first on when SplitTxmFile made them; otherwise
// each file is read back.
int ReportTxm(const std::string& all_out, const std::vector<std::string>& txm_files, size_t first,
              const std::vector<std::string>& views) {
  int r = 0;
  const bool have_views = views.size() == txm_files.size() - first;
  for (size_t i = first; i < txm_files.size(); ++i) {
    const std::string& p = txm_files[i];
    const std::string out = BNXUtils::GetOutputDir() + Basename(p) + ".no_binary.json";
    if (have_views) {
      const std::string& text = views[i - first];
      if (talvex::Report(talvex::WriteNewFile(out, text.data(), text.size(), LogCateg::Txm)) != 0) {
        r = -1;
        continue;
      }
      std::cout << out << "\n";
      continue;
    }
    try {
      TalvexTXM::TXMContentT txm = LoadTxmObj(p);
      TXM::TrimBinary(txm, false, false);
      if (talvex::Report(TXM::DumpDebugText(txm, out, false)) != 0) {
        r = -1;
        continue;
      }
    } catch (const TalvexException& e) {
      talvex::Report(e.status());
      r = -1;
      continue;
    }
    std::cout << out << "\n";
  }
  std::cout << "\n" << std::flush;
  if (!all_out.empty()) {
    const int t = GetTXMModelInfo(all_out);
    if (t != 0) r = t;
  }
  return r;
}

// JSON views of the setup binaries through the external parser, then the model table report.
int ReportLegacy(const CmdArgs& args, const BNXUtils::BnxFile& bnx, const std::string& fw_out,
                 const std::vector<std::string>& setups) {
  int r = 0;
  const bool raw = bnx.major() == 0;
  const std::string target = bnx.target();
  const std::string dir = GetCurrentWorkingDirectory();
  for (const std::string& s : setups) {
    const std::string view = BNXUtils::GetRealpath(s) + ".json";
    const bool earlier = talvex::FileExists(view);
    const int st = RunCommand(SetupParserCommand(dir, s, raw, target));
    if (!earlier && talvex::FileExists(view)) talvex::RecordOutput(view);
    if (st != 0) {
      std::cerr << fmt::format("talvex_setup_parser failed (status {}) on {}", st, s) << std::endl;
      r = st;
      continue;
    }
    if (!args.blQuiet) std::cout << view << std::endl;
  }
  if (!fw_out.empty()) {
    const int t = ParseAllFwInfo(BNXUtils::GetRealpath(fw_out), setups, target == "100");
    if (t != 0) r = t;
  }
  return r;
}

}  // namespace

std::vector<BNXUtils::BnxFile> OpenContainers(const CmdArgs& args) {
  std::vector<BNXUtils::BnxFile> files;
  for (const std::string& path : BNXUtils::ResolveContainerPaths(args.model_path)) {
    files.push_back(BNXUtils::BnxFile::Open(path));
  }
  return files;
}

int ExtractBnxUtils(BNXUtils::BnxFile& bnx, const std::string& prefix_in, bool keep, std::string& fw_info_out,
                    std::string& all_models_out, std::vector<std::string>* setups, BNXUtils::Damaged damaged) {
  fw_info_out.clear();
  all_models_out.clear();
  // The default prefix counts as used whether it came in empty or already filled in.
  const std::string default_name = bnx.default_prefix();
  const bool default_prefix = prefix_in.empty() || prefix_in == default_name;
  const std::string prefix = prefix_in.empty() ? default_name : prefix_in;

  BNXUtils::ExtractedFiles written;
  BNXUtils::ExtractLayout layout;
  layout.plain_legacy_names = default_prefix;
  // Per-model files that would be removed again at once are not made at all.
  layout.pieces = keep;
  const int r = talvex::Report(BNXUtils::ExtractBNX(bnx, prefix, setups, &written, damaged, layout));
  if (written.all_models.empty()) return r != 0 ? r : -1;
  if (!written.fw_info.empty()) fw_info_out = BNXUtils::GetRealpath(written.fw_info);
  all_models_out = BNXUtils::GetRealpath(written.all_models);
  return r;
}

int ExtractBnxAll(const CmdArgs& args, std::vector<BNXUtils::BnxFile>& files, std::vector<std::string>& txm_files,
                  bool keep) {
  if (files.empty()) {
    std::cerr << "No BNX file to extract" << std::endl;
    return -1;
  }
  int status = 0;
  for (BNXUtils::BnxFile& bnx : files) {
    const std::string prefix = !args.output_name.empty() ? args.output_name : bnx.default_prefix();
    std::string fw_out, all_out;
    std::vector<std::string> setups;
    int r = ExtractBnxUtils(bnx, prefix, keep, fw_out, all_out, &setups,
                            args.blForce ? BNXUtils::Damaged::kWarn : BNXUtils::Damaged::kRefuse);
    if (!args.blQuiet) {
      std::cout << "Extract_Status: " << r << "\n";
      if (!fw_out.empty()) std::cout << BNXUtils::GetRealpath(fw_out) << "\n";
      if (!all_out.empty()) std::cout << BNXUtils::GetRealpath(all_out) << "\n";
      std::cout << std::flush;
    }
    if (r != 0) {
      // Nothing (or not all) of it was written: there is nothing to split or report.
      status = r;
      continue;
    }

    const bool txm_payload = bnx.major() == 2;
    const size_t first_txm = txm_files.size();
    // The views are made from the models in memory while they are written.
    std::vector<std::string> views;
    std::vector<std::string>* want_views = args.blParseSetupBin ? &views : nullptr;
    if (keep && txm_payload) {
      r = RunExtractTxm(args, all_out, prefix, txm_files, want_views);
      if (r != 0) return r;
    }
    if (args.blParseSetupBin) {
      if (!txm_payload) {
        r = ReportLegacy(args, bnx, fw_out, setups);
      } else {
        if (!keep) {
          r = RunExtractTxm(args, all_out, prefix, txm_files, want_views);
          if (r != 0) return r;
        }
        r = ReportTxm(all_out, txm_files, first_txm, views);
      }
    }
    if (r != 0) status = r;
  }
  return status;
}

int ExtractOpened(const CmdArgs& args, std::vector<BNXUtils::BnxFile>& files) {
  std::vector<std::string> txm_files;
  const int r = ExtractBnxAll(args, files, txm_files, args.blParseSetupBin || args.blKeepAll);
  if (!args.blKeepAll) {
    // Containers that could not be read have no files here (and were reported already).
    std::vector<std::string> names;
    for (const BNXUtils::BnxFile& bnx : files) {
      const std::string name = args.output_name.empty() ? bnx.default_prefix() : args.output_name;
      if (!name.empty()) names.push_back(name);
    }
    BNXUtils::PostCleanUpPrefixes(names, false);
  }
  return r;
}

talvex::Status ExtractBnx(const CmdArgs& args) {
  std::vector<BNXUtils::BnxFile> files = OpenContainers(args);
  // Each container's failure was reported in its place among the lines of the others.
  return talvex::Status(ExtractOpened(args, files));
}
