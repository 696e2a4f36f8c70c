// Writes test inputs with the builders of tests/support (never with the tool's own writers), for
// the end-to-end cases and the bundled samples:
//   make_input txm PATH [models=N] [weight=BYTES]          a TZ400 compiler output
//   make_input bnx PATH [target=N]                      a container around the sample TXM (TZ400)
//   make_input legacy-bnx PATH [target=0..4] [weight=BYTES]  a legacy container of two models
//   make_input legacy-pair FW ALL [target=0..4] [crc=0|1]    its fw_info.bin / all_models.bin
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
