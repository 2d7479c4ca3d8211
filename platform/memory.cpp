#include "platform/memory.h"

#include <sys/sysinfo.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace orv {

namespace {

std::atomic<uint64_t> g_override{0};

// MemAvailable counts reclaimable cache too, which is what a cache sized from it may take.
uint64_t MemAvailableFromProc() {
  std::FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) return 0;
  char line[256];
  uint64_t bytes = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    unsigned long long kib = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
      bytes = static_cast<uint64_t>(kib) * 1024;
      break;
    }
  }
  std::fclose(file);
  return bytes;
}

uint64_t FreeRamFromSysinfo() {
  struct sysinfo info;
  std::memset(&info, 0, sizeof info);
  if (sysinfo(&info) != 0) return 0;
  return static_cast<uint64_t>(info.freeram) * info.mem_unit;
}

}  // namespace

uint64_t AvailablePhysicalMemory() {
  if (const uint64_t forced = g_override.load(); forced != 0) return forced;
  uint64_t bytes = MemAvailableFromProc();
  if (bytes == 0) bytes = FreeRamFromSysinfo();
  // Callers divide by it and size caches from it; a machine that will not say gets a modest
  // figure rather than a cache of nothing.
  return bytes != 0 ? bytes : uint64_t(64) << 20;
}

void SetAvailablePhysicalMemoryForTesting(uint64_t bytes) {
  g_override.store(bytes);
}

TScopedAvailablePhysicalMemory::TScopedAvailablePhysicalMemory(uint64_t bytes)
    : previous_(g_override.exchange(bytes)) {}

TScopedAvailablePhysicalMemory::~TScopedAvailablePhysicalMemory() {
  g_override.store(previous_);
}

}  // namespace orv
