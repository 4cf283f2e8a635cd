// SAC binary: a 632-byte header (70 floats, 40 integers of which the last
// five are logicals, then the strings) and the samples as float32, in the
// machine's byte order; readers tell the order from NVHDR.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "trislip/exports.hpp"

namespace trislip {
namespace {

constexpr float undefined_float = -12345.0f;
constexpr std::int32_t undefined_int = -12345;

// Header words by their index among the floats and among the integers,
// and strings by their byte offset. The underlying type is fixed so that
// every index the constructor walks through is a value of the type.
enum float_word : int { DELTA = 0, DEPMIN = 1, DEPMAX = 2, B = 5, E = 6, DEPMEN = 56 };
enum int_word : int {
  NZYEAR = 0, NZJDAY, NZHOUR, NZMIN, NZSEC, NZMSEC, NVHDR, NPTS = 9, IFTYPE = 15, IDEP, IZTYPE,
  LEVEN = 35, LPSPOL, LOVROK, LCALDA
};
enum string_at : int { KSTNM = 440, KEVNM = 448, KHOLE = 464, KUSER0 = 576, KCMPNM = 600, KNETWK = 608 };
constexpr std::int32_t ITIME = 1, IDISP = 6, IVEL = 7, IACC = 8, IB = 9;

class header {
 public:
  header() {
    for (int i = 0; i < 70; ++i) set(static_cast<float_word>(i), undefined_float);
    for (int i = 0; i < 40; ++i) set(static_cast<int_word>(i), undefined_int);
    for (int at = 440; at < 632; at += 8) set(static_cast<string_at>(at), "-12345", 8);
    set(KEVNM, "-12345", 16);
  }
  void set(float_word w, float v) { std::memcpy(bytes_ + 4 * w, &v, 4); }
  void set(int_word w, std::int32_t v) { std::memcpy(bytes_ + 280 + 4 * w, &v, 4); }
  // Blank-padded, cut to the field.
  void set(string_at at, const std::string& s, std::size_t width = 8) {
    std::memset(bytes_ + at, ' ', width);
    std::memcpy(bytes_ + at, s.data(), std::min(width, s.size()));
  }
  const char* data() const { return bytes_; }

 private:
  char bytes_[632];
};

}  // namespace

void write_sac(const slip_series& s, const parameters& p, quantity q, const record_codes& c,
               byte_sink& out) {
  const std::vector<double>& values = q == quantity::velocity       ? s.velocity
                                      : q == quantity::acceleration ? s.acceleration
                                                                    : s.displacement;
  std::vector<float> samples(values.begin(), values.end());
  header h;
  h.set(DELTA, static_cast<float>(p.dt));
  if (!samples.empty()) {
    const auto [lo, hi] = std::minmax_element(samples.begin(), samples.end());
    h.set(DEPMIN, *lo);
    h.set(DEPMAX, *hi);
    double sum = 0;
    for (float x : samples) sum += x;
    h.set(DEPMEN, static_cast<float>(sum / static_cast<double>(samples.size())));
  }
  // The reference time holds whole milliseconds; the rest goes into B,
  // the first sample's time after it.
  // Floored, so that a time before 1970 keeps a fraction in [0, 1) ms.
  const auto floor_div = [](std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); };
  const std::int64_t ms = floor_div(c.start_us, 1000);
  const double begin = static_cast<double>(c.start_us - ms * 1000) * 1e-6;
  h.set(B, static_cast<float>(begin));
  h.set(E, static_cast<float>(begin + static_cast<double>(samples.size() - 1) * p.dt));
  std::int64_t days = floor_div(ms, 86400000);
  std::int64_t rest = ms - days * 86400000;
  // The year and the day in it, from days since 1970-01-01.
  std::int32_t year = 1970;
  const auto year_days = [](std::int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 366 : 365; };
  while (days >= year_days(year)) days -= year_days(year++);
  while (days < 0) days += year_days(--year);
  h.set(NZYEAR, year);
  h.set(NZJDAY, static_cast<std::int32_t>(days + 1));
  h.set(NZHOUR, static_cast<std::int32_t>(rest / 3600000));
  rest %= 3600000;
  h.set(NZMIN, static_cast<std::int32_t>(rest / 60000));
  rest %= 60000;
  h.set(NZSEC, static_cast<std::int32_t>(rest / 1000));
  h.set(NZMSEC, static_cast<std::int32_t>(rest % 1000));
  h.set(NVHDR, 6);
  h.set(NPTS, static_cast<std::int32_t>(samples.size()));
  h.set(IFTYPE, ITIME);
  h.set(IDEP, q == quantity::velocity ? IVEL : q == quantity::acceleration ? IACC : IDISP);
  h.set(IZTYPE, IB);
  h.set(LEVEN, 1);
  h.set(LPSPOL, 0);
  h.set(LOVROK, 1);
  h.set(LCALDA, 0);
  h.set(KSTNM, c.station);
  h.set(KHOLE, c.location.empty() ? "-12345" : c.location);
  h.set(KNETWK, c.network);
  h.set(KCMPNM, channel_code(q, p.dt));
  // What the samples are, in SI units (not SAC's nominal nanometres).
  h.set(KEVNM, quantity_name(q), 16);
  h.set(KUSER0, quantity_unit(q));
  out.write(h.data(), 632);
  const char* bytes = reinterpret_cast<const char*>(samples.data());
  const std::size_t total = samples.size() * sizeof(float), piece = std::size_t{1} << 20;
  for (std::size_t at = 0; at < total; at += piece) out.write(bytes + at, std::min(piece, total - at));
}

}  // namespace trislip
