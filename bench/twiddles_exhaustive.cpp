// Every twiddle angle of a transform of 2^(M+1) samples, both signs,
// through correctly_rounded::cos_sin and through the series it falls back
// to: the two must give the same doubles. The angles of a shorter
// transform are among the longest's (k pai / 2^m is k 2^(25-m) pai / 2^25,
// bit for bit), so M = 25, the default, checks every angle any transform
// of this program uses. Prints the count of angles, of differences and of
// angles the table left to the series, and how long each way took;
// exits 1 on any difference.
//
//   trislip_twiddles_exhaustive [M]     (M from 1 to 25; default 25)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "trislip/correctly_rounded.hpp"

namespace cr = trislip::correctly_rounded;

int main(int argc, char** argv) {
  const int m = argc > 1 ? std::atoi(argv[1]) : 25;
  if (m < 1 || m > 25) {
    std::fprintf(stderr, "usage: trislip_twiddles_exhaustive [M]   (M from 1 to 25)\n");
    return 2;
  }
  const std::int64_t half = std::int64_t{1} << m;
  const double pai = 3.14159265358979323846;
  std::atomic<std::int64_t> differ{0}, slow{0};
  double fast_s = 0, series_s = 0;
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (int ind : {-1, 1}) {
    // The angle as the transform computes it (fft.cpp's twiddles_of).
    const auto angle = [&](std::int64_t k) { return static_cast<double>(k * ind) * pai / static_cast<double>(half); };
    std::vector<double> fc(static_cast<std::size_t>(half)), fs(fc.size());
    const auto each = [&](auto work) {
      std::vector<std::thread> pool;
      for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
          for (std::int64_t k = t; k < half; k += threads) work(k);
        });
      }
      for (std::thread& th : pool) th.join();
    };
    auto t0 = std::chrono::steady_clock::now();
    each([&](std::int64_t k) {
      const auto i = static_cast<std::size_t>(k);
      if (!cr::cos_sin_table(angle(k), fc[i], fs[i])) {
        ++slow;
        cr::cos_sin_series(angle(k), fc[i], fs[i]);
      }
    });
    auto t1 = std::chrono::steady_clock::now();
    each([&](std::int64_t k) {
      double c = 0, s = 0;
      cr::cos_sin_series(angle(k), c, s);
      if (c != fc[static_cast<std::size_t>(k)] || s != fs[static_cast<std::size_t>(k)]) {
        if (differ++ < 5) std::printf("differs: k %lld ind %d\n", static_cast<long long>(k), ind);
      }
    });
    auto t2 = std::chrono::steady_clock::now();
    fast_s += std::chrono::duration<double>(t1 - t0).count();
    series_s += std::chrono::duration<double>(t2 - t1).count();
  }
  std::printf("twiddles: %lld angles (2 x 2^%d), %lld differ, %lld left by the table to the series; "
              "cos_sin %.2f s, the series alone %.2f s, on %u threads\n",
              static_cast<long long>(2 * half), m, static_cast<long long>(differ.load()),
              static_cast<long long>(slow.load()), fast_s, series_s, threads);
  return differ.load() == 0 ? 0 : 1;
}
