// trislip: the regularized triangle slip velocity function, its slip and
// acceleration (Tri_Slip.csv) and their Fourier amplitude spectra
// (Tri_Amp.csv). Every parameter is a constant of the program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "trislip/fft.hpp"
#include "trislip/records/list_record.hpp"
#include "trislip/records/unit.hpp"
#include "trislip/report.hpp"
#include "trislip/result_files.hpp"
#include "trislip/runtime.hpp"
#include "trislip/synthesis.hpp"

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
  const trislip::parameters p{dmax, dt, nt, fmax, tr, ar, nv};

  trislip::report_parameters(out, p);
  // The synthesis's taumin is 1/fmax, as the report's.
  trislip::write_slip_file(slip_unit, trislip::slip_params_of(p), trisv, MOM);
  trislip::report_spectrum(out, nt, dt);

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
