// The public library: parameters checked once here, then the same
// synthesis, transform and spectrum that the programs run.
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <string>

#include "trislip/amplitude.hpp"
#include "trislip/fft.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/text.hpp"
#include "trislip/threads.hpp"
#include "trislip/trislip.hpp"

namespace trislip {
namespace {

void require(bool ok, const char* name, double value, const char* rule) {
  if (!ok) throw parameter_error(name, shortest_text(value), rule);
}

// A whole number from lo to hi; the rule's text is made only when broken,
// as the SRF writer checks every subfault's parameters.
void require_from_to(const char* name, std::int32_t value, std::int32_t lo, std::int32_t hi) {
  if (value < lo || value > hi) {
    throw parameter_error(name, std::to_string(value), "from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
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


// The transform array of a call, taken from where the last call left one
// of the same length and left there again: a caller that transforms many
// series of one length is spared the page faults and the clearing of a
// fresh array each time (the array of one length stays allocated, as the
// twiddles of that length do). Calls at once on several threads each get
// an array; the last one back is kept.
class kept_transform_array {
 public:
  explicit kept_transform_array(std::int32_t n) : n_(n) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (kept_ && kept_n_ == n) array_ = std::move(kept_);
    }
    if (!array_) array_ = transform_array(n);
  }
  ~kept_transform_array() {
    std::unique_ptr<dcomplex[], free_transform> older;
    std::lock_guard<std::mutex> lock(mutex_);
    older = std::move(kept_);
    kept_ = std::move(array_);
    kept_n_ = n_;
  }
  kept_transform_array(const kept_transform_array&) = delete;
  kept_transform_array& operator=(const kept_transform_array&) = delete;
  dcomplex* get() const { return array_.get(); }

 private:
  static inline std::mutex mutex_;
  static inline std::unique_ptr<dcomplex[], free_transform> kept_;
  static inline std::int32_t kept_n_ = 0;
  std::int32_t n_;
  std::unique_ptr<dcomplex[], free_transform> array_;
};

}  // namespace

parameter_error::parameter_error(std::string name, std::string value, std::string rule)
    : std::invalid_argument(name + " = " + value + ": must be " + rule),
      name_(std::move(name)),
      value_(std::move(value)),
      rule_(std::move(rule)) {}

void check(const parameters& p) {
  require(positive(p.dt), "dt", p.dt, "finite and > 0");
  require_from_to("nt", p.nt, min_samples, max_samples);
  require(positive(p.dmax), "dmax", p.dmax, "finite and > 0");
  require(positive(p.fmax), "fmax", p.fmax, "finite and > 0");
  require(std::isfinite(p.tr) && p.tr > 1, "tr", p.tr, "finite and > 1");
  require(std::isfinite(p.ar) && p.ar >= 0, "ar", p.ar, "finite and >= 0");
  require_from_to("nv", p.nv, 1, max_pulses);
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
  return amplitude_spectrum(series.velocity.data(), series.velocity.size(), p);
}

spectrum amplitude_spectrum(const double* velocity, std::size_t count, const parameters& p) {
  const std::size_t half = spectrum_length(p);
  spectrum s;
  s.frequency.resize(half);
  s.velocity.resize(half);
  s.acceleration.resize(half);
  amplitude_spectrum(velocity, count, p, s.frequency.data(), s.velocity.data(), s.acceleration.data());
  return s;
}

std::size_t spectrum_length(const parameters& p) {
  check(p);
  return static_cast<std::size_t>(transform_length(p.nt) / 2);
}

void amplitude_spectrum(const double* velocity, std::size_t count, const parameters& p, double* frequency,
                        double* velocity_amplitude, double* acceleration_amplitude) {
  check(p);
  if (count != static_cast<std::size_t>(p.nt)) {
    throw std::invalid_argument("amplitude_spectrum: the series holds " + std::to_string(count) +
                                " velocity samples, but nt = " + std::to_string(p.nt));
  }
  const std::int32_t nfast = transform_length(p.nt);
  // Every value is written before it is read: no need to clear the array.
  kept_transform_array triamp(nfast);
  load_bit_reversed(nfast, velocity, p.nt, triamp.get());
  dwvfast_loaded(nfast, triamp.get(), -1);
  // The records, straight into the arrays; a long spectrum in two halves
  // on two threads (each record depends on its own value alone).
  const spectral_constants c = spectral_constants_for(nfast, p.dt);
  const auto records = [&](std::int32_t from, std::int32_t to) {
    const auto k = static_cast<std::size_t>(from - 1);
    spectrum_records(from, to, c, p.dt, triamp.get(), frequency + k, velocity_amplitude + k,
                     acceleration_amplitude + k);
  };
  if (can_start_threads && nfast >= (1 << 17)) {
    std::thread other([&] { records(c.nom / 2 + 1, c.nom + 1); });
    records(1, c.nom / 2 + 1);
    other.join();
  } else {
    records(1, c.nom + 1);
  }
}

}  // namespace trislip
