// -X (EXTRACT_BNX): containers taken apart into their payload files, optionally with setup
// JSON views and the model reports.
#include "cli/extract_mode.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#include "cli/txm_report.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"
#include "txm/txm_func.h"
#include "txm/txm_transform.h"

namespace {

bool NamesFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// GenDefaultOutputPrefix without its log line: a container that cannot be read is refused by
// the extraction itself, with one message naming it.
std::string DefaultPrefix(const std::string& bnx) {
  const talvex::FileBuffer fb = talvex::FileBuffer::Load(bnx);
  if (!fb.ok() || !BNXUtils::VerifyBNXBuffer(fb.data(), fb.size())) return "BNX_";
  return "BNX_" + BNXUtils::ReadBNXKey(flatbuffers::GetRoot<TalvexBNX::BNXContent>(fb.data()), "crc");
}

bool RenameInto(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to rename {} to {}: {}", from, to, std::strerror(errno));
  return false;
}

// One container per model of the extracted TXM file, named after the prefix.
int RunExtractTxm(const CmdArgs& args, const std::string& txm, const std::string& prefix,
                  std::vector<std::string>& txm_files) {
  CmdArgs cmd;
  cmd.model_path = {txm};
  cmd.output_folder = args.output_folder;
  cmd.output_name = prefix;
  cmd.model_id = -1;
  int r = -1;
  try {
    r = ExtractTxm(cmd, txm_files);
  } catch (const std::exception& e) {
    // TalvexException has logged itself; anything else is named here.
    if (dynamic_cast<const TalvexException*>(&e) == nullptr) {
      TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to split {}: {}", txm, e.what());
    }
    r = -1;
  }
  if (r != 0) std::cerr << "Failed to ExtractTxm with model_id: " << -1 << std::endl;
  return r;
}

// The JSON view of every new per-model TXM file, then the model report of the whole file.
int ReportTxm(const std::string& all_out, const std::vector<std::string>& txm_files, size_t first) {
  int r = 0;
  for (size_t i = first; i < txm_files.size(); ++i) {
    const std::string& p = txm_files[i];
    const std::string out = BNXUtils::GetOutputDir() + Basename(p) + ".no_binary.json";
    try {
      TalvexTXM::TXMContentT txm = LoadTxmObj(p);
      TXM::TrimBinary(txm, false, false);
      if (TXM::DumpDebugText(txm, out, false) != 0) {
        TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to write the file: {}", out);
        r = -1;
        continue;
      }
    } catch (const TalvexException&) {
      r = -1;  // logged by the exception
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
int ReportLegacy(const CmdArgs& args, const std::string& bnx, const std::string& major, const std::string& fw_out,
                 const std::vector<std::string>& setups) {
  int r = 0;
  const bool raw = major == "0";
  const std::string target = BNXUtils::ReadBNX(bnx, "target");
  const std::string dir = GetCurrentWorkingDirectory();
  for (const std::string& s : setups) {
    const int st = RunCommand(SetupParserCommand(dir, s, raw, target));
    if (st != 0) {
      std::cerr << fmt::format("talvex_setup_parser failed (status {}) on {}", st, s) << std::endl;
      r = st;
      continue;
    }
    if (!args.blQuiet) std::cout << BNXUtils::GetRealpath(s) + ".json" << std::endl;
  }
  if (!fw_out.empty()) {
    const int t = ParseAllFwInfo(BNXUtils::GetRealpath(fw_out), setups, target == "100");
    if (t != 0) r = t;
  }
  return r;
}

bool ShellSafe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("_./-+,:@%", c) != nullptr;
}

}  // namespace

std::vector<std::string> ResolveContainerPaths(const std::vector<std::string>& pieces) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < pieces.size()) {
    std::string joined, found;
    size_t end = i;
    for (size_t j = i; j < pieces.size(); ++j) {
      joined = j == i ? pieces[i] : joined + " " + pieces[j];
      if (NamesFile(joined)) {
        found = joined;
        end = j;
      }
    }
    if (!found.empty()) {
      out.push_back(found);
      i = end + 1;
      continue;
    }
    // A blank between two paths typed twice leaves an empty piece: no container.
    if (!pieces[i].empty()) out.push_back(pieces[i]);
    ++i;
  }
  return out;
}

