#include "engine/storage/engine_arrays.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "platform/exception.h"

namespace orv {

namespace {

[[noreturn]] void ThrowPosition(const char* operation, int32_t position, int32_t count) {
  throw Exception(fmt::format("TmvIntArray.{} - index out of bounds, index = {}, itemCount = {}",
                              operation, position, count));
}

}  // namespace

TmvIntArray::TmvIntArray(int32_t count, int32_t max_step, int32_t initial_step)
    : max_step_(std::max({max_step, initial_step, 1})),
      grow_step_(std::max(initial_step, 1)),
      shrink_step_(std::max(initial_step, 1)) {
  SetCount(count);
}

void TmvIntArray::Grow(size_t needed) {
  if (needed <= items_.capacity()) return;
  size_t capacity = items_.capacity();
  capacity += std::max(static_cast<size_t>(grow_step_), capacity / 2);
  grow_step_ = std::min(grow_step_ * 2, max_step_);
  items_.reserve(std::max(capacity, needed));
}

void TmvIntArray::CloseGap() const {
  if (gap_size_ == 0) return;
  const auto at = items_.begin() + gap_at_;
  items_.erase(at, at + gap_size_);
  gap_at_ = 0;
  gap_size_ = 0;
}

void TmvIntArray::MoveGap(int32_t position) {
  if (gap_size_ == 0) {
    gap_at_ = position;
    return;
  }
  int32_t* items = items_.data();
  if (position < gap_at_)
    std::memmove(items + position + gap_size_, items + position,
                 size_t(gap_at_ - position) * sizeof(int32_t));
  else if (position > gap_at_)
    std::memmove(items + gap_at_, items + gap_at_ + gap_size_,
                 size_t(position - gap_at_) * sizeof(int32_t));
  gap_at_ = position;
}

void TmvIntArray::SetCount(int32_t count) {
  if (count < 0) ThrowPosition("SetCount", count, Count());
  CloseGap();
  const size_t n = static_cast<size_t>(count);
  if (n > items_.size()) {
    Grow(n);
    items_.resize(n, 0);
    return;
  }
  items_.resize(n);
  if (items_.capacity() - n > static_cast<size_t>(shrink_step_)) {
    items_.shrink_to_fit();
    shrink_step_ = std::min(shrink_step_ * 2, max_step_);
  }
}

void TmvIntArray::Append(int32_t value) {
  // The last slot is always behind the gap, so the new item lands at position Count().
  Grow(items_.size() + 1);
  items_.push_back(value);
}

void TmvIntArray::Insert(int32_t position, int32_t value) {
  if (position < 0 || position > Count()) ThrowPosition("Insert", position, Count());
  if (gap_size_ > 0) {
    MoveGap(position);
    items_[static_cast<size_t>(position)] = value;
    ++gap_at_;
    --gap_size_;
    return;
  }
  Grow(items_.size() + 1);
  items_.insert(items_.begin() + position, value);
}

void TmvIntArray::Delete(int32_t position) {
  if (position < 0 || position >= Count()) ThrowPosition("Delete", position, Count());
  MoveGap(position);
  ++gap_size_;
  // A gap at the end costs nothing to close.
  if (gap_at_ == Count()) CloseGap();
}

void TmvIntArray::Move(int32_t from, int32_t to) {
  if (from < 0 || from >= Count()) ThrowPosition("Move", from, Count());
  if (to < 0 || to >= Count()) ThrowPosition("Move", to, Count());
  if (from == to) return;
  // Out at from and in at to moves only the items in between.
  const int32_t value = (*this)[from];
  Delete(from);
  Insert(to, value);
}

bool TmvIntArray::Contains(int32_t value) const {
  return IndexOf(value) >= 0;
}

int32_t TmvIntArray::IndexOf(int32_t value) const {
  CloseGap();
  auto it = std::find(items_.begin(), items_.end(), value);
  return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
}

void TmvIntArray::Assign(std::vector<int32_t> items) {
  items_ = std::move(items);
  gap_at_ = 0;
  gap_size_ = 0;
}

int32_t TmvSortedIntArray::FindPosition(int32_t key) const {
  return static_cast<int32_t>(std::lower_bound(keys_.begin(), keys_.end(), key) - keys_.begin());
}

int32_t TmvSortedIntArray::FindValue(int32_t key) const {
  const int32_t at = FindPosition(key);
  return at < Count() && keys_[at] == key ? values_[at] : -1;
}

void TmvSortedIntArray::Insert(int32_t key, int32_t value) {
  const int32_t at = FindPosition(key);
  if (at < Count() && keys_[at] == key) {
    values_[at] = value;
    return;
  }
  if (keys_.size() == keys_.capacity()) {
    const size_t step = std::clamp(keys_.capacity(), size_t(kInitialStep), size_t(kMaxStep));
    keys_.reserve(keys_.capacity() + step);
    values_.reserve(keys_.capacity());
  }
  keys_.insert(keys_.begin() + at, key);
  values_.insert(values_.begin() + at, value);
}

void TmvSortedIntArray::Delete(int32_t key) {
  if (keys_.empty()) throw Exception("TmvSortedIntArray.Delete - no elements in array!");
  const int32_t at = FindPosition(key);
  if (at >= Count() || keys_[at] != key)
    throw Exception(fmt::format(
        "TmvSortedIntArray.Delete - element not found, key = {}, itemCount = {}!", key, Count()));
  keys_.erase(keys_.begin() + at);
  values_.erase(values_.begin() + at);
}

void TmvSortedIntArray::Clear() {
  keys_.clear();
  values_.clear();
}

void TBitsArray::SetCount(int32_t count) {
  if (count < 0) throw Exception(fmt::format("TBitsArray.SetCount - invalid count = {}", count));
  bytes_.resize(static_cast<size_t>(count), 0);
}

void TBitsArray::Fill(uint8_t value) {
  std::fill(bytes_.begin(), bytes_.end(), value);
}

void TBitsArray::Invert() {
  for (uint8_t& b : bytes_) b = b == 0 ? 1 : 0;
}

void TBitsArray::CheckSameCount(const TBitsArray& other, const char* operation) const {
  if (other.Count() != Count())
    throw Exception(fmt::format("TBitsArray.{} - arrays differ in count: {} and {}", operation,
                                Count(), other.Count()));
}

void TBitsArray::And(const TBitsArray& other) {
  CheckSameCount(other, "And");
  for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] &= other.bytes_[i];
}

void TBitsArray::Or(const TBitsArray& other) {
  CheckSameCount(other, "Or");
  for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] |= other.bytes_[i];
}

}  // namespace orv
