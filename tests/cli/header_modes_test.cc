// End-to-end runs of -M, -U, --update_solution_info (and -M on what they write).
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "support/legacy_builder.h"
#include "support/tool_test.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

const std::string kHyphens = "---------------\n";
const std::string kModelInfoDone = "BNX file with updated model info has been generated in:\n";

class HeaderModesTest : public ToolTest {
 protected:
  void SetUp() override {
    sample_.models = {{"det", 32768, "1.0"}, {"cls", 32769, "2.1"}, {"seg", 7, "3"}};
    sample_.fw_info = {9, 8, 7, 6};
    sample_.platform = "tz";  // no empty text: object-API packing would drop it
    WriteBytes(input_, BuildBnx(sample_));
    WriteBytes(dir_ / "original.bnx", BuildBnx(sample_));
  }
  RunResult Tool(Strings args) {
    args.insert(args.end(), {"-O", out_});
    return ToolTest::Tool(args);
  }
  // The input as decoded, with one change: the written file must hold exactly that.
  void ExpectWritten(const std::string& path, const char* section, int index, const char* key, const char* value) {
    Json::Value want = DecodeBnxWithFlatc(dir_ / "original.bnx", TALVEX_FLATC, TALVEX_SCHEMA_DIR);
    (index < 0 ? want[section] : want[section][index])[key] = value;
    EXPECT_EQ(Decode(path), want);  // sealed too
  }
  std::string input_ = root_ + "/in.bnx";
  SampleBnx sample_;
};

TEST_F(HeaderModesTest, ModelInfoListsChosenPositionsAndMissingInputsAreReported) {
  EXPECT_EQ(Tool({"-M", input_, "-N", "0 2 5"}).out,
            "#001 {   32768} (       1.0) [det]\n" + kHyphens + "#003 {       7} (         3) [seg]\n" + kHyphens + kHyphens);
  const std::string missing = dir_ / "missing.bnx";
  for (const Strings& c : {Strings{"-M", missing, "-N", "0"}, Strings{"-U", missing, "--model_info_version", "1"},
                           Strings{"--update_solution_info", missing, "--solution_id", "1"},
                           Strings{"-R", missing, "-k", "target"}}) {  // -C: command_line_test
    RunResult r = Tool(c);
    EXPECT_EQ(r.status, 255) << c[0];
    EXPECT_EQ(r.out + r.err, "BNX file not exist: " + missing + "\n") << c[0];
  }
  EXPECT_EQ(DirEntries(out_), Strings{});
}

TEST_F(HeaderModesTest, UpdatesChangeOnlyTheGivenEntries) {
  EXPECT_EQ(Tool({"-U", input_, "--model_info_version", "2.0"}).out, kModelInfoDone + RealPath(out_ + "/models_400.bnx") + "\n");
  ExpectWritten(out_ + "/models_400.bnx", "model_info", 0, "version", "2.0");
  // Names and versions together; an empty entry sets an empty text; extra entries are ignored.
  EXPECT_EQ(Tool({"-U", input_, "--model_info_version", "a,,c,d,e", "--model_info_name", "x, y", "-o", "renamed"}).out,
            kModelInfoDone + RealPath(out_ + "/renamed.bnx") + "\n");
  EXPECT_EQ(Tool({"-M", out_ + "/renamed.bnx", "-N", "0 1 2"}).out, "#001 {   32768} (         a) [x]\n" + kHyphens +
                "#002 {   32769} (          ) [y]\n" + kHyphens + "#003 {       7} (         c) [seg]\n" + kHyphens);

  RunResult r = Tool({"--update_solution_info", dir_ / "missing.bnx"});  // the argument check comes first
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "[ERROR] Solution ID and Solution Tag are both empty\n");
  EXPECT_EQ(Tool({"--update_solution_info", input_, "--solution_tag", "new-tag"}).out,
            "BNX file with updated solution info has been generated in:\n" + RealPath(out_ + "/models_400.bnx") + "\n");
  ExpectWritten(out_ + "/models_400.bnx", "header", -1, "solution_tag", "new-tag");
  Tool({"--update_solution_info", input_, "--solution_id", "99", "-o", "s"});
  ExpectWritten(out_ + "/s.bnx", "header", -1, "solution_id", "99");
}

// Payloads of several MiB, TXM and legacy, come out byte for byte at a 32-aligned offset, with
// the header and model table around them rewritten; the fixture verifies every container written.
TEST_F(HeaderModesTest, UpdatesKeepLargePayloadsByteForByte) {
  SampleTxmOptions big;
  big.models[0].weight_bytes = size_t{6} << 20;
  SampleBnx txm = sample_;
  txm.all_models = BuildSampleTxm(big);
  SampleBnx legacy = sample_;
  legacy.target = 2;  // TZ300
  legacy.major = 1;
  const std::vector<uint8_t> setup = SampleLegacyModels(LegacySetupForm::kFlatbuffer)[0].setup;
  const LegacyPair pair = BuildLegacyPair({MakeLegacyModel(5, 1, 4096, size_t{6} << 20, setup)}, true);
  legacy.fw_info = pair.fw_info;
  legacy.all_models = pair.all_models;
  for (const auto& [s, name] : {std::make_pair(&txm, "models_400.bnx"), std::make_pair(&legacy, "models_300.bnx")}) {
    WriteBytes(input_, BuildBnx(*s));
    for (const Strings& args : {Strings{"-U", input_, "--model_info_name", "a name longer than the one before"},
                                Strings{"--update_solution_info", input_, "--solution_tag", "a longer solution tag"}}) {
      ASSERT_EQ(Tool(args).status, 0) << name << " " << args[0];
      const Bytes out = ReadBytes(out_ + "/" + name);
      const Bytes& payload = s->all_models;
      size_t found = 0;
      for (size_t at = 32; at + payload.size() <= out.size(); at += 32) {
        const uint8_t* p = out.data() + at;
        const uint32_t len = p[-4] | p[-3] << 8 | p[-2] << 16 | uint32_t{p[-1]} << 24;
        if (len == payload.size() && std::memcmp(p, payload.data(), payload.size()) == 0) found = at;
      }
      EXPECT_NE(found, 0u) << name << " " << args[0];
    }
  }
}

