#include "support/txm_builder.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <tuple>

namespace testsupport {
namespace T = TalvexTXM;

namespace {
constexpr uint32_t kMagic = 0x314D5854;  // "TXM1"
const char* const kCompilerVersion = "talvex_compiler 1.0";
}  // namespace

std::vector<SampleBufferInfo> DefaultHeaderBufferInfo() {
  return {{T::Location::INPUT_BUFFER, 0x60000000, 0x40000},
          {T::Location::OUTPUT_BUFFER, 0x60040000, 0x10000},
          {T::Location::WORKING_BUFFER, 0x60050000, 0x100000},
          {T::Location::CPU_TEMP_BUFFER, 0x60150000, 0x10000}};
}

// Model #index: INPUT, OUTPUT, WORKING buffers and the model's WEIGHT_SEGMENT (weight_len bytes).
static std::vector<SampleBufferInfo> DefaultModelBufferInfo(int index, uint64_t weight_len) {
  const uint64_t i = static_cast<uint64_t>(index);
  return {{T::Location::INPUT_BUFFER, 0x60000000, 0x24C00},
          {T::Location::OUTPUT_BUFFER, 0x60040000, 0x1000 + 0x100 * i},
          {T::Location::WORKING_BUFFER, 0x60050000, 0x80000},
          {T::Location::WEIGHT_SEGMENT, 0x70000000 + 0x100000 * i, weight_len}};
}

std::vector<uint8_t> PayloadBytes(size_t len, uint8_t seed) {
  std::vector<uint8_t> out(len);
  for (size_t i = 0; i < len; ++i) out[i] = static_cast<uint8_t>(seed + i * 31);
  return out;
}

namespace {

std::vector<std::unique_ptr<T::BufferInfoT>> MakeBufferInfo(const std::vector<SampleBufferInfo>& in) {
  std::vector<std::unique_ptr<T::BufferInfoT>> out;
  for (const auto& b : in) {
    auto info = std::make_unique<T::BufferInfoT>();
    info->buffer = b.buffer, info->start_addr = b.start_addr, info->len = b.len;
    out.push_back(std::move(info));
  }
  return out;
}

std::unique_ptr<T::SchemaVersionT> MakeVersion(uint32_t major, uint32_t minor, uint32_t revision) {
  auto v = std::make_unique<T::SchemaVersionT>();
  v->major_num = major, v->minor_num = minor, v->revision_num = revision;
  return v;
}

std::unique_ptr<T::TensorT> MakeTensor(const std::string& name, T::Location location,
                                       std::vector<int32_t> shape, uint64_t start_addr) {
  return std::make_unique<T::TensorT>(SampleTensor(name, location, std::move(shape), start_addr));
}

std::unique_ptr<T::CoreHeaderT> MakeCoreHeader(int32_t id, T::CoreType type,
                                               std::vector<int32_t> dependency) {
  auto h = std::make_unique<T::CoreHeaderT>();
  h->id = id;
  h->type = type;
  h->dependency = std::move(dependency);
  h->inputs.push_back(MakeTensor("core" + std::to_string(id) + "_in",
                                 T::Location::WORKING_BUFFER, {1, 8, 16, 16}, 0x1000u * id));
  h->outputs.push_back(MakeTensor("core" + std::to_string(id) + "_out",
                                  T::Location::WORKING_BUFFER, {1, 16, 8, 8}, 0x1000u * id + 0x800));
  h->parent = {id - 1};
  h->children = {id + 1};
  return h;
}

std::unique_ptr<T::CoreT> MakeNpuCore(int32_t id, size_t cmd_len, size_t wt_len, uint8_t seed) {
  auto core = std::make_unique<T::CoreT>();
  core->header = MakeCoreHeader(id, T::CoreType::NPU, id > 0 ? std::vector<int32_t>{id - 1}
                                                              : std::vector<int32_t>{});
  T::NPUEUParamsT npu;
  npu.cmd = PayloadBytes(cmd_len, seed);
  npu.weight = PayloadBytes(wt_len, static_cast<uint8_t>(seed + 0x40));
  core->eu_params.Set(std::move(npu));
  return core;
}

std::unique_ptr<T::OperatorT> MakeOperator(const std::string& name, T::BuiltinOperator code) {
  auto op = std::make_unique<T::OperatorT>();
  op->name = name;
  op->opcode_index = code;
  op->inputs.push_back(MakeTensor(name + "_x", T::Location::CPU_TEMP_BUFFER, {1, 16, 8, 8}, 0));
  op->outputs.push_back(MakeTensor(name + "_y", T::Location::CPU_TEMP_BUFFER, {1, 16, 8, 8}, 0x400));
  return op;
}

std::unique_ptr<T::CoreT> MakeCpuCore(int32_t id) {
  auto core = std::make_unique<T::CoreT>();
  core->header = MakeCoreHeader(id, T::CoreType::CPU, {id - 1});
  T::CPUEUParamsT cpu;
  cpu.operators.push_back(MakeOperator("relu", T::BuiltinOperator::Relu));

  auto conv = MakeOperator("conv", T::BuiltinOperator::Conv);
  T::ConvOptionsT conv_opts;
  conv_opts.dilations = {1, 1};
  conv_opts.kernel_shape = {3, 3};
  conv_opts.pads = {1, 1, 1, 1};
  conv_opts.strides = {1, 1};
  conv_opts.group = 1;
  conv->builtin_options.Set(std::move(conv_opts));
  auto w = std::make_unique<T::ConstDataT>();
  w->name = "conv_w";
  w->shape = {16, 16, 3, 3};
  w->type = T::DataType::Int8;
  w->values = PayloadBytes(32, 9);
  conv->weights.push_back(std::move(w));
  conv->input_order = {T::InputOrder::INPUT, T::InputOrder::WEIGHT};
  cpu.operators.push_back(std::move(conv));

  auto softmax = MakeOperator("softmax", T::BuiltinOperator::Softmax);
  T::SoftmaxOptionsT sm;
  sm.axis = 1;
  softmax->builtin_options.Set(std::move(sm));
  cpu.operators.push_back(std::move(softmax));

  core->eu_params.Set(std::move(cpu));
  return core;
}

std::unique_ptr<T::CoreT> MakeLoopCore(uint8_t seed) {
  auto core = std::make_unique<T::CoreT>();
  core->header = MakeCoreHeader(2, T::CoreType::LOOP, {1});
  core->exe_unit.push_back(MakeNpuCore(3, 64, 128, static_cast<uint8_t>(seed + 0x80)));
  core->exe_unit.push_back(MakeCpuCore(4));
  T::LoopEUParamsT loop;
  loop.max_trip_count = 4;
  loop.condition_var = MakeTensor("loop_cond", T::Location::WORKING_BUFFER, {1}, 0x9000);
  loop.npu_params = std::make_unique<T::NPUEUParamsT>();
  loop.npu_params->cmd = PayloadBytes(32, static_cast<uint8_t>(seed + 0xA0));
  loop.npu_params->weight = PayloadBytes(32, static_cast<uint8_t>(seed + 0xC0));
  core->eu_params.Set(std::move(loop));
  return core;
}

std::unique_ptr<T::ModelT> MakeModel(const SampleTxmOptions& o, const SampleTxmModel& m, int index) {
  auto model = std::make_unique<T::ModelT>();
  const uint8_t seed = static_cast<uint8_t>(m.id * 17 + index);
  model->cores.push_back(MakeNpuCore(0, m.cmd_bytes, m.weight_bytes, seed));
  model->cores.push_back(MakeCpuCore(1));
  model->cores.push_back(MakeLoopCore(seed));
  model->const_input = PayloadBytes(m.const_input_bytes, static_cast<uint8_t>(seed + 0x20));
  auto h = std::make_unique<T::ModelHeaderT>();
  h->id = m.id;
  h->inputs.push_back(MakeTensor("input", T::Location::INPUT_BUFFER, {1, 3, 224, 224}, 0));
  h->outputs.push_back(MakeTensor("output", T::Location::OUTPUT_BUFFER, {1, 1000, 1, 1}, 0x40));
  h->core_number = static_cast<int32_t>(model->cores.size());
  h->npu_run_val = 1;
  for (const auto& [bank, type, association] : {std::make_tuple(int8_t{0}, T::DMAType::RDMA, T::Location::INPUT_BUFFER),
                                                 std::make_tuple(int8_t{1}, T::DMAType::WDMA, T::Location::OUTPUT_BUFFER)}) {
    auto dma = std::make_unique<T::DmaBankInfoT>();
    dma->bank = bank, dma->type = type, dma->association = association;
    h->dma_bank_info.push_back(std::move(dma));
  }
  h->encrypt_info = std::make_unique<T::EncryptInfoT>();
  h->encrypt_info->mode = m.encrypt_mode;
  h->compiler_version = kCompilerVersion;
  h->schema_version = MakeVersion(o.major, o.minor, o.revision);
  h->buffer_info = MakeBufferInfo(DefaultModelBufferInfo(index, m.weight_bytes));
  model->header = std::move(h);
  return model;
}

const T::Core* FindCore(const flatbuffers::Vector<flatbuffers::Offset<T::Core>>* cores, int id) {
  if (cores == nullptr) return nullptr;
  for (const T::Core* c : *cores) {
    if (c->header() != nullptr && c->header()->id() == id) return c;
    if (const T::Core* found = FindCore(c->exe_unit(), id)) return found;
  }
  return nullptr;
}

}  // namespace

T::TensorT SampleTensor(const std::string& name, T::Location location, std::vector<int32_t> shape,
                        uint64_t start_addr) {
  T::TensorT t;
  t.name = name;
  t.format = 2;
  t.ndim = static_cast<uint8_t>(shape.size());
  uint32_t size = 1;
  for (int32_t d : shape) size *= static_cast<uint32_t>(d);
  t.size = size;
  t.size_aligned = (size + 63) / 64 * 64;
  t.shape = shape;
  uint32_t stride = 1;
  t.stride_aligned.resize(shape.size());
  for (size_t i = shape.size(); i-- > 0;) {
    t.stride_aligned[i] = stride;
    stride *= static_cast<uint32_t>(shape[i]);
  }
  t.quantization = std::make_unique<T::QuantizationParametersT>();
  t.quantization->radix = {7, 6};
  const float scales[2] = {0.5f, 0.25f};
  t.quantization->scale.resize(sizeof(scales));
  std::memcpy(t.quantization->scale.data(), scales, sizeof(scales));
  t.quantization->scale_count = 2;
  t.quantization->scale_type = T::DataType::Float;
  t.location = location;
  t.start_addr = start_addr;
  for (size_t i = 0; i < shape.size(); ++i) {
    t.shape_intrp_dim.push_back(static_cast<int8_t>(i));
    t.inv_shape_intrp_dim.push_back(static_cast<int8_t>(shape.size() - 1 - i));
  }
  t.ch_dim = shape.size() > 1 ? 1 : 0;
  return t;
}

T::TXMContentT BuildSampleTxmObject(const SampleTxmOptions& o) {
  T::TXMContentT txm;
  txm.magic = kMagic;
  if (o.with_header) {
    txm.header = std::make_unique<T::TXMHeaderT>();
    txm.header->target = o.target;
    txm.header->compiler_version = kCompilerVersion;
    txm.header->schema_version = MakeVersion(o.major, o.minor, o.revision);
    txm.header->buffer_info = MakeBufferInfo(o.header_buffer_info);
  }
  for (size_t i = 0; i < o.models.size(); ++i) {
    txm.models.push_back(MakeModel(o, o.models[i], static_cast<int>(i)));
  }
  return txm;
}

std::vector<uint8_t> PackTxm(const T::TXMContentT& content) {
  flatbuffers::FlatBufferBuilder fbb(1024);
  fbb.Finish(T::TXMContent::Pack(fbb, &content));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

std::vector<uint8_t> BuildSampleTxm(const SampleTxmOptions& options) {
  return PackTxm(BuildSampleTxmObject(options));
}

void WriteSampleTxm(const std::string& path, const SampleTxmOptions& options) {
  std::vector<uint8_t> bytes = BuildSampleTxm(options);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FindPayload(const std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                 PayloadRef* ref) {
  const auto* models = flatbuffers::GetRoot<T::TXMContent>(buf.data())->models();
  if (models == nullptr || model_index < 0 || static_cast<size_t>(model_index) >= models->size()) return false;
  const T::Model* model = models->Get(static_cast<flatbuffers::uoffset_t>(model_index));
  const flatbuffers::Table* table = reinterpret_cast<const flatbuffers::Table*>(model);
  flatbuffers::voffset_t field = T::Model::VT_CONST_INPUT;
  if (kind != TxmPayload::kConstInput) {
    const T::Core* core = FindCore(model->cores(), core_id);
    if (core == nullptr || core->eu_params_as_NPUEUParams() == nullptr) return false;
    table = reinterpret_cast<const flatbuffers::Table*>(core->eu_params_as_NPUEUParams());
    field = kind == TxmPayload::kCmd ? T::NPUEUParams::VT_CMD : T::NPUEUParams::VT_WEIGHT;
  }
  const uint8_t* at = table->GetAddressOf(field);
  if (at == nullptr) return false;
  ref->field_pos = static_cast<size_t>(at - buf.data());
  ref->vector_pos = ref->field_pos + flatbuffers::ReadScalar<uint32_t>(at);
  ref->length = flatbuffers::ReadScalar<uint32_t>(buf.data() + ref->vector_pos);
  return true;
}

size_t ShiftPayload(std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                    uint32_t shift) {
  PayloadRef ref;
  if (!FindPayload(buf, model_index, kind, core_id, &ref)) return 0;
  if (shift % 4 != 0 || shift >= ref.length) return 0;
  const size_t new_vec = ref.vector_pos + shift;
  const uint32_t new_len = ref.length - shift;
  const uint32_t new_off = static_cast<uint32_t>(new_vec - ref.field_pos);
  std::memcpy(buf.data() + new_vec, &new_len, 4);
  std::memcpy(buf.data() + ref.field_pos, &new_off, 4);
  return new_vec + 4;
}

bool SetPayloadLength(std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                      uint32_t length) {
  PayloadRef ref;
  if (!FindPayload(buf, model_index, kind, core_id, &ref) || length > ref.length) return false;
  std::memcpy(buf.data() + ref.vector_pos, &length, 4);
  return true;
}

}  // namespace testsupport
