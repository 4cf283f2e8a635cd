#include "trislip/runs/fault_run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "trislip/exports/kept_rate.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

// The options' values, checked once before the model is read.
void check_options(const fault_request& r) {
  parameters q = r.fault.p;
  q.dmax = 1;
  q.fmax = 1;
  q.nt = min_samples;
  try {
    check(q);
  } catch (const parameter_error& e) {
    throw refusal("--" + e.name() + " " + e.value() + ": must be " + e.rule());
  }
  const fault_options& o = r.fault;
  const std::pair<const char*, double> positive[] = {{"--rise", o.rise_s},   {"--vr", o.vr_km_s},
                                                     {"--mu", o.mu_pa},      {"--vs", o.vs_m_s},
                                                     {"--density", o.density_kg_m3}};
  for (const auto& [name, x] : positive) {
    if (!std::isnan(x) && !(x > 0 && std::isfinite(x))) {
      throw refusal(std::string(name) + " " + shortest_text(x) + ": must be finite and > 0");
    }
  }
  if (!std::isnan(o.mu_pa) && !rigidity_agrees(o.mu_pa, o.vs_m_s, o.density_kg_m3)) throw refusal(rigidity_disagreement(o));
  if (!std::isnan(o.rake) && !(o.rake >= -360 && o.rake <= 360)) {
    throw refusal("--rake " + shortest_text(o.rake) + ": must be from -360 to 360");
  }
}

// The further exports asked for; trislip.srf is always written.
std::vector<std::string> exports_of(const std::string& list) {
  const std::vector<std::string> chosen = comma_list(list);
  for (const std::string& name : chosen) {
    if (name != "srf" && name != "specfem-cmt" && name != "nrf") {
      throw refusal("--export " + list + ": unknown format \"" + name + "\" (known: srf, specfem-cmt, nrf)");
    }
  }
  return chosen;
}

// The sampling warnings of the points, one line a kind: how many, the first
// few lines of the model, and the first point's message.
void summarise(const std::vector<srf_warning>& found, const fault& f, warning_log& log) {
  struct kind {
    std::size_t count = 0;
    std::string lines, first;
  };
  std::map<std::string, kind> kinds;
  std::vector<std::string> order;
  for (const srf_warning& w : found) {
    kind& k = kinds[w.w.check];
    if (k.count == 0) {
      order.push_back(w.w.check);
      // The numbers, without the advice of a single function's options:
      // here the step is the one to change.
      k.first = w.w.message.substr(0, w.w.message.find(": ")) + ": lower --dt";
    }
    if (k.count < 5) {
      k.lines += (k.count ? ", " : "") + std::to_string(f.lines[w.point]);
      if (f.windows[w.point] > 0) k.lines += " window " + std::to_string(f.windows[w.point]);
    }
    if (k.count == 5) k.lines += ", ...";
    ++k.count;
  }
  for (const std::string& check : order) {
    const kind& k = kinds[check];
    log.add(check, std::to_string(k.count) + " of " + std::to_string(f.points.size()) +
                       (f.windowed ? " window sources (lines " : " subfaults (lines ") + k.lines + "); the first: " + k.first);
  }
}

// moment_rate.csv: time (s) and the whole fault's moment rate (N m/s).
void write_moment_rate(output_folder& out, const std::vector<double>& rate, double dt) {
  staged_file& f = out.add("moment_rate.csv");
  std::string text = "time_s,moment_rate_Nm_s\n";
  for (std::size_t i = 0; i < rate.size(); ++i) {
    text += number_text(static_cast<double>(i) * dt);
    text += ',';
    text += number_text(rate[i]);
    text += '\n';
    if (text.size() > (1u << 20)) {
      f.put(text.data(), text.size());
      text.clear();
    }
  }
  f.put(text.data(), text.size());
  f.finish();
}

