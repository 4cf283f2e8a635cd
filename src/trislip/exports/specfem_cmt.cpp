// SPECFEM3D Cartesian's finite sources: CMTSOLUTION entries in the layout
// its get_cmt.f90 reads (each value after its label's fixed columns), and
// one external source time function file per entry.
#include "trislip/specfem.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "trislip/correctly_rounded.hpp"
#include "trislip/projection.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/exports/kept_rate.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

constexpr double degree = 3.14159265358979323846 / 180;

// A time function file: a `#` line that says what it holds and for which
// DT and NSTEP (SPECFEM3D skips it), then the shortest text of each value,
// one a line (a value that repeats, as the zeros before the rupture and the
// final slip after it do, copies its text); or SPECFEM's binary record.
void write_stf(const std::vector<double>& values, const specfem_cmt_options& o, std::size_t entry, double tinit_s,
               byte_sink& out) {
  std::string text;
  if (o.binary) {
    // One Fortran unformatted sequential record: its length in bytes as a
    // 4-byte integer, the values as float32 (float64 for a double-precision
    // build), the length again. At most 67108864 float64 values: 512 MiB,
    // within the marker's 2 GiB.
    const std::size_t size = o.double_precision ? 8 : 4;
    const auto bytes = static_cast<std::int32_t>(values.size() * size);
    text.resize(8 + values.size() * size);
    std::memcpy(&text[0], &bytes, 4);
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (o.double_precision) {
        std::memcpy(&text[4 + 8 * k], &values[k], 8);
      } else {
        const auto f = static_cast<float>(values[k]);
        std::memcpy(&text[4 + 4 * k], &f, 4);
      }
    }
    std::memcpy(&text[4 + values.size() * size], &bytes, 4);
    out.write(text.data(), text.size());
    return;
  }
  text.reserve(values.size() * 20 + 200);
  text += "# trislip ";
  text += version;
  text += ": normalised slip (slip / its final slip, dimensionless) of entry " + std::to_string(entry + 1) +
          ", rupture at ";
  append_shortest(text, tinit_s);
  text += " s; one value per solver time step from t = 0, for DT = ";
  append_shortest(text, o.dt);
  text += " s and NSTEP up to " + std::to_string(values.size()) + "\n";
  char line[32];
  for (std::size_t k = 0; k < values.size();) {
    // A run of equal values (the zeros before the rupture, the final slip
    // after the function) is one text, copied in blocks.
    std::size_t run = 1;
    while (k + run < values.size() && std::memcmp(&values[k + run], &values[k], sizeof(double)) == 0) ++run;
    auto length = static_cast<std::size_t>(std::to_chars(line, line + sizeof line, values[k]).ptr - line);
    line[length++] = '\n';
    const std::size_t from = text.size();
    text.append(line, length);
    for (std::size_t have = 1; have < run;) {
      const std::size_t more = std::min(have, run - have);
      text.append(text, from, more * length);
      have += more;
    }
    k += run;
  }
  out.write(text.data(), text.size());
}

// The event time of the PDE line: year month day hour minute seconds.
std::string pde_time(std::int64_t us) {
  std::int64_t days = us / 86400000000LL, rest = us % 86400000000LL;
  if (rest < 0) {
    rest += 86400000000LL;
    --days;
  }
  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld %02lld %02lld %02lld %02lld %02lld.%06lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(rest / 3600000000LL),
                static_cast<long long>(rest / 60000000 % 60), static_cast<long long>(rest / 1000000 % 60),
                static_cast<long long>(rest % 1000000));
  return buf;
}

// z in metres (up, 0 at depth 0) of a depth in km: the decimal the depth
// is written as, times -1000 by moving its point, so that 1.1139 km is
// -1113.9 m and not -1113.8999999999999.
double z_of_depth(double km) {
  if (km == 0) return 0.0;  // not -0
  char text[64];
  char* end = std::to_chars(text, text + sizeof text - 1, -km, std::chars_format::scientific).ptr;
  *end = '\0';
  char* e = std::find(text, end, 'e');
  const int exponent = std::atoi(e + 1) + 3;
  const int n = std::snprintf(e, static_cast<std::size_t>(text + sizeof text - e), "e%d", exponent);
  double z = 0;
  std::from_chars(text, e + n, z);
  return z;
}

// Degrees of longitude east of a UTM zone's central meridian, -180 to 180.
double from_central_meridian(double lon, int zone) {
  double d = std::fmod(lon - (6.0 * std::abs(zone) - 183), 360.0);
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  return d;
}

