#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/platform/memory_dataset.h"

namespace orv {
namespace {

using testing::ErrorOf;
using testing::FillCars;
using testing::Id;
using testing::MemoryDataset;

std::vector<int> Ids(MemoryDataset& ds) {
  std::vector<int> ids;
  TBookmark here = ds.Bookmark();
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(Id(ds));
  ds.GotoBookmark(here);
  return ids;
}

// Hooks every event of the dataset into a log.
void Record(TDataSet& ds, std::vector<std::string>* log) {
  auto hook = [&](TDataSet::TDataSetNotifyEvent& event, const char* name) {
    event = [log, name](TDataSet*) { log->push_back(name); };
  };
  hook(ds.BeforeOpen, "BeforeOpen");
  hook(ds.AfterOpen, "AfterOpen");
  hook(ds.BeforeClose, "BeforeClose");
  hook(ds.AfterClose, "AfterClose");
  hook(ds.BeforeInsert, "BeforeInsert");
  hook(ds.AfterInsert, "AfterInsert");
  hook(ds.BeforeEdit, "BeforeEdit");
  hook(ds.AfterEdit, "AfterEdit");
  hook(ds.BeforePost, "BeforePost");
  hook(ds.AfterPost, "AfterPost");
  hook(ds.BeforeCancel, "BeforeCancel");
  hook(ds.AfterCancel, "AfterCancel");
  hook(ds.BeforeDelete, "BeforeDelete");
  hook(ds.AfterDelete, "AfterDelete");
  hook(ds.BeforeScroll, "BeforeScroll");
  hook(ds.AfterScroll, "AfterScroll");
  hook(ds.BeforeRefresh, "BeforeRefresh");
  hook(ds.AfterRefresh, "AfterRefresh");
  hook(ds.OnNewRecord, "OnNewRecord");
}

using Strings = std::vector<std::string>;

TEST(DataSetEvents, FireInTheFrameworksOrder) {
  struct Case {
    const char* name;
    std::function<void(MemoryDataset&)> before;  // not logged
    std::function<void(MemoryDataset&)> action;
    Strings events;
  } cases[] = {
      {"close", nullptr, [](MemoryDataset& ds) { ds.Close(); }, {"BeforeClose", "AfterClose"}},
      {"open",
       [](MemoryDataset& ds) { ds.Close(); },
       [](MemoryDataset& ds) { ds.Open(); },
       {"BeforeOpen", "AfterOpen", "AfterScroll"}},
      {"next", nullptr, [](MemoryDataset& ds) { ds.Next(); }, {"BeforeScroll", "AfterScroll"}},
      {"edit", nullptr, [](MemoryDataset& ds) { ds.Edit(); }, {"BeforeEdit", "AfterEdit"}},
      {"post edit",
       [](MemoryDataset& ds) { ds.Edit(); },
       [](MemoryDataset& ds) { ds.Post(); },
       {"BeforePost", "AfterPost"}},
      {"cancel edit",
       [](MemoryDataset& ds) { ds.Edit(); },
       [](MemoryDataset& ds) { ds.Cancel(); },
       {"BeforeCancel", "AfterCancel"}},
      {"insert",
       nullptr,
       [](MemoryDataset& ds) { ds.Insert(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {"append",
       nullptr,
       [](MemoryDataset& ds) { ds.Append(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}},
      {"cancel insert",
       [](MemoryDataset& ds) { ds.Insert(); },
       [](MemoryDataset& ds) { ds.Cancel(); },
       {"BeforeCancel", "BeforeScroll", "AfterCancel", "AfterScroll"}},
      {"delete",
       nullptr,
       [](MemoryDataset& ds) { ds.Delete(); },
       {"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}},
      {"delete while inserting cancels",
       [](MemoryDataset& ds) { ds.Insert(); },
       [](MemoryDataset& ds) { ds.Delete(); },
       {"BeforeCancel", "BeforeScroll", "AfterCancel", "AfterScroll"}},
      {"next posts a modified record",
       [](MemoryDataset& ds) {
         ds.Edit();
         ds.FieldByName("NAME")->SetAsString("x");
       },
       [](MemoryDataset& ds) { ds.Next(); },
       {"BeforePost", "AfterPost", "BeforeScroll", "AfterScroll"}},
      {"next cancels an unmodified record",
       [](MemoryDataset& ds) { ds.Edit(); },
       [](MemoryDataset& ds) { ds.Next(); },
       {"BeforeCancel", "AfterCancel", "BeforeScroll", "AfterScroll"}},
      {"refresh",
       nullptr,
       [](MemoryDataset& ds) { ds.Refresh(); },
       {"BeforeRefresh", "AfterRefresh"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryDataset ds;
    FillCars(ds, 3, true);
    if (c.before) c.before(ds);
    Strings log;
    Record(ds, &log);
    c.action(ds);
    EXPECT_EQ(log, c.events);
  }

  MemoryDataset empty;
  FillCars(empty, 0, true);
  Strings log;
  Record(empty, &log);
  empty.Edit();  // nothing to edit: the dataset inserts instead
  EXPECT_EQ(empty.State(), dsInsert);
  EXPECT_EQ(log.front(), "BeforeInsert");
}

TEST(DataSetEditing, EditPostAndCancelChangeOnlyWhatWasPosted) {
  MemoryDataset ds;
  FillCars(ds, 3, true);
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("NAME")->SetAsString("changed");
  EXPECT_TRUE(ds.Modified());
  ds.Cancel();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "car2");

  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("changed");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "changed");
  EXPECT_EQ(Id(ds), 2);
  ds.Close();
  ds.Open();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "changed");
}

TEST(DataSetEditing, InsertAppendAndDeleteMoveTheCursorWhereTheFrameworkPutsIt) {
  MemoryDataset ds;
  FillCars(ds, 3, true);
  ds.Next();
  ds.Insert();
  EXPECT_EQ(ds.RecordCount(), 3);  // not stored before the post
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  ds.FieldByName("ID")->SetAsInteger(10);
  ds.FieldByName("NAME")->SetAsString("new");
  ds.Post();
  EXPECT_EQ(Id(ds), 10);  // the new record is current
  EXPECT_EQ(ds.RecordCount(), 4);

  ds.First();
  ds.Insert();
  ds.Cancel();  // back to the record the insert started from
  EXPECT_EQ(Id(ds), 1);
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(Id(ds), 10);

  EXPECT_EQ(Ids(ds), (std::vector<int>{1, 2, 3, 10}));
  ds.First();
  ds.Next();
  ds.Delete();  // the next record takes its place
  EXPECT_EQ(Id(ds), 3);
  ds.Last();
  ds.Delete();  // at the end the previous one does
  EXPECT_EQ(Id(ds), 3);
  EXPECT_EQ(Ids(ds), (std::vector<int>{1, 3}));
  ds.Delete();
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof() && ds.Eof());
}

TEST(DataSetEditing, ErrorsNameTheDatasetAndLeaveItsStateAlone) {
  MemoryDataset ds;
  FillCars(ds, 2, true);
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("NAME")->SetAsString("x"); }),
            "cars: Dataset not in edit or insert mode");
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "cars: Dataset not in edit or insert mode");

  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(5);
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "Field 'NAME' must have a value");
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(Id(ds), 5);  // the buffer is kept
  ds.FieldByName("NAME")->SetAsString("ok");
  ds.Post();

