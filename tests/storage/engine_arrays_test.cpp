#include "engine/storage/engine_arrays.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exception.h"

namespace orv {
namespace {

std::vector<int32_t> Items(const TmvIntArray& a) {
  return {a.begin(), a.end()};
}

std::string MessageOf(auto&& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

TEST(TmvIntArray, EditsKeepOrder) {
  TmvIntArray a(3, 8, 2);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{0, 0, 0}));
  a[0] = 10;
  a[1] = 20;
  a[2] = 30;
  a.Append(40);
  a.Insert(0, 5);
  a.Insert(5, 50);
  a.Delete(2);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{5, 10, 30, 40, 50}));
  a.Move(0, 4);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{10, 30, 40, 50, 5}));
  a.Move(4, 1);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{10, 5, 30, 40, 50}));
  EXPECT_TRUE(a.Contains(40));
  EXPECT_FALSE(a.Contains(41));
  EXPECT_EQ(a.IndexOf(30), 2);
  a.SetCount(2);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{10, 5}));
}

TEST(TmvIntArray, GrowsAndShrinksThroughManyItems) {
  TmvIntArray a(0, 16, 1);
  for (int32_t i = 0; i < 100000; ++i) a.Append(i);
  ASSERT_EQ(a.Count(), 100000);
  EXPECT_EQ(a[99999], 99999);
  a.SetCount(10);
  a.SetCount(12);
  EXPECT_EQ(Items(a), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0}));
}

TEST(TmvIntArray, RefusesPositionsOutsideTheArray) {
  TmvIntArray a(2);
  EXPECT_EQ(MessageOf([&] { a.Insert(3, 1); }),
            "TmvIntArray.Insert - index out of bounds, index = 3, itemCount = 2");
  EXPECT_EQ(MessageOf([&] { a.Delete(2); }),
            "TmvIntArray.Delete - index out of bounds, index = 2, itemCount = 2");
  EXPECT_EQ(MessageOf([&] { a.Move(0, -1); }),
            "TmvIntArray.Move - index out of bounds, index = -1, itemCount = 2");
  EXPECT_EQ(MessageOf([&] { a.SetCount(-1); }),
            "TmvIntArray.SetCount - index out of bounds, index = -1, itemCount = 2");
  EXPECT_EQ(a.Count(), 2);
}

TEST(TmvSortedIntArray, FindsInsertsAndDeletesByKey) {
  TmvSortedIntArray map;
  for (int32_t key : {40, 10, 30, 20}) map.Insert(key, key * 2);
  map.Insert(30, 7);
  ASSERT_EQ(map.Count(), 4);
  for (int32_t i = 0; i < map.Count(); ++i) EXPECT_EQ(map.Key(i), 10 * (i + 1));
  EXPECT_EQ(map.FindValue(30), 7);
  EXPECT_EQ(map.FindValue(25), -1);
  EXPECT_EQ(map.FindPosition(25), 2);
  EXPECT_EQ(map.FindPosition(99), 4);
  map.Delete(10);
  EXPECT_EQ(map.FindValue(10), -1);
  EXPECT_EQ(map.FindValue(20), 40);
}

TEST(TmvSortedIntArray, DeleteNamesTheMissingKey) {
  TmvSortedIntArray map;
  EXPECT_EQ(MessageOf([&] { map.Delete(1); }), "TmvSortedIntArray.Delete - no elements in array!");
  map.Insert(5, 50);
  map.Insert(6, 60);
  EXPECT_EQ(MessageOf([&] { map.Delete(7); }),
            "TmvSortedIntArray.Delete - element not found, key = 7, itemCount = 2!");
  map.Delete(6);
  // A lone element is not taken for another key.
  EXPECT_EQ(MessageOf([&] { map.Delete(7); }),
            "TmvSortedIntArray.Delete - element not found, key = 7, itemCount = 1!");
  EXPECT_EQ(map.FindValue(5), 50);
}

TEST(TBitsArray, LogicByteWise) {
  TBitsArray a(4), b(4);
  a.Set(0, 1);
  a.Set(1, 5);
  b.Set(1, 1);
  b.Set(2, 1);
  TBitsArray inverted = a;
  inverted.Invert();
  EXPECT_EQ(std::vector<uint8_t>(inverted.data(), inverted.data() + 4),
            (std::vector<uint8_t>{0, 0, 1, 1}));
  TBitsArray both = a, either = a;
  both.And(b);
  either.Or(b);
  EXPECT_EQ(std::vector<uint8_t>(both.data(), both.data() + 4), (std::vector<uint8_t>{0, 1, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(either.data(), either.data() + 4),
            (std::vector<uint8_t>{1, 5, 1, 0}));
  a.Fill(1);
  EXPECT_TRUE(a.IsSet(3));
  TBitsArray other(3);
  EXPECT_EQ(MessageOf([&] { a.And(other); }), "TBitsArray.And - arrays differ in count: 4 and 3");
  EXPECT_EQ(MessageOf([&] { a.Or(other); }), "TBitsArray.Or - arrays differ in count: 4 and 3");
}

}  // namespace
}  // namespace orv
