// Flatbuffer setup.bin on hostile buffers: shared data and options types without their value
// (truncations and random changes: the hostile cases and the fuzz targets).
#include <gtest/gtest.h>

#include "common/logger.h"

#include <string>
#include <utility>
#include <vector>

#include "common/json_utils.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_func.h"
#include "support/setup_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;


// Data shared many times (small on disk, huge unpacked) is refused; the tree is replaced whole.
TEST(FbSetupReader, SharedDataCannotBlowUpMemory) {
  TalvexSetup::INFContentT content;
  content.header = std::make_unique<TalvexSetup::HeaderT>();
  for (const size_t refs : {200, 10}) {  // ~1 MiB on disk: 200 MiB or 10 MiB unpacked
    flatbuffers::FlatBufferBuilder fbb;
    auto t = TalvexSetup::CreateTensor(fbb, 0, 0, 0, 0, 0, 0, fbb.CreateVector(Bytes(1 << 20, 7)));
    auto tensors = fbb.CreateVector(std::vector(refs, t));
    fbb.Finish(TalvexSetup::CreateINFContent(fbb, 1, 0, 0, 0, 0, tensors));
    const Bytes bin(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    testing::internal::CaptureStderr();
    EXPECT_EQ(talvex::Report(SetupFBReader::Parse(content, bin.data(), bin.size())), refs == 200 ? -1 : 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Not a valid setup flatbuffer file.\n") != err.npos, refs == 200);
  }
  EXPECT_EQ(content.const_input.size(), 10u);
  EXPECT_FALSE(content.header);
}

// An operator naming an options type without storing the options table verifies; the reader
// shows it as an operator without options, at the top and inside fusion and slice options, so
// the JSON view's repack never reads through the missing value (it used to crash).
TEST(FbSetupReader, OptionsTypeWithoutValueReadsAsNoOptions) {
  namespace S = TalvexSetup;
  using OpOffset = flatbuffers::Offset<S::Operator>;
  struct Case {
    const char* what;
    S::BuiltinOptions outer;  // the top operator's tag; its value holds the bare inner operator
  };
  for (const Case& c : {Case{"top", S::BuiltinOptions::ClipOptions},
                        Case{"fusion", S::BuiltinOptions::FusionOptions},
                        Case{"slice", S::BuiltinOptions::SliceHeaderOptions}}) {
    flatbuffers::FlatBufferBuilder fbb;
    auto bare = S::CreateOperator(fbb, fbb.CreateString("bare"), 0, S::BuiltinOperator::Conv,
                                  S::BuiltinOptions::ConvOptions);
    auto nodes = fbb.CreateVector(std::vector<OpOffset>{bare});
    flatbuffers::Offset<void> value = 0;
    if (c.outer == S::BuiltinOptions::FusionOptions) value = S::CreateFusionOptions(fbb, nodes).Union();
    if (c.outer == S::BuiltinOptions::SliceHeaderOptions) {
      S::SliceHeaderOptionsBuilder b(fbb);
      b.add_group_nodes(nodes);
      value = b.Finish().Union();
    }
    auto top = S::CreateOperator(fbb, fbb.CreateString("top"), 0, S::BuiltinOperator::Clip, c.outer, value);
    fbb.Finish(S::CreateINFContent(fbb, 1, 0, 0, 0, fbb.CreateVector(std::vector<OpOffset>{top})));
    const Bytes bin(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());

    S::INFContentT content;
    ASSERT_EQ(talvex::Report(SetupFBReader::Parse(content, bin.data(), bin.size())), 0) << c.what;
    const auto& opts = content.cpu_nodes.at(0)->builtin_options;
    Json::Value view;
    ASSERT_EQ(talvex::Report(Setup::FBToJson(bin.data(), bin.size(), view)), 0) << c.what;
    const Json::Value& op = view["cpu_nodes"][0];
    if (c.outer == S::BuiltinOptions::ClipOptions) {
      EXPECT_EQ(opts.type, S::BuiltinOptions::NONE);
      EXPECT_FALSE(op.isMember("builtin_options_type")) << op;
      EXPECT_FALSE(op.isMember("builtin_options")) << op;
      continue;
    }
    const auto& inner = c.outer == S::BuiltinOptions::FusionOptions
                            ? opts.AsFusionOptions()->node_list.at(0)
                            : opts.AsSliceHeaderOptions()->group_nodes.at(0);
    EXPECT_EQ(inner->builtin_options.type, S::BuiltinOptions::NONE) << c.what;
    const Json::Value& nested =
        op["builtin_options"][c.outer == S::BuiltinOptions::FusionOptions ? "node_list" : "group_nodes"][0];
    EXPECT_EQ(nested["name"], "bare") << view;
    EXPECT_FALSE(nested.isMember("builtin_options_type")) << view;
  }
}

}  // namespace
