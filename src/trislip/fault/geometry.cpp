// Where a model's subfaults and segments lie: each segment's plane from
// its rows, the header's claims checked against it, and the check that
// every point lies on its segment's plane.
#include "trislip/fault/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "trislip/correctly_rounded.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace detail {
namespace {

bool finite(double a, double b) { return std::isfinite(a) && std::isfinite(b); }

// A length for a message: four significant digits are what a reader
// compares a header with.
std::string km(double x) {
  char b[32];
  std::snprintf(b, sizeof b, "%.4g", x);
  return b;
}

// A latitude or longitude for a message, to about 10 m.
std::string degrees(double x) {
  char b[32];
  std::snprintf(b, sizeof b, "%.4f", x);
  return b;
}

// The header's value where it is the rows' to rounding (the writer's own
// digits of the same product), else the rows'.
double same_or_rows(double stated, double rows) {
  return std::fabs(stated - rows) <= 1e-9 * std::fabs(rows) ? stated : rows;
}

// How far a plane position lies beyond a plane of length len and width
// wid with slack hx along strike and hz down dip (0: within it); off
// counts beyond the larger of the two.
double beyond(const plane_position& p, const srf_plane& pl, bool off) {
  const double hx = pl.len_km / pl.nstk / 2, hz = pl.wid_km / pl.ndip / 2;
  return std::max(0.0, std::fabs(p.along) - pl.len_km / 2 - hx) + std::max(0.0, -hz - p.down) +
         std::max(0.0, p.down - pl.wid_km - hz) + (off ? std::max(0.0, std::fabs(p.off) - std::max(hx, hz)) : 0.0);
}

// Header values that disagree with the rows by more than half a subfault:
// one warning a kind, listing each segment's.
class disagreements {
 public:
  void add(const char* check, const char* what, const std::string& entry) {
    for (kind& k : kinds_) {
      if (k.check == check) {
        k.entries += "; " + entry;
        return;
      }
    }
    kinds_.push_back({check, what, entry});
  }
  void say(std::vector<fault_warning>& to) const {
    for (const kind& k : kinds_) {
      to.push_back({k.check, k.what + ": " + k.entries, false});
    }
  }

 private:
  struct kind {
    std::string check, what, entries;
  };
  std::vector<kind> kinds_;
};

}  // namespace

double normalised_strike(double s) {
  s = std::fmod(s, 360.0);
  return s < 0 ? s + 360 : s;
}

void offset_km(double lon0, double lat0, double lon, double lat, double& east, double& north) {
  north = (lat - lat0) * degree * earth_km;
  east = (lon - lon0) * degree * earth_km * correctly_rounded::cos_of(lat0 * degree);
}

plane_position in_plane(double lon0, double lat0, double depth0, double strike, double dip, double lon,
                        double lat, double depth) {
  double east = 0, north = 0;
  offset_km(lon0, lat0, lon, lat, east, north);
  const double ss = correctly_rounded::sin_of(strike * degree), cs = correctly_rounded::cos_of(strike * degree);
  const double sd = correctly_rounded::sin_of(dip * degree), cd = correctly_rounded::cos_of(dip * degree);
  // Horizontally along the strike and across it towards strike + 90
  // degrees, the side the plane dips to.
  const double along = east * ss + north * cs, across = east * cs - north * ss, below = depth - depth0;
  return {along, across * cd + below * sd, below * cd - across * sd};
}

double distance_km(double lon0, double lat0, double depth0, double lon, double lat, double depth) {
  double east = 0, north = 0;
  offset_km(lon0, lat0, lon, lat, east, north);
  return std::sqrt(east * east + north * north + (depth - depth0) * (depth - depth0));
}

