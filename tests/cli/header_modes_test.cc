// End-to-end runs of -M, -U, --update_solution_info (and -R / -C on what they write).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <limits.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/bnx_decode.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

const char* const kHyphens = "---------------\n";
const char* const kModelInfoDone = "BNX file with updated model info has been generated in:\n";
const char* const kSolutionDone = "BNX file with updated solution info has been generated in:\n";

class HeaderModesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sample_.models = {{"det", 32768, "1.0"}, {"cls", 32769, "2.1"}, {"seg", 7, "3"}};
    sample_.fw_info = {9, 8, 7, 6};
    sample_.all_models = Bytes(77, 0xA5);
    input_ = dir_ / "in.bnx";
    WriteBytes(input_, BuildBnx(sample_));
  }
  RunResult Tool(std::vector<std::string> args) {
    std::vector<std::string> argv = {TALVEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"-O", out_});
    return testsupport::Run(argv, dir_.path());
  }
  Json::Value Decode(const std::string& path) { return DecodeBnxWithFlatc(path, TALVEX_FLATC, TALVEX_SCHEMA_DIR); }
  // Everything but the model descriptions and solution fields must come through unchanged.
  void ExpectCarriedOver(const Json::Value& j) {
    EXPECT_EQ(j["magic"].asUInt(), 0x012EBD34u);
    EXPECT_EQ(j["header"]["target"].asString(), "TZ400");
    EXPECT_EQ(j["header"]["crc"].asUInt(), sample_.crc);
    EXPECT_EQ(j["header"]["uuid"].asUInt(), sample_.uuid);
    EXPECT_EQ(j["header"]["compiler_version"].asString(), sample_.compiler_version);
    EXPECT_EQ(j["header"]["toolchain_version"].asString(), sample_.toolchain_version);
    EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), 2u);
    EXPECT_EQ(j["header"]["schema_version"]["revision_num"].asUInt(), 1u);
    EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), sample_.fw_info);
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), sample_.all_models);
    EXPECT_EQ(j["model_info"][2]["id"].asInt(), 7);
  }
  void ExpectLayout(const std::string& path) {
    const Bytes file = ReadBytes(path);
    ASSERT_GT(file.size(), 4u);
    EXPECT_EQ(file.size() % 32, 4u);
    EXPECT_EQ(Crc32(file), 0x2144DF1Cu);
  }

  TempDir dir_;
  std::string out_ = dir_ / "out";
  std::string input_;
  SampleBnx sample_;
};

