// --seed-id: a refusal quotes the value; accepted codes are 1 or 2, 1 to 5
// and 0 to 2 capital letters or digits, and join back into the input.
#include <stdexcept>

#include "check.hpp"

namespace {

bool code(const std::string& s, std::size_t least, std::size_t most) {
  if (s.size() < least || s.size() > most) return false;
  for (char c : s) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  if (!fuzz::command_line_value(text)) return 0;
  trislip::record_codes c;
  try {
    c = trislip::parse_record_codes(text, trislip::default_start_time);
  } catch (const std::invalid_argument& e) {
    fuzz::expect(std::string(e.what()).rfind("seed id " + text + ": ", 0) == 0,
                 std::string("refusal without the value: ") + e.what());
    return 0;
  }
  fuzz::expect(code(c.network, 1, 2) && code(c.station, 1, 5) && code(c.location, 0, 2),
               "codes outside SEED's: " + text);
  fuzz::expect(c.network + "." + c.station + "." + c.location == text, "codes do not join into the input: " + text);
  return 0;
}
