// Writes a sample TXM file of about SIZE_MIB MiB, for the split, combine and many-model
// benchmarks. Usage: make_big_txm PATH [SIZE_MIB] [FIRST_ID] [MODELS]
// (defaults 512, 1 and 2; the models get ids FIRST_ID, FIRST_ID + 1, ...).
// Two models have NPU, CPU and LOOP cores; with more, each model keeps its NPU core only, so
// that tens of thousands of models stay within the reader's limit of a million tables.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/txm_builder.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH [SIZE_MIB] [FIRST_ID] [MODELS]\n", argv[0]);
    return 1;
  }
  const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 512;
  const int first_id = argc > 3 ? std::atoi(argv[3]) : 1;
  const size_t models = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 2;
  if (models == 0) return 1;
  // Per model: a quarter of its share in cmd, the rest in weight (multiples of 64).
  const size_t per_model = (mib << 20) / models;
  testsupport::SampleTxmOptions options;
  options.models.resize(models);
  int id = first_id;
  for (auto& model : options.models) {
    model.id = id++;
    model.cmd_bytes = per_model / 4 / 64 * 64;
    model.weight_bytes = (per_model - model.cmd_bytes) / 64 * 64;
  }
  if (models <= 2) {
    testsupport::WriteSampleTxm(argv[1], options);
    return 0;
  }
  TalvexTXM::TXMContentT txm = testsupport::BuildSampleTxmObject(options);
  for (auto& model : txm.models) {
    model->cores.resize(1);
    model->header->core_number = 1;
  }
  const std::vector<uint8_t> bytes = testsupport::PackTxm(txm);
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) return 1;
  return 0;
}
