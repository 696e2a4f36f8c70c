// End-to-end runs of -X (EXTRACT_BNX) and -I (DUMP_DATA).
#include <sys/stat.h>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

bool HasLine(const std::string& text, const std::string& line) { return Contains("\n" + text, "\n" + line + "\n"); }

const char* const kBox2 = "┌ Model #2 ──────────────────────────────────────────────────┐";

// One TZ100 model at fixed addresses; its raw setup holds one input and one default output node.
LegacyModel TZ100Model() {
  LegacyModel m = MakeLegacyModel(5, 0x102, 20, 40, BuildRawSetup100());
  m.addr_in = 0x60000000, m.size_in = 150528, m.addr_out = 0x60040000, m.size_out = 4096, m.size_wbuf = 0x100000;
  m.addr_wbuf = 0x60050000, m.addr_cmd = 0x61000000, m.addr_wt = 0x61000020, m.addr_fw = 0x61000050;
  return m;
}

// The model table up to the setup summary (the setup report's own text).
const char* const kTZ100Report =
    "DDR start addr                 = [0x60000000]\n"
    "DDR end addr                   = [0x610000f0]\n"
    "DDR space needed               = [0x010000f0] : 16.00 MB\n"
    "Model size(no heading buff)    = [0x000000f0] : 0.00 MB\n"
    "\n"
    "┌ Model #1 ──────────────────────────────────────────────────┐\n"
    "│                                                            │\n"
    "│Model ID        = [5]:[0x5]                                 │\n"
    "│Model Version   = [258]:[0x102]                             │\n"
    "│                                                            │\n"
    "│Addr(IN/OUT/WBUF)                                           │\n"
    "│    [ input] 0x60000000 L =   150528 : 0x00024c00           │\n"
    "│    [output] 0x60040000 L =     4096 : 0x00001000           │\n"
    "│    [  wbuf] 0x60050000 L =  1048576 : 0x00100000           │\n"
    "│                                                            │\n"
    "│Addr(CMD/WT/SET)                                            │\n"
    "│    [   cmd] 0x61000000 L =       20 : 0x00000014           │\n"
    "│    [    wt] 0x61000020 L =       40 : 0x00000028           │\n"
    "│    [   set] 0x61000050 L =      160 : 0x000000a0           │\n"
    "│                                                            │\n"
    "│============================================================│\n"
    "│                                                            │\n"
    "│setup.bin format = [raw binary]                             │\n";
const char* const kTZ100End = "└────────────────────────────────────────────────── Model #1 ┘\n\n";

// out holds before + the model table of TZ100Model() and ends with it.
void ExpectTZ100Report(const std::string& out, const std::string& before) {
  EXPECT_NE(out.find(before + kTZ100Report), std::string::npos) << out;
  EXPECT_EQ(out.size() - out.rfind(kTZ100End), std::string(kTZ100End).size()) << out;
}

class ExtractCliTest : public ToolTest {
 protected:
  // A legacy container (target 0 TZ100, 1 TZ200, 2 TZ300) of schema major 0 for TZ100, else 1;
  // prefix (when given) gets the default prefix of its extracted files.
  std::string Legacy(int32_t target, const std::string& name, std::vector<LegacyModel> models = {},
                     std::string* prefix = nullptr) {
    if (models.empty()) models = SampleLegacyModels(target == 0 ? LegacySetupForm::kRaw : LegacySetupForm::kFlatbuffer);
    const SampleBnx s = LegacyBnx(target, BuildLegacyPair(models, true, 0xCD));  // padding not to copy
    if (prefix) *prefix = DefaultPrefix(s);
    return Write(name, BuildBnx(s));
  }
  std::string Pair(const std::string& dir, const std::string& prefix = "") {
    return RealPath(dir + "/" + prefix + "fw_info.bin") + "\n" + RealPath(dir + "/" + prefix + "all_models.bin") + "\n";
  }
};

