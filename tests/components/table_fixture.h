#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/components/orvel_table.h"
#include "platform/field.h"
#include "tests/components/engine_fixture.h"

namespace orv::testing {

// A folder database; tables are made through TOrvelTable itself.
class TableTest : public EngineTest {
 protected:
  std::unique_ptr<TOrvelTable> NewTable(const std::string& name = "T") {
    auto table = std::make_unique<TOrvelTable>();
    table->SetDatabaseName(dir_.path());
    table->SetTableName(name);
    return table;
  }

  // NAME string(20), AGE integer, identifier ID; indexes ByNameAge (NAME;AGE), ByAge, ByName.
  std::unique_ptr<TOrvelTable> CreatePeople(const std::string& name = "T") {
    auto table = NewTable(name);
    table->FieldDefs().Add("ID", ftAutoInc);
    table->FieldDefs().Add("NAME", ftString, 20);
    table->FieldDefs().Add("AGE", ftInteger);
    table->IndexDefs().Add("ByNameAge", "NAME;AGE", 0);
    table->IndexDefs().Add("ByAge", "AGE", 0);
    table->IndexDefs().Add("ByName", "NAME", 0);
    table->CreateTable();
    return table;
  }

  static void Add(TOrvelTable& table, const std::vector<std::pair<std::string, int>>& people) {
    for (const auto& [name, age] : people) {
      table.Append();
      table.FieldByName("NAME")->SetAsString(name);
      table.FieldByName("AGE")->SetAsInteger(age);
      table.Post();
    }
  }

  static std::vector<std::string> Column(TOrvelTable& table, const std::string& field) {
    std::vector<std::string> values;
    for (table.First(); !table.Eof(); table.Next())
      values.push_back(table.FieldByName(field)->AsString());
    return values;
  }
};

}  // namespace orv::testing
