#include "engine/protect/ppmd_allocator.h"

namespace orv::ppmd {
namespace {

// The text area starts at this offset so that no reference is ever 0.
constexpr Ref kTextStart = 4;

// While gluing, a free block carries a node: stamp (2 bytes, 0 = free; every block in use starts
// with a nonzero 16-bit value), its size in units (2), next (4) and previous (4) node.
constexpr uint32_t kNodeStamp = 0;
constexpr uint32_t kNodeUnits = 2;
constexpr uint32_t kNodeNext = 4;
constexpr uint32_t kNodePrev = 8;

}  // namespace

SubAllocator::SubAllocator(uint32_t size)
    : size_(size),
      // One more unit above the memory holds the sentinel node while gluing.
      limit_(kTextStart + size + kUnitSize),
      mem_(new uint8_t[limit_]) {
  unsigned k = 0;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    do {
      units_to_index_[k++] = static_cast<uint8_t>(i);
    } while (--step);
    index_to_units_[i] = static_cast<uint8_t>(k);
  }
  Restart();
}

void SubAllocator::Restart() {
  free_list_.fill(0);
  text_ = kTextStart;
  hi_unit_ = text_ + size_;
  lo_unit_ = units_start_ = hi_unit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glue_count_ = 0;
}

void SubAllocator::InsertNode(Ref block, unsigned index) {
  Set32(block, free_list_[index]);
  free_list_[index] = block;
}

Ref SubAllocator::RemoveNode(unsigned index) {
  Ref block = free_list_[index];
  free_list_[index] = Get32(block);
  return block;
}

void SubAllocator::SplitBlock(Ref block, unsigned old_index, unsigned new_index) {
  unsigned rest = IndexToUnits(old_index) - IndexToUnits(new_index);
  Ref tail = block + IndexToUnits(new_index) * kUnitSize;
  unsigned i = UnitsToIndex(rest);
  if (IndexToUnits(i) != rest) {
    // The rest is no size class of its own: a class just below it and a piece of 1..3 units.
    unsigned k = IndexToUnits(--i);
    InsertNode(tail + k * kUnitSize, rest - k - 1);
  }
  InsertNode(tail, i);
}

void SubAllocator::GlueFreeBlocks() {
  // The sentinel node sits in the spare unit just above the memory.
  const Ref head = kTextStart + size_;
  glue_count_ = 255;

  // One doubly linked list of all free blocks, each stamped free with its size.
  Ref n = head;
  uint64_t nodes = 0;
  const uint64_t max_nodes = size_ / kUnitSize + 1;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    Ref next = free_list_[i];
    free_list_[i] = 0;
    while (next != 0) {
      if (++nodes > max_nodes) throw PpmdError("PPMd: model state damaged");
      Ref node = next;
      next = Get32(node);
      Set32(node + kNodeNext, n);
      Set32(n + kNodePrev, node);
      n = node;
      Set16(node + kNodeStamp, 0);
      Set16(node + kNodeUnits, static_cast<uint16_t>(IndexToUnits(i)));
    }
  }
  Set16(head + kNodeStamp, 1);
  Set32(head + kNodeNext, n);
  Set32(n + kNodePrev, head);
  if (lo_unit_ != hi_unit_) Set16(lo_unit_ + kNodeStamp, 1);

  // Merge each free block with the free blocks that follow it in memory.
  while (n != head) {
    uint32_t units = Get16(n + kNodeUnits);
    for (;;) {
      Ref next_block = n + units * kUnitSize;
      if (next_block >= head || Get16(next_block + kNodeStamp) != 0) break;
      units += Get16(next_block + kNodeUnits);
      if (units >= 0x10000) break;
      Ref prev = Get32(next_block + kNodePrev);
      Ref next = Get32(next_block + kNodeNext);
      Set32(prev + kNodeNext, next);
      Set32(next + kNodePrev, prev);
      Set16(n + kNodeUnits, static_cast<uint16_t>(units));
    }
    n = Get32(n + kNodeNext);
  }

  // Back into the free lists, cut into size classes.
  for (n = Get32(head + kNodeNext); n != head;) {
    Ref next = Get32(n + kNodeNext);
    Ref block = n;
    unsigned units = Get16(n + kNodeUnits);
    for (; units > 128; units -= 128, block += 128 * kUnitSize) InsertNode(block, kNumIndexes - 1);
    unsigned i = UnitsToIndex(units);
    if (IndexToUnits(i) != units) {
      unsigned k = IndexToUnits(--i);
      InsertNode(block + k * kUnitSize, units - k - 1);
    }
    InsertNode(block, i);
    n = next;
  }
}

Ref SubAllocator::AllocUnitsRare(unsigned index) {
  if (glue_count_ == 0) {
    GlueFreeBlocks();
    if (free_list_[index] != 0) return RemoveNode(index);
  }
  unsigned i = index;
  do {
    if (++i == kNumIndexes) {
      uint32_t bytes = IndexToUnits(index) * kUnitSize;
      --glue_count_;
      if (units_start_ - text_ > bytes) return units_start_ -= bytes;
      return 0;
    }
  } while (free_list_[i] == 0);
  Ref block = RemoveNode(i);
  SplitBlock(block, i, index);
  return block;
}

Ref SubAllocator::AllocUnits(unsigned index) {
  if (free_list_[index] != 0) return RemoveNode(index);
  uint32_t bytes = IndexToUnits(index) * kUnitSize;
  if (bytes <= hi_unit_ - lo_unit_) {
    Ref block = lo_unit_;
    lo_unit_ += bytes;
    return block;
  }
  return AllocUnitsRare(index);
}

Ref SubAllocator::AllocContext() {
  if (hi_unit_ != lo_unit_) return hi_unit_ -= kUnitSize;
  if (free_list_[0] != 0) return RemoveNode(0);
  return AllocUnitsRare(0);
}

Ref SubAllocator::ShrinkUnits(Ref block, unsigned old_units, unsigned new_units) {
  unsigned i0 = UnitsToIndex(old_units);
  unsigned i1 = UnitsToIndex(new_units);
  if (i0 == i1) return block;
  if (free_list_[i1] != 0) {
    Ref moved = RemoveNode(i1);
    Copy(moved, block, new_units * kUnitSize);
    InsertNode(block, i0);
    return moved;
  }
  SplitBlock(block, i0, i1);
  return block;
}

}  // namespace orv::ppmd