TEST_F(HeaderModesTest, ReplaceOriginalRewritesInPlaceOrNotAtAll) {
  EXPECT_EQ(Tool({"-U", input_, "--model_info_name", "renamed", "--replace_original"}).out,
            kModelInfoDone + RealPath(input_) + "\n");
  ExpectWritten(input_, "model_info", 0, "name", "renamed");
  // No temporary file beside the input, and no output folder: nothing is written there.
  EXPECT_EQ(DirEntries(dir_.path()), (Strings{"in.bnx", "original.bnx"}));

  // Unreadable, damaged (a payload that is no TXM file), or named so long that no temporary file
  // fits beside it: the original stays.
  const Bytes full = ReadBytes(input_);
  WriteBytes(dir_ / "cut.bnx", Bytes(full.begin(), full.begin() + static_cast<long>(full.size() / 2)));
  sample_.all_models.clear();
  WriteBytes(dir_ / "empty.bnx", BuildBnx(sample_));
  const std::string long_name = std::string(246, 'a') + ".bnx";
  WriteBytes(dir_ / long_name, full);
  const std::pair<std::string, std::string> cases[] = {  // file, what standard error says
      {"cut.bnx", "Not a valid BNX file."}, {"empty.bnx", dir_ / "empty.bnx: txm: FAILED: "}, {long_name, "Failed to write"}};
  for (const auto& [name, why] : cases) {
    const Bytes before = ReadBytes(dir_ / name);
    for (const Strings& args : {Strings{"-U", dir_ / name, "--model_info_version", "1", "--replace_original"},
                                Strings{"--update_solution_info", dir_ / name, "--solution_tag", "1", "--replace_original"}}) {
      RunResult r = Tool(args);
      EXPECT_NE(r.status, 0) << name << " " << args[0];
      EXPECT_TRUE(Contains(r.err, why)) << name << " " << args[0] << r.err;
      EXPECT_EQ(r.out.find("generated in"), std::string::npos) << r.out;
      EXPECT_EQ(ReadBytes(dir_ / name), before) << name;
    }
  }
  EXPECT_EQ(DirEntries(out_), Strings{});
}

// The original keeps its permissions and owner, and a link to it stays a link to the new bytes.
TEST_F(HeaderModesTest, ReplaceOriginalKeepsWhatTheFileWas) {
  ASSERT_EQ(chmod(input_.c_str(), 0640), 0);
  const bool root = geteuid() == 0;  // only root may give the file away (CI runs as root)
  if (root) ASSERT_EQ(chown(input_.c_str(), 4321, 4322), 0);
  ASSERT_EQ(symlink("in.bnx", (dir_ / "link.bnx").c_str()), 0);
  ASSERT_EQ(Tool({"-U", dir_ / "link.bnx", "--model_info_name", "renamed", "--replace_original"}).status, 0);
  ExpectWritten(input_, "model_info", 0, "name", "renamed");
  struct stat link {}, file {};
  ASSERT_EQ(lstat((dir_ / "link.bnx").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  ASSERT_EQ(stat(input_.c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 07777, 0640u);
  if (root) EXPECT_EQ(file.st_uid * 10000 + file.st_gid, 4321u * 10000 + 4322u);
  EXPECT_EQ(DirEntries(dir_.path()), (Strings{"in.bnx", "link.bnx", "original.bnx"}));
}

// A text that is not UTF-8 is refused, naming its option, before anything is written; one that
// is goes in byte for byte.
TEST_F(HeaderModesTest, TextsThatAreNotUtf8AreRefused) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD, one for each ill-formed piece
  const std::pair<Strings, std::string> cases[] = {
      {{"-U", input_, "--model_info_name", "ok,b\xC3(d"}, "--model_info_name: \"b" + r + "(d\""},
      {{"-U", input_, "--model_info_version", "\xE0\x80\xAF", "--replace_original"},
       "--model_info_version: \"" + r + r + r + "\""},
      {{"--update_solution_info", input_, "--solution_id", "\xED\xA0\x80"}, "--solution_id: \"" + r + r + r + "\""},
      {{"--update_solution_info", input_, "--solution_id", "1", "--solution_tag", "t\xF4\x90\x80\x80"},
       "--solution_tag: \"t" + r + r + r + r + "\""},
  };
  for (const auto& [args, what] : cases) {
    const RunResult res = Tool(args);
    EXPECT_EQ(res.status, 255) << what;
    EXPECT_EQ(res.out + res.err, what + " is not valid UTF-8\n");
  }
  EXPECT_EQ(ReadBytes(input_), ReadBytes(dir_ / "original.bnx"));
  EXPECT_EQ(DirEntries(dir_.path()), (Strings{"in.bnx", "original.bnx"}));
  ASSERT_EQ(Tool({"-U", input_, "--model_info_name", "caf\xC3\xA9"}).status, 0);
  ExpectWritten(out_ + "/models_400.bnx", "model_info", 0, "name", "caf\xC3\xA9");
}

}  // namespace
