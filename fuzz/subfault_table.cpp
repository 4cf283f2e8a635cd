// trislip-custom's --subfaults table: a refusal names the table, its line
// and column; an accepted table is written as SRF and read back.
#include "check.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/runs/subfaults.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size), name = "--subfaults table.csv";
  trislip::srf_point defaults;
  defaults.p.dt = 0.01;
  defaults.p.nt = 256;
  std::vector<trislip::srf_point> points;
  try {
    points = trislip::subfaults_of(text, name, defaults, trislip::srf_version::v1_0);
  } catch (const trislip::refusal& e) {
    fuzz::expect_names_file_and_line(e.what(), name, text);
    return 0;
  }
  fuzz::expect(!points.empty(), "a table with no rows accepted");
  fuzz::expect_srf_round_trip(points, {});
  return 0;
}
