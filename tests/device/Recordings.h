#pragma once
// Searching a recording of a sink for what was played: by correlation, 10 ms
// at a time (through a conversion of rate), or sample for sample (at the
// card's own rate, where nothing is converted). Left channels, at the
// recording's rate (kCardRate).

#include <cstddef>

#include "tests/device/SoundSystems.h"

namespace device_test {

constexpr size_t kBlock = 480;  // 10 ms at the card's rate

// Where the first 20 ms of ref lie best in rec from `lo` on; rec.size() when nowhere.
size_t Find(const Samples& rec, const Samples& ref, size_t lo);
// How many samples from rec[at] on equal ref[from] on.
size_t Same(const Samples& rec, size_t at, const Samples& ref, size_t from);
// The whole of `ref` in one piece, from its first 20 ms on and without a
// gap, found at `at` (rec.size() when its start was not heard).
void ExpectWhole(const Samples& rec, const Samples& ref, size_t at);
// The whole of `ref` sample for sample from rec[at] on, where it may stop
// for a while (exact silence) and go on from the very sample it stopped
// at; how many such pauses it took (-1 when a sample was lost, repeated or
// wrong: a failure says which).
int ExpectExactWithPauses(const Samples& rec, const Samples& ref, size_t at);

}  // namespace device_test
