#include "cli/model_layout.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "bnx/crc32.h"
#include "bnx/legacy_files.h"
#include "cli/fw_info_report.h"
#include "cli/json_report.h"
#include "cli/txm_report.h"
#include "common/exceptions.h"
#include "setup/setup_func.h"
#include "setup/setup_recognise.h"
#include "txm/txm_report_records.h"
#include "txm/txm_verify.h"

namespace {

// Bytes of one file held in memory: their CRCs are read through the file where it is open.
struct HeldBytes {
  const uint8_t* base = nullptr;
  size_t size = 0;
  int fd = -1;
  uint64_t file_offset = 0;
  bool with_crcs = false;

  LayoutPayload Payload(uint64_t at, uint64_t offset, uint64_t len) const {
    LayoutPayload p{at, len, std::nullopt};
    if (with_crcs && offset <= size && len <= size - offset) p.crc32 = Crc(offset, len);
    return p;
  }
  uint32_t Crc(uint64_t offset, uint64_t len) const {
    return BNXUtils::Crc32Mirrored(0, base + offset, len, fd, file_offset + offset);
  }
};

std::string LocationName(TalvexTXM::Location loc) {
  switch (loc) {
    case TalvexTXM::Location::INPUT_BUFFER: return "input";
    case TalvexTXM::Location::OUTPUT_BUFFER: return "output";
    case TalvexTXM::Location::WORKING_BUFFER: return "working_buffer";
    case TalvexTXM::Location::WEIGHT_SEGMENT: return "weight";
    case TalvexTXM::Location::CONST_INPUT_SEGMENT: return "const_input";
    case TalvexTXM::Location::CPU_TEMP_BUFFER: return "cpu_temp";
    default: return "unknown";
  }
}

std::string CoreTypeName(int8_t eu_params_type) {
  switch (static_cast<TalvexTXM::EUParams>(eu_params_type)) {
    case TalvexTXM::EUParams::NPUEUParams: return "NPU";
    case TalvexTXM::EUParams::CPUEUParams: return "CPU";
    case TalvexTXM::EUParams::LoopEUParams: return "LOOP";
    default: return "";
  }
}

void AppendTensors(const flatbuffers::Vector<flatbuffers::Offset<TalvexTXM::Tensor>>* list,
                   std::vector<talvex::ReportTensor>& to) {
  if (list == nullptr) return;
  for (const TalvexTXM::Tensor* t : *list) to.push_back(TxmReportTensor(BNXUtils::ReadTXMTensorInfo(t)));
}

LayoutCore TxmCore(const BNXUtils::MODEL_CORES& c, const HeldBytes& bytes) {
  LayoutCore core;
  core.id = c.id;
  core.type = CoreTypeName(c.eu_params_type);
  const auto type = static_cast<TalvexTXM::EUParams>(c.eu_params_type);
  const BNXUtils::npu_eu_param_s* npu = type == TalvexTXM::EUParams::NPUEUParams    ? &c.npu_param
                                        : type == TalvexTXM::EUParams::LoopEUParams ? &c.loop_param.loop_npu_params
                                                                                    : nullptr;
  if (npu != nullptr) {
    core.has_payloads = true;
    core.command = bytes.Payload(npu->cmd_addr, npu->cmd_addr, npu->cmd_size);
    core.weight = bytes.Payload(npu->wt_addr, npu->wt_addr, npu->wt_size);
  }
  return core;
}

talvex::Status TxmModel(const TalvexTXM::TXMContent* txm, const HeldBytes& bytes, int m, ModelLayout& out) {
  const TalvexTXM::ModelHeader* h = txm->models()->Get(static_cast<flatbuffers::uoffset_t>(m))->header();
  if (h == nullptr) return talvex::Status::Error(fmt::format("model #{} has no header", m));
  ModelLayout model;
  model.id = static_cast<uint32_t>(h->id());
  model.payload_offsets = true;
  if (h->buffer_info() != nullptr) {
    for (const TalvexTXM::BufferInfo* b : *h->buffer_info()) {
      if (b != nullptr) model.regions.push_back({LocationName(b->buffer()), b->start_addr(), b->len()});
    }
  }
  AppendTensors(h->inputs(), model.inputs);
  AppendTensors(h->outputs(), model.outputs);
  std::vector<BNXUtils::MODEL_CORES> cores;
  talvex::Status st = BNXUtils::ReadTXMModelCore(txm, bytes.base, m, cores, false);
  if (!st.ok()) return st;
  for (const BNXUtils::MODEL_CORES& c : cores) model.cores.push_back(TxmCore(c, bytes));
  out = std::move(model);
  return {};
}

talvex::Status TxmLayouts(const HeldBytes& bytes, std::vector<ModelLayout>& out) {
  if (!TXM::VerifyTXMBuffer(bytes.base, bytes.size)) return talvex::Status::Error("the TXM payload does not verify");
  const auto* txm = flatbuffers::GetRoot<TalvexTXM::TXMContent>(bytes.base);
  std::vector<ModelLayout> models(txm->models() != nullptr ? txm->models()->size() : 0);
  for (size_t m = 0; m < models.size(); ++m) {
    talvex::Status st = TxmModel(txm, bytes, static_cast<int>(m), models[m]);
    if (!st.ok()) return st;
  }
  out = std::move(models);
  return {};
}

// The setup's tensors; a setup that neither view can read has none.
void ReadSetupTensors(const uint8_t* bin, size_t size, bool first_generation, ModelLayout& model) {
  const bool fb = Setup::IsFBSetup(bin, size);
  Json::Value json;
  const talvex::Status st = fb ? Setup::FBToJson(bin, size, json) : Setup::RawToJson(bin, size, json, first_generation);
  if (st.ok() && !json.empty()) SetupTensors(json, SetupViewOf(fb, first_generation), model.inputs, model.outputs);
}

ModelLayout LegacyModel(const BNX_FW_INFO_MODEL& r, const BNXUtils::ModelPieces& p, const HeldBytes& all_models,
                        bool first_generation) {
  ModelLayout model;
  model.id = r.model_id;
  model.regions = {{"input", r.addr_in, r.size_in},      {"output", r.addr_out, r.size_out},
                   {"working_buffer", r.addr_wbuf, r.size_wbuf}, {"command", r.addr_cmd, r.size_cmd},
                   {"weight", r.addr_wt, r.size_wt},     {"setup", r.addr_fw, r.size_fw}};
  LayoutCore core;
  core.type = "NPU";
  core.has_payloads = true;
  core.command = all_models.Payload(r.addr_cmd, p.cmd, r.size_cmd);
  core.weight = all_models.Payload(r.addr_wt, p.weight, r.size_wt);
  model.cores.push_back(core);
  model.setup_crc32 = all_models.Payload(0, p.setup, r.size_fw).crc32;
  if (p.setup <= all_models.size && r.size_fw <= all_models.size - p.setup) {
    ReadSetupTensors(all_models.base + p.setup, r.size_fw, first_generation, model);
  }
  return model;
}

talvex::Status LegacyLayouts(const BNXUtils::BnxFile& bnx, const HeldBytes& all_models, std::vector<ModelLayout>& out) {
  const auto* fw = bnx.root()->model_bin()->fw_info();
  if (fw == nullptr) return talvex::Status::Error("the container has no fw_info.bin");
  BNXUtils::FWInfoTable table;
  const talvex::Status decoded = BNXUtils::DecodeFWInfo(fw->data(), fw->size(), table);
  if (!decoded.ok()) return talvex::Status::Error("invalid fw_info.bin: " + decoded.Reason());
  std::vector<BNXUtils::ModelPieces> pieces;
  try {
    pieces = BNXUtils::CheckBlocksFit(table.records, all_models.size);
  } catch (const TalvexException& e) {
    return talvex::Status::Error("all_models.bin does not hold its models: " + e.status().Reason());
  }
  const bool first_generation = bnx.header() != nullptr && bnx.header()->target() == TalvexBNX::NPUTarget::TZ100;
  std::vector<ModelLayout> models;
  for (size_t i = 0; i < table.records.size(); ++i) {
    models.push_back(LegacyModel(table.records[i], pieces[i], all_models, first_generation));
  }
  out = std::move(models);
  return {};
}

}  // namespace

