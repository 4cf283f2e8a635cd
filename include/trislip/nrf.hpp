// SeisSol's kinematic sources: the NRF file, netCDF-4, in the layout of
// SeisSol's own converter from SRF, which SeisSol's reader takes as it is.
//
// Per source: its centre in the mesh's coordinates (m), its onset (s),
// sampling interval (s), rigidity mu (Pa), area (m^2), and three unit
// vectors in the mesh's axes: tan1 along the slip, tan2 the slip turned
// by 90 degrees in the fault plane, normal the fault's normal. Its slip
// rates (m/s) are SR1 (and a point's own SR2, along tan2) of trislip.srf,
// read as the converter reads them (the file's %13.5e cm/s x 0.01). SeisSol builds each source's moment
// tensor from mu, the area, the vectors and the mesh's own elastic
// constants; a mu of 0 would take the mesh's rigidity instead, so the
// model's rigidity is always written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "trislip/srf.hpp"

namespace trislip {

// Whether this build writes NRF files (it was built with netCDF and PROJ).
bool nrf_available();

struct nrf_options {
  // The mesh's coordinates as a PROJ string, as the converter takes it
  // ("+proj=utm +zone=11 +datum=WGS84 +units=m"); +axis= orders and turns
  // the axes (default enu: x east, y north, z up, 0 at the model's depth 0).
  std::string projection;
  bool shift_onsets = false;  // every onset less the smallest, so that the first is 0
};

struct nrf_summary {
  std::size_t sources = 0, samples = 0;  // samples: of component 1
  double m0_nm = 0;            // sum of mu * area * (the slip rates' sum x their interval)
  double onset_shift_s = 0;    // subtracted from every onset
  std::string axes = "enu";    // the mesh's axes, as +axis= gives them
  // The grid azimuth of true north at the sources (degrees, clockwise from
  // north's axis): each source's strike is turned by it, so that its
  // vectors are in the mesh's axes.
  double grid_north_min_deg = 0, grid_north_max_deg = 0;
};

// Checks the options: throws parameter_error naming "projection" for an
// empty one, a bad +axis= or one PROJ cannot project into (its words).
void check_nrf_options(const nrf_options& o);

// Writes the NRF file of the points (rigidity_pa one per point) at path,
// which netCDF creates (or empties). Everything is checked before the file
// is touched: throws std::invalid_argument for a bad point, rigidity or
// projection (parameter_error naming "projection"), std::runtime_error
// when netCDF fails.
nrf_summary write_nrf(const std::vector<srf_point>& points, const std::vector<double>& rigidity_pa,
                      const nrf_options& o, const std::string& path);

}  // namespace trislip
