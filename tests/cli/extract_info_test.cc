// End-to-end runs of -X (EXTRACT_BNX) and -I (DUMP_DATA).
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <json/json.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/bnx_decode.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;
using namespace testsupport;

Strings DirEntries(const std::string& dir) {
  Strings out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string RealPath(const std::string& p) {
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) == nullptr ? p : std::string(buf);
}

Strings Lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

bool HasLine(const std::string& text, const std::string& line) {
  const Strings lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Json::Value ParseJson(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value v;
  std::string errors;
  if (!reader->parse(text.data(), text.data() + text.size(), &v, &errors)) return Json::Value();
  return v;
}

// One TZ100 model at fixed addresses with a raw setup of the builder's default header (one
// input) and one default output info node (160 bytes).
LegacyModel TZ100Model() {
  LegacyModel m = MakeLegacyModel(5, 0x102, 20, 40, BuildRawSetup100());
  m.addr_in = 0x60000000;
  m.size_in = 150528;
  m.addr_out = 0x60040000;
  m.size_out = 4096;
  m.addr_wbuf = 0x60050000;
  m.size_wbuf = 0x100000;
  m.addr_cmd = 0x61000000;
  m.addr_wt = 0x61000020;
  m.addr_fw = 0x61000050;
  return m;
}

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
    "│setup.bin format = [raw binary]                             │\n"
    "│Input node info:                                            │\n"
    "│    < 0 > Name  =                                           │\n"
    "│    < 0 > Format                       = default            │\n"
    "│    < 0 > Shape (batch, ch, row, col)  = (1, 3, 224, 224)   │\n"
    "│    < 0 > Quantization :                                    │\n"
    "│           fxp_info [0] (scale, radix) = (defualt, 7)       │\n"
    "│    < 0 > Buffer :                                          │\n"
    "│           [entry]           1614807040 : 0x60400000        │\n"
    "│           [  len]               150528 : 0x00024c00        │\n"
    "│                                                            │\n"
    "│Output node info:                                           │\n"
    "│    < 0 > Name  =                                           │\n"
    "│    < 0 > Format                       = 0                  │\n"
    "│    < 0 > Shape (batch, ch, row, col)  = (1, 16, 7, 7)      │\n"
    "│    < 0 > Quantization :                                    │\n"
    "│           fxp_info [0] (scale, radix) = (1.00, 5)          │\n"
    "│    < 0 > Buffer :                                          │\n"
    "│           [entry]                    0 : 0x00000000        │\n"
    "│           [  len]                    0 : 0x00000000        │\n"
    "│                                                            │\n"
    "└────────────────────────────────────────────────── Model #1 ┘\n"
    "\n";

// A container generated by -G and what it was made from.
struct Generated {
  std::string bnx;
  std::string prefix;  // "BNX_0x" + header CRC in upper-case hexadecimal
  Bytes fw_info;       // the input fw_info.bin as generation left it (CRC section added)
  Bytes all_models;    // all_models.bin, or the TXM file
  std::vector<LegacyModel> models;
};

class ExtractCliTest : public ::testing::Test {
 protected:
  RunResult Tool(const Strings& args, const Strings& env = {}, const std::string& bin = TALVEX_BIN) {
    Strings argv = {bin};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::Run(argv, dir_.path(), env);
  }
  std::string PrefixOf(const std::string& bnx) {
    const Json::Value j = DecodeBnxWithFlatc(bnx, TALVEX_FLATC, TALVEX_SCHEMA_DIR);
    char buf[32];
    std::snprintf(buf, sizeof buf, "BNX_0x%X", j["header"]["crc"].asUInt());
    return buf;
  }
  Generated GenLegacy(const std::string& target, const std::vector<LegacyModel>& models, const std::string& name) {
    Generated g;
    g.models = models;
    const LegacyPair pair = BuildLegacyPair(models, false, 0xCD);
    const std::string fw = dir_ / (name + "_fw_info.bin");
    const std::string all = dir_ / (name + "_all.bin");
    WriteLegacyPair(pair, fw, all);
    RunResult r = Tool({"-G", "-t", target, "-h", fw, "-m", all, "-O", dir_ / "gen", "-o", name, "-a", "sol", "-b", "tag"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    g.bnx = dir_ / ("gen/" + name + ".bnx");
    g.fw_info = ReadBytes(fw);
    EXPECT_EQ(g.fw_info.size(), 60 * models.size() + 20);
    g.all_models = pair.all_models;
    g.prefix = PrefixOf(g.bnx);
    return g;
  }
  Generated GenTxm(const std::string& name, const SampleTxmOptions& options = {}) {
    Generated g;
    g.all_models = BuildSampleTxm(options);
    const std::string txm = dir_ / (name + ".txm");
    WriteBytes(txm, g.all_models);
    RunResult r = Tool({"-G", "-t", "400", "-e", txm, "-O", dir_ / "gen", "-o", name, "-a", "sol", "-b", "tag"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    g.bnx = dir_ / ("gen/" + name + ".bnx");
    g.prefix = PrefixOf(g.bnx);
    return g;
  }
  Bytes Out(const std::string& name) { return ReadBytes(out_ + "/" + name); }

  TempDir dir_;
  std::string out_ = dir_ / "out";
};

TEST_F(ExtractCliTest, ModelContainerRoundTrip) {
  const Generated g = GenTxm("net");
  RunResult r = Tool({"-X", g.bnx, "-O", out_});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string txm_name = g.prefix + "_models_400.txm";
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(out_ + "/" + txm_name) + "\n");
  EXPECT_EQ(DirEntries(out_), Strings{txm_name});
  EXPECT_EQ(Out(txm_name), g.all_models);

  // Generating again from the extracted file gives the same container, byte for byte.
  r = Tool({"-G", "-t", "400", "-e", out_ + "/" + txm_name, "-O", dir_ / "again", "-o", "net", "-a", "sol", "-b", "tag"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadBytes(dir_ / "again/net.bnx"), ReadBytes(g.bnx));
}

TEST_F(ExtractCliTest, LegacyRoundTripAndTheUnnamedPairIsRenamed) {
  struct Case {
    std::string target;
    LegacySetupForm form;
  };
  for (const Case& c : {Case{"100", LegacySetupForm::kRaw}, Case{"200", LegacySetupForm::kFlatbuffer},
                        Case{"300", LegacySetupForm::kFlatbuffer}}) {
    SCOPED_TRACE(c.target);
    const Generated g = GenLegacy(c.target, SampleLegacyModels(c.form), "m" + c.target);
    const std::string out = out_ + c.target;
    RunResult r = Tool({"-X", g.bnx, "-O", out});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(out + "/fw_info.bin") + "\n" + RealPath(out + "/all_models.bin") + "\n");
    EXPECT_EQ(DirEntries(out), (Strings{"all_models.bin", "fw_info.bin"}));
    EXPECT_EQ(ReadBytes(out + "/fw_info.bin"), g.fw_info);
    EXPECT_EQ(ReadBytes(out + "/all_models.bin"), g.all_models);

    r = Tool({"-G", "-t", c.target, "-h", out + "/fw_info.bin", "-m", out + "/all_models.bin", "-O", dir_ / "again",
              "-o", "m" + c.target, "-a", "sol", "-b", "tag"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(ReadBytes(dir_ / ("again/m" + c.target + ".bnx")), ReadBytes(g.bnx));
    EXPECT_EQ(ReadBytes(out + "/fw_info.bin"), g.fw_info);  // already carried its CRC section
  }
}

TEST_F(ExtractCliTest, KeepAllLeavesThePerModelFiles) {
  for (const std::string target : {"100", "300"}) {
    SCOPED_TRACE(target);
    const Generated g = GenLegacy(target, SampleLegacyModels(target == "100" ? LegacySetupForm::kRaw
                                                                             : LegacySetupForm::kFlatbuffer),
                                  "k" + target);
    const std::string out = out_ + target;
    RunResult r = Tool({"-X", g.bnx, "-l", "-O", out});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string conf = target == "100" ? "_test.conf" : "_apb.npu";
    Strings expected = {"all_models.bin", "fw_info.bin"};
    for (const char* id : {"7", "9"}) {
      const std::string stem = g.prefix + "_modelid_" + id;
      for (const std::string& suffix : Strings{"_command.bin", "_weight.bin", "_setup.bin", conf}) {
        expected.push_back(stem + suffix);
      }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(DirEntries(out), expected);
    for (size_t i = 0; i < 2; ++i) {
      const std::string stem = out + "/" + g.prefix + "_modelid_" + std::to_string(g.models[i].id);
      EXPECT_EQ(ReadBytes(stem + "_command.bin"), g.models[i].cmd);
      EXPECT_EQ(ReadBytes(stem + "_weight.bin"), g.models[i].weight);
      EXPECT_EQ(ReadBytes(stem + "_setup.bin"), g.models[i].setup);
    }
  }
}

TEST_F(ExtractCliTest, OutputNameKeepsThePrefixedPair) {
  const Generated g = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "n");
  RunResult r = Tool({"-X", g.bnx, "-O", out_, "-o", "N"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(out_ + "/N_fw_info.bin") + "\n" + RealPath(out_ + "/N_all_models.bin") + "\n");
  EXPECT_EQ(DirEntries(out_), (Strings{"N_all_models.bin", "N_fw_info.bin"}));
  EXPECT_EQ(Out("N_fw_info.bin"), g.fw_info);
  EXPECT_EQ(Out("N_all_models.bin"), g.all_models);

  r = Tool({"-X", g.bnx, "-O", out_, "-o", "N", "-l"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(Out("N_modelid_9_weight.bin"), g.models[1].weight);
  EXPECT_EQ(ReadText(out_ + "/N_modelid_9_test.conf"), "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n");
}

TEST_F(ExtractCliTest, SetupParsingWithTheRealParserAndTheModelTable) {
  ASSERT_TRUE(Exists(std::string(TALVEX_SETUP_PARSER)));
  const Generated g = GenLegacy("100", {TZ100Model()}, "s");
  RunResult r = Tool({"-X", g.bnx, "-s", "-O", out_});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string stem = RealPath(out_) + "/" + g.prefix + "_modelid_5";
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(out_ + "/fw_info.bin") + "\n" + RealPath(out_ + "/all_models.bin") +
                       "\n" + stem + "_setup.bin.json\n" + kTZ100Report);
  // Unnamed and without -l the per-model files and their JSON views stay.
  Strings expected = {"all_models.bin", "fw_info.bin", g.prefix + "_modelid_5_command.bin",
                      g.prefix + "_modelid_5_setup.bin", g.prefix + "_modelid_5_setup.bin.json",
                      g.prefix + "_modelid_5_test.conf", g.prefix + "_modelid_5_weight.bin"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(DirEntries(out_), expected);
  const Json::Value j = ParseJson(ReadText(stem + "_setup.bin.json"));
  EXPECT_EQ(j["header"]["input_row"].asInt(), 224);

  // With an output name they are removed at the end.
  const std::string named = dir_ / "named";
  r = Tool({"-X", g.bnx, "-s", "-O", named, "-o", "N"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, kTZ100Report));
  EXPECT_EQ(DirEntries(named), (Strings{"N_all_models.bin", "N_fw_info.bin"}));
}

// talvex_bnx_utils copied beside a stand-in parser that records its arguments, in folders
// whose names hold blanks and shell metacharacters.
class StandInParserTest : public ExtractCliTest {
 protected:
  void SetUp() override {
    bin_dir_ = dir_ / "bin dir";
    mkdir(bin_dir_.c_str(), 0755);
    bin_ = bin_dir_ + "/talvex_bnx_utils";
    WriteBytes(bin_, ReadBytes(TALVEX_BIN));
    chmod(bin_.c_str(), 0755);
    WriteText(bin_dir_ + "/talvex_setup_parser",
              "#!/bin/sh\n"
              "printf '%s|' \"$#\" \"$@\" >> \"$(dirname \"$0\")/args.txt\"\n"
              "printf '\\n' >> \"$(dirname \"$0\")/args.txt\"\n"
              "exit ${FAKE_STATUS:-0}\n");
    chmod((bin_dir_ + "/talvex_setup_parser").c_str(), 0755);
  }
  Strings Calls() { return Lines(ReadText(bin_dir_ + "/args.txt")); }

  std::string bin_dir_, bin_;
};

TEST_F(StandInParserTest, CommandLinesFollowTheSetupForm) {
  const std::string odd_out = dir_ / "out $(touch INJECTED) it's";
  const Generated raw = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "r");
  RunResult r = Tool({"-X", raw.bnx, "-s", "-O", odd_out}, {}, bin_);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string stem = RealPath(odd_out) + "/" + raw.prefix + "_modelid_";
  EXPECT_EQ(Calls(), (Strings{"3|" + stem + "7_setup.bin|-p100|-j|", "3|" + stem + "9_setup.bin|-p100|-j|"}));
  EXPECT_TRUE(HasLine(r.out, stem + "7_setup.bin.json"));
  EXPECT_TRUE(HasLine(r.out, "┌ Model #2 ──────────────────────────────────────────────────┐"));
  EXPECT_FALSE(Exists(dir_ / "INJECTED"));

  remove((bin_dir_ + "/args.txt").c_str());
  const Generated fb = GenLegacy("300", SampleLegacyModels(LegacySetupForm::kFlatbuffer), "f");
  r = Tool({"-X", fb.bnx, "-s", "-O", odd_out, "-o", "F"}, {}, bin_);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string fstem = RealPath(odd_out) + "/F_modelid_";
  EXPECT_EQ(Calls(), (Strings{"1|" + fstem + "7_setup.bin|", "1|" + fstem + "9_setup.bin|"}));
  EXPECT_TRUE(HasLine(r.out, "│setup.bin format = [FlatBuffers]                            │"));
}

TEST_F(StandInParserTest, AFailingParserFailsTheRunButTheReportIsPrinted) {
  const Generated g = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "r");
  RunResult r = Tool({"-X", g.bnx, "-s", "-O", out_}, {"FAKE_STATUS=3"}, bin_);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(Calls().size(), 2u);
  EXPECT_FALSE(Contains(r.out, "_setup.bin.json"));
  EXPECT_TRUE(Contains(r.err, "talvex_setup_parser failed (status 3)"));
  EXPECT_TRUE(HasLine(r.out, "┌ Model #1 ──────────────────────────────────────────────────┐"));
}

TEST_F(ExtractCliTest, ModelContainerWithSetupParsing) {
  const Generated g = GenTxm("net");
  RunResult r = Tool({"-X", g.bnx, "-s", "-O", out_});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const Strings lines = Lines(r.out);
  ASSERT_GE(lines.size(), 8u);
  const std::string m1 = "01_" + g.prefix + "_model_1.txm";
  const std::string m2 = "02_" + g.prefix + "_model_2.txm";
  EXPECT_EQ(lines[0], "Extract_Status: 0");
  EXPECT_EQ(lines[1], RealPath(out_ + "/" + g.prefix + "_models_400.txm"));
  EXPECT_EQ(lines[2], out_ + "/" + m1 + ".no_binary.json");
  EXPECT_EQ(lines[3], out_ + "/" + m2 + ".no_binary.json");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5].rfind("DDR start addr                 = [0x", 0), 0u) << lines[5];
  EXPECT_TRUE(HasLine(r.out, "┌ Model #2 ──────────────────────────────────────────────────┐"));
  for (const std::string& f : {m1, m2, m1 + ".no_binary.json", m2 + ".no_binary.json"}) {
    EXPECT_GT(Out(f).size(), 0u) << f;
  }
  EXPECT_TRUE(Exists(out_ + "/model_1_core_0_cmd_buffer.bin"));
  EXPECT_TRUE(Exists(out_ + "/model_2_core_0_weight_buffer.bin"));

  // -l alone splits the model file but writes no views and no report.
  const std::string kept = dir_ / "kept";
  r = Tool({"-X", g.bnx, "-l", "-O", kept, "-o", "K"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(kept + "/K_models_400.txm") + "\n");
  EXPECT_EQ(DirEntries(kept), (Strings{"01_K_model_1.txm", "02_K_model_2.txm", "K_models_400.txm"}));
}

TEST_F(ExtractCliTest, ABrokenModelFileStopsTheRunWithItsLine) {
  SampleBnx s;  // TZ400, major 2, payload of 100 bytes that is no TXM file
  WriteBytes(dir_ / "bad.bnx", BuildBnx(s));
  RunResult r = Tool({"-X", dir_ / "bad.bnx", "-s", "-O", out_});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.err, "Failed to ExtractTxm with model_id: -1\n")) << r.err;
  EXPECT_TRUE(HasLine(r.out, "Extract_Status: 0"));
}

TEST_F(ExtractCliTest, SeveralContainersInOneCall) {
  const Generated a = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "a");
  const Generated b = GenTxm("b");
  RunResult r = Tool({"-X", a.bnx + " " + b.bnx, "-O", out_});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + RealPath(out_ + "/fw_info.bin") + "\n" + RealPath(out_ + "/all_models.bin") +
                       "\nExtract_Status: 0\n" + RealPath(out_ + "/" + b.prefix + "_models_400.txm") + "\n");

  // One output name for both: the second replaces the first.
  const Generated c = GenLegacy("300", SampleLegacyModels(LegacySetupForm::kFlatbuffer), "c");
  const std::string named = dir_ / "named";
  r = Tool({"-X", a.bnx + " " + c.bnx, "-O", named, "-o", "N"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string pair = RealPath(named + "/N_fw_info.bin") + "\n" + RealPath(named + "/N_all_models.bin") + "\n";
  EXPECT_EQ(r.out, "Extract_Status: 0\n" + pair + "Extract_Status: 0\n" + pair);
  EXPECT_EQ(ReadBytes(named + "/N_all_models.bin"), c.all_models);
}

TEST_F(ExtractCliTest, PathsWithBlanks) {
  const Generated g = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "p");
  mkdir((dir_ / "my models").c_str(), 0755);
  const std::string spaced = dir_ / "my models/a  b.bnx";
  WriteBytes(spaced, ReadBytes(g.bnx));
  const std::string out = dir_ / "out dir";
  RunResult r = Tool({"-X", spaced, "-O", out, "-l"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadBytes(out + "/all_models.bin"), g.all_models);
  EXPECT_EQ(ReadBytes(out + "/" + g.prefix + "_modelid_7_command.bin"), g.models[0].cmd);

  // A spaced path and a plain one in one argument.
  const Generated t = GenTxm("t");
  r = Tool({"-X", spaced + " " + t.bnx, "-O", dir_ / "both"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  Strings both = {t.prefix + "_models_400.txm", "all_models.bin", "fw_info.bin"};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(DirEntries(dir_ / "both"), both);

  r = Tool({"-I", spaced});
  ASSERT_EQ(r.status, 0);
  EXPECT_TRUE(HasLine(r.out, "crc                  : " + g.prefix.substr(4)));
}

TEST_F(ExtractCliTest, HostileContainersFailClearlyAndWriteNothing) {
  const LegacyPair pair = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kRaw), true);
  SampleBnx s;
  s.target = 0;
  s.major = 0;
  s.fw_info = pair.fw_info;
  s.all_models = pair.all_models;
  const Bytes good = BuildBnx(s);

  struct Case {
    std::string name;
    Bytes bytes;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back({"truncated", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
                   "not a valid BNX file"});
  SampleBnx t = s;
  t.fw_info[0] = 200;  // 200 records in a table of 2
  cases.push_back({"count", BuildBnx(t), "fw_info.bin lists 200 models"});
  t = s;
  t.fw_info[4 + 9 * 4 + 1] = 0x10;  // model 0's command grows by 4096 bytes
  cases.push_back({"sizes", BuildBnx(t), "all_models.bin has"});
  t = s;
  t.all_models.resize(t.all_models.size() - 3);
  cases.push_back({"short payload", BuildBnx(t), "all_models.bin has"});
  t = s;
  t.with_header = false;
  cases.push_back({"no header", BuildBnx(t), "no header"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_ / (c.name + ".bnx");
    WriteBytes(path, c.bytes);
    const std::string out = dir_ / ("o_" + c.name);
    for (const Strings& extra : {Strings{}, Strings{"-l", "-s"}, Strings{"-o", "N"}}) {
      Strings args = {"-X", path, "-O", out};
      args.insert(args.end(), extra.begin(), extra.end());
      RunResult r = Tool(args);
      EXPECT_NE(r.status, 0);
      EXPECT_TRUE(Contains(r.out + r.err, c.message)) << r.out << r.err;
      EXPECT_TRUE(HasLine(r.out, "Extract_Status: -1")) << r.out;
      EXPECT_EQ(DirEntries(out), Strings{});
    }
  }

  // A missing container, then a good one: the good one is still extracted, the run fails.
  WriteBytes(dir_ / "good.bnx", good);
  RunResult r = Tool({"-X", (dir_ / "missing.bnx") + " " + (dir_ / "good.bnx"), "-O", out_});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out + r.err, "BNX file not exist: " + (dir_ / "missing.bnx")));
  EXPECT_EQ(DirEntries(out_), (Strings{"all_models.bin", "fw_info.bin"}));
}

TEST_F(ExtractCliTest, ABlankArgumentReachedThroughVersionFails) {
  RunResult r = Tool({"-X", " ", "-V", "-O", out_});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.err, "No BNX file to extract\n")) << r.err;
  r = Tool({"-I", " ", "-V", "-O", out_});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(Contains(r.err, "BNX file not exist: \n")) << r.err;
}

TEST_F(ExtractCliTest, OutputFilesThatCannotBeCreatedAreReported) {
  const Generated g = GenLegacy("100", SampleLegacyModels(LegacySetupForm::kRaw), "w");
  mkdir(out_.c_str(), 0755);
  mkdir((out_ + "/N_fw_info.bin").c_str(), 0755);
  RunResult r = Tool({"-X", g.bnx, "-O", out_, "-o", "N"});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out + r.err, "Failed to write the file: " + out_ + "/N_fw_info.bin")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "Extract_Status: -1"));

  // The renamed pair of an unnamed extraction.
  mkdir((out_ + "/all_models.bin").c_str(), 0755);
  r = Tool({"-X", g.bnx, "-O", out_});
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(Contains(r.out + r.err, "Failed to rename")) << r.out;
}

