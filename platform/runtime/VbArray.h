#pragma once
// A dynamic array that carries its lower bound, so that code written against
// fixed index ranges (1..PlayChunkLen, 0..N, 1..WindowRange) keeps its index
// arithmetic literal. Every element access is bounds-checked and throws
// os::RangeError outside LBound..UBound. For block moves, Ptr(i) gives
// the address of element i after checking i; the caller keeps the run inside.

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/os/Errors.h"

namespace runtime {

template <typename T>
class VbArray {
 public:
  VbArray() = default;  // not dimensioned: no elements
  VbArray(int32_t lo, int32_t hi) { ReDim(lo, hi); }

  // Dimension to lo..hi with every element value-initialised (0 for numbers).
  // hi = lo - 1 gives a dimensioned array with no elements.
  void ReDim(int32_t lo, int32_t hi) {
    if (hi < lo - 1) throw os::RangeError("ReDim " + std::to_string(lo) + " To " + std::to_string(hi));
    lo_ = lo;
    items_.assign(static_cast<size_t>(static_cast<int64_t>(hi) - lo + 1), T{});
    dimensioned_ = true;
  }

  // Keeps the lower bound and the elements that still fit; new ones are value-initialised.
  void ReDimPreserve(int32_t hi) {
    if (!dimensioned_) {
      ReDim(0, hi);
      return;
    }
    if (hi < lo_ - 1) throw os::RangeError("ReDim Preserve To " + std::to_string(hi));
    items_.resize(static_cast<size_t>(static_cast<int64_t>(hi) - lo_ + 1));
  }

  // Forget all elements: the array is no longer dimensioned.
  void Erase() {
    items_.clear();
    items_.shrink_to_fit();
    lo_ = 0;
    dimensioned_ = false;
  }

  bool Dimensioned() const { return dimensioned_; }
  int32_t LBound() const { return lo_; }
  int32_t UBound() const { return static_cast<int32_t>(lo_ + static_cast<int64_t>(items_.size()) - 1); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  T& operator()(int32_t i) { return items_[Index(i)]; }
  const T& operator()(int32_t i) const { return items_[Index(i)]; }

  T* Ptr(int32_t i) { return items_.data() + Index(i); }
  const T* Ptr(int32_t i) const { return items_.data() + Index(i); }

  std::vector<T>& Storage() { return items_; }
  const std::vector<T>& Storage() const { return items_; }

  void Swap(VbArray& other) noexcept {
    items_.swap(other.items_);
    std::swap(lo_, other.lo_);
    std::swap(dimensioned_, other.dimensioned_);
  }

 private:
  size_t Index(int32_t i) const {
    const int64_t k = static_cast<int64_t>(i) - lo_;
    if (k < 0 || k >= static_cast<int64_t>(items_.size()))
      throw os::RangeError("index " + std::to_string(i) + " of " + std::to_string(lo_) + " To " +
                       std::to_string(UBound()));
    return static_cast<size_t>(k);
  }

  std::vector<T> items_;
  int32_t lo_ = 0;
  bool dimensioned_ = false;
};

// One block move of `count` elements between two arrays, bounds-checked at both
// ends of both runs.
template <typename T>
void MoveRun(VbArray<T>& dst, int32_t dstFrom, const VbArray<T>& src, int32_t srcFrom, int32_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (count <= 0) return;
  T* d = dst.Ptr(dstFrom);
  (void)dst.Ptr(dstFrom + count - 1);
  const T* s = src.Ptr(srcFrom);
  (void)src.Ptr(srcFrom + count - 1);
  std::memmove(d, s, static_cast<size_t>(count) * sizeof(T));
}

}  // namespace runtime
