// -j (TxmToJson), -S (SplitCore) and the TXM helpers other modes share.
#include "cli/model_modes.h"

#include <iostream>
#include <map>
#include <vector>

#include <fmt/format.h>

#include "bnx/container.h"
#include "cli/handlers.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/strings.h"
#include "txm/txm_func.h"
#include "txm/txm_payloads.h"
#include "txm/txm_transform.h"
#include "txm/txm_writer.h"

namespace {

// These modes read exactly one TXM file; loading more would only waste time and memory.
void RequireOneFile(const CmdArgs& cmd, const char* message) {
  if (cmd.model_path.size() != 1) throw TalvexException(ErrorCode::UnexpectedValue, message);
}

// CmdArgs keeps the folder as typed ("out" or "out/"); the file goes inside it either way.
std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : EraseDuplicateSlashes(folder + "/" + name);
}

}  // namespace

TalvexTXM::TXMContentT LoadTxmObj(const std::string& txm_path) {
  TalvexTXM::TXMContentT txm;
  if (talvex::Report(TXM::LoadTxmObj(txm, txm_path)) != 0) {
    throw TalvexException(ErrorCode::UnexpectedValue, "Failed to read the txm file");
  }
  return txm;
}

namespace {
// The tree of a TXM file with its payload vectors read as empty (never copied), the file held in
// file so that they can be filled from it model by model (TXM::FillModelPayloads).
// Refuses what LoadTxmObj refuses.
TalvexTXM::TXMContentT LoadTxmTables(const std::string& txm_path, talvex::FileBuffer& file) {
  file = talvex::FileBuffer::Load(txm_path);
  if (!file.ok()) return LoadTxmObj(txm_path);  // fails as every TXM mode does on such a file
  TalvexTXM::TXMContentT txm;
  talvex::Status st = TXM::UnpackTxmTables(txm, file.data(), file.size());
  if (!st.ok()) {
    st.Err("Failed to parse the txm file: " + txm_path);
    talvex::Report(st);
    throw TalvexException(ErrorCode::UnexpectedValue, "Failed to read the txm file");
  }
  return txm;
}
}  // namespace

talvex::Status TxmToJson(const CmdArgs& cmd) {
  RequireOneFile(cmd, "should be only one txm file");
  // The view shows no payload bytes: they are never copied out of the file.
  talvex::FileBuffer file;
  TalvexTXM::TXMContentT txm = LoadTxmTables(cmd.model_path[0], file);
  TXM::TrimBinary(txm, false, false);
  const std::string name =
      cmd.output_name.empty() ? Basename(cmd.model_path[0]) + ".no_binary.json" : cmd.output_name;
  return TXM::DumpDebugText(txm, InFolder(cmd.output_folder, name), false);
}

talvex::Status SplitCore(const CmdArgs& cmd) {
  RequireOneFile(cmd, "Should only one TXM file");
  if (!cmd.output_name.empty()) {
    TALVEX_LOG(LogCateg::Tool, kWarn, "SplitCore doesn't support specifying output");
  }
  TalvexTXM::TXMContentT txm = LoadTxmObj(cmd.model_path[0]);
  const int stopped = TXM::ForEachModelById(txm, cmd.model_id, [&](int32_t model_id, TalvexTXM::TXMContentT& container) {
    TalvexTXM::TXMContentT result;
    int ret = talvex::Report(TXM::TrimCore(result, container, cmd.core_id, cmd.json_path));
    container.models.clear();  // done with the model: free it before packing the result
    if (ret != 0) {
      std::cerr << "Failed to ExtractCore with core_id: " << cmd.core_id << std::endl;
      return ret;
    }
    TxmWriter writer;
    std::string path;
    if (talvex::Report(writer.Dump(result, cmd.output_folder, cmd.output_name, model_id, cmd.core_id, "", path)) != 0) {
      return -1;
    }
    std::cout << path << std::endl;
    return 0;
  });
  // A model's failure was reported where it stopped the run, after the files made before it.
  return talvex::Status(stopped);
}

