// Writes a sample TXM file of about SIZE_MIB MiB (two models with NPU, CPU and LOOP cores),
// for the split and combine benchmarks. Usage: make_big_txm PATH [SIZE_MIB] [FIRST_ID]
// (defaults 512 and 1; the models get ids FIRST_ID and FIRST_ID + 1).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/txm_builder.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH [SIZE_MIB]\n", argv[0]);
    return 1;
  }
  const size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 512;
  // Per model: a quarter of its share in cmd, the rest in weight (multiples of 64).
  const size_t per_model = (mib << 20) / 2;
  const int first_id = argc > 3 ? std::atoi(argv[3]) : 1;
  testsupport::SampleTxmOptions options;
  int id = first_id;
  for (auto& model : options.models) {
    model.id = id++;
    model.cmd_bytes = per_model / 4 / 64 * 64;
    model.weight_bytes = (per_model - model.cmd_bytes) / 64 * 64;
  }
  testsupport::WriteSampleTxm(argv[1], options);
  return 0;
}
