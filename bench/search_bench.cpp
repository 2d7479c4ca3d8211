// Record searches on 100 000 catalogue rows (table_bench_support.h) with an index on the model
// name and one on the car year, both sides open and warm, the searches in memory:
//   FilterIndexed  every row of one car year (1 112 rows) through GetMatchedRecordsArray, which
//                  takes the year index (SQLite: SELECT id ... WHERE caryear = ? on its index)
//   FilterScan     every row of one model year, a column without an index (SQLite: the same
//                  WHERE on a full scan)
//   LocateIndexed  1 000 locates of one model name each through LocateRecord (SQLite: WHERE
//                  modelname = ? LIMIT 1 on its index)
//   LocateScan     20 locates of one description each, a column without an index (SQLite: the
//                  same WHERE on a full scan)
// Prints our time relative to SQLite's at the end; below 100% is faster.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/storage/index_list.h"
#include "engine/storage/search_records.h"

namespace {

using namespace orv::bench;

constexpr int kIndexedLocates = 1000;
constexpr int kScanLocates = 20;

// Our "Search" table, open for the whole run, with its two indexes and a search over it.
struct Ours {
  Ours() {
    EnsureTemplates();
    CopyTable("Template", "Search");
    manager = OpenOurs("Search");
    manager->Lock();
    manager->Indexes().AddIndex("ByName", "ModelName", false, "", "", 0);
    manager->Indexes().AddIndex("ByYear", "CarYear", false, "", "", 0);
    manager->Unlock();
    search =
        std::make_unique<orv::TOrvelRecordSearch>(manager->Table(), *manager, manager->Indexes());
    visible.resize(static_cast<size_t>(manager->RecordCount()));
    std::iota(visible.begin(), visible.end(), 0);
  }
  ~Ours() {
    search.reset();
    manager->CloseTable();
  }

  orv::TSearchOperation Item(CatalogueField field, const std::string& value) {
    orv::TSearchOperation item;
    item.FieldNo = field;
    item.FieldName = manager->Table().Fields()[static_cast<size_t>(field)].Name;
    item.Operator = orv::soEqual;
    search->PrepareValueBuffer(field, item.Operator, item.ValueBuffer, value);
    return item;
  }