std::string ShellQuote(const std::string& word) {
  bool safe = !word.empty();
  for (char c : word) safe = safe && ShellSafe(c);
  if (safe) return word;
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

std::string SetupParserCommand(const std::string& dir, const std::string& setup_path, bool raw,
                               const std::string& target) {
  std::string cmd = ShellQuote(dir + "talvex_setup_parser") + " " + ShellQuote(setup_path);
  if (raw) cmd += " -p" + target + " -j";
  return cmd;
}

int RunCommand(const std::string& command) {
  // The child writes to the same streams: what was printed so far goes first.
  std::cout << std::flush;
  std::cerr << std::flush;
  std::fflush(nullptr);
  const int st = std::system(command.c_str());
  if (st == -1 || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}

int ExtractBnxUtils(const std::string& bnx, const std::string& prefix_in, bool keep, std::string& fw_info_out,
                    std::string& all_models_out, std::vector<std::string>* setups) {
  fw_info_out.clear();
  all_models_out.clear();
  // The default prefix counts as used whether it came in empty or already filled in.
  const std::string default_name = DefaultPrefix(bnx);
  const bool default_prefix = prefix_in.empty() || prefix_in == default_name;
  const std::string prefix = prefix_in.empty() ? default_name : prefix_in;

  BNXUtils::ExtractedFiles written;
  int r = BNXUtils::ExtractBNX(bnx, prefix, setups, &written);
  if (written.all_models.empty()) return r != 0 ? r : -1;

  if (!keep) BNXUtils::PostCleanUpTmpBin({bnx}, prefix, false);

  std::string all_file = written.all_models;
  std::string fw_file = written.fw_info;
  if (default_prefix && written.major != 2) {
    // The legacy pair of an unnamed extraction keeps the names the firmware tools expect.
    const std::string out_dir = BNXUtils::GetOutputDir();
    if (RenameInto(all_file, out_dir + "all_models.bin")) {
      all_file = out_dir + "all_models.bin";
    } else {
      r = -1;
    }
    if (!fw_file.empty()) {
      if (RenameInto(fw_file, out_dir + "fw_info.bin")) {
        fw_file = out_dir + "fw_info.bin";
      } else {
        r = -1;
      }
    }
  }
  if (!fw_file.empty()) fw_info_out = BNXUtils::GetRealpath(fw_file);
  all_models_out = BNXUtils::GetRealpath(all_file);
  return r;
}

int ExtractBnxAll(const CmdArgs& args, std::vector<std::string>& txm_files, bool keep) {
  const std::vector<std::string> paths = ResolveContainerPaths(args.model_path);
  if (paths.empty()) {
    std::cerr << "No BNX file to extract" << std::endl;
    return -1;
  }
  int status = 0;
  for (const std::string& path : paths) {
    const bool own_prefix = !args.output_name.empty() && args.mode != CmdArgs::CombineBnx;
    const std::string prefix = own_prefix ? args.output_name : DefaultPrefix(path);
    // DefaultPrefix is cheap: the container is mapped and only its header is read.
    std::string fw_out, all_out;
    std::vector<std::string> setups;
    int r = ExtractBnxUtils(path, prefix, keep, fw_out, all_out, &setups);
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

    const std::string major = BNXUtils::ReadBNX(path, "schema_version_major");
    const size_t first_txm = txm_files.size();
    if (keep && major == "2") {
      r = RunExtractTxm(args, all_out, prefix, txm_files);
      if (r != 0) return r;
    }
    if (args.blParseSetupBin) {
      if (major != "2") {
        r = ReportLegacy(args, path, major, fw_out, setups);
      } else {
        if (!keep) {
          r = RunExtractTxm(args, all_out, prefix, txm_files);
          if (r != 0) return r;
        }
        r = ReportTxm(all_out, txm_files, first_txm);
      }
    }
    if (r != 0) status = r;
  }
  return status;
}

int ExtractBnx(const CmdArgs& args) {
  const bool keep_all = args.blKeepAll;
  const bool parse = args.blParseSetupBin;
  std::vector<std::string> txm_files;
  const int r = ExtractBnxAll(args, txm_files, parse || keep_all);
  if (!keep_all) {
    std::vector<std::string> paths = ResolveContainerPaths(args.model_path);
    if (args.output_name.empty()) {
      // Containers that could not be read have no files here (and were reported already).
      paths.erase(std::remove_if(paths.begin(), paths.end(),
                                 [](const std::string& p) { return DefaultPrefix(p) == "BNX_"; }),
                  paths.end());
    }
    BNXUtils::PostCleanUpTmpBin(paths, args.output_name, false);
  }
  return r;
}
