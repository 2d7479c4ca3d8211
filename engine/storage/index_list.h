#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/engine_arrays.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_key.h"
#include "engine/storage/record_source.h"
#include "engine/storage/table_files.h"

namespace orv {

// The indexes of an open table. An index is an array of the table's physical record numbers
// sorted by its key (index_key.h); keys are read from the record images whenever two records
// are compared, never copied. The list order is: the identifier index, the automatic field
// indexes ("@" names), the declared indexes, then the temporary ones ("$" names, never saved).
// Index names are unique without regard to case.
//
// An index that is not valid is sorted again the next time it is needed. Record changes keep
// the valid ones in step through PrepareForChange / RecordAppended / RecordUpdating /
// RecordDeleting, which the data manager calls around its own record steps; on a small table
// a burst of changes updates only the current index (ShouldMaintainAllIndexes).
//
// The table gives field headers, geometry, identifier name, version, change counter and the
// .idx file object (table.File(tfkIndex)); records gives the images and the record count.
// Internal faults raise orv::Exception with the messages of TOrvelDataManager, whose part of
// the work this is; an unknown field in AddIndex is EOrvException 1067.
class TOrvelIndexList {
 public:
  // percent_done 0..100; start on the first call of a build, finish on the last.
  using TBuildProgress = std::function<void(int percent_done, bool start, bool finish)>;

  TOrvelIndexList(TOrvelTableFiles& table, TRecordSource& records);
  TOrvelIndexList(const TOrvelIndexList&) = delete;
  TOrvelIndexList& operator=(const TOrvelIndexList&) = delete;
  ~TOrvelIndexList();

  // The data manager fans the events out to its datasets.
  void SetBuildProgress(TBuildProgress progress);
  // On by default; the table component turns it off when the user adds an index.
  void SetProgressSuppressed(bool suppressed);
  bool ProgressSuppressed() const { return progress_suppressed_; }
  // Millisecond tick for the change throttle; default platform GetTickCount.
  void SetTickSource(std::function<uint32_t()> tick);

  // LoadIndexFile and CreateAutoIndexes open the list, Clear closes it; DeleteIndex refuses to
  // work on a closed table. The data manager may set it directly too.
  bool TableOpen() const { return table_open_; }
  void SetTableOpen(bool open) { table_open_ = open; }

  int32_t Count() const { return static_cast<int32_t>(indexes_.size()); }
  // index_no 0 .. Count() - 1; another number raises orv::Exception.
  const IndexHeaderType& Header(int32_t index_no) const;
  // Position -> physical record number; meaningful while the index is valid.
  const TmvIntArray& Array(int32_t index_no) const;
  bool IsValid(int32_t index_no) const;
  // The comparer of an index's own key order (no search switches).
  const TIndexKeyComparer& Comparer(int32_t index_no);
  // -1 when absent; names compare without case.
  int32_t IndexNo(std::string_view name) const;
  bool IndexExists(std::string_view name) const;

  // Field lists are names separated by "," or ";", blanks around names ignored. options is the
  // TIndexOptions byte (index_file.h): kIxDescending makes every field descending,
  // kIxCaseInsensitive every string field case-insensitive. Builds the index, then saves the
  // .idx unless do_not_save.
  void AddIndex(const std::string& name, const std::string& fields, bool do_not_save,
                const std::string& ci_fields, const std::string& desc_fields, uint8_t options);
  // Adds the header, then builds the array with progress. field_names, case_insensitive and
  // descending run in parallel, one entry per index field.
  void InternalAddIndex(const std::string& name, const std::vector<std::string>& field_names,
                        bool descending_all, bool case_insensitive_all, uint8_t options,
                        const std::vector<bool>& case_insensitive,
                        const std::vector<bool>& descending);
  // -> the position the index had in the list. The last index of a table is never removed.
  int32_t DeleteIndex(const std::string& name, bool do_not_save);
  // A not saved index under a new name "$_IDX_<random>", which it returns.
  std::string AddTemporaryIndex(const std::string& fields, const std::string& ci_fields,
                                const std::string& desc_fields);
  // The identifier index "@<identifier name>"; with all_fields also, for every field that is
  // not a BLOB or ftBytes, "@@<name>" (case-insensitive, string fields only) and "@<name>".
  void CreateAutoIndexes(bool all_fields);

  void BuildIndex(int32_t index_no, bool report_progress);
  // Every index that is not valid, without progress.
  void BuildAllIndexes();
  // Every index, with progress suppressed while it runs.
  void RebuildAllIndexes();
  void InvalidateAll();
  // Drops every index; the table is closed (CloseTable, InitTableHeader).
  void Clear();

