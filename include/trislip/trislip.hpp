// The regularized triangle slip velocity function as a library: a
// normalised sum of nv triangular slip-velocity pulses that all start at
// time 0, sampled nt times dt apart, with its slip (trapezoidal integral),
// slip acceleration (backward difference) and Fourier amplitude spectra.
//
// The values are those behind the trislip program's Tri_Slip.csv and
// Tri_Amp.csv, bit for bit: every operation is one IEEE double rounding in
// a fixed order, and the transform uses the program's pi, 3.141592654.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#define TRISLIP_VERSION "1.1.0"

namespace trislip {

inline constexpr const char* version = TRISLIP_VERSION;

// The defaults are the trislip program's constants.
struct parameters {
  double dmax = 1.0;        // final slip, m: the area under the velocity
  double dt = 0.005;        // sample spacing, s
  std::int32_t nt = 4096;   // number of samples, time 0 included
  double fmax = 10.0;       // highest frequency of the source, Hz: the first
                            // and shortest pulse lasts taumin = 1/fmax
  double tr = 1.633;        // duration ratio of successive pulses, and of a
                            // pulse's duration to its rise time
  double ar = 0.95;         // weight ratio of successive pulses
  std::int32_t nv = 8;      // number of pulses
};

inline constexpr std::int32_t min_samples = 2;
inline constexpr std::int32_t max_samples = std::int32_t{1} << 26;
inline constexpr std::int32_t max_pulses = 64;

// A parameter outside its range: dt, fmax and dmax finite and > 0, tr
// finite and > 1, ar finite and >= 0, nv from 1 to 64, nt from 2 to 2^26.
// what() reads "dt = 0: must be finite and > 0".
class parameter_error : public std::invalid_argument {
 public:
  parameter_error(std::string name, std::string value, std::string rule);
  const std::string& name() const noexcept { return name_; }
  const std::string& value() const noexcept { return value_; }
  const std::string& rule() const noexcept { return rule_; }

 private:
  std::string name_, value_, rule_;
};

// Throws parameter_error for the first parameter out of range.
void check(const parameters& p);

// The transform length for nt samples: nt rounded up to a power of two.
std::int32_t transform_length(std::int32_t nt);

// nt samples each; sample i (from 0) is at time i*dt, computed afresh.
struct slip_series {
  std::vector<double> time;          // s
  std::vector<double> velocity;      // m/s
  std::vector<double> displacement;  // m
  std::vector<double> acceleration;  // m/s^2
};

slip_series synthesize(const parameters& p);

// nfast/2 values, nfast = transform_length(nt): the velocity padded with
// zeros to nfast samples, transformed, and scaled by dt. Frequency k is
// (k*dom)/(pai+pai) Hz with dom = (pai+pai)/(nfast*dt), a step of about
// 1/(nfast*dt); velocity[k] is the amplitude of the slip velocity (m) and
// acceleration[k] that times k*dom (m/s).
//
// At 0 Hz the values are computed like any other: |sum of the samples|*dt
// and 0. The program's Tri_Amp.csv writes its fixed normalised record
// 0, 1, 0 there instead; from 1 on, k is its record k+1.
struct spectrum {
  std::vector<double> frequency;     // Hz
  std::vector<double> velocity;      // m
  std::vector<double> acceleration;  // m/s
};

// series must hold the velocity of p's nt samples (std::invalid_argument
// otherwise).
spectrum amplitude_spectrum(const slip_series& series, const parameters& p);
// The same from count velocity samples where they lie (count must be nt).
spectrum amplitude_spectrum(const double* velocity, std::size_t count, const parameters& p);

// The number of values in each array of p's spectrum: half the transform
// length, the first power of two from nt on.
std::size_t spectrum_length(const parameters& p);
// The same spectrum into the caller's three arrays of spectrum_length(p)
// values each: frequency (Hz), velocity amplitude (m) and acceleration
// amplitude (m/s).
void amplitude_spectrum(const double* velocity, std::size_t count, const parameters& p, double* frequency,
                        double* velocity_amplitude, double* acceleration_amplitude);

}  // namespace trislip