// The longitudes' and latitudes' ranges of points (not empty).
struct lonlat_box {
  double lon_min, lon_max, lat_min, lat_max;
};
lonlat_box box_of(const std::vector<srf_point>& points) {
  lonlat_box b{points[0].lon, points[0].lon, points[0].lat, points[0].lat};
  for (const srf_point& pt : points) {
    b.lon_min = std::min(b.lon_min, pt.lon);
    b.lon_max = std::max(b.lon_max, pt.lon);
    b.lat_min = std::min(b.lat_min, pt.lat);
    b.lat_max = std::max(b.lat_max, pt.lat);
  }
  return b;
}

// The grid azimuth of true north at (lon, lat) in a UTM zone on WGS84,
// degrees clockwise from the grid's y axis: the transverse Mercator series
// to the fifth power of the longitude from the zone's central meridian
// (within 1e-6 degree to 6 degrees from it), rounded to 0.001 degree. It
// says how far off unturned tensors are, without PROJ, the same on every
// platform (the sines and cosines correctly rounded).
double utm_north_deg(double lon, double lat, int zone) {
  const double dl = from_central_meridian(lon, zone) * degree;
  const double phi = lat * degree;
  const double s = correctly_rounded::sin_of(phi), c = correctly_rounded::cos_of(phi);
  const double e2 = 0.00669437999014, ep2 = e2 / (1 - e2);
  const double eta2 = ep2 * c * c, t2 = (s * s) / (c * c);
  const double dl2 = dl * dl;
  const double gamma =
      dl * s * (1 + dl2 * c * c / 3 * (1 + 3 * eta2 + 2 * eta2 * eta2) + dl2 * dl2 * c * c * c * c / 15 * (2 - t2));
  return std::round(-gamma / degree * 1000) / 1000;
}

}  // namespace

moment_tensor double_couple(double strike, double dip, double rake, double m0) {
  // Correctly rounded, so that every platform and C library writes the
  // same tensor (their own cos and sin round a few angles the other way);
  // angles beyond a turn first less whole turns (exact).
  strike = std::fmod(strike, 360.0);
  dip = std::fmod(dip, 360.0);
  rake = std::fmod(rake, 360.0);
  double sd, cd, s2d, c2d, sr, cr, ss, cs, s2s, c2s;
  correctly_rounded::cos_sin_wide(dip * degree, cd, sd);
  correctly_rounded::cos_sin_wide(2 * dip * degree, c2d, s2d);
  correctly_rounded::cos_sin_wide(rake * degree, cr, sr);
  correctly_rounded::cos_sin_wide(strike * degree, cs, ss);
  correctly_rounded::cos_sin_wide(2 * strike * degree, c2s, s2s);
  // Aki and Richards (x north, y east, z down) ...
  const double mxx = -m0 * (sd * cr * s2s + s2d * sr * ss * ss);
  const double myy = m0 * (sd * cr * s2s - s2d * sr * cs * cs);
  const double mzz = m0 * s2d * sr;
  const double mxy = m0 * (sd * cr * c2s + 0.5 * s2d * sr * s2s);
  const double mxz = -m0 * (cd * cr * cs + c2d * sr * ss);
  const double myz = -m0 * (cd * cr * ss - c2d * sr * cs);
  // ... to (r, theta, phi) = (up, south, east).
  return {mzz, mxx, myy, mxz, -myz, -mxy};
}

std::vector<double> delayed_normalised_slip(const parameters& p, double tinit_s, std::int32_t nt) {
  check(p);
  if (!(std::isfinite(tinit_s) && tinit_s >= 0)) throw parameter_error("tinit_s", shortest_text(tinit_s), "finite and >= 0");
  if (nt < 1) throw parameter_error("nt", std::to_string(nt), ">= 1");
  const slip_params sp = slip_params_of(p);
  const pulse_train train(sp);
  std::vector<double> out(static_cast<std::size_t>(nt), 0.0);
  double slip = 0, previous = 0, since = 0;  // the velocity and time since the rupture of the sample before
  std::size_t first = 0;
  for (std::int32_t k = 0; k < nt; ++k) {
    const double tau = static_cast<double>(k) * p.dt - tinit_s;
    if (!(tau > 0)) continue;
    if (first == train.pulses.size() && previous == 0 && since > 0) {
      // Every pulse has ended: each later step adds (0 + 0) * dt / 2 = +0,
      // so the rest are this value.
      std::fill(out.begin() + k, out.end(), slip / p.dmax);
      break;
    }
    const double v = (train.sum_at(tau, first) * p.dmax) / train.arsum;
    // The first interval runs from the rupture itself, where the velocity is 0.
    slip = slip + ((v + previous) * (since == 0 ? tau : p.dt)) / 2.0;
    since = tau;
    previous = v;
    out[static_cast<std::size_t>(k)] = slip / p.dmax;
  }
  return out;
}

