// The exports by the names a user types, each with the files it writes
// and what they hold.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/exports.hpp"

namespace trislip {
namespace {

export_file normalised(const char* name,
                       void (*write)(const slip_series&, const parameters&, byte_sink&)) {
  return {name, quantity_name(quantity::normalised_slip), quantity_unit(quantity::normalised_slip),
          [write](const slip_series& s, const parameters& p, const record_codes&, byte_sink& out) {
            write(s, p, out);
          }};
}

export_file sac(quantity q, const char* name) {
  return {name, quantity_name(q), quantity_unit(q),
          [q](const slip_series& s, const parameters& p, const record_codes& c, byte_sink& out) {
            write_sac(s, p, q, c, out);
          }};
}

std::vector<export_format> make_formats() {
  const auto specfem = [](const slip_series& s, const parameters& p, byte_sink& out) {
    write_specfem(s, p, true, out);
  };
  const auto globe = [](const slip_series& s, const parameters& p, byte_sink& out) {
    write_specfem(s, p, false, out);
  };
  std::vector<export_format> formats{
      {"sw4", {normalised("trislip_sw4.txt", write_sw4)}, 7},
      {"specfem", {normalised("trislip_specfem.stf", specfem)}, min_samples},
      {"specfem-globe", {normalised("stf", globe)}, min_samples},
      {"pylith", {normalised("trislip.timedb", write_pylith)}, min_samples},
      {"sac",
       {sac(quantity::velocity, "trislip_velocity.sac"), sac(quantity::displacement, "trislip_displacement.sac"),
        sac(quantity::acceleration, "trislip_acceleration.sac")},
       min_samples},
  };
  // The browser page's build has no libmseed.
#if !defined(TRISLIP_NO_MSEED)
  formats.push_back({"mseed",
                     {{"trislip.mseed", "slip velocity, slip and slip acceleration", "m/s, m, m/s^2",
                       [](const slip_series& s, const parameters& p, const record_codes& c, byte_sink& out) {
                         write_mseed(s, p, c, out);
                       }}},
                     min_samples});
#endif
  return formats;
}

class file_sink final : public byte_sink {
 public:
  file_sink(std::FILE* f, const std::string& path) : f_(f), path_(path) {}
  void write(const char* data, std::size_t n) override {
    if (std::fwrite(data, 1, n, f_) != n) throw std::runtime_error("cannot write " + path_ + ": " + std::strerror(errno));
  }

 private:
  std::FILE* f_;
  const std::string& path_;
};

}  // namespace

const std::vector<export_format>& export_formats() {
  static const std::vector<export_format> formats = make_formats();
  return formats;
}

const export_format& find_export_format(const std::string& name) {
  std::string known;
  for (const export_format& f : export_formats()) {
    if (f.name == name) return f;
    known += (known.empty() ? "" : ", ") + f.name;
  }
  throw std::invalid_argument("unknown export format \"" + name + "\" (known: " + known + ")");
}

void write_to_file(const std::string& path, const std::function<void(byte_sink&)>& write) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  try {
    file_sink sink(file, path);
    write(sink);
  } catch (...) {
    std::fclose(file);
    throw;
  }
  if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

void write_export_file(const export_file& f, const slip_series& s, const parameters& p,
                       const record_codes& c, const std::string& path) {
  write_to_file(path, [&](byte_sink& sink) { f.write(s, p, c, sink); });
}

}  // namespace trislip
