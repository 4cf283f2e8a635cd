// Kinematic sources in the Standard Rupture Format (SRF), versions 1.0
// and 2.0: one point, or a whole fault of subfaults, each with its own
// regularized triangle slip velocity function.
//
// Units are SRF's: degrees, km, cm^2, s, cm, cm/s (2.0 adds VS in cm/s and
// DEN in g/cm^3); the points are given in SI units and converted here.
// Each point's slip-rate function (or its own samples, where it has them)
// is its slip velocity in cm/s from the first sample up to the end of its
// function, and SLIP1 is DT times the sum of the samples as written, so
// that readers that integrate the samples and readers that take SLIP1
// agree.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trislip/exports.hpp"
#include "trislip/trislip.hpp"

namespace trislip {

struct srf_point {
  double lon = 0, lat = 0;        // degrees
  double depth_km = 0;            // of the point, km
  double strike = 0, dip = 0, rake = 0;  // degrees
  double area_m2 = 0;
  double tinit_s = 0;             // rupture time, s
  double vs_m_s = std::nan("");   // version 2.0: shear-wave speed, m/s
  double density_kg_m3 = std::nan("");  // version 2.0: density, kg/m^3
  parameters p;                   // its function; p.dmax is its slip, m
  // A slip-rate function of its own (m/s) in place of p's, where not
  // empty: sample i is the rate at tinit_s + i * p.dt and holds from half
  // a step before that time to half a step after, so that its slip, the
  // sum of the samples times p.dt, is p.dmax (within 1e-9 of it). The
  // function ends half a step after its last sample. SRF's own samples.
  std::vector<double> rate_m_s;
  // Beside them, where its slip turns in time: its rate across its rake
  // (at rake + 90 degrees, m/s), at the same step, adding up to no slip;
  // written as SRF's and NRF's component 2.
  std::vector<double> rate2_m_s;
};

// One segment of the PLANE block, in SRF's units.
struct srf_plane {
  double elon = 0, elat = 0;      // top centre, degrees
  std::int32_t nstk = 1, ndip = 1;
  double len_km = 0, wid_km = 0;
  double strike = 0, dip = 0;
  double dtop_km = 0;             // depth of the top edge
  double shyp_km = 0, dhyp_km = 0;  // hypocentre along strike from the centre, down dip from the top
};

enum class srf_version { v1_0, v2_0 };

// Throws parameter_error naming the field (lon, lat, depth_km, strike,
// dip, rake, area_m2, tinit_s, vs_m_s, density_kg_m3, rate_m_s, or a
// parameter of the function, dmax being the slip) and its rule: angles in
// range, depth >= 0, area, slip, VS and DEN (in 2.0) > 0, an own rate's
// samples finite and their slip dmax, rate2_m_s only beside rate_m_s.
void check_srf_point(const srf_point& pt, srf_version v);

// The segment of one square subfault of the point's area centred on it.
// Throws std::invalid_argument when it would reach above the surface.
srf_plane plane_of_point(const srf_point& pt);

// Reads "ELON ELAT NSTK NDIP LEN WID STK DIP DTOP SHYP DHYP", separated by
// commas or blanks. Throws std::invalid_argument saying what is wrong.
srf_plane parse_srf_plane(const std::string& text);

// A sampling warning of one point, by its index in the list.
struct srf_warning {
  std::size_t point;
  sampling_warning w;
};

struct srf_summary {
  std::size_t points = 0;
  double potency_m3 = 0;          // sum of area times slip
  std::vector<double> slip1_m;    // each point's SLIP1 as written, in m: its sampled slip
  std::vector<srf_warning> warnings;  // in point order
};

// Writes the file: the version, the PLANE block when planes is not empty,
// then every point. The points are formatted on `threads` threads and
// written in order as they are done, so memory stays bounded by the
// points plus a fixed buffer per thread; the bytes do not depend on the
// number of threads. Checks every point first (std::invalid_argument
// names the point's index).
srf_summary write_srf(const std::vector<srf_point>& points, const std::vector<srf_plane>& planes,
                      srf_version v, byte_sink& out, unsigned threads = 1);

// What write_srf finds of the points, without writing them: the same
// checks, sampling warnings and potency (slip1_m empty, the samples never
// edited). For a run that only says what it would warn of.
srf_summary check_srf(const std::vector<srf_point>& points, srf_version v);

// Whether a rigidity (Pa) and a point's VS (m/s) and DEN (kg/m^3) agree:
// DEN x VS^2 within 0.1% of it, or either of VS and DEN not given (NaN).
bool rigidity_agrees(double mu_pa, double vs_m_s, double density_kg_m3);

// Checks the points of a writer of moment sources: each as SRF 1.0 takes
// it, and one finite rigidity > 0 (Pa) a point that agrees with the
// point's VS and DEN where it has them. Throws std::invalid_argument
// naming the writer or the point's index.
void check_points_and_rigidity(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                               const char* writer);

// Each point's SR1 samples (component 2: SR2) as write_srf writes them (the
// %13.5e text, in cm/s) read back and turned to m/s by x 0.01, as SeisSol's
// converter reads an SRF: point k's samples are m_s[first[k]] to
// m_s[first[k + 1] - 1].
struct srf_sr1 {
  std::vector<double> m_s;
  std::vector<std::size_t> first;  // one more than the points
};
srf_sr1 srf_sr1_as_written(const std::vector<srf_point>& points, int component = 1);

// The seismic moment of a potency for a rigidity mu (Pa), N m, and its
// moment magnitude, IASPEI: (2/3)(log10 M0 - 9.1).
inline double moment_magnitude(double m0) { return 2.0 / 3.0 * (std::log10(m0) - 9.1); }

}  // namespace trislip
