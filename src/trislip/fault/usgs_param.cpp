// The USGS "basic inversion" parameter file: per segment a
// "#Fault_segment" line with its grid (nx Dx, ny Dy), the boundary polygon,
// then nx * ny rows "lat lon depth slip rake strike dip t_rup t_ris t_fal
// mo" in degrees, km, cm, degrees, s and dyne cm.
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "trislip/fault/geometry.hpp"
#include "trislip/fault/model_text.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

using detail::fields_of;
using detail::trimmed;
using detail::upper;
using detail::value_of;
using detail::where;


// The number after "NAME:" ("Lon:  -71.67").
double after_colon(std::string_view line, std::string_view name) {
  const std::size_t at = line.find(name);
  if (at == std::string_view::npos) return std::nan("");
  std::size_t i = at + name.size();
  while (i < line.size() && (line[i] == ' ' || line[i] == ':')) ++i;
  double x = 0;
  const auto r = std::from_chars(line.data() + i, line.data() + line.size(), x);
  return r.ec == std::errc() ? detail::known(x) : std::nan("");
}

// The point sources a subfault has along one side of the boundary: the
// side runs from the first row's point to the corner, n * d - d / n_p
// long, where d is the rows' spacing, measured from the first row to the
// last one of that side (the #Fault_segment line rounds Dx and Dy to two
// decimals; measured alike, side and spacing share their small errors).
// For a segment one subfault wide, d is the line's.
double point_sources(double side_km, double rows_span_km, std::int32_t n, double d_line) {
  const double d = n > 1 ? rows_span_km / (n - 1) : d_line;
  return d / (n * d - side_km);
}

struct corner {
  double lon = 0, lat = 0, depth = 0;
};

const char* const param_column[] = {"lat", "lon", "depth", "slip", "rake", "strike", "dip", "t_rup", "t_ris", "t_fal", "mo"};
constexpr std::size_t param_columns = 11;

}  // namespace

bool looks_like_usgs_param(const std::string& head) {
  for (std::string_view line : detail::lines_of(head)) {
    const std::string_view t = trimmed(line);
    if (t.empty()) continue;
    return t.rfind("#Total number of fault_segments", 0) == 0 || t.rfind("#Fault_segment", 0) == 0;
  }
  return false;
}

