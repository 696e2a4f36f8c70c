// End-to-end: the tool never loses a file. Output folders are made with their parents or the
// command fails before writing; inputs stay byte for byte; an output never takes an input's
// place without --replace_original; read-only commands leave no folder behind.
#include <map>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

class DataLossTest : public ToolTest {
 protected:
  void SetUp() override {
    // Bystanders in the working folder, named as extraction names its files.
    WriteText(dir_ / "fw_info.bin", "keep me");
    WriteText(dir_ / "all_models.bin", "keep me too");
    const LegacyPair pair = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false);
    WriteBytes(dir_ / "fw.bin", pair.fw_info);  // without its CRC section: -G must add it in memory
    WriteBytes(dir_ / "all.bin", pair.all_models);
    const auto models = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
    WriteBytes(dir_ / "m300.bnx", BuildBnx(LegacyBnx(2, BuildLegacyPair(models, true))));
    ASSERT_EQ(testsupport::Run({"/bin/mkdir", "-p", dir_ / "output"}).status, 0);
    WriteBytes(dir_ / "output/models_400.bnx", BuildBnx(SampleBnx()));
    WriteBytes(dir_ / "m400.bnx", BuildBnx(SampleBnx()));
    WriteSampleTxm(dir_ / "m.txm");
    WriteSampleTxm(dir_ / "t.bnx");  // a TXM file under a container's name
    // An output folder where all_models.bin cannot go, beside an earlier fw_info.bin.
    ASSERT_EQ(testsupport::Run({"/bin/mkdir", "-p", dir_ / "blocked/all_models.bin"}).status, 0);
    WriteText(dir_ / "blocked/fw_info.bin", "earlier");
  }
  RunResult Tool(const Strings& args) { return ToolTest::Tool(args, {"SPDLOG_LEVEL=", "NO_COLOR=1"}); }
  std::map<std::string, Bytes> Snapshot(const Strings& names) {
    std::map<std::string, Bytes> m;
    for (const std::string& n : names) m[n] = Exists(dir_ / n) ? ReadBytes(dir_ / n) : Bytes();
    return m;
  }
};

TEST_F(DataLossTest, NothingIsLostOrWrittenWhereItShouldNotBe) {
  struct Case {
    Strings args;
    int status;
    const char* stream;  // "out" or "err": where fragment must appear
    std::string fragment;
    Strings untouched;  // files (relative to the working folder) that must keep their bytes
    Strings absent;     // paths that must not exist afterwards
    Strings present;    // paths that must exist afterwards
  };
  const Strings bystanders = {"fw_info.bin", "all_models.bin"};
  const Case cases[] = {
      // A missing parent is made too; nothing lands in the working folder.
      {{"-X", "m300.bnx", "-O", "missing/sub/"}, 0, "out", "Extract_Status: 0", bystanders, {},
       {"missing/sub/fw_info.bin", "missing/sub/all_models.bin"}},
      // Also when -V stops option reading and the mode runs at once.
      {{"-X", "m300.bnx", "-O", "v/sub", "-V"}, 0, "out", "talvex_bnx_utils version:", bystanders, {},
       {"v/sub/fw_info.bin"}},
      // A folder that cannot be made stops the command before anything is written.
      {{"-X", "m300.bnx", "-O", "/proc/x/"}, 255, "err", "Failed to create the output folder /proc/x/",
       bystanders, {"/proc/x"}, {}},
      {{"-X", "m300.bnx", "-O", "fw_info.bin/sub"}, 255, "err", "Failed to create the output folder fw_info.bin/sub",
       bystanders, {}, {}},
      // A pair that cannot be put in place replaces neither file of an earlier pair.
      {{"-X", "m300.bnx", "-O", "blocked"}, 255, "err", "Failed to write the file: blocked/all_models.bin", {"blocked/fw_info.bin"}, {}, {}},
      // The user's fw_info.bin stays as it is; the CRC section goes into the container only.
      {{"-G", "-t", "300", "-h", "fw.bin", "-m", "all.bin", "-O", "gen"}, 0, "out", "gen/models_300.bnx",
       {"fw.bin", "all.bin"}, {}, {"gen/models_300.bnx"}},
      // -U on a file in the default output folder would replace its own input.
      {{"-U", "output/models_400.bnx", "--model_info_version", "2.0"}, 255, "err",
       "Refusing to replace the input file output/models_400.bnx", {"output/models_400.bnx"}, {}, {}},
      {{"--update_solution_info", "output/models_400.bnx", "-a", "9"}, 255, "err",
       "Refusing to replace the input file output/models_400.bnx", {"output/models_400.bnx"}, {}, {}},
      {{"-U", "./m400.bnx", "-O", ".", "-o", "m400", "--model_info_version", "2.0"}, 255, "err",
       "Refusing to replace the input file", {"m400.bnx"}, {}, {}},
      // With --replace_original it is meant (and atomic: see the folder listing below).
      {{"-U", "output/models_400.bnx", "--model_info_version", "2.0", "--replace_original"}, 0, "out",
       "BNX file with updated model info has been generated in:", {}, {}, {"output/models_400.bnx"}},
      // An output name that matches an input is refused for the generation too.
      {{"-G", "-t", "400", "-e", "t.bnx", "-O", ".", "-o", "t"}, 255, "err", "Refusing to replace the input file ./t.bnx",
       {"t.bnx"}, {}, {}},
  };
  for (const Case& c : cases) {
    const std::string what = c.args[0] + " " + c.args[1] + " " + c.args.back();
    const auto before = Snapshot(c.untouched);
    const RunResult r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << what << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(std::string(c.stream) == "out" ? r.out : r.err, c.fragment)) << what << "\n" << r.out << r.err;
    EXPECT_EQ(Snapshot(c.untouched), before) << what;
    for (const std::string& p : c.absent) EXPECT_FALSE(Exists(p[0] == '/' ? p : dir_ / p)) << what << " " << p;
    for (const std::string& p : c.present) EXPECT_TRUE(Exists(dir_ / p)) << what << " " << p;
  }
  // No temporary file is left next to a refused or replaced output.
  EXPECT_EQ(DirEntries(dir_ / "output"), Strings{"models_400.bnx"});
}

