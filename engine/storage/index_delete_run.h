#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/engine_arrays.h"

namespace orv {

// A run of record deletes on one index array, kept aside until something reads the array.
// Each delete takes a record's entry out and gives the moved last record's entry the freed
// record number (the data manager keeps record numbers dense). Done on the array, each delete
// searches for both entries by key, which compares record images, and shifts the array; here
// an entry is found through a record number -> slot map and a tree of removed slots, by
// integer steps only, and the array is rebuilt once when the run ends.
class TIndexDeleteRun {
 public:
  // Takes the array's entries over; false, taking nothing, unless they are the record numbers
  // 0 .. record_count - 1, each once.
  bool Start(const TmvIntArray& array, int32_t record_count);
  bool Active() const { return !slots_.empty(); }
  int32_t Count() const { return static_cast<int32_t>(slots_.size()) - removed_; }
  // Position of record_no in the array as the run has changed it so far, or -1.
  int32_t PositionOf(int32_t record_no) const;
  // record_no leaves; the entry of moved (>= 0, another record) is renamed record_no.
  void Remove(int32_t record_no, int32_t moved);
  // The array as the run left it; the run is over.
  std::vector<int32_t> Finish();

 private:
  int32_t RemovedBefore(int32_t slot) const;

  std::vector<int32_t> slots_;    // the entries at the start, renamed; -1 once removed
  std::vector<int32_t> slot_of_;  // record number -> its slot, -1 when it has none
  std::vector<int32_t> tree_;     // Fenwick tree over slots: 1 for each removed one
  int32_t removed_ = 0;
};

}  // namespace orv
