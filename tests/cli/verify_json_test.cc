// End-to-end runs of --verify (every integrity layer, each damage with its own line and status
// 3) and of --json for -I, -R, -M and --verify, compared field by field with the text output.
#include <sstream>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

enum class Family { kRaw, kFlatbuffer, kTxm };

// A consistent container of the family: header crc and uuid are the payload's CRC.
SampleBnx Good(Family f) {
  const bool raw = f == Family::kRaw;
  const auto models = SampleLegacyModels(raw ? LegacySetupForm::kRaw : LegacySetupForm::kFlatbuffer);
  SampleBnx s = LegacyBnx(raw ? 0 : 2, BuildLegacyPair(models, true));
  if (f == Family::kTxm) s = SampleBnx(), s.all_models = BuildSampleTxm();
  s.models = {{"det", 32768, "1.0"}, {"cls", 5, "2"}};
  s.crc = s.uuid = Crc32(s.all_models);
  return s;
}

Strings Lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::CharReaderBuilder b;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(b, in, &v, &errors)) << errors << "\n" << text;
  return v;
}

class VerifyTest : public ToolTest {};

TEST_F(VerifyTest, GoodContainerOfEachFamilyPasses) {
  for (Family f : {Family::kRaw, Family::kFlatbuffer, Family::kTxm}) {
    const std::string path = Write("good.bnx", BuildBnx(Good(f)));
    RunResult r = Tool({"--verify", path});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const Strings lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      EXPECT_EQ(lines[i].substr(lines[i].size() - 4), ": ok") << lines[i];
    }
    const size_t checks = lines.size() - 1;
    EXPECT_EQ(lines.back(), "verify ok: 1 file(s), " + std::to_string(checks) + " check(s), 0 failed");
    // Legacy: trailer, container, header crc, uuid, all_models crc, 2 x (bounds, crc, setup), own crc.
    EXPECT_EQ(checks, f == Family::kTxm ? 6u : 12u) << r.out;
  }
  // A post-encrypted container keeps its original uuid: not compared.
  SampleBnx enc = Good(Family::kTxm);
  enc.encryption_mode = 2;
  enc.uuid = 0x12345678;
  EXPECT_EQ(Tool({"--verify", Write("enc.bnx", BuildBnx(enc))}).status, 0);
  // Nothing is written, not even an output folder.
  EXPECT_EQ(DirEntries(dir_.path()), (Strings{"enc.bnx", "good.bnx"}));
}

TEST_F(VerifyTest, EachDamageIsCaughtWithItsOwnLine) {
  struct Case {
    const char* what;
    Family family;
    std::function<void(SampleBnx&)> damage_source;
    std::function<void(Bytes&)> damage_file;
    std::string line;  // the failing check, after "<path>: "
  };
  const size_t section = 12 + 56 * 2;  // two models
  const std::vector<Case> cases = {
      {"trailer", Family::kTxm, nullptr, [](Bytes& b) { b.back() ^= 1; }, "trailer crc: FAILED: expected "},
      {"payload", Family::kRaw, [](SampleBnx& s) { s.all_models[3] ^= 0x40; }, nullptr, "header crc: FAILED: expected "},
      {"uuid", Family::kTxm, [](SampleBnx& s) { s.uuid = HeaderCrc(s) ^ 1; }, nullptr, "uuid: FAILED: expected "},
      {"fw_info crc section", Family::kFlatbuffer, [&](SampleBnx& s) { s.fw_info[section] ^= 1; }, nullptr,
       "fw_info.bin crc of all_models.bin: FAILED: expected "},
      {"fw_info block crc", Family::kRaw, [&](SampleBnx& s) { s.fw_info[section + 8] ^= 1; }, nullptr,
       "model #2 crc: FAILED: expected "},
      {"fw_info own crc", Family::kRaw, [&](SampleBnx& s) { s.fw_info.back() ^= 1; }, nullptr,
       "fw_info.bin trailer crc: FAILED: expected "},
      {"record past all_models", Family::kRaw, [](SampleBnx& s) { PutLE32(s.fw_info, 4 + 56 + 36, 1u << 20); },
       nullptr, "model #2 bounds: FAILED: expected bytes "},
      {"no crc section", Family::kRaw, [&](SampleBnx& s) { s.fw_info.resize(section); }, nullptr,
       "fw_info.bin crc section: FAILED: expected 140 bytes (with the section), found 124 bytes"},
      {"setup form", Family::kRaw, [](SampleBnx& s) { s.major = 1; }, nullptr,
       "model #1 setup: FAILED: expected a flatbuffer setup.bin, found "},
      {"misaligned txm", Family::kTxm,
       [](SampleBnx& s) {
         ShiftPayload(s.all_models, 0, TxmPayload::kCmd, 0);
         s.crc = s.uuid = Crc32(s.all_models);
       },
       nullptr, "txm alignment: FAILED: expected 64-byte aligned"},
      {"not a txm", Family::kTxm,
       [](SampleBnx& s) {
         s.all_models = Bytes(64, 0xFF);
         s.crc = s.uuid = Crc32(s.all_models);
       },
       nullptr, "txm: FAILED: expected a valid TXM file"},
      {"not a container", Family::kTxm, nullptr, [](Bytes& b) { b = Bytes(64, 0x7F); PutLE32(b, 60, Crc32(b, 0, 60)); },
       "container: FAILED: expected a valid BNX container"},
      {"empty", Family::kTxm, nullptr, [](Bytes& b) { b.clear(); }, "file: FAILED: expected a readable file"},
      {"short", Family::kTxm, nullptr, [](Bytes& b) { b.resize(3); }, "trailer crc: FAILED: expected a file longer"},
  };
  for (const Case& c : cases) {
    SampleBnx s = Good(c.family);
    if (c.damage_source) c.damage_source(s);
    Bytes file = BuildBnx(s);
    if (c.damage_file) c.damage_file(file);
    const std::string path = Write("bad.bnx", file);
    RunResult r = Tool({"--verify", path});
    EXPECT_EQ(r.status, 3) << c.what;
    EXPECT_TRUE(Contains(r.out, path + ": " + c.line)) << c.what << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(Lines(r.out).back(), "verify FAILED: 1 file(s), ")) << c.what;
  }
  // Several files: one summary; the missing one fails, the good one still passes.
  const std::string good = Write("good.bnx", BuildBnx(Good(Family::kFlatbuffer)));
  RunResult r = Tool({"--verify", good, dir_ / "missing.bnx"});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(Contains(r.out, dir_ / "missing.bnx: file: FAILED: expected a readable file, found ")) << r.out;
  EXPECT_EQ(Lines(r.out).back(), "verify FAILED: 2 file(s), 13 check(s), 1 failed");
}

