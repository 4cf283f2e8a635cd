// SeisSol's NRF files read back with netCDF the way SeisSol's reader reads
// them, field by field against the SRF of the same run, as SeisSol's
// converter would turn that SRF into NRF.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scratch.hpp"

namespace {

struct srf_entry {
  double lon, lat, dep, stk, dip, area, tinit, dt, rake;
  std::vector<double> sr1_cm_s;
};

// The POINTS block of an SRF 1.0 file: two header lines a point, then its
// NT1 SR1 values (NT2 and NT3 are 0 in trislip's files).
std::vector<srf_entry> read_srf_points(const std::string& text) {
  std::istringstream in(text.substr(text.find("POINTS")));
  std::string word;
  std::size_t n = 0;
  in >> word >> n;
  std::vector<srf_entry> points(n);
  for (srf_entry& p : points) {
    double slip1 = 0, nt2 = 0, slip2 = 0, nt3 = 0, slip3 = 0;
    std::size_t nt1 = 0;
    in >> p.lon >> p.lat >> p.dep >> p.stk >> p.dip >> p.area >> p.tinit >> p.dt >> p.rake >> slip1 >> nt1 >> slip2 >>
        nt2 >> slip3 >> nt3;
    p.sr1_cm_s.resize(nt1);
    for (double& v : p.sr1_cm_s) {
      // As SeisSol's converter reads them: the decimal text, exactly.
      in >> word;
      std::from_chars(word.data(), word.data() + word.size(), v);
    }
  }
  return points;
}

struct vec3 {
  double x, y, z;
};
struct subfault {
  double tinit, timestep, mu, area;
  vec3 tan1, tan2, normal;
};

struct nrf_file {
  std::vector<vec3> centres;
  std::vector<subfault> subfaults;
  std::vector<unsigned> sroffsets;
  std::vector<double> sliprates1;
  std::size_t sample2 = 1, sample3 = 1;
};

// As SeisSol's readNRF: dimensions and variables by name, compound
// variables straight into structs of the converter's layout.
nrf_file read_nrf(const std::string& path) {
  nrf_file f;
  int nc = 0, id = 0;
  EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
  const auto length = [&](const char* name) {
    std::size_t n = 0;
    EXPECT_EQ(nc_inq_dimid(nc, name, &id), NC_NOERR) << name;
    nc_inq_dimlen(nc, id, &n);
    return n;
  };
  const std::size_t sources = length("source");
  EXPECT_EQ(length("sroffset"), sources + 1);
  EXPECT_EQ(length("direction"), 3u);
  f.centres.resize(sources);
  f.subfaults.resize(sources);
  f.sroffsets.resize(3 * (sources + 1));
  f.sliprates1.resize(length("sample1"));
  f.sample2 = length("sample2");
  f.sample3 = length("sample3");
  EXPECT_EQ(nc_inq_varid(nc, "centres", &id), NC_NOERR);
  EXPECT_EQ(nc_get_var(nc, id, f.centres.data()), NC_NOERR);
  EXPECT_EQ(nc_inq_varid(nc, "subfaults", &id), NC_NOERR);
  EXPECT_EQ(nc_get_var(nc, id, f.subfaults.data()), NC_NOERR);
  EXPECT_EQ(nc_inq_varid(nc, "sroffsets", &id), NC_NOERR);
  EXPECT_EQ(nc_get_var(nc, id, f.sroffsets.data()), NC_NOERR);
  EXPECT_EQ(nc_inq_varid(nc, "sliprates1", &id), NC_NOERR);
  EXPECT_EQ(nc_get_var_double(nc, id, f.sliprates1.data()), NC_NOERR);
  nc_close(nc);
  return f;
}

class nrf_run : public scratch_test {
 protected:
  int run(const std::string& program, const std::string& args) const {
    const int s = std::system(("cd '" + dir_ + "' && " + program + " " + args + " </dev/null >out.txt 2>err.txt").c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
};

// Ridgecrest in UTM zone 11: 336 sources where PROJ's cs2cs puts them,
// every sample SR1 x 0.01 exactly, onsets, steps and areas as the SRF
// gives them, unit fault vectors with the dip and rake's vertical parts,
// and the moment of trislip.json's slip1_moment_Nm; --nrf-shift-onsets
// moves every onset by the first.
TEST_F(nrf_run, ridgecrest_reads_back_as_its_srf_gives_it) {
  if (std::system("command -v cs2cs >/dev/null") != 0) {
    GTEST_SKIP() << "skipped: PROJ's cs2cs is not here (Debian's proj-bin; scripts/test installs it)";
  }
  const std::string model = std::string(TRISLIP_MODELS_DIR) + "/usgs_2019_ridgecrest.fsp";
  const std::string utm = "+proj=utm +zone=11 +datum=WGS84 +units=m";
  ASSERT_EQ(run(TRISLIP_FAULT_BINARY, model + " --dt 0.01 --export nrf --nrf-projection '" + utm +
                                          "' --quiet --output-dir o"),
            0)
      << read_file(path("err.txt"));
  const std::vector<srf_entry> srf = read_srf_points(read_file(path("o/trislip.srf")));
  const nrf_file nrf = read_nrf(path("o/trislip.nrf"));
  const auto j = nlohmann::json::parse(read_file(path("o/trislip.json")));
  ASSERT_EQ(srf.size(), 336u);
  ASSERT_EQ(nrf.centres.size(), 336u);
  EXPECT_EQ(nrf.sample2, 0u);
  EXPECT_EQ(nrf.sample3, 0u);
  std::ostringstream lonlat;
  lonlat.precision(17);
  for (const srf_entry& p : srf) lonlat << p.lon << " " << p.lat << "\n";
  write_file(path("ll.txt"), lonlat.str());
  ASSERT_EQ(std::system(("cd '" + dir_ + "' && cs2cs -f %.9f +proj=longlat +datum=WGS84 +to " + utm +
                         " < ll.txt > xy.txt").c_str()),
            0);
  std::istringstream xy(read_file(path("xy.txt")));
  double moment = 0;
  std::size_t samples = 0;
  for (std::size_t k = 0; k < srf.size(); ++k) {
    SCOPED_TRACE("source " + std::to_string(k));
    const srf_entry& p = srf[k];
    const subfault& s = nrf.subfaults[k];
    double x = 0, y = 0, h = 0;
    xy >> x >> y >> h;
    EXPECT_NEAR(nrf.centres[k].x, x, 1e-6);
    EXPECT_NEAR(nrf.centres[k].y, y, 1e-6);
    EXPECT_EQ(nrf.centres[k].z, -p.dep * 1000);
    EXPECT_EQ(s.tinit, p.tinit);
    EXPECT_EQ(s.timestep, p.dt);
    EXPECT_NEAR(s.area, p.area * 1e-4, 1e-9 * s.area);
    const unsigned first = nrf.sroffsets[3 * k], end = nrf.sroffsets[3 * (k + 1)];
    ASSERT_EQ(end - first, p.sr1_cm_s.size());
    double slip = 0;
    for (std::size_t i = 0; i < p.sr1_cm_s.size(); ++i) {
      ASSERT_EQ(nrf.sliprates1[first + i], p.sr1_cm_s[i] * 1.0e-2) << i;
      slip += nrf.sliprates1[first + i];
    }
    samples += p.sr1_cm_s.size();
    moment += s.mu * s.area * slip * s.timestep;
    const double dip = p.dip * M_PI / 180, rake = p.rake * M_PI / 180;
    for (const vec3& v : {s.tan1, s.tan2, s.normal}) EXPECT_NEAR(v.x * v.x + v.y * v.y + v.z * v.z, 1, 1e-12);
    EXPECT_NEAR(s.tan1.x * s.normal.x + s.tan1.y * s.normal.y + s.tan1.z * s.normal.z, 0, 1e-12);
    EXPECT_NEAR(s.tan1.z, std::sin(rake) * std::sin(dip), 1e-12);  // z up: a thrust's slip rises
    EXPECT_NEAR(s.normal.z, std::cos(dip), 1e-12);
    // The normal's horizontal part points 90 degrees right of the strike
    // on the grid: the strike turned by the grid's north there.
    const double turned = std::atan2(-s.normal.y, s.normal.x) * 180 / M_PI - p.stk;
    const double turn = std::remainder(turned, 360.0);
    EXPECT_GE(turn, j["nrf"]["grid_north_deg"]["min"].get<double>() - 1e-9);
    EXPECT_LE(turn, j["nrf"]["grid_north_deg"]["max"].get<double>() + 1e-9);
    EXPECT_GT(turn, 0.1);  // west of the zone's central meridian, true north lies east of grid north
  }
  EXPECT_EQ(nrf.sliprates1.size(), samples);
  EXPECT_NEAR(moment / j["srf"]["slip1_moment_Nm"].get<double>(), 1, 1e-9);
  EXPECT_EQ(j["nrf"]["sources"], 336);

  ASSERT_EQ(run(TRISLIP_FAULT_BINARY, model + " --dt 0.01 --export nrf --nrf-projection '" + utm +
                                          "' --nrf-shift-onsets --quiet --output-dir shifted"),
            0);
  const nrf_file moved = read_nrf(path("shifted/trislip.nrf"));
  double first_onset = srf[0].tinit;
  for (const srf_entry& p : srf) first_onset = std::min(first_onset, p.tinit);
  EXPECT_GT(first_onset, 0);
  for (std::size_t k = 0; k < srf.size(); ++k) EXPECT_EQ(moved.subfaults[k].tinit, srf[k].tinit - first_onset);
}

// A time-window model: a source per window, coincident with its subfault's
// other windows, each with its own onset and rake, the NRF's moment the
// SRF's, as rconv would make from that SRF.
TEST_F(nrf_run, time_windows_are_sources_of_their_own) {
  const std::string model = std::string(TRISLIP_MODELS_DIR) + "/time-windows/srcmod_1994_northridge.fsp";
  ASSERT_EQ(run(TRISLIP_FAULT_BINARY, model + " --dt 0.002 --export nrf --nrf-projection '+proj=utm +zone=11 "
                                              "+datum=WGS84 +units=m' --quiet --output-dir o"),
            0)
      << read_file(path("err.txt"));
  const std::vector<srf_entry> srf = read_srf_points(read_file(path("o/trislip.srf")));
  const nrf_file nrf = read_nrf(path("o/trislip.nrf"));
  const auto j = nlohmann::json::parse(read_file(path("o/trislip.json")));
  ASSERT_EQ(srf.size(), 397u);
  ASSERT_EQ(nrf.subfaults.size(), srf.size());
  double moment = 0;
  std::size_t coincident = 0;
  for (std::size_t k = 0; k < srf.size(); ++k) {
    const subfault& s = nrf.subfaults[k];
    EXPECT_EQ(s.tinit, srf[k].tinit);
    const unsigned first = nrf.sroffsets[3 * k], end = nrf.sroffsets[3 * (k + 1)];
    for (unsigned i = first; i < end; ++i) moment += s.mu * s.area * nrf.sliprates1[i] * s.timestep;
    if (k > 0 && nrf.centres[k].x == nrf.centres[k - 1].x && nrf.centres[k].y == nrf.centres[k - 1].y) {
      ++coincident;
      EXPECT_GT(s.tinit, nrf.subfaults[k - 1].tinit);
    }
  }
  EXPECT_EQ(coincident, srf.size() - 186);  // every window after a subfault's first
  EXPECT_NEAR(moment / j["srf"]["slip1_moment_Nm"].get<double>(), 1, 1e-9);
}

// What cannot make a file SeisSol reads is refused by name with nothing
// written; --srf-without-plane leaves out the PLANE block alone.
TEST_F(nrf_run, refusals_and_an_srf_without_its_plane) {
  const std::string point = "--lon -118.5 --lat 34.2 --depth 10 --strike 120 --dip 45 --rake 90 --area 1e6 --mu 3e10 ";
  const std::pair<std::string, std::string> cases[] = {
      {"--export nrf " + point, "--export nrf: needs --nrf-projection"},
      {"--export nrf " + point + "--nrf-projection '+proj=nowhere'", "--nrf-projection +proj=nowhere: must be"},
      {"--export nrf " + point + "--nrf-projection '+proj=utm +zone=11 +axis=enn'", "+axis="},
      {point + "--export srf --nrf-projection '+proj=utm +zone=11'", "--nrf-projection: goes with --export nrf"},
      {"--export nrf --lon -118.5 --lat 34.2 --depth 10 --strike 120 --dip 45 --rake 90 --area 1e6 "
       "--nrf-projection '+proj=utm +zone=11'",
       "the moments need the rigidity"},
  };
  for (const auto& [args, said] : cases) {
    SCOPED_TRACE(args);
    EXPECT_EQ(run(TRISLIP_CUSTOM_BINARY, args + " --quiet --output-dir o"), 2);
    EXPECT_NE(read_file(path("err.txt")).find(said), std::string::npos) << read_file(path("err.txt"));
    struct stat st;
    EXPECT_NE(stat(path("o/trislip.nrf").c_str(), &st), 0);
  }
  ASSERT_EQ(run(TRISLIP_CUSTOM_BINARY, "--export srf " + point + "--srf-without-plane --quiet --output-dir o"), 0);
  EXPECT_EQ(read_file(path("o/trislip.srf")).rfind("1.0\nPOINTS 1\n", 0), 0u);
  EXPECT_EQ(nlohmann::json::parse(read_file(path("o/trislip.json")))["srf"]["plane_block"], false);
}

}  // namespace
