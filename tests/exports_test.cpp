// The exports read back the way their readers read them, against the
// library's own doubles; the codes, start times and sampling checks.
#include <gtest/gtest.h>

#include <libmseed.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "trislip/exports.hpp"
#include "trislip/exports/e13_5.hpp"
#include "trislip/fft.hpp"
#include "trislip/srf.hpp"

namespace {

struct string_sink final : trislip::byte_sink {
  std::string bytes;
  void write(const char* data, std::size_t n) override { bytes.append(data, n); }
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

double number(const std::string& text) {
  double x = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), x);
  EXPECT_EQ(r.ptr, text.data() + text.size()) << "not one number: " << text;
  return x;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class exports : public ::testing::Test {
 protected:
  void SetUp() override {
    p.nt = 1000;
    s = trislip::synthesize(p);
    slip = trislip::normalised_slip(s, p);
  }
  trislip::parameters p;
  trislip::slip_series s;
  std::vector<double> slip;
};

TEST_F(exports, text_files_read_back_as_their_readers_read_them) {
  // SW4: free-format "t0 dt N", then N values; line breaks do not matter.
  string_sink sw4;
  trislip::write_sw4(s, p, sw4);
  std::istringstream in(sw4.bytes);
  double t0 = -1, dt = 0;
  long n = 0;
  in >> t0 >> dt >> n;
  EXPECT_EQ(t0, 0.0);
  EXPECT_EQ(dt, p.dt);
  ASSERT_EQ(n, 1000);
  std::vector<double> got(static_cast<std::size_t>(n));
  for (double& x : got) in >> x;
  EXPECT_TRUE(same_bits(got, slip));
  EXPECT_TRUE((in >> std::ws).eof());

  // SPECFEM3D: one value a line; Cartesian skips lines starting with # or
  // !, the globe's DATA/stf takes every line as a time step.
  for (bool comment : {true, false}) {
    string_sink out;
    trislip::write_specfem(s, p, comment, out);
    std::vector<double> values;
    const auto lines = lines_of(out.bytes);
    for (const std::string& line : lines) {
      if (line.empty() || line[0] == '#' || line[0] == '!') continue;
      values.push_back(number(line));
    }
    EXPECT_EQ(lines.size(), comment ? 1001u : 1000u);
    if (comment) {
      EXPECT_NE(lines[0].find("DT = 0.005 s and NSTEP up to 1000"), std::string::npos) << lines[0];
    }
    EXPECT_TRUE(same_bits(values, slip));
    EXPECT_LE(values[0], 0.001);  // a larger first value makes SPECFEM3D warn
  }

  // PyLith: the header block, // comments, then "time amplitude" lines
  // with strictly increasing times.
  string_sink pylith;
  trislip::write_pylith(s, p, pylith);
  std::vector<std::string> lines;
  for (const std::string& line : lines_of(pylith.bytes)) {
    if (line.rfind("//", 0) != 0) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 1005u);
  EXPECT_EQ(lines[0], "#TIME HISTORY ascii");
  EXPECT_EQ(lines[1], "TimeHistory {");
  EXPECT_EQ(lines[2], "  num-points = 1000");
  EXPECT_EQ(lines[3], "  time-units = second");
  EXPECT_EQ(lines[4], "}");
  std::vector<double> times, values;
  for (std::size_t i = 5; i < lines.size(); ++i) {
    std::istringstream pair(lines[i]);
    double t = 0, a = 0;
    pair >> t >> a;
    EXPECT_TRUE(pair && (pair >> std::ws).eof()) << lines[i];
    if (!times.empty()) {
      EXPECT_GT(t, times.back());
    }
    times.push_back(t);
    values.push_back(a);
  }
  EXPECT_TRUE(same_bits(times, s.time));
  EXPECT_TRUE(same_bits(values, slip));
  EXPECT_EQ(pylith.bytes.back(), '\n');
}

TEST_F(exports, sac_header_and_float32_samples) {
  const trislip::record_codes c = trislip::parse_record_codes("IU.ANMO.10", "2024-02-29T23:59:58.789123Z");
  const std::pair<trislip::quantity, std::int32_t> cases[] = {
      {trislip::quantity::velocity, 7}, {trislip::quantity::displacement, 6}, {trislip::quantity::acceleration, 8}};
  for (const auto& [q, idep] : cases) {
    string_sink out;
    trislip::write_sac(s, p, q, c, out);
    ASSERT_EQ(out.bytes.size(), 632u + 4 * 1000);
    const auto f = [&](int word) { float v; std::memcpy(&v, out.bytes.data() + 4 * word, 4); return v; };
    const auto i = [&](int word) { std::int32_t v; std::memcpy(&v, out.bytes.data() + 280 + 4 * word, 4); return v; };
    const auto k = [&](std::size_t at) { return out.bytes.substr(at, 8); };
    EXPECT_EQ(f(0), 0.005f);                                   // DELTA
    EXPECT_EQ(f(5), static_cast<float>(0.000123));             // B: below the reference's milliseconds
    EXPECT_EQ(f(6), static_cast<float>(0.000123 + 999 * 0.005));  // E
    EXPECT_EQ((std::vector<std::int32_t>{i(0), i(1), i(2), i(3), i(4), i(5)}),
              (std::vector<std::int32_t>{2024, 60, 23, 59, 58, 789}));  // NZYEAR ... NZMSEC
    EXPECT_EQ(i(6), 6);     // NVHDR
    EXPECT_EQ(i(9), 1000);  // NPTS
    EXPECT_EQ(i(15), 1);    // IFTYPE: time series
    EXPECT_EQ(i(16), idep);
    EXPECT_EQ(i(35), 1);    // LEVEN
    EXPECT_EQ(k(440), "ANMO    ");
    EXPECT_EQ(k(464), "10      ");
    EXPECT_EQ(k(608), "IU      ");
    EXPECT_EQ(k(600), trislip::channel_code(q, p.dt) + "     ");
    EXPECT_EQ(k(576), (std::string(trislip::quantity_unit(q)) + "       ").substr(0, 8));
    const std::vector<double>& values = q == trislip::quantity::velocity       ? s.velocity
                                        : q == trislip::quantity::acceleration ? s.acceleration
                                                                               : s.displacement;
    for (std::size_t n = 0; n < 1000; ++n) {
      float x;
      std::memcpy(&x, out.bytes.data() + 632 + 4 * n, 4);
      ASSERT_EQ(x, static_cast<float>(values[n])) << n;
    }
  }
  // The reference date at the edges of years, and before 1970.
  const std::pair<const char*, std::vector<std::int32_t>> dates[] = {
      {"2021-01-01T00:00:00", {2021, 1, 0, 0, 0, 0}},
      {"2020-12-31T12:00:00", {2020, 366, 12, 0, 0, 0}},
      {"1969-12-31T23:59:59.9995", {1969, 365, 23, 59, 59, 999}},
  };
  for (const auto& [start, want] : dates) {
    string_sink out;
    trislip::write_sac(s, p, trislip::quantity::velocity, trislip::parse_record_codes("XX.STF.00", start), out);
    std::vector<std::int32_t> got(6);
    std::memcpy(got.data(), out.bytes.data() + 280, 24);
    EXPECT_EQ(got, want) << start;
  }
}

TEST_F(exports, mseed_keeps_every_double) {
  char path[] = "/tmp/trislip-mseed-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const trislip::record_codes c = trislip::parse_record_codes("XX.STF.", "2001-02-03T04:05:06.5");
  trislip::write_export_file(trislip::find_export_format("mseed").files[0], s, p, c, path);
  MSTraceGroup* group = nullptr;
  ASSERT_EQ(ms_readtraces(&group, path, 0, -1.0, -1.0, 1, 1, 1, 0), MS_NOERROR);
  unlink(path);
  const std::pair<const char*, const std::vector<double>*> channels[] = {
      {"HXV", &s.velocity}, {"HXD", &s.displacement}, {"HXA", &s.acceleration}};
  EXPECT_EQ(group->numtraces, 3);
  for (const auto& [code, values] : channels) {
    const MSTrace* t = group->traces;
    while (t != nullptr && std::strcmp(t->channel, code) != 0) t = t->next;
    ASSERT_NE(t, nullptr) << code;
    EXPECT_STREQ(t->network, "XX");
    EXPECT_STREQ(t->station, "STF");
    EXPECT_STREQ(t->location, "");
    EXPECT_EQ(t->starttime, ms_time2hptime(2001, 34, 4, 5, 6, 500000));
    EXPECT_EQ(t->samprate, 200.0);
    ASSERT_EQ(t->sampletype, 'd');
    const auto* d = static_cast<const double*>(t->datasamples);
    EXPECT_TRUE(same_bits(std::vector<double>(d, d + t->numsamples), *values)) << code;
  }
  mst_freegroup(&group);
}

TEST(record_codes, codes_times_and_channels) {
  const trislip::record_codes d = trislip::parse_record_codes(trislip::default_seed_id, trislip::default_start_time);
  EXPECT_EQ(d.network + "." + d.station + "." + d.location, "XX.STF.00");
  EXPECT_EQ(d.start_us, 0);
  EXPECT_EQ(trislip::parse_record_codes("A.B.", "2000-01-01 00:00:01.25").start_us, 946684801250000);
  EXPECT_EQ(trislip::parse_record_codes("IU.ABCDE.", trislip::default_start_time).station, "ABCDE");
  const std::pair<const char*, const char*> bad[] = {
      {"XX.STF", "seed id XX.STF: must be NET.STA.LOC"},
      {"XXX.STF.00", "network 1 or 2"},
      {"XX.sta.00", "capital letters or digits"},
      {"XX.STATION.00", "station 1 to 5"},
  };
  for (const auto& [id, says] : bad) {
    try {
      trislip::parse_record_codes(id, trislip::default_start_time);
      ADD_FAILURE() << id << " accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
  for (const char* t : {"2023-02-29T00:00:00", "1899-12-31T23:59:59", "2024-01-01T24:00:00", "2024-01-01",
                        "2024-01-01T00:00:00.1234567", "2024-01-01T00:00:00+01"}) {
    EXPECT_THROW(trislip::parse_record_codes("XX.STF.00", t), std::invalid_argument) << t;
  }
  using trislip::quantity;
  EXPECT_EQ(trislip::channel_code(quantity::velocity, 0.005), "HXV");
  EXPECT_EQ(trislip::channel_code(quantity::acceleration, 0.0009), "FXA");
  EXPECT_EQ(trislip::channel_code(quantity::displacement, 0.05), "BXD");
  EXPECT_EQ(trislip::channel_code(quantity::velocity, 1.0), "LXV");
}

TEST(sampling, checks_say_what_the_samples_lost) {
  trislip::parameters p;
  EXPECT_TRUE(trislip::check_sampling(p, trislip::synthesize(p).displacement.back()).empty());
  p.nt = 100;
  auto w = trislip::check_sampling(p, trislip::synthesize(p).displacement.back(), "--");
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].check, "record_too_short");
  EXPECT_EQ(w[0].message,
            "the record ends at 0.495 s, before the longest pulse ends at 3.09673 s: raise --nt to at "
            "least 621 (or --dt)");
  EXPECT_EQ(w[1].check, "slip_lost");
  EXPECT_EQ(w[1].message.rfind("the sampled slip ends at 0.693619 m of the 1 m asked for", 0), 0u) << w[1].message;
  p.nt = 621;  // the least that reaches the end
  EXPECT_TRUE(trislip::check_sampling(p, trislip::synthesize(p).displacement.back()).empty());
  p = {};
  p.fmax = 1000;
  w = trislip::check_sampling(p, trislip::synthesize(p).displacement.back());
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].check, "step_too_coarse");
  EXPECT_EQ(w[0].message,
            "the shortest pulse lasts 0.001 s, 0.2 steps of 0.005 s, and at least 4 are needed: lower dt "
            "to at most 0.00025 s or fmax to at most 50 Hz");
  EXPECT_EQ(w[1].check, "slip_lost");
  p.fmax = 50;  // exactly 4 samples across
  EXPECT_TRUE(trislip::check_sampling(p, 1.0).empty());
  // Slip lost is measured against dmax, whatever its size.
  p = {};
  p.dmax = 10;
  EXPECT_TRUE(trislip::check_sampling(p, 10 * (1 - 0.0005)).empty());
  p.dmax = 0.1;
  w = trislip::check_sampling(p, 0.1 * 0.99);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].check, "slip_lost");
}

