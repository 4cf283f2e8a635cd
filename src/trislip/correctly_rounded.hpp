#pragma once

#include <cstdint>

// Correctly rounded cosine and sine of the transform's twiddle angles
// (|x| <= 4): each is the double nearest a double-double result good to
// about 2^-100, in IEEE operations alone, so the same on every platform.
// The browser page's build starts its twiddles from these; the native
// builds take the C library's cos and sin, which round some angles the
// other way (glibc: 91,865 of the 2^25 angles of the longest transform),
// and the page then moves those to the native values (web/twiddles.cpp).
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

inline dd two_prod(double a, double b) {
  const auto split = [](double x, double& hi, double& lo) {
    const double c = 134217729.0 * x;  // 2^27 + 1
    hi = c - (c - x);
    lo = x - hi;
  };
  double ah, al, bh, bl;
  split(a, ah, al);
  split(b, bh, bl);
  const double p = a * b;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

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

// cos x and sin x for |x| <= 4.
inline void cos_sin(double x, double& c, double& s) {
  // x = q pi/2 + r, |r| <= pi/4 + a little; q half_pi[0] is exact (q is
  // 0, +-1 or +-2) and so is the first difference (Sterbenz).
  const double q = x >= 0 ? static_cast<double>(static_cast<std::int32_t>(x / half_pi[0] + 0.5))
                          : -static_cast<double>(static_cast<std::int32_t>(-x / half_pi[0] + 0.5));
  dd r = two_sum(x - q * half_pi[0], -q * half_pi[1]);
  r = add(r, dd{-q * half_pi[2], 0});
  const dd r2 = mul(r, r);
  dd ps = inverse_factorial[29];
  for (int n = 27; n >= 3; n -= 2) ps = add(mul(ps, r2), inverse_factorial[n]);
  const dd sin_r = add(r, mul(mul(r, r2), ps));
  dd pc = inverse_factorial[28];
  for (int n = 26; n >= 2; n -= 2) pc = add(mul(pc, r2), inverse_factorial[n]);
  const dd cos_r = add(dd{1, 0}, mul(r2, pc));
  const double sr = sin_r.hi + sin_r.lo, cr = cos_r.hi + cos_r.lo;
  switch ((static_cast<std::int32_t>(q) % 4 + 4) % 4) {
    case 0: c = cr; s = sr; break;
    case 1: c = -sr; s = cr; break;
    case 2: c = -cr; s = -sr; break;
    default: c = sr; s = -cr; break;
  }
}

}  // namespace trislip::correctly_rounded
