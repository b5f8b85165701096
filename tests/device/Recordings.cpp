#include "tests/device/Recordings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace device_test {

namespace {

constexpr double kSame = 0.9;  // correlation of a block that matches

double Correlation(const Samples& a, size_t at, const Samples& b, size_t from, size_t n) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = a[at + i], y = b[from + i];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

}  // namespace

size_t Find(const Samples& rec, const Samples& ref, size_t lo) {
  size_t best = rec.size();
  double bestC = kSame;
  for (size_t at = lo; at + 2 * kBlock <= rec.size(); ++at) {
    const double c = Correlation(rec, at, ref, 0, 2 * kBlock);
    if (c > bestC) bestC = c, best = at;
    if (best < rec.size() && at > best + kBlock) break;  // past the best match's neighbourhood
  }
  return best;
}

size_t Same(const Samples& rec, size_t at, const Samples& ref, size_t from) {
  size_t n = 0;
  while (at + n < rec.size() && from + n < ref.size() && rec[at + n] == ref[from + n]) ++n;
  return n;
}

void ExpectWhole(const Samples& rec, const Samples& ref, size_t at) {
  ASSERT_LT(at, rec.size()) << "the first 20 ms were not heard";
  size_t followed = 0;
  while (followed + kBlock <= ref.size() && at + followed + kBlock <= rec.size() &&
         Correlation(rec, at + followed, ref, followed, kBlock) > kSame)
    followed += kBlock;
  EXPECT_GE(followed + kBlock, ref.size()) << "heard in one piece only up to sample " << followed;
  const auto heard = rec.begin() + static_cast<long>(at);
  const auto end = rec.begin() + static_cast<long>(std::min(at + ref.size(), rec.size()));
  EXPECT_EQ(std::search_n(heard, end, 49, 0), end) << "a gap of more than 1 ms";
}

int ExpectExactWithPauses(const Samples& rec, const Samples& ref, size_t at) {
  size_t from = 0;
  int pauses = 0;
  for (;;) {
    const size_t n = Same(rec, at, ref, from);
    from += n;
    at += n;
    if (from == ref.size()) return pauses;
    size_t on = at;
    while (on < rec.size() && rec[on] == 0) ++on;
    if (on == at || on == rec.size() || Same(rec, on, ref, from) == 0) {
      ADD_FAILURE() << "sample " << from << " of " << ref.size() << " was not heard next (recording at " << at
                    << ", after " << pauses << " pause(s))";
      return -1;
    }
    at = on;
    ++pauses;
  }
}

}  // namespace device_test
