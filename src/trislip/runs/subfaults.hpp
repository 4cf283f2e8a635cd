#pragma once

#include <string>
#include <vector>

#include "trislip/fault/model_text.hpp"
#include "trislip/srf.hpp"

namespace trislip {

// Reads a table of subfaults whose header names its columns: required
// lon, lat, depth_km, strike, dip, rake, area_m2, slip_m, tinit_s;
// optional fmax_hz, tr, ar, nv, vs_m_s, density_kg_m3, which otherwise
// take the values of `defaults` (its p.dmax is replaced by each row's
// slip). Every row is checked as a point of version v. Throws refusal
// naming the file, the line and the column.
std::vector<srf_point> read_subfaults(const std::string& path, const srf_point& defaults, srf_version v);

// The same from the table's text; messages call it `where`.
std::vector<srf_point> subfaults_of(const std::string& text, const std::string& where, const srf_point& defaults,
                                    srf_version v);

}  // namespace trislip
