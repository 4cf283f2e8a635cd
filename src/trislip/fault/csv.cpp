// The CSV table of subfaults: a header naming the columns (any order,
// others ignored), one subfault a row, in SI units.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

// The parser copies file names with a strncpy that GCC's inliner warns of;
// the names are cut and terminated on purpose there.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wstringop-truncation"
#endif
#include <libfccp/csv.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "trislip/fault/model_text.hpp"
#include "trislip/fault/table.hpp"

namespace trislip {
namespace {

constexpr int all_columns = detail::table_columns;
using detail::trimmed;
using detail::where;

}  // namespace

namespace detail {

std::vector<model_subfault> read_table(const std::string& text, const std::string& name) {
  const char* const* const column = table_column;
  std::vector<model_subfault> rows;
  std::size_t last_line = 0;  // of the last row read; 0 while the header is read
  try {
    io::CSVReader<all_columns, io::trim_chars<' ', '\t', '\r'>, io::double_quote_escape<',', '"'>> in(
        name, text.data(), text.data() + text.size());
    in.read_header(io::ignore_extra_column | io::ignore_missing_column, column[0], column[1], column[2],
                   column[3], column[4], column[5], column[6], column[7], column[8], column[9], column[10],
                   column[11], column[12], column[13], column[14], column[15]);
    for (int c = 0; c < table_required; ++c) {
      if (!in.has_column(column[c])) throw model_error(name + ": the header has no column " + column[c]);
    }
    char* f[all_columns];
    for (;;) {
      for (char*& x : f) x = nullptr;
      if (!in.read_row(f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13],
                       f[14], f[15])) {
        break;
      }
      // Written out only for a refusal: most tables have no bad row.
      const auto line = [&] { return where(name, in.get_file_line()); };
      double x[all_columns];
      for (int c = 0; c < all_columns; ++c) {
        x[c] = std::nan("");
        if (f[c] == nullptr) continue;  // an optional column the table does not have
        const char* end = f[c] + std::strlen(f[c]);
        if (f[c] == end && c >= table_required) continue;  // an empty optional cell: unknown
        if (f[c] == end) throw model_error(line() + ", column " + column[c] + ": no value");
        if (!read_number(f[c], end, x[c])) {
          throw model_error(line() + ", column " + column[c] + ": \"" + f[c] + "\" is not a number");
        }
      }
      model_subfault s;
      s.line = last_line = in.get_file_line();
      s.lon = x[0];
      s.lat = x[1];
      s.depth_km = x[2];
      s.strike = x[3];
      s.dip = x[4];
      s.rake = x[5];
      s.area_m2 = x[6];
      s.slip_m = x[7];
      s.trup_s = x[8];
      s.fmax_hz = x[9];
      s.tr = x[10];
      s.ar = x[11];
      s.nv = x[12];
      s.vs_m_s = x[13];
      s.density_kg_m3 = x[14];
      s.rise_s = x[15];
      rows.push_back(s);
    }
  } catch (const io::error::base& e) {
    // The parser's message in our words: its own "in line N in file F"
    // is cut, and the line is the parser's where it knows it (it does not
    // for a bad header), else the one after the last row read.
    std::string what = e.what();
    what = what.substr(0, what.find(" in line "));
    if (!what.empty() && what.back() == '.') what.pop_back();
    const auto* at = dynamic_cast<const io::error::with_file_line*>(&e);
    const std::size_t line = at != nullptr && at->file_line > 0 ? static_cast<std::size_t>(at->file_line)
                                                                : last_line + 1;
    throw model_error(where(name, line) + ": " + what);
  }
  return rows;
}

}  // namespace detail

bool looks_like_csv(const std::string& head) {
  for (std::string_view line : detail::lines_of(head)) {
    const std::string_view t = trimmed(line);
    if (t.empty()) continue;
    return t.find(',') != std::string_view::npos && t.find("lon") != std::string_view::npos &&
           t.find("lat") != std::string_view::npos;
  }
  return false;
}

model read_csv_model(const std::string& text, const std::string& name) {
  model m;
  m.format = model_format::csv;
  m.subfaults = detail::read_table(text, name);
  if (m.subfaults.empty()) throw model_error(name + ": no subfaults in the table");
  return m;
}

}  // namespace trislip
