// --start-time: a refusal quotes the value; an accepted time is the
// instant the C library's timegm gives for its fields, and a SAC file
// starting then carries that date and time in its reference fields.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  if (!fuzz::command_line_value(text)) return 0;
  trislip::record_codes c;
  try {
    c = trislip::parse_record_codes(trislip::default_seed_id, text);
  } catch (const std::invalid_argument& e) {
    fuzz::expect(std::string(e.what()).rfind("start time " + text + ": ", 0) == 0,
                 std::string("refusal without the value: ") + e.what());
    return 0;
  }
  std::tm fields{};
  int consumed = 0;
  fuzz::expect(std::sscanf(text.c_str(), "%4d-%2d-%2d%*c%2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                           &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &consumed) == 6,
               "accepted a time sscanf cannot read: " + text);
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  const std::int64_t seconds = timegm(&fields);
  const std::int64_t floor_s = c.start_us / 1000000 - (c.start_us % 1000000 < 0 ? 1 : 0);
  fuzz::expect(floor_s == seconds, "a different instant from timegm: " + text);

  // The SAC reference time: year, day of the year, hour, minute, second, ms.
  trislip::parameters p;
  p.nt = 4;
  const trislip::slip_series s = trislip::synthesize(p);
  fuzz::string_sink out;
  trislip::write_sac(s, p, trislip::quantity::velocity, c, out);
  std::int32_t h[6];
  std::memcpy(h, out.text.data() + 280, sizeof h);
  std::tm day{};
  const std::time_t whole = static_cast<std::time_t>(floor_s);
  gmtime_r(&whole, &day);
  const std::int64_t ms = (c.start_us - floor_s * 1000000) / 1000;
  fuzz::expect(h[0] == day.tm_year + 1900 && h[1] == day.tm_yday + 1 && h[2] == day.tm_hour && h[3] == day.tm_min &&
                   h[4] == day.tm_sec && h[5] == ms,
               "SAC reference time differs from gmtime's: " + text);
  return 0;
}
