// Building an index over 100 000 catalogue rows (table_bench_support.h), tables in a folder on
// local disk, each run from a copy of the same filled table made outside the timing:
//   BuildName  add an index on the model names, which come in shuffled order, and write it
//              durably (ours: AddIndex, which saves the .idx, then the .idx flushed to the
//              device; SQLite: CREATE INDEX in autocommit)
//   BuildYear  the same on the car year: 90 values, each on more than a thousand rows
//   OpenClean  ours only: open the table with its three indexes from a cleanly closed .idx
// Prints our time relative to SQLite's at the end; below 100% is faster.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "bench/table_bench_support.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/storage/index_list.h"

namespace {

using namespace orv::bench;

// Adds the index on a fresh copy of the template, timing the build and the durable save.
void BuildOurs(benchmark::State& state, const char* field) {
  EnsureTemplates();
  for (auto _ : state) {
    state.PauseTiming();
    CopyTable("Template", "Work");
    auto manager = OpenOurs("Work");
    const int64_t sorts = manager->Indexes().SortCount();
    state.ResumeTiming();
    // Under the table's lock, as every index operation runs.
    manager->Lock();
    manager->Indexes().AddIndex("ByField", field, false, "", "", 0);
    manager->Table().File(orv::tfkIndex)->Flush();
    manager->Unlock();
    state.PauseTiming();
    if (manager->Indexes().SortCount() != sorts + 1) std::abort();
    manager->CloseTable();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BuildSqlite(benchmark::State& state, const char* sql) {
  EnsureTemplates();
  for (auto _ : state) {
    state.PauseTiming();
    CopySqlite("template.db", "work.db");
    sqlite3* db = OpenSqlite("work.db");
    state.ResumeTiming();
    Exec(db, sql);
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_OrvBuildName(benchmark::State& state) {
  BuildOurs(state, "ModelName");
}
void BM_SqliteBuildName(benchmark::State& state) {
  BuildSqlite(state, "CREATE INDEX by_field ON main(modelname)");
}
void BM_OrvBuildYear(benchmark::State& state) {
  BuildOurs(state, "CarYear");
}
void BM_SqliteBuildYear(benchmark::State& state) {
  BuildSqlite(state, "CREATE INDEX by_field ON main(caryear)");
}

void BM_OrvOpenClean(benchmark::State& state) {
  static bool made = [] {
    EnsureTemplates();
    CopyTable("Template", "Indexed");
    auto manager = OpenOurs("Indexed");
    manager->Lock();
    manager->Indexes().AddIndex("ByName", "ModelName", false, "", "", 0);
    manager->Indexes().AddIndex("ByYear", "CarYear", false, "", "", 0);
    manager->Unlock();
    manager->CloseTable();
    return true;
  }();
  (void)made;
  for (auto _ : state) {
    auto manager = OpenOurs("Indexed");
    if (manager->Indexes().SortCount() != 0) std::abort();
    manager->CloseTable();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_OrvBuildName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteBuildName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvBuildYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteBuildYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvOpenClean)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(argc, argv, {"BuildName", "BuildYear"});
}
