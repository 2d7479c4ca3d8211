#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orv {

// A growable array of 32-bit integers. Its growth step doubles on each growth up to a maximum,
// so that short lists stay small and long ones grow in a few large steps.
class TIntegerArray {
 public:
  explicit TIntegerArray(int32_t initial_step = 16, int32_t max_step = 1 << 16);

  int32_t ItemCount() const { return static_cast<int32_t>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  int32_t operator[](int32_t index) const { return items_[static_cast<size_t>(index)]; }
  int32_t& operator[](int32_t index) { return items_[static_cast<size_t>(index)]; }
  int32_t Last() const { return items_.back(); }
  const int32_t* data() const { return items_.data(); }
  std::vector<int32_t>::const_iterator begin() const { return items_.begin(); }
  std::vector<int32_t>::const_iterator end() const { return items_.end(); }

  void Add(int32_t value);
  void AddRange(const int32_t* values, size_t count);
  // Keeps the first count items; count may not exceed ItemCount().
  void Truncate(int32_t count);
  void Clear() { items_.clear(); }

 private:
  void Reserve(size_t needed);

  std::vector<int32_t> items_;
  int32_t step_;
  int32_t max_step_;
};

// Misuse of a TSortedPtrArray raises orv::Exception with these texts.
[[noreturn]] void ThrowSortedPtrArrayEmpty();
[[noreturn]] void ThrowSortedPtrArrayKeyMissing(int32_t key, int32_t count);

// Owned values kept sorted by an integer key: binary search, insert and delete, and a counter
// that hands out new keys 1, 2, 3, ..., never reused by the same array.
template <typename T>
class TSortedPtrArray {
 public:
  int32_t ItemCount() const { return static_cast<int32_t>(items_.size()); }

  int32_t NewKey() { return ++last_key_; }

  T* Find(int32_t key) const {
    auto it = LowerBound(key);
    return it != items_.end() && it->first == key ? it->second.get() : nullptr;
  }

  // Replaces the value of a key that is present.
  T* Insert(int32_t key, std::unique_ptr<T> value) {
    auto it = LowerBound(key);
    if (it != items_.end() && it->first == key) {
      it->second = std::move(value);
      return it->second.get();
    }
    return items_.insert(it, {key, std::move(value)})->second.get();
  }

  void Delete(int32_t key) {
    if (items_.empty()) ThrowSortedPtrArrayEmpty();
    auto it = LowerBound(key);
    if (it == items_.end() || it->first != key) ThrowSortedPtrArrayKeyMissing(key, ItemCount());
    items_.erase(it);
  }

  void Clear() { items_.clear(); }

  // In key order.
  template <typename Fn>
  void ForEach(Fn fn) const {
    for (const auto& [key, value] : items_) fn(key, *value);
  }

 private:
  using Entry = std::pair<int32_t, std::unique_ptr<T>>;

  typename std::vector<Entry>::const_iterator LowerBound(int32_t key) const {
    return std::lower_bound(items_.begin(), items_.end(), key,
                            [](const Entry& e, int32_t k) { return e.first < k; });
  }
  typename std::vector<Entry>::iterator LowerBound(int32_t key) {
    return std::lower_bound(items_.begin(), items_.end(), key,
                            [](const Entry& e, int32_t k) { return e.first < k; });
  }

  std::vector<Entry> items_;
  int32_t last_key_ = 0;
};

}  // namespace orv
