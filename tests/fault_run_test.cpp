// Runs the real trislip-fault in a scratch folder: the two published
// models into files that SW4's and instaseis's rules take, and the
// refusals that leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <sys/wait.h>

#include "scratch.hpp"
#include "usgs_writer.hpp"

namespace {

const std::string models = TRISLIP_MODELS_DIR, data = TRISLIP_TEST_DATA_DIR;

struct outcome {
  int status = -1;
  std::string err;
};

class fault_run : public scratch_test {
 protected:
  outcome run(const std::string& args) const {
    const int s = std::system(("cd '" + dir_ + "' && " TRISLIP_FAULT_BINARY " " + args + " </dev/null >out.txt 2>err.txt").c_str());
    return {WIFEXITED(s) ? WEXITSTATUS(s) : -1, read_file(path("err.txt"))};
  }
  bool exists(const std::string& name) const {
    struct stat st;
    return stat(path(name).c_str(), &st) == 0;
  }
};

// What a shell command prints.
std::string read_text_of_command(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> x;
  for (double v; in >> v;) x.push_back(v);
  return x;
}

// One point of an SRF 1.0 file: its first line's 8 values, then RAKE
// SLIP1 NT1 ..., then NT1 samples six a line.
struct srf_point_read {
  std::vector<double> head, second;
};

// Reads the file by SW4's and instaseis's rules: version 1.0, the PLANE
// block on line 2, one POINTS block, no comment line, no trailing blank.
std::vector<srf_point_read> read_srf(const std::string& text) {
  const std::vector<std::string> l = lines_of(text);
  EXPECT_EQ(l.at(0), "1.0");
  EXPECT_EQ(l.at(1).rfind("PLANE ", 0), 0u);
  std::size_t points_at = 0, blocks = 0;
  for (std::size_t i = 0; i < l.size(); ++i) {
    EXPECT_FALSE(!l[i].empty() && (l[i].back() == ' ' || l[i].front() == '#')) << "line " << i + 1;
    if (l[i].rfind("POINTS", 0) == 0) {
      points_at = i;
      ++blocks;
    }
  }
  EXPECT_EQ(blocks, 1u);
  const auto np = static_cast<std::size_t>(numbers(l[points_at].substr(6)).at(0));
  std::vector<srf_point_read> pts;
  std::size_t i = points_at + 1;
  for (std::size_t k = 0; k < np; ++k) {
    srf_point_read p{numbers(l.at(i)), numbers(l.at(i + 1))};
    EXPECT_EQ(p.head.size(), 8u);  // instaseis reads version 1.0's 8 values
    EXPECT_EQ(p.second.size(), 7u);
    i += 2 + (static_cast<std::size_t>(p.second.at(2)) + 5) / 6;
    pts.push_back(p);
  }
  EXPECT_EQ(i, l.size());
  return pts;
}

// The published models: M0 the sum of the model's own moments, a point
// for each row with slip, each at the file's rupture time, with SLIP1 its
// slip in cm within the sampling check's 0.1%.
TEST_F(fault_run, published_models_become_an_srf_a_moment_rate_and_json) {
  struct model {
    const char* file;
    std::size_t slip, trup, moment;
    double slip_to_cm, moment_to_nm;
  } const cases[] = {{"usgs_2019_ridgecrest.fsp", 5, 7, 9, 100, 1}, {"usgs_2015_illapel.param", 3, 7, 10, 1, 1e-7}};
  for (const model& c : cases) {
    SCOPED_TRACE(c.file);
    const outcome r = run(models + "/" + c.file + " --dt 0.004 --output-dir out --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<double>> rows;
    for (const std::string& l : lines_of(read_file(models + "/" + c.file))) {
      const std::vector<double> x = numbers(l);
      if (x.size() >= 10 && l.find_first_of("%#") == std::string::npos && x[c.slip] != 0) rows.push_back(x);
    }
    const std::vector<srf_point_read> pts = read_srf(read_file(path("out/trislip.srf")));
    ASSERT_EQ(pts.size(), rows.size());
    double m0 = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      m0 += rows[k][c.moment] * c.moment_to_nm;
      EXPECT_EQ(pts[k].head[6], rows[k][c.trup]) << k;
      const double slip_cm = rows[k][c.slip] * c.slip_to_cm;
      EXPECT_LE(std::fabs(pts[k].second[1] - slip_cm), 0.001 * slip_cm) << k;
    }
    const auto j = nlohmann::json::parse(read_file(path("out/trislip.json")));
    EXPECT_NEAR(j["srf"]["moment_Nm"].get<double>() / m0, 1, 1e-6);
    // SW4 scales by SLIP1, the sampled slip: a little less, within 0.1%.
    const double sampled = j["srf"]["slip1_moment_Nm"].get<double>() / m0;
    EXPECT_TRUE(sampled < 1 && sampled > 0.999) << sampled;
    EXPECT_EQ(j["srf"]["points"], rows.size());
    EXPECT_EQ(j["model"]["subfaults_written"], rows.size());
    EXPECT_EQ(j["warnings"].size(), 0u) << j["warnings"];
    const std::vector<std::string> rate = lines_of(read_file(path("out/moment_rate.csv")));
    EXPECT_EQ(rate.at(0), "time_s,moment_rate_Nm_s");
    EXPECT_EQ(rate.size(), j["moment_rate"]["samples"].get<std::size_t>() + 1);
    EXPECT_NEAR(j["moment_rate"]["integral_Nm"].get<double>() / m0, 1, 0.001);
    std::system(("rm -rf '" + path("out") + "'").c_str());
  }
}

// Fill-ins are said and listed; --strict refuses sampling warnings, not them.
TEST_F(fault_run, fill_ins_warn_and_strict_refuses_lost_slip) {
  outcome r = run(data + "/two_segments_top_centre.fsp --merge-windows --output-dir top --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("trislip-fault: warning: the rise time of 7 of 8 subfaults filled in from the header's avTr = 2 s"),
            std::string::npos) << r.err;
  const auto j = nlohmann::json::parse(read_file(path("top/trislip.json")));
  EXPECT_EQ(j["model"]["left_out"][0]["subfaults"], 1);
  EXPECT_EQ(j["model"]["segments"].size(), 2u);
  EXPECT_EQ(read_file(path("top/trislip.srf")).rfind("1.0\nPLANE 2\n", 0), 0u);

  // At the default 0.01 s, Ridgecrest's shortest pulses lose slip.
  r = run(models + "/usgs_2019_ridgecrest.fsp --output-dir strict --strict --quiet");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("subfaults (lines 61, 63, 70, 71, 74, ...); the first: the sampled slip ends at"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("trislip-fault: --strict: refused for the warnings above; nothing written"), std::string::npos);
  EXPECT_FALSE(exists("strict/trislip.srf"));
}

// Northridge's three time windows through the program: every window with
// slip a point of the SRF (SW4's rules) with its slip, rake and onset, the
// moment rate carrying all of them, the run saying how it read them;
// merged on request; --strict refuses windows that disagree with SLIP.
TEST_F(fault_run, time_window_models_keep_every_window) {
  const std::string model = models + "/time-windows/srcmod_1994_northridge.fsp";
  outcome r = run(model + " --dt 0.002 --output-dir w");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string said = read_file(path("out.txt"));
  EXPECT_NE(said.find(": fsp model, 196 subfaults read, 186 written as 397 time-window sources, 10 with zero slip "
                      "left out\n"),
            std::string::npos) << said;
  EXPECT_NE(said.find("time windows: each of 0.6 s, window w starting (w - 1) x 0.4 s after the rupture front"),
            std::string::npos) << said;
  const std::vector<srf_point_read> pts = read_srf(read_file(path("w/trislip.srf")));
  ASSERT_EQ(pts.size(), 397u);
  const auto j = nlohmann::json::parse(read_file(path("w/trislip.json")));
  const auto& windows = j["model"]["time_windows"];
  EXPECT_EQ(windows["count"], 3);
  EXPECT_EQ(windows["length_s"], 0.6);
  EXPECT_EQ(windows["overlap_s"], 0.2);
  ASSERT_EQ(windows["point_window"].size(), 397u);
  std::size_t k = 0;
  for (const std::string& l : lines_of(read_file(model))) {
    const std::vector<double> x = numbers(l);
    if (x.size() != 13 || l.find('%') != std::string::npos) continue;
    double front = std::nan("");
    for (int w = 0; w < 3; ++w) {
      const double slip = x[7 + 2 * w], rake = x[8 + 2 * w];
      if (slip == 0) continue;
      SCOPED_TRACE("point " + std::to_string(k));
      ASSERT_LT(k, pts.size());
      EXPECT_EQ(windows["point_window"][k], w + 1);
      if (std::isnan(front)) front = pts[k].head[6] - 0.4 * w;
      EXPECT_NEAR(pts[k].head[6], front + 0.4 * w, 1e-4);  // TINIT as written
      EXPECT_NEAR(pts[k].second[0], rake, 1e-9);
      EXPECT_LE(std::fabs(pts[k].second[1] - slip * 100), 0.001 * slip * 100);  // SLIP1, cm
      ++k;
    }
  }
  EXPECT_EQ(k, pts.size());
  EXPECT_NEAR(j["moment_rate"]["integral_Nm"].get<double>() / j["srf"]["moment_Nm"].get<double>(), 1, 0.005);

  r = run(model + " --merge-windows --output-dir merged");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_srf(read_file(path("merged/trislip.srf"))).size(), 186u);
  EXPECT_NE(read_file(path("out.txt")).find("time windows merged (--merge-windows)"), std::string::npos);

