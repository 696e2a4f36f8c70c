#include "bnx/combine.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <set>

#include <fmt/format.h>

#include "bnx/container.h"
#include "bnx/crc32.h"
#include "bnx/extract.h"
#include "bnx/post_enc.h"
#include "bnx/tz100_utils.h"
#include "bnx/verify.h"
#include "common/exceptions.h"
#include "common/fb_unpack.h"
#include "common/format_ids.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "setup/setup_recognise.h"
#include "txm/txm_func.h"
#include "common/payload_memory.h"
#include "txm/txm_object.h"
#include "txm/txm_payloads.h"
#include "txm/txm_reader.h"
#include "txm/txm_verify.h"

namespace BNXUtils {
namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
const uint8_t kZeros[ALL_MODELS_PIECE_ALIGN] = {};


// Payload vectors from this size on are left to the inputs' files when the merged TXM is kept
// as pieces; smaller ones are not worth a piece of their own.
constexpr size_t kPieceFrom = size_t{1} << 20;

// The records of a legacy container's fw_info vector, checked against its all_models vector.
talvex::Status DecodeRecords(const CombineSource& src, std::vector<BNX_FW_INFO_MODEL>& records) {
  size_t fw_size = 0, all_size = 0;
  const uint8_t* fw = src.FwInfo(&fw_size);
  src.AllModels(&all_size);
  try {
    records = DecodeFWInfoExact(fw, fw_size).records;
    CheckBlocksFit(records, all_size);
  } catch (const TalvexException& e) {
    return talvex::Status::Error(fmt::format("Failed to read the fw_info / all_models of {}: {}", src.path, e.what()));
  }
  return {};
}

// Whether the container's first model has a flatbuffer setup; the container must list a model.
talvex::Status FirstSetupIsFbs(const CombineSource& src, bool* fbs) {
  size_t fw_size = 0, all_size = 0;
  const uint8_t* fw = src.FwInfo(&fw_size);
  const uint8_t* all = src.AllModels(&all_size);
  const auto* infos = src.bnx->model_info();
  FWInfoTable table;
  if (infos == nullptr || infos->size() == 0 || !DecodeFWInfo(fw, fw_size, table).ok() || table.records.empty()) {
    return talvex::Status::Error(fmt::format("model count should not be zero: {}", src.path));
  }
  try {
    const std::vector<uint8_t> setup = FirstSetupBin(table.records, all, all_size);
    *fbs = Setup::IsFBSetup(setup.data(), setup.size());
  } catch (const TalvexException& e) {
    return talvex::Status::Error(fmt::format("Failed to read the first setup.bin of {}: {}", src.path, e.what()));
  }
  return {};
}

}  // namespace

std::string CombineSource::Key(const std::string& key) const { return ReadBNXKey(bnx, key); }

const uint8_t* CombineSource::FwInfo(size_t* size) const {
  const auto* bin = bnx == nullptr ? nullptr : bnx->model_bin();
  const auto* v = bin == nullptr ? nullptr : bin->fw_info();
  *size = v == nullptr ? 0 : v->size();
  return v == nullptr ? nullptr : v->data();
}

const uint8_t* CombineSource::AllModels(size_t* size) const {
  const auto* bin = bnx == nullptr ? nullptr : bnx->model_bin();
  const auto* v = bin == nullptr ? nullptr : bin->all_models();
  *size = v == nullptr ? 0 : v->size();
  return v == nullptr ? nullptr : v->data();
}

talvex::Status OpenCombineSource(const std::string& path, CombineSource& src) {
  src = CombineSource();
  src.path = path;
  // A damaged container would be sealed into a new one that verifies.
  talvex::Status opened = OpenForUse(path, src.file);
  if (!opened.ok()) return opened;
  src.bnx = src.file.root();
  const auto* header = src.bnx->header();
  if (header == nullptr || header->schema_version() == nullptr) {
    return talvex::Status::Error("BNX file without header or schema version: " + path);
  }
  if (src.bnx->model_bin() == nullptr || src.bnx->model_bin()->all_models() == nullptr) {
    return talvex::Status::Error("BNX file without payload: " + path);
  }
  const int32_t target = static_cast<int32_t>(header->target());
  if (target < static_cast<int32_t>(TalvexBNX::NPUTarget::MIN) ||
      target > static_cast<int32_t>(TalvexBNX::NPUTarget::MAX)) {
    return talvex::Status::Error(fmt::format("BNX file with unknown target {}: {}", target, path));
  }
  src.target = src.Key("target");
  src.major = header->schema_version()->major_num();
  src.prefix = "BNX_" + src.Key("crc");
  return {};
}

