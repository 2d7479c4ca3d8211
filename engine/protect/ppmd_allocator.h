#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "engine/protect/ppmd_error.h"

namespace orv::ppmd {

// A position in the model's memory; 0 is the null reference (no object lives at offset 0).
using Ref = uint32_t;

inline constexpr uint32_t kUnitSize = 12;
inline constexpr unsigned kNumIndexes = 38;

// The model's memory: one block of the configured size, split into a text area that grows up
// from the bottom (the symbols seen, which raw successors point into) and a units area of 12-byte
// units for contexts and state lists. State lists come from the low end of the units area,
// contexts from the high end; freed blocks go to free lists by size class (1, 2, 3, 4, 6, 8, ...,
// 128 units). When the units run out the free blocks are glued together, and as a last resort
// units are taken from the top of the text area. Every access is bounds-checked, so a damaged
// model state can end in a PpmdError but never in a stray access.
class SubAllocator {
 public:
  explicit SubAllocator(uint32_t size);

  uint32_t Size() const { return size_; }

  // Forgets everything: empty free lists, empty text area.
  void Restart();

  // Allocation; 0 when the memory is exhausted.
  Ref AllocUnits(unsigned index);
  Ref AllocContext();
  // Moves a block of old_units to the size class of new_units (smaller).
  Ref ShrinkUnits(Ref block, unsigned old_units, unsigned new_units);
  void InsertNode(Ref block, unsigned index);

  // Carves fixed pieces at restart: one context from the top, units from the bottom.
  Ref TakeTopUnit() { return hi_unit_ -= kUnitSize; }
  Ref TakeLowUnits(unsigned units) {
    Ref r = lo_unit_;
    lo_unit_ += units * kUnitSize;
    return r;
  }

  unsigned UnitsToIndex(unsigned units) const { return units_to_index_[units - 1]; }
  unsigned IndexToUnits(unsigned index) const { return index_to_units_[index]; }

  // The text area: symbols are appended at text(); it is full at units_start().
  Ref text() const { return text_; }
  void set_text(Ref text) { text_ = text; }
  Ref units_start() const { return units_start_; }

  template <typename T>
  T Load(Ref at) const {
    Check(at, sizeof(T));
    T v;
    std::memcpy(&v, &mem_[at], sizeof(T));
    return v;
  }
  template <typename T>
  void Store(Ref at, T v) {
    Check(at, sizeof(T));
    std::memcpy(&mem_[at], &v, sizeof(T));
  }
  uint8_t Get8(Ref at) const { return Load<uint8_t>(at); }
  void Set8(Ref at, uint8_t v) { Store(at, v); }
  uint16_t Get16(Ref at) const { return Load<uint16_t>(at); }
  void Set16(Ref at, uint16_t v) { Store(at, v); }
  uint32_t Get32(Ref at) const { return Load<uint32_t>(at); }
  void Set32(Ref at, uint32_t v) { Store(at, v); }
  // Direct read access to a range checked once, for scans of a state list.
  const uint8_t* Span(Ref at, uint32_t bytes) const {
    Check(at, bytes);
    return &mem_[at];
  }
  void Copy(Ref to, Ref from, uint32_t bytes) {
    Check(to, bytes);
    Check(from, bytes);
    std::memmove(&mem_[to], &mem_[from], bytes);
  }

 private:
  void Check(Ref at, uint32_t bytes) const {
    if (at == 0 || at > limit_ || limit_ - at < bytes) throw PpmdError("PPMd: model state damaged");
  }
  Ref RemoveNode(unsigned index);
  void SplitBlock(Ref block, unsigned old_index, unsigned new_index);
  void GlueFreeBlocks();
  Ref AllocUnitsRare(unsigned index);

  uint32_t size_;
  uint32_t limit_;  // bytes in mem_
  std::unique_ptr<uint8_t[]> mem_;
  Ref text_ = 0;
  Ref units_start_ = 0;
  Ref lo_unit_ = 0;
  Ref hi_unit_ = 0;
  unsigned glue_count_ = 0;
  std::array<Ref, kNumIndexes> free_list_{};
  std::array<uint8_t, 128> units_to_index_{};
  std::array<uint8_t, kNumIndexes> index_to_units_{};
};

}  // namespace orv::ppmd
