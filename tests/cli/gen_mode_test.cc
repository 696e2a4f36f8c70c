// End-to-end runs of -G (GEN_BNX), and of -X on what it writes.
#include <fmt/format.h>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

class GenModeTest : public ToolTest {
 protected:
  RunResult Gen(Strings args) {
    args.insert(args.begin(), {"-G", "-O", "out"});
    return Tool(args);
  }
  // target, schema version, crc, uuid, platform, tv_number, encryption mode, solution id and tag
  static std::string Summary(const Json::Value& h) {
    std::string s = h["target"].asString() + " v" + h["schema_version"]["major_num"].asString() + "." +
                    h["schema_version"]["minor_num"].asString() + "." + h["schema_version"]["revision_num"].asString();
    for (const char* k : {"crc", "uuid", "platform", "tv_number", "encryption_mode", "solution_id", "solution_tag"})
      s += " " + h[k].asString();
    return s;
  }
  Strings Legacy(const std::string& target) { return {"-t", target, "-h", "fw_info.bin", "-m", "all_models.bin"}; }
  Bytes txm_ = BuildSampleTxm();
};

TEST_F(GenModeTest, TxmTargetsAndOutputNames) {
  WriteBytes(dir_ / "model.txm", txm_);
  const std::string crc = std::to_string(Crc32(txm_));
  for (const std::string target : {"400", "600"}) {
    // -h / -m are ignored for these targets.
    EXPECT_EQ(Gen({"-t", target, "-e", "model.txm", "-h", "x", "-m", "x", "-a", "sol", "-b", "t4g"}).out,
              RealPath(out_ + "/models_" + target + ".bnx") + "\n");
    const Json::Value j = Decode(out_ + "/models_" + target + ".bnx");
    EXPECT_EQ(Summary(j["header"]), "TZ" + target + " v2.0.1 " + crc + " " + crc + "  0 EM_None sol t4g");
    EXPECT_EQ(j["header"]["compiler_version"].asString(), "talvex_compiler version: 2025-09-11(c3e995af21)");
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), txm_);
    EXPECT_EQ(j["model_bin"]["fw_info"].size(), 0u);
    EXPECT_EQ(j["model_info"].toStyledString(), "[\n\t{\n\t\t\"id\" : 1,\n\t\t\"name\" : \"\",\n\t\t\"version\" : \"\"\n\t},\n"
                                                "\t{\n\t\t\"id\" : 2,\n\t\t\"name\" : \"\",\n\t\t\"version\" : \"\"\n\t}\n]\n");
  }
  EXPECT_EQ(Gen({"-t", "400", "-e", "model.txm", "-o", "name.bnx"}).out, RealPath(out_ + "/name.bnx.bnx") + "\n");
}

TEST_F(GenModeTest, LegacyTargetsTheCrcSectionAndTheRoundTrip) {
  for (const std::string target : {"100", "200", "200fb", "300", "500"}) {
    SCOPED_TRACE(target);
    const auto form = target == "100" || target == "200" ? LegacySetupForm::kRaw : LegacySetupForm::kFlatbuffer;
    const LegacyPair p = BuildLegacyPair(SampleLegacyModels(form), false, 0xCD);
    WriteLegacyPair(p, dir_ / "fw_info.bin", dir_ / "all_models.bin");
    Strings opts = Legacy(target.substr(0, 3));
    opts.insert(opts.end(), {"-e", "ignored.txm", "-o", target});
    EXPECT_NE(Gen(opts).out.find(RealPath(out_ + "/" + target + ".bnx") + "\n"), std::string::npos);
    const Json::Value j = Decode(out_ + "/" + target + ".bnx");
    const std::string crc = std::to_string(p.all_models_crc);
    EXPECT_EQ(Summary(j["header"]), "TZ" + target.substr(0, 3) + (form == LegacySetupForm::kRaw ? " v0.0.1 " : " v1.0.1 ") +
                                        crc + " " + crc + "  0 EM_None  ");
    EXPECT_EQ(j["model_info"][0]["id"].asString() + "/" + j["model_info"][0]["version"].asString() + " " +
                  j["model_info"][1]["id"].asString() + "/" + j["model_info"][1]["version"].asString(), "7/3 9/258");
    // The stored fw_info carries the CRC section; the input file stays as it was.
    const Bytes with_crc = BuildLegacyPair(SampleLegacyModels(form), true, 0xCD).fw_info;
    EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), with_crc);
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), p.fw_info);
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), p.all_models);
    // Extracted and generated again (the CRC section is found present): the same file.
    ASSERT_EQ(testsupport::Run({TALVEX_BIN, "-X", out_ + "/" + target + ".bnx", "-O", dir_.path()}).status, 0);
    EXPECT_NE(Gen(Legacy(target.substr(0, 3))).out.find("BNX included crc information"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), with_crc);
    EXPECT_EQ(ReadBytes(out_ + "/models_" + target.substr(0, 3) + ".bnx"), ReadBytes(out_ + "/" + target + ".bnx"));
  }
}

// Bytes after the last model block count for the CRC of all of all_models.bin (the header's
// crc and the section's first word), not for any block.
TEST_F(GenModeTest, BytesAfterTheLastBlockCountForTheWholeCrcOnly) {
  LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false);
  p.all_models.insert(p.all_models.end(), {1, 2, 3});
  WriteLegacyPair(p, dir_ / "fw_info.bin", dir_ / "all_models.bin");
  ASSERT_EQ(Gen(Legacy("300")).status, 0);
  const Json::Value j = Decode(out_ + "/models_300.bnx");
  const Bytes fw = JsonBytes(j["model_bin"]["fw_info"]);
  std::vector<uint32_t> section{Crc32(p.all_models)};
  section.insert(section.end(), p.block_crcs.begin(), p.block_crcs.end());
  Bytes expected = p.fw_info;
  for (uint32_t w : section) AppendLE32(expected, w);
  AppendLE32(expected, Crc32(expected));
  EXPECT_EQ(fw, expected);
  EXPECT_EQ(j["header"]["crc"].asUInt(), Crc32(p.all_models));
}

