#include "engine/components/orvel_lock.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "platform/exception.h"

namespace orv {

namespace {

// The locks the current thread holds, in the order it took them.
thread_local std::vector<const TOrvelLock*> t_held;

}  // namespace

TOrvelLock::~TOrvelLock() = default;

void TOrvelLock::Enter() {
  if (HeldByThisThread()) {
    mutex_.lock();
    ++depth_;
    return;
  }
  for (const TOrvelLock* held : t_held) {
    if (held->Rank() >= rank_)
      throw Exception(fmt::format("TOrvelLock.Enter - the {} cannot be taken while the {} is held.",
                                  name_, held->Name()));
  }
  mutex_.lock();
  owner_ = std::this_thread::get_id();
  depth_ = 1;
  t_held.push_back(this);
}

void TOrvelLock::Leave() {
  if (!HeldByThisThread())
    throw Exception(fmt::format("TOrvelLock.Leave - the {} is not held by this thread.", name_));
  if (--depth_ == 0) {
    owner_ = std::thread::id();
    t_held.erase(std::find(t_held.begin(), t_held.end(), this));
  }
  mutex_.unlock();
}

}  // namespace orv