  ds.Edit();
  ds.BeforePost = [](TDataSet*) { throw Exception("vetoed"); };
  ds.FieldByName("NAME")->SetAsString("other");
  EXPECT_EQ(ErrorOf([&] { ds.Post(); }), "vetoed");
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "other");
  ds.BeforePost = nullptr;
  ds.Cancel();

  ds.SetReadOnly(true);
  for (auto action : std::vector<std::function<void()>>{[&] { ds.Edit(); }, [&] { ds.Insert(); },
                                                        [&] { ds.Append(); }})
    EXPECT_EQ(ErrorOf(action), "cars: Cannot modify a read-only dataset");
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST(DataSetEditing, AFailingNewRecordHandlerAbandonsTheInsert) {
  MemoryDataset ds;
  FillCars(ds, 2, true);
  ds.Next();
  ds.OnNewRecord = [](TDataSet*) { throw Exception("no defaults"); };
  EXPECT_EQ(ErrorOf([&] { ds.Insert(); }), "no defaults");
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(Id(ds), 2);
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST(DataSetEditing, DefaultsSetOnNewRecordDoNotCountAsChanges) {
  MemoryDataset ds;
  FillCars(ds, 1, true);
  ds.OnNewRecord = [](TDataSet* d) { d->FieldByName("NAME")->SetAsString("default"); };
  ds.Append();
  EXPECT_FALSE(ds.Modified());
  ds.Next();  // an untouched new record is dropped
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.Append();
  ds.FieldByName("ID")->SetAsInteger(2);
  ds.Next();  // a touched one is posted
  EXPECT_EQ(ds.RecordCount(), 2);
}

}  // namespace
}  // namespace orv