void planes_of_rows(const model& m, const std::vector<std::vector<row_centre>>& rows, fault& f) {
  f.planes.clear();
  disagreements said;
  const bool hyp_known = finite(m.hyp_lon, m.hyp_lat) && std::isfinite(m.hyp_depth_km);
  const std::string hyp_where = m.hyp_line ? " (line " + std::to_string(m.hyp_line) + ")" : "";
  for (std::size_t k = 0; k < m.segments.size(); ++k) {
    const model_segment& g = m.segments[k];
    if (k >= rows.size() || rows[k].empty() || std::isnan(g.strike) || std::isnan(g.dip) || !(g.dx_km > 0) ||
        !(g.dz_km > 0)) {
      f.planes.clear();
      return;
    }
    const std::vector<row_centre>& r = rows[k];
    srf_plane pl;
    pl.strike = normalised_strike(g.strike);
    pl.dip = g.dip;
    // The rows' middle, and their extent in its frame.
    double lon = 0, lat = 0, depth = 0;
    for (const row_centre& c : r) {
      lon += c.lon;
      lat += c.lat;
      depth += c.depth_km;
    }
    const auto n = static_cast<double>(r.size());
    lon /= n;
    lat /= n;
    depth /= n;
    double a0 = std::numeric_limits<double>::infinity(), a1 = -a0, d0 = a0, d1 = -a0;
    for (const row_centre& c : r) {
      const plane_position p = in_plane(lon, lat, depth, pl.strike, pl.dip, c.lon, c.lat, c.depth_km);
      a0 = std::min(a0, p.along);
      a1 = std::max(a1, p.along);
      d0 = std::min(d0, p.down);
      d1 = std::max(d1, p.down);
    }
    const double nx = std::round((a1 - a0) / g.dx_km) + 1, nz = std::round((d1 - d0) / g.dz_km) + 1;
    // Not a number or infinite when a row's place is (a latitude far out
    // of range, say): no plane.
    if (!(nx >= 1 && nx < 1e6 && nz >= 1 && nz < 1e6)) {
      f.planes.clear();
      return;
    }
    pl.nstk = static_cast<std::int32_t>(nx);
    pl.ndip = static_cast<std::int32_t>(nz);
    pl.len_km = same_or_rows(g.len_km, nx * g.dx_km);
    pl.wid_km = same_or_rows(g.wid_km, nz * g.dz_km);
    if (n == nx * nz) {
      // A whole grid: its middle is the rows' mean.
      move_down_dip(lon, lat, depth, pl.strike, pl.dip, -pl.wid_km / 2);
    } else {
      move_along_strike(lon, lat, pl.strike, (a0 + a1) / 2);
      move_down_dip(lon, lat, depth, pl.strike, pl.dip, (d0 + d1) / 2 - pl.wid_km / 2);
    }
    pl.elon = lon;
    pl.elat = lat;
    pl.dtop_km = depth;

    // The header's values, each checked against the plane.
    const double hx = g.dx_km / 2, hz = g.dz_km / 2;
    const auto where = [&](std::size_t line) {
      return "segment " + std::to_string(k + 1) + (line ? " (line " + std::to_string(line) + ")" : "");
    };
    if (std::fabs(g.len_km - pl.len_km) > hx) {
      said.add("header_length", "the header's segment length is not its rows' (the plane takes the rows')",
               where(g.len_line) + ": LEN = " + km(g.len_km) + " km, the rows' " + km(pl.len_km) + " km");
    }
    if (std::fabs(g.wid_km - pl.wid_km) > hz) {
      said.add("header_width", "the header's segment width is not its rows' (the plane takes the rows')",
               where(g.wid_line) + ": WID = " + km(g.wid_km) + " km, the rows' " + km(pl.wid_km) + " km");
    }
    if ((g.nx > 0 && g.nx != pl.nstk) || (g.nz > 0 && g.nz != pl.ndip)) {
      said.add("header_grid", "the header's count of subfaults is not its rows' (the plane takes the rows')",
               where(0) + ": " + std::to_string(g.nx) + " x " + std::to_string(g.nz) + ", the rows' " +
                   std::to_string(pl.nstk) + " x " + std::to_string(pl.ndip));
    }
    // A top row centred less than half a subfault's height deep: the
    // model's own cells reach above the ground. Said, and kept as it is:
    // the points stay where the model has them.
    if (pl.dtop_km < -0.005) {
      said.add("plane_above_ground",
               "the segment's top edge lies above the ground: its top row of subfaults is centred less than half "
               "a subfault's height deep (the points stay where the model has them)",
               where(0) + ": DTOP = " + km(pl.dtop_km) + " km");
    }
    // The depth of a top edge has the slack of half a subfault down dip;
    // 0.01 km for the writers' two decimals.
    if (std::fabs(g.dtop_km - pl.dtop_km) > hz * correctly_rounded::sin_of(pl.dip * degree) + 0.01) {
      said.add("header_top_depth", "the header's depth of the top edge is not its rows' (the plane takes the rows')",
               where(g.dtop_line) + ": " + km(g.dtop_km) + " km, the rows' " + km(pl.dtop_km) + " km");
    }
    if (finite(g.top_lon, g.top_lat)) {
      double east = 0, north = 0;
      offset_km(pl.elon, pl.elat, g.top_lon, g.top_lat, east, north);
      if (std::hypot(east, north) > std::max(hx, hz)) {
        const plane_position p = in_plane(pl, g.top_lon, g.top_lat, pl.dtop_km);
        said.add("header_top_centre", "the header's top centre is not its rows' (the plane takes the rows')",
                 where(g.top_line) + ": LAT = " + shortest_text(g.top_lat) + ", LON = " + shortest_text(g.top_lon) +
                     " lies " + km(p.along) + " km along strike and " + km(std::hypot(east, north)) +
                     " km in all from the rows' top centre, LAT = " + degrees(pl.elat) + ", LON = " + degrees(pl.elon));
      }
    }
    // SHYP and DHYP: the model's hypocentre in this segment's frame. A
    // stated hypocentre, from the segment's first corner, is kept where it
    // agrees (its digits are the writer's, the position's are rounded).
    const bool stated_hyp = finite(g.hyp_along_km, g.hyp_down_km);
    const double s_stated = g.hyp_along_km - pl.len_km / 2, d_stated = g.hyp_down_km;
    if (hyp_known) {
      const plane_position p = in_plane(pl, m.hyp_lon, m.hyp_lat, m.hyp_depth_km);
      if (stated_hyp && std::fabs(s_stated - p.along) <= hx && std::fabs(d_stated - p.down) <= hz) {
        pl.shyp_km = s_stated;
        pl.dhyp_km = d_stated;
      } else {
        pl.shyp_km = p.along;
        pl.dhyp_km = p.down;
        // Only the segment that holds the hypocentre states it; another
        // segment's line may give where its own rupture starts.
        if (stated_hyp && beyond(p, pl, true) == 0) {
          said.add("header_hypocentre",
                   "the header's hypocentre along strike and down dip is not where its position puts it (SHYP "
                   "and DHYP take the position)",
                   where(g.hyp_line) + ": X = " + km(g.hyp_along_km) + ", Z = " + km(g.hyp_down_km) +
                       " km from its first corner, where the hypocentre" + hyp_where + " lies at X = " +
                       km(p.along + pl.len_km / 2) + ", Z = " + km(p.down) + " km");
        }
      }
    } else if (stated_hyp) {
      pl.shyp_km = s_stated;
      pl.dhyp_km = d_stated;
    }
    f.planes.push_back(pl);
  }
  said.say(f.warnings);
}

}  // namespace detail

