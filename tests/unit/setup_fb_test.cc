// Flatbuffer setup.bin: verification and unpacking, JSON view, in-place eFuse marking,
// hostile buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/json_utils.h"
#include "setup/setup_fb_reader.h"
#include "setup/setup_func.h"
#include "setup_generated.h"
#include "support/run.h"
#include "support/setup_builder.h"

namespace {

using testsupport::BuildFbSetup;
using testsupport::SampleFbSetup;
using testsupport::SampleTensor;

std::string CaptureErr(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

Json::Value ViewOf(const std::vector<uint8_t>& bin) {
  Json::Value json;
  EXPECT_EQ(Setup::FBToJson(bin.data(), bin.size(), json), 0);
  return json;
}

TEST(FbSetupRecognise, VerifiedRootOnly) {
  auto bin = BuildFbSetup();
  EXPECT_TRUE(Setup::IsFBSetup(bin.data(), bin.size()));
  EXPECT_FALSE(Setup::IsFBSetup(bin.data(), 4));
  EXPECT_FALSE(Setup::IsFBSetup(nullptr, bin.size()));
  EXPECT_FALSE(Setup::IsFBSetup(bin.data(), 0));
  auto raw = testsupport::BuildRawSetup100();
  EXPECT_FALSE(Setup::IsFBSetup(raw.data(), raw.size()));
}

TEST(FbSetupReader, ParsesWholeTree) {
  SampleFbSetup s;
  s.with_encrypt_info = true;
  s.encrypt_mode = 3;
  s.key = {9, 8, 7};
  auto bin = BuildFbSetup(s);
  TalvexSetup::INFContentT content;
  ASSERT_EQ(SetupFBReader::Parse(content, bin.data(), bin.size()), 0);
  EXPECT_EQ(content.magic, 0x012EBD34u);
  ASSERT_TRUE(content.header);
  EXPECT_EQ(content.header->platform, "tz400");
  EXPECT_EQ(content.header->target, TalvexSetup::NPUTarget::TZ400);
  ASSERT_EQ(content.header->segment_info.size(), 2u);
  EXPECT_EQ(content.header->segment_info[1]->segment, TalvexSetup::Segment::CMD);
  ASSERT_TRUE(content.header->encrypt_info);
  EXPECT_EQ(content.header->encrypt_info->mode, TalvexSetup::EncryptedMode::CustKey);
  EXPECT_EQ(content.header->encrypt_info->key, (std::vector<uint8_t>{9, 8, 7}));
  ASSERT_EQ(content.inputs.size(), 1u);
  EXPECT_EQ(content.inputs[0]->name, "input");
  EXPECT_EQ(content.inputs[0]->shape, (std::vector<int32_t>{1, 3, 224, 224}));
  ASSERT_EQ(content.outputs.size(), 1u);
  EXPECT_EQ(content.outputs[0]->buffer->entry, 1u);
  EXPECT_FLOAT_EQ(content.outputs[0]->quantization->fxp_info[0]->scale, 0.25f);
}

TEST(FbSetupReader, FailureLeavesContentAndSuccessReplacesIt) {
  TalvexSetup::INFContentT content;
  content.magic = 7;
  for (int i = 0; i < 3; ++i) content.inputs.push_back(std::make_unique<TalvexSetup::TensorT>());
  std::vector<uint8_t> junk(64, 0x33);
  int rc = 0;
  std::string err = CaptureErr([&] { rc = SetupFBReader::Parse(content, junk.data(), junk.size()); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Not a valid setup flatbuffer file.\n");
  EXPECT_EQ(content.magic, 7u);
  EXPECT_EQ(content.inputs.size(), 3u);

  SampleFbSetup s;
  s.with_header = false;
  s.outputs.clear();
  auto bin = BuildFbSetup(s);
  content.header = std::make_unique<TalvexSetup::HeaderT>();
  ASSERT_EQ(SetupFBReader::Parse(content, bin.data(), bin.size()), 0);
  EXPECT_EQ(content.magic, 0x012EBD34u);
  EXPECT_EQ(content.inputs.size(), 1u);  // nothing stale left behind
  EXPECT_FALSE(content.header);
}

TEST(FbSetupReader, FromPath) {
  testsupport::TempDir dir;
  auto bin = BuildFbSetup();
  const std::string path = dir / "setup.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bin.data()), static_cast<std::streamsize>(bin.size()));
  }
  TalvexSetup::INFContentT content;
  ASSERT_EQ(SetupFBReader::Parse(content, path), 0);
  EXPECT_EQ(content.outputs.size(), 1u);

  const std::string missing = dir / "missing.bin";
  int rc = 0;
  std::string err = CaptureErr([&] { rc = SetupFBReader::Parse(content, missing); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Failed to read the file[" + missing + "]\n");

  const std::string empty = dir / "empty.bin";
  std::ofstream(empty).close();
  err = CaptureErr([&] { rc = SetupFBReader::Parse(content, empty); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Failed to read the file[" + empty + "]\n");
}

TEST(FbSetupJson, ExactTextLayout) {
  SampleFbSetup s;
  s.with_header = false;
  s.outputs.clear();
  SampleTensor t;
  t.name = "a";
  t.shape = {1, 2};
  t.with_quantization = false;
  t.with_buffer = false;
  s.inputs = {t};
  auto bin = BuildFbSetup(s);
  std::string text;
  ASSERT_EQ(Setup::FBToJsonString(bin.data(), bin.size(), text), 0);
  EXPECT_EQ(text,
            "{\n"
            "\t\"inputs\": [\n"
            "\t\t{\n"
            "\t\t\t\"name\": \"a\",\n"
            "\t\t\t\"shape\": [\n"
            "\t\t\t\t1,\n"
            "\t\t\t\t2\n"
            "\t\t\t]\n"
            "\t\t}\n"
            "\t]\n"
            "}");

  s.inputs.clear();
  s.magic = 5;
  bin = BuildFbSetup(s);
  ASSERT_EQ(Setup::FBToJsonString(bin.data(), bin.size(), text), 0);
  EXPECT_EQ(text, "{\n\t\"magic\": 5\n}");
}

TEST(FbSetupJson, DefaultsAbsentAndEnumNames) {
  SampleFbSetup s;
  s.with_encrypt_info = true;
  s.encrypt_mode = 3;
  s.key = {1, 2, 255};
  testsupport::SampleOperator clip;
  testsupport::SampleOperator odd;
  odd.name = "odd";
  odd.layer_index = 4;
  odd.opcode = 12345;  // not a named operator
  odd.with_clip_options = false;
  s.cpu_nodes = {clip, odd};
  SampleTensor constant;
  constant.name = "k";
  constant.entry = 0xFFFFFFFF;  // the default: no entry
  constant.const_data = {0, 200};
  s.const_input = {constant};
  // Stored with every default written: the view must still drop them.
  s.force_defaults = true;
  Json::Value json = ViewOf(BuildFbSetup(s));

  EXPECT_FALSE(json.isMember("magic"));
  const Json::Value& h = json["header"];
  EXPECT_EQ(h["platform"], "tz400");
  EXPECT_EQ(h["target"], "TZ400");
  ASSERT_TRUE(h["schema_version"].isObject());
  EXPECT_TRUE(h["schema_version"].empty());  // 1.2.42 is the default
  EXPECT_FALSE(h.isMember("addressing_mode"));
  EXPECT_FALSE(h.isMember("run_val"));
  EXPECT_FALSE(h.isMember("file_schema_version"));
  ASSERT_EQ(h["segment_info"].size(), 2u);
  EXPECT_EQ(h["segment_info"][0]["segment"], "WORKING");
  EXPECT_EQ(h["segment_info"][0]["start"].asUInt(), 0x60000000u);
  EXPECT_EQ(h["segment_info"][1]["segment"], "CMD");
  EXPECT_EQ(h["encrypt_info"]["mode"], "CustKey");
  EXPECT_EQ(h["encrypt_info"]["key"], Str2Json("[1, 2, 255]"));

  const Json::Value& in = json["inputs"][0];
  EXPECT_EQ(in["name"], "input");
  EXPECT_FALSE(in.isMember("format"));
  EXPECT_EQ(in["shape"], Str2Json("[1, 3, 224, 224]"));
  EXPECT_DOUBLE_EQ(in["quantization"]["fxp_info"][0]["scale"].asDouble(), 0.5);
  EXPECT_EQ(in["quantization"]["fxp_info"][0]["radix"].asInt(), 7);
  EXPECT_EQ(in["buffer"]["entry"].asUInt(), 0u);  // 0 differs from the default
  EXPECT_EQ(in["buffer"]["len"].asInt(), 150528);
  EXPECT_EQ(in["buffer"]["segment"], "INPUT");
  EXPECT_EQ(json["outputs"][0]["buffer"]["segment"], "OUTPUT");

  const Json::Value& k = json["const_input"][0];
  EXPECT_FALSE(k["buffer"].isMember("entry"));
  EXPECT_EQ(k["const_data"], Str2Json("[0, 200]"));

  const Json::Value& op0 = json["cpu_nodes"][0];
  EXPECT_EQ(op0["name"], "op");
  EXPECT_FALSE(op0.isMember("layer_index"));
  EXPECT_FALSE(op0.isMember("direct_fp"));
  EXPECT_EQ(op0["opcode_index"], "Clip");
  EXPECT_EQ(op0["builtin_options_type"], "ClipOptions");
  EXPECT_FALSE(op0["builtin_options"].isMember("min"));
  EXPECT_DOUBLE_EQ(op0["builtin_options"]["max"].asDouble(), 6.0);
  const Json::Value& op1 = json["cpu_nodes"][1];
  EXPECT_EQ(op1["opcode_index"].asInt(), 12345);
  EXPECT_EQ(op1["layer_index"].asInt(), 4);
  EXPECT_FALSE(op1.isMember("builtin_options_type"));
}

TEST(FbSetupJson, MagicAndNonDefaultVersion) {
  SampleFbSetup s;
  s.magic = 0x12345678;
  s.major = 2;
  s.minor = 0;
  s.revision = 1;
  Json::Value json = ViewOf(BuildFbSetup(s));
  EXPECT_EQ(json["magic"].asUInt(), 0x12345678u);
  EXPECT_EQ(json["header"]["schema_version"]["major_num"].asInt(), 2);
  EXPECT_EQ(json["header"]["schema_version"]["minor_num"].asInt(), 0);
  EXPECT_EQ(json["header"]["schema_version"]["revision_num"].asInt(), 1);
}

TEST(FbSetupJson, StringsAlwaysGiveValidJson) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"q\"uote", "q\"uote"},
      {"back\\slash\\x41", "back\\slash\\x41"},
      {"nl\nline\ttab\r\b\f", "nl\nline\ttab\r\b\f"},
      {"\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80", "\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80"},  // é漢😀
      {"ctl\x01\x7f", "ctl\x01\x7f"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      // Bytes outside valid UTF-8 come back as their Latin-1 characters.
      {"\xff\xfe bad", "\xc3\xbf\xc3\xbe bad"},
      {"x\xe6\xbc", "x\xc3\xa6\xc2\xbc"},          // cut-short sequence
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},            // overlong form
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},  // encoded surrogate
  };
  SampleFbSetup s;
  s.inputs.clear();
  for (const auto& c : cases) {
    SampleTensor t;
    t.name = c.first;
    s.inputs.push_back(t);
  }
  s.platform = "plat\"form\\";
  auto bin = BuildFbSetup(s);
  std::string text;
  ASSERT_EQ(Setup::FBToJsonString(bin.data(), bin.size(), text), 0);
  EXPECT_EQ(text.find("\\xff"), std::string::npos) << "no \\x escapes outside JSON";
  EXPECT_NE(text.find("\\u00ff\\u00fe bad"), std::string::npos);
  Json::Value json = ViewOf(bin);
  ASSERT_EQ(json["inputs"].size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(json["inputs"][static_cast<Json::ArrayIndex>(i)]["name"].asString(), cases[i].second) << i;
  }
  EXPECT_EQ(json["header"]["platform"], "plat\"form\\");
}

TEST(FbSetupJson, NonFiniteFloatsBecomeNull) {
  SampleFbSetup s;
  SampleTensor& t = s.inputs[0];
  t.fxp_info = {{std::numeric_limits<float>::infinity(), 1},
                {-std::numeric_limits<float>::infinity(), 2},
                {std::numeric_limits<float>::quiet_NaN(), 3},
                {std::numeric_limits<float>::max(), 4},
                {0.0015f, 5},
                {-0.75f, 6}};
  Json::Value json = ViewOf(BuildFbSetup(s));
  const Json::Value& fxp = json["inputs"][0]["quantization"]["fxp_info"];
  ASSERT_EQ(fxp.size(), 6u);
  EXPECT_TRUE(fxp[0]["scale"].isNull());
  EXPECT_TRUE(fxp[1]["scale"].isNull());
  EXPECT_TRUE(fxp[2]["scale"].isNull());
  EXPECT_EQ(fxp[2]["radix"].asInt(), 3);
  EXPECT_NEAR(fxp[3]["scale"].asDouble() / std::numeric_limits<float>::max(), 1.0, 1e-6);
  EXPECT_NEAR(fxp[4]["scale"].asDouble(), 0.0015, 1e-9);
  EXPECT_DOUBLE_EQ(fxp[5]["scale"].asDouble(), -0.75);
}

TEST(FbSetupJson, RefusedBuffersLeaveOutputAlone) {
  auto raw = testsupport::BuildRawSetup100();
  std::string text = "keep";
  int rc = 0;
  std::string err = CaptureErr([&] { rc = Setup::FBToJsonString(raw.data(), raw.size(), text); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "The setup.bin is raw type\n");
  EXPECT_EQ(text, "keep");

  std::vector<uint8_t> junk(100, 0x42);
  Json::Value json = "keep";
  err = CaptureErr([&] { rc = Setup::FBToJson(junk.data(), junk.size(), json); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err,
            "Not a valid setup flatbuffer file.\nFailed to parse setup.bin\n"
            "Failed to convert json string\n");
  EXPECT_EQ(json, Json::Value("keep"));

  err = CaptureErr([&] { rc = Setup::FBToJson(nullptr, 0, json); });
  EXPECT_EQ(rc, -1);
}

TEST(FbSetupJson, UnknownUnionMemberIsDropped) {
  flatbuffers::FlatBufferBuilder fbb;
  auto clip = TalvexSetup::CreateClipOptions(fbb, 1.0f, 2.0f);
  auto op = TalvexSetup::CreateOperator(fbb, fbb.CreateString("weird"), 0,
                                        TalvexSetup::BuiltinOperator::Clip,
                                        static_cast<TalvexSetup::BuiltinOptions>(200), clip.Union());
  std::vector<flatbuffers::Offset<TalvexSetup::Operator>> ops = {op};
  auto vec = fbb.CreateVector(ops);
  fbb.Finish(TalvexSetup::CreateINFContent(fbb, 0x012EBD34, 0, 0, 0, vec));
  std::vector<uint8_t> bin(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
  ASSERT_TRUE(Setup::IsFBSetup(bin.data(), bin.size()));
  Json::Value json = ViewOf(bin);
  EXPECT_EQ(json["cpu_nodes"][0]["builtin_options_type"].asInt(), 200);
  EXPECT_FALSE(json["cpu_nodes"][0].isMember("builtin_options"));
}

// One large vector referenced by many tensors: small on disk, huge once unpacked.
std::vector<uint8_t> SharedVectorBuffer(size_t vector_bytes, int refs) {
  flatbuffers::FlatBufferBuilder fbb;
  std::vector<uint8_t> big(vector_bytes, 7);
  auto data = fbb.CreateVector(big);
  std::vector<flatbuffers::Offset<TalvexSetup::Tensor>> tensors;
  for (int i = 0; i < refs; ++i) {
    tensors.push_back(TalvexSetup::CreateTensor(fbb, 0, 0, 0, 0, 0, 0, data));
  }
  auto vec = fbb.CreateVector(tensors);
  fbb.Finish(TalvexSetup::CreateINFContent(fbb, 0x012EBD34, 0, 0, 0, 0, vec));
  return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

TEST(FbSetupHostile, SharedDataCannotBlowUpMemory) {
  auto bomb = SharedVectorBuffer(1 << 20, 200);  // ~1 MiB file, 200 MiB unpacked
  ASSERT_TRUE(Setup::IsFBSetup(bomb.data(), bomb.size()));
  EXPECT_GT(SetupFBReader::UnpackedBytes(bomb.data(), UINT64_MAX), uint64_t{200} << 20);
  TalvexSetup::INFContentT content;
  int rc = 0;
  std::string err = CaptureErr([&] { rc = SetupFBReader::Parse(content, bomb.data(), bomb.size()); });
  EXPECT_EQ(rc, -1);
  EXPECT_NE(err.find("Not a valid setup flatbuffer file.\n"), std::string::npos);
  EXPECT_TRUE(content.const_input.empty());

  // Modest sharing, as a builder's shared strings produce, is still accepted.
  auto shared = SharedVectorBuffer(4096, 10);
  ASSERT_EQ(SetupFBReader::Parse(content, shared.data(), shared.size()), 0);
  EXPECT_EQ(content.const_input.size(), 10u);
  EXPECT_EQ(content.const_input[9]->const_data.size(), 4096u);
}

// Truncations and random byte changes never crash; what is accepted renders as JSON.
TEST(FbSetupHostile, MutatedBuffers) {
  SampleFbSetup s;
  s.with_encrypt_info = true;
  s.key = {1, 2, 3, 4};
  s.cpu_nodes = {testsupport::SampleOperator{}};
  const auto good = BuildFbSetup(s);
  for (size_t len = 0; len < good.size(); ++len) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + len);
    Json::Value json;
    int rc = 0;
    CaptureErr([&] { rc = Setup::FBToJson(cut.data(), cut.size(), json); });
    if (rc == 0) EXPECT_TRUE(json.isObject()) << len;
  }
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int accepted = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    std::vector<uint8_t> bin = good;
    const int flips = 1 + static_cast<int>(next() % 3);
    for (int f = 0; f < flips; ++f) bin[next() % bin.size()] = static_cast<uint8_t>(next());
    Json::Value json;
    int rc = 0;
    CaptureErr([&] {
      rc = Setup::FBToJson(bin.data(), bin.size(), json);
      Setup::UpdateEncryptEFuse(bin.data(), bin.size());
    });
    if (rc == 0) {
      ++accepted;
      EXPECT_TRUE(json.isObject()) << iter;
    }
  }
  EXPECT_GT(accepted, 0);
}

TEST(FbSetupEncrypt, EFuseOnlyWhereTheModeByteExists) {
  auto efuse_mode = [](const std::vector<uint8_t>& bin) {
    TalvexSetup::INFContentT c;
    EXPECT_EQ(SetupFBReader::Parse(c, bin.data(), bin.size()), 0);
    return c.header && c.header->encrypt_info ? static_cast<int>(c.header->encrypt_info->mode) : -1;
  };
  auto count_diff = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
  };

  for (int8_t mode : {1, 3}) {
    SampleFbSetup s;
    s.with_encrypt_info = true;
    s.encrypt_mode = mode;
    s.key = {5, 6};
    auto bin = BuildFbSetup(s);
    const auto before = bin;
    ASSERT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
    EXPECT_EQ(bin.size(), before.size());
    EXPECT_EQ(count_diff(bin, before), 1u);
    EXPECT_EQ(efuse_mode(bin), 2);
  }

  // DEFAULT not stored: nothing to overwrite.
  SampleFbSetup absent;
  absent.with_encrypt_info = true;
  absent.encrypt_mode = 0;
  auto bin = BuildFbSetup(absent);
  auto before = bin;
  EXPECT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
  EXPECT_EQ(bin, before);

  // DEFAULT stored explicitly: it is there, so it changes.
  absent.force_defaults = true;
  bin = BuildFbSetup(absent);
  EXPECT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
  EXPECT_EQ(efuse_mode(bin), 2);

  SampleFbSetup no_info;
  bin = BuildFbSetup(no_info);
  before = bin;
  EXPECT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
  EXPECT_EQ(bin, before);

  SampleFbSetup no_header;
  no_header.with_header = false;
  bin = BuildFbSetup(no_header);
  before = bin;
  EXPECT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
  EXPECT_EQ(bin, before);
  // The customer-key marking is for raw setups only.
  EXPECT_EQ(Setup::UpdateEncryptCustomerKeyInRawSetup(bin.data(), bin.size()), 0);
  EXPECT_EQ(bin, before);
}

}  // namespace
