#include "trislip/runs/custom_run.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <filesystem>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "trislip/amplitude.hpp"
#include "trislip/fft.hpp"
#include "trislip/records/unit.hpp"
#include "trislip/report.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/runs/staged_file.hpp"
#include "trislip/runs/subfaults.hpp"
#include "trislip/synthesis.hpp"
#include "trislip/text.hpp"
#include "trislip/threads.hpp"

namespace trislip {
namespace {


// A result for a message: nine significant digits, as the report prints.
std::string rounded(double x) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 9).ptr);
}

// The records of a result file are edited and written in chunks of this
// many (see shared_file).
constexpr std::int32_t chunk_rows = 8192;

// The extremes of each column of the time series, found before anything
// is written so that a layout that cannot hold them is refused in time.
class column_ranges final : public slip_record_sink {
 public:
  void record(double, double v, double d, double a) override {
    last_slip = d;
    if (++records % chunk_rows == 0) slip_at_chunk_ends.push_back(d);
    const double values[] = {v, d, a};
    for (int c = 0; c < 3; ++c) {
      if (!std::isfinite(values[c]) && non_finite < 0) non_finite = c;
      if (values[c] < lo[c]) lo[c] = values[c];
      if (values[c] > hi[c]) hi[c] = values[c];
    }
  }
  int non_finite = -1;  // the first column with a value beyond a double
  double last_slip = 0;
  std::int32_t records = 0;
  // The displacement of the last record of every whole chunk, where the
  // next chunk's running sum resumes.
  std::vector<double> slip_at_chunk_ends;
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
};

const char* const column_names[] = {"slip velocity", "slip", "slip acceleration"};
const char* const column_units[] = {"m/s", "m", "m/s^2"};

// The options that a column's size follows: the acceleration grows with
// dmax/dt, the others with dmax.
std::string scaled_by(const parameters& p, int column) {
  std::string s = "--dmax " + shortest_text(p.dmax);
  if (column == 2) s += " with --dt " + shortest_text(p.dt);
  return s;
}

void check_layout(const custom_options& o, const column_ranges& r, std::int32_t nfast) {
  const parameters& p = o.p;
  if (r.non_finite >= 0) {
    throw refusal(scaled_by(p, r.non_finite) + ": the " + column_names[r.non_finite] +
                  " goes beyond the range of a double");
  }
  const double last_time = static_cast<double>(p.nt - 1) * p.dt;
  if (!std::isfinite(last_time)) {
    throw refusal("--nt " + std::to_string(p.nt) + " with --dt " + shortest_text(p.dt) +
                  ": times go beyond the range of a double");
  }
  if (o.format != layout::fixed) return;
  const std::string hint = "; --format full writes any value";
  // Fixed times have 4 decimals: closer steps would print equal times.
  if (p.dt < 0.0001) {
    throw refusal("--dt " + shortest_text(p.dt) +
                  ": the fixed layout writes times with 4 decimals, so a step below 0.0001 s "
                  "prints equal times" + hint);
  }
  if (!fits_f(last_time, 8, 4)) {
    throw refusal("--nt " + std::to_string(p.nt) + " with --dt " + shortest_text(p.dt) +
                  ": times reach " + rounded(last_time) +
                  " s, and the fixed layout holds times below 1000 s" + hint);
  }
  const spectral_constants c = spectral_constants_for(nfast, p.dt);
  const double last_freq = (static_cast<double>(c.nom - 1) * c.dom) / (pai + pai);
  if (!fits_f(last_freq, 8, 4)) {
    throw refusal("--dt " + shortest_text(p.dt) + ": frequencies reach " + rounded(last_freq) +
                  " Hz, and the fixed layout holds frequencies below 1000 Hz" + hint);
  }
  for (int k = 0; k < 3; ++k) {
    for (double x : {r.lo[k], r.hi[k]}) {
      if (!fits_f(x, 15, 7)) {
        throw refusal(scaled_by(p, k) + ": the " + column_names[k] + " reaches " + rounded(x) +
                      " " + column_units[k] + ", beyond what the fixed layout's F15.7 fields hold" +
                      hint);
      }
    }
  }
}

