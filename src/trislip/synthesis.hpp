#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trislip/trislip.hpp"

namespace trislip {

// The multi-triangle slip velocity: nv triangular pulses that all start at
// time 0, pulse j lasting taumin*tr^(j-1), peaking at duration/tr and
// weighted ar^(j-1), their sum normalised to the final slip dmax.
struct slip_params {
  double dmax;         // final slip
  double dt;           // sample spacing, s
  std::int32_t nt;     // number of samples, time 0 included
  double tr;           // duration ratio of successive pulses and duration/rise
  double ar;           // weight ratio of successive pulses
  std::int32_t nv;     // number of pulses
  double taumin;       // duration of the first pulse, s
};

// The synthesis parameters of the library's: taumin = 1/fmax.
slip_params slip_params_of(const parameters& p);

// Receives one sample at a time, in order: time, velocity, displacement
// (trapezoidal integral of the velocity) and acceleration (backward
// difference).
class slip_record_sink {
 public:
  virtual void record(double t, double v, double d, double a) = 0;

 protected:
  ~slip_record_sink() = default;
};

// Throws std::invalid_argument naming the parameter when p is outside the
// range the synthesis handles: dt > 0, taumin > 0, tr > 1, ar >= 0,
// nv >= 1 and 1 <= nt <= capacity.
void check_slip_params(const slip_params& p, std::int32_t capacity);

namespace detail {

// The quantities of one pulse. They depend on its index alone, so the
// synthesis works them out once rather than at every sample: the same
// operations on the same operands, hence the same bits.
struct pulse {
  double tauj;   // duration
  double arj;    // weight
  double tau1j;  // rise time, the time of the peak
  double tau2j;  // fall time
  double vj;     // peak before weighting
  double a1j;    // slope of the rise
  double a2j;    // magnitude of the slope of the fall
};

// Pulse j, counted from 1.
pulse make_pulse(const slip_params& p, std::int32_t j);

// Value of a pulse at time t, before weighting. A sample exactly on the
// peak takes the rising side; one exactly on the end the falling side (0).
inline double svj(const pulse& q, double t) {
  if (t <= q.tau1j) return q.a1j * t;
  if (t <= q.tauj) return q.a2j * (q.tauj - t);
  return 0.0;
}

}  // namespace detail

// The pulses of a synthesis and the sum of their weights. The velocity at
// time t is (sum_at(t, first) * dmax) / arsum, which is why the weighted
// sum of the pulses can be shared by functions that differ in dmax alone.
struct pulse_train {
  std::vector<detail::pulse> pulses;
  double arsum = 0.0;

  explicit pulse_train(const slip_params& p) {
    pulses.reserve(static_cast<std::size_t>(p.nv));
    for (std::int32_t j = 1; j <= p.nv; ++j) {
      pulses.push_back(detail::make_pulse(p, j));
      arsum = arsum + pulses.back().arj;
    }
  }

  // The weighted sum of the pulses at t. Pulses before `first` have ended:
  // each would add 0.0 * arj = +0.0 to a sum that is never -0.0, which
  // leaves it unchanged, so they are skipped; time only grows from call to
  // call, so an ended pulse stays ended. The caller keeps `first` (from 0).
  double sum_at(double t, std::size_t& first) const {
    while (first < pulses.size() && t > pulses[first].tauj) ++first;
    double v = 0.0;
    for (std::size_t j = first; j < pulses.size(); ++j) v = v + detail::svj(pulses[j], t) * pulses[j].arj;
    return v;
  }
};

// Fills trisv[0 .. nt-1] (which holds capacity elements) with the velocity
// samples and hands every sample to out as it is finished.
void synthesize(const slip_params& p, double* trisv, std::int32_t capacity,
                slip_record_sink& out);

// Hands out again the records of the samples trisv[0 .. p.nt-1] that
// synthesize made with p: the same records, bit for bit, from the samples
// rather than the pulses, and trisv is only read.
void replay(const slip_params& p, const double* trisv, slip_record_sink& out);
// Records first to last (counted from 1) of them; tris is the displacement
// of record first-1 (unused when first is 1).
void replay(const slip_params& p, const double* trisv, std::int32_t first, std::int32_t last, double tris,
            slip_record_sink& out);

}  // namespace trislip
