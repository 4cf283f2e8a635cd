// From a model as its file states it to the points of a kinematic source:
// the rules every format shares.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "trislip/fault/model_text.hpp"
#include "trislip/power.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

constexpr double degree = 3.14159265358979323846 / 180, earth_km = 6371.0;

// Rake into (-180, 180], strike into [0, 360).
double normalised_rake(double r) {
  r = std::fmod(r, 360.0);
  if (r > 180) r -= 360;
  if (r <= -180) r += 360;
  return r;
}
double normalised_strike(double s) {
  s = std::fmod(s, 360.0);
  return s < 0 ? s + 360 : s;
}

// km east and north of (lon0, lat0), on a sphere flattened locally.
void offset_km(double lon0, double lat0, double lon, double lat, double& east, double& north) {
  north = (lat - lat0) * degree * earth_km;
  east = (lon - lon0) * degree * earth_km * std::cos(lat0 * degree);
}

// A fill-in of one kind: how many subfaults took it, from where, which lines.
struct fill {
  std::size_t count = 0;
  std::string from;
  std::vector<std::size_t> lines;
  void add(std::size_t line, const std::string& source) {
    if (count++ == 0) from = source;
    if (lines.size() < 5) lines.push_back(line);
  }
  void say(std::vector<fault_warning>& to, const char* check, const char* what, std::size_t of) const {
    if (count == 0) return;
    std::string l;
    for (std::size_t k = 0; k < lines.size(); ++k) l += (k ? ", " : "") + std::to_string(lines[k]);
    if (count > lines.size()) l += ", ...";
    to.push_back({check, std::string(what) + " of " + std::to_string(count) + " of " + std::to_string(of) +
                             " subfaults filled in from " + from + " (lines " + l + ")"});
  }
};

// The layer whose top is the deepest one at or above the depth.
const velocity_layer* layer_at(const std::vector<velocity_layer>& layers, double depth_km) {
  const velocity_layer* found = nullptr;
  for (const velocity_layer& l : layers) {
    if (l.top_km <= depth_km && (found == nullptr || l.top_km >= found->top_km)) found = &l;
  }
  return found;
}

// Samples from time 0 to the first at or after the end of the longest pulse;
// more than max_samples (which the caller refuses) when that is too many
// to count in an integer.
std::int64_t samples_to_end(const parameters& p) {
  const double taumax = detail::make_pulse(slip_params_of(p), p.nv).tauj;
  const double steps = std::ceil(taumax / p.dt);
  if (!(steps < static_cast<double>(max_samples))) return std::int64_t{max_samples} + 1;
  auto n = static_cast<std::int64_t>(steps) + 1;
  while (n > 2 && static_cast<double>(n - 2) * p.dt >= taumax) --n;
  while (n <= max_samples && static_cast<double>(n - 1) * p.dt < taumax) ++n;
  return std::max<std::int64_t>(n, min_samples);
}

}  // namespace

const char* model_format_name(model_format f) {
  switch (f) {
    case model_format::fsp: return "fsp";
    case model_format::usgs_param: return "usgs-param";
    case model_format::csv: break;
  }
  return "csv";
}

model_format model_format_of(const std::string& name) {
  for (model_format f : {model_format::csv, model_format::fsp, model_format::usgs_param}) {
    if (name == model_format_name(f)) return f;
  }
  throw std::invalid_argument(name + ": must be csv, fsp or usgs-param");
}

const char* rigidity_source_name(rigidity_source s) {
  switch (s) {
    case rigidity_source::model_moment: return "model moment";
    case rigidity_source::velocity_structure: return "velocity structure";
    case rigidity_source::options: break;
  }
  return "options";
}