TEST_F(VerifyTest, VerifyJsonMatchesTheText) {
  SampleBnx bad = Good(Family::kRaw);
  bad.fw_info.back() ^= 1;
  const std::string good = Write("good.bnx", BuildBnx(Good(Family::kTxm)));
  const std::string broken = Write("bad.bnx", BuildBnx(bad));
  const RunResult text = Tool({"--verify", good, broken});
  const RunResult json = Tool({"--verify", good, broken, "--json"});
  EXPECT_EQ(json.status, 3);
  const Json::Value doc = Parse(json.out);
  EXPECT_FALSE(doc["ok"].asBool());
  ASSERT_EQ(doc["files"].size(), 2u);
  EXPECT_TRUE(doc["files"][0]["ok"].asBool());
  EXPECT_FALSE(doc["files"][1]["ok"].asBool());
  Strings lines = Lines(text.out);
  lines.pop_back();
  size_t n = 0, failed = 0;
  for (const Json::Value& file : doc["files"]) {
    for (const Json::Value& c : file["checks"]) {
      ASSERT_LT(n, lines.size());
      std::string want = file["file"].asString() + ": " + c["name"].asString() + ": ";
      want += c["ok"].asBool() ? "ok" : "FAILED: expected " + c["expected"].asString() + ", found " + c["found"].asString();
      EXPECT_EQ(lines[n++], want);
      failed += c["ok"].asBool() ? 0 : 1;
    }
  }
  EXPECT_EQ(n, lines.size());
  EXPECT_EQ(doc["checks"].asUInt(), n);
  EXPECT_EQ(doc["failed"].asUInt(), failed);
  EXPECT_EQ(failed, 1u);
}