// trislip.json's account of a time-window model: the windows as the
// header states them, how they were written, and each point's window.
json windows_json(const model& m, const fault& f) {
  const time_windows& w = m.windows;
  std::size_t most = 0;
  for (const model_subfault& s : m.subfaults) most = std::max(most, s.window_slip_m.size());
  json j = {{"count", w.stated > 0 ? static_cast<std::size_t>(w.stated) : most}, {"columns", most}};
  if (!std::isnan(w.length_s)) j["length_s"] = w.length_s;
  if (!std::isnan(w.overlap_s)) j["overlap_s"] = w.overlap_s;
  if (!w.shape.empty()) j["file_shape"] = w.shape;
  if (!f.windowed) {
    j["written"] = "merged (--merge-windows): one function per subfault with its SLIP and RAKE, lasting its rise time";
    return j;
  }
  j["written"] = "each window with slip a point of its own at its subfault's place, with the window's slip (TWw) "
                 "and rake (rakeTWw, else the subfault's)";
  j["shape"] = "this program's function, lasting the window's length";
  j["onset"] = "window w starts (w - 1) x (length_s - overlap_s) after the rupture front reaches the subfault";
  j["moment"] = "the sum of the windows' slips times area and rigidity (the windows, not SLIP, are what each point "
                "carries; SLIP is their sum rounded)";
  j["point_window"] = f.windows;
  return j;
}

// SPECFEM3D's entries hold one function each, along the point's rake: the
// slip across it of points whose slip turns in time is said and left out.
void say_slip_across(const fault& f, warning_log& log) {
  std::size_t turning = 0, line = 0;
  double most = 0;  // m, the most slip across a rake before it adds up to 0
  for (std::size_t k = 0; k < f.points.size(); ++k) {
    const srf_point& pt = f.points[k];
    if (pt.rate2_m_s.empty()) continue;
    ++turning;
    for (double c : detail::kept_rate_cumulative(pt.rate2_m_s, pt.p.dt)) {
      if (std::fabs(c) > most) {
        most = std::fabs(c);
        line = f.lines[k];
      }
    }
  }
  if (turning == 0) return;
  log.add("specfem_slip_across_left_out",
          std::to_string(turning) + " of " + std::to_string(f.points.size()) + " SPECFEM3D entries hold only the "
          "rate along their rake, one function each: their slip across it, up to " + shortest_text(most) +
          " m before it adds up to 0 (line " + std::to_string(line) + "), is left out (trislip.srf and trislip.nrf "
          "hold it)",
          true);
}

// The request with the mesh's Par_file followed (--specfem-par-file): its
// DT as --dt, its NSTEP as --nt, its frame and depth.
fault_request following_par_file(const fault_request& given) {
  fault_request r = given;
  follow_par_file(r.specfem, r.fault.p.dt, r.nt, r.exports);
  return r;
}

// plan_fault for a request that already follows its Par_file.
fault_plan plan_followed(const fault_request& r) {
  check_options(r);
  fault_plan plan;
  plan.exports = exports_of(r.exports);
  const std::vector<std::string>& exports = plan.exports;
  plan.cmt_wanted = std::find(exports.begin(), exports.end(), "specfem-cmt") != exports.end();
  try {
    plan.event = parse_record_codes(default_seed_id, r.start_time);
  } catch (const std::invalid_argument& e) {
    throw refusal("--start-time " + r.start_time + ": " + e.what());
  }
  if (r.nt < 0 || r.nt > max_samples) throw refusal("--nt " + std::to_string(r.nt) + ": must be from 1 to 67108864");
  if (!plan.cmt_wanted && r.nt != 0) throw refusal("--nt: goes with --export specfem-cmt");
  plan.cmt = specfem_options_of(r.specfem, plan.cmt_wanted);
  plan.nrf_wanted = std::find(exports.begin(), exports.end(), "nrf") != exports.end();
  plan.nrf = nrf_options_of(r.nrf, plan.nrf_wanted);
  plan.v = r.srf_version == "2.0" ? srf_version::v2_0 : srf_version::v1_0;
  model& m = plan.m;
  try {
    if (r.model_format.empty()) {
      m = read_model(r.model_path);
    } else {
      const model_format f = model_format_of(r.model_format);
      m = read_model(r.model_path, &f);
    }
  } catch (const std::invalid_argument& e) {
    throw refusal(e.what());
  }
  fault& f = plan.f;
  try {
    f = build_fault(m, r.fault);
  } catch (const std::invalid_argument& e) {
    throw refusal(r.model_path + ": " + e.what());
  }
  if (f.points.empty()) throw refusal(r.model_path + ": no subfault has slip; nothing to write");
  if (plan.v == srf_version::v2_0) {
    for (std::size_t k = 0; k < f.points.size(); ++k) {
      if (!(f.points[k].vs_m_s > 0 && f.points[k].density_kg_m3 > 0)) {
        throw refusal("--srf-version 2.0: " + r.model_path + ": line " + std::to_string(f.lines[k]) +
                      ": no density for VS and DEN (the model has no velocity structure there): give --density");
      }
    }
  }
  for (const fault_warning& w : f.warnings) plan.warnings.add(w.check, w.message, w.strict);
  if (plan.cmt_wanted) say_slip_across(f, plan.warnings);
  if (f.planes.empty() && !r.srf_without_plane) {
    plan.warnings.add("srf_no_plane", "trislip.srf has no PLANE block, which SW4's rupture command needs: the model "
                                      "gives no segment geometry", false);
  }
  plan.rate = moment_rate(f.points, f.rigidity_pa, r.fault.p.dt);
  if (plan.cmt_wanted) {
    plan.cmt.dt = r.fault.p.dt;
    plan.cmt.nt = r.nt != 0 ? r.nt : static_cast<std::int32_t>(std::min<std::size_t>(plan.rate.size(), max_samples));
    check_specfem_options(plan.cmt, f.points);
  }
  // The trapezoids of the moment rate: its integral, the moment it carries.
  const double dt = r.fault.p.dt;
  for (std::size_t i = 1; i < plan.rate.size(); ++i) plan.rate_integral += (plan.rate[i] + plan.rate[i - 1]) * dt / 2;
  plan.moment = nominal_moment(f.points, f.rigidity_pa);
  return plan;
}

}  // namespace