model read_model(const std::string& path, const model_format* format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw model_error(path + ": cannot read: " + std::strerror(errno));
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) throw model_error(path + ": cannot read: " + std::strerror(errno));
  const std::string text = s.str();
  model_format f;
  if (format != nullptr) {
    f = *format;
  } else {
    const std::string head = text.substr(0, 1 << 16);
    if (looks_like_usgs_param(head)) {
      f = model_format::usgs_param;
    } else if (looks_like_fsp(head)) {
      f = model_format::fsp;
    } else if (looks_like_csv(head)) {
      f = model_format::csv;
    } else {
      throw model_error(path + ": not a model this program reads: expected an FSP file (% header lines and a "
                        "% LAT LON ... SLIP ... column line), a USGS .param file (#Total number of "
                        "fault_segments, #Fault_segment lines) or a CSV table whose header names lon, lat, "
                        "depth_km, ...");
    }
  }
  switch (f) {
    case model_format::fsp: return read_fsp(text, path);
    case model_format::usgs_param: return read_usgs_param(text, path);
    case model_format::csv: break;
  }
  return read_csv_model(text, path);
}

void move_down_dip(double& lon, double& lat, double& depth_km, double strike, double dip, double distance_km) {
  // Down dip is to the right of the strike: horizontally distance*cos(dip)
  // towards strike + 90 degrees, and distance*sin(dip) deeper.
  const double h = distance_km * std::cos(dip * degree), az = (strike + 90) * degree;
  depth_km += distance_km * std::sin(dip * degree);
  lon += h * std::sin(az) / (earth_km * std::cos(lat * degree)) / degree;
  lat += h * std::cos(az) / earth_km / degree;
}

