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
talvex::Status RefuseOverwrite(const std::string& out) {
  const std::string clash = talvex::InputClash(out);
  if (clash.empty()) return {};
  return talvex::Status::Error("Output file " + out + ": " + clash + "; use --replace_original to replace it");
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
talvex::Status CombineTxmPath(const CmdArgs& cmd, const std::vector<CombineSource>& srcs, std::string& out_path) {
  flatbuffers::FlatBufferBuilder merged;
  std::vector<int32_t> model_ids;
  // The large payloads stay in the inputs' files: merged holds the tables around them.
  BNXUtils::TxmPieces pieces;
  talvex::Status st = BNXUtils::CombineTxmSources(srcs, merged, model_ids, &pieces);
  if (!st.ok()) return st.SetCode(-1);
  const auto* root = flatbuffers::GetRoot<TalvexTXM::TXMContent>(merged.GetBufferPointer());
  const auto target = root->header() ? root->header()->target() : TalvexTXM::NPUTarget::UNKNOW;
  const std::string txm_path = TxmWriter::OutputPath(target, cmd.output_folder, cmd.output_name, -1, -1, "");
  const std::string bnx_path = BNXUtils::GetOutputFilePath(srcs[0].target, cmd.output_name);
  st = RefuseOverwrite(bnx_path);
  if (st.ok() && cmd.blKeepAll) st = RefuseOverwrite(txm_path);
  if (!st.ok()) return st;

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
        st = BNXUtils::ExtractBNX(src.path, src.prefix, nullptr, &written);
        if (!st.ok()) return st.SetCode(-1);
        std::vector<std::string> files;
        if (SplitTxmFile(written.all_models, cmd.output_folder, src.prefix, -1, files) != 0) {
          return talvex::Status::Error("Failed to ExtractTxm with model_id: -1");
        }
      }
      st = BNXUtils::WriteTxmPieces(txm_path, pieces);
      if (!StepOk(st)) return st;
    }
    std::cout << txm_path << std::endl;
    out_path = BNXUtils::WriteTxmBNX(args, pieces, model_ids, cmd.output_name);
  } catch (const TalvexException& e) {
    return talvex::Status(e.status()).SetCode(-1);
  }
  return {};
}

// Legacy containers: new DRAM layout, TZ100 relocation, new all_models.bin and fw_info.bin.
talvex::Status CombineLegacyPath(const CmdArgs& cmd, const std::vector<CombineSource>& srcs, std::string& out_path) {
  BNXUtils::LegacyCombined combined;
  talvex::Status st = BNXUtils::CombineAllModelsBin(srcs, combined);  // the refusal, or the progress lines
  if (!StepOk(st)) return st;
  st = RefuseOverwrite(BNXUtils::GetOutputFilePath(srcs.back().target, cmd.output_name));
  if (!st.ok()) return st;
  try {
    if (cmd.blKeepAll) BNXUtils::WriteLegacyIntermediates(srcs, combined);
    talvex::Status notes;
    out_path = BNXUtils::WriteCombinedBNX(srcs, combined, cmd.output_name, &notes);
    talvex::Report(notes);
  } catch (const TalvexException& e) {
    return talvex::Status(e.status()).SetCode(-1);
  }
  return {};
}

}  // namespace

talvex::Status CombineBnx(const CmdArgs& cmd) {
  const std::vector<std::string> paths = BNXUtils::ResolveContainerPaths(cmd.model_path);
  if (paths.empty()) return talvex::Status(-1);
  std::vector<CombineSource> srcs(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    talvex::Status st = BNXUtils::OpenCombineSource(paths[i], srcs[i]);
    if (!st.ok()) return st.SetCode(-1);
  }
  talvex::Status check = BNXUtils::CheckBNX(srcs);
  if (!check.ok()) return check.SetCode(-1);
  // The first container chooses the path; every other one must have the same payload layout.
  const uint32_t major = srcs[0].major;
  for (const CombineSource& src : srcs) {
    if (src.major != major) {
      return talvex::Status::Error(fmt::format("All BNX should be the same schema version major: {} has {}, {} has {}",
                                               srcs[0].path, major, src.path, src.major));
    }
  }
  if ((major == 2) != BNXUtils::IsTxmTarget(BNXUtils::GetTargetEnum(srcs[0].target))) {
    return talvex::Status::Error(
        fmt::format("Schema version major {} does not fit target {}: {}", major, srcs[0].target, srcs[0].path));
  }

  PrintExtractStatus(cmd, srcs);
  std::string out_path;
  talvex::Status st = major == 2 ? CombineTxmPath(cmd, srcs, out_path) : CombineLegacyPath(cmd, srcs, out_path);
  if (!st.ok()) return st;
  std::cout << "\nCombine multiple BNX file into new one in:\n\n" << BNXUtils::GetRealpath(out_path) << "\n\n"
            << std::flush;
  return {};
}
