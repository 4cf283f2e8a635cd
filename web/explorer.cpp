// The browser page's view of the library, compiled to WebAssembly: the
// function, its slip and acceleration, the spectra, the report and the
// warnings for one set of parameters, and the files trislip-custom writes
// for them, made by trislip-custom's own run in the module's in-memory
// file system.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include "trislip/exports.hpp"
#include "trislip/power.hpp"
#include "trislip/report.hpp"
#include "trislip/runs/custom_run.hpp"
#include "trislip/text.hpp"
#include "trislip/trislip.hpp"

namespace trislip {
namespace {

using emscripten::val;

// A copy of the values as a Float64Array of their own.
val float64_array(const double* data, std::size_t count) {
  return val(emscripten::typed_memory_view(count, data)).call<val>("slice");
}

// A whole number from lo to hi, given as a double (the page's field).
std::int32_t whole(const char* name, double x, std::int32_t lo, std::int32_t hi) {
  if (!(x >= lo && x <= hi && x == std::floor(x))) {
    throw parameter_error(name, shortest_text(x),
                          "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return static_cast<std::int32_t>(x);
}

// The parameters of the page's fields, checked as the library checks them.
parameters parameters_of(const val& v) {
  parameters p;
  p.dt = v["dt"].as<double>();
  p.nt = whole("nt", v["nt"].as<double>(), min_samples, max_samples);
  p.dmax = v["dmax"].as<double>();
  p.fmax = v["fmax"].as<double>();
  p.tr = v["tr"].as<double>();
  p.ar = v["ar"].as<double>();
  p.nv = whole("nv", v["nv"].as<double>(), 1, max_pulses);
  check(p);
  return p;
}

val refused(const parameter_error& e) {
  val r = val::object();
  r.set("parameter", e.name());
  r.set("message", std::string(e.what()));
  return r;
}

// The report's records as lines.
class text_sink final : public record_sink {
 public:
  void put_record(std::string_view record) override {
    text.append(record);
    text += '\n';
  }
  std::string text;
};

// Everything the page draws and says for the parameters, or the refusal
// of the first parameter out of range ({parameter, message}).
val explore(const val& fields) {
  parameters p;
  try {
    p = parameters_of(fields);
  } catch (const parameter_error& e) {
    val r = val::object();
    r.set("refused", refused(e));
    return r;
  }
  slip_series s;
  spectrum a;
  try {
    s = synthesize(p);
    a = amplitude_spectrum(s, p);
  } catch (const std::bad_alloc&) {
    val r = val::object();
    r.set("failed", "nt = " + std::to_string(p.nt) + ": needs more memory than the browser gives this page");
    return r;
  }
  // The pulses' durations as the report gives them.
  const double taumin = 1.0 / p.fmax;
  const double taumax = ipow(p.tr, p.nv - 1) / p.fmax;

  // The time series to a little after the last pulse ends.
  const double shown_s = 1.25 * taumax + 4 * p.dt;
  const auto shown = static_cast<std::size_t>(
      std::min(static_cast<double>(p.nt), std::ceil(shown_s / p.dt) + 1));

  text_sink report;
  report_parameters(report, p);
  report_spectrum(report, transform_length(p.nt), p.dt);

  val warnings = val::array();
  for (const sampling_warning& w : check_sampling(p, s.displacement.back(), "--")) {
    val one = val::object();
    one.set("check", w.check);
    one.set("message", w.message);
    warnings.call<void>("push", one);
  }

  val r = val::object();
  r.set("time", float64_array(s.time.data(), shown));
  r.set("velocity", float64_array(s.velocity.data(), shown));
  r.set("displacement", float64_array(s.displacement.data(), shown));
  r.set("acceleration", float64_array(s.acceleration.data(), shown));
  // From the first frequency above 0 Hz, for the logarithmic axes.
  const std::size_t bins = a.frequency.size() - 1;
  r.set("frequency", float64_array(a.frequency.data() + 1, bins));
  r.set("velocityAmplitude", float64_array(a.velocity.data() + 1, bins));
  r.set("accelerationAmplitude", float64_array(a.acceleration.data() + 1, bins));
  r.set("taumin", taumin);
  r.set("taumax", taumax);
  r.set("nfast", transform_length(p.nt));
  r.set("report", report.text);
  r.set("warnings", warnings);
  return r;
}

// The files of trislip-custom's run with these parameters, the layout
// ("fixed" or "full") and the exports (a comma-separated list, or empty):
// {files: [{name, bytes}]} by name, or {refused: message}. Its warnings go
// to standard error as trislip-custom says them.
val run_files(const val& fields, const std::string& format, const std::string& exports) {
  static int runs = 0;
  custom_options o;
  try {
    o.p = parameters_of(fields);
  } catch (const parameter_error& e) {
    val r = val::object();
    r.set("refused", std::string(e.what()));
    return r;
  }
  o.format = format == "full" ? layout::full : layout::fixed;
  o.exports = exports;
  o.quiet = true;
  o.output_dir = "/runs/" + std::to_string(++runs);
  val r = val::object();
  try {
    run_custom(o);
  } catch (const std::exception& e) {
    std::filesystem::remove_all(o.output_dir);
    r.set("refused", std::string(e.what()));
    return r;
  }
  val files = val::array();
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(o.output_dir)) {
    // Not the run's lock file.
    if (entry.path().filename().string()[0] != '.') names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  for (const auto& path : names) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    val one = val::object();
    one.set("name", path.filename().string());
    one.set("bytes", val(emscripten::typed_memory_view(bytes.size(), reinterpret_cast<const std::uint8_t*>(
                                                                          bytes.data())))
                         .call<val>("slice"));
    files.call<void>("push", one);
  }
  std::filesystem::remove_all(o.output_dir);
  r.set("files", files);
  return r;
}

// The exports this build has: [{name, minSamples}].
val export_names() {
  val names = val::array();
  for (const export_format& f : export_formats()) {
    val one = val::object();
    one.set("name", f.name);
    one.set("minSamples", f.min_samples);
    names.call<void>("push", one);
  }
  return names;
}

}  // namespace
}  // namespace trislip

EMSCRIPTEN_BINDINGS(trislip) {
  emscripten::function("explore", &trislip::explore);
  emscripten::function("runFiles", &trislip::run_files);
  emscripten::function("exportNames", &trislip::export_names);
  emscripten::constant("version", std::string(trislip::version));
}
