#pragma once

#include <cstdint>

#include "trislip/records/list_record.hpp"
#include "trislip/trislip.hpp"

// The console report of a run, shared by trislip and trislip-custom.
namespace trislip {

// Records 1 to 9: the title, the parameters with taumin = 1/fmax and
// taumax = tr^(nv-1)/fmax, and the names of the result files.
void report_parameters(record_sink& out, const parameters& p);

// Records 10 to 12: the spectral constants of nfast samples dt apart and
// the highest frequency.
void report_spectrum(record_sink& out, std::int32_t nfast, double dt);

}  // namespace trislip
