#include "trislip/fault/model_text.hpp"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "trislip/digits.hpp"

namespace trislip {
namespace {

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_word(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

}  // namespace

bool read_number(const char* first, const char* last, double& x) {
  // Most cells are short decimals ("-117.7280", "1e6"): their digits, at
  // most 19, make an integer m, and when m <= 2^53 and the exponent k is
  // within 22, m * 10^k (or m / 10^-k) is one correctly rounded operation
  // on exact operands, which is what from_chars gives. Anything else, and
  // every text this path does not take whole, goes to from_chars.
  const char* p = first;
  const bool minus = p != last && *p == '-';
  p += minus;
  std::uint64_t m = 0;
  int digits = 0, k = 0;
  const char* const whole = p;
  for (; p != last && is_digit(*p); ++p, ++digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
  bool simple = p != whole;
  if (simple && p != last && *p == '.') {
    const char* const fraction = ++p;
    for (; p != last && is_digit(*p); ++p, ++digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    k = -static_cast<int>(p - fraction);
    simple = p != fraction;
  }
  if (simple && p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p != last && *p == '-';
    p += p != last && (*p == '-' || *p == '+');
    const char* const exponent = p;
    int e = 0;
    for (; p != last && is_digit(*p) && p - exponent < 3; ++p) e = e * 10 + (*p - '0');
    simple = p != exponent;
    k += down ? -e : e;
  }
  if (simple && p == last && digits <= 19 && m <= (std::uint64_t{1} << 53) && k >= -22 && k <= 22) {
    const auto v = static_cast<double>(m);
    const double y = times_power_of_ten(v, k);
    x = minus ? -y : y;
    return true;
  }
  const auto r = std::from_chars(first, last, x);
  return r.ec == std::errc() && r.ptr == last;
}

namespace detail {

std::vector<std::string_view> lines_of(const std::string& text) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > at && text[stop - 1] == '\r') --stop;
    lines.emplace_back(text.data() + at, stop - at);
    at = end + 1;
  }
  return lines;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

double value_of(std::string_view line, std::string_view name) {
  for (std::size_t at = line.find(name); at != std::string_view::npos; at = line.find(name, at + 1)) {
    if (at > 0 && is_word(line[at - 1])) continue;
    std::size_t i = at + name.size();
    if (i < line.size() && is_word(line[i]) && is_word(name.back())) continue;
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size() || line[i] != '=') continue;
    ++i;
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i < line.size() && line[i] == '+') ++i;
    double x = 0;
    const auto r = std::from_chars(line.data() + i, line.data() + line.size(), x);
    if (r.ec != std::errc()) return std::nan("");
    return known(x);
  }
  return std::nan("");
}

std::string where(const std::string& name, std::size_t line) { return name + ": line " + std::to_string(line); }

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

}  // namespace detail
}  // namespace trislip
