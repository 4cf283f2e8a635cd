#include "trislip/result_files.hpp"

#include "trislip/amplitude.hpp"

namespace trislip {
namespace {

class slip_records final : public slip_record_sink {
 public:
  explicit slip_records(file_unit& unit) : unit_(unit) {}
  void record(double t, double v, double d, double a) override {
    const double items[] = {t, v, d, a};
    unit_.write(format_1000, items, 4);
  }

 private:
  file_unit& unit_;
};

class amp_records final : public amp_record_sink {
 public:
  explicit amp_records(file_unit& unit) : unit_(unit) {}
  void record(double freq, double vel, double acc) override {
    const double items[] = {freq, vel, acc};
    unit_.write(format_1100, items, 3);
  }

 private:
  file_unit& unit_;
};

}  // namespace

void write_slip_file(file_unit& unit, const slip_params& p, double* trisv,
                     std::int32_t capacity) {
  check_slip_params(p, capacity);
  unit.open();
  list_writer(unit).text(slip_header).end();
  slip_records records(unit);
  synthesize(p, trisv, capacity, records);
  unit.close();
}

void write_amp_file(file_unit& unit, record_sink& console, std::int32_t nt,
                    double dt, const double* trisv, dcomplex* triamp,
                    std::int32_t mom) {
  const std::int32_t nfast = nt;
  if (nfast > mom) {
    list_writer(console).text("from Triangle: nfast > MOM !").integer(nfast).integer(mom).end();
  }
  transform_samples(nfast, trisv, triamp, mom);
  unit.open();
  list_writer(unit).text(amp_header).end();
  amp_records records(unit);
  amplitude_spectrum(nt, dt, triamp, records);
  unit.close();
}

}  // namespace trislip
