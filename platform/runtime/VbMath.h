#pragma once
// Arithmetic with the semantics of the host language's run time that the
// playback algorithms are written in: 32-bit integer add, subtract and
// multiply that fail on overflow, CLng (round half to even, range-checked),
// Int (floor) and the 16-bit multiply that fails on overflow. All failures
// throw os::OverflowError. Spelled vb:: (an alias of runtime::vb) wherever
// the playback code calls it, so a reader sees which arithmetic is meant.

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/os/Errors.h"

namespace runtime::vb {

inline int32_t Add(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw os::OverflowError();
  return r;
}

inline int32_t Sub(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw os::OverflowError();
  return r;
}

inline int32_t Mul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw os::OverflowError();
  return r;
}

// 16-bit signed multiply; used for 8-bit samples x 256.
inline int16_t Mul16(int16_t a, int16_t b) {
  int16_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw os::OverflowError();
  return r;
}

// Narrowing of a 64-bit intermediate to 32 bits, failing when it does not fit.
inline int32_t Narrow(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) throw os::OverflowError();
  return static_cast<int32_t>(v);
}

// Round to nearest, halves to even; fails outside the 32-bit range.
inline int32_t CLng(double v) {
  if (std::isnan(v)) throw os::OverflowError();
  const double r = std::nearbyint(v);  // default rounding mode: half to even
  if (r < -2147483648.0 || r > 2147483647.0) throw os::OverflowError();
  return static_cast<int32_t>(r);
}

// Int: the largest integer not greater than v.
inline double Int(double v) { return std::floor(v); }

// Str$-style decimal: a leading blank for values of 0 or more, "-" otherwise.
// (Built by appending: " " + std::to_string(v) trips a false -Wrestrict of
// GCC 12 at -O3.)
inline std::string Str(int64_t v) {
  std::string s(v >= 0 ? " " : "");
  s += std::to_string(v);
  return s;
}

}  // namespace runtime::vb

namespace vb = runtime::vb;
