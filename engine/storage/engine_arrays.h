#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orv {

// A growable array of 32-bit integers: the record-number arrays of indexes, the visible record
// lists of datasets. Capacity grows by a step that starts at initial_step and doubles on each
// growth up to max_step (never less than half the capacity, so long arrays do not grow
// quadratically); shrinking gives memory back only when the spare room passes the shrink step.
// Positions are checked by the editing operations (orv::Exception), not by operator[].
//
// Deleting leaves a gap where the item was instead of moving the tail down, and the next delete
// or insert moves only the items between the gap and its own position: a run of deletes walking
// through the array costs what the walk covers, not the length of the array each time. Reading
// through operator[] skips the gap; data(), Items(), begin() and the searches close it first,
// so even their const forms change the storage (the array is not for concurrent readers).
class TmvIntArray {
 public:
  static constexpr int32_t kRecordMaxStep = 10000;
  static constexpr int32_t kRecordInitialStep = 1000;

  explicit TmvIntArray(int32_t count = 0, int32_t max_step = kRecordMaxStep,
                       int32_t initial_step = kRecordInitialStep);

  int32_t Count() const { return static_cast<int32_t>(items_.size()) - gap_size_; }
  // New items are 0.
  void SetCount(int32_t count);
  void Clear() { SetCount(0); }

  void Append(int32_t value);
  // position 0 .. Count(); the items from position on move up by one.
  void Insert(int32_t position, int32_t value);
  // position 0 .. Count() - 1.
  void Delete(int32_t position);
  // Takes the item at from out and puts it in at to (positions in the array without it, so
  // Move(i, Count() - 1) makes it the last).
  void Move(int32_t from, int32_t to);
  bool Contains(int32_t value) const;
  // Position of the first item equal to value, or -1.
  int32_t IndexOf(int32_t value) const;

  int32_t operator[](int32_t position) const { return items_[Slot(position)]; }
  int32_t& operator[](int32_t position) { return items_[Slot(position)]; }
  int32_t* data() {
    CloseGap();
    return items_.data();
  }
  const int32_t* data() const {
    CloseGap();
    return items_.data();
  }
  std::span<const int32_t> Items() const {
    CloseGap();
    return items_;
  }
  std::vector<int32_t>::const_iterator begin() const {
    CloseGap();
    return items_.cbegin();
  }
  std::vector<int32_t>::const_iterator end() const {
    CloseGap();
    return items_.cend();
  }

  // Takes the items over whole, as read from a file.
  void Assign(std::vector<int32_t> items);

 private:
  size_t Slot(int32_t position) const {
    return static_cast<size_t>(position) + (position >= gap_at_ ? size_t(gap_size_) : 0);
  }
  void Grow(size_t needed);
  void MoveGap(int32_t position);
  void CloseGap() const;

  // Count() + gap_size_ slots; the gap is the slots gap_at_ .. gap_at_ + gap_size_ - 1.
  mutable std::vector<int32_t> items_;
  mutable int32_t gap_at_ = 0;
  mutable int32_t gap_size_ = 0;
  int32_t max_step_;
  int32_t grow_step_;
  int32_t shrink_step_;
};

// Integer keys kept sorted, each with an integer value: the page cache's page-number -> slot
// map. Keys are unique; inserting a key that is present replaces its value.
class TmvSortedIntArray {
 public:
  static constexpr int32_t kInitialStep = 1000;
  static constexpr int32_t kMaxStep = 10000;

  int32_t Count() const { return static_cast<int32_t>(keys_.size()); }
  int32_t Key(int32_t position) const { return keys_[static_cast<size_t>(position)]; }
  int32_t Value(int32_t position) const { return values_[static_cast<size_t>(position)]; }

  // Binary search: the position of key, or where it would be inserted (0 .. Count()).
  int32_t FindPosition(int32_t key) const;
  // The value of key, or -1 when absent.
  int32_t FindValue(int32_t key) const;
  void Insert(int32_t key, int32_t value);
  // Raises "TmvSortedIntArray.Delete - no elements in array!" when empty and
  // "TmvSortedIntArray.Delete - element not found, key = K, itemCount = C!" when key is absent.
  void Delete(int32_t key);
  void Clear();

 private:
  std::vector<int32_t> keys_;
  std::vector<int32_t> values_;
};

// One byte per record, 0 = false, 1 = true: the match sets of record searches.
class TBitsArray {
 public:
  explicit TBitsArray(int32_t count = 0) { SetCount(count); }

  int32_t Count() const { return static_cast<int32_t>(bytes_.size()); }
  // New bytes are 0.
  void SetCount(int32_t count);

  uint8_t Get(int32_t index) const { return bytes_[static_cast<size_t>(index)]; }
  bool IsSet(int32_t index) const { return bytes_[static_cast<size_t>(index)] != 0; }
  void Set(int32_t index, uint8_t value) { bytes_[static_cast<size_t>(index)] = value; }
  void Fill(uint8_t value);
  // 0 becomes 1, anything else 0.
  void Invert();
  // Byte-wise with an array of the same count; a different count raises orv::Exception.
  void And(const TBitsArray& other);
  void Or(const TBitsArray& other);

  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }

 private:
  void CheckSameCount(const TBitsArray& other, const char* operation) const;

  std::vector<uint8_t> bytes_;
};

}  // namespace orv