using detail::degree;
using detail::earth_km;

void move_down_dip(double& lon, double& lat, double& depth_km, double strike, double dip, double distance_km) {
  // Down dip is to the right of the strike: horizontally distance*cos(dip)
  // towards strike + 90 degrees, and distance*sin(dip) deeper.
  const double h = distance_km * correctly_rounded::cos_of(dip * degree), az = (strike + 90) * degree;
  depth_km += distance_km * correctly_rounded::sin_of(dip * degree);
  lon += h * correctly_rounded::sin_of(az) / (earth_km * correctly_rounded::cos_of(lat * degree)) / degree;
  lat += h * correctly_rounded::cos_of(az) / earth_km / degree;
}

void move_along_strike(double& lon, double& lat, double strike, double distance_km) {
  const double az = strike * degree;
  lon += distance_km * correctly_rounded::sin_of(az) / (earth_km * correctly_rounded::cos_of(lat * degree)) / degree;
  lat += distance_km * correctly_rounded::cos_of(az) / earth_km / degree;
}

geometry_check check_geometry(const std::vector<srf_point>& points, const std::vector<srf_plane>& planes,
                              const std::vector<std::size_t>& segment_first, const double* hyp) {
  geometry_check g;
  if (planes.empty()) return g;
  g.made = true;
  g.points = points.size();
  std::size_t seg = 0;
  for (std::size_t k = 0; k < points.size(); ++k) {
    while (seg + 1 < segment_first.size() && segment_first[seg + 1] <= k) ++seg;
    const std::size_t s = std::min(seg, planes.size() - 1);
    const srf_plane& pl = planes[s];
    const srf_point& pt = points[k];
    const detail::plane_position p = detail::in_plane(pl, pt.lon, pt.lat, pt.depth_km);
    if (detail::beyond(p, pl, false) > 0) g.outside_points.push_back({k, s, p.along, p.down});
  }
  // The hypocentre: on the plane it lies in, or the nearest.
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t s = 0; s < planes.size(); ++s) {
    const srf_plane& pl = planes[s];
    detail::plane_position p;
    if (hyp != nullptr) {
      p = detail::in_plane(pl, hyp[0], hyp[1], hyp[2]);
    } else if (std::isfinite(pl.shyp_km) && std::isfinite(pl.dhyp_km)) {
      p = {pl.shyp_km, pl.dhyp_km, 0};
    } else {
      continue;
    }
    g.hypocentre_known = true;
    const double d = detail::beyond(p, pl, true);
    if (d < nearest) {
      nearest = d;
      g.hypocentre_segment = s;
      g.hyp_along_km = p.along;
      g.hyp_down_km = p.down;
      g.hyp_off_km = p.off;
    }
  }
  g.hypocentre_inside = g.hypocentre_known && nearest == 0;
  return g;
}

