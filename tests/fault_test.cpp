// The model readers and the mapping onto points: the two real published
// models, a made-up multi-segment SRCMOD-style file with top-centre
// coordinates and no RAKE, TRUP or RISE, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "trislip/fault.hpp"
#include "usgs_writer.hpp"

namespace {

const std::string models = TRISLIP_MODELS_DIR, data = TRISLIP_TEST_DATA_DIR;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The subfault rows of a model file, as blank-separated numbers.
std::vector<std::vector<double>> rows_of(const std::string& path, char comment) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find_first_not_of(' ');
    if (at == std::string::npos || line[at] == comment || line[at] == '#') continue;
    std::istringstream f(line);
    std::vector<double> r;
    for (double x; f >> x;) r.push_back(x);
    if (r.size() >= 10) rows.push_back(r);  // not the .param boundary corners
  }
  return rows;
}

// The straight distance between two points, km, on the sphere the models use.
double km_between(double lon0, double lat0, double d0, double lon, double lat, double d) {
  const double rad = 3.14159265358979323846 / 180, north = (lat - lat0) * rad * 6371,
               east = (lon - lon0) * rad * 6371 * std::cos((lat + lat0) / 2 * rad);
  return std::sqrt(north * north + east * east + (d - d0) * (d - d0));
}

trislip::fault fault_of(const std::string& path, trislip::fault_options o = {}) {
  o.p.dt = 0.01;
  return trislip::build_fault(trislip::read_model(path), o);
}

// Each real model: every row a point in file order, its moment the row's
// own, its rupture time the file's, slip in m, rake in (-180, 180].
TEST(fault_model, real_models_keep_every_subfault_and_its_moment) {
  struct file {
    const char* name;
    trislip::model_format format;
    int slip, rake, trup, moment;  // columns
    double slip_to_m, moment_to_nm;
  } const files[] = {
      {"usgs_2019_ridgecrest.fsp", trislip::model_format::fsp, 5, 6, 7, 9, 1, 1},
      {"usgs_2015_illapel.param", trislip::model_format::usgs_param, 3, 4, 7, 10, 0.01, 1e-7},
  };
  for (const file& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = models + "/" + f.name;
    const trislip::model m = trislip::read_model(path);
    EXPECT_EQ(m.format, f.format);
    const trislip::fault flt = fault_of(path);
    const auto rows = rows_of(path, '%');
    ASSERT_EQ(flt.points.size(), rows.size());
    EXPECT_EQ(flt.read, rows.size());
    EXPECT_EQ(flt.planes.size(), 1u);
    double m0 = 0, want = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const trislip::srf_point& pt = flt.points[k];
      EXPECT_DOUBLE_EQ(pt.p.dmax, rows[k][static_cast<std::size_t>(f.slip)] * f.slip_to_m);
      EXPECT_EQ(pt.tinit_s, rows[k][static_cast<std::size_t>(f.trup)]);
      const double rake = rows[k][static_cast<std::size_t>(f.rake)];
      EXPECT_DOUBLE_EQ(pt.rake, rake > 180 ? rake - 360 : rake);
      m0 += flt.rigidity_pa[k] * pt.area_m2 * pt.p.dmax;
      want += rows[k][static_cast<std::size_t>(f.moment)] * f.moment_to_nm;
      EXPECT_EQ(flt.rigidity_from[k], trislip::rigidity_source::model_moment);
    }
    EXPECT_NEAR(m0 / want, 1, 1e-12);
  }
  // The same file with CR LF line ends reads the same.
  std::string crlf;
  for (char c : read_text(models + "/usgs_2019_ridgecrest.fsp")) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const trislip::model m = trislip::read_fsp(crlf, "crlf");
  EXPECT_EQ(m.subfaults.size(), 336u);
  EXPECT_EQ(m.layers.size(), 6u);
  EXPECT_EQ(m.tag, "70004bn0HAYES");
  // Ridgecrest's first row: rake 199.1099, RISE 3.4 s is the function's duration.
  const trislip::fault r = fault_of(models + "/usgs_2019_ridgecrest.fsp");
  EXPECT_DOUBLE_EQ(r.points[0].rake, 199.1099 - 360);
  EXPECT_DOUBLE_EQ(r.points[0].p.fmax, std::pow(1.633, 7) / 3.4);
  EXPECT_EQ(r.planes[0].shyp_km, 82.5 - 70);
  EXPECT_EQ(r.planes[0].dhyp_km, 10.035);
  // Illapel: the hypocentre in cell (9, 5) of 17.93 x 14.92 km subfaults.
  const trislip::fault i = fault_of(models + "/usgs_2015_illapel.param");
  EXPECT_DOUBLE_EQ(i.planes[0].shyp_km, 8.5 * 17.93 - 23 * 17.93 / 2);
  EXPECT_DOUBLE_EQ(i.planes[0].dhyp_km, 4.5 * 14.92);
  EXPECT_DOUBLE_EQ(i.points[0].p.fmax, std::pow(1.633, 7) / 15.0);  // t_ris + t_fal
}

