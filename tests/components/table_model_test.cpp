// A random run of inserts, edits, deletes, filter switches, ranges, index switches, bookmarks
// and Locate on a TOrvelTable, with the visible rows compared after every step to a plain model.
// ORV_MODEL_SEED and ORV_MODEL_STEPS choose another run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/components/table_fixture.h"

namespace orv::testing {
namespace {

struct Row {
  int32_t id;
  std::string name;
  int32_t age;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << row.id << "," << row.name << "," << row.age << "}";
}

enum class Order { kId, kName, kAge };

uint32_t EnvNumber(const char* name, uint32_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0'
             ? static_cast<uint32_t>(std::strtoul(value, nullptr, 10))
             : fallback;
}

class TableModelTest : public TableTest {
 protected:
  // What the table must show: the rows that pass the filter and the range, in index order with
  // the identifier breaking ties.
  std::vector<Row> Expected() const {
    std::vector<Row> rows;
    for (const Row& row : rows_) {
      if (filtered_ && !(row.age > 50)) continue;
      if (range_ && (row.age < low_ || row.age > high_)) continue;
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [this](const Row& a, const Row& b) {
      switch (order_) {
        case Order::kName:
          return std::tie(a.name, a.id) < std::tie(b.name, b.id);
        case Order::kAge:
          return std::tie(a.age, a.id) < std::tie(b.age, b.id);
        default:
          return a.id < b.id;
      }
    });
    return rows;
  }

  std::vector<Row> Visible(TOrvelTable& table) {
    std::vector<Row> rows;
    for (table.First(); !table.Eof(); table.Next())
      rows.push_back({table.FieldByName("ID")->AsInteger(), table.FieldByName("NAME")->AsString(),
                      table.FieldByName("AGE")->AsInteger()});
    return rows;
  }

  std::string RandomName() {
    static const char* kNames[] = {"ann", "bob", "cat", "dan", "eve", "fay", "gus", "hal"};
    return kNames[random_() % 8];
  }
  // Moves to a random visible record; false when there is none.
  bool MoveToRandom(TOrvelTable& table) {
    const int count = table.RecordCount();
    if (count == 0) return false;
    table.SetRecNo(static_cast<int>(random_() % static_cast<uint32_t>(count)) + 1);
    return true;
  }
  std::vector<Row>::iterator Find(int32_t id) {
    return std::find_if(rows_.begin(), rows_.end(), [id](const Row& r) { return r.id == id; });
  }

  std::mt19937 random_;
  std::vector<Row> rows_;
  bool filtered_ = false;
  bool range_ = false;
  int32_t low_ = 0, high_ = 0;
  Order order_ = Order::kId;
};

TEST_F(TableModelTest, RandomOperationsMatchTheModel) {
  const uint32_t seed = EnvNumber("ORV_MODEL_SEED", 20241211);
  const uint32_t steps = EnvNumber("ORV_MODEL_STEPS", 1500);
  random_.seed(seed);
  auto table = NewTable();
  table->FieldDefs().Add("ID", ftAutoInc);
  table->FieldDefs().Add("NAME", ftString, 10);
  table->FieldDefs().Add("AGE", ftInteger);
  table->IndexDefs().Add("ByName", "NAME", 0);
  table->IndexDefs().Add("ByAge", "AGE", 0);
  table->CreateTable();
  table->Open();
  table->SetFilter("AGE > 50");
  int32_t last_id = 0;

  for (uint32_t step = 0; step < steps; ++step) {
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " step " << step);
    const uint32_t dice = random_() % 100;
    try {
      if (dice < 30 || rows_.size() < 5) {
        const Row row{++last_id, RandomName(), static_cast<int32_t>(random_() % 100)};
        table->Append();
        table->FieldByName("NAME")->SetAsString(row.name);
        table->FieldByName("AGE")->SetAsInteger(row.age);
        table->Post();
        rows_.push_back(row);
      } else if (dice < 45) {
        if (MoveToRandom(*table)) {
          auto row = Find(table->FieldByName("ID")->AsInteger());
          ASSERT_NE(row, rows_.end());
          row->name = RandomName();
          row->age = static_cast<int32_t>(random_() % 100);
          table->Edit();
          table->FieldByName("NAME")->SetAsString(row->name);
          table->FieldByName("AGE")->SetAsInteger(row->age);
          table->Post();
        }
      } else if (dice < 55) {
        if (MoveToRandom(*table)) {
          auto row = Find(table->FieldByName("ID")->AsInteger());
          ASSERT_NE(row, rows_.end());
          rows_.erase(row);
          table->Delete();
        }
      } else if (dice < 63) {
        filtered_ = !filtered_;
        table->SetFiltered(filtered_);
      } else if (dice < 71) {
        if (order_ == Order::kAge) {
          low_ = static_cast<int32_t>(random_() % 100);
          high_ = low_ + static_cast<int32_t>(random_() % 40);
          table->SetRangeStart();
          table->FieldByName("AGE")->SetAsInteger(low_);
          table->SetRangeEnd();
          table->FieldByName("AGE")->SetAsInteger(high_);
          table->ApplyRange();
          range_ = true;
        }
      } else if (dice < 74) {
        table->CancelRange();
        range_ = false;
      } else if (dice < 84) {
        // Every selection resets the range.
        switch (random_() % 4) {
          case 0:
            table->SetIndexName("");
            order_ = Order::kId;
            break;
          case 1:
            table->SetIndexName("ByName");
            order_ = Order::kName;
            break;
          case 2:
            table->SetIndexFieldNames("AGE");
            order_ = Order::kAge;
            break;
          default:
            table->SetIndexFieldNames("NAME");
            order_ = Order::kName;
            break;
        }
        range_ = false;
      } else if (dice < 92) {
        if (MoveToRandom(*table)) {
          const int32_t id = table->FieldByName("ID")->AsInteger();
          const TBookmark bookmark = table->Bookmark();
          MoveToRandom(*table);
          table->GotoBookmark(bookmark);
          EXPECT_EQ(table->FieldByName("ID")->AsInteger(), id);
        }
      } else {
        const std::string name = RandomName();
        const std::vector<Row> expected = Expected();
        const bool present = std::any_of(expected.begin(), expected.end(),
                                         [&](const Row& r) { return r.name == name; });
        EXPECT_EQ(table->Locate("NAME", Variant(name), 0), present) << name;
        if (present) {
          EXPECT_EQ(table->FieldByName("NAME")->AsString(), name);
        }
      }
    } catch (const std::exception& e) {
      FAIL() << "dice " << dice << " filtered " << filtered_ << " range " << range_ << " order "
             << static_cast<int>(order_) << ": " << e.what();
    }
    const std::vector<Row> expected = Expected();
    ASSERT_EQ(table->RecordCount(), static_cast<int>(expected.size()));
    ASSERT_EQ(Visible(*table), expected);
  }
}

}  // namespace
}  // namespace orv::testing
