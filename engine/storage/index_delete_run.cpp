#include "engine/storage/index_delete_run.h"

#include <cstddef>

namespace orv {

bool TIndexDeleteRun::Start(const TmvIntArray& array, int32_t record_count) {
  if (record_count <= 0 || array.Count() != record_count) return false;
  std::vector<int32_t> slot_of(static_cast<size_t>(record_count), -1);
  const std::span<const int32_t> items = array.Items();
  for (size_t slot = 0; slot < items.size(); ++slot) {
    const int32_t record_no = items[slot];
    if (record_no < 0 || record_no >= record_count) return false;
    int32_t& at = slot_of[static_cast<size_t>(record_no)];
    if (at >= 0) return false;
    at = static_cast<int32_t>(slot);
  }
  slots_.assign(items.begin(), items.end());
  slot_of_ = std::move(slot_of);
  tree_.assign(items.size() + 1, 0);
  removed_ = 0;
  return true;
}

int32_t TIndexDeleteRun::RemovedBefore(int32_t slot) const {
  int32_t sum = 0;
  for (size_t i = static_cast<size_t>(slot); i > 0; i &= i - 1) sum += tree_[i];
  return sum;
}

int32_t TIndexDeleteRun::PositionOf(int32_t record_no) const {
  if (record_no < 0 || static_cast<size_t>(record_no) >= slot_of_.size()) return -1;
  const int32_t slot = slot_of_[static_cast<size_t>(record_no)];
  return slot < 0 ? -1 : slot - RemovedBefore(slot);
}

void TIndexDeleteRun::Remove(int32_t record_no, int32_t moved) {
  const int32_t slot = slot_of_[static_cast<size_t>(record_no)];
  slots_[static_cast<size_t>(slot)] = -1;
  slot_of_[static_cast<size_t>(record_no)] = -1;
  for (size_t i = static_cast<size_t>(slot) + 1; i < tree_.size(); i += i & (~i + 1)) ++tree_[i];
  ++removed_;
  if (moved < 0) return;
  const int32_t moved_slot = slot_of_[static_cast<size_t>(moved)];
  slots_[static_cast<size_t>(moved_slot)] = record_no;
  slot_of_[static_cast<size_t>(record_no)] = moved_slot;
  slot_of_[static_cast<size_t>(moved)] = -1;
}

std::vector<int32_t> TIndexDeleteRun::Finish() {
  std::vector<int32_t> items;
  items.reserve(static_cast<size_t>(Count()));
  for (const int32_t record_no : slots_)
    if (record_no >= 0) items.push_back(record_no);
  slots_ = {};
  slot_of_ = {};
  tree_ = {};
  removed_ = 0;
  return items;
}

}  // namespace orv
