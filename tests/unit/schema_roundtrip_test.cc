// Object trees of the three schemas survive Pack -> verify -> UnPack -> Pack unchanged,
// keep the layout rules of the formats, and read back through flatc as the schema says.
#include <gtest/gtest.h>

#include <json/json.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bnx/container.h"
#include "bnx_generated.h"
#include "setup/setup_recognise.h"
#include "setup_generated.h"
#include "support/bnx_builder.h"
#include "support/run.h"
#include "txm/txm_verify.h"
#include "txm_generated.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Table, typename NativeT>
Bytes PackTree(const NativeT& obj, bool force_defaults = false) {
  flatbuffers::FlatBufferBuilder b(1024);
  b.ForceDefaults(force_defaults);
  b.Finish(Table::Pack(b, &obj));
  return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

bool Present(const void* table, flatbuffers::voffset_t field) {
  return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

size_t OffsetIn(const Bytes& buf, const void* p) {
  return static_cast<size_t>(static_cast<const uint8_t*>(p) - buf.data());
}

// Runs flatc on a binary written by this code base and parses the JSON it prints.
Json::Value FlatcJson(const std::string& schema, const Bytes& bin) {
  testsupport::TempDir tmp;
  const std::string in = tmp / "buf.bin";
  testsupport::WriteBytes(in, bin);
  const auto r = testsupport::Run({TALVEX_FLATC, "--json", "--raw-binary", "--strict-json", "-o", tmp.path(),
                                   std::string(TALVEX_SCHEMA_DIR) + "/" + schema, "--", in});
  EXPECT_EQ(r.status, 0) << r.err;
  Json::Value root;
  Json::CharReaderBuilder reader;
  std::string errs;
  std::istringstream text(testsupport::ReadText(tmp / "buf.json"));
  EXPECT_TRUE(Json::parseFromStream(reader, text, &root, &errs)) << errs;
  return root;
}

// ---------------------------------------------------------------- BNX

TalvexBNX::BNXContentT SampleBnxTree() {
  TalvexBNX::BNXContentT bnx;
  bnx.header = std::make_unique<TalvexBNX::BNXHeaderT>();
  auto& h = *bnx.header;
  h.platform = "";
  h.target = TalvexBNX::NPUTarget::TZ600;
  h.crc = 0xCAFEF00D;
  h.tv_number = 0x1234;
  h.encryption_mode = TalvexBNX::ENCMode::EM_TVNum;
  h.compiler_version = "c 3.1";
  h.toolchain_version = "2025-09-11(a789b85)";
  h.schema_version = std::make_unique<TalvexBNX::SchemaVersionT>();
  h.schema_version->major_num = 2;
  h.schema_version->minor_num = 0;
  h.schema_version->revision_num = 1;
  h.uuid = 0xCAFEF00D;
  h.solution_id = "sol";
  h.solution_tag = "tag";
  for (int i = 0; i < 3; ++i) {
    auto m = std::make_unique<TalvexBNX::ModelInfoT>();
    m->name = "m" + std::to_string(i);
    m->id = 100 + i;
    m->version = i == 1 ? "" : std::to_string(i) + ".0";
    bnx.model_info.push_back(std::move(m));
  }
  bnx.model_bin = std::make_unique<TalvexBNX::ModelBinT>();
  bnx.model_bin->fw_info = Bytes(21, 0x44);
  bnx.model_bin->all_models = Bytes(77, 0x99);
  return bnx;
}

TEST(BnxSchemaTest, DefaultTreeCarriesTheMagicOnly) {
  TalvexBNX::BNXContentT bnx;
  EXPECT_EQ(bnx.magic, 0x012EBD34u);
  EXPECT_EQ(bnx.header, nullptr);
  EXPECT_TRUE(bnx.model_info.empty());
  EXPECT_EQ(bnx.model_bin, nullptr);
}

TEST(BnxSchemaTest, RoundTripKeepsEveryFieldAndTheAlignment) {
  const TalvexBNX::BNXContentT tree = SampleBnxTree();
  const Bytes buf = PackTree<TalvexBNX::BNXContent>(tree, true);
  ASSERT_TRUE(BNXUtils::VerifyBNXBuffer(buf.data(), buf.size()));
  EXPECT_EQ(buf.size() % 32, 0u);
  EXPECT_EQ(BNXUtils::CheckBNXAlignment(buf.data(), buf.size()), 0);

  auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(buf.data());
  // Force-defaults stores the magic and zero-valued scalars physically.
  EXPECT_TRUE(Present(root, TalvexBNX::BNXContent::VT_MAGIC));
  EXPECT_TRUE(Present(root->header()->schema_version(), TalvexBNX::SchemaVersion::VT_MINOR_NUM));
  EXPECT_EQ(OffsetIn(buf, root->model_bin()->all_models()->data()) % 32, 0u);

  TalvexBNX::BNXContentT back;
  root->UnPackTo(&back);
  EXPECT_EQ(back.magic, 0x012EBD34u);
  EXPECT_EQ(back.header->target, TalvexBNX::NPUTarget::TZ600);
  EXPECT_EQ(back.header->crc, 0xCAFEF00Du);
  EXPECT_EQ(back.header->tv_number, 0x1234u);
  EXPECT_EQ(back.header->encryption_mode, TalvexBNX::ENCMode::EM_TVNum);
  EXPECT_EQ(back.header->toolchain_version, "2025-09-11(a789b85)");
  EXPECT_EQ(back.header->schema_version->revision_num, 1u);
  EXPECT_EQ(back.header->solution_tag, "tag");
  ASSERT_EQ(back.model_info.size(), 3u);
  EXPECT_EQ(back.model_info[1]->name, "m1");
  EXPECT_EQ(back.model_info[1]->id, 101);
  EXPECT_EQ(back.model_info[1]->version, "");
  EXPECT_EQ(back.model_bin->fw_info, Bytes(21, 0x44));
  EXPECT_EQ(back.model_bin->all_models, Bytes(77, 0x99));
  EXPECT_EQ(PackTree<TalvexBNX::BNXContent>(back, true), buf);

  // Keys read from the packed buffer.
  EXPECT_EQ(BNXUtils::ReadBNXKey(root, "target"), "600");
  EXPECT_EQ(BNXUtils::ReadBNXKey(root, "schema_version"), "v2.0.1");
  EXPECT_EQ(BNXUtils::ReadBNXKey(root, "crc"), "0xCAFEF00D");
}

TEST(BnxSchemaTest, FieldSlotsFollowTheDeclaredOrder) {
  EXPECT_EQ(TalvexBNX::BNXContent::VT_MAGIC, 4);
  EXPECT_EQ(TalvexBNX::BNXContent::VT_MODEL_BIN, 10);
  EXPECT_EQ(TalvexBNX::BNXHeader::VT_TARGET, 6);
  EXPECT_EQ(TalvexBNX::BNXHeader::VT_SCHEMA_VERSION, 18);
  EXPECT_EQ(TalvexBNX::BNXHeader::VT_SOLUTION_TAG, 24);
  EXPECT_EQ(TalvexBNX::ModelInfo::VT_VERSION, 8);
  EXPECT_EQ(TalvexBNX::ModelBin::VT_ALL_MODELS, 6);
  EXPECT_EQ(static_cast<int>(TalvexBNX::NPUTarget::TZ600), 5);
  EXPECT_EQ(static_cast<int>(TalvexBNX::ENCMode::EM_TVNum), 2);
}

TEST(BnxSchemaTest, FlatcReadsAContainerWithoutItsTrailer) {
  testsupport::SampleBnx s;
  s.with_trailer = false;
  s.models = {{"det", 32768, "1.0"}, {"cls", 7, "2.1"}};
  const Json::Value j = FlatcJson("bnx.fbs", testsupport::BuildBnx(s));
  EXPECT_EQ(j["magic"].asUInt(), 19840308u);
  EXPECT_EQ(j["header"]["target"].asString(), "TZ400");
  EXPECT_EQ(j["header"]["crc"].asUInt(), 0x1A2B3C4Du);
  EXPECT_EQ(j["header"]["encryption_mode"].asString(), "EM_None");
  EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), 2u);
  EXPECT_EQ(j["header"]["schema_version"]["minor_num"].asUInt(), 0u);
  EXPECT_EQ(j["header"]["schema_version"]["revision_num"].asUInt(), 1u);
  EXPECT_EQ(j["header"]["solution_tag"].asString(), "5a6f7e");
  ASSERT_EQ(j["model_info"].size(), 2u);
  EXPECT_EQ(j["model_info"][0]["name"].asString(), "det");
  EXPECT_EQ(j["model_info"][0]["id"].asInt(), 32768);
  EXPECT_EQ(j["model_info"][1]["version"].asString(), "2.1");
  ASSERT_EQ(j["model_bin"]["all_models"].size(), 100u);
  EXPECT_EQ(j["model_bin"]["all_models"][99].asUInt(), 0xABu);
}

