// End-to-end runs of -E (POST_ENC) on legacy and TXM-carrying containers, in eFuse and customer key
// mode. Expected payloads come from a small reference scrambler written here from the key and
// garble rules, and from the test builders; the tool's own writer is never the oracle.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "support/tool_test.h"

namespace {

using namespace testsupport;

// ---- reference scrambler ----

uint32_t Bit(uint32_t v, int i) { return (v >> i) & 1u; }
uint32_t Rotr(uint32_t v, int n) { return n == 0 ? v : (v >> n) | (v << (32 - n)); }

uint32_t KeyWord(uint32_t k) {
  uint32_t w = 0;
  for (int i = 0; i < 6; ++i) w |= Bit(k, 16 + i) << i;
  for (int i = 0; i < 13; ++i) w |= Bit(k, i) << (6 + i);
  for (int i = 0; i < 10; ++i) w |= Bit(k, 22 + i) << (19 + i);
  for (int i = 0; i < 3; ++i) w |= Bit(k, 13 + i) << (29 + i);
  return w;
}

uint32_t Spread(uint32_t w) {
  const int from[32] = {30, 28, 26, 31, 29, 27, 25, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                        11, 9,  7,  5,  3,  1,  12, 13, 14, 15, 10, 8,  6,  4,  2,  0};
  uint32_t u = 0;
  for (int i = 0; i < 32; ++i) u |= Bit(w, from[i]) << i;
  return u;
}

uint32_t EFuseKey(uint32_t tv) {
  uint32_t spread = 0;
  for (int i = 0; i < 16; ++i) spread |= Bit(0x51A9, i) << (2 * i);
  return tv ^ spread;
}

std::vector<uint32_t> KeyTable(const Bytes& file) {
  std::vector<uint32_t> t(256, 0);
  for (size_t i = 0; i < std::min<size_t>(file.size(), 1024); ++i) t[i / 4] |= uint32_t{file[i]} << (8 * (i % 4));
  return t;
}

uint32_t CustomerKey(uint32_t c_key, uint32_t efuse, const Bytes& key_file) {
  const std::vector<uint32_t> t = KeyTable(key_file);
  const uint32_t value = (efuse << 16) | (c_key & 0xFFFF);
  uint32_t out = 0;
  for (int i = 0; i < 32; ++i) {
    const uint32_t idx = Rotr(value, i) & 0x3FFF;
    out |= Bit(t[idx >> 6], static_cast<int>((idx >> 1) & 31)) << i;
  }
  return out;
}

Bytes Scramble(Bytes data, uint32_t key, int unit) {
  const uint32_t w = KeyWord(key), u = Spread(w);
  const uint32_t pattern[4] = {unit == 4 ? w : Rotr(u, 2), unit == 4 ? w : Rotr(u, 15), unit == 4 ? w : u, w};
  for (size_t i = 0; i + 4 <= data.size(); i += 4) {
    const uint32_t p = pattern[(i / 4) % 4];
    for (int b = 0; b < 4; ++b) data[i + b] ^= static_cast<uint8_t>(p >> (8 * b));
  }
  return data;
}

Bytes KeyData(uint32_t c_key, const Bytes& key_file) {
  Bytes out;
  std::srand(73421);
  for (unsigned j = 0; j < 8; ++j) {
    uint32_t r = static_cast<uint32_t>(std::rand());
    r = (r & ~(3u << (4 * j))) | (((c_key & 0xFFFF) >> (2 * j)) & 3u) << (4 * j);
    AppendLE32(out, r);
  }
  for (uint32_t w : KeyTable(key_file)) AppendLE32(out, w);
  return out;
}

Bytes KeyFileBytes() {
  Bytes k(1024);
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i * 37 + 11);
  return k;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

std::string fmt(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%x", v);
  return buf;
}

const std::string kBanner = "\nTalvex BNX (enc.) has been generated in:\n\n";

class PostEncTest : public ToolTest {
 protected:
  // A legacy container; target 0 TZ100 ... 4 TZ500.
  std::string Legacy(int32_t target, uint32_t major, const std::vector<LegacyModel>& models,
                     const std::string& name = "in.bnx") {
    const LegacyPair pair = BuildLegacyPair(models, true, 0xCD);
    SampleBnx s;
    s.target = target, s.major = major, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
    s.platform = "plat", s.models = {{"first", 7, "3"}, {"second", 9, "258"}};
    return Built(name, s);
  }
  std::string Txm(const SampleTxmOptions& o = {}, const std::string& name = "txm.bnx") {
    SampleBnx s;
    s.all_models = BuildSampleTxm(o);
    s.platform = "plat";
    return Built(name, s);
  }
  // Writes the container and keeps what names its outputs and what its header says.
  std::string Built(const std::string& name, const SampleBnx& s) {
    prefix_ = DefaultPrefix(s), uuid_ = HeaderCrc(s);
    return Write(name, BuildBnx(s));
  }
  std::string prefix_;  // of the last container built
  uint32_t uuid_ = 0;
  // Header texts of the source kept; key fields and CRC of the new payload.
  void ExpectHeader(const Json::Value& h, const std::string& target, const std::string& mode, uint32_t tv,
                    const Bytes& payload) {
    EXPECT_EQ(h["target"].asString(), target);
    EXPECT_EQ(h["encryption_mode"].asString(), mode);
    EXPECT_EQ(h["tv_number"].asUInt(), tv);
    EXPECT_EQ(h["uuid"].asUInt(), uuid_);
    EXPECT_EQ(h["crc"].asUInt(), Crc32(payload));
    EXPECT_EQ(h["platform"].asString() + "|" + h["compiler_version"].asString() + "|" +
                  h["toolchain_version"].asString() + "|" + h["solution_id"].asString() + "|" +
                  h["solution_tag"].asString(),
              "plat|compiler 1.0|toolchain 2.0|1234|5a6f7e");
  }
};

std::vector<LegacyModel> Models(const Bytes& setup) {
  return {MakeLegacyModel(7, 3, 32, 48, setup), MakeLegacyModel(9, 0x102, 20, 64, setup)};
}

Bytes RawSetup() { return RawSetupPlaceholder(); }

// The expected encrypted models: pieces scrambled, setups replaced.
std::vector<LegacyModel> Encrypted(std::vector<LegacyModel> models, uint32_t key, const Bytes& setup) {
  for (LegacyModel& m : models) {
    m.cmd = Scramble(m.cmd, key, 4), m.weight = Scramble(m.weight, key, 16), m.setup = setup;
  }
  return models;
}

// eFuse mode on every target and setup form; customer key mode, where the setups grow by the key data
// so the pieces after the first setup move and the records follow.
TEST_F(PostEncTest, LegacyContainersInBothKeyModes) {
  WriteBytes(dir_ / "key.bin", KeyFileBytes());
  const Bytes key_data = KeyData(0x1234, KeyFileBytes()), raw = RawSetup();
  SampleFbSetup stored, efuse, cust;  // stored: mode NoEnc present, so it can be flipped in place
  stored.with_encrypt_info = efuse.with_encrypt_info = cust.with_encrypt_info = true;
  efuse.encrypt_mode = 2, cust.encrypt_mode = 3, cust.key = key_data;
  Bytes raw_efuse = raw, raw_cust = raw;
  PutLE32(raw_efuse, 8, 0xFFFF0000);
  PutLE32(raw_cust, 8, static_cast<uint32_t>(raw.size()));
  raw_cust.insert(raw_cust.end(), key_data.begin(), key_data.end());
  const Strings tv = {"--TV", "5"}, customer = {"-f", "1234", "-F", "key.bin", "-o", "named"};
  const uint32_t tv_key = EFuseKey(5), cust_key = CustomerKey(0x1234, 0x51A9, KeyFileBytes());
  struct Case {
    std::string target;
    uint32_t major;
    Bytes setup, marked;
    Strings keys;
  };
  // TZ500: a setup without stored mode cannot be marked in place; it stays as it is, with a warning.
  // Without encrypt_info the customer key mode creates it.
  const Case cases[] = {{"TZ100", 0, raw, raw_efuse, tv},
                        {"TZ200", 0, raw, raw_efuse, tv},
                        {"TZ200", 1, BuildFbSetup(stored), BuildFbSetup(efuse), tv},
                        {"TZ300", 1, BuildFbSetup(stored), BuildFbSetup(efuse), tv},
                        {"TZ500", 1, BuildFbSetup(), BuildFbSetup(), tv},
                        {"TZ200", 0, raw, raw_cust, customer},
                        {"TZ300", 1, BuildFbSetup(), BuildFbSetup(cust), customer}};
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = "out" + std::to_string(n++), out_dir = root_ + "/" + folder;
    SCOPED_TRACE(folder);
    const bool tv_mode = c.keys == tv;
    const auto models = Models(c.setup);
    const std::string in = Legacy(c.target[2] - '1', c.major, models);
    const Bytes before = ReadBytes(in);
    Strings args = {"-E", in, "-O", folder};
    args.insert(args.end(), c.keys.begin(), c.keys.end());
    const RunResult r = Tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string name = tv_mode ? prefix_ + ".enc.bnx" : "named.enc.bnx";
    EXPECT_TRUE(EndsWith(r.out, kBanner + out_dir + "/" + name + "\n\n")) << r.out;
    EXPECT_EQ(DirEntries(out_dir), Strings{name});
    EXPECT_EQ(ReadBytes(in), before);
    EXPECT_EQ(Contains(r.err, "stores no encryption mode; it is left unmarked"), c.target == "TZ500") << r.err;
    // Keys given or derived stay out of the build log unless debug output is asked for.
    for (const char* key_text : {"Encryption Key", "Temp enc key", "1234", "51a9", "51A9"}) {
      EXPECT_FALSE(Contains(r.out + r.err, key_text)) << key_text << "\n" << r.out << r.err;
    }
    const LegacyPair expect = BuildLegacyPair(Encrypted(models, tv_mode ? tv_key : cust_key, c.marked), true);
    const Json::Value j = Decode(out_dir + "/" + name);
    ExpectHeader(j["header"], c.target, tv_mode ? "EM_TVNum" : "EM_CUSTOM", tv_mode ? 5 : 0, expect.all_models);
    EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), c.major);
    EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), expect.all_models);
    EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), expect.fw_info);
    EXPECT_EQ(j["model_info"][1]["name"].asString() + "/" + j["model_info"][1]["id"].asString() + "/" +
                  j["model_info"][1]["version"].asString(),
              "second/9/258");
  }
  const RunResult debug = Tool({"-E", Legacy(1, 0, Models(raw)), "-O", "debug", "-f", "1234", "-F", "key.bin"},
                               {"SPDLOG_LEVEL=debug"});
  char shown[64];
  std::snprintf(shown, sizeof(shown), "Encryption Key: [0x%08X]\n", cust_key);
  EXPECT_TRUE(Contains(debug.out, shown) && Contains(debug.out, "Temp enc key: [0x51A91234]\n")) << debug.out;
}

