#include "engine/components/orvel_data_manager_list.h"

#include <algorithm>

#include "platform/exception.h"

namespace orv {

void TOrvelDataManagerList::SetHooks(THooks hooks) {
  TOrvelLockGuard guard(lock_);
  hooks_ = std::move(hooks);
}

void TOrvelDataManagerList::Register(TOrvelDataManager* data_manager) {
  TOrvelLockGuard guard(lock_);
  if (data_manager == nullptr || Contains(data_manager)) return;
  items_.push_back(data_manager);
}

void TOrvelDataManagerList::Unregister(TOrvelDataManager* data_manager) {
  TOrvelLockGuard guard(lock_);
  auto it = std::find(items_.begin(), items_.end(), data_manager);
  if (it != items_.end()) items_.erase(it);
}

bool TOrvelDataManagerList::Contains(const TOrvelDataManager* data_manager) const {
  TOrvelLockGuard guard(lock_);
  return std::find(items_.begin(), items_.end(), data_manager) != items_.end();
}

int TOrvelDataManagerList::Count() const {
  TOrvelLockGuard guard(lock_);
  return static_cast<int>(items_.size());
}

std::vector<TOrvelDataManager*> TOrvelDataManagerList::Items() const {
  TOrvelLockGuard guard(lock_);
  return items_;
}

TOrvelDataManager* TOrvelDataManagerList::FindOrAdd(
    const TOrvelDatabaseManager* database_manager,
    const std::function<bool(TOrvelDataManager*)>& matches,
    const std::function<TOrvelDataManager*()>& make) {
  if (database_manager == nullptr)
    throw Exception("mvGetDataManager - nil pointer to DatabaseManager.");
  TOrvelLockGuard guard(lock_);
  for (TOrvelDataManager* item : items_)
    if (matches(item)) return item;
  TOrvelDataManager* made = make();
  Register(made);
  return made;
}

void TOrvelDataManagerList::FlushAll() {
  TOrvelLockGuard guard(lock_);
  if (!hooks_.flush) return;
  for (TOrvelDataManager* item : std::vector<TOrvelDataManager*>(items_)) hooks_.flush(item);
}

void TOrvelDataManagerList::FreeAll() {
  TOrvelLockGuard guard(lock_);
  while (!items_.empty()) {
    TOrvelDataManager* last = items_.back();
    if (hooks_.destroy) {
      try {
        hooks_.destroy(last);
      } catch (...) {
        // Shut-down goes on; a table that cannot be closed cleanly loses its unflushed changes.
      }
    }
    Unregister(last);
  }
}

}  // namespace orv
