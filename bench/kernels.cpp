// Timings of the numeric kernels and the editors. Not part of the test run;
// scripts/bench builds and runs them after the whole-run comparison.
#include <benchmark/benchmark.h>

#include <vector>

#include "trislip/fft.hpp"
#include "trislip/records/edit.hpp"
#include "trislip/amplitude.hpp"
#include "trislip/synthesis.hpp"

namespace {

constexpr std::int32_t mom = 16400;
constexpr trislip::slip_params fixed{1.0, 0.005, 4096, 1.633, 0.95, 8, 0.1};

struct discard_slip final : trislip::slip_record_sink {
  double sum = 0;
  void record(double t, double v, double d, double a) override { sum += t + v + d + a; }
};

struct discard_amp final : trislip::amp_record_sink {
  double sum = 0;
  void record(double f, double v, double a) override { sum += f + v + a; }
};

std::vector<double> synthesized() {
  std::vector<double> trisv(mom);
  discard_slip out;
  trislip::synthesize(fixed, trisv.data(), mom, out);
  return trisv;
}

void bm_synthesis(benchmark::State& state) {
  std::vector<double> trisv(mom);
  for (auto _ : state) {
    discard_slip out;
    trislip::synthesize(fixed, trisv.data(), mom, out);
    benchmark::DoNotOptimize(out.sum);
  }
}
BENCHMARK(bm_synthesis);

void bm_dwvfast_4096(benchmark::State& state) {
  const std::vector<double> trisv = synthesized();
  std::vector<trislip::dcomplex> a(mom);
  for (auto _ : state) {
    for (int i = 0; i < 4096; ++i) a[static_cast<std::size_t>(i)] = {trisv[static_cast<std::size_t>(i)], 0.0};
    trislip::dwvfast(4096, a.data(), mom, -1);
    benchmark::DoNotOptimize(a.data());
  }
}
BENCHMARK(bm_dwvfast_4096);

void bm_spectrum(benchmark::State& state) {
  const std::vector<double> trisv = synthesized();
  std::vector<trislip::dcomplex> triamp(mom);
  for (auto _ : state) {
    trislip::transform_samples(4096, trisv.data(), triamp.data(), mom);
    discard_amp out;
    trislip::amplitude_spectrum(4096, 0.005, triamp.data(), out);
    benchmark::DoNotOptimize(out.sum);
  }
}
BENCHMARK(bm_spectrum);

// The 4096 velocities of a run through F15.7, and through E12.4.
void bm_edit_f15_7(benchmark::State& state) {
  const std::vector<double> trisv = synthesized();
  char field[15];
  for (auto _ : state) {
    for (int i = 0; i < 4096; ++i) {
      trislip::edit_f(field, trisv[static_cast<std::size_t>(i)], 15, 7);
      benchmark::DoNotOptimize(field);
    }
  }
  state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(bm_edit_f15_7);

void bm_edit_e12_4(benchmark::State& state) {
  const std::vector<double> trisv = synthesized();
  char field[12];
  for (auto _ : state) {
    for (int i = 0; i < 4096; ++i) {
      trislip::edit_e(field, trisv[static_cast<std::size_t>(i)] * 1e-3, 12, 4);
      benchmark::DoNotOptimize(field);
    }
  }
  state.SetItemsProcessed(state.iterations() * 4096);
}
BENCHMARK(bm_edit_e12_4);

}  // namespace

BENCHMARK_MAIN();