// -l keeps the encrypted pieces and the legacy pair with fw_info.txt; without it only the container.
TEST_F(PostEncTest, KeepAllWritesTheEncryptedPieces) {
  const auto models = Models(RawSetup());
  const std::string in = Legacy(0, 0, models);
  ASSERT_EQ(Tool({"-E", in, "--TV", "0x7", "-l", "-O", "out"}).status, 0);
  const std::string p = prefix_ + "_";
  EXPECT_EQ(DirEntries(out_), (Strings{prefix_ + ".enc.bnx", p + "all_models.bin", p + "fw_info.bin",
                                       p + "modelid_7_command.bin", p + "modelid_7_setup.bin",
                                       p + "modelid_7_weight.bin", p + "modelid_9_command.bin",
                                       p + "modelid_9_setup.bin", p + "modelid_9_weight.bin", "fw_info.txt"}));
  Bytes marked = RawSetup();
  PutLE32(marked, 8, 0xFFFF0000);
  const auto enc = Encrypted(models, EFuseKey(7), marked);
  const LegacyPair expect = BuildLegacyPair(enc, true);
  EXPECT_EQ(ReadBytes(out_ + "/" + p + "modelid_9_command.bin"), enc[1].cmd);
  EXPECT_EQ(ReadBytes(out_ + "/" + p + "modelid_7_weight.bin"), enc[0].weight);
  EXPECT_EQ(ReadBytes(out_ + "/" + p + "modelid_9_setup.bin"), marked);
  EXPECT_EQ(ReadBytes(out_ + "/" + p + "all_models.bin"), expect.all_models);
  EXPECT_EQ(ReadBytes(out_ + "/" + p + "fw_info.bin"), expect.fw_info);
  const std::string txt = ReadText(out_ + "/fw_info.txt");
  EXPECT_EQ(txt.substr(0, txt.find('\n', txt.find('\n') + 1)),
            "Total [2] models:\n    id: [7], version: [0x3]");
  EXPECT_NE(txt.find("checksum: all_models.bin [0x" + fmt(expect.all_models_crc) + "]\n"), std::string::npos);
}