// Without models all_models.bin may be empty: nothing to copy, the section is made or checked
// all the same.
TEST_F(GenModeTest, NoModelsAndAnEmptyAllModels) {
  const Bytes sealed = BuildLegacyPair({}, true).fw_info;
  for (const bool with_section : {false, true}) {
    WriteLegacyPair(BuildLegacyPair({}, with_section), dir_ / "fw_info.bin", dir_ / "all_models.bin");
    const RunResult r = Gen(Legacy("300"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("BNX included crc information") != std::string::npos, with_section);
    EXPECT_EQ(JsonBytes(Decode(out_ + "/models_300.bnx")["model_bin"]["fw_info"]), sealed);
  }
}

TEST_F(GenModeTest, FailuresExitNonZeroAndLeaveNoFile) {
  WriteBytes(dir_ / "model.txm", txm_);
  WriteBytes(dir_ / "cut.txm", Bytes(txm_.begin(), txm_.end() - 100));
  Bytes misaligned = txm_;
  const size_t cmd_at = ShiftPayload(misaligned, 0, TxmPayload::kCmd, 0);
  WriteBytes(dir_ / "mis.txm", misaligned);
  const LegacyPair p = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false);
  Bytes longer = p.fw_info;
  longer.push_back(0);  // neither 56n + 12 nor 60n + 20 bytes
  // all_models.bin edited after its fw_info.bin got the CRC section: a byte of the first command.
  const LegacyPair sealed = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true);
  std::vector<LegacyModel> changed = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
  changed[0].cmd[0] ^= 0x5A;
  const LegacyPair edited = BuildLegacyPair(changed, false);
  // Two models' worth of 16 bytes after a fw_info.bin without section: a section by its size.
  Bytes junk = p.fw_info;
  junk.insert(junk.end(), 16, 0xAB);
  // No models, an empty all_models.bin, and a section that claims it held bytes.
  Bytes none = BuildLegacyPair({}, true).fw_info;
  PutLE32(none, 12, 0x12345678);
  PutLE32(none, 16, Crc32(none, 0, 16));
  // The second model's setup in the other form than the first's.
  std::vector<LegacyModel> raw_fb = SampleLegacyModels(LegacySetupForm::kRaw);
  std::vector<LegacyModel> fb_raw = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
  raw_fb[1].setup = fb_raw[1].setup;
  fb_raw[1].setup = RawSetupPlaceholder();
  const LegacyPair tz200 = BuildLegacyPair(raw_fb, false), tz300 = BuildLegacyPair(fb_raw, false);
  const std::string files = " (fw_info: fw_info.bin, all_models: all_models.bin)";
  const auto hex = [](uint32_t v) { return fmt::format("{:#010x}", v); };
  struct Case {
    Strings args;
    std::string message;
    Bytes fw_info, all_models;
  };
  for (const Case& c : std::vector<Case>{
           {{"-t", "600", "-e", "cut.txm"}, ""}, {Legacy("500"), "Undefine file size of fw_info.bin", longer, p.all_models},
           {Legacy("200"), "all_models.bin", p.fw_info, Bytes(p.all_models.begin(), p.all_models.begin() + 64)},
           {Legacy("300"), "fw_info.bin CRC section does not match all_models.bin: crc of the block of model #1 (id 7) "
                           "expected " + hex(edited.block_crcs[0]) + ", found " + hex(sealed.block_crcs[0]) + files,
            sealed.fw_info, edited.all_models},
           {Legacy("500"), "fw_info.bin CRC section is damaged: own crc of fw_info.bin expected " +
                               hex(Crc32(junk, 0, junk.size() - 4)) + ", found 0xabababab" + files, junk, p.all_models},
           {Legacy("100"), "crc of all_models.bin expected 0x00000000, found 0x12345678" + files, none, {}},
           {Legacy("200"), "setup.bin of model #2 (id 9) is not a raw setup.bin", tz200.fw_info, tz200.all_models},
           {Legacy("300"), "setup.bin of model #2 (id 9) is not a flatbuffer setup.bin", tz300.fw_info,
            tz300.all_models},
           {{"-t", "300", "-m", "all_models.bin"}, "the fw_info file is missing: -h(--header)", p.fw_info,
            p.all_models},
           // As -A reports it, then the refusal.
           {{"-t", "400", "-e", "mis.txm"}, "Model[1] Core[0] cmd_pos[" + std::to_string(cmd_at) +
                                                "] not align 64 in txm\nThe alignment check of mis.txm failed\n"
                                                "Cannot generate a container from mis.txm\n"}}) {
    WriteLegacyPair({c.fw_info, c.all_models}, dir_ / "fw_info.bin", dir_ / "all_models.bin");
    RunResult r = Gen(c.args);
    EXPECT_NE(r.status, 0) << c.args[1];
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    EXPECT_EQ(ReadBytes(dir_ / "fw_info.bin"), c.fw_info);  // the input stays as it was
  }
  EXPECT_EQ(DirEntries(out_), Strings{});  // not even a temporary file
}

}  // namespace
