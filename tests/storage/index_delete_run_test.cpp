// A run of deletes kept aside must give the positions and the final array that the same
// deletes done on the array one by one give.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/storage/engine_arrays.h"
#include "engine/storage/index_delete_run.h"

namespace orv {
namespace {

TmvIntArray ArrayOf(const std::vector<int32_t>& items) {
  TmvIntArray array;
  array.Assign(items);
  return array;
}

TEST(TIndexDeleteRun, PositionsAndResultMatchDeletesOnTheArray) {
  std::mt19937 random(11);
  for (const int32_t records : {1, 2, 3, 100, 1000}) {
    SCOPED_TRACE(records);
    std::vector<int32_t> model(static_cast<size_t>(records));
    for (int32_t r = 0; r < records; ++r) model[size_t(r)] = r;
    std::shuffle(model.begin(), model.end(), random);
    TIndexDeleteRun run;
    ASSERT_TRUE(run.Start(ArrayOf(model), records));
    for (int32_t count = records; count > 0; --count) {
      const auto record_no = static_cast<int32_t>(random() % count);
      const int32_t last = count - 1;
      const auto removed_at = std::find(model.begin(), model.end(), record_no) - model.begin();
      ASSERT_EQ(run.PositionOf(record_no), removed_at);
      if (record_no < last) {
        const auto moved_at = std::find(model.begin(), model.end(), last) - model.begin();
        ASSERT_EQ(run.PositionOf(last), moved_at);
        model[size_t(moved_at)] = record_no;
      }
      model.erase(model.begin() + removed_at);
      run.Remove(record_no, record_no < last ? last : -1);
      ASSERT_EQ(run.Count(), count - 1);
      ASSERT_EQ(run.PositionOf(last), -1) << "the last number is gone";
      if (count == records / 2 && count > 1) {
        EXPECT_EQ(run.Finish(), model);
        ASSERT_TRUE(run.Start(ArrayOf(model), count - 1));
      }
    }
    EXPECT_EQ(run.Finish(), model);
    EXPECT_FALSE(run.Active());
  }
}

TEST(TIndexDeleteRun, RefusesAnArrayThatIsNotEveryRecordOnce) {
  const struct {
    const char* what;
    std::vector<int32_t> items;
    int32_t records;
  } cases[] = {
      {"a record twice", {0, 1, 1}, 3},
      {"a number past the records", {0, 3, 1}, 3},
      {"a negative number", {0, -1, 1}, 3},
      {"fewer entries than records", {0, 1}, 3},
      {"no records", {}, 0},
  };
  for (const auto& c : cases) {
    TIndexDeleteRun run;
    EXPECT_FALSE(run.Start(ArrayOf(c.items), c.records)) << c.what;
    EXPECT_FALSE(run.Active()) << c.what;
  }
}

}  // namespace
}  // namespace orv
