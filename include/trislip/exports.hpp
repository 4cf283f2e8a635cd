// Source time functions in the files that wave-propagation and rupture
// codes read as they are, and the checks that a sampled function kept its
// slip. The values written are the library's doubles: text formats carry
// the shortest text that reads back as the exact double, miniSEED every
// double (FLOAT64), SAC float32 as that format stores.
//
// Which quantity each file holds is decided here, once: SW4, SPECFEM3D and
// PyLith read the normalised slip (slip / dmax, from 0 to 1); SAC and
// miniSEED the slip velocity, slip and acceleration in SI units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trislip/trislip.hpp"

namespace trislip {

// One thing a sampled function cannot be right about: check is
// "record_too_short" (the record ends before the longest pulse),
// "step_too_coarse" (fewer than 4 samples across the shortest pulse) or
// "slip_lost" (the slip at the last sample is more than 0.1% from dmax);
// message is one line with the numbers and the option to change.
struct sampling_warning {
  std::string check;
  std::string message;
};

inline constexpr double min_samples_per_pulse = 4;
inline constexpr double slip_tolerance = 0.001;  // of dmax

// final_slip is the slip at the last sample (the series' displacement.back()).
// The messages name the parameters with option_prefix before them ("--"
// for a command line's options).
std::vector<sampling_warning> check_sampling(const parameters& p, double final_slip,
                                             const char* option_prefix = "");

// slip / dmax at every sample: what SW4, SPECFEM3D and PyLith read.
std::vector<double> normalised_slip(const slip_series& s, const parameters& p);

enum class quantity { velocity, displacement, acceleration, normalised_slip };
const char* quantity_name(quantity q);  // "slip velocity", ..., "normalised slip"
const char* quantity_unit(quantity q);  // "m/s", "m", "m/s^2", "1"

// The network, station and location codes and the start time of SAC and
// miniSEED series.
struct record_codes {
  std::string network = "XX";    // 1 or 2 capital letters or digits
  std::string station = "STF";   // 1 to 5
  std::string location = "00";   // 0 to 2
  std::int64_t start_us = 0;     // the first sample, microseconds since 1970-01-01T00:00:00 UTC
};

inline constexpr const char* default_seed_id = "XX.STF.00";
inline constexpr const char* default_start_time = "1970-01-01T00:00:00";

// Reads "NET.STA.LOC" and "YYYY-MM-DDTHH:MM:SS[.ffffff][Z]" (years 1900 to
// 2999, which every SAC reader takes). Throws std::invalid_argument saying
// which part is wrong.
record_codes parse_record_codes(const std::string& seed_id, const std::string& start_time);

// The SEED channel code of a series: the band code of its sample rate, X
// (a derived or generated channel), then V, D or A for velocity,
// displacement (slip) or acceleration: "HXV" at 200 samples a second.
std::string channel_code(quantity q, double dt);

// Where a writer puts its bytes.
class byte_sink {
 public:
  virtual void write(const char* data, std::size_t n) = 0;

 protected:
  ~byte_sink() = default;
};

// The writers. Each takes the series synthesized for p.
// SW4 discrete time function: "t0 dt N", then the N normalised slips.
void write_sw4(const slip_series& s, const parameters& p, byte_sink& out);
// SPECFEM3D's external source time function, one normalised slip a line;
// with_comment adds a first line "# ..." saying what it is and for which
// DT and NSTEP (Cartesian reads it; the globe's DATA/stf must not have it).
void write_specfem(const slip_series& s, const parameters& p, bool with_comment, byte_sink& out);
// PyLith time history: time (s) and normalised slip.
void write_pylith(const slip_series& s, const parameters& p, byte_sink& out);
// SAC binary, header version 6, the velocity, displacement or
// acceleration as float32 in the machine's byte order.
void write_sac(const slip_series& s, const parameters& p, quantity q, const record_codes& c,
               byte_sink& out);
// miniSEED, 4096-byte records, FLOAT64: velocity, displacement and
// acceleration as three channels (channel_code).
void write_mseed(const slip_series& s, const parameters& p, const record_codes& c, byte_sink& out);

// One file of an export, by the name trislip-custom gives it.
struct export_file {
  std::string name;      // "trislip_sw4.txt"
  std::string quantity;  // "normalised slip"
  std::string unit;      // "1" (dimensionless)
  std::function<void(const slip_series&, const parameters&, const record_codes&, byte_sink&)> write;
};

// An export by the name a user types (sw4, specfem, specfem-globe, pylith,
// sac, mseed), with the files it writes.
struct export_format {
  std::string name;
  std::vector<export_file> files;
  std::int32_t min_samples;  // fewer cannot be read (SW4 needs 7)
};

const std::vector<export_format>& export_formats();
// Throws std::invalid_argument naming the known formats.
const export_format& find_export_format(const std::string& name);

// Writes what `write` puts into its sink to the file at path, replacing
// what was there. Throws std::runtime_error naming the file and the
// system's reason.
void write_to_file(const std::string& path, const std::function<void(byte_sink&)>& write);

// Writes one export file at path, as write_to_file does.
void write_export_file(const export_file& f, const slip_series& s, const parameters& p,
                       const record_codes& c, const std::string& path);

}  // namespace trislip