// An SRF file read as SW4 and instaseis read it: no comment lines, no
// trailing blanks, the PLANE block, a version 1.0 point line of 8 values
// (2.0: 10), and each component's samples ending on a line boundary.
struct srf_file {
  std::string version;
  std::vector<std::vector<double>> plane;
  struct point {
    std::vector<double> head, second, rates;
  };
  std::vector<point> points;
};

std::vector<double> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

srf_file read_srf(const std::string& text) {
  const auto lines = lines_of(text);
  for (const std::string& l : lines) {
    EXPECT_FALSE(l.empty() || l.back() == ' ' || l[0] == '#') << "\"" << l << "\"";
  }
  srf_file f;
  std::size_t at = 0;
  f.version = lines.at(at++);
  if (lines.at(at).rfind("PLANE ", 0) == 0) {
    const int n = std::stoi(lines[at++].substr(6));
    for (int i = 0; i < 2 * n; ++i) f.plane.push_back(fields(lines.at(at++)));
  }
  EXPECT_EQ(lines.at(at).rfind("POINTS ", 0), 0u);
  const int np = std::stoi(lines.at(at++).substr(7));
  for (int k = 0; k < np; ++k) {
    srf_file::point pt;
    pt.head = fields(lines.at(at++));
    pt.second = fields(lines.at(at++));
    const auto nt1 = static_cast<std::size_t>(pt.second.at(2));
    while (pt.rates.size() < nt1) {
      const auto more = fields(lines.at(at++));
      pt.rates.insert(pt.rates.end(), more.begin(), more.end());
    }
    EXPECT_EQ(pt.rates.size(), nt1) << "point " << k << ": samples past the line's end";
    f.points.push_back(pt);
  }
  EXPECT_EQ(at, lines.size());
  return f;
}

