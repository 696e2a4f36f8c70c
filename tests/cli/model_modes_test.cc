// End-to-end runs of -j (TXM to JSON) and -S (split one core out of every model).
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/run.h"
#include "support/txm_builder.h"
#include "txm/txm_func.h"

namespace {

namespace T = TalvexTXM;
using Bytes = std::vector<uint8_t>;
using namespace testsupport;

// Exit status of a TalvexException with ErrorCode UnexpectedValue / InvalidProgramInput.
constexpr int kUnexpectedValue = 9;
constexpr int kInvalidProgramInput = 2;

const char* const kAddrJson =
    R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
    R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Decoded with the generated verifier and object API only.
T::TXMContentT Decode(const std::string& path) {
  const std::vector<unsigned char> b = ReadBytes(path);
  flatbuffers::Verifier verifier(b.data(), b.size());
  T::TXMContentT out;
  if (!T::VerifyTXMContentBuffer(verifier)) {
    ADD_FAILURE() << path << " does not verify";
    return out;
  }
  flatbuffers::GetRoot<T::TXMContent>(b.data())->UnPackTo(&out);
  return out;
}

// Files that no TXM reader may accept, and that must not crash one.
std::vector<std::pair<std::string, Bytes>> HostileTxmFiles() {
  const Bytes good = BuildSampleTxm();
  Bytes wild_root = good;
  wild_root[0] = 0xF0;  // root offset far past the end
  wild_root[3] = 0x7F;
  Bytes bad_vector = good;
  PayloadRef ref;
  if (FindPayload(bad_vector, 0, TxmPayload::kWeight, 0, &ref)) {
    const uint32_t huge = 0x7FFFFFF0;  // a length far beyond the file
    std::memcpy(bad_vector.data() + ref.vector_pos, &huge, 4);
  }
  return {{"empty.txm", {}},
          {"four.txm", {8, 0, 0, 0}},
          {"garbage.txm", Bytes(100, 0xFF)},
          {"truncated.txm", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
          {"wild_root.txm", wild_root},
          {"bad_vector.txm", bad_vector}};
}

class ModelModesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleTxmOptions o;
    o.models = {o.SampleModel(0), o.SampleModel(1)};
    sample_ = BuildSampleTxmObject(o);
    WriteBytes(input_, PackTxm(sample_));
    WriteText(addr_, kAddrJson);
  }
  RunResult Tool(std::vector<std::string> args) {
    std::vector<std::string> argv = {TALVEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, dir_.path());
  }
  RunResult Split(int core, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-S", input_, "-d", std::to_string(core), "-p", addr_, "-O", folder_};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tool(args);
  }
  static bool HaveJq() { return testsupport::Run({"jq", "--version"}).status == 0; }
  std::string Jq(const std::string& filter, const std::string& path) {
    RunResult r = testsupport::Run({"jq", "-c", filter, path});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TempDir dir_;
  std::string input_ = dir_ / "in.txm";
  std::string addr_ = dir_ / "addr.json";
  std::string out_ = dir_ / "out";
  std::string folder_ = "out";  // of Split, relative to dir_
  T::TXMContentT sample_;
};

// ---------------- -j ----------------

TEST_F(ModelModesTest, TxmToJsonIsValidJsonWithoutPayloads) {
  if (!HaveJq()) GTEST_SKIP() << "jq is not installed";
  RunResult r = Tool({"-j", input_, "-O", "out"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"in.txm.no_binary.json"});
  const std::string json = out_ + "/in.txm.no_binary.json";

  EXPECT_EQ(Jq("[.. | objects | keys[] | select(. == \"cmd\" or . == \"weight\" or . == \"const_input\")]", json),
            "[]\n");
  // Names and numbers of the file come through.
  EXPECT_EQ(Jq("[.magic, .header.target, .header.compiler_version, .header.schema_version.revision_num,"
               " (.header.buffer_info | map([.buffer, .start_addr, .len]))]",
               json),
            "[827152468,\"TZ400\",\"talvex_compiler 1.0\",3,"
            "[[\"INPUT_BUFFER\",1610612736,262144],[\"OUTPUT_BUFFER\",1610874880,65536],"
            "[\"WORKING_BUFFER\",1610940416,1048576],[\"CPU_TEMP_BUFFER\",1611988992,65536]]]\n");
  // Fields equal to their default (id 0) are not stored, so they are absent from the text.
  EXPECT_EQ(Jq("[.models[] | (.header.id // 0), .header.encrypt_info.mode, .header.core_number,"
               " (.cores | map(.header.id // 0)), .cores[2].exe_unit[0].header.id,"
               " .cores[1].eu_params.operators[1].name, .cores[2].eu_params.max_trip_count,"
               " .header.inputs[0].shape]",
               json),
            "[0,\"NoEnc\",3,[0,1,2],3,\"conv\",4,[1,3,224,224],"
            "1,\"NoEnc\",3,[0,1,2],3,\"conv\",4,[1,3,224,224]]\n");
}

TEST_F(ModelModesTest, TxmToJsonFileNames) {
  ASSERT_EQ(Tool({"-j", input_, "-O", "out", "-o", "x.json"}).status, 0);
  EXPECT_EQ(DirEntries(out_), std::vector<std::string>{"x.json"});

  // An empty folder: the working folder, named after the input's last path component.
  ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
  WriteBytes(dir_ / "sub/a.txm", PackTxm(sample_));
  RunResult r = Tool({"-j", "sub/a.txm", "-O", ""});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(Exists(dir_ / "a.txm.no_binary.json"));
  EXPECT_TRUE(Contains(ReadText(dir_ / "a.txm.no_binary.json"), "\"compiler_version\": \"talvex_compiler 1.0\""));
}

TEST_F(ModelModesTest, TxmToJsonRefusesBadInput) {
  RunResult r = Tool({"-j", input_ + " " + input_, "-O", "out"});
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(Contains(r.out, "should be only one txm file")) << r.out;
  EXPECT_TRUE(DirEntries(out_).empty());

  for (const auto& [name, bytes] : HostileTxmFiles()) {
    WriteBytes(dir_ / name, bytes);
    r = Tool({"-j", dir_ / name, "-O", "out"});
    EXPECT_EQ(r.status, kUnexpectedValue) << name;
    EXPECT_TRUE(Contains(r.out, "Failed to read the txm file")) << name << ": " << r.out;
    EXPECT_TRUE(Contains(r.err, "Failed to parse the txm file: " + dir_ / name)) << name << ": " << r.err;
    if (!bytes.empty()) EXPECT_TRUE(Contains(r.err, "Not a valid TXM file.")) << name;
  }
  r = Tool({"-j", dir_ / "missing.txm", "-O", "out"});
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(DirEntries(out_).empty());
}

// ---------------- -S ----------------

TEST_F(ModelModesTest, SplitCoreEveryKindOfCore) {
  const std::vector<std::pair<T::Location, uint64_t>> relocated = {
      {T::Location::INPUT_BUFFER, 0x80000000}, {T::Location::OUTPUT_BUFFER, 0x80100000},
      {T::Location::WORKING_BUFFER, 0x80200000}, {T::Location::CPU_TEMP_BUFFER, 0x80300000}};
  // 0 NPU, 1 CPU, 2 LOOP, 3 NPU and 4 CPU nested in the LOOP core.
  for (int core = 0; core <= 4; ++core) {
    SCOPED_TRACE("core " + std::to_string(core));
    folder_ = "out" + std::to_string(core);
    const std::string out = dir_ / folder_;
    RunResult r = Split(core);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string name0 = "models_400_model_0_core_" + std::to_string(core) + ".txm";
    const std::string name1 = "models_400_model_1_core_" + std::to_string(core) + ".txm";
    EXPECT_EQ(r.out, folder_ + "/" + name0 + "\n" + folder_ + "/" + name1 + "\n");
    ASSERT_EQ(DirEntries(out), (std::vector<std::string>{name0, name1}));

    for (int model = 0; model < 2; ++model) {
      const std::string path = out + "/" + (model == 0 ? name0 : name1);
      testing::internal::CaptureStderr();
      const int aligned = TXM::CheckAlignment(path);
      const std::string why = testing::internal::GetCapturedStderr();
      EXPECT_EQ(aligned, 0) << why;
      const T::TXMContentT txm = Decode(path);
      ASSERT_EQ(txm.models.size(), 1u);
      const T::ModelT& m = *txm.models[0];
      EXPECT_EQ(m.header->id, model);
      EXPECT_EQ(m.header->core_number, 1);
      EXPECT_EQ(m.header->wt_ref_model_id, -1);
      ASSERT_EQ(m.header->buffer_info.size(), relocated.size());
      for (size_t i = 0; i < relocated.size(); ++i) {
        EXPECT_EQ(m.header->buffer_info[i]->buffer, relocated[i].first);
        EXPECT_EQ(m.header->buffer_info[i]->start_addr, relocated[i].second);
        EXPECT_EQ(m.header->buffer_info[i]->len, sample_.header->buffer_info[i]->len);
        // The file header keeps the compiled addresses.
        EXPECT_EQ(txm.header->buffer_info[i]->start_addr, sample_.header->buffer_info[i]->start_addr);
      }
      EXPECT_EQ(m.const_input, sample_.models[model]->const_input);
      ASSERT_EQ(m.cores.size(), 1u);
      const T::CoreT& c = *m.cores[0];
      EXPECT_EQ(c.header->id, 0);
      EXPECT_EQ(c.header->type, T::CoreType::NPU);
      EXPECT_TRUE(c.header->dependency.empty());
      EXPECT_TRUE(c.exe_unit.empty());
      const auto& src_cores = sample_.models[model]->cores;
      const T::CoreT& src = core <= 2 ? *src_cores[core] : *src_cores[2]->exe_unit[core - 3];
      EXPECT_EQ(c.eu_params.type, src.eu_params.type);
      EXPECT_EQ(m.header->inputs[0]->name, src.header->inputs[0]->name);
      if (const T::NPUEUParamsT* npu = c.eu_params.AsNPUEUParams()) {
        EXPECT_EQ(npu->cmd, src.eu_params.AsNPUEUParams()->cmd);
        EXPECT_EQ(npu->weight, src.eu_params.AsNPUEUParams()->weight);
      }
    }
  }
}

TEST_F(ModelModesTest, SplitCoreSelectionAndNames) {
  // No model 7: nothing to do.
  RunResult r = Split(0, {"-i", "7"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(DirEntries(out_).empty());

  r = Split(1, {"-i", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "out/models_400_model_1_core_1.txm\n");

  r = Split(9);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Unable to find the core with the core_id: 9\nFailed to ExtractCore with core_id: 9\n");

  // One given name for every result: the last model's file remains.
  folder_ = "named";
  r = Split(0, {"-o", "one.txm"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "SplitCore doesn't support specifying output")) << r.out;
  EXPECT_TRUE(Contains(r.out, "named/one.txm\nnamed/one.txm\n")) << r.out;
  EXPECT_EQ(DirEntries(dir_ / "named"), std::vector<std::string>{"one.txm"});
  EXPECT_EQ(Decode(dir_ / "named/one.txm").models[0]->header->id, 1);
}

TEST_F(ModelModesTest, SplitCoreRefusesHostileAddressFiles) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not json at all", "json constructed from [" + addr_ + "] is null"},
      {"", "json constructed from [" + addr_ + "] is null"},
      {"\"0x80000000\"", "[" + addr_ + "] should contains addr for key [input_addr]"},
      {R"({"input_addr": "0x80000000"})", "[" + addr_ + "] should contains addr for key [output_addr]"},
      {R"({"input_addr": "0x8000000g", "output_addr": "0x0"})",
       "[" + addr_ + "] addr for key [input_addr] should be a hexadecimal text of 32 bits, not [0x8000000g]"},
      {R"({"input_addr": 2147483648})",
       "[" + addr_ + "] addr for key [input_addr] should be a hexadecimal text of 32 bits, not [2147483648]"},
      {R"({"input_addr": ["0x1"]})",
       "[" + addr_ + "] addr for key [input_addr] should be a hexadecimal text of 32 bits, not [[\"0x1\"]]"}};
  for (const auto& [text, message] : cases) {
    WriteText(addr_, text);
    RunResult r = Split(0);
    EXPECT_EQ(r.status, kInvalidProgramInput) << text;
    EXPECT_TRUE(Contains(r.out, "InvalidProgramInput: " + message)) << text << ": " << r.out;
    EXPECT_TRUE(DirEntries(out_).empty()) << text;
  }
  RunResult r = Tool({"-S", input_, "-d", "0", "-p", dir_ / "none.json", "-O", "out"});
  EXPECT_EQ(r.status, kInvalidProgramInput);
  EXPECT_TRUE(Contains(r.out, "json constructed from [" + dir_ / "none.json" + "] is null")) << r.out;

  // A buffer kind that has no address member.
  SampleTxmOptions o;
  o.header_buffer_info.push_back({T::Location::WEIGHT_SEGMENT, 0x70000000, 64});
  WriteSampleTxm(input_, o);
  WriteText(addr_, kAddrJson);
  r = Split(0);
  EXPECT_EQ(r.status, kInvalidProgramInput);
  EXPECT_TRUE(Contains(r.out, "InvalidProgramInput: Undefinded buffer:[4]")) << r.out;
  EXPECT_TRUE(DirEntries(out_).empty());
}

TEST_F(ModelModesTest, SplitCoreRefusesHostileTxmFiles) {
  RunResult r = Tool({"-S", input_ + " " + input_, "-d", "0", "-p", addr_, "-O", "out"});
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(Contains(r.out, "Should only one TXM file")) << r.out;

  // The loader is the one of -j, tried there on every kind of broken file.
  WriteBytes(dir_ / "garbage.txm", Bytes(100, 0xFF));
  r = Tool({"-S", dir_ / "garbage.txm", "-d", "0", "-p", addr_, "-O", "out"});
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(Contains(r.out, "Failed to read the txm file")) << r.out;
  // A LOOP core nested in a LOOP core is refused when the search reaches it.
  T::TXMContentT nested = BuildSampleTxmObject();
  auto& loop = nested.models[0]->cores[2];
  loop->exe_unit.insert(loop->exe_unit.begin(), std::make_unique<T::CoreT>(*loop));
  WriteBytes(input_, PackTxm(nested));
  r = Split(3);
  EXPECT_EQ(r.status, kUnexpectedValue);
  EXPECT_TRUE(Contains(r.out, "UnexpectedValue: core type should not be loop")) << r.out;
  EXPECT_TRUE(DirEntries(out_).empty());
}

}  // namespace
