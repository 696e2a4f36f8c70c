#include "support/setup_builder.h"

#include <memory>

#include "setup_generated.h"

namespace testsupport {

// ---- raw ----

RawSetupWriter& RawSetupWriter::Word(uint32_t w) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return *this;
}

RawSetupWriter& RawSetupWriter::Words(std::initializer_list<uint32_t> words) {
  for (uint32_t w : words) Word(w);
  return *this;
}

RawSetupWriter& RawSetupWriter::Header(const RawTZ100Header& h) {
  return Words({h.magic, h.version, h.enc_key_data_offset, h.model_type, h.application_type, h.dram_start,
                h.dram_size, h.input_row, h.input_col, h.input_channel, h.cmd_start, h.cmd_size, h.weight_start,
                h.weight_size, h.input_start, h.input_size, h.input_radix, h.output_num});
}

RawSetupWriter& RawSetupWriter::Header(const RawTZ200Header& h) {
  return Words({h.magic, h.version, h.enc_key_data_offset, h.model_type, h.application_type, h.dram_start,
                h.dram_size, h.cmd_start, h.cmd_size, h.weight_start, h.weight_size, h.input_start, h.input_size,
                h.input_num, h.output_num});
}

RawSetupWriter& RawSetupWriter::InputInfo(const RawInputInfo& n, uint32_t type_word) {
  return Words({type_word, n.next_cpu});
}

RawSetupWriter& RawSetupWriter::Cpu(const RawCpuNode& n, uint32_t type_word) {
  return Words({type_word, n.input_data_num, n.op_type, n.in_num_row, n.in_num_col, n.in_num_ch, n.out_num_row,
                n.out_num_col, n.out_num_ch, n.h_pad, n.w_pad, n.kernel_h, n.kernel_w, n.stride_h, n.stride_w});
}

RawSetupWriter& RawSetupWriter::Output(const RawOutputInfo& n, uint32_t type_word) {
  return Words({type_word, n.supernum, n.data_format, n.row_start, n.col_start, n.ch_start, n.row_length,
                n.col_length, n.ch_length, n.output_index, n.output_radix, n.output_scale});
}

RawSetupWriter& RawSetupWriter::Data(const RawDataInfo& n, uint32_t type_word) {
  return Words({type_word, n.supernum, n.data_format, n.data_radix, n.data_scale, n.row_start, n.col_start,
                n.ch_start, n.row_length, n.col_length, n.ch_length});
}

RawSetupWriter& RawSetupWriter::Super(const RawSuperNode& n, uint32_t type_word) {
  return Words({type_word, n.addr, n.row_start, n.col_start, n.ch_start, n.row_length, n.col_length, n.ch_length});
}

RawSetupWriter& RawSetupWriter::NetworkInput(const RawNetworkInput& n, uint32_t type_word) {
  return Words({type_word, n.input_index, n.input_format, n.input_row, n.input_col, n.input_channel, n.input_start,
                n.input_size, n.input_radix});
}

std::vector<uint8_t> BuildRawSetup100() {
  return RawSetupWriter().Header(RawTZ100Header{}).InputInfo().Output().Super().bytes();
}

// ---- flatbuffer ----

SampleTensor SampleFbInput() { return {"input", {1, 3, 224, 224}, {{0.5f, 7}}, 0, 224 * 224 * 3, 1}; }
SampleTensor SampleFbOutput() { return {"output", {1, 16, 7, 7}, {{0.25f, 5}}, 1, 16 * 7 * 7, 2}; }

namespace {

using namespace TalvexSetup;

std::unique_ptr<TensorT> MakeTensor(const SampleTensor& s) {
  auto t = std::make_unique<TensorT>();
  t->name = s.name;
  t->shape = s.shape;
  t->quantization = std::make_unique<QuantizationParametersT>();
  for (const auto& f : s.fxp_info) {
    auto fxp = std::make_unique<FxpInfoT>();
    fxp->scale = f.scale;
    fxp->radix = f.radix;
    t->quantization->fxp_info.push_back(std::move(fxp));
  }
  t->buffer = std::make_unique<BufferT>();
  t->buffer->entry = s.entry;
  t->buffer->len = s.len;
  t->buffer->segment = static_cast<Segment>(s.segment);
  return t;
}

std::vector<std::unique_ptr<TensorT>> MakeTensors(const std::vector<SampleTensor>& list) {
  std::vector<std::unique_ptr<TensorT>> out;
  for (const auto& s : list) out.push_back(MakeTensor(s));
  return out;
}

}  // namespace

std::vector<uint8_t> BuildFbSetup(const SampleFbSetup& s) {
  INFContentT root;  // the magic keeps its default
  root.header = std::make_unique<HeaderT>();
  HeaderT& h = *root.header;
  h.platform = "tz400";
  h.target = NPUTarget::TZ400;
  h.schema_version = std::make_unique<SchemaVersionT>();  // 1.2.42, the defaults
  for (const auto& seg : s.segments) {
    auto info = std::make_unique<SegmentInfoT>();
    info->segment = static_cast<Segment>(seg.segment);
    info->start = seg.start;
    info->len = seg.len;
    h.segment_info.push_back(std::move(info));
  }
  if (s.with_encrypt_info) {
    h.encrypt_info = std::make_unique<EncryptInfoT>();
    h.encrypt_info->mode = static_cast<EncryptedMode>(s.encrypt_mode);
    h.encrypt_info->key = s.key;
  }
  root.inputs = MakeTensors(s.inputs);
  root.outputs = MakeTensors(s.outputs);
  for (const auto& o : s.cpu_nodes) {
    auto op = std::make_unique<OperatorT>();
    op->name = o.name;
    op->opcode_index = BuiltinOperator::Clip;
    ClipOptionsT clip;
    clip.min = o.clip_min;
    clip.max = o.clip_max;
    op->builtin_options.Set(std::move(clip));
    root.cpu_nodes.push_back(std::move(op));
  }

  flatbuffers::FlatBufferBuilder fbb(1024);
  fbb.Finish(INFContent::Pack(fbb, &root));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

std::vector<uint8_t> BuildFbSetupBareOptionsTag() {
  flatbuffers::FlatBufferBuilder fbb;
  auto header = CreateHeader(fbb, fbb.CreateString("tz300"), NPUTarget::TZ300);
  auto op = CreateOperator(fbb, fbb.CreateString("bare"), 0, BuiltinOperator::Conv, BuiltinOptions::ConvOptions);
  fbb.Finish(CreateINFContent(fbb, 0x012EBD34, header, 0, 0, fbb.CreateVector(&op, 1)));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

}  // namespace testsupport
