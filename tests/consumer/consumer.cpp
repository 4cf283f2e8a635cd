// Digests of the library's doubles with the program's parameters, in the
// form of trislip_bits, so that the two can be compared line by line.
#include <trislip/trislip.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

struct digest {  // 64-bit FNV-1a over the bit patterns
  std::uint64_t h = 0xcbf29ce484222325u;
  void add(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    for (int i = 0; i < 8; ++i) h = (h ^ ((bits >> (8 * i)) & 0xffu)) * 0x100000001b3u;
  }
};

}  // namespace

int main() {
  const trislip::parameters p;
  const trislip::slip_series s = trislip::synthesize(p);
  digest synthesis;
  for (std::size_t i = 0; i < s.time.size(); ++i) {
    synthesis.add(s.time[i]);
    synthesis.add(s.velocity[i]);
    synthesis.add(s.displacement[i]);
    synthesis.add(s.acceleration[i]);
  }
  const trislip::spectrum a = trislip::amplitude_spectrum(s, p);
  digest spectrum;
  for (std::size_t k = 0; k < a.frequency.size(); ++k) {
    // The program's file holds its fixed record 0, 1, 0 at 0 Hz.
    spectrum.add(k == 0 ? 0.0 : a.frequency[k]);
    spectrum.add(k == 0 ? 1.0 : a.velocity[k]);
    spectrum.add(k == 0 ? 0.0 : a.acceleration[k]);
  }
  std::printf("%-10s %016llx\n", "synthesis", static_cast<unsigned long long>(synthesis.h));
  std::printf("%-10s %016llx\n", "spectrum", static_cast<unsigned long long>(spectrum.h));
  return 0;
}