// ---------------------------------------------------------------- TXM

std::unique_ptr<TalvexTXM::TensorT> Tensor(const std::string& name, TalvexTXM::Location loc) {
  auto t = std::make_unique<TalvexTXM::TensorT>();
  t->name = name;
  t->ndim = 4;
  t->shape = {1, 3, 224, 224};
  t->location = loc;
  t->start_addr = 0x100000000ULL;
  t->shape_intrp_dim = {0, 1, -1};
  t->quantization = std::make_unique<TalvexTXM::QuantizationParametersT>();
  t->quantization->radix = {-3, 5};
  t->quantization->scale = {1, 2, 3, 4};
  t->quantization->scale_type = TalvexTXM::DataType::Float;
  return t;
}

std::unique_ptr<TalvexTXM::CoreT> Core(int id, TalvexTXM::CoreType type) {
  auto c = std::make_unique<TalvexTXM::CoreT>();
  c->header = std::make_unique<TalvexTXM::CoreHeaderT>();
  c->header->id = id;
  c->header->type = type;
  c->header->dependency = {id - 1};
  return c;
}

TalvexTXM::TXMContentT SampleTxmTree() {
  using namespace TalvexTXM;
  TXMContentT txm;
  txm.magic = 0x12345678;
  txm.header = std::make_unique<TXMHeaderT>();
  txm.header->target = NPUTarget::TZ400;
  txm.header->compiler_version = "npu-cc 5";
  txm.header->schema_version = std::make_unique<SchemaVersionT>();
  txm.header->schema_version->major_num = 1;
  auto bi = std::make_unique<BufferInfoT>();
  bi->buffer = Location::WEIGHT_SEGMENT;
  bi->start_addr = 0x80000000ULL;
  bi->len = 0x1000;
  txm.header->buffer_info.push_back(std::move(bi));

  // Model 1: own weight (wt_ref_model_id left at its default), NPU, CPU and LOOP cores.
  auto m1 = std::make_unique<ModelT>();
  m1->header = std::make_unique<ModelHeaderT>();
  m1->header->id = 5;
  m1->header->core_number = 3;
  m1->header->inputs.push_back(Tensor("in", Location::INPUT_BUFFER));
  m1->header->outputs.push_back(Tensor("tmp", Location::CPU_TEMP_BUFFER));
  m1->header->encrypt_info = std::make_unique<EncryptInfoT>();
  m1->header->encrypt_info->mode = EncryptedMode::CustKey;
  m1->header->encrypt_info->key = {1, 2, 3, 4, 5, 6, 7, 8};
  auto bank = std::make_unique<DmaBankInfoT>();
  bank->bank = -2;
  bank->type = DMAType::WDMA;
  bank->association = Location::OUTPUT_BUFFER;
  m1->header->dma_bank_info.push_back(std::move(bank));

  auto npu = Core(0, CoreType::NPU);
  NPUEUParamsT npu_params;
  npu_params.cmd = {0xC1};  // one byte still starts on a 64-byte boundary
  npu_params.weight = Bytes(130, 0x77);
  npu->eu_params.Set(std::move(npu_params));
  m1->cores.push_back(std::move(npu));

  auto cpu = Core(1, CoreType::CPU);
  CPUEUParamsT cpu_params;
  auto op = std::make_unique<OperatorT>();
  op->name = "conv0";
  op->opcode_index = BuiltinOperator::Conv;
  ConvOptionsT conv;
  conv.kernel_shape = {3, 3};
  conv.strides = {2, 2};
  conv.group = 4;
  op->builtin_options.Set(std::move(conv));
  op->input_order = {InputOrder::WEIGHT, InputOrder::INPUT, InputOrder::WEIGHT};
  auto w = std::make_unique<ConstDataT>();
  w->name = "w";
  w->type = DataType::Int8;
  w->values = {9, 8, 7};
  op->weights.push_back(std::move(w));
  cpu_params.operators.push_back(std::move(op));
  auto odd = std::make_unique<OperatorT>();
  odd->name = "unnamed-code";
  odd->opcode_index = static_cast<BuiltinOperator>(12345u);  // not among the names
  cpu_params.operators.push_back(std::move(odd));
  cpu->eu_params.Set(std::move(cpu_params));
  m1->cores.push_back(std::move(cpu));

  auto loop = Core(2, CoreType::LOOP);
  LoopEUParamsT loop_params;
  loop_params.max_trip_count = 10;
  loop_params.condition_var = Tensor("cond", Location::WORKING_BUFFER);
  loop_params.npu_params = std::make_unique<NPUEUParamsT>();
  loop_params.npu_params->cmd = Bytes(64, 0x0C);
  loop->eu_params.Set(std::move(loop_params));
  auto inner = Core(3, CoreType::NPU);
  NPUEUParamsT inner_params;
  inner_params.weight = {1, 2, 3};
  inner->eu_params.Set(std::move(inner_params));
  loop->exe_unit.push_back(std::move(inner));
  m1->cores.push_back(std::move(loop));
  txm.models.push_back(std::move(m1));

  // Model 2: uses the weight of model 0 (0 differs from the default) and has a constant input.
  auto m2 = std::make_unique<ModelT>();
  m2->header = std::make_unique<ModelHeaderT>();
  m2->header->id = 6;
  m2->header->wt_ref_model_id = 0;
  m2->const_input = Bytes(5, 0xEE);
  txm.models.push_back(std::move(m2));
  return txm;
}