talvex::Status CheckBNX(const std::vector<CombineSource>& srcs) {
  if (srcs.empty()) return talvex::Status(-1);
  const std::string target = srcs[0].target;
  bool have_tz200 = false, tz200_fbs = false;
  std::set<std::string> ids;
  for (const CombineSource& src : srcs) {
    if (src.target != target) return talvex::Status::Error("All BNX should be the same target.");
    if (src.target == "200") {
      bool fbs = false;
      talvex::Status st = FirstSetupIsFbs(src, &fbs);
      if (!st.ok()) return st;
      if (!have_tz200) {
        have_tz200 = true;
        tz200_fbs = fbs;
      } else if (fbs != tz200_fbs) {
        return talvex::Status::Error("Error: Setup bin format is not same.");
      }
    }
    if (src.Key("encryption_mode") != "NONE") return talvex::Status::Error("Not support combine encrypted BNX");
    if (src.Key("tv_number") != "0x0") return talvex::Status::Error("tv_number should be 0x0.");
    const auto* infos = src.bnx->model_info();
    for (flatbuffers::uoffset_t i = 0; infos != nullptr && i < infos->size(); ++i) {
      const std::string id = std::to_string(infos->Get(i)->id());
      if (!ids.insert(id).second) {
        return talvex::Status::Error(fmt::format("model_id {} existed. Please make sure it unique.", id));
      }
    }
  }
  return {};
}

namespace {

// What the combined models share: one input buffer (every model must use the same one), the
// largest working buffer, and room for every output buffer side by side.
struct SharedBuffers {
  uint64_t input = 0, max_input = 0, max_working = 0, outputs = 0;
};

talvex::Status MeasureSharedBuffers(const std::vector<std::vector<FirmInfo>>& old_records, SharedBuffers& shared) {
  bool first = true;
  for (const auto& records : old_records) {
    for (const FirmInfo& f : records) {
      if (first) {
        shared.input = f.input_start;
        first = false;
      } else if (f.input_start != shared.input) {
        return talvex::Status::Error(fmt::format("Input address should be the same! (model {}: 0x{:x}, first: 0x{:x})",
                                                 f.model_id, f.input_start, shared.input));
      }
      if (f.output_start == f.dram_start) {
        return talvex::Status::Error(fmt::format("dedicated output buffer should be enable (model {})", f.model_id));
      }
      shared.max_input = std::max<uint64_t>(shared.max_input, f.input_size);
      shared.max_working = std::max<uint64_t>(shared.max_working, f.dram_size);
      shared.outputs += f.output_size;
    }
  }
  return {};
}

}  // namespace

talvex::Status RelayoutDDRBuffer(const std::vector<std::vector<FirmInfo>>& old_records,
                                 std::vector<FirmInfo>& new_records) {
  new_records.clear();
  SharedBuffers shared;
  talvex::Status measured = MeasureSharedBuffers(old_records, shared);
  if (!measured.ok()) return measured;
  // Input, outputs, the working buffer, then each model's command, weight and setup in turn.
  const uint64_t obuf_addr = Pad16(shared.input + shared.max_input);
  const uint64_t wbuf_addr = Pad16(obuf_addr + shared.outputs);
  uint64_t addr = Pad16(wbuf_addr + shared.max_working);
  uint64_t out_cursor = obuf_addr;
  std::vector<FirmInfo> result;
  for (const auto& records : old_records) {
    for (const FirmInfo& f : records) {
      FirmInfo n;  // the sizes and the identity stay; every address is new
      n.dram_size = f.dram_size;
      n.cmd_size = f.cmd_size;
      n.weight_size = f.weight_size;
      n.input_size = f.input_size;
      n.fw_code_size = f.fw_code_size;
      n.output_size = f.output_size;
      n.model_id = f.model_id;
      n.version = f.version;
      const uint64_t cmd = addr;
      const uint64_t weight = cmd + Pad16(f.cmd_size);
      const uint64_t fw = weight + Pad16(f.weight_size);
      addr = fw + Pad16(f.fw_code_size);
      if (addr > kAddressSpace || wbuf_addr + shared.max_working > kAddressSpace) {
        return talvex::Status::Error(fmt::format(
            "the combined models do not fit the 32-bit address space (model {} ends at 0x{:x})", f.model_id, addr));
      }
      n.dram_start = static_cast<uint32_t>(wbuf_addr);
      n.cmd_start = static_cast<uint32_t>(cmd);
      n.weight_start = static_cast<uint32_t>(weight);
      n.fw_code_start = static_cast<uint32_t>(fw);
      n.input_start = static_cast<uint32_t>(shared.input);
      n.output_start = static_cast<uint32_t>(out_cursor);
      out_cursor += f.output_size;
      result.push_back(n);
    }
  }
  new_records = std::move(result);
  return {};
}

