// Writes test inputs with the builders of tests/support (never with the tool's own writers), for
// the end-to-end cases and the bundled samples:
//   make_input txm PATH [key=value...]     a TZ400 compiler output
//   make_input bnx PATH [key=value...]     a container; prints its default name prefix
//   make_input pair FW ALL [key=value...]  a legacy fw_info.bin / all_models.bin pair
//   make_input setup PATH [setup=FORM]     one setup.bin of the forms below
//   make_input samples DIR                 the bundled samples (samples/)
//   make_input corpus DIR                  the damaged inputs of tests/cases/hostile.py
// TXM knobs: ids=1,2 cmd=BYTES,... weight=BYTES in_addr=A encrypted=M (model M eFuse-marked),
// drop=M,C (core C of model M gone), nest=1 (a loop core inside model 1's loop core), header=0
// (no file header), txmtarget=N (its target), cores=0 (models without cores), input=NAME (model
// 1's first input), shift=1 (model 1's first cmd starts 4 bytes late, off its 64-byte alignment;
// prints where).
// Container knobs: payload=txm|legacy|junk (size=N bytes of 0xAB), wrap=FILE (FILE's bytes as the
// payload), bnxheader=0 (no header), target, major, tv, enc, crc, uuid, platform, compiler,
// toolchain, sid, stag (\n for a line end), models=NAME:ID:VERSION,... (default m<id>:<id>:1), fw=N
// (N bytes 9, 8, 7... of fw_info), and damages after the CRCs: payload-xor=AT, fw-xor=AT (a bit
// flipped), fw-size=N, fw-put=AT:WORD, seal=1 (fw_info's last word made the CRC of those before it
// again); AT < 0 counts from the end.
// Legacy knobs (payload=legacy and pair): ids=7,9 cmd=20,36 wt=40,17 (byte counts) version=3,4,
// setup=FORM,... (per model, the last repeats: raw, fb, raw100, fbfull, fbstored), cut=N (setups cut
// or padded to N bytes), pad=BYTE, at=IN,INSZ,OUT,OUTSZ,WBUF,WBUFSZ,CMD/... (per model; CMD 0: after
// the model before), tz100=RDMA,WDMA,GETW,SUPER,DRAM,CMD,OUT/... (TZ100 command words and raw
// setup), tzcmd=1 (weight-fetch command words), keydata=N (setups grown by N bytes), and what
// post-encryption must make of them: mark=efuse, xc=W (command words XOR W), xw=W0,W1,W2,W3 (weight
// blocks XOR). Pair only: section=0 (no CRC section), edit=1 (a byte of model 1's command changed
// before the section is made), tail=N (N bytes after the last block), fw-put, seal.
// target numbers are the container's: 0 TZ100 (raw setups), 1 TZ200, 2 TZ300, 3 TZ400, 4 TZ500.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bnx_generated.h"
#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

using Knobs = std::map<std::string, std::string>;
using Bytes = std::vector<uint8_t>;