TEST(TxmSchemaTest, DefaultsOfTheObjectTree) {
  TalvexTXM::ModelHeaderT h;
  EXPECT_EQ(h.wt_ref_model_id, -1);
  TalvexTXM::TXMContentT t;
  EXPECT_EQ(t.magic, 0u);
}

TEST(TxmSchemaTest, RoundTripKeepsTheTreeAnd64ByteAlignment) {
  const TalvexTXM::TXMContentT tree = SampleTxmTree();
  const Bytes buf = PackTree<TalvexTXM::TXMContent>(tree);
  ASSERT_TRUE(TXM::VerifyTXMBuffer(buf.data(), buf.size()));
  EXPECT_EQ(buf.size() % 64, 0u);

  auto* root = flatbuffers::GetRoot<TalvexTXM::TXMContent>(buf.data());
  auto* m1 = root->models()->Get(0);
  auto* npu = m1->cores()->Get(0)->eu_params_as_NPUEUParams();
  ASSERT_NE(npu, nullptr);
  EXPECT_EQ(OffsetIn(buf, npu->cmd()->data()) % 64, 0u);
  EXPECT_EQ(OffsetIn(buf, npu->weight()->data()) % 64, 0u);
  auto* loop = m1->cores()->Get(2)->eu_params_as_LoopEUParams();
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(OffsetIn(buf, loop->npu_params()->cmd()->data()) % 64, 0u);
  auto* m2 = root->models()->Get(1);
  EXPECT_EQ(OffsetIn(buf, m2->const_input()->data()) % 64, 0u);

  // wt_ref_model_id: absent (-1) for model 1, stored as 0 for model 2.
  EXPECT_FALSE(Present(m1->header(), TalvexTXM::ModelHeader::VT_WT_REF_MODEL_ID));
  EXPECT_EQ(m1->header()->wt_ref_model_id(), -1);
  EXPECT_TRUE(Present(m2->header(), TalvexTXM::ModelHeader::VT_WT_REF_MODEL_ID));
  EXPECT_EQ(m2->header()->wt_ref_model_id(), 0);
  // Byte-sized enums and the byte vector of input orders.
  EXPECT_EQ(m1->header()->outputs()->Get(0)->location(), TalvexTXM::Location::CPU_TEMP_BUFFER);
  auto* op = m1->cores()->Get(1)->eu_params_as_CPUEUParams()->operators()->Get(0);
  EXPECT_EQ(op->input_order()->size(), 3u);
  EXPECT_EQ(op->builtin_options_as_ConvOptions()->group(), 4u);

  TalvexTXM::TXMContentT back;
  root->UnPackTo(&back);
  EXPECT_EQ(back.magic, 0x12345678u);
  EXPECT_EQ(back.header->target, TalvexTXM::NPUTarget::TZ400);
  EXPECT_EQ(back.header->buffer_info[0]->start_addr, 0x80000000ULL);
  ASSERT_EQ(back.models.size(), 2u);
  const auto& bm1 = *back.models[0];
  EXPECT_EQ(bm1.header->wt_ref_model_id, -1);
  EXPECT_EQ(bm1.header->encrypt_info->mode, TalvexTXM::EncryptedMode::CustKey);
  EXPECT_EQ(bm1.header->dma_bank_info[0]->bank, -2);
  EXPECT_EQ(bm1.header->inputs[0]->start_addr, 0x100000000ULL);
  EXPECT_EQ(bm1.header->inputs[0]->quantization->radix, (std::vector<int8_t>{-3, 5}));
  ASSERT_EQ(bm1.cores.size(), 3u);
  ASSERT_EQ(bm1.cores[0]->eu_params.type, TalvexTXM::EUParams::NPUEUParams);
  EXPECT_EQ(bm1.cores[0]->eu_params.AsNPUEUParams()->cmd, Bytes{0xC1});
  EXPECT_EQ(bm1.cores[0]->eu_params.AsNPUEUParams()->weight, Bytes(130, 0x77));
  ASSERT_EQ(bm1.cores[1]->eu_params.type, TalvexTXM::EUParams::CPUEUParams);
  const auto& ops = bm1.cores[1]->eu_params.AsCPUEUParams()->operators;
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0]->opcode_index, TalvexTXM::BuiltinOperator::Conv);
  ASSERT_EQ(ops[0]->builtin_options.type, TalvexTXM::BuiltinOptions::ConvOptions);
  EXPECT_EQ(ops[0]->builtin_options.AsConvOptions()->kernel_shape, (std::vector<int32_t>{3, 3}));
  EXPECT_EQ(ops[0]->input_order[0], TalvexTXM::InputOrder::WEIGHT);
  EXPECT_EQ(ops[0]->weights[0]->values, (Bytes{9, 8, 7}));
  EXPECT_EQ(static_cast<uint32_t>(ops[1]->opcode_index), 12345u);
  EXPECT_STREQ(TalvexTXM::EnumNameBuiltinOperator(ops[1]->opcode_index), "");
  ASSERT_EQ(bm1.cores[2]->eu_params.type, TalvexTXM::EUParams::LoopEUParams);
  EXPECT_EQ(bm1.cores[2]->eu_params.AsLoopEUParams()->condition_var->name, "cond");
  ASSERT_EQ(bm1.cores[2]->exe_unit.size(), 1u);
  EXPECT_EQ(bm1.cores[2]->exe_unit[0]->header->id, 3);
  EXPECT_EQ(back.models[1]->header->wt_ref_model_id, 0);
  EXPECT_EQ(back.models[1]->const_input, Bytes(5, 0xEE));

  EXPECT_EQ(PackTree<TalvexTXM::TXMContent>(back), buf);
  // The object tree's copy is deep: packing the copy gives the same bytes.
  const TalvexTXM::TXMContentT copy(back);
  EXPECT_EQ(PackTree<TalvexTXM::TXMContent>(copy), buf);
}