TEST_F(ExtractCliTest, LegacyPairIsRenamedAndKeptModelFilesAreSliced) {
  for (int32_t target : {0, 2}) {  // TZ100, TZ300
    const auto models = SampleLegacyModels(target == 0 ? LegacySetupForm::kRaw : LegacySetupForm::kFlatbuffer);
    const LegacyPair pair = BuildLegacyPair(models, true, 0xCD);
    std::string prefix;
    const std::string bnx = Legacy(target, "l.bnx", {}, &prefix), out = out_ + std::to_string(target), kept = out + "l";
    EXPECT_EQ(Tool({"-X", bnx, "-O", out}).out, "Extract_Status: 0\n" + Pair(out));
    EXPECT_EQ(DirEntries(out), (Strings{"all_models.bin", "fw_info.bin"}));
    EXPECT_EQ(ReadBytes(out + "/fw_info.bin"), pair.fw_info);
    EXPECT_EQ(ReadBytes(out + "/all_models.bin"), pair.all_models);
    // -l keeps each model's pieces (sliced past the padding) and its test configuration.
    ASSERT_EQ(Tool({"-X", bnx, "-l", "-O", kept}).status, 0);
    const std::string conf = target == 0 ? "_test.conf" : "_apb.npu", m9 = prefix + "_modelid_9";
    EXPECT_EQ(DirEntries(kept).size(), 10u);  // the pair, and four files per model
    EXPECT_TRUE(Exists(kept + "/" + prefix + "_modelid_7" + conf) && Exists(kept + "/" + m9 + conf));
    EXPECT_EQ(ReadBytes(kept + "/" + m9 + "_command.bin"), models[1].cmd);
    EXPECT_EQ(ReadBytes(kept + "/" + m9 + "_setup.bin"), models[1].setup);
  }
}

TEST_F(ExtractCliTest, SetupParsingWithTheRealParserAndTheModelTable) {
  std::string prefix;
  const std::string bnx = Legacy(0, "s.bnx", {TZ100Model()}, &prefix), stem = prefix + "_modelid_5";
  RunResult r = Tool({"-X", bnx, "-s", "-O", out_});
  EXPECT_EQ(r.out.rfind("Extract_Status: 0\n" + Pair(out_) + RealPath(out_) + "/" + stem + "_setup.bin.json\n", 0), 0u);
  ExpectTZ100Report(r.out, "json\n");
  // Unnamed and without -l the per-model files and their JSON views stay ...
  EXPECT_EQ(DirEntries(out_), (Strings{stem + "_command.bin", stem + "_setup.bin", stem + "_setup.bin.json",
                                       stem + "_test.conf", stem + "_weight.bin", "all_models.bin", "fw_info.bin"}));
  // ... with an output name they are removed at the end.
  r = Tool({"-X", bnx, "-s", "-O", dir_ / "named", "-o", "N"});
  ExpectTZ100Report(r.out, "json\n");
  EXPECT_EQ(DirEntries(dir_ / "named"), (Strings{"N_all_models.bin", "N_fw_info.bin"}));
  // -I -s extracts quietly and ends with the same table.
  r = Tool({"-I", bnx, "-s", "-O", dir_ / "info"});
  EXPECT_FALSE(Contains(r.out, "Extract_Status") || Contains(r.out, ".json"));
  ExpectTZ100Report(r.out, "\n============================================================\n\n");
}

// A copy of the tool beside a stand-in parser that records its arguments; odd folder names.
TEST_F(ExtractCliTest, StandInParserCommandLinesAndFailures) {
  const std::string bin_dir = dir_ / "bin dir", bin = bin_dir + "/talvex_bnx_utils", calls = bin_dir + "/args.txt";
  mkdir(bin_dir.c_str(), 0755);
  WriteBytes(bin, ReadBytes(TALVEX_BIN));
  WriteText(bin_dir + "/talvex_setup_parser",
            "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" >> \"$(dirname \"$0\")/args.txt\"\nexit ${FAKE_STATUS:-0}\n");
  for (const std::string& f : {bin, bin_dir + "/talvex_setup_parser"}) chmod(f.c_str(), 0755);
  std::string prefix;
  const std::string odd = dir_ / "out $(touch INJECTED) it's", raw = Legacy(0, "r.bnx", {}, &prefix);
  RunResult r = Tool({"-X", raw, "-s", "-O", odd}, {}, bin);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string stem = RealPath(odd) + "/" + prefix + "_modelid_";
  EXPECT_EQ(ReadText(calls), "3|" + stem + "7_setup.bin|-p100|-j|3|" + stem + "9_setup.bin|-p100|-j|");
  EXPECT_TRUE(HasLine(r.out, stem + "7_setup.bin.json"));
  EXPECT_FALSE(Exists(dir_ / "INJECTED"));
  remove(calls.c_str());
  r = Tool({"-X", Legacy(2, "f.bnx"), "-s", "-O", odd, "-o", "F"}, {}, bin);
  EXPECT_EQ(ReadText(calls), "1|" + RealPath(odd) + "/F_modelid_7_setup.bin|1|" + RealPath(odd) + "/F_modelid_9_setup.bin|");
  EXPECT_TRUE(HasLine(r.out, "│setup.bin format = [FlatBuffers]                            │"));
  // A failing parser fails the run; no JSON path is printed, the report still is.
  r = Tool({"-X", raw, "-s", "-O", out_}, {"FAKE_STATUS=3"}, bin);
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(Contains(r.out, "_setup.bin.json"));
  EXPECT_TRUE(Contains(r.err, "talvex_setup_parser failed (status 3)"));
  EXPECT_TRUE(HasLine(r.out, kBox2));
}

