// Every twiddle angle of a transform of 2^(M+1) samples, both signs, made
// as the transform makes them (four at a time with AVX2 where the
// processor has it, and again one at a time) and by the series alone: all
// must give the same doubles. The angles of a shorter
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
#include "trislip/fft.hpp"

namespace cr = trislip::correctly_rounded;

int main(int argc, char** argv) {
  const int m = argc > 1 ? std::atoi(argv[1]) : 25;
  if (m < 1 || m > 25) {
    std::fprintf(stderr, "usage: trislip_twiddles_exhaustive [M]   (M from 1 to 25)\n");
    return 2;
  }
  const std::int32_t half = std::int32_t{1} << m;
  const double pai = trislip::pai;  // the transform's own constant, 3.141592654
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  // Runs work(from, to) over [0, half) in one slice a thread.
  const auto each = [&](auto work) {
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        work(static_cast<std::int32_t>(half / threads * t),
             t + 1 == threads ? half : static_cast<std::int32_t>(half / threads * (t + 1)));
      });
    }
    for (std::thread& th : pool) th.join();
  };
  std::atomic<long long> differ{0}, slow{0};
  double fast_s = 0, series_s = 0;
  std::vector<trislip::dcomplex> w(static_cast<std::size_t>(half)), scalar(w.size());
  for (int ind : {-1, 1}) {
    const auto angle = [&](std::int32_t k) { return static_cast<double>(k * ind) * pai / static_cast<double>(half); };
    // The transform's own way (four at a time with AVX2, where there is
    // AVX2), then one at a time.
    const auto t0 = std::chrono::steady_clock::now();
    each([&](std::int32_t from, std::int32_t to) { trislip::detail::twiddle_values(half, ind, from, to, w.data() + from); });
    const auto t1 = std::chrono::steady_clock::now();
    const bool avx2 = trislip::allow_avx2(false);
    each([&](std::int32_t from, std::int32_t to) { trislip::detail::twiddle_values(half, ind, from, to, scalar.data() + from); });
    trislip::allow_avx2(avx2);
    const auto t2 = std::chrono::steady_clock::now();
    each([&](std::int32_t from, std::int32_t to) {
      for (std::int32_t k = from; k < to; ++k) {
        double c = 0, s = 0, ct = 0, st = 0;
        cr::cos_sin_series(angle(k), c, s);
        if (!cr::cos_sin_table(angle(k), ct, st)) ++slow;
        const trislip::dcomplex a = w[static_cast<std::size_t>(k)], b = scalar[static_cast<std::size_t>(k)];
        if (c != a.re || s != a.im || c != b.re || s != b.im) {
          if (differ++ < 5) std::printf("differs: k %d ind %d\n", k, ind);
        }
      }
    });
    const auto t3 = std::chrono::steady_clock::now();
    fast_s += std::chrono::duration<double>(t1 - t0).count();
    series_s += std::chrono::duration<double>(t3 - t2).count();
  }
  std::printf("twiddles: %lld angles (2 x 2^%d), %lld differ, %lld left by the table to the series; "
              "the transform's way %.2f s%s, the series alone %.2f s, on %u threads\n",
              2LL * half, m, differ.load(), slow.load(), fast_s, trislip::avx2_in_use() ? " (AVX2)" : "",
              series_s, threads);
  return differ.load() == 0 ? 0 : 1;
}
