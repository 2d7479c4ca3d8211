// The record-number array keeps a gap after deletes; every edit and read must see the items
// as a plain vector would, whichever edits come in between.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/storage/engine_arrays.h"

namespace orv {
namespace {

TEST(TmvIntArrayGap, RandomEditsMatchAVector) {
  std::mt19937 random(7);
  TmvIntArray a(0, 64, 4);
  std::vector<int32_t> model;
  int32_t next = 0;
  auto pick = [&](size_t n) { return static_cast<int32_t>(random() % n); };
  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE(step);
    const int what = pick(model.empty() ? 2 : 8);
    // Mostly near the last edit, as deletes walking a table are, sometimes anywhere.
    const int32_t count = static_cast<int32_t>(model.size());
    switch (what) {
      case 0:
        a.Append(next);
        model.push_back(next++);
        break;
      case 1: {
        const int32_t at = pick(size_t(count) + 1);
        a.Insert(at, next);
        model.insert(model.begin() + at, next++);
        break;
      }
      case 2:
      case 3: {
        const int32_t at = pick(size_t(count));
        a.Delete(at);
        model.erase(model.begin() + at);
        break;
      }
      case 4: {
        const int32_t from = pick(size_t(count)), to = pick(size_t(count));
        a.Move(from, to);
        const int32_t value = model[size_t(from)];
        model.erase(model.begin() + from);
        model.insert(model.begin() + to, value);
        break;
      }
      case 5: {
        const int32_t at = pick(size_t(count));
        a[at] = next;
        model[size_t(at)] = next++;
        break;
      }
      case 6: {
        const int32_t value = model[size_t(pick(size_t(count)))];
        ASSERT_EQ(a.IndexOf(value), std::find(model.begin(), model.end(), value) - model.begin());
        break;
      }
      default:
        if (pick(50) == 0) {
          const int32_t n = pick(size_t(count) + 20);
          a.SetCount(n);
          model.resize(size_t(n), 0);
        }
    }
    ASSERT_EQ(a.Count(), static_cast<int32_t>(model.size()));
    for (int32_t p = 0; p < a.Count(); p += 1 + pick(7))
      ASSERT_EQ(a[p], model[size_t(p)]) << "at " << p;
    if (step % 97 == 0) {
      const std::span<const int32_t> items = a.Items();
      ASSERT_EQ(std::vector<int32_t>(items.begin(), items.end()), model);
    }
  }
}

TEST(TmvIntArrayGap, DeletesWalkingBackKeepOrderAndData) {
  TmvIntArray a(0);
  for (int32_t i = 0; i < 1000; ++i) a.Append(i);
  for (int32_t p = 998; p >= 0; p -= 2) a.Delete(p);
  ASSERT_EQ(a.Count(), 500);
  // operator[] with the gap still open, then data() after it closed.
  for (int32_t p = 0; p < 499; ++p) ASSERT_EQ(a[p], 2 * p + 1);
  EXPECT_EQ(a[499], 999);
  const int32_t* items = a.data();
  for (int32_t p = 0; p < 499; ++p) ASSERT_EQ(items[p], 2 * p + 1);
}

}  // namespace
}  // namespace orv
