// SPECFEM3D's finite sources: the double couples against the textbook,
// the delayed normalised slip against the synthesis, and the files of
// trislip-custom and trislip-fault read back by the rules of SPECFEM3D's
// get_cmt.f90 (fixed label columns, the time function file on the entry's
// last line) and of its external time function reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "scratch.hpp"
#include "trislip/fault.hpp"
#include "trislip/projection.hpp"
#include "trislip/specfem.hpp"

namespace {

TEST(specfem, double_couples_are_the_textbook_ones) {
  const double m0 = 1e18, eps = 1e-15 * m0;
  // A vertical strike-slip fault striking north: Mtp = -M0 alone.
  trislip::moment_tensor m = trislip::double_couple(0, 90, 0, m0);
  for (double c : {m.mrr, m.mtt, m.mpp, m.mrt, m.mrp}) EXPECT_NEAR(c, 0, eps);
  EXPECT_NEAR(m.mtp, -m0, eps);
  // A thrust on a 45-degree plane striking north: Mrr = M0, Mpp = -M0.
  m = trislip::double_couple(0, 45, 90, m0);
  EXPECT_NEAR(m.mrr, m0, eps);
  EXPECT_NEAR(m.mpp, -m0, eps);
  for (double c : {m.mtt, m.mrt, m.mrp, m.mtp}) EXPECT_NEAR(c, 0, eps);
  // Any double couple: no trace, no determinant, and SPECFEM's scalar moment.
  for (int i = 0; i < 200; ++i) {
    const double s = i * 7.3, d = 1 + (i * 13) % 89, r = -180 + i * 1.7;
    m = trislip::double_couple(s, d, r, m0);
    EXPECT_NEAR(m.mrr + m.mtt + m.mpp, 0, eps);
    const double det = m.mrr * (m.mtt * m.mpp - m.mtp * m.mtp) - m.mrt * (m.mrt * m.mpp - m.mtp * m.mrp) +
                       m.mrp * (m.mrt * m.mtp - m.mtt * m.mrp);
    EXPECT_NEAR(det / (m0 * m0 * m0), 0, 1e-14);
    const double scalar = std::sqrt(0.5 * (m.mrr * m.mrr + m.mtt * m.mtt + m.mpp * m.mpp +
                                           2 * (m.mrt * m.mrt + m.mrp * m.mrp + m.mtp * m.mtp)));
    EXPECT_NEAR(scalar / m0, 1, 1e-14);
  }
}

TEST(specfem, delayed_slip_is_the_synthesis_from_the_rupture_on) {
  trislip::parameters p;
  p.dmax = 0.7;
  const trislip::slip_series s = trislip::synthesize(p);
  const std::vector<double> none = trislip::delayed_normalised_slip(p, 0, p.nt);
  for (std::size_t k = 0; k < none.size(); ++k) ASSERT_EQ(none[k], s.displacement[k] / p.dmax) << k;
  const std::vector<double> late = trislip::delayed_normalised_slip(p, 1.2345, 2000);
  for (std::size_t k = 0; k <= 246; ++k) ASSERT_EQ(late[k], 0) << k;  // 246 * 0.005 <= 1.2345
  // Sample 247 is 0.5 ms after the rupture: its slip is the first step of
  // the same function sampled every 0.5 ms, integrated from the rupture.
  trislip::parameters fine = p;
  fine.dt = 0.0005;
  const double tau = 247 * p.dt - 1.2345;
  ASSERT_NEAR(tau, fine.dt, 1e-15);
  fine.dt = tau;
  EXPECT_NEAR(late[247], trislip::synthesize(fine).displacement[1] / p.dmax, 1e-12 * late[247]);
  EXPECT_NEAR(late.back(), 1, 0.001);
}

struct entry {
  int year = 0, month = 0, day = 0, hour = -1, minute = -1;
  double second = -1;
  double v[11] = {};  // time shift, half duration, lat, lon, depth, Mrr, Mtt, Mpp, Mrt, Mrp, Mtp
  std::string stf;
};

// The entries of a CMTSOLUTION as get_cmt.f90 reads them: after the source
// label, six numbers (the seconds with a '.') with more text after them;
// the event name line, ignored; each following line's value after its
// label's columns; then the time function file's name.
std::vector<entry> read_cmtsolution(const std::string& text) {
  std::vector<entry> entries;
  std::istringstream in(text);
  const std::size_t column[11] = {12, 15, 10, 11, 7, 5, 5, 5, 5, 5, 5};  // Fortran's, from 1
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    entry e;
    std::size_t at = 0;
    int* const fields[5] = {&e.year, &e.month, &e.day, &e.hour, &e.minute};
    for (int k = 0; k < 6; ++k) {
      at = line.find_first_of("0123456789", at);
      EXPECT_TRUE(at != std::string::npos && at > 0) << line;
      const std::size_t end = line.find_first_not_of(k < 5 ? "0123456789" : "0123456789.", at);
      EXPECT_TRUE(end != std::string::npos) << "the seconds end the line: " << line;
      if (k < 5) *fields[k] = std::stoi(line.substr(at, end - at));
      else e.second = std::stod(line.substr(at, end - at));
      at = end;
    }
    EXPECT_TRUE(e.month >= 1 && e.month <= 12 && e.day >= 1 && e.second >= 0 && e.second < 60) << line;
    std::getline(in, line);
    for (std::size_t k = 0; k < 11; ++k) {
      std::getline(in, line);
      e.v[k] = std::stod(line.substr(column[k] - 1));
    }
    std::getline(in, e.stf);
    entries.push_back(e);
  }
  return entries;
}

