// The FSP and .param targets share their checks: a refusal names the file
// and a line of it; an accepted model either builds into a fault or is
// refused the same way; a built fault is written as SRF and read back.
#pragma once

#include <string>

#include "check.hpp"
#include "trislip/fault.hpp"

namespace fuzz {

inline void check_model(trislip::model (*read)(const std::string&, const std::string&), const std::string& text,
                        const std::string& name) {
  trislip::model m;
  try {
    m = read(text, name);
  } catch (const trislip::model_error& e) {
    expect_names_file_and_line(e.what(), name, text);
    return;
  }
  trislip::fault_options o;
  o.p.dt = 0.01;
  trislip::fault f;
  try {
    f = trislip::build_fault(m, o);
  } catch (const trislip::model_error& e) {
    // The model no longer knows its file: the line alone.
    expect_names_file_and_line(e.what(), "", text);
    return;
  }
  // A point a row with slip, or, keeping a time-window model's windows,
  // one or more a row (a row of a segment whose columns name no windows
  // is one point, of no window).
  expect(f.zero_slip <= f.read && f.lines.size() == f.points.size() && f.windows.size() == f.points.size(),
         "the points' lines and windows do not match the points");
  if (f.windowed) {
    expect(f.points.size() >= f.read - f.zero_slip, "a time-window row with slip has no point");
  } else {
    expect(f.points.size() + f.zero_slip == f.read, "points and zero-slip rows do not add up to the rows read");
  }
  // Writing takes time in proportion to the samples: long inputs stop here.
  double samples = 0;
  for (const trislip::srf_point& pt : f.points) samples += pt.p.nt;
  if (samples <= 1e6) expect_srf_round_trip(f.points, f.planes);
}

}  // namespace fuzz
