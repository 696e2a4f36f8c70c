// The tensor records of the TXM model report: (batch, ch, row, col) read from a shape of any rank
// and its channel dimension, which the builders of the cases cannot vary.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "cli/txm_report.h"
#include "support/txm_builder.h"

namespace {

namespace T = TalvexTXM;

BNXUtils::TXM_TENSOR ReadTensor(const T::TensorT& t) {
  flatbuffers::FlatBufferBuilder fbb;
  fbb.Finish(T::Tensor::Pack(fbb, &t));
  return BNXUtils::ReadTXMTensorInfo(flatbuffers::GetRoot<T::Tensor>(fbb.GetBufferPointer()));
}

TEST(TxmReportRecords, TensorShapeFollowsTheChannelDimension) {
  // Shape, ch_dim, and the (batch, ch, row, col) read from them; never past the shape.
  const std::vector<std::tuple<std::vector<int32_t>, uint8_t, std::vector<uint32_t>>> shapes = {
      {{2, 5, 7, 11}, 3, {2, 11, 7, 5}}, {{2, 5, 7, 11}, 0, {5, 2, 7, 11}}, {{2, 5, 7, 11}, 4, {2, 5, 7, 11}},
      {{2, 5, 7, 11, 13}, 4, {2, 13, 7, 11}}, {{4, 6}, 0, {6, 4, 0, 0}}, {{}, 3, {0, 0, 0, 0}}};
  for (const auto& [shape, ch_dim, dims] : shapes) {
    T::TensorT t = testsupport::SampleTensor("x", T::Location::CPU_TEMP_BUFFER, shape, 0x123456789ULL);
    t.ch_dim = ch_dim;
    const BNXUtils::TXM_TENSOR r = ReadTensor(t);
    EXPECT_EQ((std::vector<uint32_t>{r.shape_batch, r.shape_ch, r.shape_row, r.shape_col}), dims);
    EXPECT_EQ(r.buffer_entry, 0x23456789u);  // truncated to 32 bits
  }
}

}  // namespace