fault_plan plan_fault(const fault_request& given) { return plan_followed(following_par_file(given)); }

std::string fault_summary(const fault_request& r, const fault_plan& plan) {
  const model& m = plan.m;
  const fault& f = plan.f;
  char line[512];
  if (f.windowed) {
    std::snprintf(line, sizeof line,
                  ": %s model, %zu subfaults read, %zu written as %zu time-window sources, %zu with zero slip left "
                  "out\n",
                  model_format_name(m.format), f.read, f.subfaults(), f.points.size(), f.zero_slip);
  } else {
    std::snprintf(line, sizeof line, ": %s model, %zu subfaults read, %zu written, %zu with zero slip left out\n",
                  model_format_name(m.format), f.read, f.points.size(), f.zero_slip);
  }
  std::string text = r.model_path + line;
  if (f.windowed) {
    const time_windows& w = m.windows;
    // The step between onsets as the header's decimals give it (0.6 - 0.2
    // is 0.39999999999999997 in binary).
    char step[32];
    std::snprintf(step, sizeof step, "%.12g", w.length_s - w.overlap_s);
    text += "time windows: each of " + shortest_text(w.length_s) + " s, window w starting (w - 1) x " + step +
            " s after the rupture front (SHF " + shortest_text(w.overlap_s) + " s), with its own slip and rake\n";
  } else if (m.has_windows()) {
    text += "time windows merged (--merge-windows): one function per subfault with its SLIP and RAKE\n";
  }
  if (!m.reading.empty()) text += m.reading + (f.functions.empty() ? "" : "; " + f.functions) + "\n";
  std::snprintf(line, sizeof line, " N m (Mw %.2f)", moment_magnitude(plan.moment));
  text += "M0 " + moment_text(plan.moment) + line;
  if (!std::isnan(m.moment_nm)) text += ", the model states " + moment_text(m.moment_nm) + " N m";
  return text + "\n";
}

