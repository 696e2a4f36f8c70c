// End-to-end runs of -c (COMBINE_BNX) on containers built by the test builders; expected
// payloads are laid out by the same builders from the container layout, never by the tool.
#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

const auto Conf = Tz100Conf;
const auto Words = LE32Words;

// Standard output without the progress lines of the logger ("[tool][debug]...").
std::string WithoutLog(const std::string& out) {
  std::string kept;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    end = end == std::string::npos ? out.size() : end + 1;
    if (out.compare(pos, 1, "[") != 0) kept += out.substr(pos, end - pos);
    pos = end;
  }
  return kept;
}

class CombineCliTest : public ToolTest {
 protected:
  // A legacy container (target 0..5, schema major) around a built fw_info / all_models pair.
  std::string Legacy(const std::string& name, int32_t target, uint32_t major, const std::vector<LegacyModel>& models,
                     const std::string& tag = "t") {
    const LegacyPair p = BuildLegacyPair(models, true);
    SampleBnx s;
    s.target = target, s.major = major, s.platform = "p" + tag, s.compiler_version = "c" + tag;
    s.toolchain_version = "tc" + tag, s.solution_id = "id" + tag, s.solution_tag = tag;
    s.models.clear();
    for (const auto& m : models) s.models.push_back({"m" + std::to_string(m.id), static_cast<int32_t>(m.id), "0x1" + std::to_string(m.id)});
    s.fw_info = p.fw_info, s.all_models = p.all_models;
    prefix_[name] = DefaultPrefix(s);
    return Write(name, BuildBnx(s));
  }
  std::string Txm(const std::string& name, std::vector<int32_t> ids, const std::string& tag, uint64_t input_addr = 0,
                  size_t weight_bytes = 1024) {
    SampleTxmOptions o;
    o.models.clear();
    for (int32_t id : ids) o.models.push_back(SampleTxmOptions::SampleModel(id));
    for (auto& m : o.models) m.weight_bytes = weight_bytes;
    if (input_addr != 0) o.header_buffer_info[0].start_addr = input_addr;
    SampleBnx s;
    s.solution_id = "s" + tag, s.solution_tag = tag;
    s.models.clear();
    for (int32_t id : ids) s.models.push_back({"", id, ""});
    s.all_models = BuildSampleTxm(o);
    prefix_[name] = DefaultPrefix(s);
    return Write(name, BuildBnx(s));
  }
  // The prefix of the files extracted from the container written under name.
  std::string P(const std::string& name) { return prefix_.at(name); }
  static Strings Sorted(Strings names) {
    std::sort(names.begin(), names.end());
    return names;
  }
  std::map<std::string, std::string> prefix_;
  std::string Done(const std::string& path) {
    return "\nCombine multiple BNX file into new one in:\n\n" + RealPath(path) + "\n\n";
  }
  static LegacyModel At(LegacyModel m, uint32_t in, uint32_t in_size, uint32_t out, uint32_t out_size, uint32_t wbuf,
                        uint32_t wbuf_size, uint32_t cmd) {
    m.addr_in = in, m.size_in = in_size, m.addr_out = out, m.size_out = out_size;
    m.addr_wbuf = wbuf, m.size_wbuf = wbuf_size, m.addr_cmd = cmd;
    m.addr_wt = cmd + static_cast<uint32_t>((m.cmd.size() + 15) / 16 * 16);
    m.addr_fw = m.addr_wt + static_cast<uint32_t>((m.weight.size() + 15) / 16 * 16);
    return m;
  }
};

