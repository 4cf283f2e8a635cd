// trislip for Python: the slip velocity function and its amplitude
// spectra as read-only NumPy arrays, computed by the C++ library, so the
// values are the same doubles bit for bit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/fault.hpp"
#include "trislip/huge_pages.hpp"
#include "trislip/nrf.hpp"
#include "trislip/specfem.hpp"
#include "trislip/srf.hpp"
#include "trislip/trislip.hpp"

namespace py = pybind11;

namespace {

// Hands the vector's storage to NumPy without copying; the array keeps it
// alive and cannot be written to.
py::array_t<double> read_only(std::vector<double>&& values) {
  auto* owned = new std::vector<double>(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
  py::array_t<double> array(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
  array.attr("flags").attr("writeable") = false;
  return array;
}

// A new read-only array of n doubles and where the library may fill it: a
// long one in 2 MiB pages, which spares thousands of page faults a call.
std::pair<py::array_t<double>, double*> array_to_fill(std::size_t n) {
  void* p = trislip::allocate_in_huge_pages(n * sizeof(double));
  py::capsule owner(p, [](void* q) { std::free(q); });
  py::array_t<double> array(static_cast<py::ssize_t>(n), static_cast<double*>(p), owner);
  array.attr("flags").attr("writeable") = false;
  return {array, static_cast<double*>(p)};
}

// Python integers are unbounded; anything outside 32 bits is out of range.
std::int32_t whole(const char* name, std::int64_t value, std::int32_t lo, std::int32_t hi) {
  if (value < lo || value > hi) {
    throw trislip::parameter_error(name, std::to_string(value),
                                   "from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return static_cast<std::int32_t>(value);
}

struct py_series {
  trislip::parameters p;
  py::array_t<double> time, velocity, displacement, acceleration;
  py::dict parameters;
  py::dict warnings;  // check -> message, for what the sampling lost
};

struct py_spectrum {
  py::array_t<double> frequency, velocity, acceleration;
};

py_series synthesize(double dt, std::int64_t nt, double dmax, double fmax, double tr,
                     double ar, std::int64_t nv) {
  trislip::parameters p;
  p.dt = dt;
  p.nt = whole("nt", nt, trislip::min_samples, trislip::max_samples);
  p.dmax = dmax;
  p.fmax = fmax;
  p.tr = tr;
  p.ar = ar;
  p.nv = whole("nv", nv, 1, trislip::max_pulses);
  trislip::slip_series s;
  {
    py::gil_scoped_release unlocked;
    s = trislip::synthesize(p);
  }
  const std::vector<trislip::sampling_warning> found = trislip::check_sampling(p, s.displacement.back());
  py_series out;
  for (const trislip::sampling_warning& w : found) out.warnings[py::str(w.check)] = w.message;
  out.p = p;
  out.time = read_only(std::move(s.time));
  out.velocity = read_only(std::move(s.velocity));
  out.displacement = read_only(std::move(s.displacement));
  out.acceleration = read_only(std::move(s.acceleration));
  out.parameters["dt"] = p.dt;
  out.parameters["nt"] = p.nt;
  out.parameters["dmax"] = p.dmax;
  out.parameters["fmax"] = p.fmax;
  out.parameters["tr"] = p.tr;
  out.parameters["ar"] = p.ar;
  out.parameters["nv"] = p.nv;
  return out;
}

py_spectrum amplitude_spectrum(const py_series& series) {
  // The series' own read-only array, which it keeps alive meanwhile.
  const double* v = series.velocity.data();
  const auto count = static_cast<std::size_t>(series.velocity.size());
  const std::size_t n = trislip::spectrum_length(series.p);
  auto [frequency, f] = array_to_fill(n);
  auto [velocity, vel] = array_to_fill(n);
  auto [acceleration, acc] = array_to_fill(n);
  {
    py::gil_scoped_release unlocked;
    trislip::amplitude_spectrum(v, count, series.p, f, vel, acc);
  }
  return {frequency, velocity, acceleration};
}

// The series as the library holds it, copied from the arrays.
trislip::slip_series series_of(const py_series& series) {
  trislip::slip_series s;
  for (auto [from, to] : {std::pair{&series.time, &s.time}, {&series.velocity, &s.velocity},
                          {&series.displacement, &s.displacement}, {&series.acceleration, &s.acceleration}}) {
    to->assign(from->data(), from->data() + from->size());
  }
  return s;
}

void export_series(const py_series& series, const std::string& format, const std::string& path,
                   const py::object& what, const std::string& seed_id, const std::string& start_time) {
  const trislip::export_format& f = trislip::find_export_format(format);
  const trislip::export_file* file = &f.files.front();
  if (format == "sac") {
    const std::string q = what.is_none() ? "velocity" : what.cast<std::string>();
    const char* names[] = {"velocity", "displacement", "acceleration"};
    std::size_t k = 0;
    while (k < 3 && q != names[k]) ++k;
    if (k == 3) throw std::invalid_argument("quantity = " + q + ": must be velocity, displacement or acceleration");
    file = &f.files[k];
  } else if (!what.is_none()) {
    throw std::invalid_argument("quantity: only the sac format takes one; " + format + " holds " +
                                file->quantity);
  }
  if (series.p.nt < f.min_samples) {
    throw std::invalid_argument(format + " needs at least " + std::to_string(f.min_samples) + " samples");
  }
  const trislip::record_codes codes = trislip::parse_record_codes(seed_id, start_time);
  const trislip::slip_series s = series_of(series);
  py::gil_scoped_release unlocked;
  trislip::write_export_file(*file, s, series.p, codes, path);
}

// A point of a rupture model from a dict, or from row `index` of a dict of
// columns: the SRF fields in SI units and, optionally, its own function's
// parameters.
trislip::srf_point point_of(const py::dict& d, std::size_t index, bool columns, const trislip::parameters& defaults) {
  const std::string where = columns ? "row " + std::to_string(index) : "points[" + std::to_string(index) + "]";
  const auto number = [&](const char* key, bool required, double fallback) {
    if (!d.contains(key)) {
      if (required) throw std::invalid_argument(where + ": no " + key);
      return fallback;
    }
    return columns ? d[key].cast<py::array_t<double>>().at(static_cast<py::ssize_t>(index)) : d[key].cast<double>();
  };
  const char* known[] = {"lon", "lat", "depth_km", "strike", "dip", "rake", "area_m2", "slip_m", "tinit_s",
                         "fmax_hz", "tr", "ar", "nv", "dt", "nt", "vs_m_s", "density_kg_m3", "rigidity_pa",
                         "line", "window", "segment", "rate_m_s", "rate2_m_s"};
  for (const auto& [key, value] : d) {
    const std::string k = py::str(key);
    if (std::find(std::begin(known), std::end(known), k) == std::end(known)) {
      throw std::invalid_argument(where + ": unknown field " + k);
    }
  }
  trislip::srf_point pt;
  pt.lon = number("lon", true, 0);
  pt.lat = number("lat", true, 0);
  pt.depth_km = number("depth_km", true, 0);
  pt.strike = number("strike", true, 0);
  pt.dip = number("dip", true, 0);
  pt.rake = number("rake", true, 0);
  pt.area_m2 = number("area_m2", true, 0);
  pt.tinit_s = number("tinit_s", false, 0);
  pt.vs_m_s = number("vs_m_s", false, std::nan(""));
  pt.density_kg_m3 = number("density_kg_m3", false, std::nan(""));
  pt.p = defaults;
  pt.p.dmax = number("slip_m", true, 0);
  pt.p.fmax = number("fmax_hz", false, defaults.fmax);
  pt.p.tr = number("tr", false, defaults.tr);
  pt.p.ar = number("ar", false, defaults.ar);
  pt.p.dt = number("dt", false, defaults.dt);
  const auto count = [&](const char* key, std::int32_t lo, std::int32_t hi) {
    const double x = number(key, true, 0);
    if (x != std::floor(x) || !(x >= lo && x <= hi)) {
      throw trislip::parameter_error(key, std::to_string(x), "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return static_cast<std::int32_t>(x);
  };
  if (d.contains("nv")) pt.p.nv = count("nv", 1, trislip::max_pulses);
  if (d.contains("nt")) pt.p.nt = count("nt", trislip::min_samples, trislip::max_samples);
  // Its own slip rates (m/s, at dt), as read_fault gives them with keep_rate_functions.
  const auto own = [&](const char* key, std::vector<double>& into) {
    if (!d.contains(key)) return;
    const py::object rates = d[key];
    into = (columns ? rates.cast<py::sequence>()[index] : rates).cast<std::vector<double>>();
  };
  own("rate_m_s", pt.rate_m_s);
  own("rate2_m_s", pt.rate2_m_s);
  return pt;
}

// The points of a list of dicts, or of a dict of columns of equal length.
std::vector<trislip::srf_point> points_of(const py::object& items) {
  const trislip::parameters defaults;
  std::vector<trislip::srf_point> points;
  if (py::isinstance<py::dict>(items)) {
    const auto d = items.cast<py::dict>();
    py::dict arrays;
    py::ssize_t n = -1;
    for (const auto& [key, value] : d) {
      const std::string name = py::str(key);
      if (name == "rate_m_s" || name == "rate2_m_s") {  // one array a row, of any length
        arrays[key] = value;
        continue;
      }
      const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
      if (!a || a.ndim() != 1) throw std::invalid_argument(std::string(py::str(key)) + ": must be a column of numbers");
      if (n >= 0 && a.size() != n) throw std::invalid_argument(std::string(py::str(key)) + ": columns differ in length");
      n = a.size();
      arrays[key] = a;
    }
    for (py::ssize_t i = 0; i < std::max<py::ssize_t>(n, 0); ++i) {
      points.push_back(point_of(arrays, static_cast<std::size_t>(i), true, defaults));
    }
    return points;
  }
  const auto seq = items.cast<py::sequence>();
  for (std::size_t i = 0; i < seq.size(); ++i) points.push_back(point_of(seq[i].cast<py::dict>(), i, false, defaults));
  return points;
}

trislip::srf_plane plane_of(const py::handle& values) {
  std::string text;
  for (double x : values.cast<std::vector<double>>()) {
    char buf[32];
    text.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
    text += ' ';
  }
  return trislip::parse_srf_plane(text);
}

// A model read and mapped onto points: its columns as NumPy arrays (each
// point a row), the PLANE segments and what was filled in.
py::dict read_fault(const std::string& path, const py::object& format, double dt, double tr, double ar,
                    std::int64_t nv, const py::object& rise, const py::object& vr, const py::object& rake,
                    const py::object& mu, const py::object& vs, const py::object& density, bool merge_windows,
                    bool keep_rate_functions) {
  trislip::fault_options o;
  o.merge_windows = merge_windows;
  o.keep_rate_functions = keep_rate_functions;
  o.p.dt = dt;
  o.p.tr = tr;
  o.p.ar = ar;
  o.p.nv = whole("nv", nv, 1, trislip::max_pulses);
  const auto given = [](const py::object& x) { return x.is_none() ? std::nan("") : x.cast<double>(); };
  o.rise_s = given(rise);
  o.vr_km_s = given(vr);
  o.rake = given(rake);
  o.mu_pa = given(mu);
  o.vs_m_s = given(vs);
  o.density_kg_m3 = given(density);
  trislip::model m;
  trislip::fault f;
  {
    const std::string name = format.is_none() ? "" : format.cast<std::string>();
    py::gil_scoped_release unlocked;
    if (name.empty()) {
      m = trislip::read_model(path);
    } else {
      const trislip::model_format mf = trislip::model_format_of(name);
      m = trislip::read_model(path, &mf);
    }
    f = trislip::build_fault(m, o);
  }
  const std::size_t n = f.points.size();
  const auto column = [&](auto get) {
    std::vector<double> c(n);
    for (std::size_t k = 0; k < n; ++k) c[k] = get(k);
    return py::array_t<double>(static_cast<py::ssize_t>(n), c.data());
  };
  const auto& pts = f.points;
  py::dict cols;
  cols["lon"] = column([&](std::size_t k) { return pts[k].lon; });
  cols["lat"] = column([&](std::size_t k) { return pts[k].lat; });
  cols["depth_km"] = column([&](std::size_t k) { return pts[k].depth_km; });
  cols["strike"] = column([&](std::size_t k) { return pts[k].strike; });
  cols["dip"] = column([&](std::size_t k) { return pts[k].dip; });
  cols["rake"] = column([&](std::size_t k) { return pts[k].rake; });
  cols["area_m2"] = column([&](std::size_t k) { return pts[k].area_m2; });
  cols["slip_m"] = column([&](std::size_t k) { return pts[k].p.dmax; });
  cols["tinit_s"] = column([&](std::size_t k) { return pts[k].tinit_s; });
  cols["fmax_hz"] = column([&](std::size_t k) { return pts[k].p.fmax; });
  cols["tr"] = column([&](std::size_t k) { return pts[k].p.tr; });
  cols["ar"] = column([&](std::size_t k) { return pts[k].p.ar; });
  cols["nv"] = column([&](std::size_t k) { return static_cast<double>(pts[k].p.nv); });
  cols["dt"] = column([&](std::size_t k) { return pts[k].p.dt; });
  cols["nt"] = column([&](std::size_t k) { return static_cast<double>(pts[k].p.nt); });
  cols["vs_m_s"] = column([&](std::size_t k) { return pts[k].vs_m_s; });
  cols["density_kg_m3"] = column([&](std::size_t k) { return pts[k].density_kg_m3; });
  cols["rigidity_pa"] = column([&](std::size_t k) { return f.rigidity_pa[k]; });
  cols["line"] = column([&](std::size_t k) { return static_cast<double>(f.lines[k]); });
  cols["window"] = column([&](std::size_t k) { return static_cast<double>(f.windows[k]); });
  if (keep_rate_functions) {
    py::list along, across;
    for (const trislip::srf_point& pt : pts) {
      along.append(py::array_t<double>(static_cast<py::ssize_t>(pt.rate_m_s.size()), pt.rate_m_s.data()));
      across.append(py::array_t<double>(static_cast<py::ssize_t>(pt.rate2_m_s.size()), pt.rate2_m_s.data()));
    }
    cols["rate_m_s"] = along;
    cols["rate2_m_s"] = across;
  }
  py::list planes;
  for (const trislip::srf_plane& p : f.planes) {
    planes.append(py::make_tuple(p.elon, p.elat, p.nstk, p.ndip, p.len_km, p.wid_km, p.strike, p.dip, p.dtop_km,
                                 p.shyp_km, p.dhyp_km));
  }
  py::list warnings;
  for (const trislip::fault_warning& w : f.warnings) warnings.append(py::make_tuple(w.check, w.message));
  py::dict out;
  out["format"] = trislip::model_format_name(m.format);
  out["event"] = m.event;
  out["columns"] = cols;
  out["planes"] = planes;
  out["subfaults_read"] = f.read;
  out["zero_slip"] = f.zero_slip;
  out["warnings"] = warnings;
  out["stated_moment_Nm"] = m.moment_nm;
  // Whether every point lies on its segment's plane and the hypocentre on one.
  const trislip::geometry_check& g = f.geometry;
  py::dict geometry;
  geometry["checked"] = g.made;
  geometry["passed"] = g.passed();
  geometry["points_outside"] = g.outside_points.size();
  geometry["hypocentre_on_a_segment"] = g.hypocentre_known ? py::object(py::bool_(g.hypocentre_inside)) : py::none();
  out["geometry"] = geometry;
  return out;
}

// Each point's rigidity (Pa): the argument, or the columns' rigidity_pa.
std::vector<double> rigidity_of(const py::object& items, const py::object& rigidity) {
  py::object mu = rigidity;
  if (mu.is_none() && py::isinstance<py::dict>(items) && items.cast<py::dict>().contains("rigidity_pa")) {
    mu = items.cast<py::dict>()["rigidity_pa"];
  }
  if (mu.is_none()) throw std::invalid_argument("rigidity: give one per point (Pa), or columns with rigidity_pa");
  return mu.cast<std::vector<double>>();
}

py::array_t<double> moment_rate(const py::object& items, const py::object& rigidity, double dt) {
  const std::vector<trislip::srf_point> points = points_of(items);
  const std::vector<double> r = rigidity_of(items, rigidity);
  std::vector<double> rate;
  {
    py::gil_scoped_release unlocked;
    rate = trislip::moment_rate(points, r, dt);
  }
  return read_only(std::move(rate));
}

py::dict write_srf(const py::object& items, const std::string& path, const std::string& version,
                   const py::object& plane) {
  if (version != "1.0" && version != "2.0") throw std::invalid_argument("version = " + version + ": must be 1.0 or 2.0");
  const trislip::srf_version v = version == "1.0" ? trislip::srf_version::v1_0 : trislip::srf_version::v2_0;
  const std::vector<trislip::srf_point> points = points_of(items);
  std::vector<trislip::srf_plane> planes;
  if (py::isinstance<py::str>(plane) && plane.cast<std::string>() == "point") {
    if (points.size() != 1) throw std::invalid_argument("plane = 'point' takes exactly one point");
    planes.push_back(trislip::plane_of_point(points[0]));
  } else if (!plane.is_none()) {
    // One segment's eleven values, or a list of segments.
    const auto seq = plane.cast<py::sequence>();
    if (seq.size() > 0 && py::isinstance<py::sequence>(seq[0]) && !py::isinstance<py::str>(seq[0])) {
      for (const py::handle& segment : seq) planes.push_back(plane_of(segment));
    } else {
      planes.push_back(plane_of(plane));
    }
  }
  trislip::srf_summary summary;
  {
    py::gil_scoped_release unlocked;
    trislip::write_to_file(path, [&](trislip::byte_sink& sink) {
      summary = trislip::write_srf(points, planes, v, sink, std::max(1u, std::thread::hardware_concurrency()));
    });
  }
  py::dict out;
  out["points"] = summary.points;
  out["potency_m3"] = summary.potency_m3;
  out["slip1_m"] = read_only(std::move(summary.slip1_m));
  py::list warnings;
  for (const trislip::srf_warning& w : summary.warnings) {
    warnings.append(py::make_tuple(w.point, w.w.check, w.w.message));
  }
  out["warnings"] = warnings;
  return out;
}

py::dict moment_tensor(double strike, double dip, double rake, double m0) {
  const trislip::moment_tensor t = trislip::double_couple(strike, dip, rake, m0);
  py::dict d;
  d["mrr"] = t.mrr;
  d["mtt"] = t.mtt;
  d["mpp"] = t.mpp;
  d["mrt"] = t.mrt;
  d["mrp"] = t.mrp;
  d["mtp"] = t.mtp;
  return d;
}

py::array_t<double> delayed_normalised_slip(double tinit, std::int64_t nt, double dt, double dmax, double fmax,
                                            double tr, double ar, std::int64_t nv) {
  trislip::parameters p;
  p.dt = dt;
  p.dmax = dmax;
  p.fmax = fmax;
  p.tr = tr;
  p.ar = ar;
  p.nv = whole("nv", nv, 1, trislip::max_pulses);
  const std::int32_t n = whole("nt", nt, 1, trislip::max_samples);
  std::vector<double> v;
  {
    py::gil_scoped_release unlocked;
    v = trislip::delayed_normalised_slip(p, tinit, n);
  }
  return read_only(std::move(v));
}

py::dict write_nrf(const py::object& items, const std::string& path, const py::object& rigidity,
                   const std::string& projection, bool shift_onsets) {
  const std::vector<trislip::srf_point> points = points_of(items);
  const std::vector<double> r = rigidity_of(items, rigidity);
  trislip::nrf_options o;
  o.projection = projection;
  o.shift_onsets = shift_onsets;
  trislip::nrf_summary sum;
  {
    py::gil_scoped_release unlocked;
    sum = trislip::write_nrf(points, r, o, path);
  }
  py::dict out;
  out["sources"] = sum.sources;
  out["samples"] = sum.samples;
  out["moment_Nm"] = sum.m0_nm;
  out["onset_shift_s"] = sum.onset_shift_s;
  out["axes"] = sum.axes;
  out["grid_north_deg"] = py::make_tuple(sum.grid_north_min_deg, sum.grid_north_max_deg);
  return out;
}

py::dict write_specfem_cmt(const py::object& items, const std::string& folder, const py::object& rigidity,
                           const py::object& dt, const py::object& nt, bool binary, const std::string& stf_dir,
                           const std::string& start_time, const py::object& hypocentre, const std::string& precision,
                           const py::object& coordinates_given, int utm_zone, const py::object& origin,
                           const py::object& depth_given, const py::object& par_file) {
  const std::vector<trislip::srf_point> points = points_of(items);
  const std::vector<double> r = rigidity_of(items, rigidity);
  trislip::specfem_cmt_options o;
  // Left out (None): the Par_file's, or the defaults.
  o.dt = dt.is_none() ? 0.01 : dt.cast<double>();
  o.nt = nt.is_none() ? 1000 : whole("nt", nt.cast<std::int64_t>(), 1, trislip::max_samples);
  const std::string coordinates = coordinates_given.is_none() ? "geographic" : coordinates_given.cast<std::string>();
  const std::string depth = depth_given.is_none() ? "km" : depth_given.cast<std::string>();
  o.binary = binary;
  o.stf_dir = stf_dir;
  const auto one_of = [](const char* name, const std::string& value, std::initializer_list<const char*> names) {
    int k = 0;
    for (const char* n : names) {
      if (value == n) return k;
      ++k;
    }
    throw trislip::parameter_error(name, value, "one of the names in the documentation");
  };
  o.double_precision = one_of("precision", precision, {"single", "double"}) == 1;
  o.frame = static_cast<trislip::specfem_frame>(one_of("coordinates", coordinates, {"geographic", "utm", "local"}));
  o.depth_as_z = one_of("depth", depth, {"km", "z"}) == 1;
  o.utm_zone = utm_zone;
  if (!origin.is_none()) {
    const auto lonlat = origin.cast<std::vector<double>>();
    if (lonlat.size() != 2) throw std::invalid_argument("origin: must be (lon, lat)");
    o.origin_lon = lonlat[0];
    o.origin_lat = lonlat[1];
  }
  if (!par_file.is_none()) {
    trislip::specfem_given given;
    given.dt = !dt.is_none();
    given.nt = !nt.is_none();
    given.frame = !coordinates_given.is_none();
    given.utm_zone = utm_zone != 0;
    given.depth = !depth_given.is_none();
    trislip::follow_specfem_par_file(o, trislip::read_specfem_par_file(par_file.cast<std::string>()), given);
  }
  o.event = trislip::parse_record_codes(trislip::default_seed_id, start_time);
  if (!points.empty()) {
    o.hyp_lat = points.front().lat;
    o.hyp_lon = points.front().lon;
    o.hyp_depth_km = points.front().depth_km;
  }
  if (!hypocentre.is_none()) {
    const auto h = hypocentre.cast<std::vector<double>>();
    if (h.size() != 3) throw std::invalid_argument("hypocentre: must be (lat, lon, depth_km)");
    o.hyp_lat = h[0];
    o.hyp_lon = h[1];
    o.hyp_depth_km = h[2];
  }
  trislip::specfem_cmt_summary sum;
  {
    py::gil_scoped_release unlocked;
    sum = trislip::write_specfem_cmt(points, r, o, folder, std::max(1u, std::thread::hardware_concurrency()));
  }
  py::dict out;
  out["entries"] = sum.entries;
  out["moment_dyne_cm"] = sum.m0_nm * 1e7;
  out["dt"] = o.dt;
  out["nt"] = o.nt;
  if (!sum.projection.empty()) {
    out["projection"] = sum.projection;
    out["grid_north_deg"] = py::make_tuple(sum.grid_north_min_deg, sum.grid_north_max_deg);
  }
  out["tensors_turned"] = sum.tensors_turned;
  py::list warnings;
  for (const trislip::srf_warning& w : sum.warnings) warnings.append(py::make_tuple(w.point, w.w.check, w.w.message));
  out["warnings"] = warnings;
  return out;
}

}  // namespace

PYBIND11_MODULE(trislip, m) {
  m.doc() =
      "The regularized triangle slip velocity function: a normalised sum of nv triangular\n"
      "pulses, its slip, acceleration and Fourier amplitude spectra, as NumPy arrays.";
  m.attr("__version__") = trislip::version;

  py::class_<py_series>(m, "SlipSeries", "Samples dt apart from time 0 (read-only arrays).")
      .def_readonly("time", &py_series::time, "s")
      .def_readonly("velocity", &py_series::velocity, "slip velocity, m/s")
      .def_readonly("displacement", &py_series::displacement, "slip, m")
      .def_readonly("acceleration", &py_series::acceleration, "slip acceleration, m/s^2")
      .def_readonly("parameters", &py_series::parameters, "the parameters of the synthesis")
      .def_readonly("warnings", &py_series::warnings,
                    "what the sampling lost, by check: record_too_short, step_too_coarse,\n"
                    "slip_lost (empty when the samples hold the whole function)")
      .def("__repr__", [](const py_series& s) {
        return "SlipSeries(nt=" + std::to_string(s.p.nt) + ", dt=" +
               py::repr(py::float_(s.p.dt)).cast<std::string>() + ")";
      });

  py::class_<py_spectrum>(m, "Spectrum", "Fourier amplitude spectra (read-only arrays).")
      .def_readonly("frequency", &py_spectrum::frequency, "Hz")
      .def_readonly("velocity", &py_spectrum::velocity, "amplitude of the slip velocity, m")
      .def_readonly("acceleration", &py_spectrum::acceleration,
                    "amplitude of the slip acceleration, m/s")
      .def("__repr__", [](const py_spectrum& s) {
        return "Spectrum(" + std::to_string(s.frequency.size()) + " frequencies)";
      });

  const trislip::parameters d;
  m.def("synthesize", &synthesize, py::kw_only(), py::arg("dt") = d.dt, py::arg("nt") = d.nt,
        py::arg("dmax") = d.dmax, py::arg("fmax") = d.fmax, py::arg("tr") = d.tr,
        py::arg("ar") = d.ar, py::arg("nv") = d.nv,
        "Samples the slip velocity, slip and acceleration. Every argument is keyword-only;\n"
        "the defaults are the trislip program's. Raises ValueError naming a parameter out\n"
        "of range.");
  m.def("amplitude_spectrum", &amplitude_spectrum, py::arg("series"),
        "Fourier amplitude spectra of a SlipSeries: nfast/2 frequencies from 0 Hz, nfast the\n"
        "sample count rounded up to a power of two (the samples are padded with zeros).\n"
        "At 0 Hz the computed value is given, not the program's fixed 1.");
  m.def("export", &export_series, py::arg("series"), py::arg("format"), py::arg("path"), py::kw_only(),
        py::arg("quantity") = py::none(), py::arg("seed_id") = trislip::default_seed_id,
        py::arg("start_time") = trislip::default_start_time,
        "Writes the series to path as another code reads it. format: sw4, specfem,\n"
        "specfem-globe, pylith (normalised slip), sac (quantity: velocity, displacement or\n"
        "acceleration, float32, SI units), mseed (all three, FLOAT64). seed_id and\n"
        "start_time (YYYY-MM-DDTHH:MM:SS[.ffffff], UTC) go into SAC and miniSEED.\n"
        "Raises ValueError for a bad format, quantity, code or time, RuntimeError when\n"
        "writing fails.");
  m.def("write_srf", &write_srf, py::arg("points"), py::arg("path"), py::kw_only(), py::arg("version") = "1.0",
        py::arg("plane") = py::none(),
        "Writes a kinematic rupture model as an SRF file, each point with its own regularized\n"
        "triangle slip velocity function. points: dicts with lon, lat (degrees), depth_km,\n"
        "strike, dip, rake (degrees), area_m2, slip_m, and optionally tinit_s, fmax_hz, tr, ar,\n"
        "nv, dt, nt, vs_m_s, density_kg_m3 (VS and DEN, needed by version 2.0), rate_m_s (a slip\n"
        "rate of its own, m/s at dt, in place of the function; its sum times dt the slip), rate2_m_s\n"
        "(beside it, its rate across the rake). plane: None\n"
        "(no PLANE block), 'point' (one square subfault around a single point) or the eleven\n"
        "values ELON ELAT NSTK NDIP LEN WID STK DIP DTOP SHYP DHYP, or a list of such segments.\n"
        "points may also be a dict of columns (arrays of equal length) with those names, as\n"
        "read_fault gives them. Returns a dict with points, potency_m3, slip1_m (each point's\n"
        "SLIP1 as written, m) and warnings, a list of (point index, check, message).");
  m.def("read_fault", &read_fault, py::arg("path"), py::kw_only(), py::arg("format") = py::none(),
        py::arg("dt") = 0.01, py::arg("tr") = d.tr, py::arg("ar") = d.ar, py::arg("nv") = d.nv,
        py::arg("rise") = py::none(), py::arg("vr") = py::none(), py::arg("rake") = py::none(),
        py::arg("mu") = py::none(), py::arg("vs") = py::none(), py::arg("density") = py::none(),
        py::arg("merge_windows") = false, py::arg("keep_rate_functions") = false,
        "Reads a finite-fault model (FSP, USGS .param, SRF or a CSV table; format: 'fsp', 'usgs-param', 'srf',\n"
        "'csv', or None to tell from the content) and maps it onto points as trislip-fault does.\n"
        "rise (s), vr (km/s), rake (degrees), mu (Pa), vs (m/s) and density (kg/m^3) fill what\n"
        "the model lacks. A time-window model gives a point per window with slip (merge_windows:\n"
        "one per subfault, as --merge-windows). keep_rate_functions: an SRF file's own slip-rate\n"
        "functions, resampled at dt with their slip kept, as --keep-rate-functions. Returns a dict:\n"
        "columns (NumPy arrays, one row a point with slip: lon, lat, depth_km, strike, dip, rake,\n"
        "area_m2, slip_m, tinit_s, fmax_hz, tr, ar, nv, dt, nt, vs_m_s, density_kg_m3, rigidity_pa,\n"
        "line, window: the time window from 1, 0 for a whole subfault; with keep_rate_functions,\n"
        "rate_m_s and rate2_m_s: lists of each point's slip rate along and across its rake in m/s\n"
        "at dt, which the writers take), planes,\n"
        "format, event, subfaults_read,\n"
        "zero_slip, stated_moment_Nm and warnings (check, message). Raises ValueError naming the\n"
        "line for a model it cannot read or fill.");
  m.def("moment_tensor", &moment_tensor, py::arg("strike"), py::arg("dip"), py::arg("rake"), py::arg("m0"),
        "The double couple of strike, dip and rake (degrees, Aki and Richards) and scalar moment m0,\n"
        "in SPECFEM's (r, theta, phi) = (up, south, east) components: a dict of mrr, mtt, mpp, mrt,\n"
        "mrp, mtp in m0's unit.");
  m.def("delayed_normalised_slip", &delayed_normalised_slip, py::arg("tinit"), py::arg("nt"), py::kw_only(),
        py::arg("dt") = d.dt, py::arg("dmax") = d.dmax, py::arg("fmax") = d.fmax, py::arg("tr") = d.tr,
        py::arg("ar") = d.ar, py::arg("nv") = d.nv,
        "The normalised slip of the function starting at tinit (s), at k*dt for k < nt: 0 up to tinit,\n"
        "then the trapezoidal integral of the velocity sampled at k*dt - tinit, over dmax.");
  m.def("write_specfem_cmt", &write_specfem_cmt, py::arg("points"), py::arg("folder"), py::kw_only(),
        py::arg("rigidity") = py::none(), py::arg("dt") = py::none(), py::arg("nt") = py::none(),
        py::arg("binary") = false, py::arg("stf_dir") = "DATA/specfem_stf",
        py::arg("start_time") = trislip::default_start_time, py::arg("hypocentre") = py::none(),
        py::arg("precision") = "single", py::arg("coordinates") = py::none(), py::arg("utm_zone") = 0,
        py::arg("origin") = py::none(), py::arg("depth") = py::none(), py::arg("par_file") = py::none(),
        "Writes SPECFEM3D's CMTSOLUTION (one entry per point, moment tensors in dyne cm) and one\n"
        "time function file per point (its normalised slip delayed by tinit_s, at dt for nt steps:\n"
        "the solver's DT and at least its NSTEP) into folder. points as write_srf takes them;\n"
        "rigidity (Pa) one per point, or the columns' rigidity_pa. precision: single or double,\n"
        "the reals of binary files. coordinates: geographic (degrees; with utm_zone, the mesh's\n"
        "UTM_PROJECTION_ZONE, the tensors are turned to its grid's north), utm (utm_zone, -60 to\n"
        "60, negative south) or local (origin=(lon, lat)), the last two in metres through PROJ;\n"
        "depth: km, or z (metres, up). par_file: the mesh's DATA/Par_file, whose DT, NSTEP, frame\n"
        "and depth the options left out (None) follow; one given that disagrees is a ValueError.\n"
        "Defaults: dt 0.01, nt 1000, geographic, km. Returns a dict with entries, moment_dyne_cm,\n"
        "dt, nt, tensors_turned, warnings (a list of (point index, check, message)) and, turned,\n"
        "projection and grid_north_deg (min, max).");
  m.def("write_nrf", &write_nrf, py::arg("points"), py::arg("path"), py::kw_only(),
        py::arg("rigidity") = py::none(), py::arg("projection"), py::arg("shift_onsets") = false,
        "Writes SeisSol's NRF file (netCDF-4) of the points at path: each point a source at its\n"
        "position in projection (the mesh's coordinates as a PROJ string; +axis= orders the axes),\n"
        "its slip rates those of write_srf's SR1 in m/s, mu its rigidity (Pa), area in m^2, onsets\n"
        "less the first with shift_onsets. points as write_srf takes them; rigidity (Pa) one per\n"
        "point, or the columns' rigidity_pa. Returns a dict with sources, samples, moment_Nm,\n"
        "onset_shift_s, axes and grid_north_deg (min, max).");
  m.def("moment_rate", &moment_rate, py::arg("points"), py::kw_only(), py::arg("rigidity") = py::none(),
        py::arg("dt") = 0.01,
        "The whole fault's moment rate (N m/s) at i*dt from 0 to the end of the last point's\n"
        "function: the sum of rigidity * area * slip velocity at t - tinit_s. points as write_srf\n"
        "takes them; rigidity (Pa) one per point, or the columns' rigidity_pa.");
}