// key=value words after the paths.
Knobs Read(int argc, char** argv, int first) {
  Knobs k;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    const size_t eq = word.find('=');
    if (eq == std::string::npos) throw std::runtime_error("not key=value: " + word);
    k[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return k;
}

void Samples(const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  WriteSampleTxm(dir + "/sample.txm");
  mkdir((dir + "/tz300").c_str(), 0755);
  const auto tz300 = BuildLegacyPair(
      {MakeLegacyModel(32768, 1, 96, 256, BuildFbSetup()), MakeLegacyModel(32769, 2, 64, 128, BuildFbSetup())}, false);
  WriteLegacyPair(tz300, dir + "/tz300/fw_info.bin", dir + "/tz300/all_models.bin");
  mkdir((dir + "/tz100").c_str(), 0755);
  const auto tz100 = BuildLegacyPair({MakeLegacyModel(1, 1, 48, 80, BuildRawSetup100())}, false);
  WriteLegacyPair(tz100, dir + "/tz100/fw_info.bin", dir + "/tz100/all_models.bin");
  std::printf("samples written to %s\n", dir.c_str());
}

// Damaged inputs for tests/cases/hostile.py, each of a shape every mode must refuse cleanly (or
// take, as its table says), and the good inputs that go beside them in good/.
void Corpus(const std::string& dir) {
  using Named = std::pair<std::string, const Bytes&>;
  mkdir(dir.c_str(), 0755);
  const auto put = [&](const std::string& name, const Bytes& bytes) { WriteBytes(dir + "/" + name, bytes); };
  const auto legacy = [](int32_t target, const LegacyPair& pair) { return BuildBnx(LegacyBnx(target, pair)); };
  const Bytes txm = BuildSampleTxm();
  SampleBnx txm_s;
  txm_s.all_models = txm;
  const Bytes bnx_txm = BuildBnx(txm_s);
  const LegacyPair pair300 = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true);
  const std::vector<LegacyModel> raw_models = {MakeLegacyModel(1, 1, 48, 80, BuildRawSetup100()),
                                               MakeLegacyModel(2, 1, 32, 64, BuildRawSetup100())};
  const Bytes bnx300 = legacy(2, pair300), bnx100 = legacy(0, BuildLegacyPair(raw_models, true));

  // Truncations at the boundaries of the FlatBuffers layout and the CRC trailer; root offsets past the end.
  for (const auto& [name, good] : {Named{"bnx_txm", bnx_txm}, {"bnx300", bnx300}, {"bnx100", bnx100}, {"txm", txm}}) {
    for (size_t len : {size_t{0}, size_t{3}, size_t{4}, size_t{8}, size_t{16}, good.size() / 2, good.size() - 5,
                       good.size() - 4, good.size() - 1}) {
      put(name + "_cut" + std::to_string(len), Bytes(good.begin(), good.begin() + len));
    }
    for (uint32_t root : {static_cast<uint32_t>(good.size()), 0x7fffffffu, 0xffffffffu}) {
      Bytes b = good;
      PutLE32(b, 0, root);
      put(name + "_root" + std::to_string(root), b);
    }
  }
  // Payload vector lengths of 0, 0x7fffffff and 0xffffffff (the TXM inside the container).
  const size_t at = static_cast<size_t>(std::search(bnx_txm.begin(), bnx_txm.end(), txm.begin(), txm.end()) - bnx_txm.begin()) - 4;
  for (uint32_t n : {0u, 0x7fffffffu, 0xffffffffu}) {
    Bytes b = bnx_txm;
    PutLE32(b, at, n);
    put("bnx_txm_len" + std::to_string(n), b);
  }
  // fw_info.bin counts and sizes of 0, 0x7fffffff and 0xffffffff, carried by a container.
  for (uint32_t v : {0u, 0x7fffffffu, 0xffffffffu}) {
    for (const auto& [field, off] : {std::pair<std::string, size_t>{"count", 0}, {"size_cmd", 4 + 9 * 4},
                                     {"size_wt", 4 + 11 * 4}, {"size_fw", 4 + 13 * 4}}) {
      LegacyPair p = pair300;
      PutLE32(p.fw_info, off, v);
      put("bnx300_" + field + std::to_string(v), legacy(2, p));
    }
  }
  // Wrong magic: a raw setup whose first word is not the raw magic, in a TZ100 container.
  std::vector<LegacyModel> bad_magic = raw_models;
  for (auto& m : bad_magic) PutLE32(m.setup, 0, 0x12345678);
  put("bnx100_setup_magic", legacy(0, BuildLegacyPair(bad_magic, true)));
  // A union type without its value, in a legacy container's setup and alone.
  const Bytes bare = BuildFbSetupBareOptionsTag();
  put("bnx300_bare_tag", legacy(2, BuildLegacyPair({MakeLegacyModel(1, 1, 32, 64, bare)}, true)));
  put("setup_bare_tag", bare);
  // A setup of the wrong form for its target: flatbuffer for TZ100, raw for TZ300.
  put("bnx100_fb_setup", legacy(0, BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true)));
  put("bnx300_raw_setup", legacy(2, BuildLegacyPair(raw_models, true)));
  // One payload bit flipped, with the trailer left as it was or computed anew, so that only the
  // header crc and the fw_info.bin CRC section tell.
  for (const auto& [name, good] : {Named{"bnx_txm", bnx_txm}, {"bnx300", bnx300}, {"bnx100", bnx100}}) {
    const auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(good.data());
    Bytes b = good;
    b[static_cast<size_t>(root->model_bin()->all_models()->data() - good.data()) + 40] ^= 0x10;
    put(name + "_bitflip", b);
    PutLE32(b, b.size() - 4, Crc32(b, 0, b.size() - 4));
    put(name + "_bitflip_resealed", b);
  }
  // all_models.bin edited after its fw_info.bin CRC section was made, in a container whose header
  // crc and trailer agree with the edit; the section of another all_models.bin of the same layout;
  // bytes after the section.
  LegacyPair stale = pair300;
  stale.all_models[20] ^= 0x01;
  put("bnx300_stale_section", legacy(2, stale));
  std::vector<LegacyModel> edited = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
  edited[0].weight[0] ^= 0x01;
  put("fw_info_stale_section", BuildLegacyPair(edited, true).fw_info);
  Bytes junk_section = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false).fw_info;
  junk_section.insert(junk_section.end(), 16, 0x5C);
  put("fw_info_junk_section", junk_section);
  // Key files: only zero words, a pipe; a fw_info.bin alone; junk.
  put("key_zero", Bytes(1024, 0));
  if (mkfifo((dir + "/key_fifo").c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
  put("fw_info_only", pair300.fw_info);
  put("junk", Bytes(4096, 0xA5));

  const std::string good = dir + "/good";
  mkdir(good.c_str(), 0755);
  WriteSampleTxm(good + "/good.txm");
  WriteLegacyPair(BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false), good + "/good_fw_info.bin",
                  good + "/good_all_models.bin");
  WriteText(good + "/addr.json", R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
                                 R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})");
  WriteBytes(good + "/good.bnx", BuildBnx(SampleBnx()));
  WriteBytes(good + "/good.key", PayloadBytes(1024, 3));
}