TEST_F(ExtractCliTest, ModelContainerAndSetupParsing) {
  const SampleBnx s;  // TZ400, schema major 2, a TXM payload
  const std::string bnx = dir_ / "net.bnx", prefix = DefaultPrefix(s), txm = prefix + "_models_400.txm";
  WriteBytes(bnx, BuildBnx(s));
  EXPECT_EQ(Tool({"-X", bnx, "-O", out_}).out, "Extract_Status: 0\n" + RealPath(out_ + "/" + txm) + "\n");
  EXPECT_EQ(DirEntries(out_), Strings{txm});
  EXPECT_EQ(ReadBytes(out_ + "/" + txm), s.all_models);
  // -s: one TXM file per model, a payload-free view of each, then the model report.
  RunResult r = Tool({"-X", bnx, "-s", "-O", out_});
  const std::string m1 = out_ + "/01_" + prefix + "_model_1.txm", m2 = out_ + "/02_" + prefix + "_model_2.txm";
  EXPECT_EQ(r.out.rfind("Extract_Status: 0\n" + RealPath(out_ + "/" + txm) + "\n" + m1 + ".no_binary.json\n" + m2 +
                            ".no_binary.json\n\nDDR start addr", 0), 0u) << r.out;
  // Each view is made from the model in memory: the same text -j makes from the file written.
  for (const std::string& m : {m1, m2}) {
    const std::string views = dir_ / "views", name = m.substr(m.rfind('/') + 1) + ".no_binary.json";
    ASSERT_EQ(Tool({"-j", m, "-O", views}).status, 0);
    EXPECT_EQ(ReadText(views + "/" + name), ReadText(m + ".no_binary.json")) << name;
  }
  // A payload that is no TXM file (its header crc still matching) is refused: nothing is written.
  SampleBnx bad;
  bad.all_models = Bytes(100, 0xAB);
  WriteBytes(dir_ / "bad.bnx", BuildBnx(bad));
  r = Tool({"-X", dir_ / "bad.bnx", "-s", "-O", dir_ / "bad"});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(Contains(r.err, dir_ / "bad.bnx" + ": txm: FAILED: ")) << r.err;
  EXPECT_EQ(DirEntries(dir_ / "bad"), Strings{});
}

TEST_F(ExtractCliTest, SeveralContainersInOneCallAndPathsWithBlanks) {
  mkdir((dir_ / "my models").c_str(), 0755);
  const std::string a = Legacy(0, "my models/a  b.bnx"), c = Legacy(2, "c.bnx");
  WriteBytes(dir_ / "t.bnx", BuildBnx(SampleBnx{}));  // TZ400, left unsplit
  EXPECT_EQ(Tool({"-X", a + " " + (dir_ / "t.bnx"), "-O", out_}).out, "Extract_Status: 0\n" + Pair(out_) +
                                                                      "Extract_Status: 0\n" +
                                                                      RealPath(out_ + "/" + DefaultPrefix(SampleBnx{}) +
                                                                               "_models_400.txm") + "\n");
  // As separate words too; one output name for both: the second replaces the first.
  const RunResult r = Tool({"-X", a, c, "-O", out_, "-o", "N"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "Extract_Status: 0\n" + Pair(out_, "N_") + "Extract_Status: 0\n" + Pair(out_, "N_"));
  EXPECT_EQ(ReadBytes(out_ + "/N_all_models.bin"),
            BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true, 0xCD).all_models);
}

