// Writes the seed corpus of every fuzz target with the test builders: make_seeds DIR writes
// DIR/<target>/<seed> files (valid inputs of each parser and a few known hostile shapes).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"
#include "tz100_model.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace testsupport;

std::string g_dir;

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_dir + "/" + target;
  mkdir(dir.c_str(), 0755);
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

Bytes Legacy(int32_t target, std::vector<LegacyModel> models) {
  const LegacyPair pair = BuildLegacyPair(models, true);
  SampleBnx s;
  s.target = target, s.major = target == 0 ? 0 : 1, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
  return BuildBnx(s);
}

// The legacy-pair target's framing: two 16-bit lengths, fw_info.bin, all_models.bin, setup.bin.
Bytes Framed(const LegacyPair& pair, const Bytes& setup) {
  Bytes out = {static_cast<uint8_t>(pair.fw_info.size()), static_cast<uint8_t>(pair.fw_info.size() >> 8),
               static_cast<uint8_t>(pair.all_models.size()), static_cast<uint8_t>(pair.all_models.size() >> 8)};
  out.insert(out.end(), pair.fw_info.begin(), pair.fw_info.end());
  out.insert(out.end(), pair.all_models.begin(), pair.all_models.end());
  out.insert(out.end(), setup.begin(), setup.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  g_dir = argc > 1 ? argv[1] : "fuzz_seeds";
  mkdir(g_dir.c_str(), 0755);

  SampleFbSetup with_ops;
  with_ops.with_encrypt_info = true, with_ops.key = {1, 2, 3}, with_ops.cpu_nodes.resize(2);
  const Bytes fb = BuildFbSetup(), fb_ops = BuildFbSetup(with_ops), raw = BuildRawSetup100();
  const Bytes bare = BuildFbSetupBareOptionsTag();
  for (const char* t : {"setup_fb", "setup_recognise", "setup_parser", "setup_raw"}) {
    Put(t, "fb", fb), Put(t, "fb_ops", fb_ops), Put(t, "raw100", raw), Put(t, "bare_tag", bare);
  }

  const Bytes txm = BuildSampleTxm();
  Put("txm_reader", "sample", txm), Put("txm_report", "sample", txm);

  SampleBnx txm_bnx;
  txm_bnx.all_models = txm;
  const Bytes fb_models = Legacy(2, SampleLegacyModels(LegacySetupForm::kFlatbuffer));
  const Bytes raw_models = Legacy(0, SampleLegacyModels(LegacySetupForm::kRaw));
  const Bytes bare_models = Legacy(2, {MakeLegacyModel(1, 1, 32, 64, bare)});
  for (const char* t : {"bnx_container", "bnx_extract"}) {
    Put(t, "txm", BuildBnx(txm_bnx)), Put(t, "tz300", fb_models), Put(t, "tz100", raw_models);
    Put(t, "bare_tag", bare_models);
  }

  Put("legacy_pair", "tz300", Framed(BuildLegacyPair({MakeLegacyModel(1, 1, 48, 80, fb)}, false), fb));
  Put("legacy_pair", "tz100", Framed(BuildLegacyPair({MakeLegacyModel(1, 1, 48, 80, raw)}, true), raw));
  Put("legacy_pair", "bare_tag", Framed(BuildLegacyPair({MakeLegacyModel(1, 1, 16, 16, bare)}, false), bare));

  const std::string addr = R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
                           R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})";
  Put("address_json", "full", Bytes(addr.begin(), addr.end()));
  const std::string part = R"({"input_addr": "0x80000000"})";
  Put("address_json", "part", Bytes(part.begin(), part.end()));

  // Key files: a whole 256-word table, a short one, an empty one.
  Bytes table(1024);
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i * 7 + 3);
  Put("post_enc_key", "table", table), Put("post_enc_key", "short", Bytes(table.begin(), table.begin() + 10));
  Put("post_enc_key", "empty", {});

  Bytes cmd, setup100;
  fuzz::Tz100Sample(cmd, setup100);
  Put("tz100_combine", "sample", fuzz::Tz100Frame(cmd, setup100));
  Put("tz100_combine", "raw100", fuzz::Tz100Frame(cmd, raw));
  Put("tz100_combine", "no_setup", fuzz::Tz100Frame(cmd, {}));
  return 0;
}