class specfem_run : public scratch_test {
 protected:
  int run(const std::string& program, const std::string& args) const {
    const int s = std::system(("cd '" + dir_ + "' && " + program + " " + args + " </dev/null >out.txt 2>err.txt").c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
};

// A point source, a 3-row table and a published model: every entry parses,
// the tensors add up to M0 and each time function file holds the delayed
// normalised slip, as text bit for bit after a line that says its DT and
// NSTEP, or as SPECFEM's binary record of float32 or float64.
TEST_F(specfem_run, cmtsolution_and_time_functions_read_as_specfem_reads_them) {
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n"
             "-118.50,34.20,5,120,45,90,1e6,0.5,0\n-118.49,34.21,6,120,45,90,1e6,1.5,0.4\n"
             "-118.48,34.22,7,120,45,90,1e6,1.0,0.83\n");
  const std::string point_source = "--lon -118.5 --lat 34.2 --depth 10 --strike 120 --dip 45 --rake 90 --area 1e6 --tinit 0.3";
  // Each case's points, as the library makes them.
  trislip::parameters d;
  std::vector<std::pair<trislip::parameters, double>> point(1, {d, 0.3}), rows;
  for (auto [slip, tinit] : {std::pair{0.5, 0.0}, {1.5, 0.4}, {1.0, 0.83}}) {
    trislip::parameters p = d;
    p.dmax = slip;
    rows.emplace_back(p, tinit);
  }
  const std::string illapel = std::string(TRISLIP_MODELS_DIR) + "/usgs_2015_illapel.param";
  trislip::fault_options o;
  o.p.dt = 0.004;
  const trislip::fault f = trislip::build_fault(trislip::read_model(illapel), o);
  std::vector<std::pair<trislip::parameters, double>> model;
  for (const trislip::srf_point& pt : f.points) model.emplace_back(pt.p, pt.tinit_s);
  // A time-window model: an entry per window, each its own function and
  // onset (four pulses, whose shortest a step of 0.004 s resolves).
  const std::string northridge = std::string(TRISLIP_MODELS_DIR) + "/time-windows/srcmod_1994_northridge.fsp";
  o.p.nv = 4;
  const trislip::fault windows = trislip::build_fault(trislip::read_model(northridge), o);
  std::vector<std::pair<trislip::parameters, double>> window_points;
  for (const trislip::srf_point& pt : windows.points) window_points.emplace_back(pt.p, pt.tinit_s);
  const struct {
    std::string program, args;
    const std::vector<std::pair<trislip::parameters, double>>& points;
    std::size_t real;  // bytes of a .bin file's reals; 0 for text
  } cases[] = {
      {TRISLIP_CUSTOM_BINARY, "--export specfem-cmt " + point_source + " --mu 3e10 --start-time 2019-07-06T03:19:53.04", point, 0},
      {TRISLIP_CUSTOM_BINARY,
       "--export specfem-cmt --subfaults rows.csv --mu 3e10 --specfem-binary --start-time 2016-02-29T23:59:59.5", rows, 4},
      {TRISLIP_FAULT_BINARY, illapel + " --export specfem-cmt --dt 0.004 --nt 40000", model, 0},
      {TRISLIP_FAULT_BINARY, northridge + " --export specfem-cmt --dt 0.004 --nv 4", window_points, 0},
      {TRISLIP_CUSTOM_BINARY, "--export specfem-cmt --subfaults rows.csv --mu 3e10 --specfem-binary --specfem-precision double",
       rows, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::system(("rm -rf '" + path("o") + "'").c_str());
    ASSERT_EQ(run(c.program, c.args + " --quiet --output-dir o"), 0) << read_file(path("err.txt"));
    const std::string err = read_file(path("err.txt"));
    if (c.points.size() == window_points.size()) {
      EXPECT_EQ(err.rfind("trislip-fault: warning: the rupture time of 186 of 196 subfaults filled in", 0), 0u) << err;
      EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);  // nothing else, no sampling warning
    } else {
      EXPECT_EQ(err, "");  // no sampling warning
    }
    const auto j = nlohmann::json::parse(read_file(path("o/trislip.json")));
    const auto& s = j["specfem_cmt"];
    const double dt = s["dt"], m0 = s["moment_dyne_cm"];
    const auto nt = s["nt"].get<std::int32_t>();
    const std::vector<entry> entries = read_cmtsolution(read_file(path("o/CMTSOLUTION")));
    ASSERT_EQ(entries.size(), c.points.size());
    if (c.args.find("2016-02-29") != std::string::npos) {
      const entry& e = entries[0];
      EXPECT_EQ(e.year * 10000 + e.month * 100 + e.day, 20160229);  // a leap day, in its own year
      EXPECT_EQ(e.hour * 100 + e.minute, 2359);
      EXPECT_EQ(e.second, 59.5);
    }
    double sum = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const entry& e = entries[k];
      EXPECT_EQ(e.v[0], 0);  // time shift
      EXPECT_EQ(e.v[1], 0);  // half duration
      const double* t = e.v + 5;  // Mrr Mtt Mpp Mrt Mrp Mtp, dyne cm
      EXPECT_NEAR((t[0] + t[1] + t[2]) / m0, 0, 1e-12);
      const double det = t[0] * (t[1] * t[2] - t[5] * t[5]) - t[3] * (t[3] * t[2] - t[5] * t[4]) +
                         t[4] * (t[3] * t[5] - t[1] * t[4]);
      EXPECT_NEAR(det / (m0 * m0 * m0), 0, 1e-12);  // a double couple
      sum += std::sqrt(0.5 * (t[0] * t[0] + t[1] * t[1] + t[2] * t[2] + 2 * (t[3] * t[3] + t[4] * t[4] + t[5] * t[5])));
      const std::string name = e.stf.substr(e.stf.rfind('/') + 1);
      EXPECT_EQ(e.stf, "DATA/specfem_stf/" + name);
      const std::string file = read_file(path("o/specfem_stf/" + name));
      trislip::parameters p = c.points[k].first;
      p.dt = dt;
      const double tinit = c.points[k].second;
      const std::vector<double> want = trislip::delayed_normalised_slip(p, tinit, nt);
      if (c.real != 0) {
        // One Fortran record: its length, nt reals, its length again.
        ASSERT_EQ(file.size(), 8 + c.real * want.size());
        std::int32_t head, tail;
        std::memcpy(&head, file.data(), 4);
        std::memcpy(&tail, file.data() + 4 + c.real * want.size(), 4);
        EXPECT_EQ(head, static_cast<std::int32_t>(c.real * want.size()));
        EXPECT_EQ(tail, head);
        for (std::size_t i = 0; i < want.size(); ++i) {
          float x;
          double y;
          if (c.real == 4) {
            std::memcpy(&x, file.data() + 4 + 4 * i, 4);
            ASSERT_EQ(x, static_cast<float>(want[i])) << i;
          } else {
            std::memcpy(&y, file.data() + 4 + 8 * i, 8);
            ASSERT_EQ(y, want[i]) << i;
          }
        }
      } else {
        // SPECFEM skips lines that start with # or !; the first says the step.
        std::istringstream in(file);
        std::string line;
        std::getline(in, line);
        EXPECT_NE(line.find("# trislip"), std::string::npos);
        std::ostringstream step;
        step << "DT = " << dt << " s and NSTEP up to " << nt;
        EXPECT_NE(line.find(step.str()), std::string::npos) << line;
        std::size_t i = 0;
        for (; std::getline(in, line); ++i) {
          ASSERT_TRUE(line[0] != '#' && line[0] != '!') << name << " " << i;
          ASSERT_EQ(std::stod(line), want.at(i)) << name << " " << i;
        }
        EXPECT_EQ(i, want.size());
      }
      EXPECT_NEAR(want.back(), 1, 0.001);
      const auto first = static_cast<std::size_t>(std::find_if(want.begin(), want.end(), [](double x) { return x != 0; }) - want.begin());
      EXPECT_GT(static_cast<double>(first) * dt, tinit);
      EXPECT_LE(static_cast<double>(first - 1) * dt, tinit);
    }
    EXPECT_NEAR(sum / m0, 1, 1e-9);
  }
}