std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1) parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}
// A text knob in which "\\n" stands for a line end.
std::string Lines(const Knobs& k, const std::string& key, const std::string& fallback) {
  const auto it = k.find(key);
  if (it == k.end()) return fallback;
  std::string t = it->second;
  for (size_t at; (at = t.find("\\n")) != std::string::npos;) t.replace(at, 2, "\n");
  return t;
}
long Num(const Knobs& k, const std::string& key, long fallback) {
  return k.count(key) ? std::strtol(k.at(key).c_str(), nullptr, 0) : fallback;
}
// AT < 0 counts from the end.
size_t At(const Bytes& bytes, long at) { return at < 0 ? bytes.size() - static_cast<size_t>(-at) : static_cast<size_t>(at); }

// Damages of a finished fw_info.bin: fw-xor=AT, fw-put=AT:WORD, then seal=1.
void Damage(Bytes& fw, const Knobs& k) {
  if (k.count("fw-xor")) fw[At(fw, Num(k, "fw-xor", 0))] ^= 1;
  if (k.count("fw-size")) fw.resize(static_cast<size_t>(Num(k, "fw-size", 0)));
  if (k.count("fw-put")) {
    const auto v = Split(k.at("fw-put"), ':');
    PutLE32(fw, At(fw, std::strtol(v[0].c_str(), nullptr, 0)), static_cast<uint32_t>(std::strtoul(v[1].c_str(), nullptr, 0)));
  }
  if (Num(k, "seal", 0)) PutLE32(fw, fw.size() - 4, Crc32(fw, 0, fw.size() - 4));
}
std::vector<uint32_t> Nums(const std::string& text) {
  std::vector<uint32_t> v;
  for (const std::string& p : Split(text, ',')) v.push_back(static_cast<uint32_t>(std::strtoul(p.c_str(), nullptr, 0)));
  return v;
}
// Per-model lists: "a,b,c/d,e,f".
std::vector<std::vector<uint32_t>> NumLists(const Knobs& k, const std::string& key) {
  std::vector<std::vector<uint32_t>> lists;
  if (k.count(key)) for (const std::string& p : Split(k.at(key), '/')) lists.push_back(Nums(p));
  return lists;
}
uint32_t Pad16(size_t n) { return static_cast<uint32_t>((n + 15) / 16 * 16); }