namespace {

// Copies of a TZ100 model's command and setup moved to its new layout; cmd and setup then view
// the copies (kept in out.owned).
talvex::Status RelocateTz100Pieces(const CombineSource& src, const BNX_FW_INFO_MODEL& r, const FirmInfo& nf,
                                   const FirmInfo& of, BytePiece& cmd, BytePiece& setup, LegacyCombined& out,
                                   talvex::Status& notes) {
  using Relocate = talvex::Status (*)(uint8_t*, size_t, const FirmInfo&, const FirmInfo&);
  const struct {
    const char* step;
    const char* name;
    Relocate relocate;
    BytePiece* piece;
  } pieces[] = {{"Update NPU command.bin", "command.bin", UpdateTZ100CommandBin, &cmd},
                {"Update tz100 setup.bin", "setup.bin", UpdateTZ100SetupBin, &setup}};
  talvex::Status progress;
  for (const auto& p : pieces) {
    TALVEX_STATUS_LOG(progress, LogCateg::Common, kDebug, "{}: {}_modelid_{}_{}", p.step, src.prefix, r.model_id,
                      p.name);
    out.owned.emplace_back(p.piece->first, p.piece->first + p.piece->second);
    talvex::Status moved = p.relocate(out.owned.back().data(), out.owned.back().size(), nf, of);
    if (!moved.ok()) {
      return talvex::Status::Error(
          fmt::format("Failed to relocate {} of model {} of {}: {}", p.name, r.model_id, src.path, moved.Reason()));
    }
    *p.piece = {out.owned.back().data(), p.piece->second};
    progress.Merge(std::move(moved));
  }
  notes.Merge(std::move(progress));
  return {};
}

// The pieces of every model, in new_records order, as views of the inputs (their blocks were
// checked to fit) or, for TZ100, of relocated copies; stems gets the name stem extraction would
// give each model, for the log.
talvex::Status CollectPieces(const std::vector<CombineSource>& srcs, const std::vector<std::vector<BNX_FW_INFO_MODEL>>& raw,
                             LegacyCombined& out, std::vector<std::string>& stems, talvex::Status& notes) {
  const bool tz100 = !srcs.empty() && srcs[0].target == "100";
  size_t owned_count = 0;
  for (const auto& records : raw) owned_count += tz100 ? 2 * records.size() : 0;
  out.owned.reserve(owned_count);  // pieces point into these vectors: no reallocation
  for (const CombineSource& src : srcs) out.files.push_back({src.file.data(), src.file.size(), src.file.fd()});
  size_t k = 0;
  for (size_t c = 0; c < srcs.size(); ++c) {
    size_t all_size = 0;
    const uint8_t* all = srcs[c].AllModels(&all_size);
    const std::vector<ModelPieces> layout = PieceLayout(raw[c]);
    for (size_t i = 0; i < raw[c].size(); ++i, ++k) {
      const BNX_FW_INFO_MODEL& r = raw[c][i];
      BytePiece cmd{all + layout[i].cmd, r.size_cmd};
      BytePiece setup{all + layout[i].setup, r.size_fw};
      if (tz100) {
        talvex::Status st =
            RelocateTz100Pieces(srcs[c], r, out.new_records[k], out.old_records[c][i], cmd, setup, out, notes);
        if (!st.ok()) return st;
      }
      stems.push_back(GetOutputDir() + srcs[c].prefix + "_modelid_" + std::to_string(r.model_id));
      out.cmd.push_back(cmd);
      out.weight.push_back({all + layout[i].weight, r.size_wt});
      out.setup.push_back(setup);
    }
  }
  return {};
}

// The pieces laid out as in any all_models.bin, padding included. Each block's CRC is taken
// from its pieces; the whole file's CRC is combined from the blocks' CRCs.
talvex::Status LayOutPieces(LegacyCombined& out, const std::vector<std::string>& stems, talvex::Status& notes) {
  std::vector<BNX_FW_INFO_MODEL> new_records;
  for (const FirmInfo& f : out.new_records) new_records.push_back(ToFWInfoModel(f));
  const std::vector<ModelPieces> layout = PieceLayout(new_records);
  static const char* const kSuffix[] = {"_command.bin", "_weight.bin", "_setup.bin"};
  std::vector<uint32_t> block_crcs;
  uint32_t all_crc = 0;
  for (size_t i = 0; i < layout.size(); ++i) {
    uint32_t crc = 0;
    const ModelPieces& at = layout[i];
    const std::pair<BytePiece, uint64_t> parts[] = {{out.cmd[i], at.weight}, {out.weight[i], at.setup},
                                                    {out.setup[i], at.end}};
    uint64_t pos = at.cmd;
    for (int p = 0; p < 3; ++p) {
      const auto& [piece, next] = parts[p];
      TALVEX_STATUS_LOG(notes, LogCateg::Tool, kDebug, "write file {:s} with len {:d} at pos {:d}",
                        stems[i] + kSuffix[p], piece.second, pos);
      if (piece.second != 0) out.all_models.push_back(piece);
      crc = Crc32Piece(out.files, crc, piece.first, piece.second);
      const size_t pad = static_cast<size_t>(next - pos - piece.second);
      if (pad != 0) {
        out.all_models.push_back({kZeros, pad});
        crc = Crc32Update(crc, kZeros, pad);
      }
      pos = next;
    }
    block_crcs.push_back(crc);
    all_crc = i == 0 ? crc : static_cast<uint32_t>(::crc32_combine(all_crc, crc, static_cast<z_off_t>(at.size())));
  }
  const uint64_t total = layout.empty() ? 0 : layout.back().end;
  if (total > talvex::kMaxInputBytes) {
    return talvex::Status::Error(fmt::format("the combined all_models.bin of {} bytes does not fit in a BNX file", total));
  }
  out.all_models_size = total;
  out.crcs.push_back(all_crc);
  out.crcs.insert(out.crcs.end(), block_crcs.begin(), block_crcs.end());
  out.fw_info_bin = BuildFWInfo(new_records, out.crcs, &out.fw_info_txt);
  return {};
}

}  // namespace

