// End-to-end: what a build farm does to the tool. Inputs that shrink while they are read, runs
// killed midway and runs side by side on one file or folder end cleanly, lose no change and
// leave no temporary file behind.
#include <fmt/format.h>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

class FaultsTest : public ToolTest {
 protected:
  // A TZ300 container whose payload is about mib MiB, so that a run takes long enough to be
  // caught in the middle.
  std::string BigLegacy(const std::string& name, size_t mib) {
    std::vector<LegacyModel> models = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
    models[0] = MakeLegacyModel(models[0].id, 1, 4096, mib << 20, models[0].setup);
    models[1] = MakeLegacyModel(models[1].id, 1, 64, 1024, models[1].setup);  // -E scrambles whole blocks
    return Write(name, BuildBnx(LegacyBnx(2, BuildLegacyPair(models, true))));
  }
  // One shell line in the test's folder; $T is the tool.
  RunResult Shell(const std::string& script) {
    return testsupport::Run({"/bin/sh", "-c", script}, dir_.path(), {"NO_COLOR=1", std::string("T=") + TALVEX_BIN});
  }
  // Waits for the runs started as $p0 ... and prints 0 when all succeeded, then their errors.
  static std::string WaitAll(size_t runs) {
    std::string script = "fail=0; ";
    for (size_t i = 0; i < runs; ++i) script += fmt::format("wait $p{} || fail=$?; ", i);
    return script + "echo $fail; cat e*.txt";
  }
  // Hidden files (temporaries) anywhere below folder.
  Strings Hidden(const std::string& folder) {
    Strings found;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().filename().string().rfind('.', 0) == 0) found.push_back(it->path().string());
    }
    return found;
  }
};

// Whatever moment the input is cut short at, the run ends with a status, never a signal: either
// it was done before, or it fails naming the file. Nothing half-made stays.
TEST_F(FaultsTest, InputCutShortWhileReadFailsCleanly) {
  BigLegacy("big.bnx", 48);
  const Bytes whole = ReadBytes(dir_ / "big.bnx");
  const Strings runs = {"-X big.bnx -O out", "-X big.bnx -s -l -O out", "-E big.bnx --TV 5 -O out", "--verify big.bnx",
                        "-U big.bnx --model_info_version 2 -O out", "-c big.bnx small.bnx -O out"};
  Write("small.bnx", BuildBnx(LegacyBnx(2, BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true))));
  int cut_midway = 0;
  for (const std::string& run : runs) {
    for (const char* delay : {"0.02", "0.06", "0.15"}) {
      WriteBytes(dir_ / "big.bnx", whole);
      const RunResult r = Shell(fmt::format("$T {} >o.txt 2>e.txt & sleep {}; truncate -s 8192 big.bnx; wait $!; "
                                            "echo $?; cat e.txt",
                                            run, delay));
      const int status = std::stoi(r.out);
      EXPECT_TRUE(status < 128 || status == 255) << "a signal: " << run << " after " << delay << "s\n" << r.out;
      if (Contains(r.out, "big.bnx changed while it was being read")) {
        ++cut_midway;
        EXPECT_NE(status, 0) << run << r.out;
      }
      EXPECT_EQ(Hidden(dir_.path()), Strings{}) << run[0];
      std::filesystem::remove_all(dir_ / "out");
    }
  }
  // Most runs take longer than the shortest delay: some at least were caught midway.
  EXPECT_GT(cut_midway, 0);
}

