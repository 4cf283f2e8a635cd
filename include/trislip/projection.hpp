// Geographic positions into the map projection of a user's mesh, through
// PROJ. The input is WGS84 longitude and latitude in degrees, as the
// finite-fault models and trislip's own points give them.
#pragma once

#include <memory>
#include <string>

namespace trislip {

// Whether this build projects positions at all (it was built with PROJ).
bool projection_available();

// The PROJ string of UTM zone |zone| on WGS84, in metres: zones 1 to 60
// north of the equator, -1 to -60 south (false northing 10,000 km), as
// SPECFEM3D's UTM_PROJECTION_ZONE numbers them. Throws
// std::invalid_argument for any other zone.
std::string utm_definition(int zone);

// The PROJ string of a local frame: transverse Mercator on WGS84 with
// scale 1 at its origin (lon, lat, degrees), x east and y north in metres
// from the origin. Throws std::invalid_argument for an origin off the globe.
std::string local_definition(double lon, double lat);

// A transformation from WGS84 longitude and latitude into the projected
// coordinate system `definition` (a PROJ string or a CRS PROJ knows,
// axis order as it states). Not for use by two threads at once.
class map_projection {
 public:
  // Throws std::invalid_argument naming the definition and PROJ's reason
  // when PROJ cannot make the transformation, or when this build has no PROJ.
  explicit map_projection(const std::string& definition);
  ~map_projection();
  map_projection(map_projection&&) noexcept;
  map_projection& operator=(map_projection&&) noexcept;

  struct position {
    double x = 0, y = 0;  // the CRS's first and second axes
    double north_deg = 0;  // grid azimuth of true north: clockwise from the second axis, degrees
  };
  // Throws std::invalid_argument when the point cannot be projected.
  position forward(double lon, double lat) const;

  const std::string& definition() const { return definition_; }

 private:
  struct state;
  std::string definition_;
  std::unique_ptr<state> s_;
};

}  // namespace trislip