talvex::Status CombineAllModelsBin(const std::vector<CombineSource>& srcs, LegacyCombined& out) {
  out = LegacyCombined();
  std::vector<std::vector<BNX_FW_INFO_MODEL>> raw(srcs.size());
  for (size_t c = 0; c < srcs.size(); ++c) {
    talvex::Status st = DecodeRecords(srcs[c], raw[c]);
    if (!st.ok()) return st;
    out.old_records.emplace_back();
    for (const auto& r : raw[c]) out.old_records.back().push_back(ToFirmInfo(r));
  }
  talvex::Status st = RelayoutDDRBuffer(out.old_records, out.new_records);
  if (!st.ok()) return st;
  talvex::Status notes;  // progress lines (debug level)
  std::vector<std::string> stems;
  st = CollectPieces(srcs, raw, out, stems, notes);
  if (st.ok()) st = LayOutPieces(out, stems, notes);
  return st.ok() ? notes : st;
}

std::string JoinKeyEachTerminated(const std::vector<CombineSource>& srcs, const std::string& key) {
  std::string s;
  for (const CombineSource& src : srcs) s += src.Key(key) + ", ";
  return s;
}

std::string JoinKey(const std::vector<CombineSource>& srcs, const std::string& key) {
  std::string s;
  for (size_t i = 0; i < srcs.size(); ++i) s += (i == 0 ? "" : ",") + srcs[i].Key(key);
  return s;
}