std::vector<fault_warning> geometry_warnings(const geometry_check& g, const std::vector<srf_point>& points,
                                             const std::vector<srf_plane>& planes,
                                             const std::function<std::string(std::size_t)>& label) {
  std::vector<fault_warning> w;
  if (!g.outside_points.empty()) {
    std::string labels;
    for (std::size_t k = 0; k < g.outside_points.size() && k < 5; ++k) {
      labels += (k ? ", " : "") + label(g.outside_points[k].point);
    }
    if (g.outside_points.size() > 5) labels += ", ...";
    const geometry_check::outside& o = g.outside_points.front();
    const srf_plane& pl = planes[o.segment];
    w.push_back({"point_outside_plane",
                 std::to_string(g.outside_points.size()) + " of " + std::to_string(points.size()) +
                     " points lie outside their segment's plane by more than half a subfault (" + labels +
                     "); the first, " + label(o.point) + ", lies " + detail::km(o.along_km) + " km along strike of segment " +
                     std::to_string(o.segment + 1) + "'s centre, where half its length is " +
                     detail::km(pl.len_km / 2) + " km, and " + detail::km(o.down_km) +
                     " km down dip of its top, where its width is " + detail::km(pl.wid_km) + " km",
                 true});
  }
  if (g.hypocentre_known && !g.hypocentre_inside) {
    const srf_plane& pl = planes[g.hypocentre_segment];
    w.push_back({"hypocentre_outside_segments",
                 "the hypocentre lies on no segment's plane: the nearest, segment " +
                     std::to_string(g.hypocentre_segment + 1) + ", has it " + detail::km(g.hyp_along_km) +
                     " km along strike of its centre (half its length: " + detail::km(pl.len_km / 2) + " km), " +
                     detail::km(g.hyp_down_km) + " km down dip of its top (its width: " + detail::km(pl.wid_km) +
                     " km) and " + detail::km(g.hyp_off_km) + " km off its plane",
                 true});
  }
  return w;
}

}  // namespace trislip