// Two segments of their own strike, dip and subfault size, top-centre
// coordinates, no RAKE, TRUP or RISE columns, a zero-slip row and a filler;
// its time windows merged, one function a subfault (the windows' own test
// is below).
TEST(fault_model, srcmod_top_centre_segments_are_filled_in_and_centred) {
  const std::string path = data + "/two_segments_top_centre.fsp";
  const trislip::model m = trislip::read_model(path);
  ASSERT_EQ(m.segments.size(), 2u);
  EXPECT_TRUE(m.top_centre);
  EXPECT_EQ(m.segments[1].dx_km, 3);
  EXPECT_EQ(m.segments[0].dx_km, 5);  // the header's
  trislip::fault_options merged;
  merged.merge_windows = true;
  const trislip::fault f = fault_of(path, merged);
  EXPECT_EQ(f.read, 8u);
  EXPECT_EQ(f.zero_slip, 1u);
  ASSERT_EQ(f.points.size(), 7u);
  EXPECT_EQ(f.segment_first, (std::vector<std::size_t>{0, 3}));
  std::vector<std::string> checks;
  for (const auto& w : f.warnings) checks.push_back(w.check);
  EXPECT_EQ(checks, (std::vector<std::string>{"rake_filled", "rise_filled", "rupture_time_filled", "header_hypocentre"}));
  EXPECT_NE(f.warnings[0].message.find("the rake of 7 of 8 subfaults filled in from the header's RAKE = 180"),
            std::string::npos) << f.warnings[0].message;

  // Segment 1 is vertical: its first point drops half of Dz = 5 km.
  const trislip::srf_point& a = f.points[0];
  EXPECT_DOUBLE_EQ(a.depth_km, 2.5);
  EXPECT_NEAR(a.lat, 34.2724, 1e-12);
  EXPECT_EQ(a.rake, 180);
  EXPECT_DOUBLE_EQ(a.area_m2, 25e6);
  EXPECT_DOUBLE_EQ(f.rigidity_pa[0], 2500.0 * 3000 * 3000);  // the layer from 0 km
  EXPECT_DOUBLE_EQ(f.rigidity_pa[1], 2700.0 * 3500 * 3500);  // the one from 5 km, at 7.5 km
  EXPECT_DOUBLE_EQ(a.p.fmax, std::pow(1.633, 7) / 2.0);      // avTr
  // Segment 2 dips 80 degrees: half of Dz = 3 km is 1.5*sin(80) deeper and
  // 1.5*cos(80) km towards 330 + 90 degrees.
  const trislip::srf_point& b = f.points[3];
  const double rad = 3.14159265358979323846 / 180;
  EXPECT_NEAR(b.depth_km, 1.5 * std::sin(80 * rad), 1e-12);
  EXPECT_NEAR((b.lat - 34.1817) * rad * 6371, 1.5 * std::cos(80 * rad) * std::cos(60 * rad), 1e-9);
  EXPECT_DOUBLE_EQ(b.area_m2, 9e6);
  // Rupture time: straight distance to the hypocentre at avVr = 2.5 km/s.
  const double north = (b.lat - 34.20) * rad * 6371, east = (b.lon + 116.43) * rad * 6371 * std::cos(34.20 * rad);
  EXPECT_DOUBLE_EQ(b.tinit_s, std::sqrt(east * east + north * north + (b.depth_km - 7) * (b.depth_km - 7)) / 2.5);
  // The planes from the rows, which agree with the segment blocks' top
  // centres. Segment 1's stated hypocentre, X = 5 km from its first corner,
  // is 5.6 km from where the Loc line puts it, at the segment's south end:
  // said, and the Loc line's kept.
  ASSERT_EQ(f.planes.size(), 2u);
  EXPECT_EQ(f.planes[0].elat, 34.25);
  EXPECT_NEAR(f.planes[0].shyp_km, -5.619, 1e-3);
  EXPECT_NEAR(f.planes[0].dhyp_km, 7, 1e-9);
  EXPECT_NE(f.warnings[3].message.find("segment 1 (line 34): X = 5, Z = 7 km from its first corner, where the "
                                       "hypocentre (line 6) lies at X = -0.6191, Z = 7 km"),
            std::string::npos)
      << f.warnings[3].message;
  EXPECT_TRUE(f.geometry.passed());
  EXPECT_EQ(f.planes[1].nstk, 2);
  EXPECT_EQ(f.planes[1].strike, 330);

  // A velocity table that starts below the shallowest subfaults (1.5 km,
  // segment 2's first row centres at 1.48 km) gives them its first layer.
  std::string deep = read_text(path);
  deep.replace(deep.find("%   0.00 5.00"), 13, "%   1.50 5.00");
  merged.p = f.points[0].p;
  const trislip::fault d = trislip::build_fault(trislip::read_fsp(deep, "deep"), merged);
  EXPECT_EQ(d.warnings[3].check, "structure_filled");
  EXPECT_NE(d.warnings[3].message.find("the velocity structure of 2 of 8 subfaults filled in from its first layer, "
                                       "whose top (DEPTH = 1.5 km) is below them (lines 53, 54)"),
            std::string::npos) << d.warnings[3].message;
  EXPECT_DOUBLE_EQ(d.rigidity_pa[3], 2500.0 * 3000 * 3000);
  EXPECT_EQ(d.rigidity_from[3], trislip::rigidity_source::velocity_structure);

  // Options fill before the header, and are said so.
  trislip::fault_options o;
  o.merge_windows = true;
  o.rake = 170;
  o.rise_s = 1.5;
  o.vr_km_s = 3;
  const trislip::fault g = fault_of(path, o);
  EXPECT_EQ(g.points[0].rake, 170);
  EXPECT_NE(g.warnings[1].message.find("--rise 1.5 s"), std::string::npos);
  EXPECT_NE(g.warnings[2].message.find("--vr 3 km/s"), std::string::npos);
}

