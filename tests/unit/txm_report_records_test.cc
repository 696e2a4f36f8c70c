// BNXUtils readers of the TXM model report, on good and hostile files.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_report_records.h"

namespace T = TalvexTXM;
using testsupport::SampleBufferInfo;
using testsupport::SampleTxmOptions;
using testsupport::TempDir;

namespace {

// A tensor table on its own, read back through the flat accessors.
class TensorBuf {
 public:
  explicit TensorBuf(const T::TensorT& t) {
    fbb_.Finish(T::Tensor::Pack(fbb_, &t));
  }
  const T::Tensor* get() const { return flatbuffers::GetRoot<T::Tensor>(fbb_.GetBufferPointer()); }

 private:
  flatbuffers::FlatBufferBuilder fbb_;
};

BNXUtils::TXM_TENSOR ReadShape(std::vector<int32_t> shape, uint8_t ch_dim) {
  T::TensorT t;
  t.shape = std::move(shape);
  t.ch_dim = ch_dim;
  return BNXUtils::ReadTXMTensorInfo(TensorBuf(t).get());
}

std::vector<uint32_t> Dims(const BNXUtils::TXM_TENSOR& r) {
  return {r.shape_batch, r.shape_ch, r.shape_row, r.shape_col};
}

TEST(TxmReportRecordsTest, TensorShapeAndChannelDimension) {
  EXPECT_EQ(Dims(ReadShape({1, 3, 224, 200}, 1)), (std::vector<uint32_t>{1, 3, 224, 200}));
  EXPECT_EQ(Dims(ReadShape({2, 5, 7, 11}, 3)), (std::vector<uint32_t>{2, 11, 7, 5}));
  EXPECT_EQ(Dims(ReadShape({2, 5, 7, 11}, 0)), (std::vector<uint32_t>{5, 2, 7, 11}));
  EXPECT_EQ(Dims(ReadShape({2, 5, 7, 11}, 2)), (std::vector<uint32_t>{2, 7, 5, 11}));
  // ch_dim beyond the four named slots: only the channel changes.
  EXPECT_EQ(Dims(ReadShape({2, 5, 7, 11, 13}, 4)), (std::vector<uint32_t>{2, 13, 7, 11}));
  // ch_dim not inside the shape, or a one-entry shape: plain positions.
  EXPECT_EQ(Dims(ReadShape({2, 5, 7, 11}, 4)), (std::vector<uint32_t>{2, 5, 7, 11}));
  EXPECT_EQ(Dims(ReadShape({9}, 0)), (std::vector<uint32_t>{9, 0, 0, 0}));
  EXPECT_EQ(Dims(ReadShape({4, 6}, 0)), (std::vector<uint32_t>{6, 4, 0, 0}));
  EXPECT_EQ(Dims(ReadShape({}, 3)), (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(ReadShape({2, 5, 7}, 1).shape_len, 3);
}

TEST(TxmReportRecordsTest, TensorFields) {
  T::TensorT t = testsupport::SampleTensor("in0", T::Location::CPU_TEMP_BUFFER, {1, 2, 3, 4, 5},
                                           0x123456789ULL);
  t.size = 4000;
  t.size_aligned = 4096;
  t.format = 9;
  const BNXUtils::TXM_TENSOR r = BNXUtils::ReadTXMTensorInfo(TensorBuf(t).get());
  EXPECT_EQ(r.name, "in0");
  EXPECT_EQ(r.format, 9u);
  EXPECT_EQ(r.ndim, 5u);
  EXPECT_EQ(r.shape, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(r.stride_aligned, (std::vector<uint32_t>{120, 60, 20, 5, 1}));
  EXPECT_EQ(r.stride_aligned_len, 5);
  EXPECT_EQ(r.buffer_entry, 0x23456789u);
  EXPECT_EQ(r.buffer_len, 4000u);
  EXPECT_EQ(r.size, 4000u);
  EXPECT_EQ(r.size_aligned, 4096u);
  EXPECT_EQ(r.location, 6u);
  EXPECT_EQ(r.ch_dim, 1);
  EXPECT_EQ(r.shape_intrp_dim, (std::array<int8_t, 4>{0, 1, 2, 3}));
  EXPECT_EQ(r.inv_shape_intrp_dim, (std::array<int8_t, 4>{4, 3, 2, 1}));
  EXPECT_EQ(r.quantParam.scale, (std::vector<float>{0.5f, 0.25f}));
  EXPECT_EQ(r.quantParam.radix, (std::vector<int8_t>{7, 6}));
  EXPECT_EQ(r.quantParam.scale_count, 2u);
  EXPECT_EQ(r.quantParam.scale_type, 9);
  EXPECT_FLOAT_EQ(r.quantParam.FirstScale(), 0.5f);
  EXPECT_EQ(r.quantParam.FirstRadix(), 7);

  const BNXUtils::TXM_TENSOR none = BNXUtils::ReadTXMTensorInfo(nullptr);
  EXPECT_EQ(none.name, "");
  EXPECT_FLOAT_EQ(none.quantParam.FirstScale(), 0.0f);
  EXPECT_EQ(none.quantParam.FirstRadix(), 0);
}

TEST(TxmReportRecordsTest, ScaleBytesFollowTheirType) {
  auto scales = [](T::DataType type, std::vector<uint8_t> bytes) {
    T::TensorT t;
    t.quantization = std::make_unique<T::QuantizationParametersT>();
    t.quantization->scale_type = type;
    t.quantization->scale = std::move(bytes);
    return BNXUtils::ReadTXMTensorInfo(TensorBuf(t).get()).quantParam.scale;
  };
  EXPECT_EQ(scales(T::DataType::Bfloat16, {0x80, 0x3F, 0x00, 0xC0}), (std::vector<float>{1.0f, -2.0f}));
  EXPECT_EQ(scales(T::DataType::Int8, {0xFF, 3}), (std::vector<float>{-1.0f, 3.0f}));
  EXPECT_EQ(scales(T::DataType::UInt16, {0x34, 0x12, 0x01}), (std::vector<float>{4660.0f}));
  double d = 0.125;
  std::vector<uint8_t> db(8);
  std::memcpy(db.data(), &d, 8);
  EXPECT_EQ(scales(T::DataType::Double, db), (std::vector<float>{0.125f}));
  EXPECT_TRUE(scales(T::DataType::Float, {1, 2, 3}).empty());
  EXPECT_TRUE(scales(T::DataType::UNKNOW, {1, 2, 3, 4}).empty());
}

TEST(TxmReportRecordsTest, HeaderRecord) {
  SampleTxmOptions o;
  o.header_buffer_info.push_back({T::Location::WEIGHT_SEGMENT, 0x1'0000'0000ULL, 0x2'0000'0000ULL});
  std::vector<uint8_t> bytes = testsupport::BuildSampleTxm(o);
  const auto* txm = flatbuffers::GetRoot<T::TXMContent>(bytes.data());
  const BNXUtils::TXM_HEADER h = BNXUtils::ReadTXMHeader(txm->header());
  EXPECT_EQ(h.target, "TZ400");
  EXPECT_EQ(h.compiler_version, "talvex_compiler 1.0");
  EXPECT_EQ(h.schema_version, "v1.2.3");
  ASSERT_EQ(h.buffer_info.size(), 5u);
  EXPECT_EQ(h.buffer_info[0].location, "INPUT_BUFFER");
  EXPECT_EQ(h.buffer_info[3].location, "CPU_TEMP_BUFFER");
  EXPECT_EQ(h.buffer_info[3].start_addr, 0x60150000u);
  EXPECT_EQ(h.buffer_info[3].len, 0x10000u);
  EXPECT_EQ(h.buffer_info[4].location, "WEIGHT_SEGMENT");
  EXPECT_EQ(h.buffer_info[4].len, 0x2'0000'0000ULL);
  EXPECT_EQ(BNXUtils::ReadTXMHeader(nullptr).target, "");
}

class TxmReportFileTest : public testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "m.txm") {
    testsupport::WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  std::string Write(const SampleTxmOptions& o, const std::string& name = "m.txm") {
    return Write(testsupport::BuildSampleTxm(o), name);
  }
  TempDir dir_;
};

TEST_F(TxmReportFileTest, ModelInfo) {
  SampleTxmOptions o;
  o.models[1].encrypt_mode = T::EncryptedMode::CustKey;
  // Taken by position, whatever the Location says.
  o.models[1].buffer_info = std::vector<SampleBufferInfo>{
      {T::Location::WEIGHT_SEGMENT, 0x11, 0x12}, {T::Location::INPUT_BUFFER, 0x21, 0x22},
      {T::Location::CPU_TEMP_BUFFER, 0x1'0000'0031ULL, 0x32}, {T::Location::OUTPUT_BUFFER, 0x41, 0x42}};
  const std::vector<uint8_t> bytes = testsupport::BuildSampleTxm(o);
  const std::string path = Write(bytes);

  BNXUtils::MODEL_HEADER h;
  ASSERT_EQ(BNXUtils::ReadTXMModelInfo(path, 0, h), 0);
  EXPECT_EQ(h.model_id, 1u);
  EXPECT_EQ(h.model_ver, 123u);
  EXPECT_EQ(h.format, "TXM format");
  EXPECT_EQ(h.encryp.mode, 1);
  EXPECT_EQ(h.addr_in, 0x60000000u);
  EXPECT_EQ(h.size_in, 0x24C00u);
  EXPECT_EQ(h.addr_out, 0x60040000u);
  EXPECT_EQ(h.size_out, 0x1000u);
  EXPECT_EQ(h.addr_wbuf, 0x60050000u);
  EXPECT_EQ(h.size_wbuf, 0x80000u);
  EXPECT_EQ(h.core_number, 3u);
  EXPECT_EQ(h.npm_run_val, 1u);
  ASSERT_EQ(h.dma.size(), 2u);
  EXPECT_EQ(h.dma[1].bank, 1u);
  EXPECT_EQ(h.dma[1].type, 2);
  EXPECT_EQ(h.dma[1].association, "OUTPUT_BUFFER");
  ASSERT_EQ(h.input_nodes.size(), 1u);
  EXPECT_EQ(h.input_nodes[0].name, "input");
  EXPECT_EQ(h.input_nodes[0].shape_row, 224u);
  ASSERT_EQ(h.output_nodes.size(), 1u);
  EXPECT_EQ(h.output_nodes[0].shape_ch, 1000u);
  // The constant input is referenced by its offset in the file.
  testsupport::PayloadRef ref;
  ASSERT_TRUE(testsupport::FindPayload(bytes, 0, testsupport::TxmPayload::kConstInput, -1, &ref));
  EXPECT_EQ(h.addr_constinput, ref.data_pos());
  EXPECT_EQ(h.size_constinput, 128u);

  ASSERT_EQ(BNXUtils::ReadTXMModelInfo(path, 1, h), 0);
  EXPECT_EQ(h.model_id, 2u);
  EXPECT_EQ(h.encryp.mode, 3);
  EXPECT_EQ(h.addr_in, 0x11u);
  EXPECT_EQ(h.size_in, 0x12u);
  EXPECT_EQ(h.addr_out, 0x21u);
  EXPECT_EQ(h.addr_wbuf, 0x31u);
  EXPECT_EQ(h.size_wbuf, 0x32u);
}

TEST_F(TxmReportFileTest, ModelInfoWithoutConstInputOrEncryptInfo) {
  SampleTxmOptions o;
  o.models = {o.SampleModel(5)};
  o.models[0].const_input_bytes = 0;
  T::TXMContentT obj = testsupport::BuildSampleTxmObject(o);
  obj.models[0]->header->encrypt_info.reset();
  BNXUtils::MODEL_HEADER h;
  ASSERT_EQ(BNXUtils::ReadTXMModelInfo(Write(testsupport::PackTxm(obj)), 0, h), 0);
  EXPECT_EQ(h.addr_constinput, 0u);
  EXPECT_EQ(h.size_constinput, 0u);
  EXPECT_EQ(h.encryp.mode, 0);
}

TEST_F(TxmReportFileTest, ModelInfoRefusesHostileInput) {
  SampleTxmOptions o;
  o.models[1].with_header = false;
  const std::string no_header = Write(o, "nohdr.txm");
  SampleTxmOptions three;
  three.models[0].buffer_info = testsupport::DefaultModelBufferInfo(0, 10);
  three.models[0].buffer_info->pop_back();
  const std::string short_layout = Write(three, "three.txm");
  const std::string good = Write(SampleTxmOptions(), "good.txm");

  BNXUtils::MODEL_HEADER h;
  h.model_name = "untouched";
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(good, 2, h), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(good, -1, h), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(no_header, 1, h), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(short_layout, 0, h), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(dir_ / "missing.txm", 0, h), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(Write(std::vector<uint8_t>(64, 0xFF), "junk.txm"), 0, h), -1);
  EXPECT_EQ(h.model_name, "untouched");
  // The other model of the file without a header still reads.
  EXPECT_EQ(BNXUtils::ReadTXMModelInfo(no_header, 0, h), 0);
}

TEST_F(TxmReportFileTest, ModelCores) {
  const std::vector<uint8_t> bytes = testsupport::BuildSampleTxm();
  const std::string path = Write(bytes);
  std::vector<BNXUtils::MODEL_CORES> cores;
  ASSERT_EQ(BNXUtils::ReadTXMModelCore(path, 1, cores), 0);
  ASSERT_EQ(cores.size(), 3u);

  const BNXUtils::MODEL_CORES& npu = cores[0];
  EXPECT_EQ(npu.id, 0u);
  EXPECT_EQ(npu.type, 0);
  EXPECT_EQ(npu.eu_params_type, 1);
  const uint8_t seed = 2 * 17 + 1;
  EXPECT_EQ(npu.npu_param.cmd, testsupport::PayloadBytes(256, seed));
  EXPECT_EQ(npu.npu_param.cmd_size, 256u);
  EXPECT_EQ(npu.npu_param.weight, testsupport::PayloadBytes(1024, seed + 0x40));
  EXPECT_EQ(npu.npu_param.wt_size, 1024u);
  testsupport::PayloadRef cmd, wt;
  ASSERT_TRUE(testsupport::FindPayload(bytes, 1, testsupport::TxmPayload::kCmd, 0, &cmd));
  ASSERT_TRUE(testsupport::FindPayload(bytes, 1, testsupport::TxmPayload::kWeight, 0, &wt));
  EXPECT_EQ(npu.npu_param.cmd_addr, cmd.data_pos());
  EXPECT_EQ(npu.npu_param.wt_addr, wt.data_pos());
  ASSERT_EQ(npu.input_nodes.size(), 1u);
  EXPECT_EQ(npu.input_nodes[0].name, "core0_in");
  EXPECT_EQ(npu.inputs[0].name, "core0_in");
  EXPECT_EQ(npu.output_nodes[0].name, "core0_out");
  EXPECT_EQ(npu.parents, (std::vector<int32_t>{-1}));
  EXPECT_EQ(npu.children, (std::vector<int32_t>{1}));
  EXPECT_TRUE(npu.dependency.empty());

  const BNXUtils::MODEL_CORES& cpu = cores[1];
  EXPECT_EQ(cpu.type, 1);
  EXPECT_EQ(cpu.eu_params_type, 2);
  EXPECT_EQ(cpu.cpu_param.operator_count, 3u);
  EXPECT_NE(cpu.cpu_param.operators_addr, 0u);
  EXPECT_TRUE(cpu.npu_param.cmd.empty());
  EXPECT_EQ(cpu.dependency, (std::vector<int32_t>{0}));

  const BNXUtils::MODEL_CORES& loop = cores[2];
  EXPECT_EQ(loop.type, 2);
  EXPECT_EQ(loop.eu_params_type, 3);
  EXPECT_EQ(loop.loop_param.max_trip_count, 4u);
  EXPECT_EQ(loop.loop_param.condition_var.name, "loop_cond");
  EXPECT_EQ(loop.loop_param.loop_npu_params.cmd, testsupport::PayloadBytes(32, seed + 0xA0));
  EXPECT_EQ(loop.loop_param.loop_npu_params.cmd_addr % 64, 0u);
  EXPECT_EQ(loop.loop_param.loop_npu_params.wt_size, 32u);

  EXPECT_EQ(BNXUtils::ReadTXMModelCore(path, 2, cores), -1);
  EXPECT_EQ(BNXUtils::ReadTXMModelCore(dir_ / "missing.txm", 0, cores), -1);
  EXPECT_EQ(cores.size(), 3u);

  SampleTxmOptions bare;
  bare.models[0].with_npu_core = bare.models[0].with_cpu_core = bare.models[0].with_loop_core = false;
  ASSERT_EQ(BNXUtils::ReadTXMModelCore(Write(bare, "bare.txm"), 0, cores), 0);
  EXPECT_TRUE(cores.empty());
}

TEST_F(TxmReportFileTest, ModelMemorySums) {
  SampleTxmOptions o;
  o.header_buffer_info = {{T::Location::INPUT_BUFFER, 0x60000000, 0x100},
                          {T::Location::OUTPUT_BUFFER, 0x60000100, 0x100},
                          {T::Location::WORKING_BUFFER, 0x60000200, 0x100},
                          {T::Location::CPU_TEMP_BUFFER, 0x60001000, 0x800},
                          {T::Location::WEIGHT_SEGMENT, 0x90000000, 0x100000}};  // not counted
  o.models[0].buffer_info = std::vector<SampleBufferInfo>{
      {T::Location::INPUT_BUFFER, 0, 1}, {T::Location::OUTPUT_BUFFER, 0, 2},
      {T::Location::WORKING_BUFFER, 0, 4}, {T::Location::WEIGHT_SEGMENT, 0, 8},
      {T::Location::CONST_INPUT_SEGMENT, 0, 0x1000}};  // fifth entry not counted
  o.models[1].buffer_info = std::vector<SampleBufferInfo>{
      {T::Location::INPUT_BUFFER, 0, 0x10}, {T::Location::OUTPUT_BUFFER, 0, 0x20},
      {T::Location::WORKING_BUFFER, 0, 0x40}, {T::Location::WEIGHT_SEGMENT, 0, 0x80}};
  BNXUtils::ModelMemory mm;
  ASSERT_EQ(BNXUtils::ReadBNXModelMemory(Write(o), &mm), 0);
  EXPECT_EQ(mm.DDR_start_addr, 0x60000000u);
  EXPECT_EQ(mm.DDR_end_addr, 0x60001800u);
  EXPECT_EQ(mm.model_size_no_header_buff, 0xFFu);
  EXPECT_EQ(mm.DDR_space_needed, 0x18FFu);
}

TEST_F(TxmReportFileTest, ModelMemoryWrapsAt32Bits) {
  SampleTxmOptions o;
  o.header_buffer_info = {{T::Location::INPUT_BUFFER, 0x1'0000'0010ULL, 0},
                          {T::Location::OUTPUT_BUFFER, 0, 0},
                          {T::Location::WORKING_BUFFER, 0, 0},
                          {T::Location::CPU_TEMP_BUFFER, 0xFFFFFFF0ULL, 0x30}};
  o.models = {o.SampleModel(1)};
  o.models[0].buffer_info = std::vector<SampleBufferInfo>{
      {T::Location::INPUT_BUFFER, 0, 0xFFFFFFFFULL}, {T::Location::OUTPUT_BUFFER, 0, 0x1'0000'0002ULL},
      {T::Location::WORKING_BUFFER, 0, 0}, {T::Location::WEIGHT_SEGMENT, 0, 0}};
  BNXUtils::ModelMemory mm;
  ASSERT_EQ(BNXUtils::ReadBNXModelMemory(Write(o), &mm), 0);
  EXPECT_EQ(mm.DDR_start_addr, 0x10u);
  EXPECT_EQ(mm.DDR_end_addr, 0x20u);
  EXPECT_EQ(mm.model_size_no_header_buff, 1u);
  EXPECT_EQ(mm.DDR_space_needed, 0x11u);
}

TEST_F(TxmReportFileTest, ModelMemoryRefusesShortLayouts) {
  BNXUtils::ModelMemory mm;
  mm.DDR_start_addr = 77;
  SampleTxmOptions o;
  o.header_buffer_info.pop_back();
  EXPECT_EQ(BNXUtils::ReadBNXModelMemory(Write(o, "a.txm"), &mm), -1);
  o = SampleTxmOptions();
  o.with_header = false;
  EXPECT_EQ(BNXUtils::ReadBNXModelMemory(Write(o, "b.txm"), &mm), -1);
  o = SampleTxmOptions();
  o.models[1].buffer_info = std::vector<SampleBufferInfo>{};
  EXPECT_EQ(BNXUtils::ReadBNXModelMemory(Write(o, "c.txm"), &mm), -1);
  o = SampleTxmOptions();
  o.models[1].with_header = false;
  EXPECT_EQ(BNXUtils::ReadBNXModelMemory(Write(o, "d.txm"), &mm), -1);
  EXPECT_EQ(BNXUtils::ReadBNXModelMemory(dir_ / "missing.txm", &mm), -1);
  EXPECT_EQ(mm.DDR_start_addr, 77u);
  // No models: only the file header counts.
  o = SampleTxmOptions();
  o.models.clear();
  ASSERT_EQ(BNXUtils::ReadBNXModelMemory(Write(o, "e.txm"), &mm), 0);
  EXPECT_EQ(mm.model_size_no_header_buff, 0u);
  EXPECT_EQ(mm.DDR_space_needed, 0x160000u);
}

TEST_F(TxmReportFileTest, GetTXMAllReadsEverything) {
  const std::string path = Write(SampleTxmOptions());
  BNXUtils::BNX_CONTENT_TXM all;
  ASSERT_EQ(BNXUtils::GetTXMAll(path, all), 0);
  EXPECT_EQ(all.header.target, "TZ400");
  EXPECT_EQ(all.header.buffer_info.size(), 4u);
  EXPECT_EQ(all.memory.DDR_start_addr, 0x60000000u);
  EXPECT_EQ(all.memory.DDR_end_addr, 0x60160000u);
  ASSERT_EQ(all.models.size(), 2u);
  EXPECT_EQ(all.models[0].model_header.model_id, 1u);
  EXPECT_EQ(all.models[1].model_header.model_id, 2u);
  EXPECT_EQ(all.models[1].model_core.size(), 3u);

  SampleTxmOptions hostile;
  hostile.models[1].with_header = false;
  BNXUtils::BNX_CONTENT_TXM other;
  EXPECT_EQ(BNXUtils::GetTXMAll(Write(hostile, "h.txm"), other), -1);
  EXPECT_EQ(BNXUtils::GetTXMAll(dir_ / "missing.txm", other), -1);
  EXPECT_TRUE(other.models.empty());
}

TEST_F(TxmReportFileTest, CorruptedFilesFailCleanly) {
  // Any byte changes: the readers either read a verified file or refuse it.
  const std::vector<uint8_t> good = testsupport::BuildSampleTxm();
  std::mt19937 rng(7);
  int read_ok = 0;
  for (int i = 0; i < 150; ++i) {
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 3; ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    BNXUtils::BNX_CONTENT_TXM all;
    int ret = BNXUtils::GetTXMAll(Write(bytes), all);
    ASSERT_TRUE(ret == 0 || ret == -1);
    if (ret == 0) ++read_ok;
  }
  EXPECT_GT(read_ok, 0);
}

}  // namespace
