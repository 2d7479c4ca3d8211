#include "platform/random.h"

#include <time.h>

#include <atomic>

namespace orv {
namespace {

std::atomic<uint32_t> g_seed{0};

uint32_t NextSeed() {
  uint32_t old = g_seed.load(std::memory_order_relaxed), next;
  do {
    next = old * 0x08088405u + 1u;
  } while (!g_seed.compare_exchange_weak(old, next, std::memory_order_relaxed));
  return next;
}

}  // namespace

void Randomize() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  g_seed.store(static_cast<uint32_t>(ts.tv_sec * 1000003u) ^ static_cast<uint32_t>(ts.tv_nsec));
}

void SetRandSeed(uint32_t seed) {
  g_seed.store(seed);
}

uint32_t RandSeed() {
  return g_seed.load();
}

uint32_t Random(uint32_t range) {
  return static_cast<uint32_t>((static_cast<uint64_t>(NextSeed()) * range) >> 32);
}

double RandomFloat() {
  return static_cast<double>(NextSeed()) / 4294967296.0;
}

}  // namespace orv
