// A Standard Rupture Format file as the model: versions 1.0 and 2.0, read
// as SCEC's own reader reads them (blank-separated fields in any line
// layout, lines starting with # skipped), an optional PLANE block of any
// number of segments, then one or more POINTS blocks.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "model_text.hpp"
#include "trislip/fault.hpp"
#include "trislip/text.hpp"

namespace trislip {
namespace {

struct token {
  std::string_view text;
  std::size_t line;
};

// The file's fields (the first `most` of them), each with its line; a
// line whose first field starts with # is a comment.
std::vector<token> tokens_of(const std::string& text, std::size_t most = SIZE_MAX) {
  std::vector<token> out;
  const std::vector<std::string_view> lines = detail::lines_of(text);
  for (std::size_t i = 0; i < lines.size() && out.size() < most; ++i) {
    const std::vector<std::string_view> fields = detail::fields_of(lines[i]);
    if (!fields.empty() && fields[0].front() == '#') continue;
    for (std::string_view f : fields) out.push_back({f, i + 1});
  }
  return out;
}

template <class What>
std::string text_of(const What& what) {
  if constexpr (std::is_invocable_v<const What&>) {
    return what();
  } else {
    return std::string(what);
  }
}

class reader {
 public:
  reader(const std::string& text, const std::string& name) : tokens_(tokens_of(text)), name_(name) {}

  bool done() const { return at_ >= tokens_.size(); }
  std::size_t left() const { return tokens_.size() - at_; }
  const token* peek() const { return done() ? nullptr : &tokens_[at_]; }

  // The next field as a number. `what` names it in a refusal: a text, or
  // a function that makes one, so that a field read well costs no text.
  template <class What>
  double number(const What& what) {
    const token& t = next(what);
    std::string_view s = t.text;
    if (s.size() > 1 && s.front() == '+') s.remove_prefix(1);
    double x = 0;
    if (!read_number(s, x) || !std::isfinite(x)) {
      throw model_error(detail::where(name_, t.line) + ": " + text_of(what) + ": \"" + std::string(t.text) +
                        "\" is not a number");
    }
    return x;
  }
  // A count: a whole number from 0 to `most`.
  template <class What>
  std::size_t count(const What& what, double most) {
    const std::size_t line = peek() ? peek()->line : last_line();
    const double x = number(what);
    if (!(x >= 0 && x <= most && x == std::floor(x))) {
      throw model_error(detail::where(name_, line) + ": " + text_of(what) + " " + shortest_text(x) +
                        ": must be a whole number from 0 to " + std::to_string(static_cast<long long>(most)));
    }
    return static_cast<std::size_t>(x);
  }
  template <class What>
  const token& next(const What& what) {
    if (done()) {
      throw model_error(detail::where(name_, last_line()) + ": the file ends where " + text_of(what) +
                        " should follow: it is cut short");
    }
    return tokens_[at_++];
  }
  std::size_t last_line() const { return tokens_.empty() ? 1 : tokens_.back().line; }