  std::unique_ptr<orv::TOrvelDataManager> manager;
  std::unique_ptr<orv::TOrvelRecordSearch> search;
  std::vector<int32_t> visible;
};

std::unique_ptr<Ours>& OurSlot() {
  static std::unique_ptr<Ours> ours;
  return ours;
}

Ours& OurTable() {
  if (!OurSlot()) OurSlot() = std::make_unique<Ours>();
  return *OurSlot();
}

sqlite3*& SqliteSlot() {
  static sqlite3* db = nullptr;
  return db;
}

sqlite3* SqliteTable() {
  sqlite3*& db = SqliteSlot();
  if (db == nullptr) {
    EnsureTemplates();
    CopySqlite("template.db", "search.db");
    db = OpenSqlite("search.db");
    Exec(db, "CREATE INDEX by_name ON main(modelname)");
    Exec(db, "CREATE INDEX by_year ON main(caryear)");
  }
  return db;
}

void FilterOurs(benchmark::State& state, CatalogueField field, const char* value,
                int32_t expected) {
  Ours& ours = OurTable();
  ours.manager->Lock();
  const orv::TSearchOperation item = ours.Item(field, value);
  std::vector<int32_t> records;
  for (auto _ : state) {
    records.clear();
    const int32_t found = ours.search->GetMatchedRecordsArray(item, orv::kSearchNoPartial, &records,
                                                              orv::TMatchMode::kAll);
    if (found != expected) std::abort();
    benchmark::DoNotOptimize(records.data());
  }
  ours.manager->Unlock();
}

void FilterSqlite(benchmark::State& state, const char* sql, int value, int32_t expected) {
  sqlite3_stmt* select = Prepare(SqliteTable(), sql);
  std::vector<int32_t> ids;
  for (auto _ : state) {
    ids.clear();
    sqlite3_bind_int(select, 1, value);
    while (sqlite3_step(select) == SQLITE_ROW) ids.push_back(sqlite3_column_int(select, 0));
    sqlite3_reset(select);
    if (static_cast<int32_t>(ids.size()) != expected) std::abort();
    benchmark::DoNotOptimize(ids.data());
  }
  sqlite3_finalize(select);
}

// Rows with car year 1975: i % 90 == 45.
constexpr int32_t kYearRows = (kRows - 45 + 89) / 90;
// Rows with model year 1990: i % 60 == 30.
constexpr int32_t kModelYearRows = (kRows - 30 + 59) / 60;

void BM_OrvFilterIndexed(benchmark::State& state) {
  FilterOurs(state, kCarYear, "1975", kYearRows);
}
void BM_SqliteFilterIndexed(benchmark::State& state) {
  FilterSqlite(state, "SELECT id FROM main WHERE caryear = ?", 1975, kYearRows);
}
void BM_OrvFilterScan(benchmark::State& state) {
  FilterOurs(state, kModelYear, "1990", kModelYearRows);
}
void BM_SqliteFilterScan(benchmark::State& state) {
  FilterSqlite(state, "SELECT id FROM main WHERE modelyear = ?", 1990, kModelYearRows);
}

// The value of the field that locate number k looks for, and the row that has it.
std::string LocatedValue(CatalogueField field, int k, int count) {
  const int32_t row = static_cast<int32_t>((int64_t(k) * kRows) / count + 17) % kRows;
  return field == kName ? RowOf(row).name : RowOf(row).docum;
}

void LocateOurs(benchmark::State& state, CatalogueField field, int count) {
  Ours& ours = OurTable();
  ours.manager->Lock();
  std::vector<orv::TSearchOperations> items;
  for (int k = 0; k < count; ++k)
    items.push_back({ours.Item(field, LocatedValue(field, k, count))});
  orv::TLocateScope scope;
  scope.Visible = ours.visible;
  for (auto _ : state)
    for (const orv::TSearchOperations& item : items)
      if (ours.search->LocateRecord(item, orv::kSearchNoPartial, scope) < 0) std::abort();
  ours.manager->Unlock();
  state.SetItemsProcessed(state.iterations() * count);
}

void LocateSqlite(benchmark::State& state, const char* sql, CatalogueField field, int count) {
  sqlite3_stmt* select = Prepare(SqliteTable(), sql);
  std::vector<std::string> values;
  for (int k = 0; k < count; ++k) values.push_back(LocatedValue(field, k, count));
  for (auto _ : state)
    for (const std::string& value : values) {
      sqlite3_bind_text(select, 1, value.c_str(), -1, SQLITE_STATIC);
      if (sqlite3_step(select) != SQLITE_ROW) std::abort();
      benchmark::DoNotOptimize(sqlite3_column_int(select, 0));
      sqlite3_reset(select);
    }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_OrvLocateIndexed(benchmark::State& state) {
  LocateOurs(state, kName, kIndexedLocates);
}
void BM_SqliteLocateIndexed(benchmark::State& state) {
  LocateSqlite(state, "SELECT id FROM main WHERE modelname = ? LIMIT 1", kName, kIndexedLocates);
}
void BM_OrvLocateScan(benchmark::State& state) {
  LocateOurs(state, kDocum, kScanLocates);
}
void BM_SqliteLocateScan(benchmark::State& state) {
  LocateSqlite(state, "SELECT id FROM main WHERE docum = ? LIMIT 1", kDocum, kScanLocates);
}

BENCHMARK(BM_OrvFilterIndexed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteFilterIndexed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OrvFilterScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteFilterScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OrvLocateIndexed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteLocateIndexed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OrvLocateScan)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteLocateScan)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(
      argc, argv, {"FilterIndexed", "FilterScan", "LocateIndexed", "LocateScan"},
      fmt::format("{} rows", kRows), [] {
        OurSlot().reset();
        sqlite3_close(SqliteSlot());
        SqliteSlot() = nullptr;
      });
}