fault build_fault(const model& m, const fault_options& o) {
  {
    parameters q = o.p;
    q.dmax = 1;
    q.fmax = 1;
    q.nt = min_samples;
    check(q);
  }
  fault f;
  f.read = m.subfaults.size();
  fill rake_fill, rise_fill, trup_fill;
  // Segment order, file order within a segment.
  std::vector<const model_subfault*> order;
  for (const model_subfault& s : m.subfaults) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(),
                   [](const model_subfault* a, const model_subfault* b) { return a->segment < b->segment; });
  // Where each segment's subfault centres lie on average, for the top
  // centre of a segment whose file does not state it.
  std::vector<double> sum_lon(m.segments.size(), 0), sum_lat(m.segments.size(), 0), sum_depth(m.segments.size(), 0);
  std::vector<std::size_t> count(m.segments.size(), 0);
  f.segment_first.assign(m.segments.size(), 0);
  std::vector<bool> first_seen(m.segments.size(), false);

  for (const model_subfault* sp : order) {
    const model_subfault& s = *sp;
    const std::string line = "line " + std::to_string(s.line);
    const model_segment* seg = s.segment < m.segments.size() ? &m.segments[s.segment] : nullptr;
    if (std::isnan(s.slip_m)) throw model_error(line + ": no slip (unknown or missing)");
    if (!(s.slip_m >= 0)) throw model_error(line + ": slip " + shortest_text(s.slip_m) + " m: must be >= 0");
    double lon = s.lon, lat = s.lat, depth = s.depth_km;
    if (std::isnan(lon) || std::isnan(lat) || std::isnan(depth)) {
      throw model_error(line + ": no position (latitude, longitude and depth are needed)");
    }
    const double strike = std::isnan(s.strike) && seg != nullptr ? seg->strike : s.strike;
    const double dip = std::isnan(s.dip) && seg != nullptr ? seg->dip : s.dip;
    if (std::isnan(strike) || std::isnan(dip)) throw model_error(line + ": no strike or dip (neither the row nor its segment gives one)");
    if (m.top_centre) {
      if (seg == nullptr || !(seg->dz_km > 0)) throw model_error(line + ": top-centre coordinates, and no subfault size Dz to find the centre");
      move_down_dip(lon, lat, depth, strike, dip, seg->dz_km / 2);
    }
    if (seg != nullptr) {
      sum_lon[s.segment] += lon;
      sum_lat[s.segment] += lat;
      sum_depth[s.segment] += depth;
      ++count[s.segment];
    }
    if (s.slip_m == 0) {
      ++f.zero_slip;
      continue;
    }
    if (seg != nullptr && !first_seen[s.segment]) {
      first_seen[s.segment] = true;
      f.segment_first[s.segment] = f.points.size();
    }
    srf_point pt;
    pt.lon = lon;
    pt.lat = lat;
    pt.depth_km = depth;
    pt.strike = normalised_strike(strike);
    pt.dip = dip;
    pt.area_m2 = !std::isnan(s.area_m2) ? s.area_m2
                 : seg != nullptr       ? seg->dx_km * seg->dz_km * 1e6  // km^2
                                        : std::nan("");
    if (std::isnan(pt.area_m2)) throw model_error(line + ": no subfault size (the segment gives no Dx and Dz)");
    double rake = s.rake;
    if (std::isnan(rake)) {
      if (!std::isnan(o.rake)) {
        rake = o.rake;
        rake_fill.add(s.line, "--rake " + shortest_text(o.rake));
      } else if (!std::isnan(m.rake)) {
        rake = m.rake;
        rake_fill.add(s.line, "the header's RAKE = " + shortest_text(m.rake));
      } else {
        throw model_error(line + ": no rake, and the header gives no mechanism: give --rake");
      }
    }
    pt.rake = normalised_rake(rake);
    // Its function: the run's shape and step, a table's own where it has them.
    pt.p = o.p;
    pt.p.dmax = s.slip_m;
    if (!std::isnan(s.tr)) pt.p.tr = s.tr;
    if (!std::isnan(s.ar)) pt.p.ar = s.ar;
    if (!std::isnan(s.nv)) {
      if (!(s.nv >= 1 && s.nv <= max_pulses && s.nv == std::floor(s.nv))) {
        throw model_error(line + ", column nv: " + shortest_text(s.nv) + " is not a whole number from 1 to 64");
      }
      pt.p.nv = static_cast<std::int32_t>(s.nv);
    }
    double rise = s.rise_s;
    if (std::isnan(rise) && !std::isnan(s.fmax_hz)) {
      pt.p.fmax = s.fmax_hz;
    } else {
      if (std::isnan(rise)) {
        if (!std::isnan(o.rise_s)) {
          rise = o.rise_s;
          rise_fill.add(s.line, "--rise " + shortest_text(o.rise_s) + " s");
        } else if (!std::isnan(m.av_rise_s)) {
          rise = m.av_rise_s;
          rise_fill.add(s.line, "the header's avTr = " + shortest_text(m.av_rise_s) + " s");
        } else {
          throw model_error(line + ": no rise time, and the header gives no avTr: give --rise");
        }
      }
      if (!(rise > 0)) throw model_error(line + ": rise time " + shortest_text(rise) + " s: must be > 0");
      // The function lasts its longest pulse, tr^(nv-1) / fmax.
      pt.p.fmax = ipow(pt.p.tr, pt.p.nv - 1) / rise;
    }
    double trup = s.trup_s;
    if (std::isnan(trup)) {
      const double vr = !std::isnan(o.vr_km_s) ? o.vr_km_s : m.av_vr_km_s;
      if (std::isnan(vr)) throw model_error(line + ": no rupture time, and the header gives no avVr: give --vr");
      if (std::isnan(m.hyp_lon) || std::isnan(m.hyp_lat) || std::isnan(m.hyp_depth_km)) {
        throw model_error(line + ": no rupture time, and the header gives no hypocentre to time it from");
      }
      double east = 0, north = 0;
      offset_km(m.hyp_lon, m.hyp_lat, lon, lat, east, north);
      const double down = depth - m.hyp_depth_km;
      trup = std::sqrt(east * east + north * north + down * down) / vr;
      trup_fill.add(s.line, "the straight distance to the hypocentre at " +
                                (!std::isnan(o.vr_km_s) ? "--vr " + shortest_text(o.vr_km_s)
                                                        : "the header's avVr = " + shortest_text(m.av_vr_km_s)) +
                                " km/s");
    }
    pt.tinit_s = trup;
    // Rigidity: the model's own moment, else its velocity structure (or a
    // table's own VS and DEN), else the options.
    const velocity_layer* layer = layer_at(m.layers, depth);
    const bool layer_known = layer != nullptr && layer->vs_m_s > 0 && layer->density_kg_m3 > 0;
    double mu = std::nan(""), density = std::nan("");
    rigidity_source from = rigidity_source::options;
    if (s.moment_nm > 0) {
      mu = s.moment_nm / (pt.area_m2 * s.slip_m);
      from = rigidity_source::model_moment;
      density = !std::isnan(s.density_kg_m3) ? s.density_kg_m3 : layer_known ? layer->density_kg_m3 : o.density_kg_m3;
      pt.density_kg_m3 = density;
      pt.vs_m_s = std::sqrt(mu / density);
    } else if (s.vs_m_s > 0 && s.density_kg_m3 > 0) {
      pt.vs_m_s = s.vs_m_s;
      pt.density_kg_m3 = s.density_kg_m3;
      mu = s.density_kg_m3 * s.vs_m_s * s.vs_m_s;
      from = rigidity_source::velocity_structure;
    } else if (layer_known) {
      pt.vs_m_s = layer->vs_m_s;
      pt.density_kg_m3 = layer->density_kg_m3;
      mu = layer->density_kg_m3 * layer->vs_m_s * layer->vs_m_s;
      from = rigidity_source::velocity_structure;
    } else if (!std::isnan(o.mu_pa)) {
      mu = o.mu_pa;
      pt.density_kg_m3 = o.density_kg_m3;
      pt.vs_m_s = std::sqrt(mu / o.density_kg_m3);
    } else if (!std::isnan(o.vs_m_s) && !std::isnan(o.density_kg_m3)) {
      pt.vs_m_s = o.vs_m_s;
      pt.density_kg_m3 = o.density_kg_m3;
      mu = o.density_kg_m3 * o.vs_m_s * o.vs_m_s;
    } else {
      throw model_error(line + ": no rigidity: the model gives no moment and no velocity structure there; give "
                        "--mu, or --vs and --density");
    }
    if (!(std::isfinite(mu) && mu > 0)) {
      throw model_error(line + ": rigidity " + shortest_text(mu) + " Pa (from the " + rigidity_source_name(from) +
                        "): must be finite and > 0");
    }
    const std::int64_t n = samples_to_end(pt.p);
    if (n > max_samples) {
      throw model_error(line + ": a function of " + shortest_text(rise) + " s at --dt " + shortest_text(o.p.dt) +
                        " s needs more than 2^26 samples");
    }
    pt.p.nt = static_cast<std::int32_t>(n);
    try {
      check_srf_point(pt, srf_version::v1_0);
    } catch (const parameter_error& e) {
      throw model_error(line + ": " + e.name() + " " + e.value() + " must be " + e.rule());
    }
    f.points.push_back(pt);
    f.lines.push_back(s.line);
    f.rigidity_pa.push_back(mu);
    f.rigidity_from.push_back(from);
  }
  rake_fill.say(f.warnings, "rake_filled", "the rake", f.read);
  rise_fill.say(f.warnings, "rise_filled", "the rise time", f.read);
  trup_fill.say(f.warnings, "rupture_time_filled", "the rupture time", f.read);

  // The PLANE block: one segment each, where every segment's size is known.
  for (std::size_t k = 0; k < m.segments.size(); ++k) {
    const model_segment& g = m.segments[k];
    srf_plane pl;
    pl.len_km = g.len_km;
    pl.wid_km = g.wid_km;
    if (std::isnan(pl.len_km) && g.nx > 0) pl.len_km = g.nx * g.dx_km;
    if (std::isnan(pl.wid_km) && g.nz > 0) pl.wid_km = g.nz * g.dz_km;
    pl.nstk = g.nx;
    pl.ndip = g.nz;
    pl.strike = normalised_strike(g.strike);
    pl.dip = g.dip;
    if (!(pl.len_km > 0 && pl.wid_km > 0 && pl.nstk > 0 && pl.ndip > 0) || std::isnan(pl.strike) ||
        std::isnan(pl.dip) || count[k] == 0) {
      f.planes.clear();
      break;
    }
    if (!std::isnan(g.top_lon) && !std::isnan(g.top_lat)) {
      pl.elon = g.top_lon;
      pl.elat = g.top_lat;
      pl.dtop_km = g.dtop_km;
    } else {
      // The middle of the subfault centres, half a width up dip.
      const auto c = static_cast<double>(count[k]);
      double lon = sum_lon[k] / c, lat = sum_lat[k] / c, depth = sum_depth[k] / c;
      move_down_dip(lon, lat, depth, pl.strike, pl.dip, -pl.wid_km / 2);
      pl.elon = lon;
      pl.elat = lat;
      pl.dtop_km = depth;
    }
    if (std::isnan(pl.dtop_km)) pl.dtop_km = sum_depth[k] / static_cast<double>(count[k]) - pl.wid_km / 2 * std::sin(pl.dip * degree);
    if (!std::isnan(g.hyp_along_km) && !std::isnan(g.hyp_down_km)) {
      pl.shyp_km = g.hyp_along_km - pl.len_km / 2;
      pl.dhyp_km = g.hyp_down_km;
    } else if (!std::isnan(m.hyp_lon) && !std::isnan(m.hyp_lat) && !std::isnan(m.hyp_depth_km)) {
      // The hypocentre in the segment's own coordinates.
      double east = 0, north = 0;
      offset_km(pl.elon, pl.elat, m.hyp_lon, m.hyp_lat, east, north);
      pl.shyp_km = east * std::sin(pl.strike * degree) + north * std::cos(pl.strike * degree);
      pl.dhyp_km = pl.dip > 0 ? (m.hyp_depth_km - pl.dtop_km) / std::sin(pl.dip * degree) : 0;
    }
    f.planes.push_back(pl);
  }
  // A segment with no point with slip starts where the next one does.
  for (std::size_t k = m.segments.size(); k-- > 0;) {
    if (!first_seen[k]) f.segment_first[k] = k + 1 < m.segments.size() ? f.segment_first[k + 1] : f.points.size();
  }
  return f;
}