  std::string altered = read_file(model);
  altered.replace(altered.find("0.731    57.353"), 5, "0.831");
  write_file(path("altered.fsp"), altered);
  r = run("altered.fsp --strict --output-dir strict");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("warning: SLIP of 1 of 196 subfaults differs from the sum of its windows by more than 0.01 m "
                       "(the first: line 52, SLIP = 1.043 m, windows 1.143 m)"),
            std::string::npos) << r.err;
  EXPECT_FALSE(exists("strict/trislip.srf"));
}

// A multi-segment model by the USGS writer's rules: its header's top
// centres said, its planes holding their points; a hypocentre off every
// segment refused under --strict.
TEST_F(fault_run, published_geometry_is_checked_and_said) {
  const std::vector<usgs_writer::segment> segs = usgs_writer::two_segments();
  usgs_writer::position hyp = usgs_writer::hypocentre(segs);
  write_file(path("made.fsp"), usgs_writer::fsp(segs, hyp));
  outcome r = run("made.fsp --strict --output-dir out --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.rfind("trislip-fault: warning: the header's top centre is not its rows' (the plane takes the rows'): "
                        "segment 1 (line 23): LAT = ", 0), 0u) << r.err;
  auto j = nlohmann::json::parse(read_file(path("out/trislip.json")));
  EXPECT_EQ(j["geometry"]["result"], "passed");
  EXPECT_EQ(j["geometry"]["points"], 30);
  EXPECT_EQ(j["model"]["segments"][1]["plane"]["len_km"], 40);
  EXPECT_EQ(j["model"]["segments"][1]["header"]["len_km"], 40);
  EXPECT_NE(j["model"]["segments"][1]["header"]["top_lat"], j["model"]["segments"][1]["plane"]["elat"]);

  hyp.lat += 0.5;
  write_file(path("far.fsp"), usgs_writer::fsp(segs, hyp));
  r = run("far.fsp --strict --output-dir never --quiet");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("trislip-fault: warning: the hypocentre lies on no segment's plane: the nearest, segment 2"),
            std::string::npos) << r.err;
  EXPECT_FALSE(exists("never"));
}

