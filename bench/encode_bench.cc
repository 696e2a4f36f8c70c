// Throughput of the payload encoder (units 4 and 16) beside memcpy of the same buffer.
// Usage: encode_bench [SIZE_MIB]   (default 256)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "encoder/encoder.h"

namespace {

template <typename Fn>
double BestSeconds(int runs, Fn&& fn) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    if (d.count() < best) best = d.count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const size_t size = mib << 20;
  if (size == 0) {
    std::fprintf(stderr, "usage: %s [SIZE_MIB]\n", argv[0]);
    return 1;
  }
  // Both buffers touched once first, so page faults are not timed.
  std::vector<char> src(size), dst(size);
  for (size_t i = 0; i < size; ++i) src[i] = static_cast<char>(i * 131u);
  std::memcpy(dst.data(), src.data(), size);

  const Encoder encoder(0, 0x1234, nullptr);
  const int runs = 5;
  const double t_copy = BestSeconds(runs, [&] { std::memcpy(dst.data(), src.data(), size); });
  const double t4 = BestSeconds(runs, [&] { encoder.Encode(dst.data(), size, 4); });
  const double t16 = BestSeconds(runs, [&] { encoder.Encode(dst.data(), size, 16); });
  // Keep the results observable so nothing is optimised away.
  unsigned sum = 0;
  for (size_t i = 0; i < size; i += 4096) sum += static_cast<unsigned char>(dst[i]);

  const double mb = static_cast<double>(size) / 1e6;
  std::printf("buffer: %zu MiB, best of %d runs (checksum %u)\n", mib, runs, sum);
  std::printf("memcpy          : %8.0f MB/s (%.4f s)\n", mb / t_copy, t_copy);
  std::printf("Encode unit 4   : %8.0f MB/s (%.4f s)  %.2fx memcpy time\n", mb / t4, t4, t4 / t_copy);
  std::printf("Encode unit 16  : %8.0f MB/s (%.4f s)  %.2fx memcpy time\n", mb / t16, t16, t16 / t_copy);
  return 0;
}
