// The public library: parameters checked once here, then the same
// synthesis, transform and spectrum that the programs run.
#include <cmath>
#include <string>

#include "trislip/amplitude.hpp"
#include "trislip/fft.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/text.hpp"
#include "trislip/trislip.hpp"

namespace trislip {
namespace {

void require(bool ok, const char* name, double value, const char* rule) {
  if (!ok) throw parameter_error(name, shortest_text(value), rule);
}

void require(bool ok, const char* name, std::int32_t value, const std::string& rule) {
  if (!ok) throw parameter_error(name, std::to_string(value), rule);
}

bool positive(double x) { return std::isfinite(x) && x > 0; }

class series_sink final : public slip_record_sink {
 public:
  explicit series_sink(slip_series& s) : s_(s) {}
  void record(double t, double, double d, double a) override {
    s_.time.push_back(t);
    s_.displacement.push_back(d);
    s_.acceleration.push_back(a);
  }

 private:
  slip_series& s_;
};

class spectrum_sink final : public amp_record_sink {
 public:
  explicit spectrum_sink(spectrum& s) : s_(s) {}
  void record(double freq, double vel, double acc) override {
    s_.frequency.push_back(freq);
    s_.velocity.push_back(vel);
    s_.acceleration.push_back(acc);
  }

 private:
  spectrum& s_;
};

}  // namespace

parameter_error::parameter_error(std::string name, std::string value, std::string rule)
    : std::invalid_argument(name + " = " + value + ": must be " + rule),
      name_(std::move(name)),
      value_(std::move(value)),
      rule_(std::move(rule)) {}

void check(const parameters& p) {
  require(positive(p.dt), "dt", p.dt, "finite and > 0");
  require(p.nt >= min_samples && p.nt <= max_samples, "nt", p.nt,
          "from " + std::to_string(min_samples) + " to " + std::to_string(max_samples));
  require(positive(p.dmax), "dmax", p.dmax, "finite and > 0");
  require(positive(p.fmax), "fmax", p.fmax, "finite and > 0");
  require(std::isfinite(p.tr) && p.tr > 1, "tr", p.tr, "finite and > 1");
  require(std::isfinite(p.ar) && p.ar >= 0, "ar", p.ar, "finite and >= 0");
  require(p.nv >= 1 && p.nv <= max_pulses, "nv", p.nv,
          "from 1 to " + std::to_string(max_pulses));
}

std::int32_t transform_length(std::int32_t nt) {
  std::int32_t n = 1;
  while (n < nt && n <= max_samples) n *= 2;
  return n;
}

slip_series synthesize(const parameters& p) {
  check(p);
  const auto n = static_cast<std::size_t>(p.nt);
  slip_series s;
  s.velocity.resize(n);
  s.time.reserve(n);
  s.displacement.reserve(n);
  s.acceleration.reserve(n);
  series_sink sink(s);
  synthesize(slip_params_of(p), s.velocity.data(), p.nt, sink);
  return s;
}

spectrum amplitude_spectrum(const slip_series& series, const parameters& p) {
  check(p);
  if (series.velocity.size() != static_cast<std::size_t>(p.nt)) {
    throw std::invalid_argument("amplitude_spectrum: the series holds " +
                                std::to_string(series.velocity.size()) +
                                " velocity samples, but nt = " + std::to_string(p.nt));
  }
  const std::int32_t nfast = transform_length(p.nt);
  // With room to spread a long transform, which then runs faster.
  const std::int32_t room = spread_capacity(nfast);
  std::vector<dcomplex> triamp(static_cast<std::size_t>(room));
  transform_padded(p.nt, nfast, series.velocity.data(), triamp.data(), room);
  spectrum s;
  const auto half = static_cast<std::size_t>(nfast / 2);
  s.frequency.reserve(half);
  s.velocity.reserve(half);
  s.acceleration.reserve(half);
  spectrum_sink sink(s);
  amplitude_spectrum(nfast, p.dt, triamp.data(), sink, zero_frequency::computed);
  return s;
}

}  // namespace trislip
