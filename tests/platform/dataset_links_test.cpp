#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/data_link.h"
#include "platform/data_source.h"
#include "tests/platform/memory_dataset.h"

namespace orv {
namespace {

using testing::CountingLink;
using testing::ErrorOf;
using testing::FillCars;
using testing::Id;
using testing::MemoryDataset;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.SetDataSet(&ds_);
    link_.SetDataSource(&source_);
    FillCars(ds_, 5);
    link_.Reset();
  }
  MemoryDataset ds_;
  TDataSource source_;
  CountingLink link_;
};

TEST_F(LinkTest, ControlsHearStateChangesScrollsAndFieldChanges) {
  std::vector<TField*> changes;
  source_.OnDataChange = [&](TDataSource*, TField* field) { changes.push_back(field); };
  ds_.Next();
  EXPECT_EQ(link_.scrolled, 1);
  ds_.Edit();
  EXPECT_EQ(link_.editing_changed, 1);
  EXPECT_TRUE(link_.Editing());
  ds_.FieldByName("NAME")->SetAsString("x");
  EXPECT_EQ(changes.back(), ds_.FieldByName("NAME"));
  ds_.Post();
  EXPECT_EQ(link_.update_data, 1);  // asked to write pending values first
  EXPECT_FALSE(link_.Editing());
  ds_.Close();
  EXPECT_FALSE(link_.Active());
  EXPECT_EQ(link_.active_changed, 1);
}

TEST_F(LinkTest, DisabledControlsHearNothingUntilOneChangeAtTheEnd) {
  ds_.DisableControls();
  ds_.DisableControls();
  ds_.Next();
  ds_.Last();
  ds_.EnableControls();
  EXPECT_EQ(link_.Total(), 0);  // still disabled once
  EXPECT_TRUE(ds_.ControlsDisabled());
  ds_.EnableControls();
  EXPECT_FALSE(ds_.ControlsDisabled());
  EXPECT_EQ(link_.dataset_changed, 1);
  EXPECT_EQ(link_.Total(), 1);
  ds_.EnableControls();  // unbalanced: ignored
  EXPECT_EQ(link_.Total(), 1);

  // A state change meanwhile makes the closing notification a layout change.
  link_.Reset();
  ds_.DisableControls();
  ds_.Edit();
  ds_.FieldByName("NAME")->SetAsString("quiet");
  ds_.Post();
  ds_.EnableControls();
  EXPECT_EQ(link_.layout_changed, 1);
  EXPECT_EQ(link_.Total(), 1);
}

TEST_F(LinkTest, ReopeningWithControlsDisabledKeepsThemConnected) {
  ds_.DisableControls();
  ds_.Close();
  EXPECT_FALSE(link_.Active());
  ds_.Open();
  EXPECT_TRUE(link_.Active());
  EXPECT_EQ(link_.dataset_changed + link_.layout_changed, 0);
  ds_.EnableControls();
  EXPECT_EQ(link_.layout_changed, 1);
  EXPECT_EQ(Id(ds_), 1);
}

TEST_F(LinkTest, AGridSeesItsWindowScrollByTheDistanceTheBuffersMoved) {
  link_.SetBufferCount(3);
  EXPECT_EQ(link_.RecordCount(), 3);
  ds_.Next();
  ds_.Next();
  EXPECT_EQ(link_.ActiveRecord(), 2);
  link_.Reset();
  ds_.Next();  // past the window: the buffers move up by one
  EXPECT_EQ(link_.scrolled, 1);
  EXPECT_EQ(link_.ActiveRecord(), 2);
  ds_.First();
  EXPECT_EQ(link_.ActiveRecord(), 0);
  link_.SetBufferCount(1);
  EXPECT_EQ(link_.RecordCount(), 1);
  EXPECT_EQ(Id(ds_), 1);
}

TEST_F(LinkTest, SourcesAndLinksLetGoOfWhatIsFreed) {
  source_.SetEnabled(false);
  EXPECT_FALSE(link_.Active());
  EXPECT_EQ(source_.State(), dsInactive);
  source_.SetEnabled(true);
  EXPECT_TRUE(link_.Active());
  EXPECT_EQ(link_.DataSet(), &ds_);

  auto* other = new TDataSource;
  CountingLink second;
  second.SetDataSource(other);
  other->SetDataSet(&ds_);
  EXPECT_TRUE(second.Active());
  delete other;
  EXPECT_EQ(second.DataSource(), nullptr);
  EXPECT_FALSE(second.Active());

  {
    MemoryDataset temp;
    FillCars(temp, 1);
    source_.SetDataSet(&temp);
    EXPECT_TRUE(link_.Active());
  }
  EXPECT_EQ(source_.DataSet(), nullptr);
  EXPECT_FALSE(link_.Active());
}

