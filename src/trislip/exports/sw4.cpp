// SW4's discrete time function (source ... dfile=FILE): "t0 dt N", then
// the N values, here the normalised slip from time 0.
#include "trislip/exports.hpp"
#include "trislip/exports/text_out.hpp"

namespace trislip {

void write_sw4(const slip_series& s, const parameters& p, byte_sink& out) {
  detail::text_out t(out);
  t.number(0.0).put(' ').number(p.dt).put(' ').number(static_cast<long long>(s.displacement.size())).put('\n');
  for (double d : s.displacement) t.number(d / p.dmax).put('\n');
  t.finish();
}

}  // namespace trislip
