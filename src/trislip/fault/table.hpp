// The CSV table of subfaults that trislip-custom's --subfaults and
// trislip-fault read alike.
#pragma once

#include <string>
#include <vector>

#include "trislip/fault.hpp"

namespace trislip::detail {

// The columns: the required first, then the optional ones, whose empty
// cells are unknown.
inline constexpr const char* table_column[] = {"lon",     "lat", "depth_km", "strike", "dip",    "rake",
                                               "area_m2", "slip_m", "tinit_s", "fmax_hz", "tr", "ar",
                                               "nv",      "vs_m_s", "density_kg_m3", "rise_s"};
inline constexpr int table_required = 9, table_columns = 16;

// Every row as a subfault (tinit_s as its rupture time), unknown values
// not-a-number. Throws model_error naming the file (as `name`), the line
// and the column for a missing column, an empty required cell or a cell
// that is not a number.
std::vector<model_subfault> read_table(const std::string& text, const std::string& name);

}  // namespace trislip::detail