// NPU payloads of a TXM file in a fixed order: (model, core) cmd then weight, loop npu_params last.
struct TxmPayloads {
  std::vector<std::pair<int, int>> modes;  // model id, encrypt mode
  std::vector<Bytes> keys;
  std::vector<Bytes> scrambled;  // cmd / weight of NPU cores, nested ones included
  std::vector<Bytes> untouched;  // the loops' own npu_params and the constant inputs
};

TxmPayloads Payloads(const Bytes& txm) {
  flatbuffers::Verifier v(txm.data(), txm.size());
  EXPECT_TRUE(v.VerifyBuffer<TalvexTXM::TXMContent>(nullptr));
  TalvexTXM::TXMContentT t;
  flatbuffers::GetRoot<TalvexTXM::TXMContent>(txm.data())->UnPackTo(&t);
  TxmPayloads p;
  auto npu = [&](const TalvexTXM::CoreT& c) {
    if (const auto* n = c.eu_params.AsNPUEUParams()) {
      p.scrambled.push_back(n->cmd);
      p.scrambled.push_back(n->weight);
    }
  };
  for (const auto& m : t.models) {
    p.modes.emplace_back(m->header->id, static_cast<int>(m->header->encrypt_info->mode));
    p.keys.push_back(m->header->encrypt_info->key);
    p.untouched.push_back(m->const_input);
    for (const auto& c : m->cores) {
      npu(*c);
      if (const auto* loop = c->eu_params.AsLoopEUParams()) {
        for (const auto& sub : c->exe_unit) npu(*sub);
        p.untouched.push_back(loop->npu_params->cmd);
        p.untouched.push_back(loop->npu_params->weight);
      }
    }
  }
  return p;
}