// A multi-segment FSP laid out by the USGS writer, whose "top-center" is
// each segment's last point source: the planes follow the rows, the
// header's top centres are said in one line, and the hypocentre lies in
// the first segment where its line puts it. (fault_run's test moves the
// hypocentre off the segments.)
TEST(fault_model, usgs_multi_segment_planes_follow_their_rows) {
  const std::vector<usgs_writer::segment> segs = usgs_writer::two_segments();
  trislip::fault_options o;
  o.p.dt = 0.01;
  const trislip::fault f =
      trislip::build_fault(trislip::read_fsp(usgs_writer::fsp(segs, usgs_writer::hypocentre(segs)), "made"), o);
  ASSERT_EQ(f.planes.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const usgs_writer::segment& s = segs[k];
    const trislip::srf_plane& pl = f.planes[k];
    const usgs_writer::position top = usgs_writer::at(s, s.nx * s.dx / 2, 0);
    EXPECT_EQ(pl.nstk, s.nx);
    EXPECT_EQ(pl.ndip, s.nz);
    EXPECT_EQ(pl.len_km, s.nx * s.dx);
    EXPECT_EQ(pl.wid_km, s.nz * s.dz);
    EXPECT_EQ(pl.strike, s.strike);
    EXPECT_LT(km_between(pl.elon, pl.elat, pl.dtop_km, top.lon, top.lat, top.depth), 0.02);
  }
  EXPECT_EQ(f.planes[0].shyp_km, 2.5 * 10 - 30);
  EXPECT_EQ(f.planes[0].dhyp_km, 1.5 * 5);
  // Segment 2 does not hold the hypocentre: its DHYP is the distance down
  // its dip of the hypocentre's projection, in the writer's flat frame.
  const usgs_writer::segment &s1 = segs[0], &s2 = segs[1];
  const double d1 = (s1.hyp_j + 0.5) * s1.dz, rad = usgs_writer::rad;
  const double hyp[3] = {(s1.hyp_i + 0.5) * s1.dx * std::sin(s1.strike * rad) + d1 * std::cos(s1.dip * rad) * std::cos(s1.strike * rad) + s1.east,
                         (s1.hyp_i + 0.5) * s1.dx * std::cos(s1.strike * rad) - d1 * std::cos(s1.dip * rad) * std::sin(s1.strike * rad) + s1.north,
                         s1.top + d1 * std::sin(s1.dip * rad)};
  const double down_dip[3] = {std::cos(s2.dip * rad) * std::cos(s2.strike * rad),
                              -std::cos(s2.dip * rad) * std::sin(s2.strike * rad), std::sin(s2.dip * rad)};
  EXPECT_NEAR(f.planes[1].dhyp_km,
              (hyp[0] - s2.east) * down_dip[0] + (hyp[1] - s2.north) * down_dip[1] + (hyp[2] - s2.top) * down_dip[2], 0.05);
  EXPECT_TRUE(f.geometry.passed());
  EXPECT_EQ(f.geometry.points, 30u);
  EXPECT_EQ(f.geometry.hypocentre_segment, 0u);
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_EQ(f.warnings[0].check, "header_top_centre");
  EXPECT_FALSE(f.warnings[0].strict);
  for (const char* segment : {"segment 1 (line 23): LAT = ", "segment 2 (line 51): LAT = "}) {
    EXPECT_NE(f.warnings[0].message.find(segment), std::string::npos) << f.warnings[0].message;
  }
}

// Illapel in the .param layout (rows at each subfault's first point
// source) and in FSP (rows at the centres) from one grid: the same places.
TEST(fault_model, illapel_param_and_fsp_give_the_same_places) {
  const trislip::fault p = fault_of(models + "/usgs_2015_illapel.param");
  const trislip::fault q = fault_of(models + "/usgs_2015_illapel.fsp");
  ASSERT_EQ(p.points.size(), 207u);
  double worst = 0;
  for (const trislip::srf_point& a : p.points) {
    double nearest = 1e9;
    for (const trislip::srf_point& b : q.points) {
      nearest = std::min(nearest, km_between(a.lon, a.lat, a.depth_km, b.lon, b.lat, b.depth_km));
    }
    worst = std::max(worst, nearest);
  }
  EXPECT_LT(worst, 0.3);
  const trislip::srf_plane &a = p.planes.at(0), &b = q.planes.at(0);
  EXPECT_LT(km_between(a.elon, a.elat, a.dtop_km, b.elon, b.elat, b.dtop_km), 0.3);
  EXPECT_EQ(a.nstk * 100 + a.ndip, b.nstk * 100 + b.ndip);
  // Its hypocentre: Lon and Lat as stated, the depth of cell (9, 5)'s centre.
  const trislip::model m = trislip::read_model(models + "/usgs_2015_illapel.param");
  EXPECT_NEAR(m.hyp_depth_km, 22.4, 0.05);  // the FSP's DEP
  // The boundary's claim of the top: the middle of its two shallowest corners.
  EXPECT_EQ(m.segments.at(0).dtop_km, 0.716799974);
  EXPECT_NEAR(m.segments[0].top_lat, (-32.8519516 + -29.1979809) / 2, 1e-12);
  EXPECT_TRUE(p.geometry.passed() && q.geometry.passed());
  EXPECT_TRUE(p.warnings.empty() || p.warnings[0].check != "centre_from_half_a_subfault");
  // A boundary corner that makes 2.4 point sources a subfault along strike
  // is no whole number: the rows move half a subfault, and that is said.
  std::string text = read_text(models + "/usgs_2015_illapel.param");
  double lon = -72.0062790, lat = -29.1979809;
  trislip::move_along_strike(lon, lat, 6.613912, 17.93 * (1 / 5.0 - 1 / 2.4));
  char corner[80];
  std::snprintf(corner, sizeof corner, "  %.9f %.9f 0.716799974", lon, lat);
  text.replace(text.find("  -72.0062790"), std::strlen("  -72.0062790      -29.1979809      0.716799974"), corner);
  const trislip::model odd = trislip::read_usgs_param(text, "odd");
  ASSERT_FALSE(odd.notes.empty());
  EXPECT_NE(odd.notes[0].message.find("its boundary gives 2.4 x 5 point sources a subfault"), std::string::npos)
      << odd.notes[0].message;
  EXPECT_EQ(odd.segments[0].to_centre_along_km, 17.93 / 2);
}

