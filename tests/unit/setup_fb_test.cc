// Flatbuffer setup.bin: unpacking, JSON view, in-place eFuse marking, hostile buffers.
#include <gtest/gtest.h>

#include "common/logger.h"

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "common/json_utils.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_func.h"
#include "support/capture.h"
#include "support/setup_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::Call;
using testsupport::Outcome;


// Defaults are dropped even when stored; any name bytes give valid JSON (invalid UTF-8 read as
// Latin-1), non-finite floats null. Only a stored mode can flip to EFuse (the size is fixed).
TEST(FbSetupJson, WholeViewWithoutDefaultsAndEFuse) {
  testsupport::SampleFbSetup s;
  s.force_defaults = true, s.with_encrypt_info = true, s.encrypt_mode = 3, s.key = {1, 2, 255};
  s.cpu_nodes.resize(1);
  s.inputs[0].name = std::string("q\"b\\x41\n\t\x01\x7f\0\xc3\xa9\xf0\x9f\x98\x80", 18);
  s.outputs[0].name = "\xff x\xe6\xbc \xc0\xaf \xed\xa0\x80";  // stray, cut, overlong, surrogate
  s.outputs[0].entry = 0xFFFFFFFF, s.outputs[0].const_data = {0, 200};  // entry: the default
  s.outputs[0].fxp_info = {{std::numeric_limits<float>::infinity(), 1},
                           {std::numeric_limits<float>::quiet_NaN(), 2}, {-0.75f, 3}};
  Bytes bin = testsupport::BuildFbSetup(s);
  Json::Value expected = Str2Json(R"({
    "header": {"platform": "tz400", "target": "TZ400", "schema_version": {},
      "segment_info": [{"segment": "WORKING", "start": 1610612736, "len": 1048576},
                       {"segment": "CMD", "start": 1612709888, "len": 4096}],
      "encrypt_info": {"mode": "CustKey", "key": [1, 2, 255]}},
    "inputs": [{"name": "q\"b\\x41\n\t\u0001\u007f\u0000\u00e9\ud83d\ude00",
      "shape": [1, 3, 224, 224], "quantization": {"fxp_info": [{"scale": 0.5, "radix": 7}]},
      "buffer": {"entry": 0, "len": 150528, "segment": "INPUT"}}],
    "outputs": [{"name": "\u00ff x\u00e6\u00bc \u00c0\u00af \u00ed\u00a0\u0080",
      "shape": [1, 16, 7, 7], "quantization": {"fxp_info": [{"scale": null, "radix": 1},
        {"scale": null, "radix": 2}, {"scale": -0.75, "radix": 3}]},
      "buffer": {"len": 784, "segment": "OUTPUT"}, "const_data": [0, 200]}],
    "cpu_nodes": [{"name": "op", "opcode_index": "Clip", "builtin_options_type": "ClipOptions",
                   "builtin_options": {"max": 6.0}}]})");
  Json::Value view;
  ASSERT_EQ(talvex::Report(Setup::FBToJson(bin.data(), bin.size(), view)), 0);
  EXPECT_EQ(view, expected);
  ASSERT_EQ(talvex::Report(Setup::UpdateEncryptEFuse(bin.data(), bin.size())), 0);
  expected["header"]["encrypt_info"]["mode"] = "EFuse";
  ASSERT_EQ(talvex::Report(Setup::FBToJson(bin.data(), bin.size(), view)), 0);
  EXPECT_EQ(view, expected);
  s.encrypt_mode = 0, s.force_defaults = false;  // DEFAULT, so not stored: nothing to set
  const Bytes before = bin = testsupport::BuildFbSetup(s);
  EXPECT_EQ(talvex::Report(Setup::UpdateEncryptEFuse(bin.data(), bin.size())), 0);
  EXPECT_EQ(bin, before);
}

// Refusals leave the caller's text or value alone. Layout; a magic other than the default; an
// operator code without a name and an unknown union type (verified) shown as numbers.
TEST(FbSetupJson, TextLayoutAndRefusals) {
  const Bytes raw = testsupport::BuildRawSetup100(), junk(100, 0x42);
  std::string text = "keep";
  EXPECT_EQ(Call([&] { return Setup::FBToJsonString(raw.data(), raw.size(), text); }),
            Outcome(-1, "The setup.bin is raw type\n"));
  EXPECT_EQ(text, "keep");
  Json::Value json = "keep";
  EXPECT_EQ(Call([&] { return Setup::FBToJson(junk.data(), junk.size(), json); }),
            Outcome(-1, "Not a valid setup flatbuffer file.\nFailed to parse setup.bin\n"
                        "Failed to convert json string\n"));
  EXPECT_EQ(json, Json::Value("keep"));

  flatbuffers::FlatBufferBuilder fbb;
  auto clip = TalvexSetup::CreateClipOptions(fbb, 1.0f, 2.0f).Union();
  auto op = TalvexSetup::CreateOperator(fbb, 0, 0,
                                        static_cast<TalvexSetup::BuiltinOperator>(12345),
                                        static_cast<TalvexSetup::BuiltinOptions>(200), clip);
  auto ops = fbb.CreateVector(std::vector<flatbuffers::Offset<TalvexSetup::Operator>>{op});
  fbb.Finish(TalvexSetup::CreateINFContent(fbb, 5, 0, 0, 0, ops));
  ASSERT_EQ(talvex::Report(Setup::FBToJsonString(fbb.GetBufferPointer(), fbb.GetSize(), text)), 0);
  EXPECT_EQ(text, "{\n\t\"magic\": 5,\n\t\"cpu_nodes\": [\n\t\t{\n\t\t\t\"opcode_index\": 12345,\n"
                  "\t\t\t\"builtin_options_type\": 200\n\t\t}\n\t]\n}");
}

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
    const Outcome o = Call([&] { return SetupFBReader::Parse(content, bin.data(), bin.size()); });
    EXPECT_EQ(o.first, refs == 200 ? -1 : 0);
    EXPECT_EQ(o.second.find("Not a valid setup flatbuffer file.\n") != o.second.npos, refs == 200);
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

// Truncations and random byte changes never crash; what is accepted renders as a JSON object.
TEST(FbSetupJson, MutatedBuffers) {
  testsupport::SampleFbSetup s;
  s.with_encrypt_info = true, s.key = {1, 2, 3, 4}, s.cpu_nodes.resize(1);
  const Bytes good = testsupport::BuildFbSetup(s);
  uint32_t seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (size_t iter = 0; iter < good.size() + 3000; ++iter) {
    const bool cut = iter < good.size();
    Bytes bin(good.begin(), good.begin() + (cut ? iter : good.size()));
    for (uint32_t f = cut ? 0 : 1 + next() % 3; f > 0; --f) bin[next() % bin.size()] = next();
    Json::Value json;
    const Outcome o = Call([&] {
      (void)Setup::UpdateEncryptEFuse(bin.data(), bin.size());
      return Setup::FBToJson(bin.data(), bin.size(), json);
    });
    if (o.first == 0) EXPECT_TRUE(json.isObject()) << iter;
  }
}

}  // namespace
