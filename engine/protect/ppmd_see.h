#pragma once

#include <cstdint>

namespace orv::ppmd {

inline constexpr unsigned kPeriodBits = 7;

// Secondary escape estimation: an adaptive estimate of the escape frequency of contexts that
// share a few traits (symbol count, masked count, total, the previous symbol's high bit). The
// estimate is summ >> shift; the shift grows (up to kPeriodBits) as the context gains history,
// which makes it adapt more slowly.
struct SeeContext {
  uint16_t summ = 0;
  uint8_t shift = 0;
  uint8_t count = 0;

  void Init(unsigned initial) {
    shift = kPeriodBits - 4;
    summ = static_cast<uint16_t>(initial << shift);
    count = 4;
  }

  // Takes the current mean out of the sum and hands it out; never 0.
  uint32_t Mean() {
    unsigned r = summ >> shift;
    summ = static_cast<uint16_t>(summ - r);
    return r + (r == 0);
  }

  // After a successful prediction: lengthen the period once enough have been seen.
  void Update() {
    if (shift < kPeriodBits && --count == 0) {
      summ = static_cast<uint16_t>(summ << 1);
      count = static_cast<uint8_t>(3 << shift++);
    }
  }
};

}  // namespace orv::ppmd