TEST_F(VerifyTest, InfoReadAndModelInfoJsonMatchTheText) {
  SampleBnx s = Good(Family::kTxm);
  s.solution_tag = "a\nb";
  const std::string path = Write("c.bnx", BuildBnx(s));
  const Json::Value info = Parse(Tool({"-I", path, "--json"}).out);
  const Strings text = Lines(Tool({"-I", path}).out);
  EXPECT_EQ(info["file"].asString(), path);
  size_t keys = 0;
  for (const std::string& line : text) {
    const size_t colon = line.find(" : ");
    if (colon != 20) continue;
    std::string key = line.substr(0, colon);
    key.erase(key.find_last_not_of(' ') + 1);
    const std::string value = line.substr(colon + 3);
    const Json::Value& j = info["header"][key];
    if (key == "crc" || key == "tv_number" || key == "uuid") {
      ASSERT_TRUE(j.isUInt()) << key;
      char hex[16];
      snprintf(hex, sizeof hex, "0x%X", j.asUInt());
      EXPECT_EQ(value, hex) << key;
    } else {
      ASSERT_TRUE(j.isString()) << key;
      std::string joined = j.asString();
      for (char& ch : joined) ch = ch == '\n' ? ',' : ch;
      EXPECT_EQ(value, joined) << key;
    }
    // -R --json gives the same typed value.
    const Json::Value read = Parse(Tool({"-R", path, "-k", key, "--json"}).out);
    EXPECT_EQ(read["key"].asString(), key);
    EXPECT_EQ(read["value"], j) << key;
    ++keys;
  }
  EXPECT_EQ(keys, 11u);
  EXPECT_EQ(info["header"]["schema_version_major"].asUInt(), 2u);
  EXPECT_EQ(info["payload"]["kind"].asString(), "txm");
  EXPECT_EQ(info["payload"]["size"].asUInt64(), s.all_models.size());
  ASSERT_EQ(info["models"].size(), 2u);

  // -M: the same descriptions as the text, in the order asked; positions beyond the list left out.
  const Json::Value models = Parse(Tool({"-M", path, "-N", "1 0 9", "--json"}).out)["models"];
  const Strings mtext = Lines(Tool({"-M", path, "-N", "1 0 9"}).out);
  ASSERT_EQ(models.size(), 2u);
  for (Json::ArrayIndex i = 0; i < models.size(); ++i) {
    const Json::Value& m = models[i];
    char line[128];
    snprintf(line, sizeof line, "#%03d {%8d} (%10s) [%s]", m["position"].asInt() + 1, m["id"].asInt(),
             m["version"].asCString(), m["name"].asCString());
    EXPECT_EQ(mtext[2 * i], line);
    EXPECT_EQ(info["models"][m["position"].asInt()], m);
  }
  EXPECT_EQ(models[0]["name"].asString(), "cls");

  // --json elsewhere, or with -s, is refused before anything runs.
  for (const Strings& args : {Strings{"-C", path, "--json"}, Strings{"-I", path, "-s", "--json"}}) {
    RunResult r = Tool(args);
    EXPECT_EQ(r.status, 255) << args[0];
    EXPECT_EQ(r.out.find('{'), std::string::npos);
  }
}

// Texts that are not UTF-8 (in the container, in its path, in a TXM file) reach every JSON
// document mended: one U+FFFD for each maximal ill-formed piece, well-formed text as it is.
TEST_F(VerifyTest, JsonIsValidUtf8WhateverTheInputsHold) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> names[] = {  // stored, printed
      {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"\xC0\xAF\xE0\x80\xBF", r + r + r + r + r},             // overlong forms
      {"\xED\xA0\x80\xF4\x90\x80\x80", r + r + r + r + r + r + r},  // a surrogate, above U+10FFFF
      {"x\xF0\x9F\x98", "x" + r},                                // cut short
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
  };
  SampleBnx s = Good(Family::kTxm);
  s.models.clear();
  for (const auto& [stored, printed] : names) s.models.push_back({stored, 1, "v"});
  s.solution_tag = "t\xFF";
  const std::string path = Write("c\xFE.bnx", BuildBnx(s)), mended = dir_ / ("c" + r + ".bnx");

  const Json::Value models = Parse(Tool({"-M", path, "-N", "-1", "--json"}).out);
  EXPECT_EQ(models["file"].asString(), mended);
  ASSERT_EQ(models["models"].size(), std::size(names));
  for (Json::ArrayIndex i = 0; i < models["models"].size(); ++i) {
    EXPECT_EQ(models["models"][i]["name"].asString(), names[i].second) << i;
  }
  const Json::Value info = Parse(Tool({"-I", path, "--json"}).out);
  EXPECT_EQ(info["header"]["solution_tag"].asString() + info["models"][0]["name"].asString(), "t" + r + names[0].second);
  EXPECT_EQ(Parse(Tool({"-R", path, "-k", "solution_tag", "--json"}).out)["value"].asString(), "t" + r);
  const Json::Value verify = Parse(Tool({"--verify", path, "--json"}).out);
  EXPECT_EQ(verify["files"][0]["file"].asString() + verify["ok"].asString(), mended + "true");

  // The JSON view of a TXM file.
  TalvexTXM::TXMContentT txm = BuildSampleTxmObject();
  txm.models[0]->header->inputs[0]->name = "in\xFF" "put";
  Write("m.txm", PackTxm(txm));
  ASSERT_EQ(Tool({"-j", dir_ / "m.txm", "-O", "out"}).status, 0);
  const Json::Value view = Parse(ReadText(out_ + "/m.txm.no_binary.json"));
  EXPECT_EQ(view["models"][0]["header"]["inputs"][0]["name"].asString(), "in" + r + "put");
}

}  // namespace
