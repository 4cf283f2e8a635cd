// FSP, the SRCMOD database's finite-source format, also published by the
// USGS: a header of "% NAME = value" lines, the velocity-density structure,
// then per segment a column header line naming the columns and one row a
// subfault. Columns are found by name, whatever their order, the slip and
// rake of each time window (TW1, rakeTW1, ...) among them.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "trislip/correctly_rounded.hpp"
#include "trislip/fault/geometry.hpp"
#include "trislip/fault/model_text.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

using detail::degree;
using detail::earth_km;
using detail::fields_of;
using detail::trimmed;
using detail::upper;
using detail::value_of;
using detail::where;



// The columns a column header line names, by their place in a row.
struct columns {
  std::size_t count = 0, line = 0;
  int lat = -1, lon = -1, east = -1, north = -1, z = -1, slip = -1, rake = -1, trup = -1, rise = -1, moment = -1,
      strike = -1, dip = -1;
  std::vector<int> tw, tw_rake;  // window w's slip and rake at [w - 1], -1 where absent
  std::string names;  // as the file writes them, for messages
};

// The window a "TWn" (or, with prefix "RAKE", "rakeTWn") column names,
// from 1; 0 for any other name.
std::size_t window_column(const std::string& upper_name, std::string_view prefix) {
  const std::string head = std::string(prefix) + "TW";
  if (upper_name.size() <= head.size() || upper_name.compare(0, head.size(), head) != 0) return 0;
  std::size_t w = 0;
  for (std::size_t i = head.size(); i < upper_name.size(); ++i) {
    const char c = upper_name[i];
    if (c < '0' || c > '9' || w > 100) return 0;  // at most 1009 windows
    w = w * 10 + static_cast<std::size_t>(c - '0');
  }
  return w;
}

void set_window_column(std::vector<int>& to, std::size_t w, int at) {
  if (to.size() < w) to.resize(w, -1);
  to[w - 1] = at;
}

// A "% LAT LON X==EW Y==NS Z SLIP ..." line: SLIP, a depth and a position,
// and no "NAME = value" pair.
bool column_header(std::string_view body, std::size_t line, columns& c) {
  if (body.find('=') != std::string_view::npos && body.find("==") == std::string_view::npos) return false;
  const std::vector<std::string_view> f = fields_of(body);
  columns k;
  k.count = f.size();
  k.line = line;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const std::string n = upper(f[i]);
    const int at = static_cast<int>(i);
    if (n == "LAT") k.lat = at;
    else if (n == "LON") k.lon = at;
    else if (n == "X==EW" || n == "Y==EW") k.east = at;
    else if (n == "X==NS" || n == "Y==NS") k.north = at;
    else if (n == "Z") k.z = at;
    else if (n == "SLIP") k.slip = at;
    else if (n == "RAKE") k.rake = at;
    else if (n == "TRUP") k.trup = at;
    else if (n == "RISE") k.rise = at;
    else if (n == "SF_MOMENT") k.moment = at;
    else if (n == "STRK" || n == "STRIKE") k.strike = at;
    else if (n == "DIP") k.dip = at;
    else if (const std::size_t w = window_column(n, ""); w > 0) set_window_column(k.tw, w, at);
    else if (const std::size_t r = window_column(n, "RAKE"); r > 0) set_window_column(k.tw_rake, r, at);
    k.names += (i ? " " : "") + std::string(f[i]);
  }
  if (k.slip < 0 || (k.lat < 0 && k.east < 0)) return false;
  c = k;
  return true;
}

// The segment's size and place from the lines of its block that state
// them, each value with its line.
void segment_values(std::string_view body, std::size_t line, model_segment& s) {
  const auto set = [line](double& to, std::size_t* at, double x) {
    if (std::isnan(x)) return;
    to = x;
    if (at != nullptr) *at = line;
  };
  set(s.dx_km, nullptr, value_of(body, "Dx"));
  set(s.dz_km, nullptr, value_of(body, "Dz"));
  set(s.len_km, &s.len_line, value_of(body, "LEN"));
  set(s.wid_km, &s.wid_line, value_of(body, "WID"));
  set(s.dtop_km, &s.dtop_line, value_of(body, "Z2top"));
  set(s.top_lat, &s.top_line, value_of(body, "LAT"));
  set(s.top_lon, &s.top_line, value_of(body, "LON"));
  set(s.hyp_along_km, &s.hyp_line, value_of(body, "(X)"));
  set(s.hyp_down_km, &s.hyp_line, value_of(body, "(Z)"));
}

