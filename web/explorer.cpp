// The browser page's view of the library, compiled to WebAssembly: the
// function, its slip and acceleration, the spectra, the report and the
// warnings for one set of parameters, and the files trislip-custom writes
// for them, made by trislip-custom's own run in the module's in-memory
// file system; and a published model as trislip-fault reads it, parsed
// from trislip-fault's own command line, with the files of its own run.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include "trislip/correctly_rounded.hpp"
#include "trislip/exports.hpp"
#include "trislip/fault.hpp"
#include "trislip/fault/geometry.hpp"
#include "trislip/options/fault_command_line.hpp"
#include "trislip/power.hpp"
#include "trislip/report.hpp"
#include "trislip/runs/custom_run.hpp"
#include "trislip/runs/fault_run.hpp"
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

// Every file a run wrote into dir, its folders' files named by their path
// from dir ("specfem_stf/stf_000001.txt"), in order of name:
// [{name, bytes}]. Not the run's lock file.
val files_in(const std::string& dir) {
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  val files = val::array();
  for (const auto& path : names) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    val one = val::object();
    one.set("name", std::filesystem::relative(path, dir).generic_string());
    one.set("bytes", val(emscripten::typed_memory_view(bytes.size(), reinterpret_cast<const std::uint8_t*>(
                                                                          bytes.data())))
                         .call<val>("slice"));
    files.call<void>("push", one);
  }
  return files;
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
  val files = files_in(o.output_dir);
  std::filesystem::remove_all(o.output_dir);
  r.set("files", files);
  return r;
}

// The model the page opened: its bytes under its own name in a folder of
// its own, the module's working folder, so that trislip-fault's run reads
// and names it as the program does when run in the folder that holds it.
// Puts the file's bytes there, in place of the model before.
val put_model(const std::string& name, const std::string& bytes) {
  static int models = 0;
  const std::filesystem::path before = std::filesystem::current_path();
  const std::filesystem::path folder = "/models/" + std::to_string(++models);
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  if (before.parent_path() == "/models") std::filesystem::remove_all(before);
  std::ofstream(name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return val(true);
}

// trislip-fault's command line (its words after the program's name),
// parsed as the program parses it; out: the request, or the refusal as
// the program says it.
bool parse_fault_command(const val& words, fault_command_line& line, std::string& refused) {
  std::vector<std::string> args = emscripten::vecFromJSArray<std::string>(words);
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    line.app.parse(args);
  } catch (const CLI::ParseError& e) {
    refused = "trislip-fault: " + std::string(e.what()) + " (see --help)";
    return false;
  }
  return true;
}

val with_refusal(const std::string& message) {
  val r = val::object();
  r.set("refused", message);
  return r;
}

val numbers(const std::vector<double>& x) { return float64_array(x.data(), x.size()); }

