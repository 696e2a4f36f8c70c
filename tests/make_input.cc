// Writes test inputs with the builders of tests/support (never with the tool's own writers), for
// the end-to-end cases and the bundled samples:
//   make_input txm PATH [models=N] [weight=BYTES]          a TZ400 compiler output
//   make_input bnx PATH [target=N]                      a container around the sample TXM (TZ400)
//   make_input legacy-bnx PATH [target=0..4] [weight=BYTES]  a legacy container of two models
//   make_input legacy-pair FW ALL [target=0..4] [crc=0|1]    its fw_info.bin / all_models.bin
//   make_input samples DIR                              the bundled samples (samples/)
//   make_input container PATH [key=value...]  a container with the knobs below; prints its default prefix
//   make_input pair FW ALL [key=value...]     the legacy pair of the same knobs
//   make_input txm-file PATH [key=value...]   a TXM file: ids=, cmd=, weight=, in_addr=, drop=M:C, nest=1
// Container knobs: payload=txm|legacy|junk, target, major, tv, enc, crc, uuid, platform, compiler,
// toolchain, sid, stag (\n for a line end), models=name:id:version,... Legacy knobs: ids, cmd, wt
// (byte counts), setup=raw|fb|raw100|fbfull|fbstored, pad, at=IN,INSZ,OUT,OUTSZ,WBUF,WBUFSZ,CMD/...
// (per model; CMD 0: after the model before), version=V,... tz100=RDMA,WDMA,GETW,SUPER,DRAM,CMD,OUT/... (TZ100 command words and raw setup),
// tzcmd=1 (weight-fetch command words), keydata=N (setups grown by N bytes), and what post-encryption
// must make of them: mark=efuse, xc=W (command words XOR W), xw=W0,W1,W2,W3 (weight blocks XOR).
// target numbers are the container's: 0 TZ100 (raw setups), 1 TZ200, 2 TZ300, 3 TZ400, 4 TZ500.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

// key=value words after the paths.
std::map<std::string, long> Options(int argc, char** argv, int first) {
  std::map<std::string, long> opts;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    const size_t eq = word.find('=');
    if (eq == std::string::npos) throw std::runtime_error("not key=value: " + word);
    opts[word.substr(0, eq)] = std::strtol(word.c_str() + eq + 1, nullptr, 0);
  }
  return opts;
}

long Get(const std::map<std::string, long>& opts, const std::string& key, long fallback) {
  const auto it = opts.find(key);
  return it == opts.end() ? fallback : it->second;
}

LegacyPair Pair(const std::map<std::string, long>& opts, bool with_crc) {
  const long target = Get(opts, "target", 2);
  std::vector<LegacyModel> models = SampleLegacyModels(target == 0 ? LegacySetupForm::kRaw : LegacySetupForm::kFlatbuffer);
  if (opts.count("weight")) {
    models[0] = MakeLegacyModel(models[0].id, 1, 4096, static_cast<size_t>(Get(opts, "weight", 0)), models[0].setup);
  }
  return BuildLegacyPair(models, with_crc);
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


// ---- knobs as text, for the kinds below ----
using Knobs = std::map<std::string, std::string>;

Knobs TextOptions(int argc, char** argv, int first) {
  Knobs k;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    const size_t eq = word.find('=');
    if (eq == std::string::npos) throw std::runtime_error("not key=value: " + word);
    k[word.substr(0, eq)] = word.substr(eq + 1);
  }
  return k;
}
std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(sep, from)) != std::string::npos; from = at + 1) parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}
std::string Text(const Knobs& k, const std::string& key, const std::string& fallback) {
  const auto it = k.find(key);
  if (it == k.end()) return fallback;
  std::string t = it->second;
  for (size_t at; (at = t.find("\\n")) != std::string::npos;) t.replace(at, 2, "\n");
  return t;
}
long Num(const Knobs& k, const std::string& key, long fallback) {
  return k.count(key) ? static_cast<long>(std::strtoul(k.at(key).c_str(), nullptr, 0)) : fallback;
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
    if (Text(k, "mark", "") == "efuse") s.encrypt_mode = 2;  // EncryptedMode.EFuse
    return BuildFbSetup(s);
  }
  std::vector<uint8_t> raw = RawSetupPlaceholder();
  if (Text(k, "mark", "") == "efuse") PutLE32(raw, 8, 0xFFFF0000);
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
  const std::vector<uint32_t> ids = Nums(Text(k, "ids", "7,9")), cmd = Nums(Text(k, "cmd", "20,36")),
                              wt = Nums(Text(k, "wt", "40,17"));
  const auto at = NumLists(k, "at"), tz100 = NumLists(k, "tz100");
  std::vector<LegacyModel> models;
  uint32_t next = 0x60100000;  // where the builder lays out the pieces
  for (size_t i = 0; i < ids.size() && !Text(k, "ids", "7,9").empty(); ++i) {
    const std::vector<uint32_t> versions = Nums(Text(k, "version", "3,4"));
    LegacyModel m = MakeLegacyModel(ids[i], versions[std::min(i, versions.size() - 1)], cmd[i], wt[i],
                                    Setup(Text(k, "setup", "raw"), k));
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
  const std::vector<uint32_t> ids = Nums(Text(k, "ids", "1,2")), cmd = Nums(Text(k, "cmd", "256"));
  for (size_t i = 0; i < ids.size(); ++i) {
    o.models.push_back(o.SampleModel(static_cast<int32_t>(ids[i])));
    o.models.back().cmd_bytes = cmd[std::min(i, cmd.size() - 1)];
    o.models.back().weight_bytes = static_cast<size_t>(Num(k, "weight", 1024));
  }
  if (k.count("in_addr")) o.header_buffer_info[0].start_addr = static_cast<uint64_t>(Num(k, "in_addr", 0));
  if (k.count("encrypted")) o.models[static_cast<size_t>(Num(k, "encrypted", 0))].encrypt_mode = TalvexTXM::EncryptedMode::EFuse;
  return o;
}