std::vector<uint8_t> Setup(const std::string& form, const Knobs& k) {
  if (form == "raw100") return BuildRawSetup100();
  if (form == "fb") return SampleLegacyModels(LegacySetupForm::kFlatbuffer)[0].setup;
  if (form == "fbfull" || form == "fbstored") {
    SampleFbSetup s;
    s.with_encrypt_info = form == "fbstored";
    if (Lines(k, "mark", "") == "efuse") s.encrypt_mode = 2;  // EncryptedMode.EFuse
    return BuildFbSetup(s);
  }
  std::vector<uint8_t> raw = RawSetupPlaceholder();
  if (Lines(k, "mark", "") == "efuse") PutLE32(raw, 8, 0xFFFF0000);
  return raw;
}

// Weight fetches at weight + 0x40, a read of the working buffer, a write to the output buffer.
std::vector<uint8_t> WeightFetchCommand(uint32_t weight) {
  const uint32_t fetch = weight + 0x40;
  return LE32Words({Tz100Conf(0x2e, fetch), Tz100Conf(0x2f, fetch >> 16), Tz100Insn(6, 0, 0), Tz100Conf(0x0e, 0x1010),
                    Tz100Conf(0x0f, 0x6000), Tz100Conf(0x36, 0x0100), Tz100Conf(0x37, 0x6000), Tz100Insn(5, 0, 0)});
}

std::vector<uint8_t> Xor(std::vector<uint8_t> data, const std::vector<uint32_t>& mask) {
  for (size_t i = 0; i + 4 <= data.size(); i += 4) {
    for (size_t b = 0; b < 4; ++b) data[i + b] ^= static_cast<uint8_t>(mask[(i / 4) % mask.size()] >> (8 * b));
  }
  return data;
}

std::vector<LegacyModel> LegacyModels(const Knobs& k) {
  const std::vector<uint32_t> ids = Nums(Lines(k, "ids", "7,9")), cmd = Nums(Lines(k, "cmd", "20,36")),
                              wt = Nums(Lines(k, "wt", "40,17"));
  const auto at = NumLists(k, "at"), tz100 = NumLists(k, "tz100");
  std::vector<LegacyModel> models;
  uint32_t next = 0x60100000;  // where the builder lays out the pieces
  for (size_t i = 0; i < ids.size() && !Lines(k, "ids", "7,9").empty(); ++i) {
    const std::vector<uint32_t> versions = Nums(Lines(k, "version", "3,4"));
    const std::vector<std::string> setups = Split(Lines(k, "setup", "raw"), ',');
    LegacyModel m = MakeLegacyModel(ids[i], versions[std::min(i, versions.size() - 1)], cmd[i], wt[i],
                                    Setup(setups[std::min(i, setups.size() - 1)], k));
    if (k.count("cut")) m.setup.resize(static_cast<size_t>(Num(k, "cut", 0)));
    if (!tz100.empty()) {  // {rdma, wdma, getw, super, dram, cmd, out}
      const auto& t = tz100[i];
      m.cmd = LE32Words({Tz100Conf(0x0e, t[0]), Tz100Conf(0x0f, t[0] >> 16), Tz100Conf(0x36, t[1]),
                         Tz100Conf(0x37, t[1] >> 16), Tz100Conf(0x2e, t[2]), Tz100Conf(0x2f, t[2] >> 16)});
      RawTZ100Header h;
      h.dram_start = t[4], h.cmd_start = t[5], h.weight_start = t[5] + 32, h.input_start = 0x60000000;
      RawSuperNode super;
      super.addr = t[3];
      m.setup = RawSetupWriter().Header(h).InputInfo().Super(super).bytes();
      m.addr_in = 0x60000000, m.size_in = 0x100, m.addr_out = t[6], m.size_out = 0x40;
      m.addr_wbuf = t[4], m.size_wbuf = 0x800, m.addr_cmd = t[5];
    }
    if (i < at.size()) {
      const auto& a = at[i];
      m.addr_in = a[0], m.size_in = a[1], m.addr_out = a[2], m.size_out = a[3], m.addr_wbuf = a[4], m.size_wbuf = a[5];
      m.addr_cmd = a[6] != 0 || models.empty() ? a[6] : models.back().addr_fw + Pad16(models.back().setup.size());
    }
    if (Num(k, "tzcmd", 0)) m.cmd = WeightFetchCommand(next + 32);
    const size_t grown = m.setup.size() + static_cast<size_t>(Num(k, "keydata", 0));
    if (m.addr_cmd != 0) {
      m.addr_wt = m.addr_cmd + Pad16(m.cmd.size());
      m.addr_fw = m.addr_wt + Pad16(m.weight.size());
    }
    next += Pad16(m.cmd.size()) + Pad16(m.weight.size()) + Pad16(grown);
    if (k.count("xc")) m.cmd = Xor(m.cmd, Nums(k.at("xc")));
    if (k.count("xw")) m.weight = Xor(m.weight, Nums(k.at("xw")));
    models.push_back(m);
  }
  if (Num(k, "edit", 0)) models.at(0).cmd.at(0) ^= 0x5A;
  return models;
}