TEST(srf, points_read_as_their_readers_read_them) {
  // Three points with functions of their own, then enough of them for
  // several blocks, so that two threads write the same bytes as one.
  std::vector<trislip::srf_point> points(3);
  for (std::size_t i = 0; i < 3; ++i) {
    points[i].lon = -118 + 0.01 * static_cast<double>(i);
    points[i].lat = 34;
    points[i].depth_km = 8;
    points[i].strike = 120;
    points[i].dip = 60;
    points[i].rake = 90;
    points[i].area_m2 = 4e6;
    points[i].tinit_s = 0.5 * static_cast<double>(i);
    points[i].vs_m_s = 3500;
    points[i].density_kg_m3 = 2700;
    points[i].p.dmax = 0.5 + static_cast<double>(i);
    points[i].p.dt = 0.01;
  }
  points[1].p.fmax = 2;     // longer pulses: the function lasts 15.5 s
  points[2].p.fmax = 1000;  // a step too coarse: warned of
  const trislip::srf_plane plane = trislip::plane_of_point(points[0]);
  EXPECT_DOUBLE_EQ(plane.len_km, 2.0);
  EXPECT_DOUBLE_EQ(plane.dtop_km, 8 - std::sin(60 * 3.14159265358979323846 / 180));
  EXPECT_EQ(plane.dhyp_km, 1.0);
  for (auto v : {trislip::srf_version::v1_0, trislip::srf_version::v2_0}) {
    string_sink out;
    const auto summary = trislip::write_srf(points, {plane}, v, out);
    const srf_file f = read_srf(out.bytes);
    EXPECT_EQ(f.version, v == trislip::srf_version::v1_0 ? "1.0" : "2.0");
    ASSERT_EQ(f.plane.size(), 2u);
    EXPECT_EQ(f.plane[0].size(), 6u);
    EXPECT_EQ(f.plane[1].size(), 5u);
    ASSERT_EQ(f.points.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& pt = f.points[i];
      ASSERT_EQ(pt.head.size(), v == trislip::srf_version::v1_0 ? 8u : 10u);
      EXPECT_EQ(pt.head[5], 4e10);                      // AREA, cm^2
      EXPECT_EQ(pt.head[6], points[i].tinit_s);
      EXPECT_EQ(pt.head[7], 0.01);                      // DT
      if (v == trislip::srf_version::v2_0) {
        EXPECT_EQ(pt.head[8], 350000);                  // VS, cm/s
        EXPECT_EQ(pt.head[9], 2.7);                     // DEN, g/cm^3
      }
      ASSERT_EQ(pt.second.size(), 7u);
      EXPECT_EQ(pt.second[0], 90);
      double sum = 0;
      for (double r : pt.rates) sum += r;
      EXPECT_NEAR(pt.second[1], 0.01 * sum, 1e-9 * pt.second[1]);  // SLIP1 = DT * sum
      EXPECT_EQ(pt.rates.front(), 0.0);
      EXPECT_EQ(pt.rates.back(), 0.0);                  // up to the function's end
      if (i < 2) {
        EXPECT_NEAR(pt.second[1], 100 * points[i].p.dmax, 0.001 * 100 * points[i].p.dmax);
      }
    }
    EXPECT_EQ(f.points[0].rates.size(), 311u);           // 3.0967 s at 0.01 s
    EXPECT_EQ(summary.potency_m3, 4e6 * (0.5 + 1.5 + 2.5));
    ASSERT_EQ(summary.warnings.size(), 2u);
    EXPECT_EQ(summary.warnings[0].point, 2u);
    EXPECT_EQ(summary.warnings[0].w.check, "step_too_coarse");
  }
  points.resize(1000, points[0]);
  string_sink one, two;
  trislip::write_srf(points, {}, trislip::srf_version::v1_0, one, 1);
  trislip::write_srf(points, {}, trislip::srf_version::v1_0, two, 2);
  EXPECT_EQ(one.bytes, two.bytes);
  EXPECT_EQ(read_srf(two.bytes).points.size(), 1000u);
  // A write that fails ends the call, on the other thread's turn (the
  // second block) or on the calling thread's (the third).
  struct full_sink final : trislip::byte_sink {
    std::size_t room;
    explicit full_sink(std::size_t n) : room(n) {}
    void write(const char*, std::size_t n) override {
      if (n > room) throw std::runtime_error("no space left");
      room -= n;
    }
  };
  for (std::size_t room : {2000000, 3000000}) {
    full_sink full(room);
    EXPECT_THROW(trislip::write_srf(points, {}, trislip::srf_version::v1_0, full, 2), std::runtime_error);
  }

  points[0].depth_km = 0.5;  // a 2 km square dipping 60 degrees reaches the surface
  EXPECT_THROW(trislip::plane_of_point(points[0]), std::invalid_argument);
  points[0].dip = 91;
  EXPECT_THROW(trislip::write_srf(points, {}, trislip::srf_version::v1_0, one), std::invalid_argument);
}

