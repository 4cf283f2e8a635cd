#pragma once

#include <cstdint>
#include <memory>

#include "trislip/complex.hpp"

namespace trislip {

// The value of pi used by the transform, the spectrum and the driver: the
// double nearest to 3.141592654, about 4.1e-10 above pi. Results held by
// users were made with it, so it stays.
inline constexpr double pai = 3.141592654;

// In-place, unnormalised, radix-2 decimation-in-time transform of
// a[0 .. n-1]: bit-reversal reordering, then butterfly stages from span 1
// up, with twiddles exp(i * ind * pai * (k-1) / kmax). ind = -1 is the
// forward transform. a holds mom elements. n must be a power of two no
// larger than mom and ind must be +1 or -1 (std::invalid_argument
// otherwise); n <= 1 leaves a unchanged. Nothing beyond a[n-1] is touched.
//
// From 2^13 on the butterflies run in another order (each half first, on
// two threads from 2^17, two at a time in AVX2 registers where the
// processor has them), which gives the same doubles: every butterfly is
// the same rounded operations on the same two values.
void dwvfast(std::int32_t n, dcomplex* a, std::int32_t mom, std::int32_t ind);

// The same transform in two steps, for real samples: load_bit_reversed
// puts samples[0 .. nt-1], padded with zeros to n, as real values straight
// into their bit-reversed places in a[0 .. n-1] (one pass, on two threads
// for long ones, instead of a copy and then the reordering), and
// dwvfast_loaded does the butterflies of dwvfast on them. Together they
// give the doubles of loading the samples and calling dwvfast(n, a, mom,
// ind). The caller has checked that n is a power of two, nt <= n and ind
// is +1 or -1.
void load_bit_reversed(std::int32_t n, const double* samples, std::int32_t nt, dcomplex* a);
void dwvfast_loaded(std::int32_t n, dcomplex* a, std::int32_t ind);

// Makes the twiddles of a transform of n in direction ind ahead of it (the
// tables of the last length are kept), so that a caller can make them
// while it computes what it will transform.
void prepare_transform(std::int32_t n, std::int32_t ind);

// An array for a long transform, not cleared: on Linux in 2 MiB pages
// where the kernel gives them on request, which spares the faults of 4 KiB
// pages and the misses in the page tables of its far-apart accesses.
struct free_transform {
  void operator()(dcomplex* p) const;
};
std::unique_ptr<dcomplex[], free_transform> transform_array(std::int32_t n);

// Whether the long transforms may use AVX2 where the processor has it
// (they do unless told otherwise); returns the previous setting. For
// comparing the two forms on one machine.
bool allow_avx2(bool allowed);

// Whether AVX2 is in use now: the processor has it and it is allowed.
bool avx2_in_use();

// The stage-by-stage order at every length, for comparing the two. The
// caller has checked n and ind as dwvfast does.
void dwvfast_in_stages(std::int32_t n, dcomplex* a, std::int32_t ind);


namespace detail {
// The twiddles (cos phi, sin phi) of phi = k * ind * pai / half, as the
// transform computes phi, correctly rounded, for k from `from` to `to` - 1,
// into w[k - from]: four at a time with AVX2 where the processor has it
// (the same doubles as one at a time).
void twiddle_values(std::int32_t half, std::int32_t ind, std::int32_t from, std::int32_t to, dcomplex* w);
}  // namespace detail

}  // namespace trislip
