// Maintenance finds a record's entry by a search in key-then-identifier order. Arrays from a
// .idx written elsewhere may hold equal keys in any order; changes must still find every record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine/storage/index_list.h"
#include "tests/storage/index_table.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { kKey };
const char* const kIdx = "T.idx";

// The position a change reports in the current index is where the record stands; an update
// counts it in the array that still held the record, so a record that moved up stands one
// before.
void ExpectPositionOf(IndexTable& t, int32_t index_no, int32_t record_no, int32_t position,
                      bool update) {
  const TmvIntArray& array = t.Indexes().Array(index_no);
  ASSERT_GE(position, 0);
  ASSERT_LE(position, array.Count());
  const bool here = position < array.Count() && array[position] == record_no;
  const bool one_before = update && position > 0 && array[position - 1] == record_no;
  ASSERT_TRUE(here || one_before) << "position " << position;
}

TEST(IndexExactSearch, EqualKeysInForeignOrderStayFindable) {
  IndexTable t({Field("Key", ftInteger)});
  for (int32_t i = 0; i < 300; ++i) {
    Bytes image = t.NewImage();
    t.SetI32(image, kKey, i % 3);
    t.Put(std::move(image));
  }
  t.Indexes().CreateAutoIndexes(true);  // @ID @Key
  t.Files().Header().ChangeCounter = 5;
  t.Indexes().SaveIndexFile();
  // The @Key array is the last thing in the file: turn each run of equal keys around.
  Bytes file = t.Store().Get(kIdx);
  const size_t array_at = file.size() - 300 * 4;
  std::vector<int32_t> array(300);
  std::memcpy(array.data(), file.data() + array_at, 300 * 4);
  for (size_t run = 0; run < 3; ++run)
    std::reverse(array.begin() + long(run * 100), array.begin() + long(run * 100 + 100));
  std::memcpy(file.data() + array_at, array.data(), 300 * 4);
  t.Store().Put(kIdx, file);

  TOrvelIndexList& list = t.Indexes();
  const int64_t sorts = list.SortCount();
  list.Clear();
  list.LoadIndexFile(false);
  const int32_t key_index = list.IndexNo("@Key");
  ASSERT_EQ(list.SortCount(), sorts) << "the array was taken as read";
  ASSERT_EQ(std::vector<int32_t>(list.Array(key_index).begin(), list.Array(key_index).end()),
            array);

  std::mt19937 random(3);
  for (int step = 0; step < 200; ++step) {
    SCOPED_TRACE(step);
    const auto record_no = static_cast<int32_t>(random() % uint32_t(t.RecordCount()));
    if (step % 2 == 0) {
      Bytes image = t.Image(record_no);
      t.SetI32(image, kKey, static_cast<int32_t>(random() % 3));
      ExpectPositionOf(t, key_index, record_no, t.Update(record_no, image, key_index), true);
    } else {
      const int32_t last = t.RecordCount() - 1;
      const int32_t position = t.Delete(record_no, key_index);
      if (record_no < last) ExpectPositionOf(t, key_index, record_no, position, false);
    }
    ASSERT_NO_FATAL_FAILURE(t.ExpectIndexesInOrder());
    ASSERT_TRUE(list.IsValid(key_index));
  }
}

}  // namespace
}  // namespace orv