TEST(srf, planes_say_their_segment) {
  // A --plane of 3 subfaults along strike by 2 down dip keeps that order.
  const trislip::srf_plane given = trislip::parse_srf_plane("-117.6,35.7,3,2,15,4,139,85,0.5,7.5,2");
  EXPECT_EQ(given.nstk, 3);
  EXPECT_EQ(given.ndip, 2);
  trislip::srf_point pt;
  pt.lon = 350;  // east longitudes beyond 180 are SRF's too
  pt.lat = 10;
  pt.depth_km = 5;
  pt.strike = 90;
  pt.dip = 30;
  pt.area_m2 = 4e6;
  string_sink out;
  trislip::write_srf({pt}, {given}, trislip::srf_version::v1_0, out);
  EXPECT_EQ(read_srf(out.bytes).plane.at(0), (std::vector<double>{-117.6, 35.7, 3, 2, 15, 4}));
  // Striking east, the fault dips south: its top edge lies north of the point.
  const trislip::srf_plane own = trislip::plane_of_point(pt);
  EXPECT_GT(own.elat, pt.lat);
  EXPECT_NEAR(own.elat - pt.lat, std::cos(30 * 3.14159265358979323846 / 180) / 6371 * 180 / 3.14159265358979323846,
              1e-12);
  EXPECT_NEAR(own.elon, pt.lon, 1e-12);
  for (const char* bad : {"0,0,0,2,1,1,0,0,0,0,0", "0,0,2,0,1,1,0,0,0,0,0", "0,0,1.5,2,1,1,0,0,0,0,0",
                          "0,0,1,1,0,1,0,0,0,0,0", "0,0,1,1,1,1,0,0,0,0"}) {
    EXPECT_THROW(trislip::parse_srf_plane(bad), std::invalid_argument) << bad;
  }
}