std::vector<SampleModel> ModelTable(const Knobs& k, const std::vector<uint32_t>& ids) {
  std::vector<SampleModel> table;
  if (k.count("models")) {
    for (const std::string& m : Split(k.at("models"), ',')) {
      const auto f = Split(m, ':');
      table.push_back({f[0], static_cast<int32_t>(std::strtol(f[1].c_str(), nullptr, 0)), f[2]});
    }
  } else {
    for (uint32_t id : ids) table.push_back({"m" + std::to_string(id), static_cast<int32_t>(id), "1"});
  }
  return table;
}

SampleTxmOptions TxmOptions(const Knobs& k) {
  SampleTxmOptions o;
  o.models.clear();
  const std::vector<uint32_t> ids = Nums(Lines(k, "ids", "1,2")), cmd = Nums(Lines(k, "cmd", "256"));
  for (size_t i = 0; i < ids.size(); ++i) {
    o.models.push_back(o.SampleModel(static_cast<int32_t>(ids[i])));
    o.models.back().cmd_bytes = cmd[std::min(i, cmd.size() - 1)];
    o.models.back().weight_bytes = static_cast<size_t>(Num(k, "weight", 1024));
  }
  o.with_header = Num(k, "header", 1) != 0;
  o.target = static_cast<TalvexTXM::NPUTarget>(Num(k, "txmtarget", 1));
  if (k.count("in_addr")) o.header_buffer_info[0].start_addr = static_cast<uint64_t>(Num(k, "in_addr", 0));
  if (k.count("encrypted")) o.models[static_cast<size_t>(Num(k, "encrypted", 0))].encrypt_mode = TalvexTXM::EncryptedMode::EFuse;
  return o;
}

Bytes TxmFile(const Knobs& k) {
  if (k.count("wrap")) return ReadBytes(k.at("wrap"));
  TalvexTXM::TXMContentT txm = BuildSampleTxmObject(TxmOptions(k));
  if (k.count("drop")) {  // model:core, both positions
    const auto mc = Nums(Lines(k, "drop", ""));
    auto& cores = txm.models[mc[0]]->cores;
    cores.erase(cores.begin() + mc[1]);
  }
  if (Num(k, "nest", 0)) {  // a loop core inside the first model's loop core
    auto& loop = txm.models[0]->cores[2];
    loop->exe_unit.insert(loop->exe_unit.begin(), std::make_unique<TalvexTXM::CoreT>(*loop));
  }
  if (Num(k, "cores", 1) == 0) {
    for (auto& m : txm.models) m->cores.clear();
  }
  if (k.count("input")) txm.models[0]->header->inputs[0]->name = k.at("input");
  Bytes bytes = PackTxm(txm);
  if (Num(k, "shift", 0)) std::printf("cmd at %zu\n", ShiftPayload(bytes, 0, TxmPayload::kCmd, 0));
  return bytes;
}