TEST_F(PostEncTest, TxmContainerInBothKeyModes) {
  WriteBytes(dir_ / "key.bin", KeyFileBytes());
  const Bytes short_key(10, 0xFF);  // words 0 and 1 and the low half of word 2; the rest is 0
  WriteBytes(dir_ / "short.key", short_key);
  const std::string in = Txm();
  const Bytes before = ReadBytes(in);
  const TxmPayloads src = Payloads(BuildSampleTxm());
  struct Case {
    Strings args;
    uint32_t key;
    int mode;
    Bytes key_bytes;
    std::string header_mode;
    uint32_t tv;
  };
  const Bytes empty;
  for (const Case& c : {Case{{"--TV", "1234"}, EFuseKey(0x1234), 2, empty, "EM_TVNum", 0x1234},
                        Case{{"-f", "beef", "-g", "77", "-F", "key.bin"}, CustomerKey(0xBEEF, 0x77, KeyFileBytes()), 3,
                             KeyData(0xBEEF, KeyFileBytes()), "EM_CUSTOM", 0},
                        Case{{"-f", "beef", "-g", "77", "-F", "short.key"}, CustomerKey(0xBEEF, 0x77, short_key), 3,
                             KeyData(0xBEEF, short_key), "EM_CUSTOM", 0}}) {
    SCOPED_TRACE(c.args.back());
    Strings args = {"-E", in, "-O", c.header_mode};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Contains(r.err, "encryption_file is too short, better use file larger than 1024 bytes"),
              c.args.back() == "short.key")
        << r.err;
    EXPECT_FALSE(Contains(r.out + r.err, "Encryption Key") || Contains(r.out + r.err, "beef")) << r.out << r.err;
    const std::string out = root_ + "/" + c.header_mode + "/models_400.enc.bnx";
    EXPECT_TRUE(EndsWith(r.out, kBanner + out + "\n\n")) << r.out;
    EXPECT_EQ(DirEntries(dir_ / c.header_mode), Strings{"models_400.enc.bnx"});
    const Json::Value j = Decode(out);
    const Bytes txm = JsonBytes(j["model_bin"]["all_models"]);
    ExpectHeader(j["header"], "TZ400", c.header_mode, c.tv, txm);
    EXPECT_EQ(j["header"]["schema_version"]["major_num"].asUInt(), 2u);
    EXPECT_EQ(j["model_info"].size(), 2u);
    EXPECT_EQ(j["model_info"][1]["id"].asInt(), 2);
    EXPECT_EQ(j["model_bin"]["fw_info"].size(), 0u);
    const TxmPayloads got = Payloads(txm);
    EXPECT_EQ(got.modes, (std::vector<std::pair<int, int>>{{1, c.mode}, {2, c.mode}}));
    for (size_t i = 0; i < got.keys.size(); ++i) EXPECT_EQ(got.keys[i], c.mode == 3 ? c.key_bytes : src.keys[i]);
    ASSERT_EQ(got.scrambled.size(), src.scrambled.size());
    for (size_t i = 0; i < got.scrambled.size(); ++i) {
      EXPECT_EQ(got.scrambled[i], Scramble(src.scrambled[i], c.key, i % 2 == 0 ? 4 : 16)) << i;
    }
    EXPECT_EQ(got.untouched, src.untouched);
  }
  EXPECT_EQ(ReadBytes(in), before);
  // -l keeps the encrypted TXM file and names it first; -o names both outputs.
  const RunResult r = Tool({"-E", in, "--TV", "3", "-l", "-O", "kept", "-o", "enc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "kept/enc\n" + kBanner + RealPath(dir_ / "kept") + "/enc.enc.bnx\n\n");
  EXPECT_EQ(DirEntries(dir_ / "kept"), (Strings{"enc", "enc.enc.bnx"}));
  EXPECT_EQ(ReadBytes(dir_ / "kept/enc"), JsonBytes(Decode(dir_ / "kept/enc.enc.bnx")["model_bin"]["all_models"]));
}

TEST_F(PostEncTest, RefusalsNameTheConditionAndWriteNothing) {
  const auto good = Models(RawSetup());
  auto legacy = [&](const std::vector<LegacyModel>& m) { return [this, m] { return Legacy(0, 0, m); }; };
  auto sample = [this](SampleBnx s) {
    return [this, s] {
      WriteBytes(dir_ / "in.bnx", BuildBnx(s));
      return dir_ / "in.bnx";
    };
  };
  SampleBnx encrypted;
  encrypted.all_models = BuildSampleTxm(), encrypted.encryption_mode = 1;
  SampleBnx mismatch;
  mismatch.target = 0;
  SampleBnx bad_txm;  // TZ400, schema 2, 100 bytes that are no TXM file
  bad_txm.all_models = Bytes(100, 0xAB);
  SampleTxmOptions enc_models;
  enc_models.models[1].encrypt_mode = TalvexTXM::EncryptedMode::EFuse;
  SampleBnx no_fw_info;  // TZ300 without its fw_info.bin
  no_fw_info.target = 2, no_fw_info.major = 1, no_fw_info.all_models = Bytes(100, 0xAB);
  SampleBnx short_payload = no_fw_info;  // records that reach past all_models.bin
  short_payload.fw_info = BuildLegacyPair(good, true).fw_info;
  std::vector<LegacyModel> odd_weight = good, odd_cmd = good, illegal = good;
  odd_weight[0] = MakeLegacyModel(7, 3, 32, 40, RawSetup());
  odd_cmd[1] = MakeLegacyModel(9, 3, 18, 16, RawSetup());
  illegal[1].setup = Bytes(24, 0);
  struct Case {
    std::string name;
    std::function<std::string()> make;
    Strings keys;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"missing", [this] { return dir_ / "none.bnx"; }, {"--TV", "5"}, "BNX file not exist: "},
      {"not bnx", [this] { WriteText(dir_ / "in.bnx", "not a container at all"); return dir_ / "in.bnx"; },
       {"--TV", "5"}, "Not a valid BNX file."},
      {"empty", [this] { WriteText(dir_ / "in.bnx", ""); return dir_ / "in.bnx"; }, {"--TV", "5"},
       "in.bnx (file is empty)"},
      {"encrypted", sample(encrypted), {"--TV", "5"},
       "The container is already encrypted (encryption_mode CUSTOM, tv_number 0x0): "},
      {"target", sample(mismatch), {"--TV", "5"}, "Schema major 2 does not fit target 100: "},
      {"txm", sample(bad_txm), {"--TV", "5"}, "in.bnx: txm: FAILED: expected a valid TXM file"},
      {"no fw_info", sample(no_fw_info), {"--TV", "5"}, "in.bnx: fw_info.bin: FAILED: expected a readable model table"},
      {"short payload", sample(short_payload), {"--TV", "5"},
       "in.bnx: model #1 bounds: FAILED: expected bytes"},
      {"txm encrypted", [&] { return Txm(enc_models); }, {"--TV", "5"}, "the model should not be encryped"},
      {"weight", legacy(odd_weight), {"--TV", "5"},
       "Weight of model 7 (#0) has 40 bytes, cannot be scrambled: length % 16 == 0"},
      {"cmd", legacy(odd_cmd), {"-f", "1", "-F", TALVEX_BIN},
       "Command of model 9 (#1) has 18 bytes, cannot be scrambled: length % 4 == 0"},
      {"setup", legacy(illegal), {"--TV", "5"}, "in.bnx: model #2 setup: FAILED: expected a raw setup.bin"},
      {"key file", legacy(good), {"-f", "1", "-F", "nokey.bin"}, "Failed to read key [nokey.bin]"},
      {"empty key", legacy(good), {"-f", "1", "-F", "empty.key"}, "Key file [empty.key] is empty"},
      {"zero key", legacy(good), {"-f", "1", "-F", "zero.key"}, "Key file [zero.key] has only zero bytes"},
      {"fifo key", [&] { return Txm(); }, {"-f", "1", "-F", "fifo.key"}, "Key file [fifo.key] is a FIFO, not a"},
      {"key 0", legacy(good), {"-f", "0x1234", "-F", "tiny.key"}, "Key file [tiny.key] with these keys gives the encryption key 0"},
      {"folder key", legacy(good), {"-f", "1", "-F", "dir.key"}, "Key file [dir.key] is a directory, not a"},
      {"device key", legacy(good), {"-f", "1", "-F", "/dev/zero"}, "Key file [/dev/zero] is a character device"},
      {"no key via -V", legacy(good), {"-V"}, "tv_number or customer_key is empty"},
      {"blank path via -V", [] { return std::string(); }, {"-V"}, "model_path is empty"},
  };
  WriteBytes(dir_ / "empty.key", {});
  WriteBytes(dir_ / "zero.key", Bytes(1024, 0));
  WriteBytes(dir_ / "tiny.key", {0x01});
  ASSERT_EQ(mkfifo((dir_ / "fifo.key").c_str(), 0644), 0);
  ASSERT_EQ(mkdir((dir_ / "dir.key").c_str(), 0755), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = c.make();
    const Bytes before = Exists(in) ? ReadBytes(in) : Bytes();
    // Under a time limit: a key file that blocks the tool fails here instead of hanging the suite.
    Strings args = {"10", TALVEX_BIN, "-E", in, "-O", "out"};
    args.insert(args.end(), c.keys.begin(), c.keys.end());
    const RunResult r = RunTool("timeout", args, dir_.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.out << r.err;
    const std::string tv = c.keys[0] == "--TV" ? "5" : "0";
    EXPECT_NE(r.err.find("Failed to PostEnc with tv_number: " + tv + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("generated"), std::string::npos);
    EXPECT_EQ(DirEntries(out_), Strings{});
    EXPECT_EQ(Exists(in) ? ReadBytes(in) : Bytes(), before);
  }
  // (A missing key is refused by the command line before the mode runs: command_line_test.)
}

// An output that would replace the input needs --replace_original.
TEST_F(PostEncTest, OutputOverTheInput) {
  mkdir((dir_ / "out").c_str(), 0755);
  Legacy(0, 0, Models(RawSetup()), "out/x.enc.bnx");
  const Bytes before = ReadBytes(dir_ / "out/x.enc.bnx");
  RunResult r = Tool({"-E", "out/x.enc.bnx", "--TV", "5", "-o", "x", "-O", "out"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("The output out/x.enc.bnx is the input container; use --replace_original to replace it"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadBytes(dir_ / "out/x.enc.bnx"), before);
  r = Tool({"-E", "out/x.enc.bnx", "--TV", "5", "-o", "x", "-O", "out", "--replace_original"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Decode(dir_ / "out/x.enc.bnx")["header"]["encryption_mode"].asString(), "EM_TVNum");
  EXPECT_EQ(DirEntries(out_), Strings{"x.enc.bnx"});
}

// The last key option decides; a device key number ignores the key file.
TEST_F(PostEncTest, KeyOptionsDecideTheMode) {
  WriteBytes(dir_ / "key.bin", KeyFileBytes());
  const std::string in = Legacy(1, 0, Models(RawSetup()));
  struct Case {
    Strings keys;
    std::string same_as;
  };
  ASSERT_EQ(Tool({"-E", in, "--TV", "5", "-O", "tv"}).status, 0);
  // --TV clears the e-fuse key, so a customer key after it is combined with e-fuse key 0.
  ASSERT_EQ(Tool({"-E", in, "-f", "10", "-g", "0", "-F", "key.bin", "-O", "cust"}).status, 0);
  for (const Case& c : {Case{{"--TV", "5", "-F", "key.bin"}, "tv"},
                        Case{{"--TV", "5", "-F", "."}, "tv"},  // not read, so not refused
                        Case{{"-f", "10", "--TV", "5"}, "tv"},
                        Case{{"--TV", "5", "-f", "10", "-F", "key.bin"}, "cust"}}) {
    Strings args = {"-E", in, "-O", "run"};
    args.insert(args.end(), c.keys.begin(), c.keys.end());
    ASSERT_EQ(Tool(args).status, 0);
    EXPECT_EQ(ReadBytes(dir_ / "run/" + prefix_ + ".enc.bnx"), ReadBytes(dir_ / c.same_as + "/" + prefix_ + ".enc.bnx"))
        << c.keys[0] << c.keys[1] << c.keys[2];
  }
  // Without -F the key file is the executable itself, read from its folder.
  ASSERT_EQ(Tool({"-E", in, "-f", "10", "-O", "default"}).status, 0);
  const Bytes exe = ReadBytes(TALVEX_BIN);
  const Bytes table(exe.begin(), exe.begin() + 1024);
  const Bytes payload = JsonBytes(Decode(dir_ / "default/" + prefix_ + ".enc.bnx")["model_bin"]["all_models"]);
  const Bytes cmd(payload.begin(), payload.begin() + 32);
  EXPECT_EQ(cmd, Scramble(Models(RawSetup())[0].cmd, CustomerKey(0x10, 0x51A9, table), 4));
  const Bytes key_data = KeyData(0x10, table);
  EXPECT_NE(std::search(payload.begin(), payload.end(), key_data.begin(), key_data.end()), payload.end());
}

// TZ100 command words: CONF writes a 16-bit value into a register; others carry no address.
const auto Conf = Tz100Conf;
uint32_t Op(uint32_t opcode) { return Tz100Insn(opcode, 0, 0); }
const auto Words = LE32Words;
// Weight fetches at weight + 0x40, a read of the working buffer, a write to the output buffer.
std::vector<uint32_t> Tz100Command(uint32_t weight, uint32_t extra_op = 0) {
  std::vector<uint32_t> w = {Conf(0x2e, weight + 0x40), Conf(0x2f, (weight + 0x40) >> 16), Op(6),
                             Conf(0x0e, 0x1010), Conf(0x0f, 0x6000), Conf(0x36, 0x0100), Conf(0x37, 0x6000), Op(5)};
  if (extra_op != 0) w.insert(w.begin() + 1, extra_op);
  return w;
}

// Customer key on TZ100: the second model's pieces move by the key data of the first setup, so
// its weight fetch addresses are relocated in the plain words before they are scrambled.
TEST_F(PostEncTest, TZ100CustomerKeyRelocatesTheCommandStream) {
  WriteBytes(dir_ / "key.bin", KeyFileBytes());
  const Bytes setup = BuildRawSetup100(), key_data = KeyData(0x99, KeyFileBytes());
  // Old layout from 0x60100000: model 7 cmd 32, weight 48, setup 160; model 9 cmd 32 at 0x601000F0.
  const uint32_t old_wt7 = 0x60100020, old_wt9 = 0x60100110;
  std::vector<LegacyModel> models = {MakeLegacyModel(7, 1, 0, 48, setup), MakeLegacyModel(9, 2, 0, 64, setup)};
  models[0].cmd = Words(Tz100Command(old_wt7));
  models[1].cmd = Words(Tz100Command(old_wt9));
  const std::string in = Legacy(0, 0, models);
  const RunResult r = Tool({"-E", in, "-f", "99", "-F", "key.bin", "-O", "out"});
  ASSERT_EQ(r.status, 0) << r.err;

  Bytes marked = setup;
  PutLE32(marked, 8, static_cast<uint32_t>(setup.size()));
  marked.insert(marked.end(), key_data.begin(), key_data.end());
  std::vector<LegacyModel> plain = models;
  plain[1].cmd = Words(Tz100Command(old_wt9 + 0x420));  // the first setup grew from 160 to 1216 bytes
  const uint32_t key = CustomerKey(0x99, 0x51A9, KeyFileBytes());
  const LegacyPair expect = BuildLegacyPair(Encrypted(plain, key, marked), true);
  const Json::Value j = Decode(out_ + "/" + prefix_ + ".enc.bnx");
  EXPECT_EQ(JsonBytes(j["model_bin"]["all_models"]), expect.all_models);
  EXPECT_EQ(JsonBytes(j["model_bin"]["fw_info"]), expect.fw_info);

  // A stream the relocation cannot read stops the mode before anything is written.
  models[1].cmd = Words(Tz100Command(old_wt9, Op(4)));
  const std::string broken = Legacy(0, 0, models, "broken.bnx");
  const RunResult bad = Tool({"-E", broken, "-f", "99", "-F", "key.bin", "-O", "bad"});
  EXPECT_EQ(bad.status, 255);
  EXPECT_NE(bad.err.find("register of acl and ach should be continue!"), std::string::npos) << bad.err;
  EXPECT_EQ(DirEntries(dir_ / "bad"), Strings{});
}

}  // namespace