// Read-only commands make no folder; a writing command that fails takes away the empty folders it
// made, and only those.
TEST_F(DataLossTest, OnlyWritingCommandsThatSucceedLeaveTheirFolder) {
  ASSERT_EQ(testsupport::Run({"/bin/rm", "-r", dir_ / "output"}).status, 0);
  WriteText(dir_ / "bad.bnx", "not a container");
  const std::pair<Strings, bool> cases[] = {  // arguments, succeeds
      {{"-R", "m400.bnx", "-k", "target"}, true}, {{"-M", "m400.bnx", "-N", "0"}, true}, {{"-C", "m400.bnx"}, true},
      {{"-A", "m.txm"}, true}, {{"-I", "m400.bnx"}, true}, {{"-R", "m400.bnx", "-k", "crc", "-O", "new"}, true},
      {{"-C", "m400.bnx", "-O", "new"}, true}, {{"-O", "new", "-C", "m400.bnx", "-V"}, true},
      {{"--folder", "new/b", "-C", "m400.bnx"}, true}, {{"-I", "bad.bnx", "-s"}, false}, {{"-X", "bad.bnx"}, false},
      {{"-X", "bad.bnx", "-O", "new/sub"}, false}, {{"-c", "bad.bnx", "m400.bnx", "-O", "new/sub/"}, false},
      {{"-G", "-t", "600", "-e", "missing.txm", "-O", "new"}, false}, {{"-E", "bad.bnx", "-n", "3", "-O", "new"}, false},
      {{"-j", "bad.bnx", "-O", "new"}, false}};  // the last stops with an exception
  for (const auto& [args, ok] : cases) {
    const RunResult r = Tool(args);
    EXPECT_EQ(r.status == 0, ok) << args[0] << " " << args[1] << r.err;
    EXPECT_FALSE(Exists(dir_ / "output") || Exists(dir_ / "new")) << args[0] << " " << args[1] << " " << args.back();
  }
  // A folder that was there before stays, empty or not.
  ASSERT_EQ(testsupport::Run({"/bin/mkdir", "-p", dir_ / "old/empty"}).status, 0);
  EXPECT_NE(Tool({"-X", "bad.bnx", "-O", "old/empty/sub"}).status, 0);
  EXPECT_TRUE(Exists(dir_ / "old/empty"));
  EXPECT_FALSE(Exists(dir_ / "old/empty/sub"));
  // A command that succeeds keeps its folder.
  EXPECT_EQ(Tool({"-X", "m300.bnx", "-O", "new/sub"}).status, 0);
  EXPECT_TRUE(Exists(dir_ / "new/sub/fw_info.bin"));
}

}  // namespace
