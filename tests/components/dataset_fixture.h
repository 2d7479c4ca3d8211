#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/storage/index_list.h"
#include "engine/storage/search_records.h"
#include "platform/field.h"
#include "tests/components/engine_fixture.h"

namespace orv::testing {

// The dataset core opened on a table by name, with its protected services in reach.
class TestDataset : public TOrvelDataset {
 public:
  explicit TestDataset(TComponent* owner = nullptr) : TOrvelDataset(owner) {}
  ~TestDataset() override { Close(); }

  void SetTableName(std::string name) { table_name_ = std::move(name); }
  void CreateTable() { InternalCreateTable(); }
  void DeleteTable() { InternalDeleteTable(); }
  void RawDelete() { InternalDelete(); }
  void UseIndex(const std::string& name) { SetCurrentIndex(dm_->Indexes().IndexNo(name)); }
  uint64_t MatchTests() const { return search_ ? search_->MatchTestCount() : 0; }
  bool Stale() const { return IsStale(); }

  TDataSet* master = nullptr;
  std::vector<std::string> master_fields;

 protected:
  TDataSet* MasterDataSet() const override { return master; }
  std::vector<TField*> MasterFields() const override {
    std::vector<TField*> fields;
    if (master != nullptr)
      for (const std::string& name : master_fields) fields.push_back(master->FieldByName(name));
    return fields;
  }
};

// A folder database with one table T: ID (auto-increment identifier), NAME string(20), AGE
// integer, BORN date, NOTE memo; indexes ByName (NAME) and ByAge (AGE).
class DatasetTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    CreateStandardTable("T");
  }

  std::unique_ptr<TestDataset> NewDataset(const std::string& table = "T") {
    auto dataset = std::make_unique<TestDataset>();
    dataset->SetDatabaseName(dir_.path());
    dataset->SetTableName(table);
    return dataset;
  }

  void CreateStandardTable(const std::string& table, bool unique_name = false,
                           bool required_age = false) {
    auto dataset = NewDataset(table);
    TFieldDefs& fields = dataset->FieldDefs();
    fields.Add("ID", ftAutoInc);
    fields.Add("NAME", ftString, 20);
    fields.Add("AGE", ftInteger, 0, required_age);
    fields.Add("BORN", ftDate);
    fields.Add("NOTE", ftMemo);
    dataset->IndexDefs().Add("ByName", "NAME", unique_name ? ixUnique : 0);
    dataset->IndexDefs().Add("ByAge", "AGE", 0);
    dataset->CreateTable();
  }

  // Appends records (name, age) and posts each.
  static void AddPeople(TestDataset& dataset,
                        const std::vector<std::pair<std::string, int>>& people) {
    for (const auto& [name, age] : people) {
      dataset.Append();
      dataset.FieldByName("NAME")->SetAsString(name);
      dataset.FieldByName("AGE")->SetAsInteger(age);
      dataset.Post();
    }
  }

  // NAME of every visible record, walking from the first.
  static std::vector<std::string> Names(TestDataset& dataset) {
    std::vector<std::string> names;
    dataset.First();
    while (!dataset.Eof()) {
      names.push_back(dataset.FieldByName("NAME")->AsString());
      dataset.Next();
    }
    return names;
  }
};

}  // namespace orv::testing
