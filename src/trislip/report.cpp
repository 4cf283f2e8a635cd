#include "trislip/report.hpp"

#include "trislip/amplitude.hpp"
#include "trislip/power.hpp"

namespace trislip {

void report_parameters(record_sink& out, const parameters& p) {
  const double taumin = 1.0 / p.fmax;
  const double taumax = ipow(p.tr, p.nv - 1) / p.fmax;
  list_writer(out).end();
  list_writer(out).text("Regularized Triangle Slip Velocity Function").end();
  list_writer(out).end();
  list_writer(out).text(" dt,nt=").real(p.dt).integer(p.nt).end();
  list_writer(out).text(" Dmax,fmax,Tr,Ar=").real(p.dmax).real(p.fmax).real(p.tr).real(p.ar).end();
  list_writer(out).text(" TauMin,TauMax=").real(taumin).real(taumax).end();
  list_writer(out).end();
  list_writer(out).text(" Slip functions are stored in Tri_Slip.csv").end();
  list_writer(out).text(" Fourier spectrum of slip velocity is stored in Tri_Amp.csv").end();
}

void report_spectrum(record_sink& out, std::int32_t nfast, double dt) {
  const spectral_constants c = spectral_constants_for(nfast, dt);
  list_writer(out).end();
  list_writer(out).text(" DUR,DOM,NOM,EOM=").real(c.dur).real(c.dom).integer(c.nom).real(c.eom).end();
  // The divisor is its own ten-digit constant, not pai + pai.
  list_writer(out).text(" Highest Frequency (hz)=").real(c.eom / 6.283185307).end();
}

}  // namespace trislip