  // Position at which image would be inserted among the first n entries of index_no, by the
  // halving binary search: an equal key met on the way gives that entry's position. image must
  // stay valid while the records are read (lock its page when it is a record's own image).
  int32_t FindInsertPosition(int32_t index_no, const uint8_t* image, int32_t n);
  // Position of record_no among the first count entries (-1: the record count), or -1 when it
  // is not there. Builds the index first when it is not valid.
  int32_t FindRecordPosition(int32_t index_no, int32_t record_no, int32_t count = -1);
  // False when a small table (10 records or fewer) sees its 101st change in a row less than
  // 1000 ms apart; the change is then kept in the current index only.
  bool ShouldMaintainAllIndexes();

  // The index halves of the record operations; current_index may be -1 for none, and the
  // position results are -1 when the current index is none or not valid.
  //
  // Before every record change: with more than 10 records, build every invalid index.
  void PrepareForChange();
  // After the image was appended as record_no (the record count already raised) -> its
  // position in the current index.
  int32_t RecordAppended(int32_t record_no, int32_t current_index);
  // Before the cached image old_image of record_no (its page locked by the caller) is
  // overwritten by new_image -> the insertion position found for new_image in the current
  // index, counted in the array that still holds the record.
  int32_t RecordUpdating(int32_t record_no, const uint8_t* old_image, const uint8_t* new_image,
                         int32_t current_index);
  // Before the record count is lowered; the last record (count - 1) moves into record_no ->
  // the position in the current index of the moved record after the removal (0 when
  // record_no was the last).
  int32_t RecordDeleting(int32_t record_no, int32_t current_index);

  // When the table opens: reads the .idx. Unreadable headers are replaced by the automatic
  // indexes (declared ones are lost) and the file rewritten unless read_only; arrays of an
  // older change counter, or short ones, are sorted again.
  void LoadIndexFile(bool read_only);
  // Rewrites the .idx with every non-temporary index, building those that are not valid.
  void SaveIndexFile();
  // At flush and close: SaveIndexFile when the .idx holds another change counter.
  void CheckIndexFile();

  // How many sorts BuildIndex has run since the list was made; a table that opens from a clean
  // .idx sorts nothing.
  int64_t SortCount() const { return sort_count_; }

 private:
  struct TIndex;

  TIndex& At(int32_t index_no, const char* operation);
  const TIndex& At(int32_t index_no, const char* operation) const;
  TAbstractFile& IndexFile(const char* operation) const;
  void Notify(int percent_done, bool start, bool finish) const;
  bool Reporting(bool report_progress) const;
  void AddAutoIndex(const std::string& name, int32_t field_no, uint8_t options);
  bool NameFits(const std::string& name) const;
  // Where image lies among the first n entries of a valid index in the exact order (key, then
  // identifier; TIndexKeyComparer::CompareExact): the first entry not before it.
  int32_t ExactPosition(int32_t index_no, const uint8_t* image, int32_t n);
  // The same within positions first .. last (the answer may be last).
  int32_t ExactPositionIn(int32_t index_no, const uint8_t* image, int32_t first, int32_t last);
  // The same, searching outward from position hint first.
  int32_t ExactPositionNear(int32_t index_no, const uint8_t* image, int32_t n, int32_t hint);
  // Counts the delete in its index's row of deletes; true when it is to be done in the run
  // kept aside (index_delete_run.h), which it starts once the row is long enough.
  bool DeletesInRun(TIndex& index, int32_t count);

  static constexpr int32_t kDeleteRunMinimum = 16;
  static constexpr int32_t kDeleteRunShare = 1024;  // of the record count

  TOrvelTableFiles& table_;
  TRecordSource& records_;
  std::vector<std::unique_ptr<TIndex>> indexes_;
  TBuildProgress progress_;
  bool progress_suppressed_ = true;
  bool table_open_ = false;
  std::function<uint32_t()> tick_;
  bool have_last_change_ = false;
  uint32_t last_change_tick_ = 0;
  int32_t burst_changes_ = 0;
  int64_t sort_count_ = 0;
  // RecordDeleting's positions, kept between calls to spare an allocation per delete.
  struct TDeleteChange {
    int32_t index_no, removed_at, moved_at;
    bool in_run;
  };
  std::vector<TDeleteChange> delete_changes_;
};

}  // namespace orv
