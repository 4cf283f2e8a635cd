// The checks that a sampled function is the one asked for, and the
// quantities the exports hold.
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/synthesis.hpp"

namespace trislip {
namespace {

// Six significant digits: enough for a message.
std::string g6(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 6).ptr);
}

}  // namespace

std::vector<sampling_warning> check_sampling(const parameters& p, double final_slip,
                                             const char* option_prefix) {
  check(p);
  const std::string opt = option_prefix;
  const slip_params sp = slip_params_of(p);
  // The longest pulse, worked out as the synthesis works it out.
  const double taumax = detail::make_pulse(sp, p.nv).tauj;
  const double last = static_cast<double>(p.nt - 1) * p.dt;
  std::vector<sampling_warning> found;
  if (last < taumax) {
    std::int64_t need = p.nt;
    while (need < max_samples && static_cast<double>(need - 1) * p.dt < taumax) ++need;
    found.push_back({"record_too_short",
                     "the record ends at " + g6(last) + " s, before the longest pulse ends at " +
                         g6(taumax) + " s: raise " + opt + "nt to at least " + std::to_string(need) +
                         " (or " + opt + "dt)"});
  }
  const double across = sp.taumin / p.dt;
  if (!(across >= min_samples_per_pulse)) {
    found.push_back({"step_too_coarse",
                     "the shortest pulse lasts " + g6(sp.taumin) + " s, " + g6(across) + " steps of " +
                         g6(p.dt) + " s, and at least 4 are needed: lower " + opt + "dt to at most " +
                         g6(sp.taumin / min_samples_per_pulse) + " s or " + opt + "fmax to at most " +
                         g6(1.0 / (min_samples_per_pulse * p.dt)) + " Hz"});
  }
  if (!(std::fabs(final_slip - p.dmax) <= slip_tolerance * p.dmax)) {
    found.push_back({"slip_lost", "the sampled slip ends at " + g6(final_slip) + " m of the " +
                                      g6(p.dmax) + " m asked for (" +
                                      g6(100 * (final_slip - p.dmax) / p.dmax) +
                                      "%), beyond 0.1%: a simulation driven by it carries the wrong "
                                      "moment; lengthen the record (" + opt + "nt) or refine the step (" +
                                      opt + "dt)"});
  }
  return found;
}

std::vector<double> normalised_slip(const slip_series& s, const parameters& p) {
  std::vector<double> n(s.displacement.size());
  for (std::size_t i = 0; i < n.size(); ++i) n[i] = s.displacement[i] / p.dmax;
  return n;
}

const char* quantity_name(quantity q) {
  switch (q) {
    case quantity::velocity: return "slip velocity";
    case quantity::displacement: return "slip";
    case quantity::acceleration: return "slip acceleration";
    case quantity::normalised_slip: break;
  }
  return "normalised slip";
}

const char* quantity_unit(quantity q) {
  switch (q) {
    case quantity::velocity: return "m/s";
    case quantity::displacement: return "m";
    case quantity::acceleration: return "m/s^2";
    case quantity::normalised_slip: break;
  }
  return "1";
}

}  // namespace trislip
