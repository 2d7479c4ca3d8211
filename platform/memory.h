#pragma once

#include <cstdint>

namespace orv {

// Bytes of physical memory the system could give now without swapping (MemAvailable of
// /proc/meminfo, else the free RAM sysinfo reports). Sizes the table page cache and the
// write-behind log; never 0.
uint64_t AvailablePhysicalMemory();

// Tests: AvailablePhysicalMemory reports bytes until the override is cleared with 0.
void SetAvailablePhysicalMemoryForTesting(uint64_t bytes);

// Keeps an override for its lifetime and restores the one before it.
class TScopedAvailablePhysicalMemory {
 public:
  explicit TScopedAvailablePhysicalMemory(uint64_t bytes);
  ~TScopedAvailablePhysicalMemory();
  TScopedAvailablePhysicalMemory(const TScopedAvailablePhysicalMemory&) = delete;
  TScopedAvailablePhysicalMemory& operator=(const TScopedAvailablePhysicalMemory&) = delete;

 private:
  uint64_t previous_;
};

}  // namespace orv
