// --plane: a refusal quotes the value; an accepted plane holds whole
// counts of at least one subfault and is written into SRF as it was read.
#include <stdexcept>

#include "check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  if (!fuzz::command_line_value(text)) return 0;
  trislip::srf_plane plane;
  try {
    plane = trislip::parse_srf_plane(text);
  } catch (const std::invalid_argument& e) {
    fuzz::expect(std::string(e.what()).rfind("\"" + text + "\": ", 0) == 0, std::string("refusal without the value: ") + e.what());
    return 0;
  }
  fuzz::expect(plane.nstk >= 1 && plane.ndip >= 1 && plane.len_km > 0 && plane.wid_km > 0,
               "a plane without subfaults or size accepted: " + text);
  trislip::srf_point pt;
  pt.area_m2 = 1e6;
  pt.p.nt = 64;
  fuzz::expect_srf_round_trip({pt}, {plane});
  return 0;
}
