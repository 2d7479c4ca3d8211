#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

class TDataSet;
class TIndexDefs;

// Index options as one byte; the values are stored in index files.
enum TIndexOption : uint8_t {
  ixPrimary = 0x01,
  ixUnique = 0x02,
  ixDescending = 0x04,
  ixCaseInsensitive = 0x08,
  ixExpression = 0x10,
  ixNonMaintained = 0x20,
};
using TIndexOptions = uint8_t;

// One index: its name, its fields as a ";"-separated list, and which of them are compared
// without case or in descending order.
class TIndexDef {
 public:
  TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options);

  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  const std::string& Fields() const { return fields_; }
  void SetFields(std::string fields) { fields_ = std::move(fields); }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions options) { options_ = options; }
  const std::string& CaseInsFields() const { return case_ins_fields_; }
  void SetCaseInsFields(std::string fields) { case_ins_fields_ = std::move(fields); }
  const std::string& DescFields() const { return desc_fields_; }
  void SetDescFields(std::string fields) { desc_fields_ = std::move(fields); }

 private:
  friend class TIndexDefs;

  TIndexDefs* owner_;
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
  std::string case_ins_fields_;
  std::string desc_fields_;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* dataset) : dataset_(dataset) {}

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TIndexDef* operator[](int index) const { return Items(index); }
  TIndexDef* Items(int index) const;

  // Names are unique, compared without case: "Duplicate name 'X' in TIndexDefs".
  TIndexDef* Add(std::string name, std::string fields, TIndexOptions options);
  void Delete(int index);
  void Clear();
  int IndexOf(std::string_view name) const;
  // Raises "Index 'X' not found".
  TIndexDef* Find(std::string_view name) const;
  // The first index (not descending, not an expression; case-insensitive when asked) whose
  // fields are exactly these, else the first that begins with them; nullptr when none.
  TIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive) const;
  // As GetIndexForFields, case-sensitive; raises "No index for fields 'X'" when none.
  TIndexDef* FindIndexForFields(std::string_view fields) const;
  void Assign(const TIndexDefs& source);

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // Reads the list from the dataset (TDataSet::UpdateIndexDefs).
  void Update();

 private:
  friend class TIndexDef;

  TDataSet* dataset_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

}  // namespace orv