 private:
  std::vector<token> tokens_;
  std::size_t at_ = 0;
  std::string name_;
};

constexpr double most_points = 1e8, most_samples = 67108864;

// The step of a grid's values along one axis: values closer than `near`
// are one row of the grid, and the step spreads the rows evenly from the
// first to the last (0 for one row); whether every value lies on the grid,
// within a quarter of a step.
double spacing(std::vector<double> x, double near, bool& on_grid) {
  std::sort(x.begin(), x.end());
  std::size_t rows = 1;
  for (std::size_t i = 1; i < x.size(); ++i) rows += x[i] - x[i - 1] > near ? 1 : 0;
  const double step = rows > 1 ? (x.back() - x.front()) / static_cast<double>(rows - 1) : 0;
  for (double v : x) {
    const double steps = step > 0 ? (v - x.front()) / step : 0;
    if (std::fabs(steps - std::round(steps)) > 0.25) on_grid = false;
  }
  return step;
}

// A file without PLANE: the points of each strike and dip (as written) are
// a segment where they lie on one plane (within half a subfault, as the
// geometry check allows), on a grid whose step along strike times its
// step down dip is each point's area (within 2%): those steps are its Dx
// and Dz. At most 100 such sets, of 4 points or more; else
// none, and the points have no segment geometry, as a table's.
bool segments_of_points(model& m) {
  std::vector<std::pair<double, double>> sets;  // strike and dip
  std::vector<std::vector<std::size_t>> members;  // each set's points
  std::vector<std::size_t> set_of(m.subfaults.size());
  for (std::size_t k = 0; k < m.subfaults.size(); ++k) {
    const std::pair<double, double> key{m.subfaults[k].strike, m.subfaults[k].dip};
    const auto at = std::find(sets.begin(), sets.end(), key);
    set_of[k] = static_cast<std::size_t>(at - sets.begin());
    if (at == sets.end()) {
      if (sets.size() == 100) return false;
      sets.push_back(key);
      members.emplace_back();
    }
    members[set_of[k]].push_back(k);
  }
  std::vector<model_segment> segments;
  for (std::size_t g = 0; g < sets.size(); ++g) {
    const auto [strike, dip] = sets[g];
    if (members[g].size() < 4) return false;
    // Positions in the frame of a plane through the points' middle.
    double lon = 0, lat = 0, depth = 0;
    for (std::size_t k : members[g]) {
      lon += m.subfaults[k].lon;
      lat += m.subfaults[k].lat;
      depth += m.subfaults[k].depth_km;
    }
    const auto n = static_cast<double>(members[g].size());
    std::vector<double> along, down;
    double largest_area = 0;
    bool on_grid = true;
    for (std::size_t k : members[g]) {
      const model_subfault& s = m.subfaults[k];
      const detail::plane_position p =
          detail::in_plane(lon / n, lat / n, depth / n, strike, dip, s.lon, s.lat, s.depth_km);
      along.push_back(p.along);
      down.push_back(p.down);
      largest_area = std::max(largest_area, s.area_m2);
      // Off the plane, or nowhere (a latitude far out of range, say).
      if (!(std::fabs(p.off) <= 0.5 * std::sqrt(s.area_m2) / 1000 && std::isfinite(p.along + p.down))) on_grid = false;
    }
    if (!on_grid) return false;
    const double area_km2 = largest_area * 1e-6, near = std::sqrt(area_km2) / 4;
    double dx = spacing(along, near, on_grid), dz = spacing(down, near, on_grid);
    if (dx == 0 && dz == 0) dx = dz = std::sqrt(area_km2);
    if (dx == 0) dx = area_km2 / dz;
    if (dz == 0) dz = area_km2 / dx;
    // The steps' ratio from the positions, their product the area (the
    // positions, flattened, are a little off over a long segment).
    const double to_area = std::sqrt(area_km2 / (dx * dz));
    if (std::fabs(to_area - 1) <= 0.01) {
      dx *= to_area;
      dz *= to_area;
    }
    for (std::size_t k : members[g]) {
      if (std::fabs(m.subfaults[k].area_m2 * 1e-6 - dx * dz) > 0.02 * dx * dz) on_grid = false;
    }
    if (!on_grid || !std::isfinite(dx * dz)) return false;
    model_segment seg;
    seg.strike = strike;
    seg.dip = dip;
    seg.dx_km = dx;
    seg.dz_km = dz;
    segments.push_back(seg);
  }
  m.segments = segments;
  for (std::size_t k = 0; k < m.subfaults.size(); ++k) m.subfaults[k].segment = set_of[k];
  // The hypocentre: the first point with slip to rupture.
  const model_subfault* first = nullptr;
  for (const model_subfault& s : m.subfaults) {
    if (s.slip_m > 0 && (first == nullptr || s.trup_s < first->trup_s)) first = &s;
  }
  if (first != nullptr) {
    m.hyp_lon = first->lon;
    m.hyp_lat = first->lat;
    m.hyp_depth_km = first->depth_km;
    m.hyp_line = first->line;
  }
  return true;
}

}  // namespace

bool looks_like_srf(const std::string& head) {
  // Whole lines only: the head may end inside one. (The tokens point into
  // this text, which must outlive them.)
  const std::string lines = head.substr(0, std::min(head.size(), head.rfind('\n')));
  const std::vector<token> t = tokens_of(lines, 2);
  return t.size() >= 2 && (t[0].text == "1.0" || t[0].text == "2.0") && (t[1].text == "PLANE" || t[1].text == "POINTS");
}

model read_srf_model(const std::string& text, const std::string& name) {
  reader in(text, name);
  model m;
  m.format = model_format::srf;
  const token& stated = in.next("the version");
  if (stated.text != "1.0" && stated.text != "2.0") {
    throw model_error(detail::where(name, stated.line) + ": version \"" + std::string(stated.text) +
                      "\": this program reads SRF 1.0 and 2.0");
  }
  const bool v2 = stated.text == "2.0";
  std::size_t planes = 0;
  if (in.peek() && in.peek()->text == "PLANE") {
    const std::size_t line = in.next("PLANE").line;
    planes = in.count("PLANE's count of segments", 1e6);
    if (planes == 0) throw model_error(detail::where(name, line) + ": PLANE 0: a PLANE block needs a segment");
    for (std::size_t k = 0; k < planes; ++k) {
      const std::string seg = "segment " + std::to_string(k + 1) + "'s ";
      model_segment g;
      const std::size_t first = in.peek() ? in.peek()->line : in.last_line();
      g.top_lon = in.number(seg + "ELON");
      g.top_lat = in.number(seg + "ELAT");
      const double nstk = static_cast<double>(in.count(seg + "NSTK", 1e6));
      const double ndip = static_cast<double>(in.count(seg + "NDIP", 1e6));
      g.len_km = in.number(seg + "LEN");
      g.wid_km = in.number(seg + "WID");
      const std::size_t second = in.peek() ? in.peek()->line : in.last_line();
      g.strike = in.number(seg + "STK");
      g.dip = in.number(seg + "DIP");
      g.dtop_km = in.number(seg + "DTOP");
      const double shyp = in.number(seg + "SHYP"), dhyp = in.number(seg + "DHYP");
      if (!(nstk >= 1 && ndip >= 1 && g.len_km > 0 && g.wid_km > 0)) {
        throw model_error(detail::where(name, first) + ": segment " + std::to_string(k + 1) +
                          ": NSTK, NDIP, LEN and WID must be above 0");
      }
      g.nx = static_cast<std::int32_t>(nstk);
      g.nz = static_cast<std::int32_t>(ndip);
      g.dx_km = g.len_km / nstk;
      g.dz_km = g.wid_km / ndip;
      g.hyp_along_km = shyp + g.len_km / 2;  // SHYP is from the top edge's centre
      g.hyp_down_km = dhyp;
      g.len_line = g.wid_line = g.top_line = first;
      g.dtop_line = g.hyp_line = second;
      m.segments.push_back(g);
    }
  }
  // POINTS blocks: one a segment where there are as many as segments, else
  // the points taken in order, NSTK x NDIP a segment.
  std::vector<std::size_t> block_sizes;
  std::size_t slip3_points = 0;
  double slip3_potency = 0;
  while (!in.done()) {
    const token& word = in.next("POINTS");
    if (word.text != "POINTS") {
      throw model_error(detail::where(name, word.line) + ": \"" + std::string(word.text) +
                        "\" where a POINTS line or the end of the file should be");
    }
    const std::size_t np = in.count("POINTS's count of points", most_points);
    block_sizes.push_back(np);
    for (std::size_t i = 0; i < np; ++i) {
      // How refusals name the point and its fields, made only for one.
      const std::size_t number = m.subfaults.size() + 1;
      const auto pt = [number] { return "point " + std::to_string(number) + "'s "; };
      const auto field = [&pt](const char* label) { return [&pt, label] { return pt() + label; }; };
      model_subfault s;
      s.line = in.peek() ? in.peek()->line : in.last_line();
      s.lon = in.number(field("LON"));
      s.lat = in.number(field("LAT"));
      s.depth_km = in.number(field("DEP"));
      s.strike = in.number(field("STK"));
      s.dip = in.number(field("DIP"));
      s.area_m2 = in.number(field("AREA")) * 1e-4;  // cm^2
      s.trup_s = in.number(field("TINIT"));
      const double dt = in.number(field("DT"));
      if (v2) {
        s.vs_m_s = in.number(field("VS")) / 100;             // cm/s
        s.density_kg_m3 = in.number(field("DEN")) * 1000;    // g/cm^3
        if (!(s.vs_m_s > 0 && s.density_kg_m3 > 0)) {
          s.vs_m_s = s.density_kg_m3 = std::nan("");  // unknown: the rigidity comes from the options
        }
      }
      const double rake = in.number(field("RAKE"));
      double slip[3] = {};
      std::size_t nt[3] = {};
      for (int c = 0; c < 3; ++c) {
        slip[c] = in.number([&] { return pt() + "SLIP" + std::to_string(c + 1); }) / 100;  // cm
        nt[c] = in.count([&] { return pt() + "NT" + std::to_string(c + 1); }, most_samples);
      }
      if (!(dt > 0 && dt * static_cast<double>(std::max({nt[0], nt[1], nt[2]})) < 1e9) && (nt[0] + nt[1] + nt[2]) > 0) {
        throw model_error(detail::where(name, s.line) + ": " + pt() + "DT " + shortest_text(dt) +
                          ": must be > 0, and its samples span less than 1e9 s");
      }
      if (!(s.area_m2 > 0)) throw model_error(detail::where(name, s.line) + ": " + pt() + "AREA: must be > 0");
      // The span of each component's samples: up to its last one that is
      // not 0, and one step beyond it, where the rate has stopped.
      double span = 0;
      // Components 1 and 2 as written, in m/s; no more room than the file
      // has fields, so that a count the file cannot hold is refused where
      // it runs out, not first allocated.
      s.rate1_m_s.resize(std::min(nt[0], in.left()));
      s.rate2_m_s.resize(std::min(nt[1], in.left()));
      for (int c = 0; c < 3; ++c) {
        std::size_t last = 0;
        double* const into = c == 0 ? s.rate1_m_s.data() : c == 1 ? s.rate2_m_s.data() : nullptr;
        for (std::size_t k = 0; k < nt[c]; ++k) {
          const double x =
              in.number([&] { return pt() + "SR" + std::to_string(c + 1) + " sample " + std::to_string(k + 1); });
          if (into != nullptr) into[k] = x / 100;
          if (x != 0) last = k + 1;
        }
        if (c < 2) span = std::max(span, static_cast<double>(last) * dt);
      }
      // Component 2 lies in the fault plane at the rake plus 90 degrees:
      // with component 1 it is one slip vector, whose size and rake the
      // point keeps. Component 3 opens the fault, which no output here
      // holds: it is said, with its potency.
      s.slip1_m = slip[0];
      s.slip2_m = slip[1];
      s.slip_m = std::hypot(slip[0], slip[1]);
      s.srf_rake = rake;
      s.rate_dt_s = dt;
      s.rake = slip[1] == 0 ? rake : rake + std::atan2(slip[1], slip[0]) * (180 / 3.14159265358979323846);
      if (slip[2] != 0) {
        ++slip3_points;
        slip3_potency += std::fabs(slip[2]) * s.area_m2;
      }
      if (span > 0) s.rise_s = span;
      m.subfaults.push_back(std::move(s));
    }
  }
  if (m.subfaults.empty()) {
    throw model_error(detail::where(name, in.last_line()) + ": no points: an SRF file needs a POINTS block with points");
  }
  // Each point's segment.
  if (planes > 0) {
    std::size_t grid = 0;
    for (const model_segment& g : m.segments) grid += static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.nz);
    if (block_sizes.size() == planes) {
      std::size_t k = 0;
      for (std::size_t b = 0; b < block_sizes.size(); ++b) {
        for (std::size_t i = 0; i < block_sizes[b]; ++i) m.subfaults[k++].segment = b;
      }
    } else if (grid == m.subfaults.size()) {
      std::size_t k = 0;
      for (std::size_t g = 0; g < m.segments.size(); ++g) {
        const auto n = static_cast<std::size_t>(m.segments[g].nx) * static_cast<std::size_t>(m.segments[g].nz);
        for (std::size_t i = 0; i < n; ++i) m.subfaults[k++].segment = g;
      }
    } else {
      throw model_error(name + ": the PLANE block's " + std::to_string(planes) + " segments of " +
                        std::to_string(grid) + " subfaults in all match neither the " + std::to_string(block_sizes.size()) +
                        " POINTS blocks nor their " + std::to_string(m.subfaults.size()) + " points");
    }
    // The hypocentre: where the first segment's SHYP and DHYP put it.
    const model_segment& g = m.segments[0];
    double lon = g.top_lon, lat = g.top_lat, depth = g.dtop_km;
    move_along_strike(lon, lat, g.strike, g.hyp_along_km - g.len_km / 2);
    move_down_dip(lon, lat, depth, g.strike, g.dip, g.hyp_down_km);
    m.hyp_lon = lon;
    m.hyp_lat = lat;
    m.hyp_depth_km = depth;
    m.hyp_line = g.hyp_line;
  }
  // Without a PLANE block, the segments its points lie on, if they do.
  const bool found = planes == 0 && segments_of_points(m);
  const std::string found_text =
      found ? ", no PLANE block: " + std::to_string(m.segments.size()) + " segment" +
                  (m.segments.size() == 1 ? "" : "s") + " from its points, each a grid on a plane, the hypocentre "
                  "its first point to rupture"
            : ", no PLANE block, and its points lie on no grid on a plane: no segment geometry";
  m.reading = "SRF " + std::string(stated.text) + ": " + std::to_string(block_sizes.size()) + " POINTS block" +
              (block_sizes.size() == 1 ? "" : "s") +
              (planes == 0 ? found_text
               : block_sizes.size() == planes && planes > 1 ? ", one a segment"
                                                            : ", " + std::to_string(planes) + " PLANE segment" +
                                                                  (planes == 1 ? "" : "s"));
  if (slip3_points > 0) {
    m.notes.push_back({"slip3_dropped",
                       std::to_string(slip3_points) + " points have slip in component 3 (opening), which no output "
                       "here holds: left out, a potency of " + shortest_text(slip3_potency) + " m^3",
                       true});
  }
  return m;
}

}  // namespace trislip
