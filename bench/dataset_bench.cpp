// The catalogue's table through the dataset layer against SQLite's statements on the same rows:
// opening and reading every row, Locate on an indexed and an unindexed field, and a filter set,
// read through and taken off again.
#include <memory>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/components/orvel_table.h"
#include "engine/storage/index_list.h"
#include "platform/field.h"
#include "platform/variant.h"

namespace orv::bench {
namespace {

constexpr int kLocates = 1000;
constexpr int kUnindexedLocates = 50;

// "Named": the template with an index on ModelName; "named.db" likewise.
void EnsureNamedTables() {
  static bool made = [] {
    EnsureTemplates();
    CopyTable("Template", "Named");
    {
      auto manager = OpenOurs("Named");
      manager->Indexes().AddIndex("ByName", "ModelName", false, "", "", 0);
      manager->CloseTable();
    }
    CopySqlite("template.db", "named.db");
    sqlite3* db = OpenSqlite("named.db");
    Exec(db, "CREATE INDEX byname ON main(modelname)");
    sqlite3_close(db);
    return true;
  }();
  (void)made;
}

std::unique_ptr<TOrvelTable> OpenTable(const std::string& name) {
  auto table = std::make_unique<TOrvelTable>();
  table->SetDatabaseName(Dir());
  table->SetTableName(name);
  table->Open();
  return table;
}

// The names a run of locates asks for, spread over the whole table.
std::string NameAt(int k) {
  return RowOf(static_cast<int32_t>((k * 7919LL + 13) % kRows)).name;
}

int64_t ReadVisibleRows(TOrvelTable& table) {
  TField* name = table.FieldByName("ModelName");
  TField* docum = table.FieldByName("Docum");
  TField* car_year = table.FieldByName("CarYear");
  TField* model_year = table.FieldByName("ModelYear");
  TField* price = table.FieldByName("Price");
  int64_t digest = 0;
  for (table.First(); !table.Eof(); table.Next())
    digest += car_year->AsInteger() + model_year->AsInteger() +
              static_cast<int64_t>(name->AsString().size() + docum->AsString().size()) +
              static_cast<int64_t>(price->AsFloat());
  return digest;
}

// A text column as an application takes it, like a dataset's AsString.
std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text != nullptr ? std::string(text) : std::string();
}

int64_t ReadSqliteRows(sqlite3_stmt* statement) {
  int64_t digest = 0;
  while (sqlite3_step(statement) == SQLITE_ROW)
    digest +=
        sqlite3_column_int(statement, 3) + sqlite3_column_int(statement, 4) +
        static_cast<int64_t>(ColumnText(statement, 1).size() + ColumnText(statement, 2).size()) +
        static_cast<int64_t>(sqlite3_column_double(statement, 5));
  return digest;
}

void BM_OrvOpenScan(benchmark::State& state) {
  EnsureTemplates();
  for (auto _ : state) {
    auto table = OpenTable("Template");
    benchmark::DoNotOptimize(ReadVisibleRows(*table));
    table->Close();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteOpenScan(benchmark::State& state) {
  EnsureTemplates();
  for (auto _ : state) {
    sqlite3* db = OpenSqlite("template.db");
    sqlite3_stmt* select = Prepare(db, kSqliteSelectAll);
    benchmark::DoNotOptimize(ReadSqliteRows(select));
    sqlite3_finalize(select);
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void OrvLocate(benchmark::State& state, const std::string& table_name, int count) {
  EnsureNamedTables();
  auto table = OpenTable(table_name);
  TField* price = table->FieldByName("Price");
  for (auto _ : state)
    for (int k = 0; k < count; ++k) {
      if (!table->Locate("ModelName", Variant(NameAt(k)), 0)) std::abort();
      benchmark::DoNotOptimize(price->AsFloat());
    }
  table->Close();
  state.SetItemsProcessed(state.iterations() * count);
}

void SqliteLocate(benchmark::State& state, const char* file, int count) {
  EnsureNamedTables();
  sqlite3* db = OpenSqlite(file);
  sqlite3_stmt* select = Prepare(db,
                                 "SELECT id, modelname, docum, caryear, modelyear, price FROM main "
                                 "WHERE modelname = ? LIMIT 1");
  for (auto _ : state)
    for (int k = 0; k < count; ++k) {
      const std::string name = NameAt(k);
      sqlite3_bind_text(select, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(select) != SQLITE_ROW) std::abort();
      benchmark::DoNotOptimize(sqlite3_column_double(select, 5));
      sqlite3_reset(select);
    }
  sqlite3_finalize(select);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_OrvLocateIndexed(benchmark::State& state) {
  OrvLocate(state, "Named", kLocates);
}
void BM_SqliteLocateIndexed(benchmark::State& state) {
  SqliteLocate(state, "named.db", kLocates);
}
void BM_OrvLocateUnindexed(benchmark::State& state) {
  OrvLocate(state, "Template", kUnindexedLocates);
}
void BM_SqliteLocateUnindexed(benchmark::State& state) {
  SqliteLocate(state, "template.db", kUnindexedLocates);
}

// A filter on an unindexed field (one car year in 90) and a range of names on an indexed one:
// set, every visible row read, taken off again.
constexpr const char* kYearFilter = "CarYear = 1950";
constexpr const char* kNameFilter = "ModelName >= 'Model 5' and ModelName < 'Model 6'";

void OrvFilter(benchmark::State& state, const std::string& table_name, const char* filter) {
  EnsureNamedTables();
  auto table = OpenTable(table_name);
  for (auto _ : state) {
    table->SetFilter(filter);
    table->SetFiltered(true);
    benchmark::DoNotOptimize(ReadVisibleRows(*table));
    table->SetFiltered(false);
  }
  table->Close();
}

void SqliteFilter(benchmark::State& state, const char* file, const char* where) {
  EnsureNamedTables();
  sqlite3* db = OpenSqlite(file);
  const std::string sql = std::string(kSqliteSelectAll) + " WHERE " + where;
  for (auto _ : state) {
    sqlite3_stmt* select = Prepare(db, sql.c_str());
    benchmark::DoNotOptimize(ReadSqliteRows(select));
    sqlite3_finalize(select);
  }
  sqlite3_close(db);
}

void BM_OrvFilterUnindexed(benchmark::State& state) {
  OrvFilter(state, "Template", kYearFilter);
}
void BM_SqliteFilterUnindexed(benchmark::State& state) {
  SqliteFilter(state, "template.db", "caryear = 1950");
}
void BM_OrvFilterIndexed(benchmark::State& state) {
  OrvFilter(state, "Named", kNameFilter);
}
void BM_SqliteFilterIndexed(benchmark::State& state) {
  SqliteFilter(state, "named.db", "modelname >= 'Model 5' AND modelname < 'Model 6'");
}

BENCHMARK(BM_OrvOpenScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteOpenScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvLocateIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteLocateIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvLocateUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteLocateUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvFilterUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFilterUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvFilterIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteFilterIndexed)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv::bench

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(
      argc, argv,
      {"OpenScan", "LocateIndexed", "LocateUnindexed", "FilterUnindexed", "FilterIndexed"},
      fmt::format("{} rows through the dataset", orv::bench::kRows));
}
