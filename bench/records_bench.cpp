// Table records against SQLite on 100 000 catalogue rows (table_bench_support.h), both in a
// folder on local disk and both ending every changing run durably (our CloseTable, which
// flushes, and SQLite's COMMIT with its default journal and synchronous setting):
//   Append            create the table and add every row (SQLite: one transaction of prepared
//                     INSERTs)
//   ReadAll           open the table, read every row in physical order, close (SQLite: open,
//                     SELECT every column)
//   ReadIndexed       the same in the order of an index on the model name (SQLite: ORDER BY
//                     modelname over its index on that column)
//   UpdateAll         change the model year of every row (SQLite: one UPDATE in a transaction)
//   DeleteHalf        delete every second row (ours: walking back from the end, as a grid
//                     deleting from its last row does; SQLite: one DELETE ... WHERE id % 2 = 0)
//   DeleteHalfIndexed the same on the tables with the name index, which both sides maintain
// Changing runs start from a copy of the same filled table made outside the timing. Prints our
// time relative to SQLite's at the end; below 100% is faster.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/files/little_endian.h"
#include "engine/storage/index_list.h"

namespace {

using namespace orv::bench;

constexpr const char* kNameIndex = "ByName";

// "Indexed" and "indexed.db": the templates with an index on the model name.
void EnsureIndexedTemplates() {
  static bool made = [] {
    EnsureTemplates();
    CopyTable("Template", "Indexed");
    auto manager = OpenOurs("Indexed");
    manager->Lock();
    manager->Indexes().AddIndex(kNameIndex, "ModelName", false, "", "", 0);
    manager->Unlock();
    manager->CloseTable();
    CopySqlite("template.db", "indexed.db");
    sqlite3* db = OpenSqlite("indexed.db");
    Exec(db, "CREATE INDEX by_name ON main(modelname)");
    sqlite3_close(db);
    return true;
  }();
  (void)made;
}

void BM_OrvAppend(benchmark::State& state) {
  for (auto _ : state) {
    CreateCatalogue("Append");
    auto manager = OpenOurs("Append");
    FillOurs(*manager);
    manager->CloseTable();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteAppend(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(Dir() + "/append.db");
    state.ResumeTiming();
    sqlite3* db = OpenSqlite("append.db");
    FillSqlite(db);
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_OrvReadAll(benchmark::State& state) {
  EnsureTemplates();
  int64_t sum = 0;
  for (auto _ : state) {
    auto manager = OpenOurs("Template");
    for (int32_t r = 0; r < manager->RecordCount(); ++r)
      sum += Digest(manager->GetRecordPtr(r), *manager);
    manager->CloseTable();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

int64_t SqliteScan(const char* file, const std::string& sql) {
  int64_t sum = 0;
  sqlite3* db = OpenSqlite(file);
  sqlite3_stmt* select = Prepare(db, sql.c_str());
  while (sqlite3_step(select) == SQLITE_ROW) sum += SqliteDigest(select);
  sqlite3_finalize(select);
  sqlite3_close(db);
  return sum;
}

void BM_SqliteReadAll(benchmark::State& state) {
  EnsureTemplates();
  int64_t sum = 0;
  for (auto _ : state) sum += SqliteScan("template.db", kSqliteSelectAll);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_OrvReadIndexed(benchmark::State& state) {
  EnsureIndexedTemplates();
  int64_t sum = 0;
  for (auto _ : state) {
    auto manager = OpenOurs("Indexed");
    manager->Lock();
    orv::TOrvelIndexList& indexes = manager->Indexes();
    const int32_t index_no = indexes.IndexNo(kNameIndex);
    if (index_no < 0 || !indexes.IsValid(index_no)) std::abort();
    for (const int32_t record_no : indexes.Array(index_no).Items())
      sum += Digest(manager->GetRecordPtr(record_no), *manager);
    manager->Unlock();
    manager->CloseTable();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteReadIndexed(benchmark::State& state) {
  EnsureIndexedTemplates();
  int64_t sum = 0;
  const std::string sql = std::string(kSqliteSelectAll) + " ORDER BY modelname";
  for (auto _ : state) sum += SqliteScan("indexed.db", sql);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_OrvUpdateAll(benchmark::State& state) {
  EnsureTemplates();
  RunOnCopy(
      state, "Template",
      [](orv::TOrvelDataManager& manager) {
        const int32_t year = FieldOffset(manager, kModelYear);
        const size_t size = static_cast<size_t>(manager.Table().Geometry().RecordSize);
        std::vector<uint8_t> image(size);
        for (int32_t r = 0; r < manager.RecordCount(); ++r) {
          std::memcpy(image.data(), manager.GetRecordPtr(r), size);
          orv::StoreI32(image.data() + year, orv::LoadI32(image.data() + year) + 1);
          manager.mvUpdateRecord(image.data(), 0, r);
        }
      },
      kRows);
}

void BM_SqliteUpdateAll(benchmark::State& state) {
  EnsureTemplates();
  RunOnSqliteCopy(state, "template.db", "UPDATE main SET modelyear = modelyear + 1", kRows);
}

void DeleteHalfOurs(orv::TOrvelDataManager& manager) {
  for (int32_t r = manager.RecordCount() - 2; r >= 0; r -= 2) manager.mvDeleteRecord(0, r);
  if (manager.RecordCount() != kRows / 2) std::abort();
}

constexpr const char* kSqliteDeleteHalf = "DELETE FROM main WHERE id % 2 = 0";

void BM_OrvDeleteHalf(benchmark::State& state) {
  EnsureTemplates();
  RunOnCopy(state, "Template", DeleteHalfOurs, kRows / 2);
}

void BM_SqliteDeleteHalf(benchmark::State& state) {
  EnsureTemplates();
  RunOnSqliteCopy(state, "template.db", kSqliteDeleteHalf, kRows / 2);
}

void BM_OrvDeleteHalfIndexed(benchmark::State& state) {
  EnsureIndexedTemplates();
  RunOnCopy(state, "Indexed", DeleteHalfOurs, kRows / 2);
}

void BM_SqliteDeleteHalfIndexed(benchmark::State& state) {
  EnsureIndexedTemplates();
  RunOnSqliteCopy(state, "indexed.db", kSqliteDeleteHalf, kRows / 2);
}

BENCHMARK(BM_OrvAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvReadIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteReadIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvUpdateAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteUpdateAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvDeleteHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteDeleteHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvDeleteHalfIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteDeleteHalfIndexed)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(
      argc, argv,
      {"Append", "ReadAll", "ReadIndexed", "UpdateAll", "DeleteHalf", "DeleteHalfIndexed"});
}
