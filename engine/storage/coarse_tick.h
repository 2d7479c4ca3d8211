#pragma once

#include <time.h>

#include <cstdint>

namespace orv {

// Milliseconds from the coarse monotonic clock, wrapping at 2^32 like GetTickCount but a few
// milliseconds coarse. The page cache and the log read the time on every record access, where
// the precise clock would cost more than the access; their rules (idle for 100 ms, older than
// 1000 ms) do not need more.
inline uint32_t CoarseTickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

}  // namespace orv
