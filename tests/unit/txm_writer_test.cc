// TxmWriter: packing, round trip, alignment of payloads and the output-path rule.
#include <gtest/gtest.h>

#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

namespace T = TalvexTXM;
using testsupport::BuildSampleTxmObject;
using testsupport::PackTxm;
using testsupport::TempDir;

namespace {

std::vector<uint8_t> Finished(const T::TXMContentT& content) {
  TxmWriter w;
  w.Finish(content);
  return std::vector<uint8_t>(w.GetBufferPointer(), w.GetBufferPointer() + w.GetSize());
}

template <typename Tbl>
bool HasField(const Tbl* table, flatbuffers::voffset_t field) {
  return reinterpret_cast<const flatbuffers::Table*>(table)->CheckField(field);
}

TEST(TxmWriterTest, DumpIntoBufferRoundTrips) {
  const T::TXMContentT original = BuildSampleTxmObject();
  std::vector<uint8_t> buf(1 << 16, 0xEE);
  size_t len = 0;
  TxmWriter writer;
  ASSERT_EQ(writer.Dump(original, buf.data(), buf.size(), len), 0);
  // The same bytes as the generated packer finishing without identifier.
  const std::vector<uint8_t> expected = PackTxm(original);
  ASSERT_EQ(len, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buf.begin()));
  EXPECT_EQ(buf[len], 0xEE);  // nothing past len

  T::TXMContentT parsed;
  ASSERT_EQ(TxmReader::Parse(parsed, buf.data(), len), 0);
  EXPECT_EQ(PackTxm(parsed), expected);
  EXPECT_EQ(parsed.models[1]->header->id, 2);
  EXPECT_EQ(parsed.models[1]->header->encrypt_info->mode, T::EncryptedMode::NoEnc);
  EXPECT_EQ(parsed.models[0]->cores[1]->eu_params.AsCPUEUParams()->operators[1]->builtin_options.type,
            T::BuiltinOptions::ConvOptions);
}

TEST(TxmWriterTest, DumpIntoSmallBufferCopiesNothing) {
  const T::TXMContentT content = BuildSampleTxmObject();
  const size_t need = PackTxm(content).size();
  std::vector<uint8_t> buf(10, 0xEE);
  size_t len = 0;
  TxmWriter writer;
  testing::internal::CaptureStderr();
  EXPECT_EQ(writer.Dump(content, buf.data(), buf.size(), len), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "The buffer size[10] is not enough for data len[" + std::to_string(need) + "]\n");
  EXPECT_EQ(len, need);
  EXPECT_EQ(buf, std::vector<uint8_t>(10, 0xEE));
}

TEST(TxmWriterTest, WtRefModelIdStoredOnlyWhenNotDefault) {
  T::TXMContentT content = BuildSampleTxmObject();
  content.models[1]->header->wt_ref_model_id = 0;
  std::vector<uint8_t> bytes = Finished(content);
  const auto* txm = flatbuffers::GetRoot<T::TXMContent>(bytes.data());
  EXPECT_FALSE(HasField(txm->models()->Get(0)->header(), T::ModelHeader::VT_WT_REF_MODEL_ID));
  EXPECT_EQ(txm->models()->Get(0)->header()->wt_ref_model_id(), -1);
  EXPECT_TRUE(HasField(txm->models()->Get(1)->header(), T::ModelHeader::VT_WT_REF_MODEL_ID));
  EXPECT_EQ(txm->models()->Get(1)->header()->wt_ref_model_id(), 0);
}

TEST(TxmWriterTest, OneByteCmdStartsOn64AndBufferIsMultipleOf64) {
  testsupport::SampleTxmOptions o;
  o.models = {o.SampleModel(1)};
  o.models[0].cmd_bytes = 1;
  o.models[0].weight_bytes = 3;
  o.models[0].const_input_bytes = 5;
  std::vector<uint8_t> bytes = Finished(BuildSampleTxmObject(o));
  EXPECT_EQ(bytes.size() % 64, 0u);
  for (auto kind : {testsupport::TxmPayload::kCmd, testsupport::TxmPayload::kWeight,
                    testsupport::TxmPayload::kConstInput}) {
    testsupport::PayloadRef ref;
    ASSERT_TRUE(testsupport::FindPayload(bytes, 0, kind, 0, &ref));
    EXPECT_EQ(ref.data_pos() % 64, 0u);
  }
  testsupport::PayloadRef ref;
  ASSERT_TRUE(testsupport::FindPayload(bytes, 0, testsupport::TxmPayload::kCmd, 0, &ref));
  EXPECT_EQ(ref.length, 1u);
  EXPECT_EQ(TXM::CheckAlignment(bytes.data(), bytes.size()), 0);
}