// The moment rate: zero until a point's rupture time, and its integral
// the moment of the nominal slips to the trapezoid's accuracy.
TEST(fault_model, moment_rate_integrates_to_the_moment) {
  const trislip::fault f = fault_of(models + "/usgs_2019_ridgecrest.fsp");
  const std::vector<double> rate = trislip::moment_rate(f.points, f.rigidity_pa, 0.01);
  double first = 1e9, m0 = 0, integral = 0, end = 0;
  for (std::size_t k = 0; k < f.points.size(); ++k) {
    first = std::min(first, f.points[k].tinit_s);
    end = std::max(end, f.points[k].tinit_s + std::pow(1.633, 7) / f.points[k].p.fmax);
    m0 += f.rigidity_pa[k] * f.points[k].area_m2 * f.points[k].p.dmax;
  }
  for (std::size_t i = 1; i < rate.size(); ++i) integral += (rate[i] + rate[i - 1]) * 0.01 / 2;
  EXPECT_NEAR(integral / m0, 1, 0.002);
  const auto before = static_cast<std::size_t>(std::floor(first / 0.01));
  for (std::size_t i = 0; i <= before; ++i) ASSERT_EQ(rate[i], 0) << i;
  EXPECT_GT(rate[before + 1], 0);
  EXPECT_GE(static_cast<double>(rate.size() - 1) * 0.01, end - 1e-9);
  EXPECT_LT(static_cast<double>(rate.size() - 2) * 0.01, end);
}

// An FSP file as some writers make them: rows placed by X==NS and Y==EW
// kilometres alone (no LAT and LON columns), the fillers 999 and -999 for
// values nobody knows, "HypZ" with a capital Z, "ELAT" before "LAT", and
// "LON = +120.5". Each point lies where its kilometres put it from the
// header's epicentre; the unknowns are filled in from the header.
TEST(fault_model, fsp_kilometre_rows_fillers_and_header_spellings) {
  const std::string text =
      "% ---------------------------------- FINITE-SOURCE RUPTURE MODEL ---------------------------\n"
      "% Event : XY ONLY  2000/01/01 [made for trislip's tests]\n"
      "% Loc  : ELAT = 99.0  LAT = 35.0  LON = +120.5  DEP = 4.0\n"
      "% Size : LEN = 10 km  WID = 5 km  Mw = 6.0  Mo = 1.0e+18 Nm\n"
      "% Mech : STRK = 45  DIP = 90  RAKE = 45  Htop = 2.5 km\n"
      "% Rupt : HypX = 5.0 km  HypZ = 2.5 km  avTr = 1.5 s  avVr = 2.5 km/s\n"
      "% Invs : Nx = 2  Nz = 1  Fmin = 999 Hz  Fmax = 999 Hz\n"
      "% Invs : Dx = 5 km  Dz = 5 km\n"
      "% Nsbfs = 2 subfaults\n"
      "% X==NS Y==EW Z SLIP RAKE TRUP RISE\n"
      "%------------------------------------------------------------------------------------------\n"
      " -1.76776695 -1.76776695 5.0 1.0 999 -999 1.0\n"
      "  1.76776695  1.76776695 5.0 1.0 80 1.0 -999\n";
  trislip::fault_options o;
  o.p.dt = 0.01;
  o.mu_pa = 3e10;
  const trislip::fault f = trislip::build_fault(trislip::read_fsp(text, "m"), o);
  ASSERT_EQ(f.points.size(), 2u);
  const double rad = 3.14159265358979323846 / 180, km_per_degree = 6371 * rad;
  for (int k = 0; k < 2; ++k) {
    const double offset = (k == 0 ? -1.76776695 : 1.76776695);
    EXPECT_NEAR(f.points[k].lat, 35 + offset / km_per_degree, 1e-9) << k;
    EXPECT_NEAR(f.points[k].lon, 120.5 + offset / (km_per_degree * std::cos(35 * rad)), 1e-5) << k;
  }
  EXPECT_EQ(f.points[0].rake, 45);  // 999: the header's RAKE
  EXPECT_EQ(f.points[1].rake, 80);
  // -999: a rupture time from the distance at avVr, not -999 s.
  EXPECT_NEAR(f.points[0].tinit_s, std::sqrt(2.5 * 2.5 + 1) / 2.5, 1e-8);
  EXPECT_EQ(f.points[1].tinit_s, 1);
  ASSERT_EQ(f.planes.size(), 1u);
  EXPECT_EQ(f.planes[0].dhyp_km, 2.5);  // HypZ as stated, not projected from DEP
  std::string said;
  for (const trislip::fault_warning& w : f.warnings) said += w.check + ": " + w.message + "\n";
  EXPECT_NE(said.find("rise_filled: the rise time of 1 of 2 subfaults filled in from the header's avTr = 1.5 s (lines 13)"),
            std::string::npos) << said;
}

