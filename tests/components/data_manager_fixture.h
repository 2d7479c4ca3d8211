#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv::testing {

// Field and index definitions as a table component hands them over.
struct TableDefinition {
  TFieldDefs fields{nullptr};
  TIndexDefs indexes{nullptr};
};

// Builds record images in the geometry of an open table.
class ImageBuilder {
 public:
  explicit ImageBuilder(const TOrvelTableFiles& table)
      : geometry_(table.Geometry()), field_count_(static_cast<int32_t>(table.Fields().size())) {
    Clear(0);
  }

  // A new record as the dataset prepares it: zero, every field null.
  ImageBuilder& Clear(int32_t id) {
    image_.assign(static_cast<size_t>(geometry_.RecordSize), 0);
    for (int32_t f = 0; f < field_count_; ++f) geometry_.SetNull(image_.data(), f, true);
    StoreI32(image_.data() + geometry_.IdentifierOffset(), id);
    return *this;
  }
  ImageBuilder& Int(int32_t field, int32_t value) {
    StoreI32(Slot(field), value);
    return *this;
  }
  ImageBuilder& Double(int32_t field, double value) {
    std::memcpy(Slot(field), &value, sizeof value);
    return *this;
  }
  ImageBuilder& Text(int32_t field, const std::string& value) {
    uint8_t* slot = Slot(field);
    std::memcpy(slot, value.c_str(), value.size() + 1);
    return *this;
  }
  ImageBuilder& Null(int32_t field) {
    geometry_.SetNull(image_.data(), field, true);
    return *this;
  }
  const uint8_t* data() const { return image_.data(); }
  const std::vector<uint8_t>& bytes() const { return image_; }

 private:
  uint8_t* Slot(int32_t field) {
    geometry_.SetNull(image_.data(), field, false);
    return image_.data() + geometry_.FieldOffsets[static_cast<size_t>(field)];
  }

  TRecordGeometry geometry_;
  int32_t field_count_;
  std::vector<uint8_t> image_;
};

inline int32_t IdOf(const TOrvelTableFiles& table, const uint8_t* image) {
  return LoadI32(image + table.Geometry().IdentifierOffset());
}
inline int32_t IntOf(const TOrvelTableFiles& table, const uint8_t* image, int32_t field) {
  return LoadI32(image + table.Geometry().FieldOffsets[static_cast<size_t>(field)]);
}

// An engine over a FaultEnv with a database manager for a folder of table files, so that tests
// can count and fail what reaches the disk.
class DataManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine(&env_);
    database_ = std::make_unique<TOrvelDatabaseManager>(dir_.path(), kStoreModeDisk, dfmNormal,
                                                        false, false, 0);
  }
  void TearDown() override {
    database_.reset();
    FinalizeEngine();
  }

  std::unique_ptr<TOrvelDataManager> NewManager(const std::string& table = "T") {
    return std::make_unique<TOrvelDataManager>(table, database_.get());
  }
  // Creates the table and opens it in a new data manager.
  std::unique_ptr<TOrvelDataManager> CreateAndOpen(TableDefinition& definition,
                                                   const std::string& table = "T",
                                                   bool auto_indexes = false) {
    NewManager(table)->CreateTable(definition.fields, definition.indexes, 1000, auto_indexes);
    auto manager = NewManager(table);
    EXPECT_EQ(manager->LoadTable(), kLoadTableOpened);
    return manager;
  }

  FaultEnv env_;
  TempDir dir_;
  std::unique_ptr<TOrvelDatabaseManager> database_;
};

}  // namespace orv::testing