TEST(TxmWriterTest, EmptyPayloadsAreNotStored) {
  // An emptied payload becomes an absent field, so no empty vector can sit off a 64 boundary.
  T::TXMContentT content = BuildSampleTxmObject();
  for (auto& model : content.models) {
    model->const_input.clear();
    for (auto& core : model->cores) {
      if (auto* npu = core->eu_params.AsNPUEUParams()) {
        npu->cmd.clear();
        npu->weight.clear();
      }
      for (auto& sub : core->exe_unit) {
        if (auto* npu = sub->eu_params.AsNPUEUParams()) npu->cmd.clear();
      }
    }
  }
  std::vector<uint8_t> bytes = Finished(content);
  const auto* txm = flatbuffers::GetRoot<T::TXMContent>(bytes.data());
  for (const T::Model* model : *txm->models()) {
    EXPECT_EQ(model->const_input(), nullptr);
    const T::NPUEUParams* npu = model->cores()->Get(0)->eu_params_as_NPUEUParams();
    ASSERT_NE(npu, nullptr);
    EXPECT_EQ(npu->cmd(), nullptr);
    EXPECT_EQ(npu->weight(), nullptr);
    const T::NPUEUParams* nested =
        model->cores()->Get(2)->exe_unit()->Get(0)->eu_params_as_NPUEUParams();
    EXPECT_EQ(nested->cmd(), nullptr);
    ASSERT_NE(nested->weight(), nullptr);
    EXPECT_EQ((nested->weight()->data() - bytes.data()) % 64, 0);
  }
  EXPECT_EQ(TXM::CheckAlignment(bytes.data(), bytes.size()), 0);

  // A present empty vector read from elsewhere is written back as absent.
  std::vector<uint8_t> present = PackTxm(BuildSampleTxmObject());
  ASSERT_TRUE(testsupport::SetPayloadLength(present, 0, testsupport::TxmPayload::kConstInput, -1, 0));
  T::TXMContentT parsed;
  ASSERT_EQ(TxmReader::Parse(parsed, present.data(), present.size()), 0);
  std::vector<uint8_t> again = Finished(parsed);
  EXPECT_EQ(flatbuffers::GetRoot<T::TXMContent>(again.data())->models()->Get(0)->const_input(),
            nullptr);
}

TEST(TxmWriterTest, OutputPathRule) {
  using NT = T::NPUTarget;
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "out/", "", 3, -1, ""), "out/models_400_model_3.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "out/", "", 3, 2, ""),
            "out/models_400_model_3_core_2.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "", "a.txm", 3, 2, ".x"), "a.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ1000, "x//y/", "", -1, -1, ""), "x/y/models_1000.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "", "", -1, 0, ".bak"), "models_400_core_0.txm.bak");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "out", "", 0, -1, ""), "out/models_400_model_0.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "/", "n.txm", -1, -1, ""), "/n.txm");
  EXPECT_EQ(TxmWriter::OutputPath(NT::TZ400, "a//b", "c//d.txm", -1, -1, ""), "a/b/c/d.txm");
  // No "TZ" to remove, and no name at all beyond the last enumerator.
  EXPECT_EQ(TxmWriter::OutputPath(NT::UNKNOW, "", "", -1, -1, ""), "models_UNKNOW.txm");
  EXPECT_EQ(TxmWriter::OutputPath(static_cast<NT>(9), "", "", 1, -1, ""), "models__model_1.txm");
}

TEST(TxmWriterTest, DumpToFolderWritesAndPrints) {
  TempDir dir;
  T::TXMContentT content = BuildSampleTxmObject();
  content.header->target = T::NPUTarget::TZ1000;
  TxmWriter writer;
  testing::internal::CaptureStdout();
  std::string path = writer.Dump(content, dir.path() + "//sub/..", "", 7, -1, "", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // folder does not exist: nothing written
  EXPECT_EQ(path, "");

  testing::internal::CaptureStdout();
  path = writer.Dump(content, dir.path() + "/", "", 7, -1, "", true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), dir.path() + "/models_1000_model_7.txm\n");
  EXPECT_EQ(path, dir.path() + "/models_1000_model_7.txm");
  EXPECT_EQ(testsupport::ReadBytes(path), PackTxm(content));

  // Replaces an existing file; no display when not asked.
  content.models.pop_back();
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.Dump(content, dir.path(), "", 7, -1, "", false), path);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testsupport::ReadBytes(path), PackTxm(content));
}

TEST(TxmWriterTest, GenBinNeedsAFinishedBuffer) {
  TempDir dir;
  TxmWriter writer;
  EXPECT_FALSE(writer.IsFinished());
  EXPECT_EQ(writer.GetBufferPointer(), nullptr);
  EXPECT_EQ(writer.GenBin(dir / "x.txm", true), -1);
  EXPECT_FALSE(testsupport::Exists(dir / "x.txm"));
}

TEST(TxmWriterTest, TakesOverCallersBuilder) {
  TempDir dir;
  const T::TXMContentT content = BuildSampleTxmObject();
  flatbuffers::FlatBufferBuilder fbb;
  fbb.Finish(T::TXMContent::Pack(fbb, &content));
  const std::vector<uint8_t> expected(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());

  TxmWriter writer(std::move(fbb));
  EXPECT_EQ(fbb.GetSize(), 0u);  // left empty
  EXPECT_TRUE(writer.IsFinished());
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.GenBin(dir / "taken.txm", true), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), dir / "taken.txm\n");
  EXPECT_EQ(testsupport::ReadBytes(dir / "taken.txm"), expected);
  // GenBin is repeatable.
  EXPECT_EQ(writer.GenBin(dir / "again.txm", false), 0);
  EXPECT_EQ(testsupport::ReadBytes(dir / "again.txm"), expected);
}

}  // namespace
