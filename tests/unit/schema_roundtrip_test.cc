// The schemas keep the field numbering, defaults and alignment rules the device relies on.
#include <gtest/gtest.h>

#include <vector>

#include "bnx_generated.h"
#include "setup_generated.h"
#include "support/txm_builder.h"
#include "txm/txm_verify.h"
#include "txm_generated.h"

using Bytes = std::vector<uint8_t>;

TEST(SchemaTest, FieldNumbersAndDefaults) {
  EXPECT_EQ(TalvexBNX::BNXContent::VT_MODEL_BIN, 10);
  EXPECT_EQ(TalvexBNX::BNXHeader::VT_SOLUTION_TAG, 24);
  EXPECT_EQ(static_cast<int>(TalvexBNX::NPUTarget::TZ600), 5);
  EXPECT_EQ(static_cast<int>(TalvexSetup::NPUTarget::TZ600), 6);
  EXPECT_EQ(static_cast<uint32_t>(TalvexTXM::BuiltinOperator::Relu), 71640359u);
  EXPECT_EQ(static_cast<int>(TalvexTXM::BuiltinOptions::GatherNDOptions), 81);
  EXPECT_EQ(TalvexTXM::BuiltinOperatorTypeTable()->num_elems, 209u);
  EXPECT_EQ(TalvexSetup::BuiltinOperatorTypeTable()->num_elems, 171u);
  EXPECT_EQ(TalvexTXM::ModelHeader::VT_WT_REF_MODEL_ID, 4 + 2 * 10);
  EXPECT_EQ(TalvexTXM::ModelHeaderT().wt_ref_model_id, -1);
  EXPECT_EQ(TalvexSetup::INFContentT().magic, 0x012EBD34u);
  EXPECT_EQ(TalvexSetup::SchemaVersionT().revision_num, 42u);
  EXPECT_EQ(TalvexSetup::BufferT().entry, 0xFFFFFFFFu);
}

TEST(SchemaTest, TxmRoundTripKeepsThe64ByteAlignmentAndAbsentWeightReference) {
  testsupport::SampleTxmOptions o;
  o.models[0].cmd_bytes = 1;  // one byte still starts on a 64-byte boundary
  o.models[1].wt_ref_model_id = 0;
  const Bytes buf = testsupport::BuildSampleTxm(o);
  ASSERT_TRUE(TXM::VerifyTXMBuffer(buf.data(), buf.size()));
  auto* root = flatbuffers::GetRoot<TalvexTXM::TXMContent>(buf.data());
  const auto* m1 = root->models()->Get(0);
  const auto* npu = m1->cores()->Get(0)->eu_params_as_NPUEUParams();
  for (const uint8_t* p : {npu->cmd()->data(), npu->weight()->data(), m1->const_input()->data()}) {
    EXPECT_EQ((p - buf.data()) % 64, 0);
  }
  EXPECT_FALSE(reinterpret_cast<const flatbuffers::Table*>(m1->header())
                   ->CheckField(TalvexTXM::ModelHeader::VT_WT_REF_MODEL_ID));
  EXPECT_EQ(root->models()->Get(1)->header()->wt_ref_model_id(), 0);
  TalvexTXM::TXMContentT back;
  root->UnPackTo(&back);
  EXPECT_EQ(testsupport::PackTxm(back), buf);
}
