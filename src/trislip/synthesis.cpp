#include "trislip/synthesis.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/power.hpp"
#include "trislip/text.hpp"

namespace trislip {

namespace detail {

pulse make_pulse(const slip_params& p, std::int32_t j) {
  pulse q{};
  q.tauj = p.taumin * ipow(p.tr, j - 1);
  q.arj = ipow(p.ar, j - 1);
  q.tau1j = q.tauj / p.tr;
  q.tau2j = q.tauj - q.tau1j;
  q.vj = 2.0 / q.tauj;
  q.a1j = q.vj / q.tau1j;
  q.a2j = q.vj / q.tau2j;
  return q;
}

}  // namespace detail

namespace {


[[noreturn]] void reject(const char* name, const std::string& value,
                         const std::string& rule) {
  throw std::invalid_argument(std::string("slip synthesis: ") + name + " = " +
                              value + ", must be " + rule);
}

}  // namespace

slip_params slip_params_of(const parameters& p) {
  return {p.dmax, p.dt, p.nt, p.tr, p.ar, p.nv, 1.0 / p.fmax};
}

void check_slip_params(const slip_params& p, std::int32_t capacity) {
  // Written as negations so that a not-a-number fails every test.
  if (!(p.dt > 0)) reject("dt", shortest_text(p.dt), "> 0");
  if (!(p.taumin > 0)) reject("taumin", shortest_text(p.taumin), "> 0");
  if (!(p.tr > 1)) reject("tr", shortest_text(p.tr), "> 1");
  if (!(p.ar >= 0)) reject("ar", shortest_text(p.ar), ">= 0");
  if (p.nv < 1) reject("nv", std::to_string(p.nv), ">= 1");
  if (p.nt < 1 || p.nt > capacity) {
    reject("nt", std::to_string(p.nt),
           "between 1 and " + std::to_string(capacity));
  }
}

void synthesize(const slip_params& p, double* trisv, std::int32_t capacity,
                slip_record_sink& out) {
  check_slip_params(p, capacity);
  pulse_train train(p);

  trisv[0] = 0.0;
  out.record(0.0, trisv[0], 0.0, 0.0);

  double tris = 0.0;
  std::size_t first = 0;
  for (std::int32_t i = 2; i <= p.nt; ++i) {
    // Time afresh from the index, never accumulated.
    const double t = static_cast<double>(i - 1) * p.dt;
    const double v = (train.sum_at(t, first) * p.dmax) / train.arsum;
    const double previous = trisv[i - 2];
    trisv[i - 1] = v;
    // Trapezoidal displacement and backward-difference acceleration; the
    // sample before the first is 0, so sample 2 needs no form of its own.
    tris = tris + ((v + previous) * p.dt) / 2.0;
    const double tria = (v - previous) / p.dt;
    out.record(t, v, tris, tria);
  }
}

void replay(const slip_params& p, const double* trisv, slip_record_sink& out) {
  replay(p, trisv, 1, p.nt, 0.0, out);
}

void replay(const slip_params& p, const double* trisv, std::int32_t first, std::int32_t last, double tris,
            slip_record_sink& out) {
  std::int32_t i = first;
  if (i == 1) {
    out.record(0.0, trisv[0], 0.0, 0.0);
    tris = 0.0;
    i = 2;
  }
  for (; i <= last; ++i) {
    const double t = static_cast<double>(i - 1) * p.dt;
    const double v = trisv[i - 1];
    const double previous = trisv[i - 2];
    tris = tris + ((v + previous) * p.dt) / 2.0;
    const double tria = (v - previous) / p.dt;
    out.record(t, v, tris, tria);
  }
}

}  // namespace trislip
