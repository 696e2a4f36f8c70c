#include "txm/txm_reader.h"

#include "common/file_io.h"
#include "txm/txm_verify.h"

namespace {

// The verifier accepts a union tag without its value (and unknown tags), which unpack
// to a tag with a null value; packing such a tree would dereference the null. Read
// them as "no union". Depth is bounded by the verifier's nesting limit.
void ClearEmptyUnions(TalvexTXM::OperatorT& op) {
  auto& opts = op.builtin_options;
  if (opts.value == nullptr) {
    opts.type = TalvexTXM::BuiltinOptions::NONE;
  } else if (auto* fusion = opts.AsFusionOptions()) {
    for (auto& node : fusion->node_list) {
      if (node) ClearEmptyUnions(*node);
    }
  } else if (auto* slice = opts.AsSliceHeaderOptions()) {
    for (auto& node : slice->group_nodes) {
      if (node) ClearEmptyUnions(*node);
    }
  }
}

void ClearEmptyUnions(TalvexTXM::CoreT& core) {
  if (core.eu_params.value == nullptr) {
    core.eu_params.type = TalvexTXM::EUParams::NONE;
  } else if (auto* cpu = core.eu_params.AsCPUEUParams()) {
    for (auto& op : cpu->operators) {
      if (op) ClearEmptyUnions(*op);
    }
  }
  for (auto& sub : core.exe_unit) {
    if (sub) ClearEmptyUnions(*sub);
  }
}

}  // namespace

namespace {
talvex::Status NotValid() { return talvex::Status::Error("Not a valid TXM file.", TxmReader::kInvalid); }
}  // namespace

talvex::Status TxmReader::Parse(TalvexTXM::TXMContentT& obj, const uint8_t* data, size_t size) {
  if (!TXM::VerifyTXMBuffer(data, size)) return NotValid();
  // UnPackTo leaves fields that the buffer lacks as they were, so start from a fresh tree.
  obj = TalvexTXM::TXMContentT();
  flatbuffers::GetRoot<TalvexTXM::TXMContent>(data)->UnPackTo(&obj);
  for (auto& model : obj.models) {
    if (model) ClearEmptyUnions(*model);
  }
  return talvex::Status();
}

void TxmReader::ClearEmptyUnions(TalvexTXM::ModelT& model) {
  for (auto& core : model.cores) {
    if (core) ::ClearEmptyUnions(*core);
  }
}

talvex::Status TxmReader::Parse(TalvexTXM::TXMContentT& obj, const std::string& path) {
  talvex::FileBuffer fb = talvex::FileBuffer::Load(path);
  switch (fb.status()) {
    case talvex::ReadStatus::kOk:
      return Parse(obj, fb.data(), fb.size());
    case talvex::ReadStatus::kMissing:
    case talvex::ReadStatus::kEmpty:
      return talvex::Status(kEmptyFile);
    case talvex::ReadStatus::kTooLarge:
      // Too large for any FlatBuffers buffer: it cannot verify.
      return NotValid();
    case talvex::ReadStatus::kUnreadable:
      break;
  }
  return talvex::Status::Error("Failed to read the file: " + path, kShortRead);
}
