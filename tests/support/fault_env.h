#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/env.h"

namespace orv::testing {

// What reached the file system through a FaultEnv.
struct IoCounts {
  int64_t opens = 0;
  int64_t reads = 0;
  int64_t writes = 0;
  int64_t truncates = 0;
  int64_t flushes = 0;
  int64_t size_queries = 0;
  int64_t others = 0;  // exists, delete, rename, folders, attributes, volume queries

  int64_t Syscalls() const {
    return opens + reads + writes + truncates + flushes + size_queries + others;
  }
};

// A file layer that misbehaves on request, in front of a real Env (normally Env::Default() on a
// TempDir). It counts every call, and can fail or shorten the n-th read or write, refuse to
// grow a file past a size (disk full), flip a byte at a file offset as it is read or written,
// refuse opens, and simulate a crash by dropping every change after the k-th write.
//
// File patterns: "" matches every file; otherwise a file whose path, or whose name without
// folder, equals the pattern. Faults act on files opened before or after they are set. The
// FaultEnv must outlive the files it opened. Thread-safe.
class FaultEnv : public EnvWrapper {
 public:
  explicit FaultEnv(Env* target = Env::Default());
  ~FaultEnv() override;

  // The nth matching read (or write) from now on, 1 being the next, fails with EIO and moves
  // nothing. Each fault fires once; several may be pending.
  void FailRead(int64_t nth, const std::string& file = {});
  void FailWrite(int64_t nth, const std::string& file = {});
  // The same, but the transfer moves at most bytes and reports that count.
  void ShortenRead(int64_t nth, int64_t bytes, const std::string& file = {});
  void ShortenWrite(int64_t nth, int64_t bytes, const std::string& file = {});
  // Disk full: writes and truncations that would make a matching file longer than max_size stop
  // there (a write that cannot move a byte fails with ENOSPC, a truncation fails).
  void LimitFileSize(int64_t max_size, const std::string& file = {});
  // The byte at offset of the file is XORed with mask whenever it is read (the file keeps its
  // byte) or written (the file gets the changed byte).
  void FlipByteOnRead(const std::string& file, int64_t offset, uint8_t mask = 0xFF);
  void FlipByteOnWrite(const std::string& file, int64_t offset, uint8_t mask = 0xFF);
  // Opening a matching file fails with EACCES.
  void FailOpen(const std::string& file);
  // Crash: the next k writes pass; after them every change to disk (writes, truncations,
  // deletes, renames, folders) reports success and is dropped. Opening with create after that
  // point opens an existing file without truncating it. Reads and sizes see the real files.
  void DropWritesAfter(int64_t k);
  bool Crashed() const;
  // Removes every pending fault and ends a simulated crash; counts stay.
  void ClearFaults();

  // Counts of the calls on matching files ("" every file).
  IoCounts Counts(const std::string& file = {}) const;
  void ResetCounts();

  std::unique_ptr<OsFile> Open(const std::string& path, const FileOpenOptions& options) override;
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  bool CreateDirectory(const std::string& path) override;
  bool RemoveDirectory(const std::string& path) override;
  bool ListDirectory(const std::string& path, std::vector<DirEntry>* entries) override;
  bool IsReadOnly(const std::string& path) override;
  bool SetReadOnly(const std::string& path, bool read_only) override;
  std::string FileSystemName(const std::string& path) override;
  int64_t FreeSpace(const std::string& path) override;
  int LastError() const override;

 private:
  friend class FaultFile;
  enum class Op { kRead, kWrite };
  struct TransferFault {
    Op op;
    std::string file;
    int64_t remaining;
    int64_t bytes;  // -1: fail
  };
  struct ByteFlip {
    Op op;
    std::string file;
    int64_t offset;
    uint8_t mask;
  };
  struct SizeLimit {
    std::string file;
    int64_t max_size;
  };

  static bool Matches(const std::string& pattern, const std::string& path);
  IoCounts& CountsOf(const std::string& path);
  // Under the lock: -1 no fault, -2 fail, else the byte limit of this transfer.
  int64_t TakeTransferFault(Op op, const std::string& path);
  int64_t SizeLimitOf(const std::string& path) const;
  // Under the lock: whether a change to disk must be dropped (counts the write when writing).
  bool DropChange(bool is_write);
  // Counts a call that is no transfer; one that changes the disk is dropped after a crash.
  bool PassOther(const std::string& path, bool changes, const std::function<bool()>& call);
  void Inject(int error);
  void ClearInjected();

  mutable std::mutex mutex_;
  std::map<std::string, IoCounts> counts_;
  std::vector<TransferFault> transfer_faults_;
  std::vector<ByteFlip> flips_;
  std::vector<SizeLimit> limits_;
  std::vector<std::string> failing_opens_;
  int64_t writes_before_crash_ = -1;  // -1: no crash pending
  bool crashed_ = false;
  int injected_error_ = 0;
};

}  // namespace orv::testing
