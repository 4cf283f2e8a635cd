// PyLith's time history (.timedb): a header block, then time in seconds
// and the normalised slip, one pair a line. Lines that start with // are
// comments to its reader.
#include "trislip/exports.hpp"
#include "trislip/exports/text_out.hpp"

namespace trislip {

void write_pylith(const slip_series& s, const parameters& p, byte_sink& out) {
  detail::text_out t(out);
  t.text("#TIME HISTORY ascii\n// trislip ").text(version)
      .text(": normalised slip (slip / dmax, dimensionless) against time in seconds\n")
      .text("TimeHistory {\n  num-points = ")
      .number(static_cast<long long>(s.time.size()))
      .text("\n  time-units = second\n}\n");
  for (std::size_t i = 0; i < s.time.size(); ++i) {
    t.put(' ').number(s.time[i]).put(' ').number(s.displacement[i] / p.dmax).put('\n');
  }
  t.finish();
}

}  // namespace trislip
