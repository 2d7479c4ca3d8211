#include "platform/index_defs.h"

#include <fmt/format.h>

#include "platform/database_error.h"
#include "platform/dataset.h"
#include "platform/list_index.h"
#include "platform/value_text.h"

namespace orv {

TIndexDef::TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options)
    : owner_(owner), fields_(std::move(fields)), options_(options) {
  SetName(std::move(name));
}

void TIndexDef::SetName(std::string name) {
  if (owner_ && !name.empty() && !SameText(name, name_) && owner_->IndexOf(name) >= 0)
    DatabaseError(fmt::format("Duplicate name '{}' in TIndexDefs", name), owner_->DataSet());
  name_ = std::move(name);
}

TIndexDef* TIndexDefs::Items(int index) const {
  CheckListIndex(index, items_.size());
  return items_[static_cast<size_t>(index)].get();
}

TIndexDef* TIndexDefs::Add(std::string name, std::string fields, TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(nullptr, std::string(), std::move(fields), options));
  items_.back()->owner_ = this;
  try {
    items_.back()->SetName(std::move(name));
  } catch (...) {
    items_.pop_back();
    throw;
  }
  return items_.back().get();
}

void TIndexDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TIndexDefs::Clear() {
  items_.clear();
}

int TIndexDefs::IndexOf(std::string_view name) const {
  return IndexOfName(items_, name);
}

TIndexDef* TIndexDefs::Find(std::string_view name) const {
  int index = IndexOf(name);
  if (index < 0) DatabaseError(fmt::format("Index '{}' not found", name), dataset_);
  return items_[static_cast<size_t>(index)].get();
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) const {
  for (bool exact : {true, false}) {
    for (const auto& def : items_) {
      if (def->Options() & (ixDescending | ixExpression)) continue;
      if (case_insensitive && !(def->Options() & ixCaseInsensitive)) continue;
      std::string_view own = def->Fields();
      if (exact) {
        if (SameText(own, fields)) return def.get();
      } else if (own.size() > fields.size() && SameText(own.substr(0, fields.size()), fields) &&
                 own[fields.size()] == ';') {
        return def.get();
      }
    }
  }
  return nullptr;
}

TIndexDef* TIndexDefs::FindIndexForFields(std::string_view fields) const {
  TIndexDef* def = GetIndexForFields(fields, false);
  if (!def) DatabaseError(fmt::format("No index for fields '{}'", fields), dataset_);
  return def;
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& def : source.items_) {
    TIndexDef* copy = Add(def->Name(), def->Fields(), def->Options());
    copy->SetCaseInsFields(def->CaseInsFields());
    copy->SetDescFields(def->DescFields());
  }
}

void TIndexDefs::Update() {
  if (dataset_) dataset_->UpdateIndexDefs();
  updated_ = true;
}

}  // namespace orv