TEST(srf, threads_write_blocks_once_in_order_and_stop_at_a_failure) {
  // A slow sink: every thread is done formatting long before the block
  // ahead of it is written, so a thread that wrote out of turn, wrote
  // beside another or went on after a failure would do so on every run.
  struct slow_sink final : trislip::byte_sink {
    std::string bytes;
    std::size_t writes = 0, fail_at = SIZE_MAX, after_failure = 0;
    std::atomic<int> inside{0};
    bool overlapped = false;
    void write(const char* data, std::size_t n) override {
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const std::size_t k = writes++;
      inside.fetch_sub(1);
      if (k > fail_at) ++after_failure;
      if (k == fail_at) throw std::runtime_error("no space left");
      bytes.append(data, n);
    }
  };
  std::vector<trislip::srf_point> points(256 * 12);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i].strike = 10;
    points[i].area_m2 = 1e6;
    points[i].tinit_s = static_cast<double>(i);  // each block's text its own
    points[i].p.nt = 8;
  }
  string_sink one;
  trislip::write_srf(points, {}, trislip::srf_version::v1_0, one, 1);
  slow_sink four;
  trislip::write_srf(points, {}, trislip::srf_version::v1_0, four, 4);
  EXPECT_EQ(four.bytes, one.bytes);
  EXPECT_FALSE(four.overlapped);
  for (std::size_t fail_at : {1, 2, 6}) {
    slow_sink failing;
    failing.fail_at = fail_at;
    EXPECT_THROW(trislip::write_srf(points, {}, trislip::srf_version::v1_0, failing, 4), std::runtime_error);
    EXPECT_EQ(failing.after_failure, 0u) << "failure at write " << fail_at;
    EXPECT_FALSE(failing.overlapped);
  }
}

