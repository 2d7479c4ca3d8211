// Table records against SQLite on 100 000 rows of (identifier, name, integer, double), both in a
// folder on local disk and both ending every changing run durably (our FlushBuffers and close,
// SQLite's COMMIT with its default journal and synchronous setting):
//   Append     create the table and add every row (SQLite: one transaction of prepared INSERTs)
//   ReadAll    open the table, read every row in physical order, close (SQLite: open, SELECT)
//   UpdateAll  change the integer of every row (SQLite: one UPDATE statement in a transaction)
//   DeleteHalf delete every second row (ours: walking back from the end, as a grid deleting from
//              its last row does; SQLite: one DELETE ... WHERE id % 2 = 0)
// Changing runs start from a copy of the same filled table made outside the timing. Prints our
// time relative to SQLite's at the end; below 100% is faster.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "bench/table_bench_support.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"

namespace {

using namespace orv::bench;

void CreateOurs(const std::string& table) {
  orv::TFieldDefs fields(nullptr);
  fields.Add("ID", orv::ftAutoInc);
  fields.Add("Name", orv::ftString, 20);
  fields.Add("N", orv::ftInteger);
  fields.Add("X", orv::ftFloat);
  orv::TIndexDefs indexes(nullptr);
  orv::TOrvelDataManager(table, &Database()).CreateTable(fields, indexes, 1000, false);
}

struct Layout {
  int32_t id, name, n, x;
};

Layout LayoutOf(const orv::TOrvelDataManager& manager) {
  const orv::TRecordGeometry& g = manager.Table().Geometry();
  return {g.IdentifierOffset(), g.FieldOffsets[0], g.FieldOffsets[1], g.FieldOffsets[2]};
}

void FillOurs(orv::TOrvelDataManager& manager) {
  const Layout at = LayoutOf(manager);
  const orv::TRecordGeometry& g = manager.Table().Geometry();
  std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
  char name[32];
  for (int32_t i = 0; i < kRows; ++i) {
    std::memset(image.data(), 0, image.size());
    orv::StoreI32(image.data() + at.id, i + 1);
    std::snprintf(name, sizeof name, "Model %d", i);
    std::memcpy(image.data() + at.name, name, std::strlen(name) + 1);
    orv::StoreI32(image.data() + at.n, i);
    const double x = i * 0.5;
    std::memcpy(image.data() + at.x, &x, sizeof x);
    manager.mvAppendRecord(image.data(), 0);
  }
}

// The filled table every reading and changing run starts from.
void EnsureOurTemplate() {
  static bool made = [] {
    CreateOurs("Template");
    auto manager = OpenOurs("Template");
    FillOurs(*manager);
    manager->CloseTable();
    return true;
  }();
  (void)made;
}

void FillSqlite(sqlite3* db) {
  Exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER, x REAL)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, ?, ?)", -1, &insert, nullptr);
  char name[32];
  for (int32_t i = 0; i < kRows; ++i) {
    std::snprintf(name, sizeof name, "Model %d", i);
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_text(insert, 2, name, -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 3, i);
    sqlite3_bind_double(insert, 4, i * 0.5);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
}

void EnsureSqliteTemplate() {
  static bool made = [] {
    sqlite3* db = OpenSqlite("template.db");
    FillSqlite(db);
    sqlite3_close(db);
    return true;
  }();
  (void)made;
}

void CopySqlite() {
  fs::copy_file(Dir() + "/template.db", Dir() + "/work.db", fs::copy_options::overwrite_existing);
}

void BM_OrvAppend(benchmark::State& state) {
  for (auto _ : state) {
    CreateOurs("Append");
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
  EnsureOurTemplate();
  int64_t sum = 0;
  for (auto _ : state) {
    auto manager = OpenOurs("Template");
    const int32_t n = LayoutOf(*manager).n;
    for (int32_t r = 0; r < manager->RecordCount(); ++r)
      sum += orv::LoadI32(manager->GetRecordPtr(r) + n);
    manager->CloseTable();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_SqliteReadAll(benchmark::State& state) {
  EnsureSqliteTemplate();
  int64_t sum = 0;
  for (auto _ : state) {
    sqlite3* db = OpenSqlite("template.db");
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT id, name, n, x FROM t", -1, &select, nullptr);
    while (sqlite3_step(select) == SQLITE_ROW) sum += sqlite3_column_int(select, 2);
    sqlite3_finalize(select);
    sqlite3_close(db);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Runs change on a fresh copy of the filled table, made outside the timing.
void RunOnCopy(benchmark::State& state, const std::function<void(orv::TOrvelDataManager&)>& change,
               int64_t rows) {
  EnsureOurTemplate();
  for (auto _ : state) {
    state.PauseTiming();
    CopyTable("Template", "Work");
    state.ResumeTiming();
    auto manager = OpenOurs("Work");
    change(*manager);
    manager->CloseTable();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// Runs the statements on a fresh copy of the filled database in one transaction.
void RunOnSqliteCopy(benchmark::State& state, const char* sql, int64_t rows) {
  EnsureSqliteTemplate();
  for (auto _ : state) {
    state.PauseTiming();
    CopySqlite();
    state.ResumeTiming();
    sqlite3* db = OpenSqlite("work.db");
    Exec(db, "BEGIN");
    Exec(db, sql);
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_OrvUpdateAll(benchmark::State& state) {
  RunOnCopy(
      state,
      [](orv::TOrvelDataManager& manager) {
        const int32_t n = LayoutOf(manager).n;
        const size_t size = static_cast<size_t>(manager.Table().Geometry().RecordSize);
        std::vector<uint8_t> image(size);
        for (int32_t r = 0; r < manager.RecordCount(); ++r) {
          std::memcpy(image.data(), manager.GetRecordPtr(r), size);
          orv::StoreI32(image.data() + n, orv::LoadI32(image.data() + n) + 1);
          manager.mvUpdateRecord(image.data(), 0, r);
        }
      },
      kRows);
}

void BM_SqliteUpdateAll(benchmark::State& state) {
  RunOnSqliteCopy(state, "UPDATE t SET n = n + 1", kRows);
}

void BM_OrvDeleteHalf(benchmark::State& state) {
  RunOnCopy(
      state,
      [](orv::TOrvelDataManager& manager) {
        for (int32_t r = manager.RecordCount() - 2; r >= 0; r -= 2) manager.mvDeleteRecord(0, r);
        if (manager.RecordCount() != kRows / 2) std::abort();
      },
      kRows / 2);
}

void BM_SqliteDeleteHalf(benchmark::State& state) {
  RunOnSqliteCopy(state, "DELETE FROM t WHERE id % 2 = 0", kRows / 2);
}

BENCHMARK(BM_OrvAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteAppend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvUpdateAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteUpdateAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvDeleteHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteDeleteHalf)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of every run for the ratios.
}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(argc, argv,
                                        {"Append", "ReadAll", "UpdateAll", "DeleteHalf"});
}
