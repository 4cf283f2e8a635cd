#pragma once

#include <cstdint>

#include "trislip/complex.hpp"
#include "trislip/fft.hpp"

namespace trislip {

// The frequency grid of a record of nt samples dt apart.
struct spectral_constants {
  double dur;        // record length nt*dt, s
  double dom;        // angular frequency step (pai+pai)/dur, rad/s
  std::int32_t nom;  // number of spectrum records, nt/2
  double eom;        // nom*dom, rad/s
};

spectral_constants spectral_constants_for(std::int32_t nt, double dt);

// Receives the spectrum records in order: frequency in Hz, amplitude of
// the velocity and of the acceleration.
class amp_record_sink {
 public:
  virtual void record(double freq, double vel, double acc) = 0;

 protected:
  ~amp_record_sink() = default;
};

// Copies trisv[0 .. nt-1] into triamp (mom elements) as real values and
// transforms them forward in place. Throws std::invalid_argument when nt
// is not a power of two or exceeds mom.
void transform_samples(std::int32_t nt, const double* trisv, dcomplex* triamp,
                       std::int32_t mom);

// The same for nt samples padded with zeros to nfast, a power of two no
// larger than mom (std::invalid_argument otherwise).
void transform_padded(std::int32_t nt, std::int32_t nfast, const double* trisv,
                      dcomplex* triamp, std::int32_t mom);

// Its first half: triamp[0 .. nfast-1] = the samples as real values, then
// zeros.
void load_samples(std::int32_t nt, std::int32_t nfast, const double* trisv, dcomplex* triamp);

// What the first record, at 0 Hz, holds: the program writes the fixed
// normalised 0, 1, 0; the library computes it like every other record.
enum class zero_frequency { normalised, computed };

// Record io (from 1) of the spectrum of transform value z: its frequency
// (Hz), the amplitude |conj(z) * dt| and that times the angular frequency.
struct amp_record {
  double freq, amp, acc;
};
inline amp_record spectrum_record(std::int32_t io, const spectral_constants& c, double dt, dcomplex& z) {
  const double om = static_cast<double>(io - 1) * c.dom;
  const double freq = om / (pai + pai);
  // The conjugate times (dt, 0) as a full complex product.
  const double ar = z.re;
  const double ai = -z.im;
  z = {ar * dt - ai * 0.0, ar * 0.0 + ai * dt};
  const double amp = c_abs(z);
  return {freq, amp, amp * om};
}

// Records io = from .. to-1 into freq, amp and acc (index io - from),
// each as spectrum_record makes it and z[io-1] scaled in place likewise;
// four at a time in AVX2 registers where the processor has them, with
// the same rounded operations in each lane.
void spectrum_records(std::int32_t from, std::int32_t to, const spectral_constants& c, double dt, dcomplex* z,
                      double* freq, double* amp, double* acc);

// From the transform of nt (padded) samples: record io = 1 .. nt/2 gives
// (io-1)*dom/(pai+pai) Hz, |conj(triamp[io-1]) * dt| and that times the
// angular frequency, except record 1 when it is normalised. Scales
// triamp[0 .. nt/2-1] in place (from 1 on when record 1 is normalised).
void amplitude_spectrum(std::int32_t nt, double dt, dcomplex* triamp,
                        amp_record_sink& out,
                        zero_frequency first = zero_frequency::normalised);
// Records from .. to-1 of them alone.
void amplitude_spectrum(std::int32_t nt, double dt, dcomplex* triamp, std::int32_t from, std::int32_t to,
                        amp_record_sink& out, zero_frequency first);

}  // namespace trislip