// SPECFEM3D's files of a model: by default long enough for the last
// subfault's function; the PDE line at the first subfault to rupture when
// the model states no hypocentre; a record too short said for the first
// 20 subfaults and counted for the rest, and refused under --strict; the
// older specfem_stf/ replaced whole, and a staged folder an ended run left
// taken away.
TEST_F(fault_run, specfem_files_cover_every_function_and_say_what_they_cut) {
  std::string rows = "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n";
  for (int i = 0; i < 25; ++i) {
    rows += std::to_string(-118.0 - 0.01 * i) + ",34," + std::to_string(5 + i % 3) + ",120,45,90,1e6,0.5," +
            (i == 7 ? "0.25" : std::to_string(1 + 0.5 * i)) + "\n";
  }
  write_file(path("rows.csv"), rows);
  outcome r = run("rows.csv --rise 2 --mu 3e10 --export specfem-cmt --quiet --output-dir all");
  ASSERT_EQ(r.status, 0) << r.err;
  // Every function whole in the default record: its fill-ins alone are said.
  EXPECT_EQ(r.err.find("record ends"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("slip ends"), std::string::npos) << r.err;
  const std::string cmt = read_file(path("all/CMTSOLUTION"));
  EXPECT_EQ(cmt.rfind("PDE 1970 01 01 00 00 00.000000 34 -118.07 6 ", 0), 0u) << cmt.substr(0, 80);

  // The table again into a folder holding an older set, with a stale staged
  // folder of an ended run (no process has number 999999999).
  ASSERT_EQ(::mkdir(path("all/.specfem_stf.tmp999999999").c_str(), 0777), 0);
  write_file(path("all/.specfem_stf.tmp999999999/stf_000001.txt"), "0\n");
  r = run("rows.csv --rise 2 --mu 3e10 --export specfem-cmt --nt 300 --quiet --output-dir all");
  ASSERT_EQ(r.status, 0) << r.err;
  std::size_t said = 0;
  for (std::size_t at = r.err.find("warning: line "); at != std::string::npos; at = r.err.find("warning: line ", at + 1)) ++said;
  EXPECT_EQ(said, 20u) << r.err;
  EXPECT_EQ(r.err.find("normalised slip ends"), std::string::npos) << "a cut record said twice: " << r.err;
  EXPECT_NE(r.err.find("warning: 4 more subfaults' warnings (see trislip.json)"), std::string::npos) << r.err;
  const std::string left = read_text_of_command("ls -A '" + path("all") + "'");
  EXPECT_EQ(left, ".trislip.lock\nCMTSOLUTION\nmoment_rate.csv\nspecfem_stf\ntrislip.json\ntrislip.srf\n");

  r = run("rows.csv --rise 2 --mu 3e10 --export specfem-cmt --nt 300 --strict --quiet --output-dir strict");
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_FALSE(exists("strict/CMTSOLUTION"));
}

// Bad input: the line and what is wrong, status 2, no folder made.
TEST_F(fault_run, bad_models_are_refused_with_nothing_written) {
  write_file(path("notes.txt"), "slip was large\n");
  write_file(path("cut.fsp"), read_file(models + "/usgs_2019_ridgecrest.fsp").substr(0, 6000));
  std::string words = read_file(data + "/two_segments_top_centre.fsp");
  words.replace(words.find(" 0.90 "), 6, " 0.9O ");
  write_file(path("letter.fsp"), words);
  write_file(path("table.csv"), "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n-118,34,5,120,45,90,1e6,0.5,0\n");
  const std::pair<std::string, std::string> cases[] = {
      {"notes.txt", "notes.txt: not a model this program reads: expected an FSP file"},
      {"cut.fsp", "cut.fsp: line 92: 7 values, where the column header on line 49 names 10"},
      {"letter.fsp", "letter.fsp: line 40, column SLIP: \"0.9O\" is not a number"},
      {"table.csv", "table.csv: line 2: no rise time, and the header gives no avTr: give --rise"},
      {"table.csv --model-format fsp", "table.csv: line 1: a row before any column header line"},
      {"table.csv --rise 2 --dt 0", "--dt 0: must be finite and > 0"},
      {"table.csv --rise 2 --mu 3e10 --rake -361", "--rake -361: must be from -360 to 360"},
      {"table.csv --rise 2 --mu 3e10 --specfem-binary", "--specfem-binary: goes with --export specfem-cmt"},
      {"table.csv --rise 2 --mu 3e10 --vs 3200 --density 2700", "--mu 3e+10: disagrees with --vs 3200 and --density "
                                                                "2700, which give 2.7648e+10 Pa"},
      {"--quiet", "MODEL is required"},
      {"table.csv --rise 0 --mu 3e10", "--rise 0: must be finite and > 0"},
      {"table.csv --rise 2 --mu 0", "--mu 0: must be finite and > 0"},
      {"table.csv --rise 2 --vs 0 --density 2700", "--vs 0: must be finite and > 0"},
      {"table.csv --rise 2 --vs 3000 --density 0", "--density 0: must be finite and > 0"},
      {"table.csv --rise 2 --mu 3e10 --vr 0", "--vr 0: must be finite and > 0"},
  };
  for (const auto& [args, message] : cases) {
    const outcome r = run(args + " --output-dir never");
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(exists("never")) << args;
  }
  // The table with a rise time and a rigidity converts, and so does one
  // of 3,000 rows (past the 64 KiB the format is told from), every row
  // read; a .param file named by its format too.
  outcome r = run("table.csv --rise 2 --mu 3e10 --output-dir t --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(read_file(path("t/trislip.json")))["srf"]["moment_Nm"], 3e10 * 1e6 * 0.5);
  std::string rows = "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n";
  for (int i = 0; i < 3000; ++i) rows += "-118.00" + std::to_string(1000 + i) + ",34,5,120,45,90,1e6,0.5,0\n";
  write_file(path("long.csv"), rows);
  r = run("long.csv --rise 2 --mu 3e10 --output-dir l --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GT(rows.size(), 1u << 16);
  EXPECT_EQ(nlohmann::json::parse(read_file(path("l/trislip.json")))["srf"]["points"], 3000);
  r = run(models + "/usgs_2015_illapel.param --model-format usgs-param --output-dir p --quiet");
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace

namespace {

// Round trip: the SRF written from a published model, read back as the
// model, gives the same points at the same places with their onsets, the
// same plane where every subfault has slip, and each point's slip: the file's SLIP1 (the slip sampled at
// 0.01 s, which is what it carries), sampled again at 0.002 s to 0.1%. A
// time-window model's windows come back one point each.
TEST_F(fault_run, an_srf_file_read_back_gives_its_points_again) {
  for (const std::string& model : {models + "/usgs_2019_ridgecrest.fsp", models + "/time-windows/srcmod_1994_northridge.fsp"}) {
    SCOPED_TRACE(model);
    std::system(("rm -rf '" + path("a") + "' '" + path("b") + "'").c_str());
    outcome r = run(model + " --dt 0.01 --export specfem-cmt --output-dir a --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    r = run("a/trislip.srf --dt 0.002 --mu 3e10 --export specfem-cmt --output-dir b");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(read_file(path("out.txt")).find("SRF 1.0: 1 POINTS block, 1 PLANE segment; each point's slip kept"),
              std::string::npos) << read_file(path("out.txt"));
    const std::vector<srf_point_read> a = read_srf(read_file(path("a/trislip.srf")));
    const std::vector<srf_point_read> b = read_srf(read_file(path("b/trislip.srf")));
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
      for (int c = 0; c < 7; ++c) ASSERT_EQ(a[k].head[c], b[k].head[c]) << "point " << k << " field " << c;
      EXPECT_NEAR(b[k].second[1], a[k].second[1], 0.001 * a[k].second[1] + 1e-9);  // SLIP1
    }
    // The plane is made from the subfaults' centres: Northridge's 10
    // without slip are not in the SRF, so its plane is made from the rest
    // (within metres of the first), and holds every point.
    if (model.find("ridgecrest") != std::string::npos) {
      EXPECT_EQ(lines_of(read_file(path("a/trislip.srf")))[2], lines_of(read_file(path("b/trislip.srf")))[2]);
    }
    const auto j = nlohmann::json::parse(read_file(path("b/trislip.json")));
    EXPECT_EQ(j["geometry"]["result"], "passed");
    EXPECT_EQ(j["specfem_cmt"]["entries"], a.size());
    // Its own rate functions kept at the step they were written with: the
    // same points again, byte for byte.
    r = run("a/trislip.srf --dt 0.01 --mu 3e10 --keep-rate-functions --srf-without-plane --output-dir c --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string was = read_file(path("a/trislip.srf")), kept = read_file(path("c/trislip.srf"));
    EXPECT_TRUE(was.substr(was.find("POINTS")) == kept.substr(kept.find("POINTS")));
    // Without its PLANE block, the plane found from the points: the same
    // grid, its size within 0.3%.
    r = run("c/trislip.srf --mu 3e10 --output-dir d --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> plane = numbers(lines_of(read_file(path("a/trislip.srf")))[2]);
    const std::vector<double> found = numbers(lines_of(read_file(path("d/trislip.srf")))[2]);
    ASSERT_EQ(found.size(), 6u);
    for (int c = 2; c < 6; ++c) EXPECT_NEAR(found[c], plane[c], 0.003 * plane[c]) << "PLANE field " << c;
    EXPECT_EQ(nlohmann::json::parse(read_file(path("d/trislip.json")))["geometry"]["result"], "passed");
  }
}

// A made-up SRF of two POINTS blocks and no PLANE, in a free layout: each
// point's own rate kept, at the run's step, a coarser one and a finer one,
// with components 2 and 3.
TEST_F(fault_run, an_srfs_own_rate_functions_are_kept_with_their_slip) {
  struct point {
    double tinit, dt, rake;
    std::vector<double> sr1, sr2, sr3;  // cm/s
  };
  const std::vector<point> pts = {
      {0.5, 0.01, 90, {0, 10, 30, 20, 10, 0}, {}, {}},
      {1.2, 0.02, 180, {0, 40, 80, 40}, {0, 30, 60, 30}, {25, 0}},  // 2 in step with 1; 3 opens
      {0.3, 0.005, 90, {0, 20, 40, 60, 40, 20, 0}, {}, {}},
      {0.0, 0.01, 0, {0, 50, 50, 0}, {0, 0, 40, 40}, {}},  // 2 later than 1: the slip turns
  };
  const auto slip_cm = [](const point& p, const std::vector<double>& sr) {
    double sum = 0;
    for (double x : sr) sum += x;
    return p.dt * sum;
  };
  std::string text = "1.0\n# made up\n";
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const point& p = pts[k];
    if (k % 2 == 0) text += "POINTS 2\n";
    std::ostringstream o;
    o.precision(17);
    o << -118 + 0.01 * static_cast<double>(k) << " 34.0 5.0 " << 90 + 10 * (k / 2) << " 90 4e10 " << p.tinit << " " << p.dt
      << (k == 0 ? " " : "\n") << p.rake;
    for (const auto* sr : {&p.sr1, &p.sr2, &p.sr3}) o << "  " << slip_cm(p, *sr) << " " << sr->size();
    for (const auto* sr : {&p.sr1, &p.sr2, &p.sr3}) {
      for (std::size_t i = 0; i < sr->size(); ++i) o << (i % 4 == 3 ? "\n" : " ") << (*sr)[i];
      o << "\n";
    }
    text += o.str();
  }
  write_file(path("m.srf"), text);

  outcome r = run("m.srf --mu 3e10 --keep-rate-functions --export specfem-cmt --output-dir k");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(read_file(path("out.txt")).find("SRF 1.0: 2 POINTS blocks, no PLANE block, and its points lie on no "
                                            "grid on a plane: no segment geometry; each point's own slip-rate "
                                            "function kept (--keep-rate-functions)"),
            std::string::npos) << read_file(path("out.txt"));
  for (const char* said : {"slip in component 3", "turning the slip in time", "sampled finer than --dt",
                           "SPECFEM3D entries hold only the rate along their rake"}) {
    EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
  }
  // At the file's own step the samples are the file's; the last point's
  // turning slip is its component 2, across its rake, adding up to 0.
  const std::vector<std::string> srf = lines_of(read_file(path("k/trislip.srf")));
  EXPECT_EQ(numbers(srf.at(4)), (std::vector<double>{0, 10, 30, 20, 10, 0}));
  const std::vector<double> fourth = numbers(srf.at(srf.size() - 3));
  ASSERT_EQ(fourth.size(), 7u);
  EXPECT_EQ(fourth[4], 4);  // NT2
  EXPECT_NEAR(fourth[3], 0, 1e-6);  // SLIP2
  const double across = 50 * 0.8 / std::hypot(1.0, 0.8);  // cm/s, component 1's 50 turned
  const std::vector<double> sr2 = numbers(srf.back());
  ASSERT_EQ(sr2.size(), 4u);
  EXPECT_NEAR(sr2[1], -across, 1e-4 * across);
  EXPECT_NEAR(sr2[3], across, 1e-4 * across);

  // Each SPECFEM3D function times its entry's moment is the point's slip
  // along its rake as the file's samples give it.
  const std::vector<std::string> cmt = lines_of(read_file(path("k/CMTSOLUTION")));
  std::vector<double> m0;  // N m
  for (std::size_t i = 0; i + 5 < cmt.size(); ++i) {
    if (cmt[i].rfind("Mrr:", 0) != 0) continue;
    double m[6];
    for (int c = 0; c < 6; ++c) m[c] = numbers(cmt[i + static_cast<std::size_t>(c)].substr(4)).at(0);
    m0.push_back(std::sqrt((m[0] * m[0] + m[1] * m[1] + m[2] * m[2]) / 2 + m[3] * m[3] + m[4] * m[4] + m[5] * m[5]) / 1e7);
  }
  ASSERT_EQ(m0.size(), pts.size());
  const double mu_area = 3e10 * 4e6;
  for (std::size_t k = 0; k < pts.size(); ++k) {
    const double slip = std::hypot(slip_cm(pts[k], pts[k].sr1), slip_cm(pts[k], pts[k].sr2)) / 100;
    char name[64];
    std::snprintf(name, sizeof name, "k/specfem_stf/stf_%06zu.txt", k + 1);
    const std::vector<std::string> stf = lines_of(read_file(path(name)));
    const double last = numbers(stf.back()).at(0);
    EXPECT_NEAR(last * m0[k] / mu_area, slip, 1e-9 * slip) << "point " << k;
  }

  // The whole fault's moment rate is the file's: each point's running slip,
  // linear across each of its samples' steps, differenced over the run's.
  const double dt = 0.01;
  const auto slip_at = [](const point& p, const std::vector<double>& along, double tau) {
    const double x = tau / p.dt + 0.5;
    double c = 0;
    for (std::size_t j = 0; j < along.size(); ++j) c += along[j] * p.dt * std::clamp(x - static_cast<double>(j), 0.0, 1.0);
    return c / 100;
  };
  const std::vector<std::string> rate = lines_of(read_file(path("k/moment_rate.csv")));
  double peak = 0;
  std::vector<double> want(rate.size() - 1, 0.0);
  for (const point& p : pts) {
    const double s1 = slip_cm(p, p.sr1), s2 = slip_cm(p, p.sr2), size = std::hypot(s1, s2);
    std::vector<double> along(std::max(p.sr1.size(), p.sr2.size()), 0.0);
    for (std::size_t j = 0; j < along.size(); ++j) {
      along[j] = ((j < p.sr1.size() ? p.sr1[j] : 0) * s1 + (j < p.sr2.size() ? p.sr2[j] : 0) * s2) / size;
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
      const double t = static_cast<double>(i) * dt - p.tinit;
      want[i] += mu_area * (slip_at(p, along, t + dt / 2) - slip_at(p, along, t - dt / 2)) / dt;
      peak = std::max(peak, want[i]);
    }
  }
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::vector<double> row = numbers(std::string(rate[i + 1]).replace(rate[i + 1].find(','), 1, " "));
    EXPECT_NEAR(row.at(1), want[i], 1e-9 * peak) << "at " << row.at(0) << " s";
  }

  // What cannot be kept as it is refuses the run with --strict; a model
  // with no rate functions of its own refuses the flag.
  EXPECT_EQ(run("m.srf --mu 3e10 --keep-rate-functions --strict --output-dir s").status, 2);
  r = run(models + "/usgs_2019_ridgecrest.fsp --keep-rate-functions --output-dir f");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--keep-rate-functions: a model in fsp has no slip-rate functions of its own"),
            std::string::npos) << r.err;
  EXPECT_FALSE(exists("s") || exists("f"));
}

}  // namespace