TEST(srf, samples_are_printfs_text_of_the_librarys_velocities) {
  // The editor alone: decades in and out of its fast range, ties (exact
  // in binary from 10^6 up), the edges of decades, and signs.
  std::vector<double> values = {0.0, -0.0, 1234565, 1234575, 9999995, 9999985, 999999.5, 1e22, 1e-16, -2.5,
                                std::nextafter(1e-16, 0.0), std::nextafter(1e22, 0.0), 5e-324, 1.7e308};
  for (int e = -20; e <= 25; ++e) {
    const double ten = std::pow(10.0, e);
    values.insert(values.end(), {ten, std::nextafter(ten, 0.0), std::nextafter(ten, 1e300), 9.999995 * ten});
  }
  std::mt19937_64 random(21);
  for (int i = 0; i < 200000; ++i) values.push_back(std::pow(10.0, std::uniform_real_distribution<>(-19, 24)(random)));
  trislip::detail::decimal_sum sum;
  for (double x : values) {
    char want[32], got[14] = {};
    std::snprintf(want, sizeof want, "%13.5e", x);
    trislip::detail::edit_e13_5(x, got, sum);
    ASSERT_STREQ(got, want) << x;
  }
  trislip::detail::decimal_sum three;
  for (double x : {1.5, 2.25, 0.1}) {
    char field[13];
    trislip::detail::edit_e13_5(x, field, three);
  }
  EXPECT_EQ(three.value(), 3.75 + 0.1);

  // A file's samples, with AVX2 and without: slips whose rates span the
  // editor's decades, up to rates beyond its range.
  std::vector<trislip::srf_point> points;
  for (double slip : {1e-15, 3e-7, 0.02, 1.0, 7e3, 4e9, 1e15, 5e20}) {
    trislip::srf_point pt;
    pt.strike = 10;
    pt.dip = 20;
    pt.area_m2 = 1e6;
    pt.p.dmax = slip;
    pt.p.dt = 0.0129;  // 242 samples, not a whole number of fours or lines
    points.push_back(pt);
  }
  std::string texts[2];
  for (bool avx2 : {false, true}) {
    const bool before = trislip::allow_avx2(avx2);
    string_sink out;
    trislip::write_srf(points, {}, trislip::srf_version::v1_0, out, 1);
    trislip::allow_avx2(before);
    texts[avx2] = out.bytes;
  }
  EXPECT_EQ(texts[0], texts[1]);
  const srf_file f = read_srf(texts[1]);
  ASSERT_EQ(f.points.size(), points.size());
  EXPECT_EQ(f.points[0].rates.size(), 242u);
  const auto lines = lines_of(texts[1]);
  std::size_t line = 2;
  for (const trislip::srf_point& pt : points) {
    line += 2;
    const std::vector<double> v = trislip::synthesize(pt.p).velocity;
    std::string want;
    for (std::size_t i = 0; i < f.points[0].rates.size(); ++i) {
      char field[32];
      std::snprintf(field, sizeof field, "%13.5e", v[i] * 100);
      want += field;
      if (i % 6 == 5) {
        EXPECT_EQ(lines.at(line++), want) << "slip " << pt.p.dmax;
        want.clear();
      }
    }
    if (!want.empty()) {
      EXPECT_EQ(lines.at(line++), want) << "slip " << pt.p.dmax;
    }
  }
}

}  // namespace