// What the page shows of the model for the command: the summary the
// program prints, every subfault written (its place, its plane's frame
// and its values), the segments' outlines, the hypocentre and the moment
// rate. The fill-ins and the geometry's warnings go to standard error as
// the program says them; the rest (each subfault's sampling, SPECFEM3D's
// records) come with the run (fault_files).
val fault_view(const val& words) {
  fault_command_line line;
  std::string refused;
  if (!parse_fault_command(words, line, refused)) return with_refusal(refused);
  const fault_request& rq = line.r;
  fault_plan plan;
  try {
    plan = plan_fault(rq);
  } catch (const refusal& e) {
    return with_refusal("trislip-fault: " + std::string(e.what()));
  }
  const fault& f = plan.f;
  const model& m = plan.m;
  // One entry a subfault: a time-window model's windows, which are points
  // of their own at one place, shown together: their slips summed, the
  // rake of their summed slip vector, the first onset as the rupture time,
  // from it to the end of the last window as the rise time, and each
  // window's slip, rake and onset in words for the hover.
  std::vector<double> lon, lat, depth, slip, rake, trup, rise, along, down, segment, lines;
  val windows = val::array();
  std::size_t seg = 0;
  for (std::size_t k = 0, next = 0; k < f.points.size(); k = next) {
    next = k + 1;
    while (next < f.points.size() && f.windows[next] > 0 && f.lines[next] == f.lines[k]) ++next;
    while (seg + 1 < f.segment_first.size() && f.segment_first[seg + 1] <= k) ++seg;
    const srf_point& pt = f.points[k];
    double total = 0, along_rake = 0, across_rake = 0, end = 0;
    std::string said;
    for (std::size_t i = k; i < next; ++i) {
      const srf_point& w = f.points[i];
      total += w.p.dmax;
      along_rake += w.p.dmax * correctly_rounded::cos_of(w.rake * detail::degree);
      across_rake += w.p.dmax * correctly_rounded::sin_of(w.rake * detail::degree);
      end = std::max(end, w.tinit_s + ipow(w.p.tr, w.p.nv - 1) / w.p.fmax);
      if (f.windows[i] > 0) {
        said += (said.empty() ? "" : "; ") + std::to_string(f.windows[i]) + ": " + shortest_text(w.p.dmax) +
                " m, rake " + shortest_text(w.rake) + "\u00b0, from " + shortest_text(w.tinit_s) + " s";
      }
    }
    lon.push_back(pt.lon);
    lat.push_back(pt.lat);
    depth.push_back(pt.depth_km);
    slip.push_back(total);
    rake.push_back(next - k > 1 ? std::atan2(across_rake, along_rake) / detail::degree : pt.rake);
    trup.push_back(pt.tinit_s);
    rise.push_back(end - pt.tinit_s);
    segment.push_back(static_cast<double>(seg));
    lines.push_back(static_cast<double>(f.lines[k]));
    windows.call<void>("push", said);
    if (seg < f.planes.size()) {
      const detail::plane_position at = detail::in_plane(f.planes[seg], pt.lon, pt.lat, pt.depth_km);
      along.push_back(at.along);
      down.push_back(at.down);
    } else {
      along.push_back(std::nan(""));
      down.push_back(std::nan(""));
    }
  }
  val points = val::object();
  for (const auto& [name, x] : {std::pair{"lon", &lon}, {"lat", &lat}, {"depth", &depth}, {"slip", &slip},
                                {"rake", &rake}, {"trup", &trup}, {"rise", &rise}, {"along", &along},
                                {"down", &down}, {"segment", &segment}, {"line", &lines}}) {
    points.set(name, numbers(*x));
  }
  // Each plane with its outline on the map: the corners of its top and
  // bottom edges.
  val planes = val::array();
  for (const srf_plane& pl : f.planes) {
    val one = val::object();
    one.set("nstk", pl.nstk);
    one.set("ndip", pl.ndip);
    one.set("len", pl.len_km);
    one.set("wid", pl.wid_km);
    one.set("strike", pl.strike);
    one.set("dip", pl.dip);
    one.set("dtop", pl.dtop_km);
    one.set("shyp", pl.shyp_km);
    one.set("dhyp", pl.dhyp_km);
    val outline = val::array();
    for (const auto& [a, d] : {std::pair{-0.5, 0.0}, {0.5, 0.0}, {0.5, 1.0}, {-0.5, 1.0}, {-0.5, 0.0}}) {
      double x = pl.elon, y = pl.elat, z = pl.dtop_km;
      move_along_strike(x, y, pl.strike, a * pl.len_km);
      move_down_dip(x, y, z, pl.strike, pl.dip, d * pl.wid_km);
      val corner = val::array();
      corner.call<void>("push", x);
      corner.call<void>("push", y);
      outline.call<void>("push", corner);
    }
    one.set("outline", outline);
    planes.call<void>("push", one);
  }
  val r = val::object();
  r.set("summary", fault_summary(rq, plan));
  r.set("format", std::string(model_format_name(m.format)));
  r.set("event", m.event);
  r.set("segments", m.segments.size());
  r.set("points", points);
  if (f.windowed) r.set("windows", windows);  // each subfault's windows in words, beside the point columns
  r.set("planes", planes);
  if (!std::isnan(m.hyp_lon) && !std::isnan(m.hyp_lat)) {
    val hyp = val::object();
    hyp.set("lon", m.hyp_lon);
    hyp.set("lat", m.hyp_lat);
    hyp.set("depth", m.hyp_depth_km);
    r.set("hypocentre", hyp);
  }
  r.set("dt", rq.fault.p.dt);
  r.set("rate", numbers(plan.rate));
  r.set("integral", plan.rate_integral);
  r.set("moment", plan.moment);
  if (!std::isnan(m.moment_nm)) r.set("statedMoment", m.moment_nm);
  return r;
}

// The files of trislip-fault's run of the command, written into a folder
// of their own: {files: [{name, bytes}]} (none unless keep) or {refused:
// what the program says}. Its warnings go to standard error as the
// program says them.
val fault_files(const val& words, bool keep) {
  static int runs = 0;
  fault_command_line line;
  std::string refused;
  if (!parse_fault_command(words, line, refused)) return with_refusal(refused);
  line.r.output_dir = "/runs/fault-" + std::to_string(++runs);
  line.r.quiet = true;
  // Files dropped: the run says what it would and writes nothing.
  line.r.files = keep;
  val r = val::object();
  try {
    run_fault(line.r);
  } catch (const refusal& e) {
    std::filesystem::remove_all(line.r.output_dir);
    return with_refusal("trislip-fault: " + std::string(e.what()));
  } catch (const std::exception& e) {
    std::filesystem::remove_all(line.r.output_dir);
    return with_refusal("trislip-fault: " + std::string(e.what()) + "; no file changed");
  }
  r.set("files", keep ? files_in(line.r.output_dir) : val::array());
  std::filesystem::remove_all(line.r.output_dir);
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
  emscripten::function("putModel", &trislip::put_model);
  emscripten::function("faultView", &trislip::fault_view);
  emscripten::function("faultFiles", &trislip::fault_files);
  emscripten::constant("version", std::string(trislip::version));
}
