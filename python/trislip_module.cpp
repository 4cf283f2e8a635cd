// trislip for Python: the slip velocity function and its amplitude
// spectra as read-only NumPy arrays, computed by the C++ library, so the
// values are the same doubles bit for bit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

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
  py_series out;
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
  trislip::slip_series s;
  const double* v = series.velocity.data();
  s.velocity.assign(v, v + series.velocity.size());
  trislip::spectrum a;
  {
    py::gil_scoped_release unlocked;
    a = trislip::amplitude_spectrum(s, series.p);
  }
  return {read_only(std::move(a.frequency)), read_only(std::move(a.velocity)),
          read_only(std::move(a.acceleration))};
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
}