// Time-window models keep every window as a source of its own: Northridge
// (three windows of 0.6 s overlapping 0.2 s, a rake each, fronts at avVr)
// and a made-up two-segment file with overlap 0, a TRUP column, a window
// without slip, a rake filler, a segment of two windows without rakes and
// a header that disagrees with its rows three ways.
TEST(fault_model, time_windows_are_sources_of_their_own) {
  const double rad = 3.14159265358979323846 / 180;
  const std::string northridge = models + "/time-windows/srcmod_1994_northridge.fsp";
  const trislip::model m = trislip::read_model(northridge);
  EXPECT_EQ(m.windows.stated, 3);
  EXPECT_EQ(m.windows.length_s, 0.6);
  EXPECT_EQ(m.windows.overlap_s, 0.2);
  EXPECT_EQ(m.windows.shape, "triang");
  const trislip::fault f = fault_of(northridge);
  EXPECT_TRUE(f.windowed);
  EXPECT_EQ(f.zero_slip, 10u);
  for (const auto& w : f.warnings) EXPECT_EQ(w.check.rfind("time_windows", 0), std::string::npos) << w.message;
  // Row by row: each window with slip a point with its slip and rake, the
  // onsets 0.4 s apart from one front, the function lasting 0.6 s; summed,
  // the windows' slip vectors.
  std::size_t k = 0;
  for (const std::vector<double>& row : rows_of(northridge, '%')) {
    ASSERT_EQ(row.size(), 13u);
    double along = 0, up = 0, front = std::nan("");
    const std::size_t first = k;
    for (int w = 0; w < 3; ++w) {
      const double slip = row[7 + 2 * w], rake = row[8 + 2 * w];
      along += slip * std::cos(rake * rad);
      up += slip * std::sin(rake * rad);
      if (slip == 0) continue;
      ASSERT_LT(k, f.points.size());
      const trislip::srf_point& pt = f.points[k];
      EXPECT_EQ(f.windows[k], w + 1);
      EXPECT_EQ(pt.p.dmax, slip);
      EXPECT_NEAR(pt.rake, rake, 1e-12);
      EXPECT_DOUBLE_EQ(pt.p.fmax, std::pow(1.633, 7) / 0.6);
      if (std::isnan(front)) front = pt.tinit_s - 0.4 * w;
      EXPECT_NEAR(pt.tinit_s, front + 0.4 * w, 1e-12) << "line " << f.lines[k];
      ++k;
    }
    for (std::size_t i = first; i < k; ++i) {
      along -= f.points[i].p.dmax * std::cos(f.points[i].rake * rad);
      up -= f.points[i].p.dmax * std::sin(f.points[i].rake * rad);
    }
    EXPECT_NEAR(along, 0, 1e-12);
    EXPECT_NEAR(up, 0, 1e-12);
  }
  EXPECT_EQ(k, f.points.size());
  // Merged on request: one function per subfault, SLIP, RAKE and avTr.
  trislip::fault_options merged;
  merged.merge_windows = true;
  const trislip::fault one = fault_of(northridge, merged);
  ASSERT_EQ(one.points.size(), 186u);
  EXPECT_EQ(one.points[0].p.dmax, 1.043);
  EXPECT_EQ(one.points[0].rake, 68);
  EXPECT_DOUBLE_EQ(one.points[0].p.fmax, std::pow(1.633, 7) / 1.4);

  const std::string made =
      "% Loc  : LAT = 34.20  LON = -116.43  DEP = 7.0\n"
      "% Mech : STRK = 355  DIP = 90  RAKE = 180  Htop = 0 km\n"
      "% Rupt : avTr = 2.0 s  avVr = 2.5 km/s\n"
      "% Invs : Dx = 5 km  Dz = 5 km\n"
      "% Invs : Ntw = 3  Nsg = 2\n"
      "% Invs : LEN = 1.0 s  SHF = 0.0 s\n"
      "% SVF  : triangular\n"
      "% MULTISEGMENT MODEL\n"
      "% SEGMENT # 1: STRIKE = 355.0 deg DIP = 90.0 deg\n"
      "% LAT LON Z SLIP RAKE TRUP TW1 rakeTW1 TW2 rakeTW2 TW3 rakeTW3\n"
      " 34.25 -116.44 2.5 1.00 170 1.0 0.5 160 0.0 10 0.5 -170\n"
      " 34.21 -116.44 2.5 0.30 175 2.0 0.1 175 0.1 999 0.1 185\n"
      "% SEGMENT # 2: STRIKE = 330 deg DIP = 80 deg\n"
      "% Dx = 3 km Dz = 3 km\n"
      "% LAT LON Z SLIP TW1 TW2\n"
      " 34.17 -116.41 1.5 0.40 0.25 0.25\n";
  trislip::fault_options o;
  o.p.dt = 0.01;
  o.mu_pa = 3e10;
  const trislip::fault g = trislip::build_fault(trislip::read_fsp(made, "made"), o);
  std::vector<std::string> strict;
  for (const auto& w : g.warnings) {
    if (w.strict) strict.push_back(w.check);
  }
  EXPECT_EQ(strict, (std::vector<std::string>{"time_windows_duration", "time_windows_columns", "time_windows_slip"}));
  EXPECT_NE(g.warnings[0].message.find("avTr = 2 s (line 3) is not the windows' span Ntw x LEN - (Ntw - 1) x SHF = "
                                       "3 x 1 - 2 x 0 = 3 s (line 6)"),
            std::string::npos) << g.warnings[0].message;
  EXPECT_NE(g.warnings[1].message.find("Ntw = 3 (line 5) windows, and column lines name 2 on line 15"),
            std::string::npos) << g.warnings[1].message;
  EXPECT_NE(g.warnings[2].message.find("line 16, SLIP = 0.4 m, windows 0.5 m"), std::string::npos)
      << g.warnings[2].message;
  // Window 2 of line 11 has no slip; line 12's window 2 takes RAKE; the
  // second segment's windows the header's rake, from the front at avVr.
  struct expected {
    std::size_t line;
    int window;
    double slip, rake, onset;
  } const want[] = {{11, 1, 0.5, 160, 1},  {11, 3, 0.5, -170, 3}, {12, 1, 0.1, 175, 2},
                    {12, 2, 0.1, 175, 3},  {12, 3, 0.1, -175, 4}, {16, 1, 0.25, 180, 0},
                    {16, 2, 0.25, 180, 1}};
  ASSERT_EQ(g.points.size(), std::size(want));
  EXPECT_EQ(g.segment_first, (std::vector<std::size_t>{0, 5}));
  const double front = g.points[5].tinit_s;
  EXPECT_GT(front, 0);
  double moment = 0;
  for (std::size_t i = 0; i < std::size(want); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(g.lines[i], want[i].line);
    EXPECT_EQ(g.windows[i], want[i].window);
    EXPECT_EQ(g.points[i].p.dmax, want[i].slip);
    EXPECT_EQ(g.points[i].rake, want[i].rake);
    EXPECT_DOUBLE_EQ(g.points[i].tinit_s, want[i].onset + (want[i].line == 16 ? front : 0));
    EXPECT_DOUBLE_EQ(g.points[i].p.fmax, std::pow(1.633, 7) / 1.0);
    moment += 3e10 * g.points[i].area_m2 * want[i].slip;
  }
  // The moment rate carries every window: its trapezoids give the moment.
  const std::vector<double> rate = trislip::moment_rate(g.points, g.rigidity_pa, 0.001);
  double integral = 0;
  for (std::size_t i = 1; i < rate.size(); ++i) integral += (rate[i] + rate[i - 1]) * 0.001 / 2;
  EXPECT_NEAR(integral / moment, 1, 0.005);
  EXPECT_NEAR(moment, 3e10 * (25e6 * 1.3 + 9e6 * 0.5), 1e3);

  // A window whose slip is a filler takes what SLIP leaves; without the
  // windows' length the model cannot be timed, and says how to merge them.
  std::string filler = made;
  filler.replace(filler.find("0.25 0.25"), 9, "0.25 999");
  const trislip::fault h = trislip::build_fault(trislip::read_fsp(filler, "made"), o);
  EXPECT_NEAR(h.points.back().p.dmax, 0.15, 1e-15);
  EXPECT_EQ(h.warnings.back().check, "window_slip_filled");
  std::string untimed = made;
  untimed.replace(untimed.find("SHF = 0.0 s"), 11, "");
  try {
    trislip::build_fault(trislip::read_fsp(untimed, "made"), o);
    ADD_FAILURE() << "built";
  } catch (const trislip::model_error& e) {
    EXPECT_NE(std::string(e.what()).find("give --merge-windows"), std::string::npos) << e.what();
  }
}