int SplitTxmFile(const std::string& txm_path, const std::string& folder, const std::string& name, int32_t model_id,
                 std::vector<std::string>& output_files, std::vector<std::string>* views) {
  // Only the model being written holds its payloads in memory: each is filled from the file
  // just before it is packed, and its pages of the file are given back then.
  talvex::FileBuffer file;
  TalvexTXM::TXMContentT txm = LoadTxmTables(txm_path, file);
  std::map<const TalvexTXM::ModelT*, const TalvexTXM::Model*> flat_of;
  if (file.ok()) {
    const auto* flat = flatbuffers::GetRoot<TalvexTXM::TXMContent>(file.data())->models();
    for (size_t i = 0; flat != nullptr && i < txm.models.size() && i < flat->size(); ++i) {
      flat_of[txm.models[i].get()] = flat->Get(static_cast<flatbuffers::uoffset_t>(i));
    }
  }
  int counter = 1;
  return TXM::ForEachModelById(txm, model_id, [&](int32_t id, TalvexTXM::TXMContentT& container) {
    // Written under its final name at once ("01_net_model_3.txm"), not renamed afterwards,
    // so no interim "01_net" file ever appears or gets replaced.
    std::string file_name = fmt::format("{:02d}_{}", counter++, name);
    if (!name.empty()) file_name += "_model_" + std::to_string(id) + ".txm";
    for (auto& model : container.models) {
      const auto found = flat_of.find(model.get());
      if (found == flat_of.end()) continue;
      if (!TXM::FillModelPayloads(found->second, model.get())) {
        TALVEX_LOG_ERROR(LogCateg::Tool, "Model {} of {} does not unpack as it is stored", id, txm_path);
        return -1;
      }
      TXM::ForEachModelPayload(found->second, [&](const uint8_t* d, size_t n) {
        file.ReleasePages(static_cast<size_t>(d - file.data()), n);
      });
    }
    // Room for this model, not for the whole file: mapping and unmapping a builder as large as
    // the file for every model made many small models cost quadratic time.
    TxmWriter writer(TXM::PackCapacity(*container.models.front()));
    std::string path;
    if (talvex::Report(writer.Dump(container, folder, file_name, id, -1, "", path)) != 0) return -1;
    output_files.push_back(BNXUtils::GetRealpath(path));
    if (views != nullptr) {
      // The container is dropped after this call: trimming it in place costs nothing.
      TXM::TrimBinary(container, false, false);
      views->push_back(TXM::GetDebugText(container));
    }
    return 0;
  });
}

void SaveCmdWtBuffer(const std::string& output_file_name, const std::vector<uint8_t>& buffer) {
  // Without an output folder the file goes to the working folder, never to "/".
  const std::string path = InFolder(BNXUtils::GetOutputDir(), output_file_name + ".bin");
  talvex::Report(talvex::WriteNewFile(path, buffer.data(), buffer.size(), LogCateg::Tool));
}

void SaveCmdWtRange(const std::string& output_file_name, const talvex::FileBuffer& fb, uint64_t offset,
                    uint64_t size) {
  const std::string path = InFolder(BNXUtils::GetOutputDir(), output_file_name + ".bin");
  if (offset > fb.size() || size > fb.size() - offset) {
    TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to write the file: {} (bytes {}..{} lie outside the input)", path,
                     offset, offset + size);
    return;
  }
  if (fb.fd() < 0 || size == 0) {
    SaveCmdWtBuffer(output_file_name, std::vector<uint8_t>(fb.data() + offset, fb.data() + offset + size));
    return;
  }
  talvex::AtomicFileWriter out(path);
  if (out.CopyFrom(fb.fd(), offset, size) && out.Commit()) return;
  TALVEX_LOG_ERROR(LogCateg::Tool, "Failed to write the file: {} ({})", path, out.error());
}
