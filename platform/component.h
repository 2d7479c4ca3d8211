#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

enum TComponentStateFlag : uint16_t {
  csLoading = 0x01,  // properties are being read from a stored form
  csReading = 0x02,
  csDestroying = 0x04,
  csDesigning = 0x08,  // a designer edits the component: no run-time behaviour
};
using TComponentState = uint16_t;

enum TOperation { opInsert, opRemove };

// The base of everything a form or data module holds. An owner frees the components it owns
// when it is freed, last created first; a component freed on its own leaves its owner's list.
// Owned components and those that asked FreeNotification hear of insertions and removals
// through Notification, so they can drop pointers to a component that goes away.
class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // A valid identifier (or empty), unique among the owner's components (case-insensitive).
  virtual void SetName(std::string name);

  TComponentState ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
  TComponent* FindComponent(std::string_view name) const;
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void DestroyComponents();

  // Asks for a Notification(this-one, opRemove) when component is freed, and the other way
  // round; needed only for components with different owners.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Form reading: Loading() before the properties are set, Loaded() after all components of
  // the form have them. Properties whose effect depends on others (Active) wait for Loaded.
  void Loading();
  virtual void Loaded();
  void SetDesigning(bool designing, bool set_children = true);
  // Marks this component and the ones it owns as being freed.
  void Destroying();

 protected:
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  TComponentState state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> free_notifies_;
};

}  // namespace orv
