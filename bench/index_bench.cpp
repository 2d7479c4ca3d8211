// Building an index over 100 000 rows of (identifier, name, sequential integer, constant
// integer), tables in a folder on local disk:
//   BuildName     add an index on the names, which come in shuffled order, and write it durably
//                 (ours: AddIndex, which saves the .idx, then the .idx flushed to the device;
//                 SQLite: CREATE INDEX in autocommit)
//   BuildSorted   ours only: an index on the integer that already runs in order
//   BuildEqual    ours only: an index on the constant, every key equal
//   OpenClean     ours only: open the table with its three indexes from a cleanly closed .idx
// Each run starts from a copy of the same filled table made outside the timing. Prints our time
// relative to SQLite's at the end; below 100% is faster.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "engine/storage/index_list.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"

namespace {

using namespace orv::bench;

// Row i's name: a multiplicative shuffle of 0 .. kRows - 1, so the names come in no order.
std::string NameOf(int32_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "Model %d", static_cast<int>((i * 48271LL) % kRows));
  return name;
}

void MakeOurTemplate() {
  orv::TFieldDefs fields(nullptr);
  fields.Add("ID", orv::ftAutoInc);
  fields.Add("Name", orv::ftString, 20);
  fields.Add("N", orv::ftInteger);
  fields.Add("K", orv::ftInteger);
  orv::TIndexDefs indexes(nullptr);
  orv::TOrvelDataManager("Template", &Database()).CreateTable(fields, indexes, 1000, false);
  auto manager = OpenOurs("Template");
  const orv::TRecordGeometry& g = manager->Table().Geometry();
  std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
  for (int32_t i = 0; i < kRows; ++i) {
    std::memset(image.data(), 0, image.size());
    orv::StoreI32(image.data() + g.IdentifierOffset(), i + 1);
    const std::string name = NameOf(i);
    std::memcpy(image.data() + g.FieldOffsets[0], name.c_str(), name.size() + 1);
    orv::StoreI32(image.data() + g.FieldOffsets[1], i);
    orv::StoreI32(image.data() + g.FieldOffsets[2], 7);
    manager->mvAppendRecord(image.data(), 0);
  }
  manager->CloseTable();
}

void EnsureOurTemplate() {
  static bool made = (MakeOurTemplate(), true);
  (void)made;
}

// Adds the index on a fresh copy of the template, timing the build and the durable save.
void BuildOurs(benchmark::State& state, const char* field) {
  EnsureOurTemplate();
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

void BM_OrvBuildName(benchmark::State& state) {
  BuildOurs(state, "Name");
}
void BM_OrvBuildSorted(benchmark::State& state) {
  BuildOurs(state, "N");
}
void BM_OrvBuildEqual(benchmark::State& state) {
  BuildOurs(state, "K");
}

void BM_OrvOpenClean(benchmark::State& state) {
  static bool made = [] {
    EnsureOurTemplate();
    CopyTable("Template", "Indexed");
    auto manager = OpenOurs("Indexed");
    manager->Indexes().AddIndex("ByName", "Name", false, "", "", 0);
    manager->Indexes().AddIndex("ByN", "N", false, "", "", 0);
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

void MakeSqliteTemplate() {
  sqlite3* db = OpenSqlite("template.db");
  Exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, n INTEGER, k INTEGER)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, ?, 7)", -1, &insert, nullptr);
  for (int32_t i = 0; i < kRows; ++i) {
    const std::string name = NameOf(i);
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 3, i);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

void BM_SqliteBuildName(benchmark::State& state) {
  static bool made = (MakeSqliteTemplate(), true);
  (void)made;
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(Dir() + "/template.db", Dir() + "/work.db", fs::copy_options::overwrite_existing);
    sqlite3* db = OpenSqlite("work.db");
    state.ResumeTiming();
    Exec(db, "CREATE INDEX by_name ON t(name)");
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_OrvBuildName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteBuildName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvBuildSorted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvBuildEqual)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrvOpenClean)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(argc, argv, {"BuildName"});
}
