#pragma once
// A fixed ring of 16-bit samples between one writer thread and one reader
// thread, without locks: each side owns its index and publishes it with
// release/acquire. Neither side allocates, blocks or waits. Capacity is fixed
// at construction (on the writer's side, before the reader starts).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <vector>

namespace audio {

class SpscRing final {
 public:
  explicit SpscRing(size_t capacity) : data_(capacity + 1) {}
  SpscRing(const SpscRing&) = delete;
  SpscRing& operator=(const SpscRing&) = delete;

  // Writer: copies up to n samples in; returns how many fitted.
  size_t Write(const int16_t* src, size_t n) {
    const size_t w = write_.load(std::memory_order_relaxed);
    const size_t r = read_.load(std::memory_order_acquire);
    n = std::min(n, Free(w, r));
    CopyIn(w, src, n);
    write_.store((w + n) % data_.size(), std::memory_order_release);
    return n;
  }
  // Reader: copies up to n samples out; returns how many there were.
  size_t Read(int16_t* dst, size_t n) {
    const size_t r = read_.load(std::memory_order_relaxed);
    const size_t w = write_.load(std::memory_order_acquire);
    n = std::min(n, Used(w, r));
    const size_t head = std::min(n, data_.size() - r);
    std::memcpy(dst, data_.data() + r, head * sizeof(int16_t));
    std::memcpy(dst + head, data_.data(), (n - head) * sizeof(int16_t));
    read_.store((r + n) % data_.size(), std::memory_order_release);
    return n;
  }
  // Either side: samples waiting to be read (a snapshot).
  size_t Size() const {
    return Used(write_.load(std::memory_order_acquire), read_.load(std::memory_order_acquire));
  }
  size_t Capacity() const { return data_.size() - 1; }
  // Empties the ring. REQUIRES: neither side is using it meanwhile.
  void Clear() {
    write_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
  }

 private:
  size_t Used(size_t w, size_t r) const { return (w + data_.size() - r) % data_.size(); }
  size_t Free(size_t w, size_t r) const { return Capacity() - Used(w, r); }
  void CopyIn(size_t w, const int16_t* src, size_t n) {
    const size_t head = std::min(n, data_.size() - w);
    std::memcpy(data_.data() + w, src, head * sizeof(int16_t));
    std::memcpy(data_.data(), src + head, (n - head) * sizeof(int16_t));
  }

  std::vector<int16_t> data_;
  std::atomic<size_t> write_{0};
  std::atomic<size_t> read_{0};
};

}  // namespace audio