SampleBnx Container(const Knobs& k) {
  SampleBnx s;
  const std::string payload = Lines(k, "payload", "txm");
  s.target = static_cast<int32_t>(Num(k, "target", payload == "legacy" ? 2 : 3));
  s.major = static_cast<uint32_t>(Num(k, "major", payload != "legacy" ? 2 : s.target == 0 ? 0 : 1));
  std::vector<uint32_t> ids;
  if (payload == "legacy") {
    const auto models = LegacyModels(k);
    const LegacyPair pair = BuildLegacyPair(models, true, static_cast<uint8_t>(Num(k, "pad", 0)));
    s.fw_info = pair.fw_info, s.all_models = pair.all_models;
    for (const auto& m : models) ids.push_back(m.id);
  } else if (payload == "junk") {
    s.all_models = std::vector<uint8_t>(static_cast<size_t>(Num(k, "size", 100)), 0xAB);
  } else {
    s.all_models = TxmFile(k);
    ids = Nums(Lines(k, "ids", "1,2"));
  }
  if (k.count("crc")) s.crc = static_cast<uint32_t>(Num(k, "crc", 0));
  if (k.count("uuid")) s.uuid = static_cast<uint32_t>(Num(k, "uuid", 0));
  s.tv_number = static_cast<uint32_t>(Num(k, "tv", 0));
  s.with_header = Num(k, "bnxheader", 1) != 0;
  s.encryption_mode = static_cast<int32_t>(Num(k, "enc", 0));
  s.platform = Lines(k, "platform", s.platform), s.compiler_version = Lines(k, "compiler", s.compiler_version);
  s.toolchain_version = Lines(k, "toolchain", s.toolchain_version), s.solution_id = Lines(k, "sid", s.solution_id);
  s.solution_tag = Lines(k, "stag", s.solution_tag);
  s.models = ModelTable(k, ids);
  for (long i = 0; i < Num(k, "fw", 0); ++i) s.fw_info.push_back(static_cast<uint8_t>(9 - i));
  Damage(s.fw_info, k);
  if (k.count("payload-xor")) {  // a bit of the payload flipped after the header crc was taken
    s.crc = Crc32(s.all_models);
    s.all_models[At(s.all_models, Num(k, "payload-xor", 0))] ^= 0x40;
  }
  return s;
}

int Make(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  const int paths = kind == "pair" ? 2 : 1;
  if (argc < 2 + paths) throw std::runtime_error("usage: make_input KIND PATH... [key=value...]");
  const std::string path = argv[2];
  const Knobs k = Read(argc, argv, 2 + paths);
  if (kind == "samples") {
    Samples(path);
  } else if (kind == "corpus") {
    Corpus(path);
  } else if (kind == "txm") {
    WriteBytes(path, TxmFile(k));
  } else if (kind == "bnx") {
    const SampleBnx s = Container(k);
    WriteBytes(path, BuildBnx(s));
    std::printf("%s\n", DefaultPrefix(s).c_str());
  } else if (kind == "pair") {
    LegacyPair pair = BuildLegacyPair(LegacyModels(k), Num(k, "section", 1) != 0, static_cast<uint8_t>(Num(k, "pad", 0)));
    pair.all_models.insert(pair.all_models.end(), static_cast<size_t>(Num(k, "tail", 0)), 0xEE);
    Damage(pair.fw_info, k);
    WriteLegacyPair(pair, path, argv[3]);
  } else if (kind == "setup") {
    WriteBytes(path, Setup(Lines(k, "setup", "raw"), k));
  } else {
    throw std::runtime_error("unknown kind: " + kind);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Make(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_input: %s\n", e.what());
    return 2;
  }
}
