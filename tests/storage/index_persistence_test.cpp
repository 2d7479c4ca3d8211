#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/storage/index_file.h"
#include "engine/storage/index_list.h"
#include "tests/storage/index_table.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::Field;
using testing::IndexTable;

enum : int32_t { kModel, kYear };
const char* const kIdx = "T.idx";

std::vector<std::string> Names(const TOrvelIndexList& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.Header(i).Name);
  return names;
}

std::vector<int32_t> Order(const TOrvelIndexList& list, int32_t index_no) {
  return {list.Array(index_no).begin(), list.Array(index_no).end()};
}

// A table of cars with the automatic indexes and two declared ones, saved to its .idx.
void Fill(IndexTable& t, int records = 40) {
  const char* const models[] = {"Volga", "Чайка", "moskvich", "ЗИЛ", "Pobeda"};
  for (int i = 0; i < records; ++i) {
    Bytes image = t.NewImage();
    t.SetString(image, kModel, models[i % 5]);
    if (i % 7 != 0) t.SetI32(image, kYear, 1950 + (i * 37) % 40);
    t.Put(std::move(image));
  }
  TOrvelIndexList& list = t.Indexes();
  list.CreateAutoIndexes(true);
  list.AddIndex("YearDown", "Year;Model", true, "Model", "Year", kIxPrimary);
  list.AddIndex("Everything", "Model;Year;ID", false, "", "", kIxDescending | kIxCaseInsensitive);
  t.Files().Header().ChangeCounter = 77;
  list.SaveIndexFile();
}

// Offset of index header n in an .idx of the long layout with options.
size_t HeaderOffset(const TOrvelIndexList& list, int32_t n) {
  size_t at = kIndexFileHeaderSize;
  for (int32_t i = 0; i < n; ++i) {
    const size_t k = static_cast<size_t>(list.Header(i).FieldCount());
    at += 256 + 4 + 4 * k + 2 * ((k + 7) / 8) + 3;
  }
  return at;
}

void ExpectSameHeaders(const TOrvelIndexList& a, const TOrvelIndexList& b, bool options = true) {
  ASSERT_EQ(Names(a), Names(b));
  for (int32_t i = 0; i < a.Count(); ++i) {
    SCOPED_TRACE(a.Header(i).Name);
    EXPECT_EQ(a.Header(i).FieldNumbers, b.Header(i).FieldNumbers);
    EXPECT_EQ(a.Header(i).AscendingBits, b.Header(i).AscendingBits);
    EXPECT_EQ(a.Header(i).CaseInsensitiveBits, b.Header(i).CaseInsensitiveBits);
    EXPECT_EQ(a.Header(i).CaseInsensitiveAll, b.Header(i).CaseInsensitiveAll);
    EXPECT_EQ(a.Header(i).DescendingAll, b.Header(i).DescendingAll);
    if (options) {
      EXPECT_EQ(a.Header(i).Options, b.Header(i).Options);
    }
  }
}

// The .idx keeps every header but no array that can be used.
void ExpectReopenSortsEveryIndex(IndexTable& t, bool read_only) {
  TOrvelIndexList reopened(t.Files(), t);
  reopened.LoadIndexFile(read_only);
  EXPECT_EQ(reopened.SortCount(), reopened.Count());
  ExpectSameHeaders(t.Indexes(), reopened);
  t.ExpectIndexesInOrder(reopened);
}

TEST(IndexPersistence, CleanFileOpensWithoutSorting) {
  for (double version : {4.5, 4.3, 2.1}) {
    SCOPED_TRACE(version);
    IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)}, version);
    Fill(t);
    TOrvelIndexList reopened(t.Files(), t);
    reopened.LoadIndexFile(false);
    EXPECT_EQ(reopened.SortCount(), 0);
    EXPECT_TRUE(reopened.TableOpen());
    const bool options = version > 2.199;
    ExpectSameHeaders(t.Indexes(), reopened, options);
    if (!options) {
      EXPECT_EQ(reopened.Header(5).Options, 0) << "no options byte";
    }
    for (int32_t i = 0; i < reopened.Count(); ++i) {
      EXPECT_TRUE(reopened.IsValid(i));
      EXPECT_EQ(Order(reopened, i), Order(t.Indexes(), i));
    }
  }
}

TEST(IndexPersistence, OlderChangeCounterSortsEveryIndexAgain) {
  IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)});
  Fill(t);
  // Changes made after the save: the file's arrays are stale.
  for (int32_t r = 0; r < 10; ++r) {
    Bytes image = t.Image(r);
    t.SetI32(image, kYear, 2100 - r);
    t.Update(r, image, 0);
  }
  ExpectReopenSortsEveryIndex(t, false);
}

