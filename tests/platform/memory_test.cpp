#include "platform/memory.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(MemoryTest, MeasuresAndCanBeOverriddenForAScope) {
  const uint64_t real = AvailablePhysicalMemory();
  EXPECT_GT(real, uint64_t(1) << 20);
  {
    TScopedAvailablePhysicalMemory outer(4096);
    EXPECT_EQ(AvailablePhysicalMemory(), 4096u);
    {
      TScopedAvailablePhysicalMemory inner(100);
      EXPECT_EQ(AvailablePhysicalMemory(), 100u);
    }
    EXPECT_EQ(AvailablePhysicalMemory(), 4096u);
  }
  EXPECT_GT(AvailablePhysicalMemory(), uint64_t(1) << 20);
  SetAvailablePhysicalMemoryForTesting(77);
  EXPECT_EQ(AvailablePhysicalMemory(), 77u);
  SetAvailablePhysicalMemoryForTesting(0);
  EXPECT_NE(AvailablePhysicalMemory(), 77u);
}

}  // namespace
}  // namespace orv
