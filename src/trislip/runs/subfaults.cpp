#include "trislip/runs/subfaults.hpp"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "trislip/fault/table.hpp"
#include "trislip/runs/run_steps.hpp"
#include "trislip/text.hpp"

namespace trislip {

std::vector<srf_point> read_subfaults(const std::string& path, const srf_point& defaults, srf_version v) {
  const std::string where = "--subfaults " + path;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw refusal(where + ": cannot read: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return subfaults_of(text.str(), where, defaults, v);
}

std::vector<srf_point> subfaults_of(const std::string& text, const std::string& where, const srf_point& defaults,
                                    srf_version v) {
  std::vector<model_subfault> rows;
  try {
    rows = detail::read_table(text, where);
  } catch (const model_error& e) {
    throw refusal(e.what());
  }
  std::vector<srf_point> points;
  points.reserve(rows.size());
  for (const model_subfault& s : rows) {
    const std::string line = where + ": line " + std::to_string(s.line);
    const auto value = [](double x, double fallback) { return std::isnan(x) ? fallback : x; };
    srf_point pt = defaults;
    pt.lon = s.lon;
    pt.lat = s.lat;
    pt.depth_km = s.depth_km;
    pt.strike = s.strike;
    pt.dip = s.dip;
    pt.rake = s.rake;
    pt.area_m2 = s.area_m2;
    pt.p.dmax = s.slip_m;
    pt.tinit_s = s.trup_s;
    pt.p.fmax = value(s.fmax_hz, defaults.p.fmax);
    pt.p.tr = value(s.tr, defaults.p.tr);
    pt.p.ar = value(s.ar, defaults.p.ar);
    const double nv = value(s.nv, defaults.p.nv);
    if (nv != std::floor(nv) || nv < 1 || nv > max_pulses) {
      throw refusal(line + ", column nv: " + shortest_text(nv) + " is not a whole number from 1 to 64");
    }
    pt.p.nv = static_cast<std::int32_t>(nv);
    pt.vs_m_s = value(s.vs_m_s, defaults.vs_m_s);
    pt.density_kg_m3 = value(s.density_kg_m3, defaults.density_kg_m3);
    try {
      check_srf_point(pt, v);
    } catch (const parameter_error& e) {
      const std::string name = e.name() == "dmax" ? "slip_m" : e.name() == "fmax" ? "fmax_hz" : e.name();
      throw refusal(line + ", column " + name + ": " + e.value() + " must be " + e.rule());
    }
    points.push_back(pt);
  }
  if (points.empty()) throw refusal(where + ": no subfaults in the table");
  return points;
}

}  // namespace trislip