// The check of points against planes allows half a subfault each way:
// along strike half LEN/NSTK, down dip half WID/NDIP, whatever the other.
TEST(fault_model, plane_slack_is_half_a_subfault_each_way) {
  struct plane_case {
    double len, wid;
    std::int32_t nstk, ndip;
    double along, down;  // km from the plane's far end and from its bottom
    bool outside;
  } const cases[] = {
      {20, 10, 2, 10, 0, 2.5, true},  {20, 10, 2, 10, 0, 0.4, false}, {20, 10, 2, 10, 4, 0, false},
      {10, 20, 10, 2, 0.6, 0, true},  {10, 20, 10, 2, 0.4, 0, false}, {10, 20, 10, 2, 0, 4, false},
  };
  for (const plane_case& c : cases) {
    SCOPED_TRACE(std::to_string(c.len) + " x " + std::to_string(c.wid) + ": " + std::to_string(c.along) + ", " +
                 std::to_string(c.down));
    trislip::srf_plane plane;  // vertical, striking north, its top centre at (0, 0) on the surface
    plane.len_km = c.len;
    plane.wid_km = c.wid;
    plane.nstk = c.nstk;
    plane.ndip = c.ndip;
    plane.dip = 90;
    plane.dhyp_km = c.wid / 2;
    trislip::srf_point pt;
    pt.strike = 0;
    pt.dip = 90;
    // Inside the plane's last subfault along strike and down dip, then beyond.
    trislip::move_along_strike(pt.lon, pt.lat, 0, c.len / 2 - c.len / c.nstk / 2 + (c.along > 0 ? c.len / c.nstk / 2 + c.along : 0));
    pt.depth_km = c.wid - c.wid / c.ndip / 2 + (c.down > 0 ? c.wid / c.ndip / 2 + c.down : 0);
    const trislip::geometry_check g = trislip::check_geometry({pt}, {plane}, {});
    EXPECT_EQ(g.outside_points.size(), c.outside ? 1u : 0u);
  }
}

// The header's claims checked with the slack each direction has: the top
// depth half a subfault down dip (Dz / 2 sin dip: 0.86 km at 20 degrees and
// Dz 5 km), the top centre half the longer side of a subfault (5 km where
// they are 10 x 2 km); and a segment whose rows are not a whole grid gets
// its plane from their extent.
TEST(fault_model, header_claims_have_each_directions_slack_and_partial_grids_their_extent) {
  const auto checks_of = [](const std::string& text, bool merge = false) {
    trislip::fault_options o;
    o.p.dt = 0.01;
    o.merge_windows = merge;
    const trislip::fault f = trislip::build_fault(trislip::read_fsp(text, "made"), o);
    std::string said;
    for (const auto& w : f.warnings) said += w.check + " ";
    return std::make_pair(f, said);
  };
  const auto replaced = [](std::string t, const std::string& from_line_start, const std::string& with) {
    const auto at = t.find(from_line_start);
    return t.replace(at, t.find('\n', at) - at, with);
  };
  // Dip 20, Dz 5: a top depth 2 km off is said.
  std::vector<usgs_writer::segment> shallow = {{0, 0, 1, 0, 20, 5, 5, 4, 3, 1, 1}};
  const std::string dipping = usgs_writer::fsp(shallow, usgs_writer::hypocentre(shallow));
  EXPECT_EQ(checks_of(dipping).second.find("header_top_depth"), std::string::npos);
  EXPECT_NE(checks_of(replaced(dipping, "% depth to top:", "% depth to top: Z2top =   3.14 km")).second.find("header_top_depth"),
            std::string::npos);
  // A top row centred 1.09 km deep with Dz 4.5 km, as a published model
  // has it: the cells reach above the ground, said, the plane kept.
  std::vector<usgs_writer::segment> high = {{0, 0, -1.16, 0, 90, 5, 4.5, 4, 3, 1, 1}};
  const auto above = checks_of(usgs_writer::fsp(high, usgs_writer::hypocentre(high)));
  EXPECT_NE(above.second.find("plane_above_ground"), std::string::npos) << above.second;
  EXPECT_NEAR(above.first.planes.at(0).dtop_km, -1.16, 0.01);
  // Subfaults 10 x 2 km: a top centre 3 km along strike of the rows' is
  // within half a subfault.
  std::vector<usgs_writer::segment> long_cells = {{0, 0, 1, 0, 60, 10, 2, 4, 3, 1, 1}};
  const usgs_writer::position top = usgs_writer::at(long_cells[0], 4 * 10 / 2.0 + 3, 0);
  char line[80];
  std::snprintf(line, sizeof line, "%% LAT = %.6f, LON = %.6f", top.lat, top.lon);
  const std::string moved = replaced(usgs_writer::fsp(long_cells, usgs_writer::hypocentre(long_cells)),
                                     "% LAT = ", line);
  EXPECT_EQ(checks_of(moved).second.find("header_top_centre"), std::string::npos) << checks_of(moved).second;
  // Two parallel strands 10 km apart, the second stating where its own
  // rupture starts: the hypocentre, on the first, lies off the second's
  // plane, so that line is no claim about it.
  std::vector<usgs_writer::segment> strands = {{0, 0, 1, 0, 90, 5, 5, 4, 3, 1, 1}, {10, 0, 1, 0, 90, 5, 5, 4, 3, 2, 2}};
  const std::string parallel = usgs_writer::fsp(strands, usgs_writer::hypocentre(strands));
  EXPECT_EQ(checks_of(parallel).second.find("header_hypocentre"), std::string::npos) << checks_of(parallel).second;
  // Three of a 2 x 2 grid: the plane spans them, its top edge at the
  // surface as the file says, and every point on it.
  std::string three = read_text(data + "/two_segments_top_centre.fsp");
  three = replaced(three, " 34.2276 -116.4381  3.0  -0.7  0.0  0.00", "");
  three.replace(three.find("Nsbfs = 4"), 9, "Nsbfs = 3");
  const trislip::fault g = checks_of(three, true).first;
  ASSERT_EQ(g.planes.size(), 2u);
  EXPECT_EQ(g.planes[0].nstk * g.planes[0].ndip, 4);
  EXPECT_NEAR(g.planes[0].dtop_km, 0, 1e-9);
  EXPECT_TRUE(g.geometry.passed());
}