// A mesh's own frame: positions equal to PROJ's command-line tools (a UTM
// zone, a local frame whose origin is (0, 0)), depth as z in metres, and
// each tensor turned by the grid's north, which `proj -V` gives as minus
// its meridian convergence. On the zone's central meridian at the equator
// the position is (500000, 0) and the tensor the geographic one.
TEST_F(specfem_run, utm_and_local_frames_place_the_entries_where_proj_does) {
  if (std::system("command -v cs2cs >/dev/null && command -v proj >/dev/null") != 0) {
    GTEST_SKIP() << "skipped: PROJ's cs2cs and proj are not here (Debian's proj-bin; scripts/test installs it)";
  }
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n"
             "-118.50,34.20,5,120,45,90,1e6,0.5,0\n-119.71,36.93,6.25,300,60,-30,1e6,1.5,0.4\n"
             "-117,0,1.1139,10,80,180,1e6,1.0,0.83\n");
  const std::string table = "--export specfem-cmt --subfaults rows.csv --mu 3e10 --quiet ";
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, table + "--output-dir geo"), 0) << read_file(path("err.txt"));
  const std::vector<entry> geo = read_cmtsolution(read_file(path("geo/CMTSOLUTION")));
  ASSERT_EQ(geo.size(), 3u);
  const struct {
    std::string options, crs;
  } frames[] = {
      {"--specfem-coordinates utm --specfem-utm-zone 11 --specfem-depth z", "+proj=utm +zone=11 +datum=WGS84"},
      {"--specfem-coordinates local --specfem-origin -118.5,34.2",
       "+proj=tmerc +lat_0=34.2 +lon_0=-118.5 +k_0=1 +x_0=0 +y_0=0 +datum=WGS84"},
  };
  for (const auto& f : frames) {
    SCOPED_TRACE(f.options);
    ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, table + f.options + " --output-dir grid"), 0) << read_file(path("err.txt"));
    const std::vector<entry> grid = read_cmtsolution(read_file(path("grid/CMTSOLUTION")));
    ASSERT_EQ(grid.size(), 3u);
    const auto j = nlohmann::json::parse(read_file(path("grid/trislip.json")))["specfem_cmt"]["coordinates"];
    EXPECT_EQ(j["projection"].get<std::string>().rfind(f.crs, 0), 0u) << j.dump();
    const bool z = f.options.find("depth z") != std::string::npos;
    for (std::size_t k = 0; k < 3; ++k) {
      const double lon = geo[k].v[3], lat = geo[k].v[2];
      std::ostringstream ask;
      ask << "cd '" << dir_ << "' && echo '" << lon << " " << lat << "' | cs2cs -f %.9f +proj=longlat +datum=WGS84 +to "
          << f.crs << " > xy.txt && echo '" << lon << " " << lat << "' | proj -V " << f.crs << " > factors.txt";
      ASSERT_EQ(std::system(ask.str().c_str()), 0);
      double x = 0, y = 0;
      std::istringstream(read_file(path("xy.txt"))) >> x >> y;
      EXPECT_NEAR(grid[k].v[3], x, 1e-6);  // longorUTM: x, m
      EXPECT_NEAR(grid[k].v[2], y, 1e-6);  // latorUTM: y, m
      EXPECT_NEAR(grid[k].v[4], z ? -geo[k].v[4] * 1000 : geo[k].v[4], 1e-9);
      const std::string factors = read_file(path("factors.txt"));
      const std::size_t at = factors.find('[', factors.find("Convergence"));
      ASSERT_NE(at, std::string::npos) << factors;
      const double north = -std::stod(factors.substr(at + 1));
      const double strike[] = {120, 300, 10}, dip[] = {45, 60, 80}, rake[] = {90, -30, 180};
      const double m0 = 3e10 * 1e6 * std::vector<double>{0.5, 1.5, 1.0}[k] * 1e7;
      const trislip::moment_tensor want = trislip::double_couple(strike[k] + north, dip[k], rake[k], m0);
      const double got[] = {want.mrr, want.mtt, want.mpp, want.mrt, want.mrp, want.mtp};
      for (int c = 0; c < 6; ++c) EXPECT_NEAR(grid[k].v[5 + c] / m0, got[c] / m0, 2e-8) << "entry " << k << " " << c;
    }
    if (z) {
      EXPECT_EQ(grid[2].v[3], 500000);
      EXPECT_EQ(grid[2].v[2], 0);
      EXPECT_EQ(read_file(path("grid/CMTSOLUTION")).find("depth:          -1113.9\n") != std::string::npos, true);
      for (int c = 0; c < 6; ++c) EXPECT_EQ(grid[2].v[5 + c], geo[2].v[5 + c]);
    } else {
      EXPECT_EQ(grid[0].v[3], 0);
      EXPECT_EQ(grid[0].v[2], 0);
    }
  }
}