TEST(TxmSchemaTest, EnumerationValuesAndNames) {
  using namespace TalvexTXM;
  EXPECT_STREQ(EnumNameNPUTarget(NPUTarget::UNKNOW), "UNKNOW");
  EXPECT_EQ(static_cast<int>(NPUTarget::TZ1000), 2);
  EXPECT_EQ(static_cast<int>(Location::CPU_TEMP_BUFFER), 6);
  EXPECT_STREQ(EnumNameDataType(DataType::Uint32), "Uint32");
  EXPECT_EQ(static_cast<int>(DataType::Double), 11);
  EXPECT_EQ(static_cast<int>(CoreType::NPU_CPU), 3);
  EXPECT_EQ(static_cast<int>(EncryptedMode::CustKey), 3);
  EXPECT_EQ(static_cast<uint32_t>(BuiltinOperator::Relu), 71640359u);
  EXPECT_EQ(static_cast<uint32_t>(BuiltinOperator::None), 2146218923u);
  EXPECT_EQ(static_cast<uint32_t>(BuiltinOperator::IsNaN), 4274322438u);
  EXPECT_EQ(static_cast<uint32_t>(BuiltinOperator::Mod), 4236163859u);
  EXPECT_EQ(static_cast<int>(BuiltinOptions::GatherNDOptions), 81);
  EXPECT_EQ(static_cast<int>(BuiltinOptions::EyeLikeOptions), 62);
  EXPECT_EQ(static_cast<int>(EUParams::LoopEUParams), 3);
  EXPECT_EQ(BuiltinOperatorTypeTable()->num_elems, 209u);
  EXPECT_EQ(BuiltinOptionsTypeTable()->num_elems, 82u);  // NONE and 81 members
  EXPECT_EQ(ModelHeaderTypeTable()->num_elems, 11u);
  EXPECT_EQ(TensorTypeTable()->num_elems, 13u);
  EXPECT_EQ(ModelHeader::VT_WT_REF_MODEL_ID, 4 + 2 * 10);
  EXPECT_EQ(Core::VT_EU_PARAMS, 4 + 2 * 3);
}