TEST_F(CombineCliTest, LegacyLayoutPayloadHeaderAndKeptFiles) {
  const Bytes fb = BuildFbSetup();
  // Outputs of 0x100 and 0x30 bytes, inputs of 0x1000 and 0x2000 bytes.
  const LegacyModel a = At(MakeLegacyModel(7, 3, 20, 40, fb), 0x60000000, 0x1000, 0x61000000, 0x100, 0x62000000,
                           0x800, 0x63000000);
  const LegacyModel b = At(MakeLegacyModel(9, 4, 36, 17, fb), 0x60000000, 0x2000, 0x61000000, 0x30, 0x62000000,
                           0x1000, 0x63000000);
  const std::string pa = Legacy("a.bnx", 2, 1, {a}, "A"), pb = Legacy("b.bnx", 2, 1, {b}, "B");
  const Bytes in_a = ReadBytes(pa), in_b = ReadBytes(pb);

  // The new layout: shared input 0x2000 long, outputs packed, working buffer next.
  const uint32_t code = 0x60003130;
  const uint32_t fb16 = static_cast<uint32_t>((fb.size() + 15) / 16 * 16);
  const LegacyModel na = At(a, 0x60000000, 0x1000, 0x60002000, 0x100, 0x60002130, 0x800, code);
  const LegacyModel nb = At(b, 0x60000000, 0x2000, 0x60002100, 0x30, 0x60002130, 0x1000, code + 32 + 48 + fb16);
  const LegacyPair expected = BuildLegacyPair({na, nb}, true);

  RunResult r = Tool({"-c", pa, pb, "-O", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("write file out/" + P("b.bnx") + "_modelid_9_weight.bin with len 17 at pos 544\n"), std::string::npos);
  EXPECT_EQ(WithoutLog(r.out), "Extract_Status: 0\n" + out_ + "/" + P("a.bnx") + "_fw_info.bin\n" + out_ + "/" + P("a.bnx") +
                                "_all_models.bin\nExtract_Status: 0\n" + out_ + "/" + P("b.bnx") + "_fw_info.bin\n" + out_ +
                                "/" + P("b.bnx") + "_all_models.bin\n" +
                       Done(out_ + "/models_300.bnx"));
  EXPECT_EQ(DirEntries(out_), Strings{"models_300.bnx"});  // no intermediate file left
  r = Tool({"-c", pa, pb, "-O", "quiet", "-q"});  // neither progress nor debug lines
  EXPECT_EQ(r.out, Done(root_ + "/quiet/models_300.bnx"));
  EXPECT_EQ(ReadBytes(pa), in_a);
  EXPECT_EQ(ReadBytes(pb), in_b);

  const Json::Value j = Decode(out_ + "/models_300.bnx");
  EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), expected.fw_info);
  EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), expected.all_models);
  const Json::Value& h = j["header"];
  EXPECT_EQ(h["target"].asString() + " " + h["schema_version"]["major_num"].asString() + " " + h["crc"].asString() +
                " " + h["uuid"].asString(),
            fmt::format("TZ300 1 {0} {0}", expected.all_models_crc));
  EXPECT_EQ(h["solution_tag"].asString() + "|" + h["solution_id"].asString() + "|" + h["platform"].asString() + "|" +
                h["compiler_version"].asString() + "|" + h["toolchain_version"].asString(),
            "A, B, |idA, idB, |pA, pB, |cA, cB, |tcA, tcB, ");
  EXPECT_EQ(h["tv_number"].asString() + h["encryption_mode"].asString(), "0EM_None");
  ASSERT_EQ(j["model_info"].size(), 2u);
  EXPECT_EQ(j["model_info"][0]["name"].asString() + " " + j["model_info"][0]["id"].asString() + " " +
                j["model_info"][0]["version"].asString() + " / " + j["model_info"][1]["name"].asString() + " " +
                j["model_info"][1]["version"].asString(),
            P("a.bnx") + "_m7 7 23 / " + P("b.bnx") + "_m9 25");  // "0x17" and "0x19" read with automatic base

  // -l keeps the extracted and the new intermediate files; -o names the container. The
  // containers may also come as one argument, separated by blanks.
  r = Tool({"-c", pa + " " + pb, "-O", "kept", "-l", "-o", "both"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string kept = dir_ / "kept";
  Strings extracted = {"all_models.bin", "both.bnx", "fw_info.bin", "fw_info.txt"};
  for (const auto& [name, id] : {std::pair<std::string, int>{"a.bnx", 7}, {"b.bnx", 9}}) {
    const std::string m = P(name) + "_modelid_" + std::to_string(id);
    for (const std::string& f : {P(name) + "_all_models.bin", P(name) + "_fw_info.bin", m + "_apb.npu",
                                 m + "_command.bin", m + "_setup.bin", m + "_weight.bin"}) {
      extracted.push_back(f);
    }
  }
  EXPECT_EQ(DirEntries(kept), Sorted(extracted));
  EXPECT_EQ(ReadBytes(kept + "/all_models.bin"), expected.all_models);
  EXPECT_EQ(ReadBytes(kept + "/fw_info.bin"), expected.fw_info);
  EXPECT_EQ(ReadText(kept + "/fw_info.txt").substr(0, 18), "Total [2] models:\n");
  EXPECT_EQ(ReadBytes(kept + "/" + P("a.bnx") + "_modelid_7_command.bin"), a.cmd);
  EXPECT_EQ(ReadBytes(kept + "/both.bnx"), ReadBytes(out_ + "/models_300.bnx"));

  // Containers without models give a container without models.
  const std::string e1 = Legacy("e1.bnx", 2, 1, {}), e2 = Legacy("e2.bnx", 2, 1, {});
  r = Tool({"-c", e1, e2, "-O", "empty"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json::Value e = Decode(dir_ / "empty/models_300.bnx");
  EXPECT_EQ(JsonBytes(e["model_bin"]["fw_info"]), BuildLegacyPair({}, true).fw_info);
  EXPECT_EQ(e["model_bin"]["all_models"].size(), 0u);

  // One container alone: its models laid out anew.
  r = Tool({"-c", pb, "-O", "one"});
  ASSERT_EQ(r.status, 0) << r.err;
  const LegacyModel nb1 = At(b, 0x60000000, 0x2000, 0x60002000, 0x30, 0x60002030, 0x1000, 0x60003030);
  EXPECT_EQ(JsonBytes(Decode(dir_ / "one/models_300.bnx")["model_bin"]["fw_info"]), BuildLegacyPair({nb1}, true).fw_info);
}

TEST_F(CombineCliTest, TZ100CommandAndSetupAreRelocated) {
  // Builder addresses of each container: input 0x60000000/0x100, output 0x60000100/0x40,
  // working buffer 0x60001000/0x800, command at 0x60100000, weight and setup after it.
  auto model = [](uint32_t id, uint32_t rdma, uint32_t wdma, uint32_t getw, uint32_t super_addr, uint32_t dram,
                  uint32_t cmd, uint32_t out) {
    LegacyModel m = MakeLegacyModel(id, 1, 0, 32, {});
    m.cmd = Words({Conf(0x0e, rdma), Conf(0x0f, rdma >> 16), Conf(0x36, wdma), Conf(0x37, wdma >> 16),
                   Conf(0x2e, getw), Conf(0x2f, getw >> 16)});
    RawTZ100Header h;
    h.dram_start = dram;
    h.cmd_start = cmd;
    h.weight_start = cmd + 32;
    h.input_start = 0x60000000;
    RawSuperNode s;
    s.addr = super_addr;
    m.setup = RawSetupWriter().Header(h).InputInfo().Super(s).bytes();  // 112 bytes
    m = CombineCliTest::At(m, 0x60000000, 0x100, out, 0x40, dram, 0x800, cmd);
    return m;
  };
  const LegacyModel a = model(1, 0x60001010, 0x60001020, 0x60100024, 0x60001100, 0x60001000, 0x60100000, 0x60000100);
  const LegacyModel b = model(2, 0x60001030, 0x60000110, 0x60100028, 0x60000120, 0x60001000, 0x60100000, 0x60000100);
  const std::string pa = Legacy("a.bnx", 0, 0, {a}), pb = Legacy("b.bnx", 0, 0, {b});
  const Bytes in_a = ReadBytes(pa), in_b = ReadBytes(pb);

  // New layout: outputs at 0x60000100 and 0x60000140, working buffer 0x60000180, code from
  // 0x60000980 (each model: 32 command, 32 weight and 112 setup bytes).
  const LegacyModel na = model(1, 0x60000190, 0x600001A0, 0x600009A4, 0x60000280, 0x60000180, 0x60000980, 0x60000100);
  const LegacyModel nb = model(2, 0x600001B0, 0x60000150, 0x60000A58, 0x60000160, 0x60000180, 0x60000A30, 0x60000140);
  const LegacyPair expected = BuildLegacyPair({na, nb}, true);

  RunResult r = Tool({"-c", pa, pb, "-O", "out", "-l"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json::Value j = Decode(out_ + "/models_100.bnx");
  EXPECT_EQ(j["header"]["schema_version"]["major_num"].asInt(), 0);
  EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), expected.all_models);
  EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), expected.fw_info);
  // The kept extracted binaries describe the new layout; the inputs are unchanged.
  EXPECT_EQ(ReadBytes(out_ + "/" + P("b.bnx") + "_modelid_2_command.bin"), nb.cmd);
  EXPECT_EQ(ReadBytes(out_ + "/" + P("b.bnx") + "_modelid_2_setup.bin"), nb.setup);
  EXPECT_EQ(ReadText(out_ + "/" + P("a.bnx") + "_modelid_1_test.conf"), "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n");
  EXPECT_EQ(ReadBytes(pa), in_a);
  EXPECT_EQ(ReadBytes(pb), in_b);

  // A super node outside the working and output buffers cannot be relocated: nothing written.
  const LegacyModel bad = model(3, 0x60001010, 0x60001020, 0x60100024, 0x60100000, 0x60001000, 0x60100000, 0x60000100);
  const std::string pc = Legacy("c.bnx", 0, 0, {bad});
  r = Tool({"-c", pa, pc, "-O", "bad", "-l"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("Data out of range!"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Combine multiple"), std::string::npos);
  EXPECT_TRUE(DirEntries(dir_ / "bad").empty());
}

TEST_F(CombineCliTest, RefusalsTable) {
  const std::vector<LegacyModel> fb_models = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
  const std::vector<LegacyModel> raw_models = SampleLegacyModels(LegacySetupForm::kRaw);
  const Bytes raw = raw_models[0].setup;
  Legacy("tz100.bnx", 0, 0, {MakeLegacyModel(1, 1, 16, 16, raw)});
  Legacy("tz200raw.bnx", 1, 0, raw_models);
  Legacy("tz200fb.bnx", 1, 1, {MakeLegacyModel(11, 1, 16, 16, BuildFbSetup())});
  Legacy("tz300.bnx", 2, 1, fb_models);
  Legacy("tz300_same_ids.bnx", 2, 1, {MakeLegacyModel(7, 1, 16, 16, BuildFbSetup())});
  LegacyModel other_in = At(MakeLegacyModel(20, 1, 16, 16, BuildFbSetup()), 0x50000000, 0x10, 0x51000000, 0x10,
                            0x52000000, 0x10, 0x53000000);
  Legacy("tz300_other_input.bnx", 2, 1, {other_in});
  LegacyModel shared = At(MakeLegacyModel(21, 1, 16, 16, BuildFbSetup()), 0x60000000, 0x10, 0x52000000, 0x10,
                          0x52000000, 0x10, 0x53000000);
  Legacy("tz300_shared_output.bnx", 2, 1, {shared});
  SampleBnx enc = LegacyBnx(2, BuildLegacyPair({MakeLegacyModel(30, 1, 16, 16, BuildFbSetup())}, true));
  enc.encryption_mode = 1;
  enc.models = {{"", 30, "1"}};
  WriteBytes(dir_ / "enc.bnx", BuildBnx(enc));
  SampleBnx tv = enc;
  tv.encryption_mode = 0, tv.tv_number = 5;
  WriteBytes(dir_ / "tv.bnx", BuildBnx(tv));
  WriteBytes(dir_ / "junk.bnx", Bytes(64, 0xFF));
  SampleBnx odd;  // a TZ300 container claiming a TXM payload
  odd.target = 2, odd.major = 2, odd.models = {{"", 40, "1"}};
  WriteBytes(dir_ / "odd.bnx", BuildBnx(odd));
  Txm("t1.bnx", {1, 2}, "A");
  Txm("t2.bnx", {3}, "B", 0x60000040);

  const struct {
    Strings inputs;
    std::string err;  // whole standard error, or (exact == false) a part of it
    bool exact;
    std::string out;  // part of standard output
  } cases[] = {
      {{"tz100.bnx", "tz200raw.bnx"}, "All BNX should be the same target.\n", true, ""},
      {{"tz200raw.bnx", "tz200fb.bnx"}, "Error: Setup bin format is not same.\n", true, ""},
      {{"tz300.bnx", "enc.bnx"}, "Not support combine encrypted BNX\n", true, ""},
      {{"tz300.bnx", "tv.bnx"}, "tv_number should be 0x0.\n", true, ""},
      {{"tz300.bnx", "tz300_same_ids.bnx"}, "model_id 7 existed. Please make sure it unique.\n", true, ""},
      {{"tz300.bnx", "tz300_other_input.bnx"}, "Input address should be the same!", false, ""},
      {{"tz300.bnx", "tz300_shared_output.bnx"}, "dedicated output buffer should be enable", false, ""},
      {{"tz300.bnx", "missing.bnx"}, "BNX file not exist: missing.bnx\n", true, ""},
      {{"junk.bnx", "tz300.bnx"}, "Not a valid BNX file.", false, ""},
      {{"tz300.bnx", "odd.bnx"}, "All BNX should be the same schema version major: tz300.bnx has 1, odd.bnx has 2\n",
       true, ""},
      {{"odd.bnx"}, "Schema version major 2 does not fit target 300: odd.bnx\n", true, ""},
      {{"t1.bnx", "t2.bnx"}, "Failed to CombineTxm\n", true, "Input addr should be the same, root:1610612736, another:1610612800\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inputs[0] + " " + c.inputs.back());
    Strings args = {"-c"};
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    args.insert(args.end(), {"-O", "out"});
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status, 255);
    if (c.exact) {
      EXPECT_EQ(r.err, c.err);
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Combine multiple"), std::string::npos);
    EXPECT_TRUE(DirEntries(out_).empty()) << DirEntries(out_).size();
  }
  // A container that would replace one of its inputs needs --replace_original.
  const RunResult r = Tool({"-c", "out2/models_300.bnx", "-O", "out2"});
  EXPECT_NE(r.status, 0);
  Legacy("x.bnx", 2, 1, fb_models);
  ASSERT_EQ(Tool({"-c", "x.bnx", "-O", "out2"}).status, 0);
  const Bytes first = ReadBytes(dir_ / "out2/models_300.bnx");
  const RunResult again = Tool({"-c", "out2/models_300.bnx", "-O", "out2"});
  EXPECT_EQ(again.status, 255);
  EXPECT_NE(again.err.find("use --replace_original"), std::string::npos) << again.err;
  EXPECT_EQ(ReadBytes(dir_ / "out2/models_300.bnx"), first);
}

TEST_F(CombineCliTest, TxmContainersMergeWithJoinedSolutionInfo) {
  // b's weight is large enough to be written from its file rather than from the merged tables.
  const std::string a = Txm("a.bnx", {2, 1}, "A"), b = Txm("b.bnx", {5}, "B", 0, size_t{2} << 20),
                    c = Txm("c.bnx", {3, 4}, "C");
  const Bytes in_a = ReadBytes(a);
  RunResult r = Tool({"-c", a, b, c, "-O", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string extracted;
  for (const char* name : {"a.bnx", "b.bnx", "c.bnx"}) {
    extracted += "Extract_Status: 0\n" + out_ + "/" + P(name) + "_models_400.txm\n";
  }
  EXPECT_EQ(WithoutLog(r.out), extracted + "out/models_400.txm\n" + Done(out_ + "/models_400.bnx"));
  EXPECT_EQ(DirEntries(out_), Strings{"models_400.bnx"});
  EXPECT_EQ(ReadBytes(a), in_a);
  const Bytes in_b = ReadBytes(b), merged = ReadBytes(out_ + "/models_400.bnx");
  const auto weight = in_b.begin() + static_cast<long>(in_b.size() / 2);  // inside b's weight
  EXPECT_NE(std::search(merged.begin(), merged.end(), weight, weight + 65536), merged.end());
  const Json::Value j = Decode(out_ + "/models_400.bnx");
  EXPECT_EQ(j["header"]["solution_tag"].asString() + " " + j["header"]["solution_id"].asString(), "A,B,C sA,sB,sC");
  EXPECT_EQ(j["header"]["schema_version"]["major_num"].asInt(), 2);
  std::string ids;
  for (const auto& m : j["model_info"]) ids += m["id"].asString() + " ";
  EXPECT_EQ(ids, "1 2 5 3 4 ");  // ascending within each container, containers in order
  EXPECT_EQ(j["header"]["crc"], j["header"]["uuid"]);

  // A file of the user's under the merged file's name is left alone when nothing is kept.
  WriteText(out_ + "/models_400.txm", "mine");
  r = Tool({"-c", a, b, "-O", "out", "-o", "ab"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(DirEntries(out_), (Strings{"ab.bnx", "models_400.bnx", "models_400.txm"}));
  EXPECT_EQ(ReadText(out_ + "/models_400.txm"), "mine");

  r = Tool({"-c", a, b, "-O", "kept", "-l", "-o", "ab"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(DirEntries(dir_ / "kept"),
            Sorted({"01_" + P("a.bnx") + "_model_1.txm", "01_" + P("b.bnx") + "_model_5.txm",
                    "02_" + P("a.bnx") + "_model_2.txm", P("a.bnx") + "_models_400.txm", P("b.bnx") + "_models_400.txm",
                    "ab", "ab.bnx"}));
}

}  // namespace