// Records edited into the buffer of one chunk of a file.
class slip_chunk final : public slip_record_sink {
 public:
  slip_chunk(layout l, char* out) : editor_(l), out_(out) {}
  void record(double t, double v, double d, double a) override { used_ += editor_.slip(t, v, d, a, out_ + used_); }
  std::size_t used() const { return used_; }

 private:
  record_editor editor_;
  char* out_;
  std::size_t used_ = 0;
};

class amp_chunk final : public amp_record_sink {
 public:
  amp_chunk(layout l, char* out) : editor_(l), out_(out) {}
  void record(double freq, double vel, double acc) override { used_ += editor_.amp(freq, vel, acc, out_ + used_); }
  std::size_t used() const { return used_; }

 private:
  record_editor editor_;
  char* out_;
  std::size_t used_ = 0;
};

// The records of a file in chunks of chunk_rows, for both threads to
// share: whichever is free takes the next chunk and edits it into its own
// buffer, then waits for its turn and writes it, while the other edits the
// chunk after. The chunks go out in order, so the bytes are those of one
// thread doing it all. A thread holds one chunk at a time and waits only
// for the one before, which its holder is editing or writing. A failure
// releases every thread waiting on the file.
class shared_file {
 public:
  static constexpr std::size_t chunk_bytes = chunk_rows * max_record;
  // edit(chunk, out) edits the chunk into out and returns its length.
  using editor = std::function<std::size_t(std::int32_t chunk, char* out)>;

  shared_file(staged_file& f, std::int32_t rows, editor edit)
      : f_(f), chunks_((rows + chunk_rows - 1) / chunk_rows), edit_(std::move(edit)) {}

  // Lets chunks be taken, once what precedes them is in the file.
  void open() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    turn_.notify_all();
  }
  // Waits until the file is open; false if it failed first.
  bool wait_open() {
    std::unique_lock<std::mutex> lock(m_);
    turn_.wait(lock, [&] { return open_ || failed_; });
    return !failed_;
  }
  void fail() noexcept {
    std::lock_guard<std::mutex> lock(m_);
    failed_ = true;
    turn_.notify_all();
  }

  // Takes, edits and writes one chunk; false when none is left (or the
  // file has failed). buffer holds chunk_bytes.
  bool work_one(char* buffer) {
    const std::int32_t c = next_taken_.fetch_add(1);
    if (c >= chunks_) return false;
    try {
      const std::size_t n = edit_(c, buffer);
      std::unique_lock<std::mutex> lock(m_);
      turn_.wait(lock, [&] { return next_written_ == c || failed_; });
      if (failed_) return false;
      f_.put(buffer, n);
      ++next_written_;
      turn_.notify_all();
      return true;
    } catch (...) {
      fail();
      throw;
    }
  }

 private:
  staged_file& f_;
  const std::int32_t chunks_;
  const editor edit_;
  std::atomic<std::int32_t> next_taken_{0};
  std::mutex m_;
  std::condition_variable turn_;
  std::int32_t next_written_ = 0;
  bool open_ = false, failed_ = false;
};