void check_specfem_cmt_options(const specfem_cmt_options& o, std::size_t points) {
  if (!(o.dt > 0 && std::isfinite(o.dt))) throw parameter_error("dt", shortest_text(o.dt), "finite and > 0");
  if (o.nt < 1) throw parameter_error("nt", std::to_string(o.nt), ">= 1");
  if (o.double_precision && !o.binary) {
    throw parameter_error("double_precision", "true", "used with binary files: text files have no precision");
  }
  // The last entry's name is the longest.
  const std::string last = o.stf_dir + (o.stf_dir.empty() ? "" : "/") +
                           specfem_stf_name(points == 0 ? 0 : points - 1, o.binary);
  if (last.size() > specfem_max_name) {
    throw parameter_error("stf_dir", o.stf_dir,
                          "short enough that a file's name in it takes at most " + std::to_string(specfem_max_name) +
                              " characters, as SPECFEM3D reads it (it cuts the rest off); " +
                              last.substr(last.rfind('/') + 1) + " in it takes " + std::to_string(last.size()));
  }
  if (o.stf_dir.find_first_of("\r\n") != std::string::npos) {
    throw parameter_error("stf_dir", o.stf_dir, "one line: the CMTSOLUTION names each file on one");
  }
  if (o.frame == specfem_frame::utm || (o.frame == specfem_frame::geographic && o.utm_zone != 0)) {
    try {
      utm_definition(o.utm_zone);
    } catch (const std::invalid_argument&) {
      throw parameter_error("utm_zone", std::to_string(o.utm_zone), "1 to 60 north of the equator, -1 to -60 south");
    }
  }
  if (o.frame == specfem_frame::local && !(std::fabs(o.origin_lon) <= 180 && std::fabs(o.origin_lat) < 90)) {
    throw parameter_error("origin", shortest_text(o.origin_lon) + "," + shortest_text(o.origin_lat),
                          "a longitude from -180 to 180 and a latitude between -90 and 90");
  }
}

int utm_zone_of_points(const std::vector<srf_point>& points) {
  if (points.empty()) return 0;
  const lonlat_box b = box_of(points);
  double lon = (b.lon_min + b.lon_max) / 2;
  if (!std::isfinite(lon)) return 0;
  lon = std::fmod(lon + 180, 360);
  if (lon < 0) lon += 360;
  const int zone = std::min(60, static_cast<int>(lon / 6) + 1);
  return (b.lat_min + b.lat_max) / 2 < 0 ? -zone : zone;
}

void check_specfem_utm_zone(const specfem_cmt_options& o, const std::vector<srf_point>& points) {
  if (o.frame == specfem_frame::local || o.utm_zone == 0 || points.empty()) return;
  if (std::abs(o.utm_zone) > 60) return;  // check_specfem_cmt_options names it
  const double central = 6.0 * std::abs(o.utm_zone) - 183;
  double farthest = 0;
  bool on_its_side = false;
  for (const srf_point& pt : points) {
    farthest = std::max(farthest, std::fabs(from_central_meridian(pt.lon, o.utm_zone)));
    if (o.utm_zone > 0 ? pt.lat >= 0 : pt.lat <= 0) on_its_side = true;
  }
  if (farthest <= 6 && on_its_side) return;
  const int own = utm_zone_of_points(points);
  const lonlat_box b = box_of(points);
  throw parameter_error("utm_zone", std::to_string(o.utm_zone),
                        "a zone that holds the points: they lie in zone " + std::to_string(own) + " (longitudes " +
                            shortest_text(b.lon_min) + " to " + shortest_text(b.lon_max) + ", latitudes " +
                            shortest_text(b.lat_min) + " to " + shortest_text(b.lat_max) + "); zone " +
                            std::to_string(o.utm_zone) + " takes longitudes " + shortest_text(central - 6) +
                            " to " + shortest_text(central + 6) + (o.utm_zone > 0 ? ", north" : ", south") +
                            " of the equator");
}

