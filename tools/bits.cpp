// Digests of the exact bits of every intermediate result of a run: the
// samples with their displacement and acceleration, the transform, and the
// spectrum; and of the cos and sin the exports' angles take. The result files show rounded digits only; these digests show
// whether two builds compute the very same doubles, which is what pinning
// the floating-point behaviour of a build is meant to guarantee.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <cstdlib>

#include "trislip/amplitude.hpp"
#include "trislip/correctly_rounded.hpp"
#include "trislip/fft.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/trislip.hpp"

namespace {

// The program's parameters (src/main.cpp).
constexpr std::int32_t MOM = 16400;
constexpr trislip::slip_params fixed{1.0, 0.005, 4096, 1.633, 0.95, 8, 1.0 / 10.0};

double trisv[MOM];
trislip::dcomplex triamp[MOM];

// 64-bit FNV-1a over the bit patterns of doubles.
struct digest {
  std::uint64_t h = 0xcbf29ce484222325u;
  void add(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    for (int i = 0; i < 8; ++i) h = (h ^ ((bits >> (8 * i)) & 0xffu)) * 0x100000001b3u;
  }
};

struct slip_digest final : trislip::slip_record_sink {
  digest d;
  void record(double t, double v, double s, double a) override {
    d.add(t);
    d.add(v);
    d.add(s);
    d.add(a);
  }
};

struct amp_digest final : trislip::amp_record_sink {
  digest d;
  void record(double f, double v, double a) override {
    d.add(f);
    d.add(v);
    d.add(a);
  }
};

void show(const char* what, const digest& d) {
  std::printf("%-10s %016llx\n", what, static_cast<unsigned long long>(d.h));
}

// Digests of the library's series and spectrum at nt samples of 1 ms,
// the doubles trislip-custom --format full writes as text.
void long_run(std::int32_t nt) {
  trislip::parameters p;
  p.nt = nt;
  p.dt = 0.001;
  const trislip::slip_series series = trislip::synthesize(p);
  const trislip::spectrum spectrum = trislip::amplitude_spectrum(series, p);
  digest slip, amp;
  for (std::size_t i = 0; i < series.velocity.size(); ++i) {
    slip.add(series.velocity[i]);
    slip.add(series.displacement[i]);
    slip.add(series.acceleration[i]);
  }
  for (std::size_t k = 0; k < spectrum.velocity.size(); ++k) {
    amp.add(spectrum.frequency[k]);
    amp.add(spectrum.velocity[k]);
    amp.add(spectrum.acceleration[k]);
  }
  std::printf("nt %-8d series %016llx spectrum %016llx\n", static_cast<int>(nt),
              static_cast<unsigned long long>(slip.h), static_cast<unsigned long long>(amp.h));
}

// A digest of the correctly rounded cos and sin of every thousandth of a
// degree over two turns each way, as the moment tensors and the fault
// geometry take their angles.
void angles() {
  digest d;
  constexpr double degree = 3.14159265358979323846 / 180;
  for (std::int32_t i = -720000; i <= 720000; ++i) {
    const double x = static_cast<double>(i) / 1000 * degree;
    double c, s;
    trislip::correctly_rounded::cos_sin_wide(x, c, s);
    d.add(c);
    d.add(s);
  }
  show("angles", d);
}

}  // namespace

// With no arguments, the fixed program's run; with sample counts, the
// library's series and spectrum at each, dt 1 ms.
int main(int argc, char** argv) {
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) long_run(static_cast<std::int32_t>(std::atol(argv[i])));
    return 0;
  }
  slip_digest slip;
  trislip::synthesize(fixed, trisv, MOM, slip);
  show("synthesis", slip.d);

  trislip::transform_samples(fixed.nt, trisv, triamp, MOM);
  digest transform;
  for (std::int32_t i = 0; i < fixed.nt; ++i) {
    transform.add(triamp[i].re);
    transform.add(triamp[i].im);
  }
  show("transform", transform);

  amp_digest amp;
  trislip::amplitude_spectrum(fixed.nt, fixed.dt, triamp, amp);
  show("spectrum", amp.d);
  angles();
  return 0;
}