// A thread that is joined however the scope is left. It and the threads
// it starts take none of the ending signals, which reach this thread.
// Where no thread can be started, f runs here and now.
class joined_thread {
 public:
  template <class F>
  explicit joined_thread(F&& f) {
    if (!can_start_threads) {
      f();
      return;
    }
    const ending_signals_held held;
    thread_ = std::thread(std::forward<F>(f));
  }
  ~joined_thread() { join(); }
  joined_thread(const joined_thread&) = delete;
  joined_thread& operator=(const joined_thread&) = delete;
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

// The exports asked for, checked before anything is computed.
struct chosen_exports {
  std::vector<const export_format*> formats;
  record_codes codes;
  bool srf = false;
  bool specfem_cmt = false;  // CMTSOLUTION and its time function files
  specfem_cmt_options cmt;   // and how they are written
  bool nrf = false;          // SeisSol's trislip.nrf
  nrf_options nrf_o;
  bool has(const char* name) const {
    for (const export_format* f : formats) {
      if (f->name == name) return true;
    }
    return false;
  }
};

chosen_exports exports_of(const custom_options& o) {
  chosen_exports c;
  try {
    c.codes = parse_record_codes(o.seed_id, o.start_time);
  } catch (const std::invalid_argument& e) {
    // The library's "seed id ..." or "start time ...", named as the option.
    std::string m = e.what();
    for (const auto& [part, option] : {std::pair{"seed id ", "--seed-id "}, {"start time ", "--start-time "}}) {
      if (m.rfind(part, 0) == 0) m = option + m.substr(std::strlen(part));
    }
    throw refusal(m);
  }
  for (const std::string& name : comma_list(o.exports)) {
    if (name == "srf") {
      c.srf = true;
      continue;
    }
    if (name == "specfem-cmt") {
      c.specfem_cmt = true;
      continue;
    }
    if (name == "nrf") {
      c.nrf = true;
      continue;
    }
    try {
      const export_format* f = &find_export_format(name);
      if (!c.has(f->name.c_str())) c.formats.push_back(f);
    } catch (const std::invalid_argument& e) {
      // The library's list of known formats, and srf, which is ours.
      std::string m = e.what();
      m.insert(m.rfind(')'), ", srf, specfem-cmt, nrf");
      throw refusal("--export " + o.exports + ": " + m);
    }
  }
  c.cmt = specfem_options_of(o.specfem, c.specfem_cmt);
  c.nrf_o = nrf_options_of(o.nrf, c.nrf);
  if (o.srf_without_plane && !c.srf) throw refusal("--srf-without-plane: goes with --export srf");
  for (const export_format* f : c.formats) {
    if (o.p.nt < f->min_samples) {
      throw refusal("--export " + f->name + ": its reader needs at least " + std::to_string(f->min_samples) +
                    " samples, and --nt is " + std::to_string(o.p.nt));
    }
  }
  return c;
}

// The points and plane of --export srf, checked before anything is written.
struct srf_plan {
  srf_version version = srf_version::v1_0;
  std::vector<srf_point> points;
  std::vector<srf_plane> planes;
  bool table = false;
  geometry_check geometry;                 // the points against the plane
  std::vector<sampling_warning> warnings;  // of the plan itself
};

// Every point on the plane, and the hypocentre (SHYP, DHYP) on it: a
// --plane that does not hold its table is said, and --strict refuses it.
void check_plan_geometry(srf_plan& plan) {
  plan.geometry = check_geometry(plan.points, plan.planes, {});
  const bool table = plan.table;
  for (const fault_warning& w : geometry_warnings(plan.geometry, plan.points, plan.planes, [table](std::size_t k) {
         return table ? "row " + std::to_string(k + 1) : std::string("the point");
       })) {
    plan.warnings.push_back({w.check, w.message});
  }
}

srf_plan srf_plan_of(const custom_options& o, bool wanted) {
  const srf_source& src = o.srf;
  srf_plan plan;
  if (!wanted) {
    if (!src.given.empty()) throw refusal(*src.given.begin() + ": goes with --export srf, specfem-cmt or nrf");
    return plan;
  }
  plan.version = src.version == "2.0" ? srf_version::v2_0 : srf_version::v1_0;
  srf_point defaults;
  defaults.p = o.p;
  defaults.vs_m_s = src.vs;
  defaults.density_kg_m3 = src.density;
  defaults.tinit_s = src.tinit;
  const auto refuse = [](const std::string& option, const parameter_error& e) {
    throw refusal(option + " " + e.value() + ": must be " + e.rule());
  };
  const std::pair<const char*, const char*> option_of[] = {
      {"lon", "--lon"}, {"lat", "--lat"}, {"depth_km", "--depth"}, {"strike", "--strike"}, {"dip", "--dip"},
      {"rake", "--rake"}, {"area_m2", "--area"}, {"tinit_s", "--tinit"}, {"vs_m_s", "--vs"},
      {"density_kg_m3", "--density"}, {"dmax", "--dmax"}};
  if (src.subfaults.empty()) {
    std::string missing;
    for (const char* name : {"--lon", "--lat", "--depth", "--strike", "--dip", "--rake", "--area"}) {
      if (src.given.count(name) == 0) missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (plan.version == srf_version::v2_0) {
      for (const char* name : {"--vs", "--density"}) {
        if (src.given.count(name) == 0) missing += std::string(missing.empty() ? "" : ", ") + name;
      }
    }
    if (!missing.empty()) throw refusal("--export srf: a point source needs " + missing);
    srf_point pt = defaults;
    pt.lon = src.lon;
    pt.lat = src.lat;
    pt.depth_km = src.depth;
    pt.strike = src.strike;
    pt.dip = src.dip;
    pt.rake = src.rake;
    pt.area_m2 = src.area;
    try {
      check_srf_point(pt, plan.version);
    } catch (const parameter_error& e) {
      for (const auto& [field, option] : option_of) {
        if (e.name() == field) refuse(option, e);
      }
      throw;
    }
    try {
      plan.planes.push_back(src.plane.empty() ? plane_of_point(pt) : parse_srf_plane(src.plane));
    } catch (const std::invalid_argument& e) {
      throw refusal((src.plane.empty() ? "--depth " : "--plane ") + std::string(e.what()));
    }
    plan.points.push_back(pt);
    check_plan_geometry(plan);
    return plan;
  }
  for (const char* name : {"--lon", "--lat", "--depth", "--strike", "--dip", "--rake", "--area"}) {
    if (src.given.count(name) != 0) throw refusal(std::string(name) + ": a table gives each subfault its own; drop it or --subfaults");
  }
  plan.table = true;
  plan.points = read_subfaults(src.subfaults, defaults, plan.version);
  if (src.plane.empty()) {
    if (!o.srf_without_plane) {
      plan.warnings.push_back({"srf_no_plane",
                               "trislip.srf has no PLANE block, which SW4's rupture command needs: give --plane"});
    }
  } else {
    try {
      plan.planes.push_back(parse_srf_plane(src.plane));
    } catch (const std::invalid_argument& e) {
      throw refusal("--plane " + std::string(e.what()));
    }
  }
  check_plan_geometry(plan);
  return plan;
}

// SAC stores float32: larger values would be written as infinities.
void check_sac_range(const column_ranges& r) {
  const quantity q[] = {quantity::velocity, quantity::displacement, quantity::acceleration};
  for (int k = 0; k < 3; ++k) {
    for (double x : {r.lo[k], r.hi[k]}) {
      if (std::fabs(x) > static_cast<double>(std::numeric_limits<float>::max())) {
        throw refusal(std::string("--export sac: the ") + quantity_name(q[k]) + " reaches " + rounded(x) +
                      " " + quantity_unit(q[k]) + ", beyond what SAC's float32 samples hold");
      }
    }
  }
}

// Each point's rigidity: --mu, or its VS and DEN; not a number where it
// has neither. --mu beside a point's VS and DEN must agree with them: SRF
// 2.0 carries VS and DEN, from which SeisSol's converter takes the
// rigidity, while the NRF and the moments written here take --mu.
std::vector<double> rigidities(const custom_options& o, const std::vector<srf_point>& points, bool table) {
  std::vector<double> mu;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const srf_point& pt = points[k];
    if (std::isfinite(o.srf.mu) && !rigidity_agrees(o.srf.mu, pt.vs_m_s, pt.density_kg_m3)) {
      const std::string gives = shortest_text(pt.density_kg_m3 * pt.vs_m_s * pt.vs_m_s) + " Pa";
      const bool own = table && !(pt.vs_m_s == o.srf.vs && pt.density_kg_m3 == o.srf.density);
      throw refusal("--mu " + shortest_text(o.srf.mu) + ": disagrees with " +
                    (own ? "row " + std::to_string(k + 1) + "'s vs_m_s " + shortest_text(pt.vs_m_s) +
                               " and density_kg_m3 " + shortest_text(pt.density_kg_m3)
                         : "--vs " + shortest_text(pt.vs_m_s) + " and --density " + shortest_text(pt.density_kg_m3)) +
                    ", which give " + gives + " (density x vs^2) beyond 0.1%: give the rigidity one way");
    }
    mu.push_back(std::isfinite(o.srf.mu) ? o.srf.mu : pt.density_kg_m3 * pt.vs_m_s * pt.vs_m_s);
  }
  return mu;
}

json json_of(const custom_options& o, std::int32_t nfast, const chosen_exports& exports,
             const warning_log& warnings, const srf_record& srf, const geometry_check& geometry) {
  const parameters& p = o.p;
  json j;
  j["program"] = "trislip-custom";
  j["version"] = version;
  j["format"] = o.format == layout::fixed ? "fixed" : "full";
  j["parameters"] = {{"dt", p.dt}, {"nt", p.nt},     {"dmax", p.dmax}, {"fmax", p.fmax},
                     {"tr", p.tr}, {"ar", p.ar},     {"nv", p.nv}};
  j["nfast"] = nfast;
  j["files"] = {{"slip", "Tri_Slip.csv"}, {"spectrum", "Tri_Amp.csv"}};
  j["exports"] = json::array();
  for (const export_format* f : exports.formats) {
    for (const export_file& e : f->files) {
      j["exports"].push_back({{"format", f->name}, {"file", e.name}, {"quantity", e.quantity}, {"unit", e.unit}});
    }
  }
  add_srf_json(j, srf);
  if (srf.written) add_geometry_json(j, geometry);
  if (exports.has("sac") || exports.has("mseed")) {
    j["seed_id"] = o.seed_id;
    j["start_time"] = o.start_time;
  }
  warnings.to_json(j);
  return j;
}

// A run with every check done and nothing touched yet: the exports and
// source asked for, and the samples, whose first pass showed that the
// layout holds them.
struct custom_plan {
  explicit custom_plan(const custom_options& options) : o(options) {}
  const custom_options& o;
  chosen_exports exports;
  srf_plan srf;
  std::int32_t nfast = 0;
  slip_params sp{};
  std::vector<double> trisv;
  column_ranges ranges;
  warning_log warnings{"trislip-custom"};
  std::vector<double> rigidity;  // Pa, each point's (not a number where unknown)
  // The transform's twiddles, made meanwhile on another thread, ready for
  // the spectrum (wasted only when the run is refused).
  std::unique_ptr<joined_thread> twiddles;
};

void plan_custom(custom_plan& plan) {
  const custom_options& o = plan.o;
  const parameters& p = o.p;
  try {
    check(p);
  } catch (const parameter_error& e) {
    throw refusal("--" + e.name() + " " + e.value() + ": must be " + e.rule());
  }
  plan.exports = exports_of(o);
  plan.srf = srf_plan_of(o, plan.exports.srf || plan.exports.specfem_cmt || plan.exports.nrf);
  if (!plan.exports.srf) plan.srf.warnings.clear();  // of the SRF file alone
  plan.rigidity = rigidities(o, plan.srf.points, plan.srf.table);
  // The moment tensors of --export specfem-cmt need every point's.
  for (double mu : plan.exports.specfem_cmt || plan.exports.nrf ? plan.rigidity : std::vector<double>{}) {
    if (!(std::isfinite(mu) && mu > 0)) {
      throw refusal(std::string("--export ") + (plan.exports.specfem_cmt ? "specfem-cmt" : "nrf") +
                    ": the moments need the rigidity: give --mu, or --vs and --density "
                    "(or a table's vs_m_s and density_kg_m3)");
    }
  }
  if (plan.exports.specfem_cmt) {
    plan.exports.cmt.dt = p.dt;
    plan.exports.cmt.nt = p.nt;
    check_specfem_options(plan.exports.cmt, plan.srf.points);
  }
  plan.nfast = transform_length(p.nt);
  plan.sp = slip_params_of(p);
  const std::int32_t nfast = plan.nfast;
  plan.twiddles = std::make_unique<joined_thread>([nfast] { prepare_transform(nfast, -1); });

  // First pass: the samples alone, to see whether the layout holds them
  // and whether the sampled function is the one asked for.
  plan.trisv.assign(static_cast<std::size_t>(p.nt), 0.0);
  synthesize(plan.sp, plan.trisv.data(), p.nt, plan.ranges);
  check_layout(o, plan.ranges, plan.nfast);
  if (plan.exports.has("sac")) check_sac_range(plan.ranges);
  for (const sampling_warning& w : check_sampling(p, plan.ranges.last_slip, "--")) plan.warnings.add(w.check, w.message);
  for (const sampling_warning& w : plan.srf.warnings) plan.warnings.add(w.check, w.message);
  plan.warnings.refuse_if_strict(o.strict);
}

// Tri_Slip.csv and Tri_Amp.csv. The spectrum is worked out on a second
// thread while this one edits and writes the time series; then each thread
// helps with the other file's chunks. Both only read the samples; the
// second thread has the transform array to itself until the spectrum's
// chunks begin, which read disjoint parts of it.
void write_result_files(custom_plan& plan, output_folder& out) {
  const custom_options& o = plan.o;
  const parameters& p = o.p;
  const std::int32_t nfast = plan.nfast;
  const slip_params& sp = plan.sp;
  const std::vector<double>& trisv = plan.trisv;
  const column_ranges& ranges = plan.ranges;
  staged_file& slip = out.add("Tri_Slip.csv");
  staged_file& amp = out.add("Tri_Amp.csv");
  std::unique_ptr<dcomplex[], free_transform> triamp;
  const zero_frequency first =
      o.format == layout::fixed ? zero_frequency::normalised : zero_frequency::computed;
  shared_file slip_chunks(slip, p.nt, [&](std::int32_t c, char* buf) {
    slip_chunk records(o.format, buf);
    const std::int32_t from = c * chunk_rows + 1, to = std::min(p.nt, (c + 1) * chunk_rows);
    replay(sp, trisv.data(), from, to, c == 0 ? 0.0 : ranges.slip_at_chunk_ends[static_cast<std::size_t>(c - 1)],
           records);
    return records.used();
  });
  shared_file amp_chunks(amp, nfast / 2, [&](std::int32_t c, char* buf) {
    amp_chunk records(o.format, buf);
    amplitude_spectrum(nfast, p.dt, triamp.get(), c * chunk_rows + 1, (c + 1) * chunk_rows + 1, records, first);
    return records.used();
  });
  const auto fail_both = [&] {
    slip_chunks.fail();
    amp_chunks.fail();
  };
  char line[max_record];
  slip.put(line, edit_slip_header(o.format, line));
  slip_chunks.open();

  std::exception_ptr spectrum_failed;
  plan.twiddles->join();
  joined_thread spectrum([&] {
    try {
      triamp = transform_array(nfast);
      load_bit_reversed(nfast, trisv.data(), p.nt, triamp.get());
      dwvfast_loaded(nfast, triamp.get(), -1);
      char header[max_record];
      amp.put(header, edit_amp_header(o.format, header));
      amp_chunks.open();
      const std::unique_ptr<char[]> buffer(new char[shared_file::chunk_bytes]);
      while (amp_chunks.work_one(buffer.get())) {
      }
      while (slip_chunks.work_one(buffer.get())) {
      }
    } catch (...) {
      spectrum_failed = std::current_exception();
      fail_both();
    }
  });

  try {
    const std::unique_ptr<char[]> buffer(new char[shared_file::chunk_bytes]);
    while (slip_chunks.work_one(buffer.get())) {
    }
    if (amp_chunks.wait_open()) {
      while (amp_chunks.work_one(buffer.get())) {
      }
    }
  } catch (...) {
    fail_both();
    throw;
  }
  spectrum.join();
  if (spectrum_failed) std::rethrow_exception(spectrum_failed);
  slip.finish();
  amp.finish();
}

// Writes what the plan holds, staged, then publishes it as one set.
void produce(custom_plan& plan) {
  const custom_options& o = plan.o;
  const parameters& p = o.p;
  std::vector<std::string> names{"Tri_Slip.csv", "Tri_Amp.csv", "trislip.json", "trislip.srf", "CMTSOLUTION",
                                 "specfem_stf", "trislip.nrf"};
  for (const export_format& f : export_formats()) {
    for (const export_file& e : f.files) names.push_back(e.name);
  }
  output_folder out(o.output_dir, names);

  if (!o.quiet) {
    // Records 1 to 12 of the program's report, the spectral constants those
    // of the nfast samples transformed.
    report_parameters(console(), p);
    report_spectrum(console(), plan.nfast, p.dt);
  }
  write_result_files(plan, out);
  std::vector<double>().swap(plan.trisv);

  // The exports, from the library's series: the same doubles as the files.
  if (!plan.exports.formats.empty()) {
    const slip_series series = synthesize(p);
    for (const export_format* f : plan.exports.formats) {
      for (const export_file& e : f->files) {
        staged_file& file = out.add(e.name);
        staged_sink sink(file);
        e.write(series, p, plan.exports.codes, sink);
        file.finish();
      }
    }
  }

  // The SRF file, streamed: the points are formatted on every core.
  srf_record srf;
  if (plan.exports.srf) {
    srf = write_srf_file(out, plan.srf.points, o.srf_without_plane ? std::vector<srf_plane>{} : plan.srf.planes,
                         plan.srf.version);
    // A point source has the run's own function, already checked; a table's
    // rows are named (row 1 is the first below the header).
    if (plan.srf.table) {
      plan.warnings.add_points(srf.summary.warnings, [](std::size_t k) { return "row " + std::to_string(k + 1); },
                               "rows'");
    }
    plan.warnings.refuse_if_strict(o.strict);
    // The moment, where the rigidity is known: --mu, or every point's VS and DEN.
    add_moments(srf, plan.srf.points, plan.rigidity);
  }

  // SPECFEM3D's CMTSOLUTION and time function files, the event at the
  // first point to rupture.
  specfem_cmt_options& cmt = plan.exports.cmt;
  specfem_cmt_summary cmt_done;
  if (plan.exports.specfem_cmt) {
    cmt.event = plan.exports.codes;
    const srf_point* first = &plan.srf.points.front();
    for (const srf_point& pt : plan.srf.points) {
      if (pt.tinit_s < first->tinit_s) first = &pt;
    }
    cmt.hyp_lat = first->lat;
    cmt.hyp_lon = first->lon;
    cmt.hyp_depth_km = first->depth_km;
    const bool table = plan.srf.table;
    cmt_done = write_specfem_files(
        out, plan.srf.points, plan.rigidity, cmt, plan.warnings,
        [table](std::size_t k) { return table ? "row " + std::to_string(k + 1) : std::string("the point"); }, "rows'");
    add_nstep_warning(plan.warnings, cmt_done, cmt);
    plan.warnings.refuse_if_strict(o.strict);
  }

  // SeisSol's NRF, every point a source.
  nrf_summary nrf_done;
  if (plan.exports.nrf) nrf_done = write_nrf_file(out, plan.srf.points, plan.rigidity, plan.exports.nrf_o);

  json j = json_of(o, plan.nfast, plan.exports, plan.warnings, srf, plan.srf.geometry);
  if (plan.exports.specfem_cmt) add_specfem_json(j, cmt_done, cmt);
  if (plan.exports.nrf) add_nrf_json(j, nrf_done, plan.exports.nrf_o);
  write_json(out, j);
  out.publish();
}

// The options with the mesh's Par_file followed (--specfem-par-file): its
// DT as --dt, its NSTEP as --nt, its frame and depth.
custom_options following_par_file(const custom_options& given) {
  custom_options o = given;
  follow_par_file(o.specfem, o.p.dt, o.p.nt, o.exports);
  return o;
}

}  // namespace

void run_custom(const custom_options& given) {
  const custom_options o = following_par_file(given);
  custom_plan plan(o);
  plan_custom(plan);
  produce(plan);
}

void check_custom(const custom_options& given) {
  const custom_options o = following_par_file(given);
  custom_plan plan(o);
  plan_custom(plan);
}

}  // namespace trislip
