#pragma once

#include <cstdint>

#include "trislip/complex.hpp"

namespace trislip {

// The value of pi used by the transform, the spectrum and the driver: the
// double nearest to 3.141592654, about 4.1e-10 above pi. Results held by
// users were made with it, so it stays.
inline constexpr double pai = 3.141592654;

// In-place, unnormalised, radix-2 decimation-in-time transform of
// a[0 .. n-1]: bit-reversal reordering, then butterfly stages from span 1
// up, with twiddles exp(i * ind * pai * (k-1) / kmax). ind = -1 is the
// forward transform. a holds mom elements; nothing beyond a[n-1] is
// touched. n must be a power of two no larger than mom and ind must be
// +1 or -1 (std::invalid_argument otherwise); n <= 1 leaves a unchanged.
void dwvfast(std::int32_t n, dcomplex* a, std::int32_t mom, std::int32_t ind);

}  // namespace trislip