// What a table gives stays its own: nv 64 is a whole number the function
// takes, and each shape column reaches its own parameter. A rake of -180
// is 180, and --vr wins over the header's avVr.
TEST(fault_model, table_columns_rakes_and_the_rupture_speed_given) {
  const std::string table =
      "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s,fmax_hz,tr,ar,nv\n"
      "-118.5,34.2,5,120,45,-180,1e6,0.5,0,1,1.01,0.7,64\n";
  trislip::fault_options o;
  o.p.dt = 0.001;
  o.mu_pa = 3e10;
  const trislip::fault f = trislip::build_fault(trislip::read_csv_model(table, "t"), o);
  ASSERT_EQ(f.points.size(), 1u);
  EXPECT_EQ(f.points[0].p.nv, 64);
  EXPECT_EQ(f.points[0].p.tr, 1.01);
  EXPECT_EQ(f.points[0].p.ar, 0.7);
  EXPECT_EQ(f.points[0].rake, 180);

  // A file without rupture times: each from its distance at a speed.
  const std::string text = read_text(data + "/two_segments_top_centre.fsp");
  o.p.dt = 0.01;
  const trislip::fault header_speed = trislip::build_fault(trislip::read_fsp(text, "m"), o);
  o.vr_km_s = 5;  // twice the header's avVr = 2.5 km/s
  const trislip::fault given_speed = trislip::build_fault(trislip::read_fsp(text, "m"), o);
  ASSERT_EQ(header_speed.points.size(), given_speed.points.size());
  EXPECT_GT(header_speed.points[0].tinit_s, 0);
  EXPECT_NEAR(given_speed.points[0].tinit_s, header_speed.points[0].tinit_s / 2, 1e-12);
}

// What cannot be read or filled is refused with the line and what is wrong.
TEST(fault_model, bad_models_are_refused_by_line_and_column) {
  const std::string fsp = read_text(models + "/usgs_2019_ridgecrest.fsp");
  const std::string param = read_text(models + "/usgs_2015_illapel.param");
  const std::string top = read_text(data + "/two_segments_top_centre.fsp");
  const auto cut_row = [](std::string t, const std::string& row_start, const std::string& with) {
    const auto at = t.find(row_start);
    return t.replace(at, t.find('\n', at) - at, with);
  };
  const struct {
    const char* what;
    std::string text;
    trislip::model_format format;
    std::string message;
  } cases[] = {
      {"truncated row", cut_row(fsp, " 36.2805", " 36.2805 -118.1440  -48.2495"), trislip::model_format::fsp,
       "m: line 52: 3 values, where the column header on line 49 names 10"},
      {"not a number", cut_row(fsp, " 36.2805", " 36.2805 -118.1440  -48.2495 57.3460 1.1139 x.y 1 2 3 4"),
       trislip::model_format::fsp, "m: line 52, column SLIP: \"x.y\" is not a number"},
      {"rows missing", fsp.substr(0, fsp.rfind('\n', fsp.size() - 2) + 1), trislip::model_format::fsp,
       "states Nsbfs = 336 subfaults and has 335 rows"},
      {"param row cut", cut_row(param, "    -32.691689", "    -32.691689 1 2"), trislip::model_format::usgs_param,
       "m: line 12: 3 values, where a row has 11"},
      {"param bad mo", cut_row(param, "    -32.691689", "    -32.691689 -72.4 0.7 144 91 6.6 19.3 75.8 9 1.5 lots"),
       trislip::model_format::usgs_param, "m: line 12, column mo: \"lots\" is not a number"},
      {"a value more than the header names",
       cut_row(fsp, " 36.2805", " 36.2805 -118.1440  -48.2495 57.3460 1.1139 1 2 3 4 5 6"), trislip::model_format::fsp,
       "m: line 52: 11 values, where the column header on line 49 names 10"},
      {"param segment cut short", cut_row(param, "    -32.691689", ""), trislip::model_format::usgs_param,
       "segment 1 has 23 x 9 subfaults and 206 rows"},
  };
  try {
    trislip::read_model("/dev/null");  // not a model of any kind
    ADD_FAILURE() << "an empty file read";
  } catch (const trislip::model_error& e) {
    EXPECT_NE(std::string(e.what()).find("not a model this program reads: expected an FSP file"), std::string::npos);
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      if (c.format == trislip::model_format::fsp) trislip::read_fsp(c.text, "m");
      else trislip::read_usgs_param(c.text, "m");
      ADD_FAILURE() << "read";
    } catch (const trislip::model_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Neither a RISE column nor avTr nor --rise: refused with the line.
  std::string no_rise = top;
  no_rise.replace(no_rise.find("avTr = 2.0"), 10, "avTr = 999");
  try {
    trislip::fault_options merged;
    merged.merge_windows = true;
    trislip::build_fault(trislip::read_fsp(no_rise, "m"), merged);
    ADD_FAILURE() << "built";
  } catch (const trislip::model_error& e) {
    EXPECT_STREQ(e.what(), "line 38: no rise time, and the header gives no avTr: give --rise");
  }
  // --mu beside --vs and --density that give another rigidity.
  trislip::fault_options three;
  three.mu_pa = 3e10;
  three.vs_m_s = 3200;
  three.density_kg_m3 = 2700;
  EXPECT_THROW(trislip::build_fault(trislip::read_fsp(top, "m"), three), std::invalid_argument);
  // A rise time beyond any count of samples (t_ris + t_fal of 1e33 s).
  const std::string long_rise =
      cut_row(param, "    -32.691689", "    -32.691689 -72.4 0.7 144 91 6.6 19.3 75.8 1e33 1.5 0.136475E+27");
  trislip::fault_options o;
  o.p.dt = 0.01;
  try {
    trislip::build_fault(trislip::read_usgs_param(long_rise, "m"), o);
    ADD_FAILURE() << "built";
  } catch (const trislip::model_error& e) {
    EXPECT_NE(std::string(e.what()).find("line 12: a function of 1e+33 s at --dt 0.01 s needs more than 2^26 samples"),
              std::string::npos) << e.what();
  }
}

}  // namespace

