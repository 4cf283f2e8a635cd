// miniSEED through libmseed: 4096-byte records, big-endian, FLOAT64
// samples, so every double is kept. One channel per quantity.
#include <libmseed.h>

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "trislip/exports.hpp"

namespace trislip {
namespace {

struct handler_state {
  byte_sink* out;
  std::exception_ptr failed;
};

// libmseed is C: an exception must not pass through it.
extern "C" void hand_record(char* record, int length, void* data) {
  auto* state = static_cast<handler_state*>(data);
  if (state->failed) return;
  try {
    state->out->write(record, static_cast<std::size_t>(length));
  } catch (...) {
    state->failed = std::current_exception();
  }
}

void copy_code(char (&field)[11], const std::string& code) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, code.data(), std::min(code.size(), sizeof field - 1));
}

}  // namespace

void write_mseed(const slip_series& s, const parameters& p, const record_codes& c, byte_sink& out) {
  const std::pair<quantity, const std::vector<double>*> channels[] = {
      {quantity::velocity, &s.velocity}, {quantity::displacement, &s.displacement},
      {quantity::acceleration, &s.acceleration}};
  for (const auto& [q, values] : channels) {
    // libmseed packs from a buffer it may reorder in place.
    std::vector<double> samples(*values);
    MSRecord* msr = msr_init(nullptr);
    if (msr == nullptr) throw std::bad_alloc();
    copy_code(msr->network, c.network);
    copy_code(msr->station, c.station);
    copy_code(msr->location, c.location);
    copy_code(msr->channel, channel_code(q, p.dt));
    msr->dataquality = 'D';
    msr->starttime = static_cast<hptime_t>(c.start_us) * (HPTMODULUS / 1000000);
    msr->samprate = 1.0 / p.dt;
    msr->reclen = 4096;
    msr->encoding = DE_FLOAT64;
    msr->byteorder = 1;
    msr->datasamples = samples.data();
    msr->numsamples = static_cast<int64_t>(samples.size());
    msr->sampletype = 'd';
    handler_state state{&out, nullptr};
    int64_t packed = 0;
    const int records = msr_pack(msr, hand_record, &state, &packed, 1, 0);
    msr->datasamples = nullptr;  // ours, not libmseed's to free
    msr_free(&msr);
    if (state.failed) std::rethrow_exception(state.failed);
    if (records < 0 || packed != static_cast<int64_t>(samples.size())) {
      throw std::runtime_error("libmseed could not pack the " + std::string(quantity_name(q)) + " samples");
    }
  }
}

}  // namespace trislip
