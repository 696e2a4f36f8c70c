// In-memory pieces of post-encryption that the end-to-end tests cannot see directly.
#include "bnx/post_enc.h"

#include <gtest/gtest.h>

#include "support/txm_builder.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Repack(const TalvexTXM::TXMContentT& txm) {
  TxmWriter w;
  w.Finish(txm);
  return Bytes(w.GetBufferPointer(), w.GetBufferPointer() + w.GetSize());
}

// The fast unpacking must give exactly the tree of the reader: same bytes when packed again.
TEST(PostEncUnit, UnpackTxmMatchesTheReader) {
  testsupport::SampleTxmOptions big;
  big.models[0].cmd_bytes = 4096, big.models[0].weight_bytes = 8192, big.models[1].const_input_bytes = 0;
  for (const auto& options : {testsupport::SampleTxmOptions(), big}) {
    const Bytes txm = testsupport::BuildSampleTxm(options);
    TalvexTXM::TXMContentT plain, fast;
    ASSERT_TRUE(TxmReader::Parse(plain, txm.data(), txm.size()).ok());
    ASSERT_TRUE(BNXUtils::UnpackTxm(fast, txm.data(), txm.size()).ok());
    EXPECT_EQ(Repack(fast), Repack(plain));
    EXPECT_EQ(fast.models[0]->cores[0]->eu_params.AsNPUEUParams()->weight,
              plain.models[0]->cores[0]->eu_params.AsNPUEUParams()->weight);
  }
}

// Which key wins is checked end to end (post_enc_test KeyOptionsDecideTheMode); a given name keeps its extension.
TEST(PostEncUnit, OutputNames) {
  EXPECT_EQ(BNXUtils::EncOutputName("400", ""), "models_400.enc");
  EXPECT_EQ(BNXUtils::EncOutputName("100", "x.bnx"), "x.bnx.enc");
}

}  // namespace
