#include "engine/storage/index_sort.h"

#include <algorithm>
#include <array>
#include <new>
#include <numeric>
#include <utility>
#include <vector>

#include "engine/common/collation.h"
#include "platform/exception.h"

namespace orv {

TPageLock::TPageLock(TRecordSource& records, int32_t record_no)
    : records_(records), record_no_(record_no) {
  records_.LockRecordPage(record_no_);
}

TPageLock::~TPageLock() {
  if (!locked_) return;
  try {
    records_.UnlockRecordPage(record_no_);
  } catch (...) {
    // Already unwinding from the failure that matters.
  }
}

void TPageLock::Unlock() {
  locked_ = false;
  records_.UnlockRecordPage(record_no_);
}

namespace {

// The quicksort over positions 0 .. count - 1 of whatever Order arranges. Order gives a Pivot
// (built from a position, pinning what it needs until Release), BeforePivot / AfterPivot
// (whether the entry at a position sorts before / after the pivot), Before (two positions) and
// Swap.
template <typename Order>
class TQuickSort {
 public:
  TQuickSort(Order& order, int32_t count, const TSortProgress* progress)
      : order_(order), last_(count - 1), progress_(progress) {}

  void Run() {
    int32_t budget = 2;
    for (uint32_t n = static_cast<uint32_t>(last_) + 1; n > 1; n >>= 1) budget += 2;
    Sort(0, last_, budget);
  }

 private:
  void Sort(int32_t left, int32_t right, int32_t budget) {
    while (left < right) {
      if (budget-- == 0) {
        HeapSort(left, right);
        Report(right);
        return;
      }
      int32_t i = left, j = right;
      Partition(i, j);
      Report(right);
      const bool sort_left = left < j, sort_right = i < right;
      if ((sort_left && j >= right) || (sort_right && i <= left))
        throw Exception("TOrvelDataManager.BuildIndex - Sorting error");
      if (sort_left && sort_right) {
        if (j - left < right - i) {
          Sort(left, j, budget);
          left = i;
        } else {
          Sort(i, right, budget);
          right = j;
        }
      } else if (sort_left) {
        right = j;
      } else if (sort_right) {
        left = i;
      } else {
        return;
      }
    }
  }