// The frames' edges: zones 60 and -60 both taken (61 and -61 refused), a
// longitude written east of 180 projected as the same place west of it,
// and z at the surface written as 0, not -0.
TEST_F(specfem_run, zones_longitudes_and_the_surface_at_the_frames_edges) {
  if (!trislip::projection_available()) GTEST_SKIP() << "skipped: this build has no PROJ";
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n"
             "177,10,0,120,45,90,1e6,0.5,0\n177,-10,5,120,45,90,1e6,0.5,0\n");
  const std::string table = "--export specfem-cmt --subfaults rows.csv --mu 3e10 --quiet --output-dir o ";
  for (const char* zone : {"60", "-60"}) {
    ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, table + "--specfem-coordinates utm --specfem-depth z --specfem-utm-zone " +
                                             zone),
              0)
        << zone << ": " << read_file(path("err.txt"));
    const std::string cmt = read_file(path("o/CMTSOLUTION"));
    EXPECT_NE(cmt.find("depth:          0\n"), std::string::npos) << cmt.substr(0, 400);
    EXPECT_EQ(cmt.find("-0\n"), std::string::npos);
  }
  EXPECT_EQ(run(TRISLIP_CUSTOM_BINARY, table + "--specfem-coordinates utm --specfem-utm-zone -61"), 2);
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n"
             "241.5,34.2,5,120,45,90,1e6,0.5,0\n-118.5,34.2,5,120,45,90,1e6,0.5,0\n");
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, table + "--specfem-coordinates local --specfem-origin -118.5,34.2"), 0)
      << read_file(path("err.txt"));
  const std::vector<entry> local = read_cmtsolution(read_file(path("o/CMTSOLUTION")));
  ASSERT_EQ(local.size(), 2u);
  EXPECT_NEAR(local[0].v[3], local[1].v[3], 1e-6);
  EXPECT_NEAR(local[0].v[2], local[1].v[2], 1e-6);
  EXPECT_NEAR(local[1].v[3], 0, 1e-6);
}

