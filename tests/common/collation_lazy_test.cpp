#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/common/collation.h"

namespace orv {
namespace {

// Nobody calls InitCollation() in this program: the first comparisons, racing on several
// threads, must build the tables exactly once and all see them.
TEST(CollationLazy, FirstUseFromManyThreadsBuildsTheTables) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&wrong] {
      for (int k = 0; k < 200; ++k) {
        if (CollateCompare("a", "ab") >= 0) ++wrong;
        if (CollateCompareI("abc", "ABC") != 0) ++wrong;
        if (!LikeMatch("abc", "_b%", false)) ++wrong;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_TRUE(CurrentCollation().fastCollation);
}

}  // namespace
}  // namespace orv
