// What the table benchmarks share: a scratch folder on local disk with our database manager
// over it, the catalogue-shaped rows (an auto-increment key, a model name and a description, the
// years of the real car and of the model, a price) on both sides, filled template tables to copy
// from, and a reporter that prints our time against SQLite's.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"

namespace orv::bench {

namespace fs = std::filesystem;

inline constexpr int32_t kRows = 100000;

// The folder every table and SQLite file of the run lives in.
inline const std::string& Dir() {
  struct Folder {
    Folder() {
      path = fs::temp_directory_path().string() + "/orv-table-bench-XXXXXX";
      if (mkdtemp(path.data()) == nullptr) std::abort();
    }
    ~Folder() { fs::remove_all(path); }
    std::string path;
  };
  static Folder folder;
  return folder.path;
}

// Our database manager for Dir(); RunTableBenchmarks sets it up.
inline TOrvelDatabaseManager*& DatabaseSlot() {
  static TOrvelDatabaseManager* database = nullptr;
  return database;
}
inline TOrvelDatabaseManager& Database() {
  return *DatabaseSlot();
}

inline std::unique_ptr<TOrvelDataManager> OpenOurs(const std::string& table) {
  auto manager = std::make_unique<TOrvelDataManager>(table, &Database());
  if (manager->LoadTable() != kLoadTableOpened) std::abort();
  return manager;
}

// Copies a closed table (with its BLOB files when it has them).
inline void CopyTable(const std::string& from, const std::string& to) {
  for (const char* ext : {".dat", ".idx", ".bif", ".bdf"}) {
    const std::string source = Dir() + "/" + from + ext;
    if (fs::exists(source))
      fs::copy_file(source, Dir() + "/" + to + ext, fs::copy_options::overwrite_existing);
  }
}

inline sqlite3* OpenSqlite(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open((Dir() + "/" + file).c_str(), &db) != SQLITE_OK) std::abort();
  return db;
}

inline void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", error);
    std::abort();
  }
}

inline sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    std::abort();
  }
  return statement;
}

inline void CopySqlite(const std::string& from, const std::string& to) {
  fs::copy_file(Dir() + "/" + from, Dir() + "/" + to, fs::copy_options::overwrite_existing);
}

// One catalogue row. The names come in no order (a multiplicative shuffle of the row number),
// so that an index on them has real sorting to do; the car years repeat, as years do.
struct CatalogueRow {
  int32_t id;
  char name[40];
  char docum[60];
  int32_t car_year;
  int32_t model_year;
  double price;
};

inline CatalogueRow RowOf(int32_t i) {
  CatalogueRow row{};
  row.id = i + 1;
  const int shuffled = static_cast<int>((i * 48271LL) % kRows);
  std::snprintf(row.name, sizeof row.name, "Model %d", shuffled);
  std::snprintf(row.docum, sizeof row.docum, "Scale 1:43, series %d, box %d", i % 97, i % 13);
  row.car_year = 1930 + i % 90;
  row.model_year = 1960 + i % 60;
  row.price = 10 + (i % 1000) * 0.25;
  return row;
}

// Field numbers of our catalogue table, in CreateCatalogue's order.
enum CatalogueField { kName, kDocum, kCarYear, kModelYear, kPrice };

inline void CatalogueFields(TFieldDefs& fields) {
  fields.Add("ID", ftAutoInc);
  fields.Add("ModelName", ftString, 40);
  fields.Add("Docum", ftString, 60);
  fields.Add("CarYear", ftInteger);
  fields.Add("ModelYear", ftInteger);
  fields.Add("Price", ftFloat);
}

// Creates our catalogue table, empty, with only the identifier index.
inline void CreateCatalogue(const std::string& table) {
  TFieldDefs fields(nullptr);
  CatalogueFields(fields);
  TIndexDefs indexes(nullptr);
  TOrvelDataManager(table, &Database()).CreateTable(fields, indexes, 1000, false);
}

inline int32_t FieldOffset(const TOrvelDataManager& manager, CatalogueField field) {
  return manager.Table().Geometry().FieldOffsets[static_cast<size_t>(field)];
}

// Writes row into a record image of our table (image sized to the record, all nulls clear).
inline void PutRow(const TOrvelDataManager& manager, const CatalogueRow& row, uint8_t* image) {
  const TRecordGeometry& g = manager.Table().Geometry();
  std::memset(image, 0, static_cast<size_t>(g.RecordSize));
  StoreI32(image + g.IdentifierOffset(), row.id);
  std::memcpy(image + FieldOffset(manager, kName), row.name, std::strlen(row.name) + 1);
  std::memcpy(image + FieldOffset(manager, kDocum), row.docum, std::strlen(row.docum) + 1);
  StoreI32(image + FieldOffset(manager, kCarYear), row.car_year);
  StoreI32(image + FieldOffset(manager, kModelYear), row.model_year);
  std::memcpy(image + FieldOffset(manager, kPrice), &row.price, sizeof row.price);
}

inline void FillOurs(TOrvelDataManager& manager) {
  std::vector<uint8_t> image(static_cast<size_t>(manager.Table().Geometry().RecordSize));
  for (int32_t i = 0; i < kRows; ++i) {
    PutRow(manager, RowOf(i), image.data());
    manager.mvAppendRecord(image.data(), 0);
  }
}

