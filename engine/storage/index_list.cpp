#include "engine/storage/index_list.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <utility>

#include "engine/common/orv_exception.h"
#include "engine/storage/index_delete_run.h"
#include "engine/storage/index_sort.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/locale.h"
#include "platform/random.h"

namespace orv {

namespace {

// Tables of up to this many records may switch to updating only the current index.
constexpr int32_t kSmallTableRecords = 10;
constexpr uint32_t kChangeWindowMs = 1000;
constexpr int32_t kChangeLimit = 100;
constexpr int kCannotAddIndexField = 1067;
constexpr const char* kTemporaryPrefix = "$_IDX_";
constexpr uint32_t kTemporaryRange = 2147483647;

[[noreturn]] void Fail(const std::string& message) {
  throw Exception(message);
}

std::string Trim(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return std::string(text.substr(first, last - first));
}

// Names separated by "," or ";"; empty names are dropped.
std::vector<std::string> SplitNames(std::string_view text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;", start);
    if (end == std::string_view::npos) end = text.size();
    std::string name = Trim(text.substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

bool Listed(const std::vector<std::string>& upper_names, const std::string& name) {
  return std::find(upper_names.begin(), upper_names.end(), AnsiUpperCase(name)) !=
         upper_names.end();
}

std::vector<std::string> UpperNames(std::vector<std::string> names) {
  for (std::string& name : names) name = AnsiUpperCase(name);
  return names;
}

// Sets a flag for a scope and puts the old value back on every exit.
class TScopedFlag {
 public:
  TScopedFlag(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
  ~TScopedFlag() { flag_ = saved_; }
  TScopedFlag(const TScopedFlag&) = delete;
  TScopedFlag& operator=(const TScopedFlag&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

}  // namespace

struct TOrvelIndexList::TIndex {
  IndexHeaderType header;
  std::string upper_name;
  bool valid = false;
  // Positions -> record numbers. Every reader comes through Array(), which first writes in
  // the run of deletes that RecordDeleting may be keeping aside.
  mutable TmvIntArray array;
  mutable TIndexDeleteRun delete_run;
  // Array() calls, and their number when the last delete was done: deletes with no read in
  // between come in a row.
  mutable int64_t reads = 0;
  int64_t reads_after_delete = -1;
  int32_t deletes_in_row = 0;

  TmvIntArray& Array() const {
    ++reads;
    if (delete_run.Active()) array.Assign(delete_run.Finish());
    return array;
  }
  int32_t EntryCount() const { return delete_run.Active() ? delete_run.Count() : array.Count(); }
  std::unique_ptr<TIndexKeyComparer> comparer;
  // The last positions FindRecordPosition found: a delete looks up two records (the removed
  // one and the last one), and changes walking the table find the next record close to where
  // the one before was.
  std::array<int32_t, 2> recent{0, 0};
  size_t next_recent = 0;

  int32_t Remember(int32_t position) {
    recent[next_recent] = position;
    next_recent = (next_recent + 1) % recent.size();
    return position;
  }
  // A delete looks up the removed record, then the last one: the last one's position before
  // is the older of the two.
  int32_t OldestRecent() const { return recent[next_recent]; }
  // Position of record_no within kNearby of a recent position, or -1.
  int32_t NearRecent(int32_t record_no, int32_t n) const {
    for (const int32_t around : recent)
      for (int32_t p = std::max(around - kNearby, 0); p <= around + kNearby && p < n; ++p)
        if (array[p] == record_no) return p;
    return -1;
  }
  static constexpr int32_t kNearby = 16;
};

TOrvelIndexList::TOrvelIndexList(TOrvelTableFiles& table, TRecordSource& records)
    : table_(table), records_(records), tick_([] { return GetTickCount(); }) {}

TOrvelIndexList::~TOrvelIndexList() = default;

void TOrvelIndexList::SetBuildProgress(TBuildProgress progress) {
  progress_ = std::move(progress);
}

void TOrvelIndexList::SetProgressSuppressed(bool suppressed) {
  progress_suppressed_ = suppressed;
}

void TOrvelIndexList::SetTickSource(std::function<uint32_t()> tick) {
  tick_ = tick ? std::move(tick) : std::function<uint32_t()>([] { return GetTickCount(); });
}

const IndexHeaderType& TOrvelIndexList::Header(int32_t index_no) const {
  return At(index_no, "Header").header;
}

const TmvIntArray& TOrvelIndexList::Array(int32_t index_no) const {
  return At(index_no, "Array").Array();
}

bool TOrvelIndexList::IsValid(int32_t index_no) const {
  return index_no >= 0 && index_no < Count() && indexes_[static_cast<size_t>(index_no)]->valid;
}

TOrvelIndexList::TIndex& TOrvelIndexList::At(int32_t index_no, const char* operation) {
  return const_cast<TIndex&>(std::as_const(*this).At(index_no, operation));
}

const TOrvelIndexList::TIndex& TOrvelIndexList::At(int32_t index_no, const char* operation) const {
  if (index_no < 0 || index_no >= Count())
    Fail(fmt::format("TOrvelDataManager.{} - invalid index number {}, indexCount = {}", operation,
                     index_no, Count()));
  return *indexes_[static_cast<size_t>(index_no)];
}

const TIndexKeyComparer& TOrvelIndexList::Comparer(int32_t index_no) {
  TIndex& index = At(index_no, "Comparer");
  if (!index.comparer)
    index.comparer =
        std::make_unique<TIndexKeyComparer>(index.header, table_.Fields(), table_.Geometry());
  return *index.comparer;
}

int32_t TOrvelIndexList::IndexNo(std::string_view name) const {
  const std::string upper = AnsiUpperCase(name);
  for (size_t i = 0; i < indexes_.size(); ++i)
    if (indexes_[i]->upper_name == upper) return static_cast<int32_t>(i);
  return -1;
}

bool TOrvelIndexList::IndexExists(std::string_view name) const {
  return IndexNo(name) >= 0;
}

TAbstractFile& TOrvelIndexList::IndexFile(const char* operation) const {
  TAbstractFile* file = table_.File(tfkIndex);
  if (file == nullptr)
    Fail(fmt::format("Error in TOrvelDataManager.{} - index file is not opened.", operation));
  return *file;
}

bool TOrvelIndexList::Reporting(bool report_progress) const {
  return report_progress && !progress_suppressed_ && progress_;
}

void TOrvelIndexList::Notify(int percent_done, bool start, bool finish) const {
  if (progress_) progress_(percent_done, start, finish);
}

bool TOrvelIndexList::NameFits(const std::string& name) const {
  const size_t capacity =
      IsLongLayout(table_.Header().Version) ? kLongNameCapacity : kShortNameCapacity;
  return name.size() <= capacity;
}

void TOrvelIndexList::AddIndex(const std::string& name, const std::string& fields, bool do_not_save,
                               const std::string& ci_fields, const std::string& desc_fields,
                               uint8_t options) {
  const std::vector<std::string> names = SplitNames(fields);
  const std::vector<std::string> ci_names = UpperNames(SplitNames(ci_fields));
  const std::vector<std::string> desc_names = UpperNames(SplitNames(desc_fields));
  std::vector<bool> case_insensitive, descending;
  for (const std::string& field : names) {
    descending.push_back((options & kIxDescending) != 0 || Listed(desc_names, field));
    case_insensitive.push_back((options & kIxCaseInsensitive) != 0 || Listed(ci_names, field));
  }
  for (const std::string& field : names)
    if (table_.InternalGetFieldNo(field, false) == kFieldNotFound)
      throw EOrvException::Fmt(kCannotAddIndexField, {}, field);
  InternalAddIndex(name, names, (options & kIxDescending) != 0, (options & kIxCaseInsensitive) != 0,
                   options, case_insensitive, descending);
  if (!do_not_save) SaveIndexFile();
}

void TOrvelIndexList::InternalAddIndex(const std::string& name,
                                       const std::vector<std::string>& field_names,
                                       bool descending_all, bool case_insensitive_all,
                                       uint8_t options, const std::vector<bool>& case_insensitive,
                                       const std::vector<bool>& descending) {
  constexpr const char* kWhere = "Error in TOrvelDataManager.InternalAddIndex - ";
  if (name.empty()) Fail(fmt::format("{}name is empty.", kWhere));
  if (!NameFits(name)) Fail(fmt::format("{}name length > .{}", kWhere, 253));
  if (field_names.empty()) Fail(fmt::format("{}empty field name list", kWhere));
  if (descending.empty()) Fail(fmt::format("{}empty sort orders list", kWhere));
  if (descending.size() != field_names.size() || case_insensitive.size() != field_names.size())
    Fail(fmt::format("{}sort orders list does not match the field name list", kWhere));
  // More fields than the index file admits would make the whole .idx unreadable at the next
  // open.
  const int64_t fields_plus_one = int64_t(table_.Fields().size()) + 1;
  if (int64_t(field_names.size()) > 10 * fields_plus_one * fields_plus_one)
    Fail(fmt::format("{}too many fields in index \"{}\"", kWhere, name));
  if (IndexExists(name)) Fail(fmt::format("{}index \"{}\" already exists!", kWhere, name));

  std::vector<int32_t> field_numbers;
  for (const std::string& field : field_names)
    field_numbers.push_back(table_.InternalGetFieldNo(field, true));
  auto index = std::make_unique<TIndex>();
  IndexHeaderType& header = index->header;
  header = IndexHeaderType(name, field_numbers);
  header.Options = options;
  header.DescendingAll = descending_all;
  header.CaseInsensitiveAll = case_insensitive_all;
  for (size_t j = 0; j < field_numbers.size(); ++j) {
    const int32_t field_no = field_numbers[j];
    if (field_no == kIdentifierFieldNo) continue;
    const TFieldType type = table_.GetFieldType(field_no);
    if (!IsIndexableFieldType(type)) Fail(fmt::format("{}unsupported field type!", kWhere));
    const auto jj = static_cast<int32_t>(j);
    header.SetAscending(jj, !descending[j]);
    header.SetCaseInsensitive(jj,
                              case_insensitive[j] && (type == ftString || type == ftWideString));
  }
  index->upper_name = AnsiUpperCase(name);
  indexes_.push_back(std::move(index));
  try {
    BuildIndex(Count() - 1, true);
  } catch (...) {
    // An index that could not be sorted is not left behind half made.
    indexes_.pop_back();
    throw;
  }
}

int32_t TOrvelIndexList::DeleteIndex(const std::string& name, bool do_not_save) {
  if (!table_open_) Fail("Error in TOrvelDataManager.DeleteIndex - table is not opened.");
  if (name.empty()) Fail("Error in TOrvelDataManager.DeleteIndex - name is empty.");
  const int32_t index_no = IndexNo(name);
  if (index_no < 0)
    Fail(fmt::format("Error in TOrvelDataManager.DeleteIndex - index \"{}\" doesn't exist!", name));
  if (Count() == 1) Fail("TOrvelDataManager.DeleteIndex - last index deleted!");
  indexes_.erase(indexes_.begin() + index_no);
  if (!do_not_save) SaveIndexFile();
  return index_no;
}

std::string TOrvelIndexList::AddTemporaryIndex(const std::string& fields,
                                               const std::string& ci_fields,
                                               const std::string& desc_fields) {
  std::string name;
  do {
    name = kTemporaryPrefix + std::to_string(Random(kTemporaryRange));
  } while (IndexExists(name));
  AddIndex(name, fields, true, ci_fields, desc_fields, 0);
  return name;
}

void TOrvelIndexList::AddAutoIndex(const std::string& name, int32_t field_no, uint8_t options) {
  // A name the .idx cannot hold, or one a field name already took ("@" + "@A" is "@@A"), gets
  // no automatic index rather than keeping the table from opening.
  if (!NameFits(name) || IndexExists(name)) return;
  const std::string field =
      field_no == kIdentifierFieldNo ? table_.Header().IdFieldName : table_.Fields()[field_no].Name;
  const bool ci = (options & kIxCaseInsensitive) != 0;
  InternalAddIndex(name, {field}, false, ci, options, {ci}, {false});
}

void TOrvelIndexList::CreateAutoIndexes(bool all_fields) {
  table_open_ = true;
  AddAutoIndex("@" + table_.Header().IdFieldName, kIdentifierFieldNo, kIxUnique);
  if (!all_fields) return;
  const std::vector<FieldHeaderType>& fields = table_.Fields();
  for (size_t f = 0; f < fields.size(); ++f) {
    const TFieldType type = fields[f].Type;
    if (IsBlobFieldType(type) || type == ftBytes) continue;
    const auto field_no = static_cast<int32_t>(f);
    if (type == ftString || type == ftWideString)
      AddAutoIndex("@@" + fields[f].Name, field_no, kIxCaseInsensitive);
    AddAutoIndex("@" + fields[f].Name, field_no, 0);
  }
}

void TOrvelIndexList::BuildIndex(int32_t index_no, bool report_progress) {
  TIndex& index = At(index_no, "BuildIndex");
  if (index.valid) return;
  const int32_t count = records_.RecordCount();
  index.valid = true;
  try {
    index.Array().SetCount(count);
    if (count <= 0) return;
    std::iota(index.Array().data(), index.Array().data() + count, 0);
    const bool reporting = Reporting(report_progress);
    if (reporting) Notify(0, true, false);
    ++sort_count_;
    const TSortProgress progress = [this](int percent) { Notify(percent, false, false); };
    SortIndexArray(records_, Comparer(index_no), index.Array(), reporting ? &progress : nullptr);
    if (reporting) Notify(100, false, true);
  } catch (...) {
    index.valid = false;
    throw;
  }
}

void TOrvelIndexList::BuildAllIndexes() {
  for (int32_t i = 0; i < Count(); ++i)
    if (!indexes_[static_cast<size_t>(i)]->valid) BuildIndex(i, false);
}

void TOrvelIndexList::RebuildAllIndexes() {
  TScopedFlag quiet(progress_suppressed_, true);
  for (auto& index : indexes_) index->valid = false;
  for (int32_t i = 0; i < Count(); ++i) BuildIndex(i, true);
}

void TOrvelIndexList::InvalidateAll() {
  for (auto& index : indexes_) {
    index->valid = false;
    // The fields may have changed under it.
    index->comparer.reset();
  }
}

void TOrvelIndexList::Clear() {
  indexes_.clear();
  table_open_ = false;
  have_last_change_ = false;
  burst_changes_ = 0;
}

int32_t TOrvelIndexList::FindInsertPosition(int32_t index_no, const uint8_t* image, int32_t n) {
  TIndex& index = At(index_no, "FindInsertPosition");
  const TIndexKeyComparer& comparer = Comparer(index_no);
  n = std::clamp(n, 0, index.Array().Count());
  if (n == 0) return 0;
  const TmvIntArray& a = index.Array();
  auto compare_at = [&](int32_t p) { return comparer.Compare(image, records_.GetRecordPtr(a[p])); };
  int32_t p = n / 2, step = n / 2;
  int c;
  for (;;) {
    step = std::max(step / 2, 1);
    c = compare_at(p);
    if (c == 0) return p;
    if (step == 1) break;
    p = c < 0 ? std::max(p - step, 0) : std::min(p + step, n - 1);
  }
  if (c < 0) {
    for (; p > 0; --p) {
      const int below = compare_at(p - 1);
      if (below > 0) return p;
      if (below == 0) return p - 1;
    }
    return 0;
  }
  for (; p < n - 1; ++p)
    if (compare_at(p + 1) <= 0) return p + 1;
  return n;
}

int32_t TOrvelIndexList::ExactPosition(int32_t index_no, const uint8_t* image, int32_t n) {
  const TIndexKeyComparer& comparer = Comparer(index_no);
  const TmvIntArray& a = indexes_[static_cast<size_t>(index_no)]->Array();
  n = std::clamp(n, 0, a.Count());
  // Records mostly arrive in key order of the identifier index: one comparison places them.
  if (n > 0 && comparer.CompareExact(records_.GetRecordPtr(a[n - 1]), image) < 0) return n;
  return ExactPositionIn(index_no, image, 0, n);
}

int32_t TOrvelIndexList::ExactPositionIn(int32_t index_no, const uint8_t* image, int32_t first,
                                         int32_t last) {
  const TIndexKeyComparer& comparer = Comparer(index_no);
  const TmvIntArray& a = indexes_[static_cast<size_t>(index_no)]->Array();
  int32_t n = last - first;
  while (n > 0) {
    const int32_t half = n / 2;
    if (comparer.CompareExact(records_.GetRecordPtr(a[first + half]), image) < 0) {
      first += half + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  return first;
}

int32_t TOrvelIndexList::ExactPositionNear(int32_t index_no, const uint8_t* image, int32_t n,
                                           int32_t hint) {
  const TIndexKeyComparer& comparer = Comparer(index_no);
  const TmvIntArray& a = indexes_[static_cast<size_t>(index_no)]->Array();
  n = std::clamp(n, 0, a.Count());
  if (n == 0) return 0;
  hint = std::clamp(hint, 0, n - 1);
  auto before = [&](int32_t p) {
    return comparer.CompareExact(records_.GetRecordPtr(a[p]), image) < 0;
  };
  // Steps doubling away from the hint bracket the answer; the records probed first lie close
  // to the hint's, which the last change has just had in the cache.
  int32_t low = 0, high = n;
  if (before(hint)) {
    low = hint + 1;
    for (int64_t step = 1;; step *= 2) {
      const int64_t probe = hint + step;
      if (probe >= n) break;
      if (!before(static_cast<int32_t>(probe))) {
        high = static_cast<int32_t>(probe);
        break;
      }
      low = static_cast<int32_t>(probe) + 1;
    }
  } else {
    high = hint;
    for (int64_t step = 1;; step *= 2) {
      const int64_t probe = hint - step;
      if (probe < 0) break;
      if (before(static_cast<int32_t>(probe))) {
        low = static_cast<int32_t>(probe) + 1;
        break;
      }
      high = static_cast<int32_t>(probe);
    }
  }
  return ExactPositionIn(index_no, image, low, high);
}

int32_t TOrvelIndexList::FindRecordPosition(int32_t index_no, int32_t record_no, int32_t count) {
  TIndex& index = At(index_no, "FindRecordPosition");
  if (!index.valid) BuildIndex(index_no, false);
  if (record_no < 0 || record_no >= records_.RecordCount()) return -1;
  const int32_t n = std::min(count < 0 ? records_.RecordCount() : count, index.Array().Count());
  if (const int32_t near = index.NearRecent(record_no, n); near >= 0) return index.Remember(near);
  int32_t p;
  {
    TPageLock lock(records_, record_no);
    p = ExactPositionNear(index_no, records_.GetRecordPtr(record_no), n, index.OldestRecent());
    lock.Unlock();
  }
  const TmvIntArray& a = index.Array();
  if (p < n && a[p] == record_no) return index.Remember(p);
  // Equal keys out of identifier order (an array read from a .idx this list did not sort) hide
  // the record somewhere in their run.
  for (int32_t d = 1; p - d >= 0 || p + d < n; ++d) {
    if (p - d >= 0 && a[p - d] == record_no) return index.Remember(p - d);
    if (p + d < n && a[p + d] == record_no) return index.Remember(p + d);
  }
  return -1;
}

bool TOrvelIndexList::ShouldMaintainAllIndexes() {
  const uint32_t now = tick_();
  bool maintain = true;
  if (records_.RecordCount() <= kSmallTableRecords) {
    if (have_last_change_ && now - last_change_tick_ < kChangeWindowMs) {
      ++burst_changes_;
      maintain = burst_changes_ <= kChangeLimit;
    } else {
      burst_changes_ = 0;
    }
  }
  have_last_change_ = true;
  last_change_tick_ = now;
  return maintain;
}

void TOrvelIndexList::PrepareForChange() {
  if (records_.RecordCount() > kSmallTableRecords) BuildAllIndexes();
}

int32_t TOrvelIndexList::RecordAppended(int32_t record_no, int32_t current_index) {
  const bool maintain_all = ShouldMaintainAllIndexes();
  int32_t position = -1;
  TPageLock lock(records_, record_no);
  const uint8_t* image = records_.GetRecordPtr(record_no);
  for (int32_t i = 0; i < Count(); ++i) {
    TIndex& index = *indexes_[static_cast<size_t>(i)];
    // An array that does not hold every other record cannot take the new one in order.
    if (index.valid && (i == current_index || maintain_all) && index.Array().Count() == record_no) {
      const int32_t at = ExactPosition(i, image, record_no);
      index.Array().Insert(at, record_no);
      if (i == current_index) position = at;
    } else {
      index.valid = false;
    }
  }
  lock.Unlock();
  return position;
}

int32_t TOrvelIndexList::RecordUpdating(int32_t record_no, const uint8_t* old_image,
                                        const uint8_t* new_image, int32_t current_index) {
  const bool maintain_all = ShouldMaintainAllIndexes();
  const int32_t count = records_.RecordCount();
  int32_t position = -1;
  for (int32_t i = 0; i < Count(); ++i) {
    TIndex& index = *indexes_[static_cast<size_t>(i)];
    if (!index.valid || (i != current_index && !maintain_all) || index.Array().Count() != count) {
      index.valid = false;
      continue;
    }
    if (Comparer(i).CompareExact(old_image, new_image) == 0) {
      if (i == current_index) position = FindRecordPosition(i, record_no);
      continue;
    }
    const int32_t old_at = FindRecordPosition(i, record_no);
    if (old_at < 0) {
      // The array lost the record: sort it again when next needed.
      index.valid = false;
      continue;
    }
    const int32_t new_at = ExactPosition(i, new_image, count);
    if (new_at != old_at && new_at != old_at + 1)
      index.Array().Move(old_at, new_at > old_at ? new_at - 1 : new_at);
    if (i == current_index) position = new_at;
  }
  return position;
}

bool TOrvelIndexList::DeletesInRun(TIndex& index, int32_t count) {
  index.deletes_in_row = index.reads == index.reads_after_delete ? index.deletes_in_row + 1 : 1;
  if (index.delete_run.Active()) return true;
  // Starting and ending a run each pass over the whole array once: worth it only for a run
  // long enough to pay for that.
  const int32_t run_length = std::max(kDeleteRunMinimum, count / kDeleteRunShare);
  if (index.deletes_in_row < run_length) return false;
  if (index.delete_run.Start(index.array, count)) return true;
  // Not a permutation of the records: the searches will find the damage.
  index.deletes_in_row = 0;
  return false;
}

int32_t TOrvelIndexList::RecordDeleting(int32_t record_no, int32_t current_index) {
  const bool maintain_all = ShouldMaintainAllIndexes();
  const int32_t count = records_.RecordCount();
  const int32_t last = count - 1;
  const int32_t moved = record_no < last ? last : -1;
  std::vector<TDeleteChange>& changes = delete_changes_;
  changes.clear();
  // Every position is found before any array changes, so a failure leaves them all as they
  // were.
  for (int32_t i = 0; i < Count(); ++i) {
    TIndex& index = *indexes_[static_cast<size_t>(i)];
    if (!index.valid || (i != current_index && !maintain_all) || index.EntryCount() != count) {
      index.valid = false;
      continue;
    }
    const bool in_run = DeletesInRun(index, count);
    int32_t removed_at, moved_at = -1;
    if (in_run) {
      removed_at = index.delete_run.PositionOf(record_no);
      if (moved >= 0) moved_at = index.delete_run.PositionOf(moved);
    } else {
      removed_at = FindRecordPosition(i, record_no, count);
      if (removed_at >= 0 && moved >= 0) moved_at = FindRecordPosition(i, moved, count);
    }
    index.reads_after_delete = index.reads;
    if (removed_at < 0) {
      // A record that exists but is missing from the array means the array is damaged.
      if (record_no >= 0 && record_no < count) index.valid = false;
      Fail(fmt::format("TOrvelDataManager.mvDeleteRecord - invalid record Number, recPos = {}",
                       record_no));
    }
    if (moved >= 0 && moved_at < 0) {
      index.valid = false;
      Fail(
          fmt::format("TOrvelDataManager.mvDeleteRecord - invalid record Number, last = {}", last));
    }
    changes.push_back({i, removed_at, moved_at, in_run});
  }
  int32_t position = moved >= 0 ? -1 : 0;
  for (const TDeleteChange& change : changes) {
    TIndex& index = *indexes_[static_cast<size_t>(change.index_no)];
    if (change.in_run) {
      index.delete_run.Remove(record_no, moved);
    } else {
      TmvIntArray& array = index.Array();
      if (change.moved_at >= 0) array[change.moved_at] = record_no;
      array.Delete(change.removed_at);
      index.reads_after_delete = index.reads;
    }
    if (change.index_no == current_index && change.moved_at >= 0)
      position = change.moved_at > change.removed_at ? change.moved_at - 1 : change.moved_at;
  }
  return position;
}

void TOrvelIndexList::LoadIndexFile(bool read_only) {
  indexes_.clear();
  table_open_ = true;
  const TableHeaderType& table = table_.Header();
  const int32_t count = records_.RecordCount();
  TIndexFileContents contents =
      ReadIndexFile(IndexFile("LoadIndexFile"), table.Version,
                    static_cast<int32_t>(table_.Fields().size()), count, table.ChangeCounter);
  int32_t automatic = 0;
  for (const IndexHeaderType& header : contents.Indexes)
    if (header.IsAutomatic()) ++automatic;
  bool usable = contents.AllHeadersRead;
  for (size_t i = 0; usable && i < contents.Indexes.size(); ++i) {
    auto index = std::make_unique<TIndex>();
    index->header = std::move(contents.Indexes[i]);
    index->upper_name = AnsiUpperCase(index->header.Name);
    // Names must be usable to find and drop the index again.
    if (index->header.Name.empty() || IndexExists(index->header.Name)) {
      usable = false;
      break;
    }
    try {
      index->comparer =
          std::make_unique<TIndexKeyComparer>(index->header, table_.Fields(), table_.Geometry());
    } catch (const Exception&) {
      usable = false;
      break;
    }
    index->valid = true;
    if (contents.ArraysRead)
      index->Array().Assign(count > 0 ? std::move(contents.Arrays[i]) : std::vector<int32_t>());
    else
      index->Array().SetCount(count);
    indexes_.push_back(std::move(index));
  }
  if (usable) {
    if (!contents.ArraysRead) RebuildAllIndexes();
    return;
  }
  indexes_.clear();
  // Each automatic index is sorted as it is added, quietly, as a rebuild would.
  {
    TScopedFlag quiet(progress_suppressed_, true);
    CreateAutoIndexes(automatic > 1);
  }
  if (!read_only) SaveIndexFile();
}

void TOrvelIndexList::SaveIndexFile() {
  TAbstractFile& file = IndexFile("SaveIndexFile");
  const int32_t count = records_.RecordCount();
  std::vector<IndexHeaderType> headers;
  headers.reserve(indexes_.size());
  for (int32_t i = 0; i < Count(); ++i) {
    const TIndex& index = *indexes_[static_cast<size_t>(i)];
    if (count > 0 && !index.header.IsTemporary()) BuildIndex(i, false);
    headers.push_back(index.header);
  }
  WriteIndexFile(file, table_.Header().ChangeCounter, table_.Header().Version, headers, count,
                 [this](size_t i) { return indexes_[i]->Array().Items(); });
}

void TOrvelIndexList::CheckIndexFile() {
  if (ReadIndexFileChangeCounter(IndexFile("CheckIndexFile")) != table_.Header().ChangeCounter)
    SaveIndexFile();
}

}  // namespace orv