namespace {

// p at the solver's step, whatever the point's own.
parameters with_step(parameters p, double dt) {
  p.dt = dt;
  return p;
}

// A point's own rate as delayed_normalised_slip gives the function's: its
// slip up to k * dt after the rupture time, divided by the whole slip.
std::vector<double> delayed_normalised_kept_slip(const srf_point& pt, double dt, std::int32_t nt) {
  const std::vector<double> c = detail::kept_rate_cumulative(pt.rate_m_s, pt.p.dt);
  std::vector<double> out(static_cast<std::size_t>(nt));
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = detail::kept_rate_slip_at(c, pt.p.dt, static_cast<double>(k) * dt - pt.tinit_s) / c.back();
  }
  return out;
}

}  // namespace

std::string specfem_stf_name(std::size_t k, bool binary) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "stf_%06zu%s", k + 1, binary ? ".bin" : ".txt");
  return buf;
}

specfem_cmt_summary write_specfem_cmt(
    const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa, const specfem_cmt_options& o,
    byte_sink& cmt, const std::function<void(const std::string&, const std::function<void(byte_sink&)>&)>& file,
    unsigned threads) {
  check_specfem_cmt_options(o, points.size());
  check_points_and_rigidity(points, rigidity_pa, "specfem-cmt");
  specfem_cmt_summary summary;
  std::vector<double> m0(points.size());
  std::vector<bool> cut_short(points.size(), false);  // by point: the record ends before its function
  for (std::size_t k = 0; k < points.size(); ++k) {
    m0[k] = rigidity_pa[k] * points[k].area_m2 * points[k].p.dmax;
    summary.m0_nm += m0[k];
    // The record must hold the delay and the whole function.
    const double end = points[k].tinit_s + detail::function_end_s(points[k]);
    const double last = static_cast<double>(o.nt - 1) * o.dt;
    if (last < end) {
      cut_short[k] = true;
      std::int64_t need = o.nt;
      while (need < max_samples && static_cast<double>(need - 1) * o.dt < end) ++need;
      summary.nt_needed = std::max(summary.nt_needed, static_cast<std::int32_t>(need));
      summary.warnings.push_back(
          {k, {"record_too_short", "the record ends at " + shortest_text(last) + " s, before the function ends at " +
                                       shortest_text(end) + " s (rupture time " + shortest_text(points[k].tinit_s) +
                                       " s): raise " + (o.par_file.empty() ? "--nt" : "the mesh's NSTEP") +
                                       " to at least " + std::to_string(need)}});
    }
  }
  const double mw = moment_magnitude(summary.m0_nm);
  std::string head = "PDE " + pde_time(o.event.start_us) + " ";
  append_shortest(head, o.hyp_lat);
  head += ' ';
  append_shortest(head, o.hyp_lon);
  head += ' ';
  append_shortest(head, o.hyp_depth_km);
  char mag[32];
  std::snprintf(mag, sizeof mag, " %.2f %.2f trislip\n", mw, mw);
  head += mag;
  // A mesh's own frame: every position through PROJ, and the grid's
  // north at each, by which its strike is turned. Latitudes and longitudes
  // that SPECFEM3D projects with a known zone keep their degrees and have
  // their tensors turned the same way; without a zone, the grid north of
  // the points' own zone is only measured, to say how far off they are.
  const bool geographic = o.frame == specfem_frame::geographic;
  check_specfem_utm_zone(o, points);
  summary.points_zone = utm_zone_of_points(points);
  const auto note_north = [&](std::size_t k, double north) {
    summary.grid_north_min_deg = k == 0 ? north : std::min(summary.grid_north_min_deg, north);
    summary.grid_north_max_deg = k == 0 ? north : std::max(summary.grid_north_max_deg, north);
  };
  std::unique_ptr<map_projection> grid;
  if (!geographic || o.utm_zone != 0) {
    summary.projection =
        o.frame == specfem_frame::local ? local_definition(o.origin_lon, o.origin_lat) : utm_definition(o.utm_zone);
    grid = std::make_unique<map_projection>(summary.projection);
    summary.tensors_turned = true;
  } else if (summary.points_zone != 0) {
    for (std::size_t k = 0; k < points.size(); ++k) {
      note_north(k, utm_north_deg(points[k].lon, points[k].lat, summary.points_zone));
    }
  }
  std::string text;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const srf_point& pt = points[k];
    double y = pt.lat, x = pt.lon, strike = pt.strike;
    if (grid) {
      map_projection::position at;
      try {
        at = grid->forward(pt.lon, pt.lat);
      } catch (const std::invalid_argument& e) {
        throw std::invalid_argument("point " + std::to_string(k) + ": " + e.what());
      }
      if (!geographic) {
        x = at.x;
        y = at.y;
      }
      strike += at.north_deg;
      note_north(k, at.north_deg);
    }
    const double depth = o.depth_as_z ? z_of_depth(pt.depth_km) : pt.depth_km;
    const moment_tensor m = double_couple(strike, pt.dip, pt.rake, m0[k] * 1e7);  // dyne cm
    text += head;
    text += "event name:     trislip_" + std::to_string(k + 1) + "\n";
    text += "time shift:     0.0\nhalf duration:  0.0\n";
    const std::pair<const char*, double> lines[] = {{"latorUTM:       ", y}, {"longorUTM:      ", x},
                                                    {"depth:          ", depth}, {"Mrr:            ", m.mrr},
                                                    {"Mtt:            ", m.mtt}, {"Mpp:            ", m.mpp},
                                                    {"Mrt:            ", m.mrt}, {"Mrp:            ", m.mrp},
                                                    {"Mtp:            ", m.mtp}};
    for (const auto& [label, value] : lines) {
      text += label;
      append_shortest(text, value);
      text += '\n';
    }
    text += o.stf_dir + (o.stf_dir.empty() ? "" : "/") + specfem_stf_name(k, o.binary) + "\n";
    if (text.size() > (1u << 20)) {
      cmt.write(text.data(), text.size());
      text.clear();
    }
  }
  cmt.write(text.data(), text.size());
  summary.entries = points.size();

  // The time function files, point t, t + T, ... on thread t.
  const unsigned T = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(std::max<std::size_t>(points.size(), 1))));
  std::atomic<bool> stop{false};
  std::exception_ptr failed;
  std::mutex m;
  std::vector<srf_warning> lost;
  const auto work = [&](unsigned t) {
    try {
      for (std::size_t k = t; k < points.size() && !stop; k += T) {
        const std::vector<double> values = points[k].rate_m_s.empty()
                                               ? delayed_normalised_slip(with_step(points[k].p, o.dt), points[k].tinit_s, o.nt)
                                               : delayed_normalised_kept_slip(points[k], o.dt, o.nt);
        // Sampled from its rupture time, not from a step, the function can
        // lose more slip than its own samples do. A record that ends before
        // the function is said once, as too short, not again as lost slip.
        if (!cut_short[k] && !(std::fabs(values.back() - 1) <= slip_tolerance)) {
          std::lock_guard<std::mutex> lock(m);
          lost.push_back({k, {"slip_lost", "the normalised slip ends at " + shortest_text(values.back()) +
                                               ", beyond 0.1% of 1: lower the step (--dt)"}});
        }
        file(specfem_stf_name(k, o.binary),
             [&](byte_sink& out) { write_stf(values, o, k, points[k].tinit_s, out); });
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(m);
      if (!failed) failed = std::current_exception();
      stop = true;
    }
  };
  std::vector<std::thread> others;
  for (unsigned t = 1; t < T; ++t) others.emplace_back(work, t);
  work(0);
  for (std::thread& w : others) w.join();
  if (failed) std::rethrow_exception(failed);
  // In point order after each point's record check.
  for (srf_warning& w : lost) summary.warnings.push_back(std::move(w));
  std::stable_sort(summary.warnings.begin(), summary.warnings.end(),
                   [](const srf_warning& a, const srf_warning& b) { return a.point < b.point; });
  return summary;
}

specfem_cmt_summary write_specfem_cmt(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                                      const specfem_cmt_options& o, const std::string& folder, unsigned threads) {
  // Options that cannot work leave an earlier CMTSOLUTION as it was.
  check_specfem_cmt_options(o, points.size());
  specfem_cmt_summary s;
  write_to_file(folder + "/CMTSOLUTION", [&](byte_sink& cmt) {
    s = write_specfem_cmt(points, rigidity_pa, o, cmt,
                          [&](const std::string& name, const std::function<void(byte_sink&)>& write) {
                            write_to_file(folder + "/" + name, write);
                          },
                          threads);
  });
  return s;
}

}  // namespace trislip