talvex::Status ReadTxmLayouts(const uint8_t* data, size_t size, int fd, uint64_t file_offset, bool with_crcs,
                              std::vector<ModelLayout>& out) {
  return TxmLayouts(HeldBytes{data, size, fd, file_offset, with_crcs}, out);
}

talvex::Status ReadContainerLayouts(const BNXUtils::BnxFile& bnx, bool with_crcs, std::vector<ModelLayout>& out) {
  out.clear();
  const auto* bin = bnx.root() != nullptr ? bnx.root()->model_bin() : nullptr;
  if (bin == nullptr || bin->all_models() == nullptr) return {};
  const uint8_t* data = bin->all_models()->data();
  const HeldBytes bytes{data, bin->all_models()->size(), bnx.fd(), static_cast<uint64_t>(data - bnx.data()),
                        with_crcs};
  return bnx.major() == 2 ? TxmLayouts(bytes, out) : LegacyLayouts(bnx, bytes, out);
}

std::vector<MapEntry> MemoryMap(const std::vector<LayoutRegion>& regions) {
  std::vector<LayoutRegion> sorted = regions;
  std::stable_sort(sorted.begin(), sorted.end(), [](const LayoutRegion& a, const LayoutRegion& b) {
    return a.start != b.start ? a.start < b.start : a.end() < b.end();
  });
  std::vector<MapEntry> out;
  uint64_t reach = 0;  // the highest end so far, and the region that has it
  std::string owner;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const LayoutRegion& r = sorted[i];
    if (i > 0 && r.start > reach) out.push_back({MapEntry::Kind::kGap, "", "", reach, r.start - reach});
    if (i > 0 && r.start < reach && r.size > 0) {
      out.push_back({MapEntry::Kind::kOverlap, owner, r.name, r.start, std::min(reach, r.end()) - r.start});
    }
    out.push_back({MapEntry::Kind::kRegion, r.name, "", r.start, r.size});
    if (i == 0 || r.end() > reach) reach = r.end(), owner = r.name;
  }
  return out;
}

