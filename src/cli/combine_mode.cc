// -c (COMBINE_BNX): several containers of one target merged into one container.

#include <iostream>

#include <fmt/format.h>

#include "bnx/combine.h"
#include "bnx/container.h"
#include "bnx/extract.h"
#include "cli/gen_mode.h"
#include "cli/handlers.h"
#include "cli/model_modes.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "txm/txm_writer.h"

namespace {

using BNXUtils::CombineSource;

// An output that would take the place of an input needs --replace_original: refused before any
// work by the front end's protection of the inputs, which would only stop the write at the end.
bool RefuseOverwrite(const std::string& out) {
  const std::string clash = talvex::InputClash(out);
  if (clash.empty()) return false;
  std::cerr << "Output file " << out << ": " << clash << "; use --replace_original to replace it" << std::endl;
  return true;
}

// What extraction reports for each container; the combine reads the containers in memory, so
// the files named here exist only when the intermediate files are kept (-l).
void PrintExtractStatus(const CmdArgs& cmd, const std::vector<CombineSource>& srcs) {
  if (cmd.blQuiet) return;
  const std::string dir = BNXUtils::GetOutputDir();
  for (const CombineSource& src : srcs) {
    std::cout << "Extract_Status: 0\n";
    size_t fw_size = 0;
    src.FwInfo(&fw_size);
    if (src.major == 2) {
      std::cout << BNXUtils::AbsoluteFilePath(dir + src.prefix + "_models_" + src.target + ".txm") << "\n";
      continue;
    }
    if (fw_size != 0) std::cout << BNXUtils::AbsoluteFilePath(dir + src.prefix + "_fw_info.bin") << "\n";
    std::cout << BNXUtils::AbsoluteFilePath(dir + src.prefix + "_all_models.bin") << "\n";
  }
  std::cout << std::flush;
}

// Schema major 2: the merged TXM file (its tables in memory, its large payloads in the inputs),
// then a new container generated around it; the TXM file is written only when the
// intermediate files are kept.
int CombineTxmPath(const CmdArgs& cmd, const std::vector<CombineSource>& srcs, std::string& out_path) {
  flatbuffers::FlatBufferBuilder merged;
  std::vector<int32_t> model_ids;
  // The large payloads stay in the inputs' files: merged holds the tables around them.
  BNXUtils::TxmPieces pieces;
  const talvex::Status st = BNXUtils::CombineTxmSources(srcs, merged, model_ids, &pieces);
  if (!st.ok()) {
    talvex::Report(st);
    return -1;
  }
  const auto* root = flatbuffers::GetRoot<TalvexTXM::TXMContent>(merged.GetBufferPointer());
  const auto target = root->header() ? root->header()->target() : TalvexTXM::NPUTarget::UNKNOW;
  const std::string txm_path = TxmWriter::OutputPath(target, cmd.output_folder, cmd.output_name, -1, -1, "");
  const std::string bnx_path = BNXUtils::GetOutputFilePath(srcs[0].target, cmd.output_name);
  if (RefuseOverwrite(bnx_path) || (cmd.blKeepAll && RefuseOverwrite(txm_path))) return -1;

  BNX_Args args;
  args.target = srcs[0].target;
  args.solution_id = BNXUtils::JoinKey(srcs, "solution_id");
  args.solution_tag = BNXUtils::JoinKey(srcs, "solution_tag");
  args.toolchain_version = ReadToolchainVersion(kToolchainVersionFile);
  args.compiler_version = kCompilerVersion;
  try {
    if (cmd.blKeepAll) {
      // The extracted TXM file and its per-model split, as extraction leaves them, and the
      // merged file under its usual name.
      for (const CombineSource& src : srcs) {
        BNXUtils::ExtractedFiles written;
        const talvex::Status extracted = BNXUtils::ExtractBNX(src.path, src.prefix, nullptr, &written);
        if (!extracted.ok()) {
          talvex::Report(extracted);
          return -1;
        }
        std::vector<std::string> files;
        if (SplitTxmFile(written.all_models, cmd.output_folder, src.prefix, -1, files) != 0) {
          std::cerr << "Failed to ExtractTxm with model_id: " << -1 << std::endl;
          return -1;
        }
      }
      if (talvex::Report(BNXUtils::WriteTxmPieces(txm_path, pieces)) != 0) return -1;
    }
    std::cout << txm_path << std::endl;
    out_path = BNXUtils::WriteTxmBNX(args, pieces, model_ids, cmd.output_name);
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
    return -1;
  }
  return 0;
}

// Legacy containers: new DRAM layout, TZ100 relocation, new all_models.bin and fw_info.bin.
int CombineLegacyPath(const CmdArgs& cmd, const std::vector<CombineSource>& srcs, std::string& out_path) {
  BNXUtils::LegacyCombined combined;
  const talvex::Status st = BNXUtils::CombineAllModelsBin(srcs, combined);
  talvex::Report(st);  // the refusal, or the progress lines
  if (!st.ok()) return -1;
  const std::string bnx_path = BNXUtils::GetOutputFilePath(srcs.back().target, cmd.output_name);
  if (RefuseOverwrite(bnx_path)) return -1;
  try {
    if (cmd.blKeepAll) BNXUtils::WriteLegacyIntermediates(srcs, combined);
    talvex::Status notes;
    out_path = BNXUtils::WriteCombinedBNX(srcs, combined, cmd.output_name, &notes);
    talvex::Report(notes);
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
    return -1;
  }
  return 0;
}

}  // namespace

int CombineBnx(const CmdArgs& cmd) {
  const std::vector<std::string> paths = BNXUtils::ResolveContainerPaths(cmd.model_path);
  if (paths.empty()) return -1;
  std::vector<CombineSource> srcs(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    const talvex::Status st = BNXUtils::OpenCombineSource(paths[i], srcs[i]);
    if (!st.ok()) {
      talvex::Report(st);
      return -1;
    }
  }
  const talvex::Status check = BNXUtils::CheckBNX(srcs);
  if (!check.ok()) {
    talvex::Report(check);
    return -1;
  }
  // The first container chooses the path; every other one must have the same payload layout.
  const uint32_t major = srcs[0].major;
  for (const CombineSource& src : srcs) {
    if (src.major != major) {
      std::cerr << "All BNX should be the same schema version major: " << srcs[0].path << " has " << major << ", "
                << src.path << " has " << src.major << std::endl;
      return -1;
    }
  }
  if ((major == 2) != BNXUtils::IsTxmTarget(BNXUtils::GetTargetEnum(srcs[0].target))) {
    std::cerr << "Schema version major " << major << " does not fit target " << srcs[0].target << ": "
              << srcs[0].path << std::endl;
    return -1;
  }

  PrintExtractStatus(cmd, srcs);
  std::string out_path;
  const int r = major == 2 ? CombineTxmPath(cmd, srcs, out_path) : CombineLegacyPath(cmd, srcs, out_path);
  if (r != 0) return r;
  std::cout << "\nCombine multiple BNX file into new one in:\n\n" << BNXUtils::GetRealpath(out_path) << "\n\n"
            << std::flush;
  return 0;
}
