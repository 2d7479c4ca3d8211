#include "engine/files/sorted_arrays.h"

#include <fmt/format.h>

#include "platform/exception.h"

namespace orv {

TIntegerArray::TIntegerArray(int32_t initial_step, int32_t max_step)
    : step_(std::max(initial_step, 1)), max_step_(std::max(max_step, std::max(initial_step, 1))) {}

void TIntegerArray::Reserve(size_t needed) {
  if (needed <= items_.capacity()) return;
  size_t capacity = items_.capacity();
  while (capacity < needed) {
    capacity += static_cast<size_t>(step_);
    step_ = std::min(step_ * 2, max_step_);
  }
  items_.reserve(capacity);
}

void TIntegerArray::Add(int32_t value) {
  Reserve(items_.size() + 1);
  items_.push_back(value);
}

void TIntegerArray::AddRange(const int32_t* values, size_t count) {
  Reserve(items_.size() + count);
  items_.insert(items_.end(), values, values + count);
}

void TIntegerArray::Truncate(int32_t count) {
  if (count < 0 || count > ItemCount())
    throw Exception(fmt::format("TIntegerArray.Truncate - invalid count = {}, itemCount = {}",
                                count, ItemCount()));
  items_.resize(static_cast<size_t>(count));
}

void ThrowSortedPtrArrayEmpty() {
  throw Exception("TSortedPtrArray.Delete - no elements in array!");
}

void ThrowSortedPtrArrayKeyMissing(int32_t key, int32_t count) {
  throw Exception(fmt::format(
      "TSortedPtrArray.Delete - element not found, key = {}, itemCount = {}", key, count));
}

}  // namespace orv
