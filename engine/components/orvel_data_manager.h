#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/components/orvel_callbacks.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/flush_journal.h"
#include "engine/storage/record_source.h"
#include "engine/storage/records_page.h"
#include "engine/storage/table_files.h"

namespace orv {

class TFieldDefs;
class TIndexDefs;
class TOrvelDatabaseManager;
class TOrvelEngineDataset;
class TOrvelIndexList;
class TStream;
class TRecordFileReader;
class TmvBufferLogArray;
class TmvRecordsArray;

// LoadTable results.
inline constexpr int kLoadTableOpened = 0;
inline constexpr int kLoadTableMissing = -1;
inline constexpr int kLoadTableNoPassword = -2;
inline constexpr int kLoadTableWrongPassword = -3;
inline constexpr int kLoadTableFilesUnusable = -4;
inline constexpr int kLoadTableBlobHeadersUnreadable = -5;

// One open table, shared by every dataset of the process that opens it in the same database
// (mvGetDataManager). It owns the table's headers and files (TOrvelTableFiles, opened through the
// database manager in the table's store mode), the page cache, the write-behind log and the
// index list, and runs every operation inside its own re-entrant lock.
//
// Records are addressed by physical number 0 .. RecordCount() - 1. Numbers are dense: deleting a
// record moves the last one into its number. A change is applied to the cached image at once,
// reaches the indexes, and is logged; the log reaches the .dat when it is large or old enough
// (FlushIfNeeded, unless automatic flushing is off), on FlushBuffers and on CloseTable.
//
// The datasets' settings (store mode, read-only, password, cache, capacity hint, requested
// encryption and BLOB settings) are set before LoadTable or CreateTable.
class TOrvelDataManager : public TRecordSource,
                          public TRecordsPageOwner,
                          public TOrvelTableFileStore {
 public:
  // The database manager must outlive the data manager. mvGetDataManager makes the shared ones.
  TOrvelDataManager(std::string table_name, TOrvelDatabaseManager* database_manager);
  // Closes the table when it is open and leaves DataManagers() when it is listed there.
  ~TOrvelDataManager() override;
  TOrvelDataManager(const TOrvelDataManager&) = delete;
  TOrvelDataManager& operator=(const TOrvelDataManager&) = delete;

  // The manager's critical section, entered recursively by one thread with a nesting count.
  void Lock();
  void Unlock();
  int LockDepth() const { return lock_depth_; }

  const std::string& TableName() const { return table_.TableName(); }
  TOrvelDatabaseManager* DatabaseManager() const { return database_manager_; }
  TOrvelTableFiles& Table() { return table_; }
  const TOrvelTableFiles& Table() const { return table_; }
  TOrvelIndexList& Indexes() { return *indexes_; }
  // Nil while the table is closed.
  TmvRecordsArray* RecordsArray() { return records_.get(); }
  TmvBufferLogArray* BufferLog() { return log_.get(); }

  uint8_t StoreMode() const { return store_mode_; }
  void SetStoreMode(uint8_t store_mode) { store_mode_ = store_mode; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  // A file the file layer could only open read-only; datasets then become read-only.
  bool FilesOpenedReadOnly() const { return files_opened_read_only_; }
  const std::string& Password() const { return password_; }
  // At most 255 characters are kept, as the table password slot holds.
  void SetPassword(std::string password);
  bool CacheDisabled() const { return cache_disabled_; }
  // On an open table the page cache is set up again for the new value.
  void SetCacheDisabled(bool disabled);
  int32_t RecordCapacityHint() const { return capacity_hint_; }
  void SetRecordCapacityHint(int32_t hint) { capacity_hint_ = hint; }
  void SetRequestedEncrypted(bool encrypted) { requested_encrypted_ = encrypted; }
  void SetRequestedBlobCompression(uint8_t level) { requested_compression_ = level; }
  void SetRequestedBlobBlockSize(int32_t size) { requested_block_size_ = size; }
  int32_t RequestedBlobBlockSize() const { return requested_block_size_; }

  // Attaches a dataset: the LoadTable result for the first one (the dataset is then not
  // kept when it is not 0), 0 for later ones. Mode and password mismatches raise; a refused
  // dataset is not kept either.
  int ConnectDataset(TOrvelEngineDataset* dataset);
  // Detaches a dataset; the last one destroys the data manager, so the caller must not touch
  // it afterwards.
  void DisconnectDataset(TOrvelEngineDataset* dataset);
  // The store mode the connected datasets call for: 0, 3 (memory) or 4 (temporary files).
  uint8_t DetectFileStoreMode() const;
  int DatasetCount() const { return static_cast<int>(datasets_.size()); }
  const std::vector<TOrvelEngineDataset*>& Datasets() const { return datasets_; }

  // On a closed table, through the database manager in the table's store mode: the .bdf,
  // .bif, .idx and then the .dat. Files that are not there are skipped; one that cannot be
  // deleted, replaced or renamed raises, leaving the files handled before it done. The rename
  // takes the new name only when every file moved; another case of the same name just renames.
  void DeleteTable();
  void RenameTable(const std::string& new_name);
  // Flushes an open table and copies an in-memory table's files to the database's own store
  // (nothing to copy for a table that lives there).
  void SaveTable();
  // LoadTable runs it for formats below 2.199: adds the case-insensitive "@@" indexes of
  // string fields and rebuilds the indexes (below 2.099), rewrites old level-1 BLOB values, and
  // stores the table as format 4.49, which keeps the short headers its records lie behind.
  // Raises for a read-only table, for BLOBs below 1.249 and for a format whose record layout
  // differs from 4.49's.
  void ConvertToCurrentTable();

  // The table's BLOB values; nil while the table is closed or has no BLOB fields. field_no
  // counts the BLOB fields of a record (0 = the first BLOB field); record_no is physical. Every
  // record has its BLOB record: mvAppendRecord appends it (unless the caller already did through
  // BlobStore()->mvAddBLOBRecord) and mvDeleteRecord moves it with the record. A field or record
  // that is not there, a closed table or one without BLOB fields raise; writes and deletes also
  // raise on a read-only table. Values reach the .bdf and .bif at the next flush.
  TOrvelBlobStore* BlobStore() { return blobs_.get(); }
  bool HasBlobs() const { return table_.HasBlobs(); }
  void ReadBLOBValue(TStream& stream, int32_t field_no, int32_t record_no);
  void WriteBLOBValue(TStream& stream, int32_t field_no, int32_t record_no);
  void DeleteBLOBValue(int32_t field_no, int32_t record_no);

  bool IsOpen() const { return opened_; }
  bool FullyOpened() const { return fully_opened_; }

  // Creates the table's files from the definitions on a closed table and closes them again.
  // Raises the creation messages (names, sizes, types) before any file is touched.
  void CreateTable(const TFieldDefs& field_defs, const TIndexDefs& index_defs,
                   int32_t capacity_hint, bool auto_indexes);
  // Opens the table; kLoadTable* result, never raising for a missing, locked or damaged file
  // or a wrong password (at design time TablePasswordQuestion() is asked until the password
  // fits; a cancel gives kLoadTableNoPassword). A failing conversion of an old format raises.
  // BLOB records are brought to the record count, as a crash during a flush may leave them.
  // A complete TABLE.jrn left by a crash is replayed first (raising for a read-only table,
  // which must not open the stale files), an incomplete one removed.
  int LoadTable();
  // Flushes (a failure is reported to the close-error handler, not raised) and releases
  // everything. A table whose BLOB record count differs from its record count is released
  // without a flush and then raises.
  void CloseTable();
  // False when the .dat does not exist (and is not to be created).
  bool OpenFiles(bool create);
  void CloseFiles();
  // Back to a new, empty table of no fields.
  void InitTableHeader();

  // TRecordSource.
  int32_t RecordCount() const override { return table_.Header().RecordCount; }
  const uint8_t* GetRecordPtr(int32_t record_no) override;
  void LockRecordPage(int32_t record_no) override;
  void UnlockRecordPage(int32_t record_no) override;

  // The record operations. image is a record image of Table().Geometry().RecordSize bytes; the
  // result is a position in index current_index (see each). A record number outside the table
  // raises.
  //
  // -> position of the new record.
  int32_t mvAppendRecord(const uint8_t* image, int32_t current_index);
  // -> the insertion position found for the changed record, counted in the array that still
  // holds it.
  int32_t mvUpdateRecord(const uint8_t* image, int32_t current_index, int32_t record_no);
  // -> the position of the record moved into record_no (0 when record_no was the last).
  int32_t mvDeleteRecord(int32_t current_index, int32_t record_no);

  // Writes the log, the .bif and then the headers as needed; nothing when read-only or
  // unchanged since the last flush. A crash part way leaves appended records and BLOB values
  // out of the table, not half in it. A flush that overwrites what the stored headers still
  // describe (a record moved by a delete, BLOB blocks freed from a stored value) is written to
  // TABLE.jrn first, so that a crash leaves it wholly undone or replayable.
  void FlushBuffers();
  // Flushes the log when it has grown too large or old (and then the headers); only with
  // automatic flushing on, not read-only, not at design time. True when the log was written.
  bool FlushIfNeeded();
  bool AutoFlush() const { return auto_flush_; }
  // Turning it on runs FlushIfNeeded at once. The dataset layer turns it off while it posts a
  // record with its BLOB values.
  void SetAutoFlush(bool on);

  // Enciphers or deciphers an image in place with the table password (record_cipher.h).
  void ChangeBufferEncryption(uint8_t* image, bool encipher) const;
  // Whether the table password opens the table: an empty one never does; a table without
  // records (or not encrypted) takes any other; else record 0 must decipher to its CRC.
  bool CheckPassword();

  // TRecordsPageOwner: page loads.
  void ReadRecordImages(int32_t first, int32_t count, uint8_t* destination) override;

  // TOrvelTableFileStore over the database manager, in the table's store mode.
  TAbstractFile* OpenTableFile(const std::string& file_name, bool create) override;
  void ReleaseTableFile(TAbstractFile* file) override;
  bool TableFileExists(const std::string& file_name) override;

  // Where CloseTable reports a flush it could not do; the default writes to stderr. The
  // application puts a message box behind it.
  using TCloseErrorHandler = std::function<void(const std::string& message)>;
  static void SetCloseErrorHandler(TCloseErrorHandler handler);

 private:
  class TLockScope {
   public:
    explicit TLockScope(TOrvelDataManager& manager) : manager_(manager) { manager_.Lock(); }
    ~TLockScope() { manager_.Unlock(); }
    TLockScope(const TLockScope&) = delete;
    TLockScope& operator=(const TLockScope&) = delete;

   private:
    TOrvelDataManager& manager_;
  };

  static void ReportCloseError(const std::string& message);
  // Stands for the calling thread in owner_.
  static const void* ThisThread();
  bool HeldByThisThread() const { return owner_.load(std::memory_order_relaxed) == ThisThread(); }
  void CheckWritable(const char* operation) const;
  // Delete and rename work on the files of a closed table.
  void CheckClosed(const char* operation) const;

  bool FreesStoredBlocks(int32_t field, int32_t record_no) const;
  void CheckRecordNo(const char* operation, int32_t record_no) const;
  void CheckImage(const char* operation, const uint8_t* image) const;
  // The image as the log keeps it: a copy enciphered in scratch_ for an encrypted table.
  const uint8_t* StoredImage(const uint8_t* image);
  void RaiseLastRecordId(const uint8_t* image);
  void CreateRecordsArray();
  // LoadTable with an encrypted table: the password fits, or (design time) the user gave one
  // that does.
  int PasswordResult();
  void ReportIndexProgress(int percent_done, bool start, bool finish);
  void HandFilesOver();
  void SaveHeadersAndSize();
  // Runs a flush step with the .dat, .bif and .bdf standing in overlays when the flush could
  // tear the table (needs_journal_): what it wrote goes to the journal first, then to the
  // files. Otherwise it just runs the step.
  template <typename Step>
  void RunFlushStep(Step&& step);
  // Appends the changes to the journal (opening it for the first), then writes them to the
  // files, which are flushed only when the journal is retired.
  void ApplyThroughJournal(std::vector<TJournalChange>& changes);
  // Flushes the files and removes the journal; nothing without one.
  void RetireJournal();
  // Leaves the journal for the next LoadTable to replay.
  void CloseJournal();
  // The log, the .bif and the headers, whatever the automatic flushing (BLOB reads).
  void FlushLog();
  static constexpr int32_t kJournalRetireSize = 64 << 20;
  std::string JournalFileName() const { return table_.TableName() + kJournalExtension; }
  // LoadTable, before any header is read: replays a complete journal and removes it, removes
  // an incomplete one. False when a complete journal could not be replayed.
  bool RecoverJournal();
  // The .jrn first (a journal must never outlive the files it belongs to), then the rest in
  // removal order.
  std::vector<std::string> TableFileNames(const TOrvelTableFiles& table) const;
  void CutDataFile(bool only_when_longer);
  void ReleaseAll();

  // At design time the store and the files are opened for one operation and released after;
  // otherwise nothing happens.
  void AcquireFiles();
  void ReleaseFiles();

  // What the BLOB store needs of the manager, all reached under its lock.
  class TBlobContext : public TOrvelBlobStoreContext {
   public:
    explicit TBlobContext(TOrvelDataManager& manager) : manager_(manager) {}
    TmvBufferLogArray* BufferLog() override { return manager_.log_.get(); }
    const std::string& TablePassword() const override { return manager_.password_; }
    bool IsReadOnly() const override {
      return manager_.read_only_ || manager_.files_opened_read_only_;
    }
    void FlushIfNeeded() override { manager_.FlushIfNeeded(); }
    void FlushLog() override { manager_.FlushLog(); }
    void AcquireFiles() override { manager_.AcquireFiles(); }
    void ReleaseFiles() override { manager_.ReleaseFiles(); }

   private:
    TOrvelDataManager& manager_;
  };
  // A BLOB store for the table's fields as they are now, emptied to the requested block size.
  void CreateBlobStore();
  void LoadBlobHeaders();
  void SaveBlobHeaders();
  void FlushBlobFiles();
  // LoadTable: a BLOB record for every record and none beyond (a table cut short by a crash).
  void MatchBlobRecords();
  // The field header number of the BLOB field field_no, on an open table with BLOB fields.
  int32_t BlobField(const char* operation, int32_t field_no, int32_t record_no) const;

  TOrvelDatabaseManager* database_manager_;
  TOrvelTableFiles table_;
  std::unique_ptr<TOrvelIndexList> indexes_;
  std::unique_ptr<TmvRecordsArray> records_;
  std::unique_ptr<TmvBufferLogArray> log_;
  std::unique_ptr<TRecordFileReader> reader_;
  TBlobContext blob_context_{*this};
  std::unique_ptr<TOrvelBlobStore> blobs_;
  std::vector<TOrvelEngineDataset*> datasets_;

  uint8_t store_mode_ = 0;
  bool read_only_ = false;
  bool files_opened_read_only_ = false;
  std::string password_;
  bool cache_disabled_ = false;
  int32_t capacity_hint_ = 1000;
  bool requested_encrypted_ = false;
  uint8_t requested_compression_ = 0;
  int32_t requested_block_size_ = 512;

  bool opened_ = false;
  bool fully_opened_ = false;
  bool headers_loaded_ = false;
  bool auto_flush_ = true;
  // BLOB headers changed since the .bif was last written (a freed value logs nothing).
  bool blobs_changed_ = false;
  bool converting_ = false;
  // The next flush rewrites records moved by a delete or reuses freed BLOB blocks that the
  // stored .bif may still describe; such a flush goes through the journal.
  bool needs_journal_ = false;
  // The journal while it holds flushes whose files were not flushed yet (a burst of deletes
  // journals each of its flushes without flushing the files). A flush that needs no journal
  // retires it first, and so do FlushBuffers and a journal grown past kJournalRetireSize.
  TAbstractFile* journal_ = nullptr;
  bool journal_failed_ = false;
  // What a journaled flush writes, until it reached the files.
  TJournalByteStore journal_bytes_;
  std::vector<uint8_t> journal_scratch_;
  // The record count the files held at the last flush; BLOB values of records below it are
  // described by the stored .bif.
  int32_t flushed_record_count_ = 0;
  int32_t design_change_counter_ = 0;
  // Design time: nesting of AcquireFiles, and whether the outermost one opened the files.
  int acquire_depth_ = 0;
  bool acquired_files_ = false;

  // Enciphered copies for the log, and the image of a record moved by a delete.
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> moved_image_;

  // The current index build's progress, from IndexProgressFactory().
  TOrvelIndexProgress index_progress_;

  std::recursive_mutex mutex_;
  int lock_depth_ = 0;
  // The thread inside the lock, so that the record reads of its own operations (index
  // searches read many) need not enter it again.
  std::atomic<const void*> owner_{nullptr};
};

// The data manager of the table in the database manager's location (table names compared
// without case), created and registered when there is none. Raises "mvGetDataManager - nil
// pointer to DatabaseManager." for a nil database manager.
TOrvelDataManager* mvGetDataManager(const std::string& table_name,
                                    TOrvelDatabaseManager* database_manager);

}  // namespace orv