std::vector<double> moment_rate(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                                double dt) {
  if (!(dt > 0) || !std::isfinite(dt)) throw parameter_error("dt", shortest_text(dt), "finite and > 0");
  if (rigidity_pa.size() != points.size()) {
    throw std::invalid_argument("moment_rate: " + std::to_string(rigidity_pa.size()) + " rigidities for " +
                                std::to_string(points.size()) + " points");
  }
  double end = 0;
  std::vector<double> taumax(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) {
    check(points[k].p);
    taumax[k] = detail::make_pulse(slip_params_of(points[k].p), points[k].p.nv).tauj;
    end = std::max(end, points[k].tinit_s + taumax[k]);
  }
  std::size_t n = 1;
  while (static_cast<double>(n - 1) * dt < end) ++n;
  std::vector<double> rate(n, 0.0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const srf_point& pt = points[k];
    const slip_params sp = slip_params_of(pt.p);
    const pulse_train train(sp);
    const double scale = rigidity_pa[k] * pt.area_m2;
    auto i = static_cast<std::size_t>(std::max(0.0, std::floor(pt.tinit_s / dt)));
    std::size_t first = 0;
    for (; i < n; ++i) {
      const double tau = static_cast<double>(i) * dt - pt.tinit_s;
      if (tau <= 0) continue;
      if (tau > taumax[k]) break;
      rate[i] = rate[i] + scale * ((train.sum_at(tau, first) * sp.dmax) / train.arsum);
    }
  }
  return rate;
}

}  // namespace trislip