std::string MemoryMapText(const std::vector<ModelLayout>& models) {
  std::string s = "Memory map ( [start - end) size region ) :\n";
  for (size_t m = 0; m < models.size(); ++m) {
    s += fmt::format("\nModel #{0} (id {1}):\n", m + 1, models[m].id);
    for (const MapEntry& e : MemoryMap(models[m].regions)) {
      const std::string what = e.kind == MapEntry::Kind::kRegion ? e.name
                               : e.kind == MapEntry::Kind::kGap  ? "(gap)"
                                                                 : "!! overlap: " + e.name + " / " + e.other;
      s += fmt::format("    [{0:#010x} - {1:#010x}) {2:#010x}  {3}\n", e.start, e.end(), e.size, what);
    }
  }
  s += fmt::format("\n{0:=<{1}}\n\n", "", 60);
  return s;
}

namespace {

Json::Value U64(uint64_t v) { return Json::Value(static_cast<Json::UInt64>(v)); }

Json::Value TensorJson(const talvex::ReportTensor& t) {
  Json::Value j(Json::objectValue);
  j["name"] = t.name;
  j["format"] = t.format;
  Json::Value shape(Json::arrayValue);
  for (int64_t d : t.shape) shape.append(static_cast<Json::Int64>(d));
  j["shape"] = shape;
  Json::Value quant(Json::arrayValue);
  for (const talvex::ReportFxp& q : t.quantization) {
    Json::Value e(Json::objectValue);
    // JSON has no NaN or infinity: a scale that is not a finite number is null.
    e["scale"] = q.scale_known && std::isfinite(q.scale) ? Json::Value(q.scale) : Json::Value();
    e["radix"] = static_cast<Json::Int64>(q.radix);
    quant.append(e);
  }
  j["quantization"] = quant;
  Json::Value buffer(Json::objectValue);
  buffer["entry"] = static_cast<Json::Int64>(t.entry);
  buffer["len"] = static_cast<Json::Int64>(t.len);
  j["buffer"] = buffer;
  return j;
}

Json::Value PayloadRefJson(const LayoutPayload& p, bool offsets) {
  Json::Value j(Json::objectValue);
  j[offsets ? "offset" : "address"] = U64(p.at);
  j["size"] = U64(p.size);
  if (p.crc32) j["crc32"] = *p.crc32;
  return j;
}

const char* KindName(MapEntry::Kind k) {
  return k == MapEntry::Kind::kRegion ? "region" : k == MapEntry::Kind::kGap ? "gap" : "overlap";
}

}  // namespace