std::vector<BNX_ModelInfo> CombinedModelInfos(const std::vector<CombineSource>& srcs, talvex::Status* notes) {
  std::vector<BNX_ModelInfo> models;
  for (const CombineSource& src : srcs) {
    const auto* infos = src.bnx->model_info();
    const std::string crc = src.Key("crc");
    for (flatbuffers::uoffset_t i = 0; infos != nullptr && i < infos->size(); ++i) {
      const auto* m = infos->Get(i);
      BNX_ModelInfo info;
      info.name = "BNX_" + crc + "_" + (m->name() == nullptr ? std::string() : m->name()->str());
      info.id = static_cast<uint32_t>(m->id());
      // Version text read with automatic base ("0x10" is 16); text without digits reads as 0.
      const std::string version = m->version() == nullptr ? std::string() : m->version()->str();
      errno = 0;
      char* end = nullptr;
      const unsigned long long v = std::strtoull(version.c_str(), &end, 0);
      info.version = errno == 0 && v <= UINT32_MAX ? static_cast<uint32_t>(v) : 0;
      if (end == version.c_str() && !version.empty()) {
        if (notes != nullptr) {
          TALVEX_STATUS_LOG(*notes, LogCateg::Tool, kWarn, "model {} of {}: version [{}] is not a number, written as 0",
                            m->id(), src.path, version);
        }
      }
      models.push_back(std::move(info));
    }
  }
  return models;
}

std::string WriteCombinedBNX(const std::vector<CombineSource>& srcs, const LegacyCombined& combined,
                             const std::string& output_name, talvex::Status* notes) {
  BNX_Args args;
  args.toolchain_version = JoinKeyEachTerminated(srcs, "toolchain_version");
  args.compiler_version = JoinKeyEachTerminated(srcs, "compiler_version");
  args.platform = JoinKeyEachTerminated(srcs, "platform");
  args.solution_id = JoinKeyEachTerminated(srcs, "solution_id");
  args.solution_tag = JoinKeyEachTerminated(srcs, "solution_tag");
  args.target = srcs.back().target;
  args.tv_number = 0;
  args.encryption_mode = 0;
  args.uuid = combined.crcs.empty() ? 0 : combined.crcs[0];
  args.models = CombinedModelInfos(srcs, notes);

  GenInputs in;
  in.target = GetTargetEnum(args.target);
  in.major = combined.setup.empty() ? SchemaMajorFor(in.target, nullptr, 0)
                                    : SchemaMajorFor(in.target, combined.setup[0].first, combined.setup[0].second);
  in.payload_size = static_cast<size_t>(combined.all_models_size);
  in.payload_crc = args.uuid;

  PayloadFill fill;
  fill.size = in.payload_size;
  fill.crc = in.payload_crc;
  fill.pieces = combined.all_models;
  fill.piece_files = combined.files;
  return WriteBNXAround(args, in, combined.fw_info_bin, fill, output_name);
}

void WriteLegacyIntermediates(const std::vector<CombineSource>& srcs, const LegacyCombined& combined) {
  const auto write = talvex::WriteFileOrThrow;
  const std::string dir = GetOutputDir();
  size_t k = 0;
  for (size_t c = 0; c < srcs.size(); ++c) {
    talvex::Status st = ExtractBNX(srcs[c].path, srcs[c].prefix, nullptr);
    if (!st.ok()) {
      const std::string why = fmt::format("Failed to extract {}", srcs[c].path);
      throw TalvexException(ErrorCode::Common, why, st.Err(why));
    }
    // The extracted TZ100 binaries describe the new layout, as the combined file holds them.
    for (const FirmInfo& f : combined.old_records[c]) {
      if (srcs[0].target == "100") {
        const std::string stem = dir + srcs[c].prefix + "_modelid_" + std::to_string(f.model_id);
        write(stem + "_command.bin", combined.cmd[k].first, combined.cmd[k].second);
        write(stem + "_setup.bin", combined.setup[k].first, combined.setup[k].second);
      }
      ++k;
    }
  }
  write(dir + "fw_info.bin", combined.fw_info_bin.data(), combined.fw_info_bin.size());
  write(dir + "fw_info.txt", combined.fw_info_txt.data(), combined.fw_info_txt.size());
  talvex::AtomicFileWriter all(dir + "all_models.bin");
  bool ok = all.ok();
  for (const BytePiece& p : combined.all_models) ok = ok && WritePiece(all, combined.files, p.first, p.second);
  if (!ok || !all.Commit()) {
    throw TalvexException(ErrorCode::Common, fmt::format("Failed to open new all_models.bin: {}", all.error()));
  }
}

