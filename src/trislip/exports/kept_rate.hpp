// A point's own slip-rate function (srf_point::rate_m_s), as the writers
// and the moment rate take it: each sample the rate over one step centred
// on its time, so that the slip grows linearly across each step and the
// slip up to any time is read off the running sums.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "trislip/srf.hpp"
#include "trislip/synthesis.hpp"

namespace trislip {
namespace detail {

// The running slip: c[j] the slip up to half a step before sample j, from
// c[0] = 0 to c[n] = the whole slip, each sample times dt added in order.
inline std::vector<double> kept_rate_cumulative(const std::vector<double>& rate_m_s, double dt) {
  std::vector<double> c(rate_m_s.size() + 1, 0.0);
  for (std::size_t i = 0; i < rate_m_s.size(); ++i) c[i + 1] = c[i] + rate_m_s[i] * dt;
  return c;
}

// The whole slip: each sample times dt added in order, the running slip's
// last value.
inline double kept_rate_slip(const std::vector<double>& rate_m_s, double dt) {
  double slip = 0;
  for (double r : rate_m_s) slip = slip + r * dt;
  return slip;
}

// Its slip tau seconds after the rupture time: 0 up to half a step before
// the first sample, c.back() from half a step after the last, linear
// between.
inline double kept_rate_slip_at(const std::vector<double>& c, double dt, double tau) {
  const double x = tau / dt + 0.5;  // in steps from c[0]'s time
  const std::size_t n = c.size() - 1;
  // A time that is a step's edge but for rounding (a rupture time on the
  // grid, give or take its last bits) takes that edge's slip exactly.
  constexpr double edge = 1e-9;
  if (!(x > edge)) return 0;
  if (x >= static_cast<double>(n) - edge) return c[n];
  const auto j = static_cast<std::size_t>(x);
  const double f = x - static_cast<double>(j);
  if (f <= edge) return c[j];
  if (f >= 1 - edge) return c[j + 1];
  return c[j] + (c[j + 1] - c[j]) * f;
}

// Where a point's function ends after its rupture time: its last pulse's
// end, or half a step after its own rate's last sample.
inline double function_end_s(const srf_point& pt) {
  if (!pt.rate_m_s.empty()) return (static_cast<double>(pt.rate_m_s.size()) - 0.5) * pt.p.dt;
  return make_pulse(slip_params_of(pt.p), pt.p.nv).tauj;
}

}  // namespace detail
}  // namespace trislip
