// A multi-segment FSP file laid out by the USGS writer's rules
// (static2fsp.py): rows at the subfaults' centres, and per segment a
// "top-center" that is its last point source, a Z2top that is the
// shallowest point source's depth, and a hypocentre counted from the first
// corner. Each subfault has 3 x 3 point sources. Positions are made in km
// east, north and down from (lon0, lat0) and written to four decimals, as
// the writer writes them.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace usgs_writer {

constexpr double rad = 3.14159265358979323846 / 180, earth = 6371, lon0 = 96, lat0 = 21;
constexpr int point_sources = 3;

struct segment {
  double east, north, top;  // the first corner (top, start of the strike), km
  double strike, dip, dx, dz;
  int nx, nz;
  int hyp_i, hyp_j;  // the cell of its hypocentre line, from 0
};

struct position {
  double lon, lat, depth;
};

// The point at (along, down) km from the segment's first corner.
inline position at(const segment& s, double along, double down) {
  const double ss = std::sin(s.strike * rad), cs = std::cos(s.strike * rad);
  const double sd = std::sin(s.dip * rad), cd = std::cos(s.dip * rad);
  const double e = s.east + along * ss + down * cd * cs, n = s.north + along * cs - down * cd * ss;
  return {lon0 + e / (earth * rad * std::cos(lat0 * rad)), lat0 + n / (earth * rad), s.top + down * sd};
}

// Two segments meeting at the first one's far end; the hypocentre at the
// centre of cell (2, 1) of the first.
inline std::vector<segment> two_segments() {
  return {{0, -30, 1, 0, 60, 10, 5, 6, 3, 2, 1}, {0, 30, 1, 30, 70, 10, 5, 4, 3, 0, 0}};
}

inline std::string fsp(const std::vector<segment>& segs, position hyp) {
  char b[400];
  std::string t;
  const auto line = [&](const char* format, auto... x) {
    std::snprintf(b, sizeof b, format, x...);
    t += b;
    t += '\n';
  };
  const segment& s0 = segs.front();
  line("%% ---------------------------------- FINITE-SOURCE RUPTURE MODEL ---------------------------------- ");
  line("%% Event : MADE BY THE WRITER'S RULES 2025-03-28T06:20:52 UTC");
  line("%% EventTAG: 2025-03-28T06:20:52");
  line("%% Loc  : LAT = %.4f  LON = %.4f  DEP = %.3f", hyp.lat, hyp.lon, hyp.depth);
  line("%% Size : LEN = %g km  WID = %g km  Mw = 7.7  Mo = 4e+20 Nm", s0.nx * s0.dx, s0.nz * s0.dz);
  line("%% Mech : STRK = %g DIP = %g RAKE = 180  Htop = %g km", s0.strike, s0.dip, s0.top);
  line("%% Rupt : HypX = %g km  Hypz = %g km  avTr =  3.00 s  avVr =  2.50 km/s", (s0.hyp_i + 0.5) * s0.dx,
       (s0.hyp_j + 0.5) * s0.dz);
  line("%% Invs : Nx = %d  Nz = %d Fmin = 0.01 Hz  Fmax = 0.125 Hz", s0.nx, s0.nz);
  line("%% Invs : Ntw = 5  Nsg = %zu     (# of time-windows,# of fault segments)", segs.size());
  line("%% VELOCITY-DENSITY STRUCTURE");
  line("%% No. of layers = 1");
  line("%% DEPTH P_VEL S_VEL DENS QP QS");
  line("%% [km] [km/s] [km/s] [g/cm^3]");
  line("%% 0.0 6.0 3.5 2.8  1200.0  600.0");
  line("%% Coordinates are given for center of each subfault or segment: |'|");
  line("%% Origin of local coordinate system at epicenter: X (EW) = 0, Y (NS) = 0");
  line("%% ----------------------------------  MULTISEGMENT MODEL  ---------------------------------- ");
  for (std::size_t k = 0; k < segs.size(); ++k) {
    const segment& s = segs[k];
    const int n = point_sources;
    const double step_x = s.dx / n, step_z = s.dz / n;
    const position last = at(s, s.nx * s.dx - step_x / 2, s.nz * s.dz - step_z / 2);
    line("%% SEGMENT # %zu: STRIKE = %g deg DIP = %g deg", k + 1, s.strike, s.dip);
    line("%% LEN = %g km WID = %g km", s.nx * s.dx, s.nz * s.dz);
    line("%% Dx = %g km  Dz = %g km", s.dx, s.dz);
    line("%% depth to top: Z2top = %6.2f km", at(s, 0, step_z / 2).depth);
    line("%% coordinates of top-center");
    line("%% LAT = %.6f, LON = %.6f", last.lat, last.lon);
    line("%% hypocenter on SEG # %zu : along-strike (X) = %g, down-dip (Z) = %g", k + 1, (s.hyp_i + 0.5) * s.dx,
         (s.hyp_j + 0.5) * s.dz);
    line("%% Nsbfs = %d subfaults", s.nx * s.nz);
    line("%% LAT LON X==EW Y==NS Z SLIP RAKE TRUP RISE SF_MOMENT");
    line("%% ----------------------------------  ---------------------------------- ");
    for (int j = 0; j < s.nz; ++j) {
      for (int i = 0; i < s.nx; ++i) {
        const position c = at(s, (i + 0.5) * s.dx, (j + 0.5) * s.dz);
        const double slip = 1 + 0.1 * i;
        line("%9.4f %9.4f %9.4f %9.4f %9.4f %8.4f %9.4f %8.4f %9.4f  %8.2e", c.lat, c.lon, (c.lon - hyp.lon) * 111.11,
             (c.lat - hyp.lat) * 111.11, c.depth, slip, 180.0, 2.0 + i + j, 3.0, 3e10 * s.dx * s.dz * 1e6 * slip);
      }
    }
  }
  return t;
}

// The hypocentre where the first segment's hypocentre line puts it.
inline position hypocentre(const std::vector<segment>& segs) {
  const segment& s = segs.front();
  return at(s, (s.hyp_i + 0.5) * s.dx, (s.hyp_j + 0.5) * s.dz);
}

}  // namespace usgs_writer
