#include "txm/txm_report_records.h"

#include <cstring>

#include <fmt/format.h>

#include "common/file_io.h"
#include "common/logger.h"
#include "common/status.h"
#include "txm/txm_verify.h"

namespace BNXUtils {
namespace {

using TensorList = flatbuffers::Vector<flatbuffers::Offset<TalvexTXM::Tensor>>;

template <typename T>
uint64_t DataOffset(const flatbuffers::Vector<T>* vec, const uint8_t* base) {
  if (vec == nullptr) return 0;
  return static_cast<uint64_t>(reinterpret_cast<const uint8_t*>(vec->Data()) - base);
}

template <typename Out, typename In>
std::vector<Out> CopyVector(const flatbuffers::Vector<In>* vec) {
  std::vector<Out> out;
  if (vec == nullptr) return out;
  out.reserve(vec->size());
  for (In v : *vec) out.push_back(static_cast<Out>(v));
  return out;
}

std::vector<uint8_t> CopyBytes(const flatbuffers::Vector<uint8_t>* vec) {
  if (vec == nullptr) return {};
  return std::vector<uint8_t>(vec->begin(), vec->end());
}

template <typename T>
T LoadLE(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));  // the host is little-endian, as FlatBuffers requires
  return v;
}

// Scale bytes read as values of the given type.
std::vector<float> DecodeScale(const flatbuffers::Vector<uint8_t>* bytes, TalvexTXM::DataType type) {
  std::vector<float> out;
  if (bytes == nullptr) return out;
  using DT = TalvexTXM::DataType;
  size_t width = 0;
  switch (type) {
    case DT::Int8: case DT::UInt8: width = 1; break;
    case DT::Int16: case DT::UInt16: case DT::Bfloat16: width = 2; break;
    case DT::Int32: case DT::Uint32: case DT::Float: width = 4; break;
    case DT::Int64: case DT::UInt64: case DT::Double: width = 8; break;
    default: return out;
  }
  const uint8_t* p = bytes->data();
  const size_t count = bytes->size() / width;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i, p += width) {
    float v = 0;
    switch (type) {
      case DT::Int8: v = static_cast<float>(static_cast<int8_t>(*p)); break;
      case DT::UInt8: v = static_cast<float>(*p); break;
      case DT::Int16: v = static_cast<float>(LoadLE<int16_t>(p)); break;
      case DT::UInt16: v = static_cast<float>(LoadLE<uint16_t>(p)); break;
      case DT::Bfloat16: {
        uint32_t bits = static_cast<uint32_t>(LoadLE<uint16_t>(p)) << 16;
        std::memcpy(&v, &bits, sizeof(v));
        break;
      }
      case DT::Int32: v = static_cast<float>(LoadLE<int32_t>(p)); break;
      case DT::Uint32: v = static_cast<float>(LoadLE<uint32_t>(p)); break;
      case DT::Float: v = LoadLE<float>(p); break;
      case DT::Int64: v = static_cast<float>(LoadLE<int64_t>(p)); break;
      case DT::UInt64: v = static_cast<float>(LoadLE<uint64_t>(p)); break;
      case DT::Double: v = static_cast<float>(LoadLE<double>(p)); break;
      default: break;
    }
    out.push_back(v);
  }
  return out;
}

std::vector<TXM_TENSOR> ReadTensors(const TensorList* tensors) {
  std::vector<TXM_TENSOR> out;
  if (tensors == nullptr) return out;
  out.reserve(tensors->size());
  for (const TalvexTXM::Tensor* t : *tensors) out.push_back(ReadTXMTensorInfo(t));
  return out;
}

npu_eu_param_s ReadNpuParams(const TalvexTXM::NPUEUParams* npu, const uint8_t* base, bool copy_payloads) {
  npu_eu_param_s p;
  if (npu == nullptr) return p;
  if (copy_payloads) {
    p.cmd = CopyBytes(npu->cmd());
    p.weight = CopyBytes(npu->weight());
  }
  p.cmd_addr = DataOffset(npu->cmd(), base);
  p.cmd_size = npu->cmd() != nullptr ? npu->cmd()->size() : 0;
  p.wt_addr = DataOffset(npu->weight(), base);
  p.wt_size = npu->weight() != nullptr ? npu->weight()->size() : 0;
  return p;
}

// The model at position idx; fails when there is none.
talvex::Status ModelAt(const TalvexTXM::TXMContent* txm, int idx, const TalvexTXM::Model*& model) {
  const size_t count = txm != nullptr && txm->models() != nullptr ? txm->models()->size() : 0;
  if (idx < 0 || static_cast<size_t>(idx) >= count) {
    return TALVEX_STATUS_ERROR(LogCateg::Txm, "Model index {} is out of range: the file holds {} models", idx, count);
  }
  model = txm->models()->Get(static_cast<flatbuffers::uoffset_t>(idx));
  return {};
}

