// Writes, as C++ source, where this machine's C library rounds the
// twiddles of the transform otherwise than correctly: the browser page's
// module computes correctly rounded twiddles and takes these differences
// to give this machine's native spectra to the last bit.
//
// Every twiddle angle of every transform length is one of the angles of
// the longest (2^26 samples: 2^25 twiddles), at index k * 2^(25 - m) for
// 2^m twiddles, since the angles' factors differ by exact powers of two.
// Each difference is one step to the next double up or down; anything
// else stops the program.
//   trislip-twiddle-table > twiddle_differences.inc
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "trislip/complex.hpp"
#include "trislip/correctly_rounded.hpp"
#include "trislip/fft.hpp"

namespace {

// 0: the same; 1: the next double up; 2: the next double down.
int step(double correct, double native) {
  if (native == correct) return 0;
  if (native == std::nextafter(correct, INFINITY)) return 1;
  if (native == std::nextafter(correct, -INFINITY)) return 2;
  return -1;
}

}  // namespace

int main() {
  constexpr std::int32_t bits = 25, half = std::int32_t{1} << bits, ind = -1;
  std::vector<unsigned char> out;
  std::int64_t last = 0, count = 0;
  for (std::int32_t k = 0; k < half; ++k) {
    // As the transform's twiddle table computes it.
    const double phi = static_cast<double>(k * ind) * trislip::pai / static_cast<double>(half);
    const trislip::dcomplex native = trislip::c_exp({0.0, phi});
    double c, s;
    trislip::correctly_rounded::cos_sin(phi, c, s);
    const int dc = step(c, native.re), ds = step(s, native.im);
    if (dc < 0 || ds < 0) {
      std::fprintf(stderr, "twiddle %d: the C library's value is more than one step from the correct one\n", k);
      return 1;
    }
    if (dc == 0 && ds == 0) continue;
    // The distance from the last entry, 7 bits a byte, then the steps.
    for (std::uint64_t d = static_cast<std::uint64_t>(k - last); ; d >>= 7) {
      out.push_back(static_cast<unsigned char>((d & 0x7f) | (d >= 0x80 ? 0x80 : 0)));
      if (d < 0x80) break;
    }
    out.push_back(static_cast<unsigned char>(dc | ds << 2));
    last = k;
    ++count;
  }
  std::printf("// Made by web/twiddle_table.cpp: %lld twiddles of %d differ.\n", static_cast<long long>(count), half);
  std::printf("constexpr int twiddle_table_bits = %d;\n", bits);
  std::printf("constexpr unsigned char twiddle_differences[] = {");
  for (std::size_t i = 0; i < out.size(); ++i) std::printf("%s%u", i == 0 ? "\n" : i % 24 ? "," : ",\n", out[i]);
  std::printf("};\n");
  return 0;
}
