#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/field_types.h"

namespace orv {

class TComponent;
class TDataSet;
class TField;
class TFieldDefs;

// The description of one physical field of a dataset. FieldNo is the 1-based position in the
// list. Size is characters for strings, bytes for wide strings and byte fields, 0 otherwise.
class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required);

  const std::string& Name() const { return name_; }
  // Names are unique in their list, compared without case: "Duplicate name 'X' in TFieldDefs".
  void SetName(std::string name);
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  int FieldNo() const;

  // A field object of the class for DataType, owned by owner and attached to the list's dataset.
  TField* CreateField(TComponent* owner) const;

 private:
  friend class TFieldDefs;

  TFieldDefs* owner_;
  std::string name_;
  TFieldType data_type_;
  int size_;
  bool required_;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef* operator[](int index) const { return Items(index); }
  TFieldDef* Items(int index) const;

  // An empty name raises "Field name missing", a taken one the duplicate-name error.
  TFieldDef* Add(std::string name, TFieldType type, int size = 0, bool required = false);
  void Delete(int index);
  void Clear();
  int IndexOf(std::string_view name) const;
  // Raises "Field 'X' not found".
  TFieldDef* Find(std::string_view name) const;
  void Assign(const TFieldDefs& source);

  // Whether the list reflects the dataset; Update reads it from the dataset (InitFieldDefs).
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  void Update();

 private:
  friend class TFieldDef;

  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
};

}  // namespace orv