TEST_F(HeaderModesTest, ModelInfoListsChosenPositions) {
  RunResult r = Tool({"-M", input_, "-N", "0 2 5"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("#001 {   32768} (       1.0) [det]\n") + kHyphens +
                       "#003 {       7} (         3) [seg]\n" + kHyphens + kHyphens);
  r = Tool({"-M", input_, "-N", "1"});
  EXPECT_EQ(r.out, std::string("#002 {   32769} (       2.1) [cls]\n") + kHyphens);
  // No positions: nothing printed.
  r = Tool({"-M", input_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  // A file that is not a container lists no descriptions.
  WriteText(dir_ / "junk.bnx", std::string(64, 'j'));
  r = Tool({"-M", dir_ / "junk.bnx", "-N", "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(kHyphens), std::string::npos);
  EXPECT_EQ(r.out.find("#001"), std::string::npos);
}

TEST_F(HeaderModesTest, MissingInputIsReportedByEveryCommand) {
  const std::string missing = dir_ / "missing.bnx";
  const std::vector<std::vector<std::string>> commands = {
      {"-M", missing, "-N", "0"},
      {"-U", missing, "--model_info_version", "1"},
      {"--update_solution_info", missing, "--solution_id", "1"},
      {"-R", missing, "-k", "target"},
      {"-C", missing}};
  for (const auto& c : commands) {
    RunResult r = Tool(c);
    EXPECT_EQ(r.status, 255) << c[0];
    EXPECT_EQ(r.err, "BNX file not exist: " + missing + "\n") << c[0];
    EXPECT_EQ(r.out.find("generated in"), std::string::npos);
  }
  EXPECT_TRUE(DirEntries(out_).empty());
}

TEST_F(HeaderModesTest, UpdateModelInfoChangesOnlyTheGivenEntries) {
  RunResult r = Tool({"-U", input_, "--model_info_version", "2.0"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string path = out_ + "/models_400.bnx";
  EXPECT_EQ(r.out, std::string(kModelInfoDone) + RealPath(path) + "\n");
  ExpectLayout(path);
  Json::Value j = Decode(path);
  ExpectCarriedOver(j);
  EXPECT_EQ(j["model_info"][0]["version"].asString(), "2.0");
  EXPECT_EQ(j["model_info"][1]["version"].asString(), "2.1");
  EXPECT_EQ(j["model_info"][0]["name"].asString(), "det");
  EXPECT_EQ(j["header"]["solution_id"].asString(), "1234");

  // Names and versions together; an empty entry sets an empty text; extra entries are ignored.
  r = Tool({"-U", input_, "--model_info_version", "a,,c,d,e", "--model_info_name", "x, y", "-o", "renamed"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kModelInfoDone) + RealPath(out_ + "/renamed.bnx") + "\n");
  j = Decode(out_ + "/renamed.bnx");
  ExpectCarriedOver(j);
  EXPECT_EQ(j["model_info"].size(), 3u);
  EXPECT_EQ(j["model_info"][0]["version"].asString(), "a");
  EXPECT_EQ(j["model_info"][1]["version"].asString(), "");
  EXPECT_EQ(j["model_info"][2]["version"].asString(), "c");
  EXPECT_EQ(j["model_info"][0]["name"].asString(), "x");
  EXPECT_EQ(j["model_info"][1]["name"].asString(), "y");
  EXPECT_EQ(j["model_info"][2]["name"].asString(), "seg");
  // What -M and -R read back from it.
  EXPECT_EQ(Tool({"-M", out_ + "/renamed.bnx", "-N", "0"}).out, std::string("#001 {   32768} (         a) [x]\n") + kHyphens);
  EXPECT_EQ(Tool({"-R", out_ + "/renamed.bnx", "-k", "target"}).out, "400\n");
  EXPECT_EQ(Tool({"-C", out_ + "/renamed.bnx"}).out, "0x2144df1c\n");
}

TEST_F(HeaderModesTest, UpdateSolutionInfo) {
  RunResult r = Tool({"--update_solution_info", input_});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "[ERROR] Solution ID and Solution Tag are both empty\n");
  // The argument check comes before the existence check.
  r = Tool({"--update_solution_info", dir_ / "missing.bnx"});
  EXPECT_EQ(r.err, "[ERROR] Solution ID and Solution Tag are both empty\n");

  r = Tool({"--update_solution_info", input_, "--solution_tag", "new-tag"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string path = out_ + "/models_400.bnx";
  EXPECT_EQ(r.out, std::string(kSolutionDone) + RealPath(path) + "\n");
  ExpectLayout(path);
  Json::Value j = Decode(path);
  ExpectCarriedOver(j);
  EXPECT_EQ(j["header"]["solution_id"].asString(), "1234");
  EXPECT_EQ(j["header"]["solution_tag"].asString(), "new-tag");
  EXPECT_EQ(j["model_info"][1]["name"].asString(), "cls");

  r = Tool({"--update_solution_info", input_, "--solution_id", "99", "-o", "s"});
  ASSERT_EQ(r.status, 0);
  j = Decode(out_ + "/s.bnx");
  EXPECT_EQ(j["header"]["solution_id"].asString(), "99");
  EXPECT_EQ(j["header"]["solution_tag"].asString(), "5a6f7e");
  EXPECT_EQ(Tool({"-R", out_ + "/s.bnx", "-k", "solution_id"}).out, "99\n");
}

TEST_F(HeaderModesTest, EmptyPayloadStaysPresentAndAligned) {
  sample_.all_models.clear();
  WriteBytes(input_, BuildBnx(sample_));
  RunResult r = Tool({"--update_solution_info", input_, "--solution_id", "1"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string path = out_ + "/models_400.bnx";
  ExpectLayout(path);
  const Json::Value j = Decode(path);
  ASSERT_TRUE(j["model_bin"].isMember("all_models"));
  EXPECT_EQ(j["model_bin"]["all_models"].size(), 0u);
}

TEST_F(HeaderModesTest, ReplaceOriginalRewritesTheInputInPlace) {
  const Bytes before = ReadBytes(input_);
  RunResult r = Tool({"-U", input_, "--model_info_name", "renamed", "--replace_original"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, std::string(kModelInfoDone) + RealPath(input_) + "\n");
  EXPECT_NE(ReadBytes(input_), before);
  EXPECT_EQ(Decode(input_)["model_info"][0]["name"].asString(), "renamed");
  ExpectCarriedOver(Decode(input_));
  // Nothing else in the folder: no temporary file, nothing in the output folder.
  EXPECT_EQ(DirEntries(dir_.path()), (std::vector<std::string>{"in.bnx", "out"}));
  EXPECT_TRUE(DirEntries(out_).empty());

  r = Tool({"--update_solution_info", input_, "--solution_tag", "T", "--replace_original"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kSolutionDone) + RealPath(input_) + "\n");
  EXPECT_EQ(Decode(input_)["header"]["solution_tag"].asString(), "T");

  // An input named without a folder goes to the output folder under the input's name.
  r = Tool({"-U", "in.bnx", "--model_info_version", "9", "--replace_original"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, std::string(kModelInfoDone) + RealPath(out_ + "/in.bnx") + "\n");
}

TEST_F(HeaderModesTest, UnreadableContainersFailWithoutOutput) {
  Bytes truncated = ReadBytes(input_);
  truncated.resize(truncated.size() / 2);
  WriteBytes(dir_ / "cut.bnx", truncated);
  WriteBytes(dir_ / "empty.bnx", Bytes{});
  WriteText(dir_ / "text.bnx", "this is not a container at all, only some text.");
  for (const std::string name : {"cut.bnx", "empty.bnx", "text.bnx"}) {
    const Bytes original = ReadBytes(dir_ / name);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-U", dir_ / name, "--model_info_version", "1"},
             {"--update_solution_info", dir_ / name, "--solution_id", "1"},
             {"-U", dir_ / name, "--model_info_version", "1", "--replace_original"},
             {"--update_solution_info", dir_ / name, "--solution_tag", "1", "--replace_original"}}) {
      RunResult r = Tool(args);
      EXPECT_EQ(r.status, 255) << name << " " << args[0];
      EXPECT_EQ(r.out.find("generated in"), std::string::npos) << r.out;
      EXPECT_EQ(ReadBytes(dir_ / name), original) << name;
    }
  }
  EXPECT_TRUE(DirEntries(out_).empty());
  EXPECT_EQ(DirEntries(dir_.path()), (std::vector<std::string>{"cut.bnx", "empty.bnx", "in.bnx", "out", "text.bnx"}));
}

TEST_F(HeaderModesTest, ReplaceOriginalInAReadOnlyFolderKeepsTheOriginal) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  const std::string ro = dir_ / "ro";
  ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
  const std::string in = ro + "/a.bnx";
  WriteBytes(in, BuildBnx(sample_));
  const Bytes before = ReadBytes(in);
  chmod(ro.c_str(), 0555);
  RunResult r = Tool({"-U", in, "--model_info_version", "5", "--replace_original"});
  chmod(ro.c_str(), 0755);
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(ReadBytes(in), before);
  EXPECT_EQ(DirEntries(ro), std::vector<std::string>{"a.bnx"});
}

TEST_F(HeaderModesTest, ReplaceOriginalThatCannotBeWrittenKeepsTheOriginal) {
  // A name so long that no temporary file can sit beside it: the write fails before the
  // original is touched.
  const std::string name = std::string(246, 'a') + ".bnx";
  const std::string in = dir_ / name;
  WriteBytes(in, BuildBnx(sample_));
  const Bytes before = ReadBytes(in);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-U", in, "--model_info_version", "5", "--replace_original"},
           {"--update_solution_info", in, "--solution_id", "5", "--replace_original"}}) {
    RunResult r = Tool(args);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out.find("generated in"), std::string::npos);
    EXPECT_EQ(ReadBytes(in), before);
  }
  EXPECT_EQ(DirEntries(dir_.path()), (std::vector<std::string>{name, "in.bnx", "out"}));
}

}  // namespace
