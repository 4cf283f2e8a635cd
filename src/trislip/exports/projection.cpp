// Map projections through PROJ: one context and one transformation per
// projection, so that two projections can be used on two threads.
#include "trislip/projection.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#ifdef TRISLIP_HAVE_PROJ
#include <proj.h>

#include "shared_library.hpp"
#endif

#include "trislip/text.hpp"

namespace trislip {

std::string utm_definition(int zone) {
  if (zone == 0 || zone < -60 || zone > 60) {
    throw std::invalid_argument("UTM zone " + std::to_string(zone) +
                                ": must be 1 to 60 (north of the equator) or -1 to -60 (south)");
  }
  return "+proj=utm +zone=" + std::to_string(zone < 0 ? -zone : zone) + (zone < 0 ? " +south" : "") +
         " +datum=WGS84 +units=m";
}

std::string local_definition(double lon, double lat) {
  if (!(std::fabs(lon) <= 180 && std::fabs(lat) < 90)) {
    throw std::invalid_argument("origin " + shortest_text(lon) + "," + shortest_text(lat) +
                                ": the longitude must be from -180 to 180 and the latitude between -90 and 90");
  }
  return "+proj=tmerc +lat_0=" + shortest_text(lat) + " +lon_0=" + shortest_text(lon) +
         " +k_0=1 +x_0=0 +y_0=0 +datum=WGS84 +units=m";
}

#ifdef TRISLIP_HAVE_PROJ

namespace {

// PROJ's functions, from the library this build was linked against,
// opened the first time a projection is made.
#define TRISLIP_PROJ_FUNCTIONS(X)                                                                        \
  X(proj_context_create) X(proj_context_destroy) X(proj_context_errno) X(proj_context_errno_string)     \
  X(proj_coord) X(proj_create_crs_to_crs) X(proj_destroy) X(proj_errno) X(proj_errno_reset) X(proj_log_level) \
  X(proj_trans)

TRISLIP_OPENED_LIBRARY(proj_library, proj, TRISLIP_PROJ_SONAME, "PROJ", TRISLIP_PROJ_FUNCTIONS)

}  // namespace

bool projection_available() { return proj().error.empty(); }

struct map_projection::state {
  PJ_CONTEXT* context = nullptr;
  PJ* to_grid = nullptr;
  ~state() {
    if (to_grid) proj().proj_destroy(to_grid);
    if (context) proj().proj_context_destroy(context);
  }
};

map_projection::map_projection(const std::string& definition) : definition_(definition), s_(new state) {
  if (!projection_available()) throw std::invalid_argument("projection \"" + definition + "\": " + proj().error);
  s_->context = proj().proj_context_create();
  if (!s_->context) throw std::invalid_argument("projection " + definition + ": PROJ could not start");
  // PROJ would otherwise print its own complaint on standard error as well.
  proj().proj_log_level(s_->context, PJ_LOG_NONE);
  // A PROJ string names a projection; as a coordinate system it needs +type=crs.
  std::string target = definition;
  if (target.find("+proj=") != std::string::npos && target.find("+type=crs") == std::string::npos) {
    target += " +type=crs";
  }
  s_->to_grid = proj().proj_create_crs_to_crs(s_->context, "+proj=longlat +datum=WGS84 +type=crs", target.c_str(), nullptr);
  if (!s_->to_grid) {
    const int e = proj().proj_context_errno(s_->context);
    throw std::invalid_argument("projection \"" + definition + "\": " +
                                (e ? proj().proj_context_errno_string(s_->context, e) : "PROJ cannot project into it"));
  }
}

map_projection::position map_projection::forward(double lon, double lat) const {
  if (!(std::fabs(lon) <= 360 && std::fabs(lat) <= 90)) {
    throw std::invalid_argument("position " + shortest_text(lon) + "," + shortest_text(lat) +
                                ": not a longitude and latitude");
  }
  const auto at = [&](double la) {
    proj().proj_errno_reset(s_->to_grid);
    const PJ_COORD c = proj().proj_trans(s_->to_grid, PJ_FWD, proj().proj_coord(lon, la, 0, 0));
    if (proj().proj_errno(s_->to_grid) != 0 || !std::isfinite(c.xy.x) || !std::isfinite(c.xy.y)) {
      throw std::invalid_argument("position " + shortest_text(lon) + "," + shortest_text(la) +
                                  ": outside the projection \"" + definition_ + "\"");
    }
    return c;
  };
  const PJ_COORD c = at(lat);
  // True north on the grid: the direction between two points 1e-5 degree
  // (about 1 m) either side along the meridian.
  const double h = 1e-5;
  const PJ_COORD s = at(std::fmax(lat - h, -90.0)), n = at(std::fmin(lat + h, 90.0));
  position p;
  p.x = c.xy.x;
  p.y = c.xy.y;
  p.north_deg = std::atan2(n.xy.x - s.xy.x, n.xy.y - s.xy.y) * (180 / 3.14159265358979323846);
  return p;
}

#else

bool projection_available() { return false; }

struct map_projection::state {};

map_projection::map_projection(const std::string& definition) : definition_(definition) {
  throw std::invalid_argument("projection \"" + definition +
                              "\": this build of trislip has no PROJ (Debian's libproj-dev) to project with");
}

map_projection::position map_projection::forward(double, double) const { return {}; }

#endif

map_projection::~map_projection() = default;
map_projection::map_projection(map_projection&&) noexcept = default;
map_projection& map_projection::operator=(map_projection&&) noexcept = default;

}  // namespace trislip