// ---- -I ----

TEST_F(ExtractCliTest, InfoReportLayout) {
  SampleBnx s;
  s.platform = "tz-x";
  s.crc = 0x1A2B3C4D;
  s.tv_number = 0x10;
  s.encryption_mode = 2;
  s.compiler_version = "c 1.0";
  s.toolchain_version = "t\n2.0";
  s.uuid = 0xDEADBEEF;
  s.solution_id = "id";
  s.solution_tag = "a\nb\nc";
  s.models = {{"det", 32768, "1.0"}, {"cls", -1, "2.1"}};
  WriteBytes(dir_ / "i.bnx", BuildBnx(s));
  RunResult r = Tool({"-I", dir_ / "i.bnx", "-O", out_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "BNX Header:\n"
            "------------------------------------------------------------\n"
            "platform             : tz-x\n"
            "target               : 400\n"
            "crc                  : 0x1A2B3C4D\n"
            "tv_number            : 0x10\n"
            "encryption_mode      : TV_Number\n"
            "compiler_version     : c 1.0\n"
            "toolchain_version    : t,2.0\n"
            "schema_version       : v2.0.1\n"
            "uuid                 : 0xDEADBEEF\n"
            "solution_id          : id\n"
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
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(DirEntries(out_), Strings{});
}

TEST_F(ExtractCliTest, InfoOnMissingUnreadableAndOddContainers) {
  RunResult r = Tool({"-I", dir_ / "none.bnx"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "BNX file not exist: " + (dir_ / "none.bnx") + "\n");

  // Not a container: every value is empty, the result is still 0.
  WriteBytes(dir_ / "junk.bnx", Bytes(64, 7));
  r = Tool({"-I", dir_ / "junk.bnx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(HasLine(r.out, "platform             : "));
  EXPECT_TRUE(HasLine(r.out, "solution_tag         : "));
  EXPECT_TRUE(HasLine(r.out, "============================================================"));

  // A target outside the known ones is shown empty, not a crash.
  SampleBnx s;
  s.target = 42;
  WriteBytes(dir_ / "t.bnx", BuildBnx(s));
  r = Tool({"-I", dir_ / "t.bnx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(HasLine(r.out, "target               : "));
  EXPECT_TRUE(HasLine(r.out, "crc                  : 0x1A2B3C4D"));
}

TEST_F(ExtractCliTest, InfoWithSetupParsingExtractsQuietly) {
  const Generated g = GenLegacy("100", {TZ100Model()}, "q");
  RunResult r = Tool({"-I", g.bnx, "-s", "-O", out_});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(Contains(r.out, "Extract_Status"));
  EXPECT_FALSE(Contains(r.out, ".json"));
  const std::string tail = std::string("\n============================================================\n\n") + kTZ100Report;
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_TRUE(Exists(out_ + "/" + g.prefix + "_modelid_5_setup.bin.json"));
  EXPECT_EQ(ReadBytes(out_ + "/all_models.bin"), g.all_models);

  // The extraction's own failure does not change the result.
  SampleBnx bad;
  WriteBytes(dir_ / "bad.bnx", BuildBnx(bad));
  r = Tool({"-I", dir_ / "bad.bnx", "-s", "-O", dir_ / "o2"});
  EXPECT_EQ(r.status, 0);
}

}  // namespace