namespace {

namespace T = TalvexTXM;

// The TXM file of one source, verified.
struct TxmSource {
  const T::TXMContent* root = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool mapped = false;         // a file mapping: its pages can be given back
  talvex::PayloadBuffer thin;  // its tables without the payloads (when thin_ok)
  bool thin_ok = false;
};

talvex::Status OpenTxmSources(const std::vector<CombineSource>& srcs, std::vector<TxmSource>& txms) {
  for (const CombineSource& src : srcs) {
    TxmSource t;
    t.data = src.AllModels(&t.size);
    // Models are unpacked one by one: a table shared many times must not expand them beyond
    // what the file could hold, as the TXM reader refuses it too.
    if (!TXM::VerifyTXMBuffer(t.data, t.size) ||
        !talvex::UnpacksWithinBudget(t.data, t.size, T::TXMContentTypeTable())) {
      return talvex::Status::Error("Not a valid TXM file in " + src.path);
    }
    t.root = flatbuffers::GetRoot<T::TXMContent>(t.data);
    t.mapped = src.file.mapped();
    txms.push_back(std::move(t));
  }
  if (txms.empty()) return talvex::Status::Error("No TXM content to combine");
  return {};
}

T::NPUTarget TargetOf(const T::TXMContent* r) { return r->header() ? r->header()->target() : T::NPUTarget::UNKNOW; }

// Start of the first INPUT_BUFFER entry (low 32 bits).
bool InputAddr(const T::TXMContent* r, uint32_t* addr) {
  const auto* infos = r->header() ? r->header()->buffer_info() : nullptr;
  for (flatbuffers::uoffset_t i = 0; infos != nullptr && i < infos->size(); ++i) {
    if (infos->Get(i)->buffer() == T::Location::INPUT_BUFFER) {
      *addr = static_cast<uint32_t>(infos->Get(i)->start_addr());
      return true;
    }
  }
  return false;
}

// The files must be of one target and share the start of their input buffer.
talvex::Status CheckTxmSourcesAgree(const std::vector<TxmSource>& txms) {
  uint32_t root_addr = 0;
  const talvex::Status no_input_buffer =
      talvex::Status::Error("Failed to CombineTxm").Err("There is no match buffer: no INPUT_BUFFER in the TXM header");
  if (!InputAddr(txms[0].root, &root_addr)) return no_input_buffer;
  for (size_t i = 1; i < txms.size(); ++i) {
    if (TargetOf(txms[i].root) != TargetOf(txms[0].root)) {
      return talvex::Status(-1).Out("TXM target did not match!").Err("Failed to CombineTxm");
    }
    uint32_t addr = 0;
    if (!InputAddr(txms[i].root, &addr)) return no_input_buffer;
    if (addr != root_addr) {
      return talvex::Status(-1)
          .Out(fmt::format("Input addr should be the same, root:{}, another:{}", root_addr, addr))
          .Err("Failed to CombineTxm");
    }
  }
  return {};
}

// A model of the merged file and the source it comes from.
struct MergedModel {
  const T::Model* model;
  size_t source;
};

// The models in ascending id per container (one per id, the last listed), as the per-model split
// lists them.
talvex::Status ModelsInIdOrder(const std::vector<CombineSource>& srcs, const std::vector<TxmSource>& txms,
                               std::vector<MergedModel>& models) {
  const auto by_id = [](const T::Model* a, const T::Model* b) { return a->header()->id() < b->header()->id(); };
  const auto same_id = [](const T::Model* a, const T::Model* b) { return a->header()->id() == b->header()->id(); };
  for (size_t c = 0; c < txms.size(); ++c) {
    std::vector<const T::Model*> own;
    const auto* list = txms[c].root->models();
    for (flatbuffers::uoffset_t i = 0; list != nullptr && i < list->size(); ++i) {
      if (list->Get(i)->header() == nullptr) {
        return talvex::Status::Error(fmt::format("TXM model #{} has no header in {}", i, srcs[c].path));
      }
      own.push_back(list->Get(i));
    }
    std::reverse(own.begin(), own.end());
    std::stable_sort(own.begin(), own.end(), by_id);
    own.erase(std::unique(own.begin(), own.end(), same_id), own.end());
    for (const T::Model* m : own) models.push_back({m, c});
  }
  return {};
}

// The header of the first file, with its buffer layout (a later entry of a location wins).
T::TXMHeaderT MergedHeader(const T::TXMContent* root) {
  T::TXMHeaderT header;
  header.target = TargetOf(root);
  const T::TXMHeader* first = root->header();
  TXM::BufferLayout layout;
  if (first != nullptr) {
    if (first->compiler_version() != nullptr) header.compiler_version = first->compiler_version()->str();
    if (first->schema_version() != nullptr) header.schema_version.reset(first->schema_version()->UnPack());
    for (flatbuffers::uoffset_t i = 0; first->buffer_info() != nullptr && i < first->buffer_info()->size(); ++i) {
      const auto* b = first->buffer_info()->Get(i);
      layout[b->buffer()] = {b->start_addr(), b->len()};
    }
  }
  for (const auto& [location, range] : layout) {
    auto info = std::make_unique<T::BufferInfoT>();
    info->buffer = location;
    info->start_addr = range.first;
    info->len = range.second;
    header.buffer_info.push_back(std::move(info));
  }
  return header;
}

// Large payloads packed from a file mapping: where they lie, as distances from the end of the
// builder's buffer (which do not move while it grows at the front), and the input bytes they copy.
using LeftToFiles = std::vector<std::pair<size_t, TXM::PackedPayload>>;

// Unpacks model m of txm and packs it into fbb. Its input pages are given back once its payloads
// are copied; with left_to_files, its large payloads are noted there and their builder pages
// given back too (they will be written from the input files).
flatbuffers::Offset<T::Model> RepackModel(flatbuffers::FlatBufferBuilder& fbb, const TxmSource& txm, const T::Model* m,
                                          LeftToFiles* left_to_files, std::vector<int32_t>& model_ids,
                                          TXM::PayloadSpares& spares) {
  std::unique_ptr<T::ModelT> obj;
  if (txm.thin_ok) {
    const size_t at = static_cast<size_t>(reinterpret_cast<const uint8_t*>(m) - txm.data);
    obj = TXM::UnpackModel(*reinterpret_cast<const T::Model*>(txm.thin.data() + at));
    TxmReader::ClearEmptyUnions(*obj);
    if (!TXM::FillModelPayloads(m, obj.get(), &spares)) obj.reset();
  }
  if (!obj) {
    obj = TXM::UnpackModel(*m);
    TxmReader::ClearEmptyUnions(*obj);
  }
  // Only a file mapping can give its pages back (a heap copy would lose its bytes).
  if (txm.mapped) TXM::ForEachModelPayload(m, talvex::DropPages);
  const flatbuffers::Offset<T::Model> off = TXM::PackModel(fbb, *obj);
  model_ids.push_back(obj->header ? obj->header->id : m->header()->id());
  spares.Take(m, obj.get());
  obj.reset();
  if (txm.mapped && left_to_files != nullptr) {
    std::vector<TXM::PackedPayload> packed;
    TXM::PairPackedPayloads(flatbuffers::GetTemporaryPointer(fbb, off), m, kPieceFrom, packed);
    const uint8_t* end = fbb.GetCurrentBufferPointer() + fbb.GetSize();
    for (const TXM::PackedPayload& p : packed) {
      left_to_files->emplace_back(static_cast<size_t>(end - p.packed), p);
      talvex::DropPages(p.packed, p.size);
    }
  }
  return off;
}

// The finished buffer as pieces, in file order: builder bytes between the payloads that lie in
// the inputs.
void FinishedAsPieces(const flatbuffers::FlatBufferBuilder& fbb, LeftToFiles left_to_files,
                      const std::vector<CombineSource>& srcs, TxmPieces& pieces) {
  pieces.bytes.clear();
  const uint8_t* buf = fbb.GetBufferPointer();
  const uint8_t* end = buf + fbb.GetSize();
  const uint8_t* at = buf;
  std::sort(left_to_files.begin(), left_to_files.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [from_end, input] : left_to_files) {
    const uint8_t* packed = end - from_end;
    if (packed > at) pieces.bytes.emplace_back(at, static_cast<size_t>(packed - at));
    pieces.bytes.emplace_back(input.input, input.size);
    at = packed + input.size;
  }
  if (end > at) pieces.bytes.emplace_back(at, static_cast<size_t>(end - at));
  pieces.size = fbb.GetSize();
  pieces.files.clear();
  for (const CombineSource& src : srcs) {
    if (src.file.mapped()) pieces.files.push_back({src.file.data(), src.file.size(), src.file.fd()});
  }
  pieces.crc = 0;
  for (const BytePiece& piece : pieces.bytes) pieces.crc = Crc32Piece(pieces.files, pieces.crc, piece.first, piece.second);
}

}  // namespace