constexpr size_t kLayoutEntries = 4;  // input, output, working buffer, weight

talvex::Status HasLayout(const flatbuffers::Vector<flatbuffers::Offset<TalvexTXM::BufferInfo>>* infos,
                         const std::string& owner) {
  const size_t n = infos == nullptr ? 0 : infos->size();
  if (n < kLayoutEntries) {
    return TALVEX_STATUS_ERROR(LogCateg::Txm, "{} has {} buffer_info entries, {} expected", owner, n,
                               kLayoutEntries);
  }
  return talvex::Status();
}

}  // namespace

TXM_TENSOR ReadTXMTensorInfo(const TalvexTXM::Tensor* tensor) {
  TXM_TENSOR t;
  if (tensor == nullptr) return t;
  if (tensor->name() != nullptr) t.name = tensor->name()->str();
  t.format = tensor->format();
  t.ndim = tensor->ndim();
  t.ch_dim = tensor->ch_dim();
  t.shape = CopyVector<int32_t>(tensor->shape());
  const size_t n = t.shape.size();
  uint32_t* slots[4] = {&t.shape_batch, &t.shape_ch, &t.shape_row, &t.shape_col};
  for (size_t i = 0; i < n && i < 4; ++i) *slots[i] = static_cast<uint32_t>(t.shape[i]);
  // A channel dimension other than 1 swaps places with dimension 1.
  if (t.ch_dim != 1 && t.ch_dim < n && n > 1) {
    t.shape_ch = static_cast<uint32_t>(t.shape[t.ch_dim]);
    if (t.ch_dim < 4) *slots[t.ch_dim] = static_cast<uint32_t>(t.shape[1]);
  }
  t.shape_len = static_cast<int32_t>(n);
  t.stride_aligned = CopyVector<uint32_t>(tensor->stride_aligned());
  t.stride_aligned_len = static_cast<int32_t>(t.stride_aligned.size());
  if (const TalvexTXM::QuantizationParameters* q = tensor->quantization()) {
    t.quantParam.radix = CopyVector<int8_t>(q->radix());
    t.quantParam.scale = DecodeScale(q->scale(), q->scale_type());
    t.quantParam.scale_count = q->scale_count();
    t.quantParam.scale_type = static_cast<int8_t>(q->scale_type());
  }
  t.buffer_entry = static_cast<uint32_t>(tensor->start_addr());
  t.buffer_len = tensor->size();
  t.size = tensor->size();
  t.size_aligned = tensor->size_aligned();
  t.location = static_cast<uint8_t>(tensor->location());
  if (const auto* dims = tensor->shape_intrp_dim()) {
    for (flatbuffers::uoffset_t i = 0; i < dims->size() && i < 4; ++i) t.shape_intrp_dim[i] = dims->Get(i);
  }
  if (const auto* dims = tensor->inv_shape_intrp_dim()) {
    for (flatbuffers::uoffset_t i = 0; i < dims->size() && i < 4; ++i) {
      t.inv_shape_intrp_dim[i] = dims->Get(i);
    }
  }
  return t;
}

talvex::Status ReadTXMModelInfo(const TalvexTXM::TXMContent* txm, const uint8_t* base, int idx,
                                MODEL_HEADER& record) {
  const TalvexTXM::Model* model = nullptr;
  talvex::Status st = ModelAt(txm, idx, model);
  if (!st.ok()) return st;
  const TalvexTXM::ModelHeader* h = model->header();
  if (h == nullptr) return TALVEX_STATUS_ERROR(LogCateg::Txm, "Model #{} has no header", idx);
  st = HasLayout(h->buffer_info(), fmt::format("The header of model #{}", idx));
  if (!st.ok()) return st;

  MODEL_HEADER rec;
  rec.model_id = static_cast<uint32_t>(h->id());
  rec.model_ver = TXM_MODEL_VERSION;
  rec.format = TXM_MODEL_FORMAT;
  rec.encryp.mode = h->encrypt_info() ? static_cast<int32_t>(h->encrypt_info()->mode()) : 0;
  // Entries are taken by position: 0 input, 1 output, 2 working buffer.
  const auto* infos = h->buffer_info();
  rec.addr_in = static_cast<uint32_t>(infos->Get(0)->start_addr());
  rec.size_in = static_cast<uint32_t>(infos->Get(0)->len());
  rec.addr_out = static_cast<uint32_t>(infos->Get(1)->start_addr());
  rec.size_out = static_cast<uint32_t>(infos->Get(1)->len());
  rec.addr_wbuf = static_cast<uint32_t>(infos->Get(2)->start_addr());
  rec.size_wbuf = static_cast<uint32_t>(infos->Get(2)->len());
  rec.addr_constinput = DataOffset(model->const_input(), base);
  rec.size_constinput = model->const_input() ? model->const_input()->size() : 0;
  rec.core_number = static_cast<uint32_t>(h->core_number());
  rec.npm_run_val = h->npu_run_val();
  if (h->dma_bank_info() != nullptr) {
    for (const TalvexTXM::DmaBankInfo* d : *h->dma_bank_info()) {
      rec.dma.push_back({static_cast<uint32_t>(static_cast<uint8_t>(d->bank())),
                         static_cast<int8_t>(d->type()),
                         TalvexTXM::EnumNameLocation(d->association())});
    }
  }
  rec.input_nodes = ReadTensors(h->inputs());
  rec.output_nodes = ReadTensors(h->outputs());
  record = std::move(rec);
  return talvex::Status();
}

