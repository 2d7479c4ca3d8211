#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/components/orvel_lock.h"

namespace orv {

class TOrvelDataManager;
class TOrvelDatabaseManager;

// The process-wide list of open table data managers, guarded by the data-manager lock. The
// table storage engine registers each data manager it creates and unregisters it when it is
// destroyed; at shut-down the list frees whatever is left through the installed hooks. Every
// member takes the data-manager lock, which must not be taken while the manager lock is held.
class TOrvelDataManagerList {
 public:
  struct THooks {
    std::function<void(TOrvelDataManager*)> flush;
    // Destroys the data manager, which unregisters itself.
    std::function<void(TOrvelDataManager*)> destroy;
  };

  explicit TOrvelDataManagerList(TOrvelLock& lock) : lock_(lock) {}
  TOrvelDataManagerList(const TOrvelDataManagerList&) = delete;
  TOrvelDataManagerList& operator=(const TOrvelDataManagerList&) = delete;

  TOrvelLock& Lock() { return lock_; }
  void SetHooks(THooks hooks);

  void Register(TOrvelDataManager* data_manager);
  // A data manager that is not listed is ignored.
  void Unregister(TOrvelDataManager* data_manager);
  bool Contains(const TOrvelDataManager* data_manager) const;
  int Count() const;
  std::vector<TOrvelDataManager*> Items() const;

  // The data manager that matches, or the one make builds (then registered), all under the
  // lock. A nil database manager raises "mvGetDataManager - nil pointer to DatabaseManager.".
  TOrvelDataManager* FindOrAdd(const TOrvelDatabaseManager* database_manager,
                               const std::function<bool(TOrvelDataManager*)>& matches,
                               const std::function<TOrvelDataManager*()>& make);

  // Runs the flush hook on every data manager, stopping at the first failure.
  void FlushAll();
  // Destroys every data manager, last registered first; without a destroy hook they are only
  // forgotten.
  void FreeAll();

 private:
  TOrvelLock& lock_;
  THooks hooks_;
  std::vector<TOrvelDataManager*> items_;
};

}  // namespace orv