TEST(IndexPersistence, ShortArraysAreSortedAgainAndDeclaredIndexesKept) {
  IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)});
  Fill(t);
  Bytes file = t.Store().Get(kIdx);
  file.resize(file.size() - 4);
  t.Store().Put(kIdx, file);
  ExpectReopenSortsEveryIndex(t, true);
}

TEST(IndexPersistence, DamagedHeadersGiveTheAutomaticIndexes) {
  IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)});
  Fill(t);
  const Bytes saved = t.Store().Get(kIdx);
  const std::vector<std::string> automatic = {"@ID", "@@Model", "@Model", "@Year"};
  struct Damage {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::vector<std::string> expected;
  } damages[] = {
      {"last header's field count",
       [&](Bytes& b) { testing::PutI32(b, HeaderOffset(t.Indexes(), 5) + 256, 0); }, automatic},
      {"last header's field number",
       [&](Bytes& b) { testing::PutI32(b, HeaderOffset(t.Indexes(), 5) + 260, 9); }, automatic},
      {"second header's name length", [&](Bytes& b) { b[HeaderOffset(t.Indexes(), 1)] = 0; },
       automatic},
      {"first header's field count",
       [&](Bytes& b) { testing::PutI32(b, HeaderOffset(t.Indexes(), 0) + 256, -3); },
       {"@ID"}},
      {"index count 0", [](Bytes& b) { testing::PutI32(b, 4, 0); }, {"@ID"}},
      {"file cut inside a header", [](Bytes& b) { b.resize(100); }, {"@ID"}},
      {"file shorter than its header", [](Bytes& b) { b.resize(15); }, {"@ID"}},
      {"two indexes named alike",
       [&](Bytes& b) { testing::PutName(b, HeaderOffset(t.Indexes(), 2), "@@MODEL"); }, automatic},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    Bytes file = saved;
    d.damage(file);
    t.Store().Put(kIdx, file);
    TOrvelIndexList read_only(t.Files(), t);
    read_only.LoadIndexFile(true);
    EXPECT_EQ(Names(read_only), d.expected);
    t.ExpectIndexesInOrder(read_only);
    EXPECT_EQ(t.Store().Get(kIdx), file) << "a read-only table leaves its file alone";

    TOrvelIndexList writable(t.Files(), t);
    writable.LoadIndexFile(false);
    EXPECT_EQ(Names(writable), d.expected);
    TOrvelIndexList again(t.Files(), t);
    again.LoadIndexFile(false);
    EXPECT_EQ(Names(again), d.expected) << "the file was rewritten";
    EXPECT_EQ(again.SortCount(), 0);
  }
}

TEST(IndexPersistence, CheckIndexFileSavesOnlyWhenTheCounterMoved) {
  IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)});
  Fill(t);
  Bytes file = t.Store().Get(kIdx);
  file.push_back(0xEE);
  t.Store().Put(kIdx, file);
  t.Indexes().CheckIndexFile();
  EXPECT_EQ(t.Store().Get(kIdx), file);

  Bytes image = t.Image(3);
  t.SetString(image, kModel, "Aurus");
  t.Update(3, image, -1);
  t.Indexes().CheckIndexFile();
  const Bytes rewritten = t.Store().Get(kIdx);
  EXPECT_EQ(testing::GetI32(rewritten, 0), t.Files().Header().ChangeCounter);
  EXPECT_EQ(rewritten.size(), file.size() - 1);
  TOrvelIndexList reopened(t.Files(), t);
  reopened.LoadIndexFile(false);
  EXPECT_EQ(reopened.SortCount(), 0);
  t.ExpectIndexesInOrder(reopened);
}

TEST(IndexPersistence, EmptyTableRoundTrip) {
  IndexTable t({Field("Model", ftString, 20), Field("Year", ftInteger)});
  t.Indexes().CreateAutoIndexes(true);
  t.Indexes().AddIndex("ByYear", "Year", false, "", "", 0);
  TOrvelIndexList reopened(t.Files(), t);
  reopened.LoadIndexFile(false);
  ExpectSameHeaders(t.Indexes(), reopened);
  EXPECT_EQ(reopened.SortCount(), 0);
  for (int32_t i = 0; i < reopened.Count(); ++i) EXPECT_EQ(reopened.Array(i).Count(), 0);
}

}  // namespace
}  // namespace orv