// A killed run leaves no temporary file: outputs have no name until they are whole.
TEST_F(FaultsTest, KilledRunsLeaveNothingBehind) {
  BigLegacy("big.bnx", 64);
  ASSERT_EQ(Tool({"-X", "big.bnx", "-O", "pair"}).status, 0);
  for (const std::string& run : {"-X big.bnx -O out", "-G -t 300 -h pair/fw_info.bin -m pair/all_models.bin -O out",
                                 "-c big.bnx big.bnx -O out"}) {
    for (const char* delay : {"0.01", "0.05", "0.1"}) {
      const RunResult r = Shell(fmt::format("$T {} >/dev/null 2>&1 & sleep {}; kill -9 $!; wait $!; echo $?", run, delay));
      EXPECT_EQ(Hidden(dir_.path()), Strings{}) << run << " killed after " << delay << "s: " << r.out;
      std::filesystem::remove_all(dir_ / "out");
    }
  }
}

// Eight runs rewriting one container in place take turns: every change survives.
TEST_F(FaultsTest, ConcurrentUpdatesInPlaceLoseNothing) {
  Write("c.bnx", BuildBnx(SampleBnx()));
  const Strings updates = {
      "--update_solution_info c.bnx -a id1",  "-U c.bnx --model_info_version v1", "--update_solution_info c.bnx -b tag1",
      "-U c.bnx --model_info_name n1",         "--update_solution_info c.bnx -a id2", "-U c.bnx --model_info_version v2",
      "--update_solution_info c.bnx -b tag2", "-U c.bnx --model_info_name n2"};
  std::string script;
  for (size_t i = 0; i < updates.size(); ++i) {
    script += fmt::format("$T {} --replace_original >/dev/null 2>e{}.txt & p{}=$!; ", updates[i], i, i);
  }
  const RunResult r = Shell(script + WaitAll(updates.size()));
  EXPECT_EQ(r.out.substr(0, 2), "0\n") << r.out;
  const Json::Value doc = Decode(dir_ / "c.bnx");
  const auto either = [](const Json::Value& v, const char* a, const char* b) {
    return v.asString() == a || v.asString() == b;
  };
  EXPECT_TRUE(either(doc["header"]["solution_id"], "id1", "id2")) << doc["header"];
  EXPECT_TRUE(either(doc["header"]["solution_tag"], "tag1", "tag2")) << doc["header"];
  EXPECT_TRUE(either(doc["model_info"][0]["version"], "v1", "v2")) << doc["model_info"];
  EXPECT_TRUE(either(doc["model_info"][0]["name"], "n1", "n2")) << doc["model_info"];
  EXPECT_EQ(RunTool(TALVEX_BIN, {"--verify", "c.bnx"}, dir_.path()).status, 0);
  EXPECT_EQ(DirEntries(dir_.path()).size(), 9u);  // c.bnx and the error files: no folder, no temporary
}

// Eight extractions into one folder all succeed, and each file there is whole.
TEST_F(FaultsTest, ConcurrentExtractionsIntoOneFolderAllSucceed) {
  BigLegacy("big.bnx", 4);
  ASSERT_EQ(Tool({"-X", "big.bnx", "-O", "one"}).status, 0);
  std::string script;
  for (int i = 0; i < 8; ++i) script += fmt::format("$T -X big.bnx -O out >/dev/null 2>e{}.txt & p{}=$!; ", i, i);
  const RunResult r = Shell(script + WaitAll(8));
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(DirEntries(dir_ / "out"), (Strings{"all_models.bin", "fw_info.bin"}));
  for (const char* name : {"all_models.bin", "fw_info.bin"}) {
    EXPECT_EQ(ReadBytes(dir_ / ("out/" + std::string(name))), ReadBytes(dir_ / ("one/" + std::string(name)))) << name;
  }
}

// --replace_original with a bare file name replaces that file in the working folder.
TEST_F(FaultsTest, ReplaceOriginalTakesABareNameInTheWorkingFolder) {
  Write("c.bnx", BuildBnx(SampleBnx()));
  const RunResult r = Tool({"-U", "c.bnx", "--model_info_version", "2.0", "--replace_original"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Decode(dir_ / "c.bnx")["model_info"][0]["version"].asString(), "2.0");
  EXPECT_EQ(DirEntries(dir_.path()), Strings{"c.bnx"});
}

}  // namespace