// What a reader takes from every row, so that neither side can skip the fields.
inline int64_t Digest(const uint8_t* image, const TOrvelDataManager& manager) {
  double price;
  std::memcpy(&price, image + FieldOffset(manager, kPrice), sizeof price);
  return LoadI32(image + FieldOffset(manager, kCarYear)) +
         LoadI32(image + FieldOffset(manager, kModelYear)) +
         static_cast<uint8_t>(image[FieldOffset(manager, kName) + 6]) +
         static_cast<uint8_t>(image[FieldOffset(manager, kDocum) + 10]) +
         static_cast<int64_t>(price);
}

inline constexpr const char* kSqliteCatalogue =
    "CREATE TABLE main(id INTEGER PRIMARY KEY, modelname TEXT, docum TEXT, caryear INTEGER, "
    "modelyear INTEGER, price REAL)";
inline constexpr const char* kSqliteSelectAll =
    "SELECT id, modelname, docum, caryear, modelyear, price FROM main";

inline void FillSqlite(sqlite3* db) {
  Exec(db, kSqliteCatalogue);
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO main VALUES(?, ?, ?, ?, ?, ?)");
  for (int32_t i = 0; i < kRows; ++i) {
    const CatalogueRow row = RowOf(i);
    sqlite3_bind_int(insert, 1, row.id);
    sqlite3_bind_text(insert, 2, row.name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, row.docum, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 4, row.car_year);
    sqlite3_bind_int(insert, 5, row.model_year);
    sqlite3_bind_double(insert, 6, row.price);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
}

// The SQLite counterpart of Digest for a row of kSqliteSelectAll.
inline int64_t SqliteDigest(sqlite3_stmt* row) {
  const auto* name = sqlite3_column_text(row, 1);
  const auto* docum = sqlite3_column_text(row, 2);
  return sqlite3_column_int(row, 3) + sqlite3_column_int(row, 4) + name[6] + docum[10] +
         static_cast<int64_t>(sqlite3_column_double(row, 5));
}

// The filled catalogue "Template" (ours) and "template.db" (SQLite), made once per run.
inline void EnsureTemplates() {
  static bool made = [] {
    CreateCatalogue("Template");
    auto manager = OpenOurs("Template");
    FillOurs(*manager);
    manager->CloseTable();
    sqlite3* db = OpenSqlite("template.db");
    FillSqlite(db);
    sqlite3_close(db);
    return true;
  }();
  (void)made;
}

// Runs change on a fresh copy of a filled table of ours, made outside the timing; the table is
// closed (flushed) inside it.
inline void RunOnCopy(benchmark::State& state, const std::string& from,
                      const std::function<void(TOrvelDataManager&)>& change, int64_t rows) {
  for (auto _ : state) {
    state.PauseTiming();
    CopyTable(from, "Work");
    state.ResumeTiming();
    auto manager = OpenOurs("Work");
    change(*manager);
    manager->CloseTable();
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// Runs the statements on a fresh copy of a filled SQLite database in one transaction.
inline void RunOnSqliteCopy(benchmark::State& state, const std::string& from, const char* sql,
                            int64_t rows) {
  for (auto _ : state) {
    state.PauseTiming();
    CopySqlite(from, "work.db");
    state.ResumeTiming();
    sqlite3* db = OpenSqlite("work.db");
    Exec(db, "BEGIN");
    Exec(db, sql);
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}

// Keeps the time per iteration of every run; prints BM_Orv<op> against BM_Sqlite<op>.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::vector<std::string> ops, std::string what)
      : ops_(std::move(ops)), what_(std::move(what)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (!run.error_occurred)
        // Without the "/iterations:N" a fixed count adds.
        times_[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1000;
  }

  void PrintRatios() const {
    std::printf("\nOur time relative to SQLite's (%s; below 100%% is faster):\n", what_.c_str());
    for (const std::string& op : ops_) {
      const double ours = Time("BM_Orv" + op);
      const double theirs = Time("BM_Sqlite" + op);
      if (ours > 0 && theirs > 0)
        std::printf("  %-18s %9.2f ms vs %9.2f ms: %6.1f%%\n", op.c_str(), ours, theirs,
                    100 * ours / theirs);
    }
  }

 private:
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }
  std::vector<std::string> ops_;
  std::string what_;
  std::map<std::string, double> times_;
};

// The body of main: the engine and our database manager live for the whole run. what says
// what was measured, for the ratio table's heading; at_end closes what the benchmarks left open
// while the engine still runs.
inline int RunTableBenchmarks(int argc, char** argv, std::vector<std::string> ops,
                              std::string what = fmt::format("{} rows", kRows),
                              const std::function<void()>& at_end = {}) {
  TOrvelEngineScope engine;
  auto database =
      std::make_unique<TOrvelDatabaseManager>(Dir(), kStoreModeDisk, dfmNormal, false, false, 0);
  DatabaseSlot() = database.get();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(ops), std::move(what));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (at_end) at_end();
  reporter.PrintRatios();
  benchmark::Shutdown();
  DatabaseSlot() = nullptr;
  return 0;
}

}  // namespace orv::bench