// The time windows' header checked against itself and against the rows,
// each disagreement said once: avTr against Ntw, LEN and SHF; each column
// line's windows against Ntw; SLIP against the sum of the windows, to the
// files' rounding (each column is rounded apart, to 0.001 m or so).
void check_windows(model& m, const std::vector<std::pair<std::size_t, std::size_t>>& window_columns,
                   std::size_t avtr_line) {
  const time_windows& w = m.windows;
  const auto note = [&m](const char* check, std::string message) {
    m.notes.push_back({check, std::move(message), true});
  };
  std::size_t most = 0;
  for (const auto& c : window_columns) most = std::max(most, c.second);
  const double n = w.stated > 0 ? w.stated : static_cast<double>(most);
  const double span = n * w.length_s - (n - 1) * w.overlap_s;
  if (!std::isnan(m.av_rise_s) && std::isfinite(span) && std::fabs(span - m.av_rise_s) > 0.05 + 1e-9) {
    note("time_windows_duration",
         "the header's avTr = " + shortest_text(m.av_rise_s) + " s (line " + std::to_string(avtr_line) +
             ") is not the windows' span Ntw x LEN - (Ntw - 1) x SHF = " + shortest_text(n) + " x " +
             shortest_text(w.length_s) + " - " + shortest_text(n - 1) + " x " + shortest_text(w.overlap_s) + " = " +
             shortest_text(span) + " s (line " + std::to_string(w.length_line) + "); the windows are written as stated");
  }
  if (w.stated > 0) {
    std::string lines;
    for (const auto& [line, count] : window_columns) {
      if (count == static_cast<std::size_t>(w.stated)) continue;
      lines += (lines.empty() ? "" : ", ") + std::to_string(count) + " on line " + std::to_string(line);
    }
    if (!lines.empty()) {
      note("time_windows_columns", "the header's Ntw = " + std::to_string(w.stated) + " (line " +
                                       std::to_string(w.count_line) + ") windows, and column lines name " + lines +
                                       "; each row's windows are written as its columns give them");
    }
  }
  std::size_t off = 0, first_line = 0;
  double first_slip = 0, first_sum = 0;
  for (const model_subfault& s : m.subfaults) {
    if (s.window_slip_m.empty() || std::isnan(s.slip_m)) continue;
    double sum = 0;
    for (double x : s.window_slip_m) sum += x;
    if (std::isnan(sum) || std::fabs(sum - s.slip_m) <= 0.01 + 1e-9) continue;
    if (off++ == 0) {
      first_line = s.line;
      first_slip = s.slip_m;
      first_sum = sum;
    }
  }
  if (off > 0) {
    note("time_windows_slip", "SLIP of " + std::to_string(off) + " of " + std::to_string(m.subfaults.size()) +
                                  " subfaults differs from the sum of its windows by more than 0.01 m (the first: "
                                  "line " + std::to_string(first_line) + ", SLIP = " + shortest_text(first_slip) +
                                  " m, windows " + shortest_text(first_sum) + " m); the windows are written");
  }
}

}  // namespace

bool looks_like_fsp(const std::string& head) {
  for (std::string_view line : detail::lines_of(head)) {
    const std::string_view t = trimmed(line);
    if (t.empty()) continue;
    if (t.front() != '%') return false;
    columns c;
    if (t.find("FINITE-SOURCE") != std::string_view::npos || t.find("EventTAG") != std::string_view::npos ||
        column_header(t.substr(1), 0, c)) {
      return true;
    }
  }
  return false;
}

