#include "platform/component.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {
namespace {

bool IsValidIdent(std::string_view name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

void Erase(std::vector<TComponent*>& list, TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  while (!free_notifies_.empty()) {
    TComponent* other = free_notifies_.back();
    free_notifies_.pop_back();
    Erase(other->free_notifies_, this);
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(std::string name) {
  if (name == name_) return;
  if (!name.empty() && !IsValidIdent(name))
    throw Exception(fmt::format("'{}' is not a valid component name", name));
  if (owner_ && !name.empty()) {
    TComponent* other = owner_->FindComponent(name);
    if (other && other != this)
      throw Exception(fmt::format("A component named {} already exists", name));
  }
  name_ = std::move(name);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component->owner_) component->owner_->RemoveComponent(component);
  if (!component->name_.empty() && FindComponent(component->name_))
    throw Exception(fmt::format("A component named {} already exists", component->name_));
  components_.push_back(component);
  component->owner_ = this;
  if (IsDesigning()) component->SetDesigning(true);
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component->owner_ != this) return;
  Notification(component, opRemove);
  component->owner_ = nullptr;
  Erase(components_, component);
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* child = components_.back();
    // The child's destructor takes it out of the list (RemoveComponent).
    delete child;
  }
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (owner_ && component->owner_ == owner_) return;  // siblings hear through the owner
  if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end())
    free_notifies_.push_back(component);
  if (std::find(component->free_notifies_.begin(), component->free_notifies_.end(), this) ==
      component->free_notifies_.end())
    component->free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  Erase(free_notifies_, component);
  Erase(component->free_notifies_, this);
}

void TComponent::Loading() {
  state_ |= csLoading | csReading;
}

void TComponent::Loaded() {
  state_ &= static_cast<TComponentState>(~(csLoading | csReading));
}

void TComponent::SetDesigning(bool designing, bool set_children) {
  if (designing)
    state_ |= csDesigning;
  else
    state_ &= static_cast<TComponentState>(~csDesigning);
  if (set_children)
    for (TComponent* c : components_) c->SetDesigning(designing);
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component) RemoveFreeNotification(component);
  // A component may free others while it hears the news, so the index is re-checked each turn.
  for (size_t i = components_.size(); i-- > 0;) {
    if (i >= components_.size()) {
      if (components_.empty()) break;
      i = components_.size() - 1;
    }
    components_[i]->Notification(component, operation);
  }
}

}  // namespace orv