talvex::Status CombineTxmSources(const std::vector<CombineSource>& srcs, flatbuffers::FlatBufferBuilder& fbb,
                                 std::vector<int32_t>& model_ids, TxmPieces* pieces) {
  model_ids.clear();
  std::vector<TxmSource> txms;
  std::vector<MergedModel> models;
  talvex::Status st = OpenTxmSources(srcs, txms);
  if (st.ok()) st = CheckTxmSourcesAgree(txms);
  if (st.ok()) st = ModelsInIdOrder(srcs, txms, models);
  if (!st.ok()) return st;
  uint64_t payload = 0;
  for (TxmSource& t : txms) {
    t.thin_ok = TXM::MakeThinTxm(t.data, t.size, t.thin);
    payload += t.size;
  }
  if (payload + payload / 32 + 4096 >= talvex::kMaxInputBytes) {
    return talvex::Status::Error(fmt::format("The TXM content needs {} bytes, more than one TXM file can hold", payload));
  }
  // Room for everything at once: growing would copy all that was built so far.
  using Pages = talvex::MappedBuilderAllocator::Pages;
  static talvex::MappedBuilderAllocator populated(Pages::kPopulated), lazy(Pages::kLazy);
  fbb = flatbuffers::FlatBufferBuilder(static_cast<size_t>(payload + payload / 32 + 4096),
                                       pieces != nullptr ? &lazy : &populated);
  // Packed in the order the generated packer uses for a whole tree: header, then models.
  const auto header_off = TXM::PackTxmHeader(fbb, MergedHeader(txms[0].root));
  LeftToFiles left_to_files;
  std::vector<flatbuffers::Offset<T::Model>> offsets;
  TXM::PayloadSpares spares;
  for (const MergedModel& m : models) {
    offsets.push_back(
        RepackModel(fbb, txms[m.source], m.model, pieces != nullptr ? &left_to_files : nullptr, model_ids, spares));
  }
  const auto models_off = offsets.empty() ? 0 : fbb.CreateVector(offsets);
  fbb.Finish(T::CreateTXMContent(fbb, txms[0].root->magic(), header_off, models_off));
  if (pieces != nullptr) FinishedAsPieces(fbb, std::move(left_to_files), srcs, *pieces);
  return {};
}