TEST(TxmSchemaTest, FlatcReadsAPackedTxm) {
  const Bytes buf = PackTree<TalvexTXM::TXMContent>(SampleTxmTree());
  const Json::Value j = FlatcJson("txm.fbs", buf);
  EXPECT_EQ(j["magic"].asUInt(), 0x12345678u);
  EXPECT_EQ(j["header"]["target"].asString(), "TZ400");
  EXPECT_EQ(j["header"]["buffer_info"][0]["buffer"].asString(), "WEIGHT_SEGMENT");
  ASSERT_EQ(j["models"].size(), 2u);
  const Json::Value& m1 = j["models"][0];
  EXPECT_FALSE(m1["header"].isMember("wt_ref_model_id"));
  EXPECT_EQ(m1["header"]["id"].asInt(), 5);
  EXPECT_EQ(m1["header"]["outputs"][0]["location"].asString(), "CPU_TEMP_BUFFER");
  EXPECT_EQ(m1["header"]["encrypt_info"]["mode"].asString(), "CustKey");
  EXPECT_FALSE(m1["cores"][0]["header"].isMember("type"));  // NPU is the default 0
  EXPECT_EQ(m1["cores"][1]["header"]["type"].asString(), "CPU");
  EXPECT_EQ(m1["cores"][2]["header"]["type"].asString(), "LOOP");
  EXPECT_EQ(m1["cores"][0]["eu_params_type"].asString(), "NPUEUParams");
  ASSERT_EQ(m1["cores"][0]["eu_params"]["cmd"].size(), 1u);
  EXPECT_EQ(m1["cores"][0]["eu_params"]["cmd"][0].asUInt(), 0xC1u);
  EXPECT_EQ(m1["cores"][0]["eu_params"]["weight"].size(), 130u);
  const Json::Value& op = m1["cores"][1]["eu_params"]["operators"][0];
  EXPECT_EQ(m1["cores"][1]["eu_params_type"].asString(), "CPUEUParams");
  EXPECT_EQ(op["opcode_index"].asString(), "Conv");
  EXPECT_EQ(op["builtin_options_type"].asString(), "ConvOptions");
  EXPECT_EQ(op["builtin_options"]["group"].asUInt(), 4u);
  EXPECT_EQ(op["input_order"][0].asString(), "WEIGHT");
  EXPECT_EQ(m1["cores"][1]["eu_params"]["operators"][1]["opcode_index"].asUInt(), 12345u);
  EXPECT_EQ(m1["cores"][2]["eu_params_type"].asString(), "LoopEUParams");
  EXPECT_EQ(m1["cores"][2]["eu_params"]["max_trip_count"].asUInt(), 10u);
  EXPECT_EQ(m1["cores"][2]["exe_unit"][0]["header"]["id"].asInt(), 3);
  const Json::Value& m2 = j["models"][1];
  ASSERT_TRUE(m2["header"].isMember("wt_ref_model_id"));
  EXPECT_EQ(m2["header"]["wt_ref_model_id"].asInt(), 0);
  EXPECT_EQ(m2["const_input"].size(), 5u);
}