// A mesh's Par_file laid out as SPECFEM3D's examples are: its DT and NSTEP
// taken for the options left out, an option that disagrees refused with
// both values and the line; SUPPRESS_UTM_PROJECTION = .false. with zone 11
// gives the degrees with the utm frame's tensors (turned by the convergence
// the test above checks against proj -V), and without a zone the json says
// how far off the unturned ones are; .true. needs a metric frame; a zone
// that does not hold the points is refused, naming theirs.
TEST_F(specfem_run, the_meshs_par_file_is_followed_and_what_disagrees_refused) {
  if (!trislip::projection_available()) GTEST_SKIP() << "skipped: this build has no PROJ";
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n"
             "-118.50,34.20,5,120,45,90,1e6,0.5,0\n-119.71,36.93,6.25,300,60,-30,1e6,1.5,0.4\n");
  const std::string par =
      "#-----------------------------------------------------------\n"
      "# time step parameters\n"
      "NSTEP                           = 400\n"
      "DT                              = 0.05d0   # s\n"
      "\n"
      "# UTM projection parameters\n"
      "UTM_PROJECTION_ZONE             = 11\n"
      "SUPPRESS_UTM_PROJECTION         = .false.\n"
      "USE_SOURCES_RECEIVERS_Z         = .false.\n"
      "USE_EXTERNAL_SOURCE_FILE        = .true.\n";
  write_file(path("Par_file"), par);
  std::string suppressed = par;
  suppressed.replace(suppressed.find(".false."), 7, ".true.");
  write_file(path("Par_suppressed"), suppressed);
  const std::string table = "--subfaults rows.csv --mu 3e10 --quiet --output-dir o ";
  const std::string cmt = "--export specfem-cmt " + table;
  const std::pair<std::string, std::string> refused[] = {
      {cmt + "--specfem-par-file Par_file --dt 0.04", "--dt 0.04: must be the mesh's DT = 0.05 (Par_file, line 4)"},
      {cmt + "--specfem-par-file Par_file --nt 399", "--nt 399: must be at least the mesh's NSTEP = 400 (Par_file, line 3)"},
      {cmt + "--specfem-par-file Par_file --specfem-utm-zone 12", "must be the mesh's UTM_PROJECTION_ZONE = 11"},
      {cmt + "--specfem-par-file Par_suppressed", "--specfem-coordinates: needed: utm or local"},
      {table + "--specfem-par-file Par_file", "--specfem-par-file: goes with --export specfem-cmt"},
      {cmt + "--specfem-utm-zone 30", "--specfem-utm-zone 30: must be a zone that holds the points: they lie in zone 11"},
      {cmt + "--specfem-coordinates utm --specfem-utm-zone -11", "-11 takes longitudes -123 to -111, south"},
  };
  for (const auto& [args, said] : refused) {
    SCOPED_TRACE(args);
    EXPECT_EQ(run(TRISLIP_CUSTOM_BINARY, args), 2);
    EXPECT_NE(read_file(path("err.txt")).find(said), std::string::npos) << read_file(path("err.txt"));
  }
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, cmt + "--specfem-par-file Par_file"), 0) << read_file(path("err.txt"));
  const std::vector<entry> followed = read_cmtsolution(read_file(path("o/CMTSOLUTION")));
  const auto j = nlohmann::json::parse(read_file(path("o/trislip.json")));
  EXPECT_EQ(j["parameters"]["dt"], 0.05);
  EXPECT_EQ(j["parameters"]["nt"], 400);
  EXPECT_EQ(j["specfem_cmt"]["coordinates"]["utm_zone"], 11);
  EXPECT_EQ(j["specfem_cmt"]["par_file"]["SUPPRESS_UTM_PROJECTION"], ".false.");
  const std::string stf = read_file(path("o/specfem_stf/stf_000002.txt"));
  EXPECT_EQ(std::count(stf.begin(), stf.end(), '\n'), 401) << "a # line and NSTEP values";
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, cmt + "--dt 0.05 --nt 400 --specfem-coordinates utm --specfem-utm-zone 11"), 0);
  const std::vector<entry> utm = read_cmtsolution(read_file(path("o/CMTSOLUTION")));
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, cmt + "--dt 0.05 --nt 400"), 0);
  const std::vector<entry> unturned = read_cmtsolution(read_file(path("o/CMTSOLUTION")));
  const auto off = nlohmann::json::parse(read_file(path("o/trislip.json")))["specfem_cmt"]["coordinates"];
  ASSERT_EQ(followed.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) {
    for (int c = 2; c < 5; ++c) EXPECT_EQ(followed[k].v[c], unturned[k].v[c]) << "the position in degrees";
    for (int c = 5; c < 11; ++c) EXPECT_EQ(followed[k].v[c], utm[k].v[c]) << "the tensor turned as in utm";
    EXPECT_NE(followed[k].v[6], unturned[k].v[6]);
  }
  EXPECT_EQ(off["points_zone"], 11);
  for (const char* end : {"min", "max"}) {
    EXPECT_NEAR(off["tensors_off_by_deg"][end].get<double>(),
                j["specfem_cmt"]["coordinates"]["grid_north_deg"][end].get<double>(), 0.0005);
  }
}

