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
#include <thread>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/huge_pages.hpp"
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

// A point of a rupture model from a dict: the SRF fields in SI units and,
// optionally, its own function's parameters.
trislip::srf_point point_of(const py::handle& item, std::size_t index, const trislip::parameters& defaults) {
  const auto d = item.cast<py::dict>();
  const std::string where = "points[" + std::to_string(index) + "]";
  const auto number = [&](const char* key, bool required, double fallback) {
    if (!d.contains(key)) {
      if (required) throw std::invalid_argument(where + ": no " + key);
      return fallback;
    }
    return d[key].cast<double>();
  };
  const char* known[] = {"lon", "lat", "depth_km", "strike", "dip", "rake", "area_m2", "slip_m", "tinit_s",
                         "fmax_hz", "tr", "ar", "nv", "dt", "nt", "vs_m_s", "density_kg_m3"};
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
  if (d.contains("nv")) pt.p.nv = whole("nv", d["nv"].cast<std::int64_t>(), 1, trislip::max_pulses);
  if (d.contains("nt")) pt.p.nt = whole("nt", d["nt"].cast<std::int64_t>(), trislip::min_samples, trislip::max_samples);
  return pt;
}

py::dict write_srf(const py::sequence& items, const std::string& path, const std::string& version,
                   const py::object& plane) {
  if (version != "1.0" && version != "2.0") throw std::invalid_argument("version = " + version + ": must be 1.0 or 2.0");
  const trislip::srf_version v = version == "1.0" ? trislip::srf_version::v1_0 : trislip::srf_version::v2_0;
  std::vector<trislip::srf_point> points;
  const trislip::parameters defaults;
  for (std::size_t i = 0; i < items.size(); ++i) points.push_back(point_of(items[i], i, defaults));
  std::vector<trislip::srf_plane> planes;
  if (py::isinstance<py::str>(plane) && plane.cast<std::string>() == "point") {
    if (points.size() != 1) throw std::invalid_argument("plane = 'point' takes exactly one point");
    planes.push_back(trislip::plane_of_point(points[0]));
  } else if (!plane.is_none()) {
    std::string text;
    for (double x : plane.cast<std::vector<double>>()) {
      char buf[32];
      text.append(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
      text += ' ';
    }
    planes.push_back(trislip::parse_srf_plane(text));
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
  py::list warnings;
  for (const trislip::srf_warning& w : summary.warnings) {
    warnings.append(py::make_tuple(w.point, w.w.check, w.w.message));
  }
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
        "nv, dt, nt, vs_m_s, density_kg_m3 (VS and DEN, needed by version 2.0). plane: None\n"
        "(no PLANE block), 'point' (one square subfault around a single point) or the eleven\n"
        "values ELON ELAT NSTK NDIP LEN WID STK DIP DTOP SHYP DHYP. Returns a dict with points,\n"
        "potency_m3 and warnings, a list of (point index, check, message).");
}