// ---------------------------------------------------------------- setup

TalvexSetup::INFContentT SampleSetupTree() {
  using namespace TalvexSetup;
  INFContentT inf;
  inf.header = std::make_unique<HeaderT>();
  inf.header->platform = "board";
  inf.header->target = NPUTarget::TZ300;
  inf.header->schema_version = std::make_unique<SchemaVersionT>();
  inf.header->addressing_mode = AddressingMode::Relative;
  inf.header->run_val = 77;
  auto seg = std::make_unique<SegmentInfoT>();
  seg->segment = Segment::WEIGHT;
  seg->start = 0x1000;
  seg->len = 0x200;
  inf.header->segment_info.push_back(std::move(seg));
  inf.header->encrypt_info = std::make_unique<EncryptInfoT>();
  inf.header->encrypt_info->mode = EncryptedMode::NoEnc;
  inf.header->encrypt_info->key = {0xAA, 0xBB};

  auto in = std::make_unique<TensorT>();
  in->name = "input";
  in->shape = {1, 8};
  in->buffer = std::make_unique<BufferT>();  // entry keeps its default
  in->buffer->len = 8;
  in->buffer->segment = Segment::INPUT;
  in->quantization = std::make_unique<QuantizationParametersT>();
  auto fxp = std::make_unique<FxpInfoT>();
  fxp->scale = 0.5f;
  fxp->radix = 7;
  in->quantization->fxp_info.push_back(std::move(fxp));
  inf.inputs.push_back(std::move(in));

  auto op = std::make_unique<OperatorT>();
  op->name = "softmax";
  op->layer_index = 12;
  op->opcode_index = BuiltinOperator::Softmax;
  SoftmaxOptionsT sm;
  sm.axis = -1;
  op->builtin_options.Set(std::move(sm));
  op->direct_fp = true;
  inf.cpu_nodes.push_back(std::move(op));

  auto c = std::make_unique<TensorT>();
  c->name = "const";
  c->const_data = {1, 2, 3};
  inf.const_input.push_back(std::move(c));
  return inf;
}