Json::Value ModelsJson(const BNXUtils::BnxFile& bnx, const std::vector<ModelLayout>& layouts) {
  Json::Value models(Json::arrayValue);
  for (uint32_t i = 0; i < bnx.model_count(); ++i) {
    Json::Value m = ModelJson(bnx, static_cast<int>(i));
    const uint32_t id = m["id"].asUInt();
    const ModelLayout* layout = layouts.size() == bnx.model_count() ? &layouts[i] : nullptr;
    for (size_t j = 0; layout == nullptr && j < layouts.size(); ++j) layout = layouts[j].id == id ? &layouts[j] : nullptr;
    if (layout != nullptr) {
      const Json::Value more = LayoutJson(*layout);
      for (const std::string& key : more.getMemberNames()) m[key] = more[key];
    }
    models.append(m);
  }
  return models;
}

Json::Value LayoutJson(const ModelLayout& model) {
  Json::Value j(Json::objectValue);
  Json::Value regions(Json::arrayValue);
  for (const LayoutRegion& r : model.regions) {
    Json::Value e(Json::objectValue);
    e["name"] = r.name;
    e["start"] = U64(r.start);
    e["size"] = U64(r.size);
    regions.append(e);
  }
  j["regions"] = regions;
  Json::Value map(Json::arrayValue);
  for (const MapEntry& m : MemoryMap(model.regions)) {
    Json::Value e(Json::objectValue);
    e["kind"] = KindName(m.kind);
    if (m.kind != MapEntry::Kind::kGap) e["name"] = m.name;
    if (m.kind == MapEntry::Kind::kOverlap) e["with"] = m.other;
    e["start"] = U64(m.start);
    e["size"] = U64(m.size);
    map.append(e);
  }
  j["memory_map"] = map;
  for (const auto* list : {&model.inputs, &model.outputs}) {
    Json::Value tensors(Json::arrayValue);
    for (const talvex::ReportTensor& t : *list) tensors.append(TensorJson(t));
    j[list == &model.inputs ? "inputs" : "outputs"] = tensors;
  }
  Json::Value cores(Json::arrayValue);
  for (const LayoutCore& c : model.cores) {
    Json::Value e(Json::objectValue);
    e["id"] = c.id;
    e["type"] = c.type;
    if (c.has_payloads) {
      e["command"] = PayloadRefJson(c.command, model.payload_offsets);
      e["weight"] = PayloadRefJson(c.weight, model.payload_offsets);
    }
    cores.append(e);
  }
  j["cores"] = cores;
  if (model.setup_crc32) j["setup_crc32"] = *model.setup_crc32;
  return j;
}
