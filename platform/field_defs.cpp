#include "platform/field_defs.h"

#include <fmt/format.h>

#include "platform/database_error.h"
#include "platform/dataset.h"
#include "platform/field.h"
#include "platform/list_index.h"
#include "platform/value_text.h"

namespace orv {

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required)
    : owner_(owner), data_type_(type), size_(size), required_(required) {
  SetName(std::move(name));
}

void TFieldDef::SetName(std::string name) {
  if (owner_ && !name.empty() && !SameText(name, name_) && owner_->IndexOf(name) >= 0)
    DatabaseError(fmt::format("Duplicate name '{}' in TFieldDefs", name), owner_->DataSet());
  name_ = std::move(name);
}

int TFieldDef::FieldNo() const {
  if (!owner_) return 0;
  for (size_t i = 0; i < owner_->items_.size(); ++i)
    if (owner_->items_[i].get() == this) return static_cast<int>(i) + 1;
  return 0;
}

TField* TFieldDef::CreateField(TComponent* owner) const {
  TDataSet* dataset = owner_ ? owner_->DataSet() : nullptr;
  TField* field = dataset ? dataset->CreateFieldOfType(data_type_, owner)
                          : orv::CreateFieldOfType(data_type_, owner);
  if (!field) DatabaseError(fmt::format("Field '{}' is of an unknown type", name_), dataset);
  try {
    if (field->Size() != size_) field->SetSize(size_);
    field->SetFieldName(name_);
    field->SetRequired(required_);
    field->SetDataSet(dataset);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

TFieldDef* TFieldDefs::Items(int index) const {
  CheckListIndex(index, items_.size());
  return items_[static_cast<size_t>(index)].get();
}

TFieldDef* TFieldDefs::Add(std::string name, TFieldType type, int size, bool required) {
  if (name.empty()) DatabaseError("Field name missing", dataset_);
  items_.push_back(std::make_unique<TFieldDef>(nullptr, std::string(), type, size, required));
  items_.back()->owner_ = this;
  try {
    items_.back()->SetName(std::move(name));
  } catch (...) {
    items_.pop_back();
    throw;
  }
  updated_ = false;
  return items_.back().get();
}

void TFieldDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
  updated_ = false;
}

void TFieldDefs::Clear() {
  items_.clear();
  updated_ = false;
}

int TFieldDefs::IndexOf(std::string_view name) const {
  return IndexOfName(items_, name);
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int index = IndexOf(name);
  if (index < 0) DatabaseError(fmt::format("Field '{}' not found", name), dataset_);
  return items_[static_cast<size_t>(index)].get();
}

void TFieldDefs::Assign(const TFieldDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& def : source.items_)
    Add(def->Name(), def->DataType(), def->Size(), def->Required());
}

void TFieldDefs::Update() {
  if (dataset_) dataset_->InitFieldDefs();
  updated_ = true;
}

}  // namespace orv