model read_fsp(const std::string& text, const std::string& name) {
  model m;
  m.format = model_format::fsp;
  model_segment header;           // the header's values: the single segment, and what segments lack
  std::vector<model_segment> segments;
  std::vector<double> stated;     // Nsbfs of each segment
  std::vector<std::size_t> rows;  // rows read of each segment
  bool multi = false;
  columns cols;
  bool have_columns = false;
  double layers_left = 0;
  std::size_t avtr_line = 0;
  std::vector<std::pair<std::size_t, std::size_t>> window_columns;  // line, windows named
  const std::vector<std::string_view> lines = detail::lines_of(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t line = i + 1;
    const std::string_view t = trimmed(lines[i]);
    if (t.empty()) continue;
    if (t.front() != '%') {
      // A subfault.
      if (!have_columns) throw model_error(where(name, line) + ": a row before any column header line (% LAT LON ... SLIP ...)");
      if (multi && segments.empty()) throw model_error(where(name, line) + ": a row before the first % SEGMENT line");
      const std::vector<std::string_view> f = fields_of(t);
      if (f.size() != cols.count) {
        throw model_error(where(name, line) + ": " + std::to_string(f.size()) + " values, where the column header on line " +
                          std::to_string(cols.line) + " names " + std::to_string(cols.count) + " (" + cols.names + ")");
      }
      std::vector<double> x(f.size());
      const std::vector<std::string_view> names = fields_of(cols.names);
      for (std::size_t k = 0; k < f.size(); ++k) {
        if (!read_number(f[k], x[k])) {
          throw model_error(where(name, line) + ", column " + std::string(names[k]) + ": \"" + std::string(f[k]) +
                            "\" is not a number");
        }
        x[k] = detail::known(x[k]);
      }
      const auto at = [&](int c) { return c < 0 ? std::nan("") : x[static_cast<std::size_t>(c)]; };
      model_subfault s;
      s.line = line;
      s.segment = multi ? segments.size() - 1 : 0;
      s.depth_km = at(cols.z);
      s.slip_m = at(cols.slip);  // m
      s.rake = at(cols.rake);
      s.trup_s = at(cols.trup);
      s.rise_s = at(cols.rise);
      s.moment_nm = at(cols.moment);  // N m
      s.strike = at(cols.strike);
      s.dip = at(cols.dip);
      for (std::size_t w = 0; w < cols.tw.size(); ++w) {
        s.window_slip_m.push_back(at(cols.tw[w]));
        s.window_rake.push_back(w < cols.tw_rake.size() ? at(cols.tw_rake[w]) : std::nan(""));
      }
      if (cols.lat >= 0 && cols.lon >= 0) {
        s.lat = at(cols.lat);
        s.lon = at(cols.lon);
      } else if (cols.east >= 0 && cols.north >= 0) {
        // km east and north of the epicentre, the origin of the file's X and Y.
        if (std::isnan(m.hyp_lat) || std::isnan(m.hyp_lon)) {
          throw model_error(where(name, line) + ": positions in km from the epicentre, and the header's Loc line gives no LAT and LON");
        }
        s.lat = m.hyp_lat + at(cols.north) / earth_km / degree;
        s.lon = m.hyp_lon + at(cols.east) / (earth_km * correctly_rounded::cos_of(m.hyp_lat * degree)) / degree;
      }
      if (rows.size() <= s.segment) rows.resize(s.segment + 1, 0);
      ++rows[s.segment];
      m.subfaults.push_back(s);
      continue;
    }
    const std::string_view body = trimmed(t.substr(1));
    const std::size_t colon = body.find(':');
    const std::string_view label = colon == std::string_view::npos ? std::string_view{} : trimmed(body.substr(0, colon));
    const std::string up = upper(body);
    if (label == "Event") {
      m.event = std::string(trimmed(body.substr(colon + 1)));
    } else if (label == "EventTAG") {
      m.tag = std::string(trimmed(body.substr(colon + 1)));
    } else if (label == "Loc") {
      m.hyp_lat = value_of(body, "LAT");
      m.hyp_lon = value_of(body, "LON");
      m.hyp_depth_km = value_of(body, "DEP");
      m.hyp_line = line;
    } else if (label == "Size") {
      header.len_km = value_of(body, "LEN");
      header.wid_km = value_of(body, "WID");
      header.len_line = header.wid_line = line;
      m.mw = value_of(body, "Mw");
      m.moment_nm = value_of(body, "Mo");  // N m
    } else if (label == "Mech") {
      header.strike = value_of(body, "STRK");
      header.dip = value_of(body, "DIP");
      m.rake = value_of(body, "RAKE");
      header.dtop_km = value_of(body, "Htop");
      header.dtop_line = line;
    } else if (label == "Rupt") {
      header.hyp_along_km = value_of(body, "HypX");
      header.hyp_down_km = value_of(body, "Hypz");
      if (std::isnan(header.hyp_down_km)) header.hyp_down_km = value_of(body, "HypZ");
      header.hyp_line = line;
      m.av_rise_s = value_of(body, "avTr");
      avtr_line = line;
      m.av_vr_km_s = value_of(body, "avVr");
    } else if (label == "Invs") {
      // Also "LEN = .. s" of the time windows, which is not the fault's.
      for (const auto& [key, to] : {std::pair{"Nx", 0}, {"Nz", 1}}) {
        const double n = value_of(body, key);
        if (n >= 1 && n == std::floor(n) && n < 1e6) (to == 0 ? header.nx : header.nz) = static_cast<std::int32_t>(n);
      }
      const double dx = value_of(body, "Dx"), dz = value_of(body, "Dz");
      if (!std::isnan(dx)) header.dx_km = dx;
      if (!std::isnan(dz)) header.dz_km = dz;
      const double ntw = value_of(body, "Ntw");
      if (ntw >= 1 && ntw == std::floor(ntw) && ntw < 1e6) {
        m.windows.stated = static_cast<std::int32_t>(ntw);
        m.windows.count_line = line;
      }
      // The windows' length and overlap, in s: the line that gives SHF.
      const double shf = value_of(body, "SHF");
      if (!std::isnan(shf)) {
        m.windows.overlap_s = shf;
        m.windows.length_s = value_of(body, "LEN");
        m.windows.length_line = line;
      }
    } else if (label == "SVF") {
      const std::vector<std::string_view> f = fields_of(body.substr(colon + 1));
      if (!f.empty()) m.windows.shape = std::string(f.front());
    } else if (up.find("MULTISEGMENT") != std::string::npos) {
      multi = true;
    } else if (multi && up.find("SEGMENT") != std::string::npos && !std::isnan(value_of(body, "STRIKE"))) {
      model_segment s;
      s.strike = value_of(body, "STRIKE");
      s.dip = value_of(body, "DIP");
      segments.push_back(s);
    } else if (up.find("NO. OF LAYERS") != std::string::npos) {
      layers_left = value_of(body, "layers");
    } else if (up.find("COORDINATES ARE GIVEN FOR") != std::string::npos) {
      m.top_centre = up.find("TOP") != std::string::npos;
    } else if (up.find("NSBFS") != std::string::npos) {
      const double n = value_of(body, "Nsbfs");
      const std::size_t k = multi ? segments.size() : 1;
      if (k > 0) {
        if (stated.size() < k) stated.resize(k, std::nan(""));
        stated[k - 1] = n;
      }
    } else if (layers_left > 0) {
      // DEPTH P-VEL S-VEL DENS ...: km, km/s, km/s, g/cm^3; other lines of
      // the block (names, units) hold no number first.
      const std::vector<std::string_view> f = fields_of(body);
      double x[4];
      bool numbers = f.size() >= 4;
      for (std::size_t k = 0; numbers && k < 4; ++k) numbers = read_number(f[k], x[k]);
      if (numbers) {
        velocity_layer l;
        l.top_km = x[0];
        l.vs_m_s = detail::known(x[2]) * 1000;         // km/s
        l.density_kg_m3 = detail::known(x[3]) * 1000;  // g/cm^3
        m.layers.push_back(l);
        layers_left -= 1;
      }
    } else if (column_header(body, line, cols)) {
      have_columns = true;
      if (!cols.tw.empty()) window_columns.emplace_back(line, cols.tw.size());
      if (!cols.tw.empty() && m.windows.columns_line == 0) m.windows.columns_line = line;
    } else if (multi && !segments.empty()) {
      segment_values(body, line, segments.back());
    }
  }
  if (!multi) segments.push_back(header);
  for (model_segment& s : segments) {
    // What a segment block does not state is the header's.
    for (auto [field, fallback] : {std::pair{&s.dx_km, header.dx_km}, {&s.dz_km, header.dz_km},
                                   {&s.strike, header.strike}, {&s.dip, header.dip}}) {
      if (std::isnan(*field)) *field = fallback;
    }
    // Top-centre rows lie half a subfault up dip of their centres.
    if (m.top_centre && s.dz_km > 0) s.to_centre_down_km = s.dz_km / 2;
  }
  if (m.subfaults.empty()) throw model_error(name + ": no subfault rows (FSP rows follow a % LAT LON ... SLIP ... line)");
  rows.resize(segments.size(), 0);
  for (std::size_t k = 0; k < stated.size() && k < segments.size(); ++k) {
    if (!std::isnan(stated[k]) && stated[k] != static_cast<double>(rows[k])) {
      throw model_error(name + ": segment " + std::to_string(k + 1) + " states Nsbfs = " + shortest_text(stated[k]) +
                        " subfaults and has " + std::to_string(rows[k]) + " rows: a truncated or altered file");
    }
  }
  m.segments = segments;
  if (m.has_windows()) check_windows(m, window_columns, avtr_line);
  return m;
}

}  // namespace trislip