TEST_F(LinkTest, EditThroughTheLinkFollowsAutoEditAndReadOnly) {
  EXPECT_TRUE(link_.Edit());
  EXPECT_EQ(ds_.State(), dsEdit);
  ds_.Cancel();
  source_.SetAutoEdit(false);
  EXPECT_FALSE(link_.Edit());
  EXPECT_EQ(ds_.State(), dsBrowse);
  source_.SetAutoEdit(true);
  link_.SetReadOnly(true);
  EXPECT_FALSE(link_.Edit());
  EXPECT_EQ(ds_.State(), dsBrowse);
}

// Cars and their models, linked by CARID.
class MasterDetailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillCars(cars_, 3);
    cars_source_.SetDataSet(&cars_);
    models_.SetName("models");
    models_.FieldDefs().Add("CARID", ftInteger);
    models_.FieldDefs().Add("MODEL", ftString, 20);
    models_.Open();
    for (auto [car, model] :
         {std::pair{1, "a"}, std::pair{2, "b"}, std::pair{1, "c"}, std::pair{3, "d"}}) {
      models_.Append();
      models_.FieldByName("CARID")->SetAsInteger(car);
      models_.FieldByName("MODEL")->SetAsString(model);
      models_.Post();
    }
    models_.SetMasterFields("ID", "CARID");
    models_.SetMasterSource(&cars_source_);
  }

  std::string Models() {
    std::string names;
    for (models_.First(); !models_.Eof(); models_.Next())
      names += models_.FieldByName("MODEL")->AsString();
    return names;
  }

  MemoryDataset cars_;
  TDataSource cars_source_;
  MemoryDataset models_;
};

TEST_F(MasterDetailTest, TheDetailFollowsTheMastersCurrentRecord) {
  EXPECT_EQ(Models(), "ac");
  cars_.Next();
  EXPECT_EQ(Models(), "b");
  cars_.Last();
  EXPECT_EQ(Models(), "d");
  cars_.Close();  // an inactive master no longer restricts the detail
  EXPECT_EQ(Models(), "abcd");
  cars_.Open();
  EXPECT_EQ(Models(), "ac");
}

TEST_F(MasterDetailTest, ANewDetailRecordTakesTheMasterKey) {
  cars_.Next();
  models_.Append();
  EXPECT_EQ(models_.FieldByName("CARID")->AsInteger(), 2);
  models_.FieldByName("MODEL")->SetAsString("e");
  models_.Post();
  EXPECT_EQ(Models(), "be");
}

TEST_F(MasterDetailTest, MovingTheMasterPostsThePendingDetailEdit) {
  models_.First();
  models_.Edit();
  models_.FieldByName("MODEL")->SetAsString("z");
  cars_.Next();  // the detail link checks browse mode of the detail first
  EXPECT_EQ(models_.State(), dsBrowse);
  cars_.First();
  EXPECT_EQ(Models(), "zc");
}

TEST_F(MasterDetailTest, LinksThatWouldFormACircleAreRefused) {
  EXPECT_FALSE(models_.IsLinkedTo(&cars_source_));
  TDataSource models_source;
  models_source.SetDataSet(&models_);
  // models_source leads to models_, whose master leads to cars_.
  EXPECT_TRUE(cars_.IsLinkedTo(&models_source));
  EXPECT_TRUE(models_.IsLinkedTo(&models_source));
  EXPECT_EQ(ErrorOf([&] { cars_.SetMasterSource(&models_source); }),
            "cars: Circular datalinks are not allowed");
  // The same circle built from the source's side.
  TDataSource loop;
  models_.SetMasterSource(&loop);
  loop.SetName("loop");
  EXPECT_EQ(ErrorOf([&] { loop.SetDataSet(&models_); }),
            "loop: Circular datalinks are not allowed");
  models_.SetMasterSource(nullptr);
}

}  // namespace
}  // namespace orv
