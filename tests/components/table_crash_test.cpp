// A table workload of appends, updates, deletes and BLOB writes with flushes between them, cut
// short by a simulated crash after every physical write: the table must reopen with everything
// the last completed flush wrote, each record and value exactly as it was then or as the flush in
// flight made it. Deletes that move records and reused BLOB blocks go through the journal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"
#include "platform/streams.h"
#include "tests/components/data_manager_fixture.h"
#include "tests/support/fault_env.h"
#include "tests/support/no_sync_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using testing::ImageBuilder;
using testing::IntOf;
using testing::TableDefinition;

constexpr int32_t kN = 0;
constexpr int32_t kMemo = 0;  // the first BLOB field

struct Row {
  int32_t N = 0;
  std::string Memo;
  bool operator==(const Row&) const = default;
};
// Rows by record identifier.
using Model = std::map<int32_t, Row>;

std::string Text(size_t size, int seed) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = char('a' + (i * 7 + size_t(seed) * 13) % 26);
  return text;
}

int32_t RecordOf(TOrvelDataManager& manager, int32_t id) {
  for (int32_t r = 0; r < manager.RecordCount(); ++r)
    if (testing::IdOf(manager.Table(), manager.GetRecordPtr(r)) == id) return r;
  throw Exception("no record " + std::to_string(id));
}

void PutMemo(TOrvelDataManager& manager, int32_t record, const std::string& memo) {
  TMemoryStream stream;
  stream.WriteBuffer(memo.data(), static_cast<int64_t>(memo.size()));
  manager.WriteBLOBValue(stream, kMemo, record);
}

// Changes both the table and the model the same way.
struct Step {
  std::function<void(TOrvelDataManager&, Model&)> Run;
  bool Flushes = false;
};

Step Append(int32_t n, std::string memo) {
  return {[=](TOrvelDataManager& manager, Model& model) {
    const int32_t id = manager.Table().Header().LastRecordId + 1;
    ImageBuilder image(manager.Table());
    image.Clear(id).Int(kN, n);
    model[id] = {n, memo};
    manager.mvAppendRecord(image.data(), 0);
    PutMemo(manager, manager.RecordCount() - 1, memo);
  }};
}

Step Update(int32_t id, int32_t n) {
  return {[=](TOrvelDataManager& manager, Model& model) {
    model.at(id).N = n;
    ImageBuilder image(manager.Table());
    image.Clear(id).Int(kN, n);
    manager.mvUpdateRecord(image.data(), 0, RecordOf(manager, id));
  }};
}

Step Memo(int32_t id, std::string memo) {
  return {[=](TOrvelDataManager& manager, Model& model) {
    model.at(id).Memo = memo;
    PutMemo(manager, RecordOf(manager, id), memo);
  }};
}

Step Delete(int32_t id) {
  return {[=](TOrvelDataManager& manager, Model& model) {
    model.erase(id);
    manager.mvDeleteRecord(0, RecordOf(manager, id));
  }};
}

// Reading a value writes the log out first, through the journal when it must; the journal
// stays for the next such flush of a burst of deletes.
Step ReadMemo(int32_t id) {
  return {[=](TOrvelDataManager& manager, Model&) {
            TMemoryStream stream;
            manager.ReadBLOBValue(stream, kMemo, RecordOf(manager, id));
          },
          true};
}

Step Flush() {
  return {[](TOrvelDataManager& manager, Model&) { manager.FlushBuffers(); }, true};
}

// Identifiers 1..6 exist when it starts.
std::vector<Step> Workload() {
  return {
      Append(7, Text(700, 7)),
      Flush(),
      Update(2, 20),
      Memo(3, Text(1500, 3)),
      Flush(),
      Delete(1),
      Flush(),  // record 6 moves into record 0
      Memo(4, ""),
      Memo(5, Text(600, 5)),
      Flush(),  // 5 takes 4's blocks
      Append(8, Text(90, 8)),
      Append(9, Text(2000, 9)),
      Update(6, 60),
      Flush(),
      Delete(9),
      Delete(6),
      Memo(2, Text(5000, 2)),
      Flush(),
      Delete(2),
      Append(10, Text(1200, 10)),
      Flush(),  // 10 reuses 2's blocks
      Delete(3),
      ReadMemo(7),  // a journal that stays
      Delete(4),
      ReadMemo(7),  // a second segment in it
      Append(11, Text(300, 11)),
      Update(5, 50),
      ReadMemo(5),  // needs no journal: the journal goes first
      Delete(7),
      Memo(10, Text(100, 10)),
      Flush(),
  };
}

class TableCrashTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(&env_); }
  void TearDown() override { FinalizeEngine(); }

  std::unique_ptr<TOrvelDatabaseManager> Database(const std::string& folder) {
    return std::make_unique<TOrvelDatabaseManager>(folder, kStoreModeDisk, dfmNormal, false, false,
                                                   0);
  }

  // The table of identifiers 1..6, flushed and closed.
  Model CreateTable(const std::string& folder) {
    auto database = Database(folder);
    TableDefinition definition;
    definition.fields.Add("N", ftInteger);
    definition.fields.Add("Memo", ftMemo);
    definition.indexes.Add("ByN", "N", 0);
    TOrvelDataManager creator("T", database.get());
    creator.CreateTable(definition.fields, definition.indexes, 1000, false);
    TOrvelDataManager manager("T", database.get());
    EXPECT_EQ(manager.LoadTable(), kLoadTableOpened);
    Model model;
    for (int32_t i = 1; i <= 6; ++i) Append(i, Text(size_t(i) * 300, i)).Run(manager, model);
    manager.CloseTable();
    return model;
  }

  // Runs the workload until the crash; the model states from the last completed flush on.
  int64_t RunUntilCrash(const std::string& folder, int64_t writes, Model model,
                        std::vector<Model>& allowed) {
    auto database = Database(folder);
    TOrvelDataManager manager("T", database.get());
    EXPECT_EQ(manager.LoadTable(), kLoadTableOpened);
    // Flushes only where the workload asks, so that every run writes the same.
    manager.SetAutoFlush(false);
    const int64_t before = env_.Counts().writes;
    if (writes >= 0) env_.DropWritesAfter(writes);
    allowed = {model};
    for (const Step& step : Workload()) {
      try {
        step.Run(manager, model);
      } catch (const std::exception& e) {
        if (!env_.Crashed()) ADD_FAILURE() << e.what();
      }
      allowed.push_back(model);
      if (env_.Crashed()) break;
      if (step.Flushes) allowed = {model};
    }
    const int64_t made = env_.Counts().writes - before;
    manager.CloseTable();
    return made;
  }

  testing::NoSyncEnv no_sync_;
  testing::FaultEnv env_{&no_sync_};
};

// Every row found must be a state some allowed model gives it, no identifier may appear twice,
// and every row that all allowed models keep must be there.
void CheckFound(TOrvelDataManager& manager, const std::vector<Model>& allowed) {
  std::set<int32_t> found;
  for (int32_t r = 0; r < manager.RecordCount(); ++r) {
    const int32_t id = testing::IdOf(manager.Table(), manager.GetRecordPtr(r));
    EXPECT_TRUE(found.insert(id).second) << "identifier " << id << " twice";
    Row row;
    row.N = IntOf(manager.Table(), manager.GetRecordPtr(r), kN);
    TMemoryStream stream;
    try {
      manager.ReadBLOBValue(stream, kMemo, r);
      row.Memo.assign(reinterpret_cast<const char*>(stream.Memory()),
                      static_cast<size_t>(stream.Size()));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "identifier " << id << ": " << e.what();
      continue;
    }
    bool known = false;
    for (const Model& model : allowed) {
      auto it = model.find(id);
      known = known || (it != model.end() && it->second == row);
    }
    EXPECT_TRUE(known) << "identifier " << id << " holds N " << row.N << " and a memo of "
                       << row.Memo.size() << " bytes, which no step gave it";
  }
  for (const auto& [id, row] : allowed.front()) {
    bool kept = true;
    for (const Model& model : allowed) kept = kept && model.count(id) > 0;
    if (kept) EXPECT_TRUE(found.count(id)) << "identifier " << id << " lost";
  }
}

TEST_F(TableCrashTest, EveryCrashPointKeepsWhatWasFlushed) {
  testing::TempDir origin;
  const Model start = CreateTable(origin.path());
  int64_t total = 0;
  {
    testing::TempDir dir;
    std::filesystem::copy(origin.path(), dir.path(), std::filesystem::copy_options::recursive);
    std::vector<Model> allowed;
    total = RunUntilCrash(dir.path(), -1, start, allowed);
    ASSERT_GT(total, 10);
    std::printf("%lld writes\n", static_cast<long long>(total));
    auto database = Database(dir.path());
    TOrvelDataManager manager("T", database.get());
    ASSERT_EQ(manager.LoadTable(), kLoadTableOpened);
    CheckFound(manager, {allowed.back()});
    EXPECT_EQ(manager.RecordCount(), static_cast<int32_t>(allowed.back().size()));
  }
  int refused = 0;
  for (int64_t k = 0; k <= total; ++k) {
    SCOPED_TRACE("crash after write " + std::to_string(k));
    testing::TempDir dir;
    std::filesystem::copy(origin.path(), dir.path(), std::filesystem::copy_options::recursive);
    std::vector<Model> allowed;
    RunUntilCrash(dir.path(), k, start, allowed);
    env_.ClearFaults();
    auto database = Database(dir.path());
    TOrvelDataManager manager("T", database.get());
    const int result = manager.LoadTable();
    if (result != kLoadTableOpened) {
      ++refused;
      EXPECT_EQ(result, kLoadTableFilesUnusable);
      continue;
    }
    CheckFound(manager, allowed);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir.path()) / "T.jrn"));
  }
  EXPECT_EQ(refused, 0);
}

}  // namespace
}  // namespace orv
