// Writes test inputs with the builders of tests/support (never with the tool's own writers), for
// the end-to-end cases and the bundled samples:
//   make_input txm PATH [models=N] [weight=BYTES] [header=0] [cores=0]  a TZ400 compiler output
//     (header=0: no file header; cores=0: models without cores)
//   make_input bnx PATH [target=N] [payload=FILE]       a container around the sample TXM (TZ400)
//     or around FILE's bytes
//   make_input legacy-bnx PATH [target=0..4] [weight=BYTES] [setup=BYTES] [empty=1]
//     a legacy container of two models (setup=: TZ100 raw setups cut or padded to BYTES;
//     empty=1: models whose pieces are all empty; aligned=1: command and weight of whole
//     16-byte blocks, as post-encryption needs; tz100=1: the one model of the TZ100 sample)
//   make_input legacy-pair FW ALL [same keys] [crc=0|1]  its fw_info.bin / all_models.bin
//   make_input samples DIR                              the bundled samples (samples/)
// target numbers are the container's: 0 TZ100 (raw setups), 1 TZ200, 2 TZ300, 3 TZ400, 4 TZ500.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;

std::string g_payload;  // payload=FILE, the one key whose value is a text

// key=value words after the paths.
std::map<std::string, long> Options(int argc, char** argv, int first) {
  std::map<std::string, long> opts;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    const size_t eq = word.find('=');
    if (eq == std::string::npos) throw std::runtime_error("not key=value: " + word);
    if (word.compare(0, eq, "payload") == 0) {
      g_payload = word.substr(eq + 1);
      continue;
    }
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
  // The TZ100 sample's one model: commands a relocation can walk, a full raw setup.
  if (Get(opts, "tz100", 0) != 0) models = {MakeLegacyModel(1, 1, 48, 80, BuildRawSetup100())};
  for (LegacyModel& m : models) {
    if (opts.count("setup")) m.setup.resize(static_cast<size_t>(Get(opts, "setup", 0)));
    if (Get(opts, "empty", 0) != 0) m = MakeLegacyModel(m.id, m.version, 0, 0, {});
    if (Get(opts, "aligned", 0) != 0) m = MakeLegacyModel(m.id, m.version, 64, 128, m.setup);
  }
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
    o.with_header = Get(opts, "header", 1) != 0;
    for (long i = 0; i < Get(opts, "models", 2); ++i) {
      o.models.push_back(o.SampleModel(static_cast<int32_t>(i + 1)));
      if (opts.count("weight")) o.models.back().weight_bytes = static_cast<size_t>(Get(opts, "weight", 0));
    }
    TalvexTXM::TXMContentT txm = BuildSampleTxmObject(o);
    if (Get(opts, "cores", 1) == 0) {
      for (auto& m : txm.models) m->cores.clear();
    }
    WriteBytes(path, PackTxm(txm));
  } else if (kind == "bnx") {
    SampleBnx s;
    s.target = static_cast<int32_t>(Get(Options(argc, argv, 3), "target", 3));
    if (!g_payload.empty()) s.all_models = ReadBytes(g_payload);
    WriteBytes(path, BuildBnx(s));
  } else if (kind == "legacy-bnx") {
    const auto opts = Options(argc, argv, 3);
    WriteBytes(path, BuildBnx(LegacyBnx(static_cast<int32_t>(Get(opts, "target", 2)), Pair(opts, true))));
  } else if (kind == "legacy-pair") {
    if (argc < 4) throw std::runtime_error("usage: make_input legacy-pair FW ALL [key=value...]");
    const auto opts = Options(argc, argv, 4);
    WriteLegacyPair(Pair(opts, Get(opts, "crc", 0) != 0), path, argv[3]);
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
