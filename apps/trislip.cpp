// trislip: the regularized triangle slip velocity function, its slip and
// acceleration (Tri_Slip.csv) and their Fourier amplitude spectra
// (Tri_Amp.csv). Every parameter is a constant of the program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "trislip/fft.hpp"
#include "trislip/power.hpp"
#include "trislip/records/list_record.hpp"
#include "trislip/records/unit.hpp"
#include "trislip/result_files.hpp"
#include "trislip/runtime.hpp"
#include "trislip/amplitude.hpp"

namespace {

// Capacity of the sample arrays.
constexpr std::int32_t MOM = 16400;

double trisv[MOM];
trislip::dcomplex triamp[MOM];

trislip::file_unit slip_unit(11, trislip::slip_file_name);
trislip::file_unit amp_unit(12, trislip::amp_file_name);

void run() {
  using trislip::list_writer;
  trislip::record_sink& out = trislip::console();

  const double dmax = 1.0;     // final slip
  const double dt = 0.005;     // sample spacing, s
  const std::int32_t nt = 4096;
  const double fmax = 10.0;    // highest frequency of the source, Hz
  const double tr = 1.633;     // duration ratio of successive pulses
  const double ar = 0.95;      // weight ratio of successive pulses
  const std::int32_t nv = 8;   // number of pulses
  const double taumin = 1.0 / fmax;
  const double taumax = trislip::ipow(tr, nv - 1) / fmax;

  list_writer(out).end();
  list_writer(out).text("Regularized Triangle Slip Velocity Function").end();
  list_writer(out).end();
  list_writer(out).text(" dt,nt=").real(dt).integer(nt).end();
  list_writer(out).text(" Dmax,fmax,Tr,Ar=").real(dmax).real(fmax).real(tr).real(ar).end();
  list_writer(out).text(" TauMin,TauMax=").real(taumin).real(taumax).end();

  list_writer(out).end();
  list_writer(out).text(" Slip functions are stored in Tri_Slip.csv").end();
  list_writer(out).text(" Fourier spectrum of slip velocity is stored in Tri_Amp.csv").end();

  trislip::write_slip_file(slip_unit, {dmax, dt, nt, tr, ar, nv, taumin}, trisv, MOM);

  const trislip::spectral_constants c = trislip::spectral_constants_for(nt, dt);
  list_writer(out).end();
  list_writer(out).text(" DUR,DOM,NOM,EOM=").real(c.dur).real(c.dom).integer(c.nom).real(c.eom).end();
  // The divisor is its own ten-digit constant, not pai + pai.
  list_writer(out).text(" Highest Frequency (hz)=").real(c.eom / 6.283185307).end();

  trislip::write_amp_file(amp_unit, out, nt, dt, trisv, triamp, MOM);

  list_writer(out).end();
  list_writer(out).text("Hit any key to stop").end();
  trislip::final_read();
  trislip::stop();
}

}  // namespace

int main() {
  trislip::start_up();
  try {
    run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trislip: %s\n", e.what());
    return 2;
  }
  return 0;
}