// An SRF 2.0 file of two segments, one POINTS block each, its fields laid
// out as no writer here lays them: each point keeps its place, slip
// (components 1 and 2 as one vector), onset, VS and DEN, and lasts the span
// of its samples; component 3 is said; what cannot be read names its line.
TEST(fault_model, srf_files_read_whatever_their_layout) {
  const std::string srf =
      "2.0\n# a comment line\nPLANE 2\n"
      "-118.0 34.0 2 1 4.0 2.0 90 90 0.0 -1.0 1.0\n"
      "-118.0 34.05 1 1 2.0 2.0\n0 90 0.0 0.0 1.0\n"
      "POINTS 2\n"
      "-118.01 34.0 1.0 90 90 4e10 0.5 0.1 300000 2.7\n"
      "0 30 4 0 0 0 0\n10 20 30 40\n"
      "-117.99 34.0 1.0 90 90 4e10 0.7 0.1 300000 2.7 180 40 3 30 2 5 1 10 20 10 0 15 15\n"
      "POINTS 1\n"
      "-118.0 34.05 1.0 0 90 4e10 0.0 0.2 0 0\n"
      "90 10 2 0 0 0 0\n5\n5\n";
  const trislip::model m = trislip::read_srf_model(srf, "s.srf");
  ASSERT_EQ(m.format, trislip::model_format::srf);
  ASSERT_EQ(m.segments.size(), 2u);
  EXPECT_EQ(m.segments[0].dx_km, 2);
  EXPECT_EQ(m.segments[0].hyp_along_km, 1);  // SHYP from the top centre
  ASSERT_EQ(m.subfaults.size(), 3u);
  EXPECT_EQ(m.subfaults[0].line, 8u);
  EXPECT_EQ(m.subfaults[0].slip_m, 0.3);
  EXPECT_EQ(m.subfaults[0].rise_s, 0.4);  // 4 samples, the last above 0, at 0.1 s
  EXPECT_EQ(m.subfaults[0].area_m2, 4e6);
  EXPECT_EQ(m.subfaults[0].vs_m_s, 3000);
  EXPECT_EQ(m.subfaults[0].density_kg_m3, 2700);
  EXPECT_DOUBLE_EQ(m.subfaults[1].slip_m, 0.5);  // 0.4 and 0.3 at right angles
  EXPECT_DOUBLE_EQ(m.subfaults[1].rake, 180 + std::atan2(0.3, 0.4) * 180 / M_PI);
  EXPECT_DOUBLE_EQ(m.subfaults[1].rise_s, 0.3);
  EXPECT_EQ(m.subfaults[2].segment, 1u);
  EXPECT_TRUE(std::isnan(m.subfaults[2].vs_m_s));  // VS 0: the options' rigidity
  ASSERT_EQ(m.notes.size(), 1u);
  EXPECT_EQ(m.notes[0].check, "slip3_dropped");
  EXPECT_NE(m.reading.find("2 POINTS blocks, one a segment"), std::string::npos) << m.reading;

  const auto refusal = [](const std::string& text) {
    try {
      trislip::read_srf_model(text, "s.srf");
    } catch (const trislip::model_error& e) {
      return std::string(e.what());
    }
    return std::string("read");
  };
  const std::string one = "1.0\nPOINTS 1\n-118 34 1 90 90 4e10 0 0.1\n0 30 ";
  EXPECT_EQ(refusal(one + "-3 0 0 0 0\n"), "s.srf: line 4: point 1's NT1 -3: must be a whole number from 0 to 67108864");
  EXPECT_EQ(refusal(one + "2 0 0 0 0\n1 x\n"), "s.srf: line 5: point 1's SR1 sample 2: \"x\" is not a number");
  EXPECT_EQ(refusal(one + "2 0 0 0 0\n1\n"), "s.srf: line 5: the file ends where point 1's SR1 sample 2 should follow: "
                                             "it is cut short");
  EXPECT_EQ(refusal("1.0\nPLANE 2\n" + std::string(2, ' ') + "0 0 1 1 1 1\n0 90 0 0 0\n0 0 1 1 1 1\n0 90 0 0 0\n" +
                    one.substr(4) + "0 0 0 0 0\n"),
            "s.srf: the PLANE block's 2 segments of 2 subfaults in all match neither the 1 POINTS blocks nor their 1 "
            "points");
  EXPECT_EQ(refusal("3.0\nPOINTS 0\n"), "s.srf: line 1: version \"3.0\": this program reads SRF 1.0 and 2.0");
}