// SPECFEM options that cannot give what SPECFEM3D needs are refused by name
// with nothing written: a file name it would cut, a frame without its zone
// or origin, a precision for text files, options without the export.
TEST_F(specfem_run, options_that_cannot_work_are_refused_by_name) {
  const std::string point = "--lon -118.5 --lat 34.2 --depth 10 --strike 120 --dip 45 --rake 90 --area 1e6 --mu 3e10 ";
  const std::string cmt = "--export specfem-cmt " + point;
  const std::string illapel = std::string(TRISLIP_MODELS_DIR) + "/usgs_2015_illapel.param ";
  // 243 characters and "/stf_000001.txt" are 258; 241 are 256, which SPECFEM reads whole.
  const std::string longest = std::string(241, 'd');
  const std::pair<std::string, std::string> cases[] = {
      {cmt + "--specfem-stf-dir " + std::string(243, 'd'), "--specfem-stf-dir ddd"},
      {illapel + "--export specfem-cmt --specfem-stf-dir " + std::string(242, 'd'), "stf_000207.txt in it takes 257"},
      {cmt + "--specfem-precision double", "--specfem-precision double: goes with --specfem-binary"},
      {cmt + "--specfem-coordinates utm", "--specfem-coordinates utm: needs --specfem-utm-zone"},
      {cmt + "--specfem-coordinates utm --specfem-utm-zone 61", "--specfem-utm-zone 61: must be"},
      {cmt + "--specfem-coordinates local --specfem-origin -118.5", "--specfem-origin -118.5: must be LON,LAT"},
      {cmt + "--specfem-origin -118.5,34.2", "--specfem-origin: goes with --specfem-coordinates local"},
      {point + "--specfem-coordinates utm --specfem-utm-zone 11", "--specfem-coordinates: goes with --export specfem-cmt"},
      {illapel + "--specfem-stf-dir x", "--specfem-stf-dir: goes with --export specfem-cmt"},
  };
  for (const auto& [args, said] : cases) {
    SCOPED_TRACE(args.substr(0, 120));
    const char* program = args.find("illapel") != std::string::npos ? TRISLIP_FAULT_BINARY : TRISLIP_CUSTOM_BINARY;
    std::system(("rm -rf '" + path("o") + "'").c_str());
    EXPECT_EQ(run(program, args + " --quiet --output-dir o"), 2);
    EXPECT_NE(read_file(path("err.txt")).find(said), std::string::npos) << read_file(path("err.txt"));
    struct stat st;
    EXPECT_NE(stat(path("o/CMTSOLUTION").c_str(), &st), 0) << "nothing written";
  }
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, cmt + "--specfem-stf-dir " + longest + " --quiet --output-dir o"), 0)
      << read_file(path("err.txt"));
  EXPECT_NE(read_file(path("o/CMTSOLUTION")).find("\n" + longest + "/stf_000001.txt\n"), std::string::npos);
}