namespace {

// The SPECFEM3D entries' event: the model's hypocentre, or its first point
// to rupture.
void place_event(fault_plan& plan) {
  const model& m = plan.m;
  const fault& f = plan.f;
  specfem_cmt_options& cmt = plan.cmt;
  cmt.event = plan.event;
  const srf_point* first = &f.points.front();
  for (const srf_point& pt : f.points) {
    if (pt.tinit_s < first->tinit_s) first = &pt;
  }
  const bool hyp = !std::isnan(m.hyp_lat) && !std::isnan(m.hyp_lon) && !std::isnan(m.hyp_depth_km);
  cmt.hyp_lat = hyp ? m.hyp_lat : first->lat;
  cmt.hyp_lon = hyp ? m.hyp_lon : first->lon;
  cmt.hyp_depth_km = hyp ? m.hyp_depth_km : first->depth_km;
}

const char* rows_of(const fault& f) { return f.windowed ? "window sources'" : "subfaults'"; }

// What run_fault says, in its order, with nothing written: each subfault
// sampled but no SRF line edited, the SPECFEM3D functions made into a sink
// that keeps nothing.
void say_fault(const fault_request& r, fault_plan& plan) {
  const fault& f = plan.f;
  summarise(check_srf(f.points, plan.v).warnings, f, plan.warnings);
  plan.warnings.refuse_if_strict(r.strict);
  if (!plan.cmt_wanted) return;
  place_event(plan);
  class discard final : public byte_sink {
   public:
    void write(const char*, std::size_t) override {}
  } nothing;
  specfem_cmt_summary s;
  try {
    s = write_specfem_cmt(f.points, f.rigidity_pa, plan.cmt, nothing,
                          [](const std::string&, const std::function<void(byte_sink&)>& write) {
                            discard none;
                            write(none);
                          });
  } catch (const std::invalid_argument& e) {
    throw refusal(std::string("--export specfem-cmt: ") + e.what());
  }
  plan.warnings.add_points(s.warnings, [&](std::size_t k) { return point_label(f, k); }, rows_of(f));
  add_nstep_warning(plan.warnings, s, plan.cmt);
  plan.warnings.refuse_if_strict(r.strict);
}

}  // namespace

