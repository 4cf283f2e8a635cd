// Where a model's subfaults and segments lie: positions on a sphere of
// the models' radius, flattened locally (degrees to km as the model
// writers convert them), frames of a fault plane, and each segment's
// plane from its rows with the header's own values checked against it.
#pragma once

#include <cstddef>
#include <vector>

#include "trislip/fault.hpp"

namespace trislip {
namespace detail {

inline constexpr double degree = 3.14159265358979323846 / 180, earth_km = 6371.0;

// A strike in [0, 360).
double normalised_strike(double s);

// km east and north of (lon0, lat0).
void offset_km(double lon0, double lat0, double lon, double lat, double& east, double& north);

// A position in the frame of a plane through (lon0, lat0, depth0) of the
// given strike and dip, km: along strike, down dip, and off the plane
// (positive on the side below it).
struct plane_position {
  double along = 0, down = 0, off = 0;
};
plane_position in_plane(double lon0, double lat0, double depth0, double strike, double dip, double lon,
                        double lat, double depth);
inline plane_position in_plane(const srf_plane& pl, double lon, double lat, double depth) {
  return in_plane(pl.elon, pl.elat, pl.dtop_km, pl.strike, pl.dip, lon, lat, depth);
}

// The straight distance between two positions, km.
double distance_km(double lon0, double lat0, double depth0, double lon, double lat, double depth);

// A subfault's centre, as building the fault placed it.
struct row_centre {
  double lon = 0, lat = 0, depth_km = 0;
};

// Each segment's plane from its rows' centres (rows[k] for segment k, the
// zero-slip rows among them): strike and dip the segment's, NSTK and NDIP
// the rows' grid at Dx and Dz, LEN and WID NSTK * Dx and NDIP * Dz, the
// top centre half a width up dip of the rows' middle; SHYP and DHYP the
// model's hypocentre in the segment's frame. Where a header value
// disagrees with the rows by more than half a subfault, one warning a kind
// into f.warnings. No planes when a segment lacks strike, dip, Dx, Dz or
// rows.
void planes_of_rows(const model& m, const std::vector<std::vector<row_centre>>& rows, fault& f);

}  // namespace detail
}  // namespace trislip