  void Partition(int32_t& i, int32_t& j) {
    typename Order::Pivot pivot(order_, static_cast<int32_t>((uint32_t(i) + uint32_t(j)) / 2));
    do {
      while (i < last_ && order_.BeforePivot(i, pivot)) ++i;
      while (j > 0 && order_.AfterPivot(j, pivot)) --j;
      if (i <= j) {
        order_.Swap(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    pivot.Release();
  }

  void SiftDown(int32_t base, int32_t root, int32_t n) {
    for (int32_t child; (child = 2 * root + 1) < n; root = child) {
      if (child + 1 < n && order_.Before(base + child, base + child + 1)) ++child;
      if (!order_.Before(base + root, base + child)) return;
      order_.Swap(base + root, base + child);
    }
  }

  void HeapSort(int32_t left, int32_t right) {
    const int32_t n = right - left + 1;
    for (int32_t root = n / 2 - 1; root >= 0; --root) SiftDown(left, root, n);
    for (int32_t end = n - 1; end > 0; --end) {
      order_.Swap(left, left + end);
      SiftDown(left, 0, end);
    }
  }

  void Report(int32_t right) const {
    if (progress_ != nullptr)
      (*progress_)(last_ > 0 ? static_cast<int>(int64_t(right) * 100 / last_) : 100);
  }

  Order& order_;
  int32_t last_;
  const TSortProgress* progress_;
};

// Record numbers compared through their images.
class TImageOrder {
 public:
  TImageOrder(TRecordSource& records, const TIndexKeyComparer& comparer, int32_t* a)
      : records_(records), comparer_(comparer), a_(a) {}

  class Pivot {
   public:
    Pivot(TImageOrder& order, int32_t position)
        : lock_(order.records_, order.a_[position]),
          image_(order.records_.GetRecordPtr(order.a_[position])) {}
    void Release() { lock_.Unlock(); }
    const uint8_t* Image() const { return image_; }

   private:
    TPageLock lock_;
    const uint8_t* image_;
  };

  bool BeforePivot(int32_t position, const Pivot& pivot) {
    return comparer_.CompareExact(Image(position), pivot.Image()) < 0;
  }
  bool AfterPivot(int32_t position, const Pivot& pivot) {
    return comparer_.CompareExact(pivot.Image(), Image(position)) < 0;
  }
  bool Before(int32_t x, int32_t y) {
    TPageLock lock(records_, a_[x]);
    const uint8_t* image_x = Image(x);
    const bool before = comparer_.CompareExact(image_x, Image(y)) < 0;
    lock.Unlock();
    return before;
  }
  void Swap(int32_t i, int32_t j) { std::swap(a_[i], a_[j]); }

 private:
  const uint8_t* Image(int32_t position) { return records_.GetRecordPtr(a_[position]); }

  TRecordSource& records_;
  const TIndexKeyComparer& comparer_;
  int32_t* a_;
};

// The first key field's leading collation ranks, ready for unsigned comparison: a flag byte (0
// for null, 1 otherwise) and up to 15 ranks, zero after the end of the string; inverted for a
// descending field. Keys that differ order their records as the comparer does; complete keys
// (the string ended inside them) that are equal mean equal first fields.
struct TPrefixKey {
  uint64_t high;
  uint64_t low;
  int32_t record;
  uint32_t identifier;
  bool complete;
};

constexpr int kPrefixRanks = 15;

// The map from a byte to the value its prefix holds, when one exists: the comparisons must be
// the byte-wise rank walk, NUL must rank first, and case folding must never fold a character
// onto NUL.
bool PrefixMap(const TIndexKeyComparer& comparer, std::array<uint8_t, 256>& map) {
  if (comparer.Switches().Partial || comparer.KeyFields().empty()) return false;
  const TIndexKeyComparer::TKeyField& field = comparer.KeyFields().front();
  if (field.type != ftString) return false;
  const CollationTables& t = CurrentCollation();
  if (!t.fastCollation || t.rank[0] != 0) return false;
  if (field.case_insensitive)
    for (int r = 0; r < 256; ++r)
      if ((t.upperRank[r] == 0) != (r == 0)) return false;
  for (int c = 0; c < 256; ++c)
    map[c] = field.case_insensitive ? t.upperRank[t.rank[c]] : t.rank[c];
  return true;
}

TPrefixKey PrefixOf(const uint8_t* image, const TIndexKeyComparer& comparer,
                    const std::array<uint8_t, 256>& map, int32_t record) {
  const TIndexKeyComparer::TKeyField& field = comparer.KeyFields().front();
  TPrefixKey key{0, 0, record, comparer.Identifier(image), true};
  uint8_t bytes[1 + kPrefixRanks] = {};
  const uint8_t* slot = image + field.offset;
  const bool null = comparer.IsNull(image, field);
  bytes[0] = null ? 0 : 1;
  key.complete = null;
  for (int k = 0; k < kPrefixRanks && !null; ++k) {
    // A slot without a terminator ends at its size, as the comparison reads it.
    const uint8_t c = k < field.size ? slot[k] : 0;
    if (c == 0) {
      key.complete = true;
      break;
    }
    bytes[1 + k] = map[c];
  }
  for (int k = 0; k < 8; ++k) {
    key.high = key.high << 8 | bytes[k];
    key.low = key.low << 8 | bytes[8 + k];
  }
  if (!field.ascending) {
    key.high = ~key.high;
    key.low = ~key.low;
  }
  return key;
}

class TPrefixOrder {
 public:
  TPrefixOrder(TRecordSource& records, const TIndexKeyComparer& comparer,
               std::vector<TPrefixKey>& keys)
      : records_(records),
        comparer_(comparer),
        keys_(keys.data()),
        single_field_(comparer.KeyFields().size() == 1) {}

  class Pivot {
   public:
    Pivot(TPrefixOrder& order, int32_t position)
        : key_(order.keys_[position]),
          lock_(order.records_, key_.record),
          image_(order.records_.GetRecordPtr(key_.record)) {}
    void Release() { lock_.Unlock(); }
    const TPrefixKey& Key() const { return key_; }
    const uint8_t* Image() const { return image_; }

   private:
    TPrefixKey key_;
    TPageLock lock_;
    const uint8_t* image_;
  };

  bool BeforePivot(int32_t position, const Pivot& pivot) {
    const TPrefixKey& key = keys_[position];
    const int c = ComparePrefixes(key, pivot.Key());
    if (c != kTie) return c < 0;
    return comparer_.CompareExact(records_.GetRecordPtr(key.record), pivot.Image()) < 0;
  }
  bool AfterPivot(int32_t position, const Pivot& pivot) {
    const TPrefixKey& key = keys_[position];
    const int c = ComparePrefixes(pivot.Key(), key);
    if (c != kTie) return c < 0;
    return comparer_.CompareExact(pivot.Image(), records_.GetRecordPtr(key.record)) < 0;
  }
  bool Before(int32_t x, int32_t y) {
    const int c = ComparePrefixes(keys_[x], keys_[y]);
    if (c != kTie) return c < 0;
    TPageLock lock(records_, keys_[x].record);
    const uint8_t* image_x = records_.GetRecordPtr(keys_[x].record);
    const bool before = comparer_.CompareExact(image_x, records_.GetRecordPtr(keys_[y].record)) < 0;
    lock.Unlock();
    return before;
  }
  void Swap(int32_t i, int32_t j) { std::swap(keys_[i], keys_[j]); }

 private:
  static constexpr int kTie = 2;

  // -1 or 1 when the prefixes (or, for equal keys, the identifiers) decide, kTie when the
  // images must.
  int ComparePrefixes(const TPrefixKey& a, const TPrefixKey& b) const {
    if (a.high != b.high) return a.high < b.high ? -1 : 1;
    if (a.low != b.low) return a.low < b.low ? -1 : 1;
    if (!single_field_ || !a.complete || !b.complete) return kTie;
    return a.identifier < b.identifier ? -1 : a.identifier > b.identifier ? 1 : 0;
  }

  TRecordSource& records_;
  const TIndexKeyComparer& comparer_;
  TPrefixKey* keys_;
  bool single_field_;
};

bool SortByPrefixes(TRecordSource& records, const TIndexKeyComparer& comparer, TmvIntArray& array,
                    const TSortProgress* progress) {
  std::array<uint8_t, 256> map;
  if (!PrefixMap(comparer, map)) return false;
  const int32_t n = array.Count();
  std::vector<TPrefixKey> keys;
  try {
    keys.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    // The images alone will do.
    return false;
  }
  for (int32_t r = 0; r < n; ++r)
    keys[size_t(r)] = PrefixOf(records.GetRecordPtr(r), comparer, map, r);
  TPrefixOrder order(records, comparer, keys);
  TQuickSort<TPrefixOrder>(order, n, progress).Run();
  for (int32_t p = 0; p < n; ++p) array[p] = keys[size_t(p)].record;
  return true;
}

}  // namespace

void SortIndexArray(TRecordSource& records, const TIndexKeyComparer& comparer, TmvIntArray& array,
                    const TSortProgress* progress) {
  if (array.Count() < 2) return;
  if (SortByPrefixes(records, comparer, array, progress)) return;
  TImageOrder order(records, comparer, array.data());
  TQuickSort<TImageOrder>(order, array.Count(), progress).Run();
}

}  // namespace orv