TEST(SetupSchemaTest, DefaultsOfTheObjectTree) {
  TalvexSetup::INFContentT inf;
  EXPECT_EQ(inf.magic, 0x012EBD34u);
  TalvexSetup::SchemaVersionT v;
  EXPECT_EQ(v.major_num, 1u);
  EXPECT_EQ(v.minor_num, 2u);
  EXPECT_EQ(v.revision_num, 42u);
  TalvexSetup::BufferT b;
  EXPECT_EQ(b.entry, 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<int>(TalvexSetup::NPUTarget::TZ600), 6);
  EXPECT_EQ(static_cast<int>(TalvexSetup::BuiltinOptions::EinsumOptions), 79);
  EXPECT_EQ(TalvexSetup::BuiltinOperatorTypeTable()->num_elems, 171u);
}

TEST(SetupSchemaTest, RoundTripOfAFlatbufferSetup) {
  const Bytes buf = PackTree<TalvexSetup::INFContent>(SampleSetupTree());
  ASSERT_TRUE(Setup::IsFBSetup(buf.data(), buf.size()));
  EXPECT_FALSE(Setup::IsRawSetup(buf.data(), buf.size()));
  auto* root = flatbuffers::GetRoot<TalvexSetup::INFContent>(buf.data());
  // Defaults are not stored: the magic and the 1.2.42 schema version are absent.
  EXPECT_FALSE(Present(root, TalvexSetup::INFContent::VT_MAGIC));
  EXPECT_EQ(root->magic(), 0x012EBD34u);
  EXPECT_FALSE(Present(root->header()->schema_version(), TalvexSetup::SchemaVersion::VT_REVISION_NUM));
  EXPECT_EQ(root->header()->schema_version()->revision_num(), 42u);
  EXPECT_FALSE(Present(root->inputs()->Get(0)->buffer(), TalvexSetup::Buffer::VT_ENTRY));

  TalvexSetup::INFContentT back;
  root->UnPackTo(&back);
  EXPECT_EQ(back.header->platform, "board");
  EXPECT_EQ(back.header->target, TalvexSetup::NPUTarget::TZ300);
  EXPECT_EQ(back.header->addressing_mode, TalvexSetup::AddressingMode::Relative);
  EXPECT_EQ(back.header->segment_info[0]->segment, TalvexSetup::Segment::WEIGHT);
  EXPECT_EQ(back.header->encrypt_info->key, (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(back.inputs[0]->buffer->entry, 0xFFFFFFFFu);
  EXPECT_FLOAT_EQ(back.inputs[0]->quantization->fxp_info[0]->scale, 0.5f);
  ASSERT_EQ(back.cpu_nodes.size(), 1u);
  EXPECT_TRUE(back.cpu_nodes[0]->direct_fp);
  ASSERT_EQ(back.cpu_nodes[0]->builtin_options.type, TalvexSetup::BuiltinOptions::SoftmaxOptions);
  EXPECT_EQ(back.cpu_nodes[0]->builtin_options.AsSoftmaxOptions()->axis, -1);
  EXPECT_EQ(back.const_input[0]->const_data, (Bytes{1, 2, 3}));
  EXPECT_EQ(PackTree<TalvexSetup::INFContent>(back), buf);

  // Tiny or damaged buffers are never a flatbuffer setup.
  for (size_t n = 0; n <= 4; ++n) EXPECT_FALSE(Setup::IsFBSetup(buf.data(), n));
  EXPECT_FALSE(Setup::IsFBSetup(nullptr, buf.size()));
}

TEST(SetupSchemaTest, FlatcReadsAPackedSetup) {
  const Json::Value j = FlatcJson("setup.fbs", PackTree<TalvexSetup::INFContent>(SampleSetupTree()));
  EXPECT_FALSE(j.isMember("magic"));
  EXPECT_EQ(j["header"]["target"].asString(), "TZ300");
  EXPECT_EQ(j["header"]["segment_info"][0]["segment"].asString(), "WEIGHT");
  EXPECT_EQ(j["header"]["addressing_mode"].asString(), "Relative");
  EXPECT_EQ(j["cpu_nodes"][0]["opcode_index"].asString(), "Softmax");
  EXPECT_EQ(j["cpu_nodes"][0]["builtin_options_type"].asString(), "SoftmaxOptions");
  EXPECT_EQ(j["cpu_nodes"][0]["builtin_options"]["axis"].asInt(), -1);
  EXPECT_EQ(j["inputs"][0]["buffer"]["segment"].asString(), "INPUT");
  EXPECT_FALSE(j["inputs"][0]["buffer"].isMember("entry"));
}

}  // namespace