void run_fault(const fault_request& given) {
  // The Par_file read once: the run's request is the one its plan follows.
  const fault_request r = following_par_file(given);
  fault_plan plan = plan_followed(r);
  if (!r.files) {
    say_fault(r, plan);
    return;
  }
  const model& m = plan.m;
  const fault& f = plan.f;
  const srf_version v = plan.v;
  const bool cmt_wanted = plan.cmt_wanted, nrf_wanted = plan.nrf_wanted;
  specfem_cmt_options& cmt = plan.cmt;
  const nrf_options& nrf = plan.nrf;
  warning_log& warnings = plan.warnings;
  const std::vector<double>& rate = plan.rate;

  output_folder out(r.output_dir,
                    {"trislip.srf", "moment_rate.csv", "trislip.json", "CMTSOLUTION", "specfem_stf", "trislip.nrf"});
  srf_record srf = write_srf_file(out, f.points, r.srf_without_plane ? std::vector<srf_plane>{} : f.planes, v);
  summarise(srf.summary.warnings, f, warnings);
  warnings.refuse_if_strict(r.strict);
  add_moments(srf, f.points, f.rigidity_pa);
  write_moment_rate(out, rate, r.fault.p.dt);

  // SPECFEM3D's CMTSOLUTION and time function files, every subfault an
  // entry; the event at the model's hypocentre, or its first point to rupture.
  specfem_cmt_summary cmt_done;
  if (cmt_wanted) {
    place_event(plan);
    cmt_done = write_specfem_files(out, f.points, f.rigidity_pa, cmt, warnings,
                                   [&](std::size_t k) { return point_label(f, k); }, rows_of(f));
    add_nstep_warning(warnings, cmt_done, cmt);
    warnings.refuse_if_strict(r.strict);
  }

  // SeisSol's NRF: every subfault a source, in the mesh's projection.
  nrf_summary nrf_done;
  if (nrf_wanted) nrf_done = write_nrf_file(out, f.points, f.rigidity_pa, nrf);

  // trislip.json
  const parameters& p = r.fault.p;
  json j;
  j["program"] = "trislip-fault";
  j["version"] = version;
  json model_j = {{"file", r.model_path}, {"format", model_format_name(m.format)}};
  if (!m.event.empty()) model_j["event"] = m.event;
  if (!m.tag.empty()) model_j["tag"] = m.tag;
  model_j["coordinates"] = m.format == model_format::usgs_param
                               ? "each subfault's first point source, moved to its centre"
                           : m.top_centre ? "top centre of each subfault, moved to its centre"
                                          : "as the file gives them";
  json segments = json::array();
  for (std::size_t k = 0; k < m.segments.size(); ++k) {
    const std::size_t first = f.segment_first[k];
    const std::size_t end = k + 1 < m.segments.size() ? f.segment_first[k + 1] : f.points.size();
    json s = {{"first_point", first}, {"points", end - first}};
    if (k < f.planes.size()) {
      const srf_plane& pl = f.planes[k];
      s["plane"] = {{"elon", pl.elon},       {"elat", pl.elat},     {"nstk", pl.nstk},       {"ndip", pl.ndip},
                    {"len_km", pl.len_km},   {"wid_km", pl.wid_km}, {"strike", pl.strike},   {"dip", pl.dip},
                    {"dtop_km", pl.dtop_km}, {"shyp_km", pl.shyp_km}, {"dhyp_km", pl.dhyp_km}};
      // What the header says beside it: the plane follows the rows.
      const model_segment& g = m.segments[k];
      json h = json::object();
      for (const auto& [key, x] : {std::pair{"len_km", g.len_km}, {"wid_km", g.wid_km}, {"top_lon", g.top_lon},
                                   {"top_lat", g.top_lat}, {"dtop_km", g.dtop_km},
                                   {"hyp_along_km", g.hyp_along_km}, {"hyp_down_km", g.hyp_down_km}}) {
        if (!std::isnan(x)) h[key] = x;
      }
      s["header"] = h;
    }
    segments.push_back(s);
  }
  model_j["segments"] = segments;
  model_j["subfaults_read"] = f.read;
  model_j["subfaults_written"] = f.subfaults();
  if (f.windowed) model_j["points_written"] = f.points.size();
  model_j["left_out"] = json::array();
  if (f.zero_slip > 0) model_j["left_out"].push_back({{"reason", "zero slip"}, {"subfaults", f.zero_slip}});
  if (!std::isnan(m.moment_nm)) model_j["stated_moment_Nm"] = m.moment_nm;
  if (!std::isnan(m.mw)) model_j["stated_mw"] = m.mw;
  double own = 0;
  bool all_own = !m.subfaults.empty();
  for (const model_subfault& s : m.subfaults) {
    if (s.moment_nm > 0) own += s.moment_nm;
    all_own = all_own && !std::isnan(s.moment_nm);
  }
  if (all_own) model_j["subfault_moment_sum_Nm"] = own;
  if (m.has_windows()) model_j["time_windows"] = windows_json(m, f);
  j["model"] = model_j;
  add_geometry_json(j, f.geometry);
  j["parameters"] = {{"dt", p.dt}, {"tr", p.tr}, {"ar", p.ar}, {"nv", p.nv}};
  j["function"] = f.windowed ? "each window's lasts the window's length: fmax = tr^(nv-1) / LEN"
                  : r.fault.keep_rate_functions
                      ? "each point's own slip-rate function from the SRF file (--keep-rate-functions): components "
                        "1 and 2 along their net slip, whose direction is the point's rake (the rate across it, where "
                        "the slip turns, written as component 2 of the SRF and NRF), its running slip resampled at dt "
                        "(each sample the slip gained over the step centred on it) and differenced; tr, ar and nv "
                        "unused"
                      : "each subfault's lasts its rise time: fmax = tr^(nv-1) / rise";
  std::map<rigidity_source, std::size_t> by_source;
  for (rigidity_source s : f.rigidity_from) ++by_source[s];
  j["rigidity"] = json::array();
  for (const auto& [source, count] : by_source) {
    j["rigidity"].push_back({{"source", rigidity_source_name(source)}, {"subfaults", count}});
  }
  j["files"] = {{"srf", "trislip.srf"}, {"moment_rate", "moment_rate.csv"}};
  j["exports"] = json::array();
  add_srf_json(j, srf);
  j["exports"].push_back({{"format", "moment-rate"}, {"file", "moment_rate.csv"}, {"quantity", "moment rate"},
                          {"unit", "N m/s"}});
  if (cmt_wanted) add_specfem_json(j, cmt_done, cmt);
  if (nrf_wanted) add_nrf_json(j, nrf_done, nrf);
  j["moment_rate"] = {
      {"file", "moment_rate.csv"}, {"dt", p.dt}, {"samples", rate.size()}, {"integral_Nm", plan.rate_integral}};
  warnings.to_json(j);
  write_json(out, j);
  out.publish();

  if (!r.quiet) {
    std::fputs(fault_summary(r, plan).c_str(), stdout);
    std::printf("written into %s: trislip.srf, moment_rate.csv, trislip.json%s%s\n", r.output_dir.c_str(),
                cmt_wanted ? ", CMTSOLUTION, specfem_stf/" : "", nrf_wanted ? ", trislip.nrf" : "");
  }
}

}  // namespace trislip