talvex::Status ReadTXMModelCore(const TalvexTXM::TXMContent* txm, const uint8_t* base, int idx,
                                std::vector<MODEL_CORES>& cores, bool copy_payloads) {
  const TalvexTXM::Model* model = nullptr;
  talvex::Status st = ModelAt(txm, idx, model);
  if (!st.ok()) return st;
  std::vector<MODEL_CORES> out;
  if (model->cores() != nullptr) {
    out.reserve(model->cores()->size());
    for (const TalvexTXM::Core* core : *model->cores()) {
      MODEL_CORES c;
      if (const TalvexTXM::CoreHeader* h = core->header()) {
        c.id = static_cast<uint32_t>(h->id());
        c.type = static_cast<int8_t>(h->type());
        c.input_nodes = ReadTensors(h->inputs());
        c.output_nodes = ReadTensors(h->outputs());
        c.inputs = c.input_nodes;
        c.outputs = c.output_nodes;
        c.dependency = CopyVector<int32_t>(h->dependency());
        c.parents = CopyVector<int32_t>(h->parent());
        c.children = CopyVector<int32_t>(h->children());
      }
      c.eu_params_type = static_cast<int8_t>(core->eu_params_type());
      if (const TalvexTXM::NPUEUParams* npu = core->eu_params_as_NPUEUParams()) {
        c.npu_param = ReadNpuParams(npu, base, copy_payloads);
      } else if (const TalvexTXM::CPUEUParams* cpu = core->eu_params_as_CPUEUParams()) {
        c.cpu_param.operators_addr = DataOffset(cpu->operators(), base);
        c.cpu_param.operator_count = cpu->operators() ? cpu->operators()->size() : 0;
      } else if (const TalvexTXM::LoopEUParams* loop = core->eu_params_as_LoopEUParams()) {
        c.loop_param.max_trip_count = loop->max_trip_count();
        c.loop_param.condition_var = ReadTXMTensorInfo(loop->condition_var());
        c.loop_param.loop_npu_params = ReadNpuParams(loop->npu_params(), base, copy_payloads);
      }
      out.push_back(std::move(c));
    }
  }
  cores = std::move(out);
  return talvex::Status();
}

talvex::Status ReadBNXModelMemory(const TalvexTXM::TXMContent* txm, ModelMemory* out) {
  const TalvexTXM::TXMHeader* header = txm != nullptr ? txm->header() : nullptr;
  if (header == nullptr) return TALVEX_STATUS_ERROR(LogCateg::Txm, "The TXM file has no header");
  talvex::Status st = HasLayout(header->buffer_info(), "The TXM file header");
  if (!st.ok()) return st;
  const auto* infos = header->buffer_info();
  ModelMemory mm;
  mm.DDR_start_addr = static_cast<uint32_t>(infos->Get(0)->start_addr());
  mm.DDR_end_addr = static_cast<uint32_t>(infos->Get(3)->start_addr() + infos->Get(3)->len());
  uint32_t sum = 0;
  if (txm->models() != nullptr) {
    for (flatbuffers::uoffset_t m = 0; m < txm->models()->size(); ++m) {
      const TalvexTXM::ModelHeader* h = txm->models()->Get(m)->header();
      if (h == nullptr) return TALVEX_STATUS_ERROR(LogCateg::Txm, "Model #{} has no header", m);
      st = HasLayout(h->buffer_info(), fmt::format("The header of model #{}", m));
      if (!st.ok()) return st;
      for (flatbuffers::uoffset_t i = 0; i < kLayoutEntries; ++i) {
        sum += static_cast<uint32_t>(h->buffer_info()->Get(i)->len());
      }
    }
  }
  mm.model_size_no_header_buff = sum;
  mm.DDR_space_needed = sum + mm.DDR_end_addr - mm.DDR_start_addr;
  if (out != nullptr) *out = mm;
  return talvex::Status();
}

}  // namespace BNXUtils
