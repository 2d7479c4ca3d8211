// What the table benchmarks share: a scratch folder on local disk with our database manager
// over it, SQLite helpers, table copies, and a reporter that prints our time against SQLite's.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"

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

// Copies a closed table without BLOBs.
inline void CopyTable(const std::string& from, const std::string& to) {
  for (const char* ext : {".dat", ".idx"})
    fs::copy_file(Dir() + "/" + from + ext, Dir() + "/" + to + ext,
                  fs::copy_options::overwrite_existing);
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

// Keeps the time per iteration of every run; prints BM_Orv<op> against BM_Sqlite<op>.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<std::string> ops) : ops_(std::move(ops)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
  }

  void PrintRatios() const {
    std::printf("\nOur time relative to SQLite's (%d rows; below 100%% is faster):\n", kRows);
    for (const std::string& op : ops_) {
      const double ours = Time("BM_Orv" + op);
      const double theirs = Time("BM_Sqlite" + op);
      if (ours > 0 && theirs > 0)
        std::printf("  %-10s %8.1f ms vs %8.1f ms: %6.1f%%\n", op.c_str(), ours, theirs,
                    100 * ours / theirs);
    }
  }

 private:
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0 : it->second;
  }
  std::vector<std::string> ops_;
  std::map<std::string, double> times_;
};

// The body of main: the engine and our database manager live for the whole run.
inline int RunTableBenchmarks(int argc, char** argv, std::vector<std::string> ops) {
  TOrvelEngineScope engine;
  auto database =
      std::make_unique<TOrvelDatabaseManager>(Dir(), kStoreModeDisk, dfmNormal, false, false, 0);
  DatabaseSlot() = database.get();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(ops));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  DatabaseSlot() = nullptr;
  return 0;
}

}  // namespace orv::bench
