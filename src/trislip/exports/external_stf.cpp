// SPECFEM3D's external source time function: one normalised slip a line,
// one line per solver time step. Cartesian skips lines that start with #;
// the globe's DATA/stf has no such line.
#include <string>

#include "trislip/exports.hpp"
#include "trislip/exports/text_out.hpp"

namespace trislip {

void write_specfem(const slip_series& s, const parameters& p, bool with_comment, byte_sink& out) {
  detail::text_out t(out);
  if (with_comment) {
    t.text("# trislip ").text(version).text(": normalised slip (slip / dmax, dimensionless), one value per time step from t = 0, for DT = ")
        .number(p.dt)
        .text(" s and NSTEP up to ")
        .number(static_cast<long long>(s.displacement.size()))
        .put('\n');
  }
  for (double d : s.displacement) t.number(d / p.dmax).put('\n');
  t.finish();
}

}  // namespace trislip
