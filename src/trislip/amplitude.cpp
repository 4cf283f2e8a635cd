#include "trislip/amplitude.hpp"

#include <stdexcept>
#include <string>

#include "trislip/fft.hpp"

namespace trislip {

spectral_constants spectral_constants_for(std::int32_t nt, double dt) {
  spectral_constants c{};
  c.dur = static_cast<double>(nt) * dt;
  c.dom = (pai + pai) / c.dur;
  c.nom = nt / 2;
  c.eom = static_cast<double>(c.nom) * c.dom;
  return c;
}

void transform_samples(std::int32_t nt, const double* trisv, dcomplex* triamp,
                       std::int32_t mom) {
  transform_padded(nt, nt, trisv, triamp, mom);
}

void transform_padded(std::int32_t nt, std::int32_t nfast, const double* trisv,
                      dcomplex* triamp, std::int32_t mom) {
  if (nfast < 1 || nfast > mom || (nfast & (nfast - 1)) != 0 || nt < 0 || nt > nfast) {
    throw std::invalid_argument("spectrum: cannot transform " +
                                std::to_string(nt) + " samples in a length of " +
                                std::to_string(nfast) +
                                ": the length must be a power of two "
                                "from 1 to " + std::to_string(mom));
  }
  load_samples(nt, nfast, trisv, triamp);
  dwvfast(nfast, triamp, mom, -1);
}

void load_samples(std::int32_t nt, std::int32_t nfast, const double* trisv, dcomplex* triamp) {
  for (std::int32_t i = 0; i < nt; ++i) triamp[i] = {trisv[i], 0.0};
  for (std::int32_t i = nt; i < nfast; ++i) triamp[i] = {0.0, 0.0};
}

void amplitude_spectrum(std::int32_t nt, double dt, dcomplex* triamp,
                        amp_record_sink& out, zero_frequency first) {
  const spectral_constants c = spectral_constants_for(nt, dt);
  std::int32_t io = 1;
  if (first == zero_frequency::normalised) {
    out.record(0.0, 1.0, 0.0);
    io = 2;
  }
  for (; io <= c.nom; ++io) {
    const amp_record r = spectrum_record(io, c, dt, triamp[io - 1]);
    out.record(r.freq, r.amp, r.acc);
  }
}

}  // namespace trislip
