// Timings of the numeric kernels and the editors. Not part of the test run:
//   cmake --build build --target trislip_bench && build/bench/trislip_bench
#include <benchmark/benchmark.h>

#include <vector>

#include "trislip/fft.hpp"

namespace {

void bm_dwvfast_4096(benchmark::State& state) {
  constexpr int n = 4096;
  std::vector<trislip::dcomplex> input(n), a(n);
  for (int i = 0; i < n; ++i) input[static_cast<std::size_t>(i)] = {static_cast<double>(i % 17), 0.0};
  for (auto _ : state) {
    a = input;
    trislip::dwvfast(n, a.data(), n, -1);
    benchmark::DoNotOptimize(a.data());
  }
}
BENCHMARK(bm_dwvfast_4096);

}  // namespace

BENCHMARK_MAIN();