std::vector<uint8_t> TxmFile(const Knobs& k) {
  TalvexTXM::TXMContentT txm = BuildSampleTxmObject(TxmOptions(k));
  if (k.count("drop")) {  // model:core, both positions
    const auto mc = Nums(Text(k, "drop", ""));
    auto& cores = txm.models[mc[0]]->cores;
    cores.erase(cores.begin() + mc[1]);
  }
  if (Num(k, "nest", 0)) {  // a loop core inside the first model's loop core
    auto& loop = txm.models[0]->cores[2];
    loop->exe_unit.insert(loop->exe_unit.begin(), std::make_unique<TalvexTXM::CoreT>(*loop));
  }
  return PackTxm(txm);
}

SampleBnx Container(const Knobs& k) {
  SampleBnx s;
  const std::string payload = Text(k, "payload", "txm");
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
    s.all_models = k.count("nest") || k.count("drop") ? TxmFile(k) : BuildSampleTxm(TxmOptions(k));
    ids = Nums(Text(k, "ids", "1,2"));
  }
  if (k.count("crc")) s.crc = static_cast<uint32_t>(Num(k, "crc", 0));
  if (k.count("uuid")) s.uuid = static_cast<uint32_t>(Num(k, "uuid", 0));
  s.tv_number = static_cast<uint32_t>(Num(k, "tv", 0));
  s.encryption_mode = static_cast<int32_t>(Num(k, "enc", 0));
  s.platform = Text(k, "platform", s.platform), s.compiler_version = Text(k, "compiler", s.compiler_version);
  s.toolchain_version = Text(k, "toolchain", s.toolchain_version), s.solution_id = Text(k, "sid", s.solution_id);
  s.solution_tag = Text(k, "stag", s.solution_tag);
  s.models = ModelTable(k, ids);
  return s;
}

int Make(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "";
  if (argc < 3) throw std::runtime_error("usage: make_input KIND PATH... [key=value...]");
  const std::string path = argv[2];
  if (kind == "samples") {
    Samples(path);
  } else if (kind == "txm") {
    const auto opts = Options(argc, argv, 3);
    SampleTxmOptions o;
    o.models.clear();
    for (long i = 0; i < Get(opts, "models", 2); ++i) {
      o.models.push_back(o.SampleModel(static_cast<int32_t>(i + 1)));
      if (opts.count("weight")) o.models.back().weight_bytes = static_cast<size_t>(Get(opts, "weight", 0));
    }
    WriteSampleTxm(path, o);
  } else if (kind == "bnx") {
    SampleBnx s;
    s.target = static_cast<int32_t>(Get(Options(argc, argv, 3), "target", 3));
    WriteBytes(path, BuildBnx(s));
  } else if (kind == "legacy-bnx") {
    const auto opts = Options(argc, argv, 3);
    WriteBytes(path, BuildBnx(LegacyBnx(static_cast<int32_t>(Get(opts, "target", 2)), Pair(opts, true))));
  } else if (kind == "legacy-pair") {
    if (argc < 4) throw std::runtime_error("usage: make_input legacy-pair FW ALL [key=value...]");
    const auto opts = Options(argc, argv, 4);
    WriteLegacyPair(Pair(opts, Get(opts, "crc", 0) != 0), path, argv[3]);
  } else if (kind == "container") {
    const SampleBnx s = Container(TextOptions(argc, argv, 3));
    WriteBytes(path, BuildBnx(s));
    std::printf("%s\n", DefaultPrefix(s).c_str());
  } else if (kind == "pair") {
    if (argc < 4) throw std::runtime_error("usage: make_input pair FW ALL [key=value...]");
    const Knobs k = TextOptions(argc, argv, 4);
    WriteLegacyPair(BuildLegacyPair(LegacyModels(k), true, static_cast<uint8_t>(Num(k, "pad", 0))), path, argv[3]);
  } else if (kind == "txm-file") {
    WriteBytes(path, TxmFile(TextOptions(argc, argv, 3)));
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