// A file argument with blanks that names a file is that file, in every mode.
TEST_F(ExtractCliTest, EveryModeTakesAFileNameWithBlanks) {
  WriteBytes(dir_ / "my model.bnx", BuildBnx(SampleBnx{}));
  WriteSampleTxm(dir_ / "my model.txm");
  const std::string bnx = dir_ / "my model.bnx", txm = dir_ / "my model.txm";
  for (const Strings& args : {Strings{"-I", bnx}, Strings{"-R", bnx, "-k", "target"}, Strings{"-M", bnx, "-N", "0"},
                              Strings{"-C", bnx}, Strings{"--verify", bnx}, Strings{"-X", bnx},
                              Strings{"-U", bnx, "--model_info_version", "2"},
                              Strings{"--update_solution_info", bnx, "-a", "7"}, Strings{"-E", bnx, "--TV", "5"},
                              Strings{"-A", txm}, Strings{"-j", txm}}) {
    Strings with_folder = args;
    with_folder.insert(with_folder.end(), {"-O", out_});
    const RunResult r = Tool(with_folder);
    EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.out << r.err;
  }
}

TEST_F(ExtractCliTest, HostileContainersFailClearlyAndWriteNothing) {
  const std::string good = Legacy(0, "good.bnx");
  const Bytes bytes = ReadBytes(good);
  WriteBytes(dir_ / "cut.bnx", Bytes(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)));
  RunResult r = Tool({"-X", dir_ / "cut.bnx", "-O", out_, "-l", "-s", "-o", "N"});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out + r.err, "not a valid BNX file")) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "Extract_Status: -1")) << r.out;
  EXPECT_EQ(DirEntries(out_), Strings{});
  // A missing container, then a good one: the good one is extracted, but the run fails and
  // so takes back what it wrote; -l keeps it.
  for (const bool keep : {false, true}) {
    Strings args = {"-X", (dir_ / "missing.bnx") + " " + good, "-O", out_};
    if (keep) args.push_back("-l");
    r = Tool(args);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Contains(r.out + r.err, "BNX file not exist: " + (dir_ / "missing.bnx")));
    EXPECT_TRUE(HasLine(r.out, "Extract_Status: 0")) << r.out;
    const Strings left = DirEntries(out_);
    EXPECT_EQ(left.empty(), !keep);
    EXPECT_EQ(std::count(left.begin(), left.end(), "fw_info.bin"), keep ? 1 : 0);
    for (const std::string& f : left) std::filesystem::remove(out_ + "/" + f);
  }
  // An output file that cannot be created.
  mkdir((out_ + "/N_fw_info.bin").c_str(), 0755);
  r = Tool({"-X", good, "-O", out_, "-o", "N"});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out + r.err, "Failed to write the file: " + out_ + "/N_fw_info.bin")) << r.out;
}

TEST_F(ExtractCliTest, InfoReportLayout) {
  SampleBnx s;
  s.platform = "tz-x", s.tv_number = 0x10, s.encryption_mode = 2, s.toolchain_version = "t\n2.0", s.uuid = 0xDEADBEEF;
  s.crc = 0x1A2B3C4D;  // a header view: no check runs
  s.solution_tag = "a\nb\nc";
  s.models = {{"det", 32768, "1.0"}, {"cls", -1, "2.1"}};
  WriteBytes(dir_ / "i.bnx", BuildBnx(s));
  RunResult r = Tool({"-I", dir_ / "i.bnx", "-O", out_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err,
            "BNX Header:\n"
            "------------------------------------------------------------\n"
            "platform             : tz-x\n"
            "target               : 400\n"
            "crc                  : 0x1A2B3C4D\n"
            "tv_number            : 0x10\n"
            "encryption_mode      : TV_Number\n"
            "compiler_version     : compiler 1.0\n"
            "toolchain_version    : t,2.0\n"
            "schema_version       : v2.0.1\n"
            "uuid                 : 0xDEADBEEF\n"
            "solution_id          : 1234\n"
            "solution_tag         : a,b,c\n"
            "------------------------------------------------------------\n"
            "\n"
            "BNX Model Info ( idx / {model_id} / (model_version) / [model_name] ) :\n"
            "\n"
            "#001 {   32768} (       1.0) [det]\n"
            "#002 {      -1} (       2.1) [cls]\n"
            "\n"
            "============================================================\n"
            "\n");
  r = Tool({"-I", dir_ / "none.bnx"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out + r.err, "BNX file not exist: " + (dir_ / "none.bnx") + "\n");
}

}  // namespace
