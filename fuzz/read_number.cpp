// The number reader of the model tables against std::from_chars: the same
// cells accepted, the same doubles to the bit.
#include <charconv>
#include <cstring>

#include "check.hpp"
#include "trislip/fault/model_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  const char* first = text.data();
  const char* last = first + text.size();
  double ours = 0, theirs = 0;
  const bool accepted = trislip::read_number(first, last, ours);
  const auto [end, ec] = std::from_chars(first, last, theirs);
  const bool whole = ec == std::errc{} && end == last;
  fuzz::expect(accepted == whole, "accepted differently from std::from_chars: \"" + text + "\"");
  if (accepted) fuzz::expect(std::memcmp(&ours, &theirs, sizeof ours) == 0, "a different double: \"" + text + "\"");
  return 0;
}
