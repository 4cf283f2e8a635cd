#pragma once

#include <cstdint>

#include "trislip/complex.hpp"
#include "trislip/records/list_record.hpp"
#include "trislip/records/unit.hpp"
#include "trislip/synthesis.hpp"

// The two result files: a header record, then one formatted record per
// sample (time series) or per frequency (spectrum).
namespace trislip {

inline constexpr const char* slip_file_name = "Tri_Slip.csv";
inline constexpr const char* amp_file_name = "Tri_Amp.csv";
inline constexpr const char* slip_header = "time(s),velocity,displacement,acceleration";
inline constexpr const char* amp_header = "freq(Hz),abs(vel),abs(acc)";

// Opens unit, writes the header, synthesises the slip velocity into trisv
// (capacity elements) with one record per sample, and closes the unit.
// Parameters the synthesis cannot handle are rejected before the file is
// touched.
void write_slip_file(file_unit& unit, const slip_params& p, double* trisv,
                     std::int32_t capacity);

// Transforms trisv[0 .. nt-1] in triamp (mom elements) and writes the
// amplitude spectrum to unit. A length beyond mom is first reported on
// console as "from Triangle: nfast > MOM !" with the two numbers; a length
// that cannot be transformed is then rejected (std::invalid_argument)
// before the file is touched.
void write_amp_file(file_unit& unit, record_sink& console, std::int32_t nt,
                    double dt, const double* trisv, dcomplex* triamp,
                    std::int32_t mom);

}  // namespace trislip
