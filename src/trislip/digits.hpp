// Powers of ten and decimal digits for the number editors: the record
// layer's fixed fields, the full layout's shortest texts, the SRF samples
// and the reading of tables.
#pragma once

#include <cstdint>

namespace trislip {

// 10^0 to 10^19, every power a uint64_t holds.
inline constexpr std::uint64_t pow10[20] = {1u,
                                            10u,
                                            100u,
                                            1000u,
                                            10000u,
                                            100000u,
                                            1000000u,
                                            10000000u,
                                            100000000u,
                                            1000000000u,
                                            10000000000u,
                                            100000000000u,
                                            1000000000000u,
                                            10000000000000u,
                                            100000000000000u,
                                            1000000000000000u,
                                            10000000000000000u,
                                            100000000000000000u,
                                            1000000000000000000u,
                                            10000000000000000000u};

// 10^0 to 10^22, every power of ten that is exact in a double.
inline constexpr double exact_power_of_ten[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// x * 10^k for |k| <= 22, rounded once: a product, or for k < 0 a
// quotient, of x and an exact power of ten.
constexpr double times_power_of_ten(double x, int k) {
  return k >= 0 ? x * exact_power_of_ten[k] : x / exact_power_of_ten[-k];
}

// "00" to "99", so that digits are produced two at a time.
inline constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight decimal digits of n < 10^8 as ASCII, the first digit in the
// lowest byte, so that storing the value little-endian writes them in
// reading order. Each step splits every lane of the previous one in two
// with a multiply and shift that divides exactly for lanes of this size:
// 4-digit halves, then 2-digit pairs (x * 10486 >> 20 is x / 100 for
// x < 10^4), then single digits (x * 103 >> 10 is x / 10 for x < 100).
inline std::uint64_t ascii8(std::uint32_t n) {
  const std::uint64_t halves = (n / 10000) | (static_cast<std::uint64_t>(n % 10000) << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;
  const std::uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
  const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Fu;
  const std::uint64_t digits = tens | ((pairs - tens * 10) << 8);
  return digits + 0x3030303030303030u;
}

}  // namespace trislip
