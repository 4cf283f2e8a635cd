#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Correctly rounded cosine and sine of the transform's twiddle angles
// (|x| <= 4): the double nearest the true value, in IEEE operations alone,
// so the same on every platform and C library. Every build's twiddles are
// these (the C libraries' cos and sin round some angles the other way, and
// which ones depends on the library and on the processor).
//
// Two ways to the same doubles. series() sums Taylor series in
// double-double arithmetic, good to about 2^-100: the reference, and the
// maker of the table. cos_sin() takes a table of sin and cos at multiples
// of 2^-8 and a short polynomial for the rest, good to about 2^-68, and
// keeps its result only where that error cannot move the rounding (2^-66
// from every midpoint between two doubles); otherwise (near zero, and one
// angle in 400 in all) it sums the series. fft.cpp does the same four
// angles at a time with AVX2. Every angle of every transform length (2^25
// for each sign, the longest transform's) gives the same doubles every
// way: bench/twiddles_exhaustive.cpp checks them all.
namespace trislip::correctly_rounded {

struct dd {
  double hi, lo;
};

inline dd two_sum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

inline dd fast_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// x = hi + lo, each of at most 26 significant bits (Dekker's split).
inline dd split(double x) {
  const double c = 134217729.0 * x;  // 2^27 + 1
  const double hi = c - (c - x);
  return {hi, x - hi};
}

// a b exactly, from a and b and their splits.
inline dd two_prod(double a, dd as, double b, dd bs) {
  const double p = a * b;
  return {p, ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo};
}

inline dd two_prod(double a, double b) { return two_prod(a, split(a), b, split(b)); }

inline dd add(dd a, dd b) {
  dd s = two_sum(a.hi, b.hi);
  const dd t = two_sum(a.lo, b.lo);
  s = fast_two_sum(s.hi, s.lo + t.hi);
  return fast_two_sum(s.hi, s.lo + t.lo);
}

inline dd mul(dd a, dd b) {
  const dd p = two_prod(a.hi, b.hi);
  return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// (-1)^(n/2) / n! as double-doubles, n = 2 to 29.
inline constexpr dd inverse_factorial[] = {
    {0, 0}, {0, 0},
    {-0x1.0000000000000p-1, 0x0.0p+0},
    {-0x1.5555555555555p-3, -0x1.5555555555555p-57},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {-0x1.6c16c16c16c17p-10, 0x1.f49f49f49f49fp-65},
    {-0x1.a01a01a01a01ap-13, -0x1.a01a01a01a01ap-73},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {-0x1.27e4fb7789f5cp-22, -0x1.cbbc05b4fa99ap-76},
    {-0x1.ae64567f544e4p-26, 0x1.c062e06d1f209p-80},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
    {0x1.6124613a86d09p-33, 0x1.f28e0cc748ebep-87},
    {-0x1.93974a8c07c9dp-37, -0x1.05d6f8a2efd1fp-92},
    {-0x1.ae7f3e733b81fp-41, -0x1.1d8656b0ee8cbp-97},
    {0x1.ae7f3e733b81fp-45, 0x1.1d8656b0ee8cbp-101},
    {0x1.952c77030ad4ap-49, 0x1.ac981465ddc6cp-103},
    {-0x1.6827863b97d97p-53, -0x1.eec01221a8b0bp-107},
    {-0x1.2f49b46814157p-57, -0x1.2650f61dbdcb4p-112},
    {0x1.e542ba4020225p-62, 0x1.ea72b4afe3c2fp-120},
    {0x1.71b8ef6dcf572p-66, -0x1.d043ae40c4647p-120},
    {-0x1.0ce396db7f853p-70, 0x1.aebcdbd20331cp-124},
    {-0x1.761b41316381ap-75, 0x1.3423c7d91404fp-130},
    {0x1.f2cf01972f578p-80, -0x1.9ada5fcc1ab14p-135},
    {0x1.3f3ccdd165fa9p-84, -0x1.58ddadf344487p-139},
    {-0x1.88e85fc6a4e5ap-89, 0x1.71c37ebd16540p-143},
    {-0x1.d1ab1c2dccea3p-94, -0x1.054d0c78aea14p-149},
    {0x1.0a18a2635085dp-98, 0x1.b9e2e28e1aa54p-153},
    {0x1.259f98b4358adp-103, 0x1.eaf8c39dd9bc5p-157},
};

// pi/2 as three doubles.
inline constexpr double half_pi[] = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54, -0x1.f1976b7ed8fbcp-110};

// x = q pi/2 + r, |r| <= pi/4 + a little, r as a double-double; q is 0,
// +-1 or +-2 for |x| <= 4, so q half_pi[0] is exact and so is the first
// difference (Sterbenz).
inline double reduce(double x, dd& r) {
  const double q = x >= 0 ? static_cast<double>(static_cast<std::int32_t>(x / half_pi[0] + 0.5))
                          : -static_cast<double>(static_cast<std::int32_t>(-x / half_pi[0] + 0.5));
  r = two_sum(x - q * half_pi[0], -q * half_pi[1]);
  r = add(r, dd{-q * half_pi[2], 0});
  return q;
}

// sin r and cos r as double-doubles, by their Taylor series.
inline void series(dd r, dd& sin_r, dd& cos_r) {
  const dd r2 = mul(r, r);
  dd ps = inverse_factorial[29];
  for (int n = 27; n >= 3; n -= 2) ps = add(mul(ps, r2), inverse_factorial[n]);
  sin_r = add(r, mul(mul(r, r2), ps));
  dd pc = inverse_factorial[28];
  for (int n = 26; n >= 2; n -= 2) pc = add(mul(pc, r2), inverse_factorial[n]);
  cos_r = add(dd{1, 0}, mul(r2, pc));
}

// cos x and sin x for |x| <= 4 as double-doubles, by the series.
inline void cos_sin_dd(double x, dd& c, dd& s) {
  dd r;
  const double q = reduce(x, r);
  dd sin_r, cos_r;
  series(r, sin_r, cos_r);
  const dd minus_sin{-sin_r.hi, -sin_r.lo}, minus_cos{-cos_r.hi, -cos_r.lo};
  switch ((static_cast<std::int32_t>(q) % 4 + 4) % 4) {
    case 0: c = cos_r; s = sin_r; break;
    case 1: c = minus_sin; s = cos_r; break;
    case 2: c = minus_cos; s = minus_sin; break;
    default: c = sin_r; s = minus_cos; break;
  }
}

// cos x and sin x for |x| <= 4 by the series alone, correctly rounded.
inline void cos_sin_series(double x, double& c, double& s) {
  dd cd, sd;
  cos_sin_dd(x, cd, sd);
  c = cd.hi + cd.lo;
  s = sd.hi + sd.lo;
}

// sin and cos of j / 256 for j = 0 to 1024 as double-doubles, summed by
// the series when the table was made (tools/sin_cos_table.cpp wrote
// sin_cos_table.inc; a test checks it against the series), with their high
// parts split for exact products the first time the table is used.
struct table_entry {
  dd s, c;
  dd s_split, c_split;
};
inline constexpr int table_size = 1025;
inline const table_entry* table() {
  static const struct made {
    table_entry t[table_size];
    made() : t() {
      static constexpr double values[table_size][4] = {
#include "trislip/sin_cos_table.inc"
      };
      for (int j = 0; j < table_size; ++j) {
        t[j].s = {values[j][0], values[j][1]};
        t[j].c = {values[j][2], values[j][3]};
        t[j].s_split = split(t[j].s.hi);
        t[j].c_split = split(t[j].c.hi);
      }
    }
  } m;
  return m.t;
}

// The double nearest v's true value, where v = hi + lo is within 2^-66 of
// it; false where that error could move the rounding (always so for
// values below about 2^-12, whose half ulp is near 2^-66).
inline bool rounded(dd v, double& out) {
  const dd n = fast_two_sum(v.hi, v.lo);  // |n.lo| <= half an ulp of n.hi
  std::uint64_t bits = 0;
  std::memcpy(&bits, &n.hi, sizeof bits);
  const std::uint64_t exponent = bits & 0x7ff0000000000000u;
  if (exponent < (std::uint64_t{64} << 52)) return false;  // too near zero to tell
  // Half an ulp: the exponent 53 lower and no fraction.
  std::uint64_t half_bits = exponent - (std::uint64_t{53} << 52);
  // Towards zero from a power of two, the next double is half as far.
  if ((n.lo < 0) == (n.hi > 0) && (bits & 0x000fffffffffffffu) == 0) half_bits -= std::uint64_t{1} << 52;
  double half_ulp = 0;
  std::memcpy(&half_ulp, &half_bits, sizeof half_ulp);
  if (std::fabs(n.lo) + 0x1p-66 < half_ulp) {
    out = n.hi;
    return true;
  }
  return false;
}

// cos x and sin x for |x| <= 4, correctly rounded, from the table; false
// (c and s unset) where the table's error could move the rounding.
//
// |x| = j/256 + d, |d| <= 2^-9, d exact (|x| and j/256 are multiples of
// |x|'s last place). With sin d = d + d c3 and cos d = 1 + e (e = eh + el,
// eh exact), c3 and e below 2^-19:
//   sin |x| = s0 (1 + e) + c0 (d + d c3),  cos |x| = c0 (1 + e) - s0 (d + d c3),
// s0 and c0 the table's double-doubles. The products s0.hi d and c0.hi d
// are exact (two_prod) and so are their sums with c0.hi and s0.hi
// (two_sum); the rest, below 2^-18, is summed in double, each of its
// roundings below 2^-71: in all under 2^-68, a quarter of the 2^-66 that
// rounded() allows.
inline bool cos_sin_table(double x, double& c, double& s) {
  if (x == 0) {
    c = 1;
    s = x;
    return true;
  }
  const double a = std::fabs(x);
  const int j = static_cast<int>(a * 256 + 0.5);
  const double d = a - j / 256.0;
  const table_entry& t = table()[j];
  const dd ds = split(d);
  const dd d2x = two_prod(d, ds, d, ds);
  const double d2 = d2x.hi;
  const double c3 = d2 * (-1.0 / 6 + d2 * (1.0 / 120 + d2 * (-1.0 / 5040 + d2 / 362880)));
  const double eh = -0.5 * d2x.hi;  // exact
  const double el = -0.5 * d2x.lo + d2 * d2 * (1.0 / 24 + d2 * (-1.0 / 720 + d2 / 40320));
  const dd cd = two_prod(t.c.hi, t.c_split, d, ds), sd = two_prod(t.s.hi, t.s_split, d, ds);
  const dd sin_main = two_sum(t.s.hi, cd.hi), cos_main = two_sum(t.c.hi, -sd.hi);
  const double sin_small = t.s.lo + t.s.hi * eh + (t.s.hi * el + t.s.lo * eh) + cd.lo + t.c.lo * d + cd.hi * c3;
  const double cos_small = t.c.lo + t.c.hi * eh + (t.c.hi * el + t.c.lo * eh) - sd.lo - t.s.lo * d - sd.hi * c3;
  double sa = 0, ca = 0;
  if (!rounded(dd{sin_main.hi, sin_main.lo + sin_small}, sa) || !rounded(dd{cos_main.hi, cos_main.lo + cos_small}, ca)) {
    return false;
  }
  c = ca;
  s = x < 0 ? -sa : sa;
  return true;
}

// cos x and sin x for |x| <= 4, correctly rounded.
inline void cos_sin(double x, double& c, double& s) {
  if (!cos_sin_table(x, c, s)) cos_sin_series(x, c, s);
}

// cos x and sin x of any finite x, correctly rounded up to |x| = 2^30:
// beyond 4, x less q pi/2 with q pi/2 in two exact products and a third
// far below the last place, and the series. Beyond 2^30 (no angle of a
// model, which would be a value gone wrong) x is first taken modulo the
// double nearest 2 pi (fmod is exact): the same doubles everywhere, though
// not the true cosine and sine. Not-a-number for an infinite or
// not-a-number x, as the C library's.
inline void cos_sin_wide(double x, double& c, double& s) {
  if (std::fabs(x) <= 4) return cos_sin(x, c, s);
  if (!std::isfinite(x)) {
    c = s = std::nan("");
    return;
  }
  if (std::fabs(x) > 0x1p30) x = std::fmod(x, 4 * half_pi[0]);
  if (std::fabs(x) <= 4) return cos_sin(x, c, s);
  const double q = std::nearbyint(x / half_pi[0]);
  const dd p0 = two_prod(q, half_pi[0]), p1 = two_prod(q, half_pi[1]);
  dd r = two_sum(x - p0.hi, -p0.lo);  // x - p0.hi exact (Sterbenz)
  r = add(r, dd{-p1.hi, -p1.lo});
  r = add(r, dd{-q * half_pi[2], 0});
  dd sin_r, cos_r;
  series(r, sin_r, cos_r);
  switch ((static_cast<std::int32_t>(q) % 4 + 4) % 4) {
    case 0: c = cos_r.hi + cos_r.lo; s = sin_r.hi + sin_r.lo; break;
    case 1: c = -(sin_r.hi + sin_r.lo); s = cos_r.hi + cos_r.lo; break;
    case 2: c = -(cos_r.hi + cos_r.lo); s = -(sin_r.hi + sin_r.lo); break;
    default: c = sin_r.hi + sin_r.lo; s = -(cos_r.hi + cos_r.lo); break;
  }
}

// One of the two.
inline double cos_of(double x) {
  double c, s;
  cos_sin_wide(x, c, s);
  return c;
}
inline double sin_of(double x) {
  double c, s;
  cos_sin_wide(x, c, s);
  return s;
}

}  // namespace trislip::correctly_rounded
