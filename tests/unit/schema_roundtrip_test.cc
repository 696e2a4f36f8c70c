// The schemas keep the field numbering and defaults the device relies on.
#include <gtest/gtest.h>

#include "bnx_generated.h"
#include "setup_generated.h"
#include "txm_generated.h"

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