namespace {
std::string WriteTxmBNX(BNX_Args& args, PayloadFill& fill, const std::vector<int32_t>& model_ids,
                        const std::string& output_name) {
  GenInputs in;
  in.target = GetTargetEnum(args.target);
  in.major = 2;
  in.payload = fill.data;
  in.payload_size = fill.size;
  in.payload_crc = fill.crc;
  in.txm_model_ids = model_ids;
  args.uuid = in.payload_crc;
  args.fw_info_path.clear();
  return WriteBNXAround(args, in, {}, fill, output_name);
}
}  // namespace

std::string WriteTxmBNX(BNX_Args& args, const TxmPieces& txm, const std::vector<int32_t>& model_ids,
                        const std::string& output_name) {
  PayloadFill fill;
  fill.size = txm.size;
  fill.crc = txm.crc;
  fill.pieces = txm.bytes;
  fill.piece_files = txm.files;
  return WriteTxmBNX(args, fill, model_ids, output_name);
}

talvex::Status WriteTxmPieces(const std::string& path, const TxmPieces& txm) {
  talvex::AtomicFileWriter out(path);
  bool ok = true;
  for (const BytePiece& piece : txm.bytes) ok = ok && WritePiece(out, txm.files, piece.first, piece.second);
  if (ok && out.Commit()) return talvex::Status();
  return TALVEX_STATUS_ERROR(LogCateg::Tool, "Failed to write {}: {}", path, out.error());
}

}  // namespace BNXUtils
