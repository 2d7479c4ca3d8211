#pragma once

#include <cstdint>
#include <functional>

#include "engine/storage/engine_arrays.h"
#include "engine/storage/index_key.h"
#include "engine/storage/record_source.h"

namespace orv {

// Pins a record's page for as long as its image is used; Unlock() ends it early and may raise,
// the destructor never does.
class TPageLock {
 public:
  TPageLock(TRecordSource& records, int32_t record_no);
  ~TPageLock();
  TPageLock(const TPageLock&) = delete;
  TPageLock& operator=(const TPageLock&) = delete;
  void Unlock();

 private:
  TRecordSource& records_;
  int32_t record_no_;
  bool locked_ = true;
};

// Called after each partition with the percentage the index build reports.
using TSortProgress = std::function<void(int percent_done)>;

// Sorts array, which holds 0 .. n - 1 for the n records, into the comparer's exact order (key,
// then record identifier: CompareExact) with the index quicksort: pivot in the middle of the range,
// its page locked while the range is partitioned, "TOrvelDataManager.BuildIndex - Sorting error"
// when a partition leaves a part as large as the range (only a key order that contradicts itself
// can).
//
// The depth stays logarithmic (the smaller part is sorted first, the larger one looped over),
// and a range that takes more partitions than twice the logarithm of n is heap-sorted, so no
// input takes quadratic time. When the first key field is an 8-bit string under a collation
// that maps each character to one rank, the sort first reads each record's first 15 collation
// ranks into a key array and compares those, reading the images only to break ties; the
// partitions are the same, the comparisons only cheaper.
void SortIndexArray(TRecordSource& records, const TIndexKeyComparer& comparer, TmvIntArray& array,
                    const TSortProgress* progress);

}  // namespace orv
