#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/components/orvel_dataset.h"
#include "engine/components/orvel_dataset_internal.h"
#include "platform/random.h"

namespace orv {

using namespace dataset_internal;

void TOrvelDataset::CreateTemporaryTable(int32_t capacity) {
  Close();
  temporary_capacity_ = capacity;
  in_memory_ = true;
  temporary_files_mode_ = false;
  database_name_.clear();
  // An in-memory table without a database lives in the memory database.
  if (database_file_name_.empty()) database_name_ = "MEMORY";
  TSessionScope lock(*this);
  SetDatabaseUse(3);
  try {
    std::string name;
    do {
      name = "@TABLE" + std::to_string(Random(2147483647));
    } while (DatabaseManager()->FileExists(name + ".dat", StoreMode()));
    table_name_ = name;
  } catch (...) {
    ClearDatabaseUse(3);
    throw;
  }
  ClearDatabaseUse(3);
  InternalCreateTable();
  temporary_table_ = true;
  suppress_index_window_ = true;
}

void TOrvelDataset::DeleteTemporaryTable() {
  Close();
  if (!temporary_table_) return;
  InternalDeleteTable();
  temporary_table_ = false;
}

void TOrvelDataset::SetFilterExpression(TOrvelExpressionFilter expression) {
  expression_filter_ = std::move(expression);
  if (Active()) Refresh();
}

void TOrvelDataset::SetRecordLimits(int32_t first_ordinal, int32_t max_count) {
  first_ordinal_ = first_ordinal;
  max_count_ = max_count;
  if (Active()) Refresh();
}

void TOrvelDataset::SetDistinctFields(std::string fields) {
  distinct_fields_ = std::move(fields);
  distinct_index_ = -1;
  if (Active()) Refresh();
}

void TOrvelDataset::SetFieldProjection(std::string names, std::string output_names) {
  CheckInactive();
  projection_names_ = SplitFieldList(names);
  projection_output_ = SplitFieldList(output_names);
  projection_map_.clear();
  FieldDefs().SetUpdated(false);
}

void TOrvelDataset::ClearProjection() {
  projection_names_.clear();
  projection_output_.clear();
  projection_map_.clear();
}

}  // namespace orv