model read_usgs_param(const std::string& text, const std::string& name) {
  model m;
  m.format = model_format::usgs_param;
  const std::vector<std::string_view> lines = detail::lines_of(text);
  double stated_segments = std::nan("");
  std::vector<std::size_t> rows;
  std::vector<std::size_t> segment_line;
  enum class part { none, corners, subfaults } in = part::none;
  std::vector<corner> polygon;                  // the boundary being read
  std::vector<std::vector<corner>> corners;     // each segment's boundary, as written
  std::vector<std::pair<double, double>> hyp_cell;  // each segment's hypocentre cell (i, j), from 1
  const auto close_corners = [&] {
    // The top edge: the two corners at the least depth; its middle is the
    // segment's top centre.
    if (m.segments.empty() || polygon.size() < 4) return;
    model_segment& s = m.segments.back();
    const auto& p = polygon;
    std::size_t a = 0;
    for (std::size_t k = 1; k < 4; ++k) {
      if (p[k].depth < p[a].depth) a = k;
    }
    std::size_t b = a == 0 ? 1 : 0;
    for (std::size_t k = 0; k < 4; ++k) {
      if (k != a && (p[k].depth < p[b].depth || (p[k].depth == p[b].depth && b == a))) b = k;
    }
    s.top_lon = (p[a].lon + p[b].lon) / 2;
    s.top_lat = (p[a].lat + p[b].lat) / 2;
    s.dtop_km = p[a].depth;
    corners.back() = polygon;
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::size_t line = i + 1;
    const std::string_view t = trimmed(lines[i]);
    if (t.empty()) continue;
    if (t.front() == '#') {
      if (in == part::corners) close_corners();
      in = part::none;
      const std::string up = upper(t);
      if (up.rfind("#TOTAL NUMBER OF FAULT_SEGMENTS", 0) == 0) {
        stated_segments = value_of(t, "fault_segments");
      } else if (up.rfind("#FAULT_SEGMENT", 0) == 0) {
        model_segment s;
        const double nx = value_of(t, "nx(Along-strike)"), ny = value_of(t, "ny(downdip)");
        s.dx_km = value_of(t, "Dx");
        s.dz_km = value_of(t, "Dy");
        if (!(nx >= 1 && nx == std::floor(nx) && nx < 1e6 && ny >= 1 && ny == std::floor(ny) && ny < 1e6) ||
            !(s.dx_km > 0) || !(s.dz_km > 0)) {
          throw model_error(where(name, line) + ": a #Fault_segment line needs nx(Along-strike)= .. Dx = ..km ny(downdip)= .. Dy = ..km");
        }
        s.nx = static_cast<std::int32_t>(nx);
        s.nz = static_cast<std::int32_t>(ny);
        m.segments.push_back(s);
        corners.emplace_back();
        hyp_cell.emplace_back(std::nan(""), std::nan(""));
        rows.push_back(0);
        segment_line.push_back(line);
      } else if (up.rfind("#BOUNDARY", 0) == 0 && !m.segments.empty()) {
        // "EQ in cell ( i, j)": the hypocentre in subfault i along strike, j down dip.
        model_segment& s = m.segments.back();
        const std::size_t cell = t.find('(');
        if (cell != std::string_view::npos) {
          const std::vector<std::string_view> f = fields_of(t.substr(cell + 1));
          double ci = 0, cj = 0;
          std::string a(f.size() > 0 ? f[0] : ""), b(f.size() > 1 ? f[1] : "");
          while (!a.empty() && (a.back() == ',' || a.back() == ')' || a.back() == '.')) a.pop_back();
          while (!b.empty() && (b.back() == ',' || b.back() == ')' || b.back() == '.')) b.pop_back();
          if (read_number(a, ci) && read_number(b, cj)) {
            s.hyp_along_km = (ci - 0.5) * s.dx_km;
            s.hyp_down_km = (cj - 0.5) * s.dz_km;
            s.hyp_line = line;
            hyp_cell.back() = {ci, cj};
          }
        }
        // The polygon that follows is the writer's claim of where the
        // segment lies: its shallow side's middle and depth.
        s.top_line = s.dtop_line = line;
        if (std::isnan(m.hyp_lon)) {
          m.hyp_lon = after_colon(t, "Lon");
          m.hyp_lat = after_colon(t, "Lat");
          m.hyp_line = line;
        }
      } else if (up.find("DEPTH") != std::string::npos && up.find("SLIP") == std::string::npos) {
        in = part::corners;
        polygon.clear();
      } else if (up.find("SLIP") != std::string::npos) {
        // The column header: its names in the order the writer uses.
        const std::vector<std::string_view> f = fields_of(t.substr(1));
        bool same = f.size() == param_columns;
        for (std::size_t k = 0; same && k < param_columns; ++k) {
          std::string n(f[k]);
          for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          if (!n.empty() && n.back() == '.') n.pop_back();
          same = n == param_column[k];
        }
        if (!same) {
          throw model_error(where(name, line) + ": the columns must be \"#Lat. Lon. depth slip rake strike dip t_rup t_ris t_fal mo\"");
        }
        if (m.segments.empty()) throw model_error(where(name, line) + ": rows before any #Fault_segment line");
        in = part::subfaults;
      }
      continue;
    }
    const std::vector<std::string_view> f = fields_of(t);
    if (in == part::corners) {
      double x[3];
      if (f.size() != 3 || !read_number(f[0], x[0]) || !read_number(f[1], x[1]) || !read_number(f[2], x[2])) {
        throw model_error(where(name, line) + ": a corner of the boundary must be three numbers, lon lat depth");
      }
      polygon.push_back({x[0], x[1], x[2]});
      continue;
    }
    if (in != part::subfaults) throw model_error(where(name, line) + ": a row outside a segment's subfault rows");
    if (f.size() != param_columns) {
      throw model_error(where(name, line) + ": " + std::to_string(f.size()) +
                        " values, where a row has 11 (lat lon depth slip rake strike dip t_rup t_ris t_fal mo)");
    }
    double x[param_columns];
    for (std::size_t k = 0; k < param_columns; ++k) {
      if (!read_number(f[k], x[k])) {
        throw model_error(where(name, line) + ", column " + param_column[k] + ": \"" + std::string(f[k]) + "\" is not a number");
      }
      x[k] = detail::known(x[k]);
    }
    model_subfault s;
    s.line = line;
    s.segment = m.segments.size() - 1;
    s.lat = x[0];
    s.lon = x[1];
    s.depth_km = x[2];
    s.slip_m = x[3] / 100;  // cm
    s.rake = x[4];
    s.strike = x[5];
    s.dip = x[6];
    s.trup_s = x[7];
    s.rise_s = x[8] + x[9];  // rise and fall of the writer's asymmetric cosine
    s.moment_nm = x[10] * 1e-7;  // dyne cm
    m.subfaults.push_back(s);
    ++rows.back();
  }
  if (in == part::corners) close_corners();
  if (m.segments.empty()) throw model_error(name + ": no #Fault_segment line");
  for (std::size_t k = 0; k < m.segments.size(); ++k) {
    const model_segment& s = m.segments[k];
    const auto want = static_cast<std::size_t>(s.nx) * static_cast<std::size_t>(s.nz);
    if (rows[k] != want) {
      throw model_error(where(name, segment_line[k]) + ": segment " + std::to_string(k + 1) + " has " +
                        std::to_string(s.nx) + " x " + std::to_string(s.nz) + " subfaults and " +
                        std::to_string(rows[k]) + " rows: a truncated or altered file");
    }
  }
  if (!std::isnan(stated_segments) && stated_segments != static_cast<double>(m.segments.size())) {
    throw model_error(name + ": the file states " + shortest_text(stated_segments) +
                      " fault segments and has " + std::to_string(m.segments.size()));
  }
  // Each segment's strike and dip: its first row's (rows give their own).
  for (const model_subfault& s : m.subfaults) {
    model_segment& g = m.segments[s.segment];
    if (std::isnan(g.strike)) g.strike = s.strike;
    if (std::isnan(g.dip)) g.dip = s.dip;
  }
  // Each row is its subfault's first point source: the writer
  // (write_model in model_parameters.f95) splits a subfault into nx_p x
  // ny_p point sources and writes point_sources(:, 1, subfault), so the
  // centre lies (Dx - Dx/nx_p)/2 along strike and (Dy - Dy/ny_p)/2 down
  // dip of the row. The boundary's corners are point sources too: corner
  // 1 the first row's, corner 2 the first of the last row of subfaults,
  // corner 4 the last along strike of the first row.
  std::string half;
  std::size_t first = 0;
  for (std::size_t k = 0; k < m.segments.size(); ++k) {
    model_segment& g = m.segments[k];
    const auto at = [&](std::int32_t i, std::int32_t j) -> const model_subfault& {
      return m.subfaults[first + static_cast<std::size_t>(j) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(i)];
    };
    const auto distance = [](const model_subfault& r, const corner& c) {
      return detail::distance_km(r.lon, r.lat, r.depth_km, c.lon, c.lat, c.depth);
    };
    double along = std::nan(""), down = std::nan("");
    const std::vector<corner>& c = corners[k];
    if (c.size() >= 4) {
      const model_subfault &r0 = at(0, 0), &rx = at(g.nx - 1, 0), &rz = at(0, g.nz - 1);
      const corner last_row{rz.lon, rz.lat, rz.depth_km}, last_along{rx.lon, rx.lat, rx.depth_km};
      along = point_sources(distance(r0, c[3]), distance(r0, last_along), g.nx, g.dx_km);
      down = point_sources(distance(r0, c[1]), distance(r0, last_row), g.nz, g.dz_km);
    }
    const auto whole = [](double n) { return n >= 0.9 && n < 1e6 && std::fabs(n - std::round(n)) <= 0.1; };
    if (whole(along) && whole(down)) {
      g.to_centre_along_km = (g.dx_km - g.dx_km / std::round(along)) / 2;
      g.to_centre_down_km = (g.dz_km - g.dz_km / std::round(down)) / 2;
    } else {
      g.to_centre_along_km = g.dx_km / 2;
      g.to_centre_down_km = g.dz_km / 2;
      half += std::string(half.empty() ? "" : "; ") + "segment " + std::to_string(k + 1) + " (line " +
              std::to_string(segment_line[k]) + "): " +
              (c.size() >= 4 ? "its boundary gives " + shortest_text(std::round(along * 100) / 100) + " x " +
                                   shortest_text(std::round(down * 100) / 100) + " point sources a subfault"
                             : std::string("no boundary to count its point sources"));
    }
    // The hypocentre's depth, which the file does not state: the centre
    // of its cell, where the writer puts it.
    const auto [ci, cj] = hyp_cell[k];
    if (std::isnan(m.hyp_depth_km) && ci >= 1 && ci <= g.nx && cj >= 1 && cj <= g.nz && ci == std::floor(ci) &&
        cj == std::floor(cj)) {
      const model_subfault& r = at(static_cast<std::int32_t>(ci) - 1, static_cast<std::int32_t>(cj) - 1);
      double lon = r.lon, lat = r.lat, depth = r.depth_km;
      move_along_strike(lon, lat, r.strike, g.to_centre_along_km);
      move_down_dip(lon, lat, depth, r.strike, r.dip, g.to_centre_down_km);
      m.hyp_depth_km = depth;
    }
    first += static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.nz);
  }
  if (!half.empty()) {
    m.notes.push_back({"centre_from_half_a_subfault",
                       "rows taken as their subfaults' first corner and moved half a subfault along strike and "
                       "down dip to the centre, since the point sources of a subfault are not a whole number: " +
                           half,
                       false});
  }
  return m;
}

}  // namespace trislip