// A record too short for a delay and its function: a warning naming the
// row, and with --strict a refusal with nothing written.
TEST_F(specfem_run, a_record_too_short_for_a_delay_is_said_and_strict_refuses) {
  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n-118.50,34.20,5,120,45,90,1e6,0.5,0\n"
             "-118.49,34.21,6,120,45,90,1e6,1.5,19\n");
  const std::string args = "--export specfem-cmt --subfaults rows.csv --mu 3e10 --quiet --output-dir o";
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, args), 0);
  EXPECT_NE(read_file(path("err.txt")).find("trislip-custom: warning: row 2: the record ends at 20.475 s, before the function ends at"),
            std::string::npos) << read_file(path("err.txt"));
  // A later run replaces the folder whole: one point, one file.
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, "--export specfem-cmt --lon -118.5 --lat 34.2 --depth 10 --strike 120 "
                                       "--dip 45 --rake 90 --area 1e6 --mu 3e10 --quiet --output-dir o"), 0);
  EXPECT_EQ(std::system(("test \"$(ls '" + path("o/specfem_stf") + "')\" = stf_000001.txt").c_str()), 0);
  std::system(("rm -rf '" + path("o") + "'").c_str());
  EXPECT_EQ(run(TRISLIP_CUSTOM_BINARY, args + " --strict"), 2);
  struct stat st;
  EXPECT_NE(stat(path("o/CMTSOLUTION").c_str(), &st), 0) << "nothing published";
  EXPECT_NE(stat(path("o/specfem_stf").c_str(), &st), 0) << "nothing published";
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + path("o") + "')\"").c_str()), 0) << "no temporary file left";
}

// Ended by a signal while the time function files are being written on
// both cores: the staged folder goes with every file in it.
TEST_F(specfem_run, a_signal_while_the_files_are_written_leaves_nothing) {
  std::string rows = "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n";
  for (int i = 0; i < 4000; ++i) rows += "-118.5,34.2,5,120,45,90,1e6,0.5," + std::to_string(i % 300 * 0.1) + "\n";
  write_file(path("rows.csv"), rows);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    execl(TRISLIP_CUSTOM_BINARY, TRISLIP_CUSTOM_BINARY, "--export", "specfem-cmt", "--subfaults", "rows.csv", "--mu",
          "3e10", "--nt", "8000", "--dt", "0.01", "--quiet", "--output-dir", "o", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Once the hundredth file is there.
  const std::string some = path("o/.specfem_stf.tmp" + std::to_string(pid) + "/stf_000100.txt");
  int status = 0;
  struct stat st;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (stat(some.c_str(), &st) == 0) {
      kill(pid, SIGTERM);
      break;
    }
  }
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "the run ended before the signal";
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + path("o") + "')\"").c_str()), 0) << "files left";
}

}  // namespace
