#include "engine/storage/flush_journal.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <span>

#include "engine/files/little_endian.h"
#include "engine/protect/checksum.h"
#include "platform/exception.h"

namespace orv {

// The redo journal TABLE.jrn, written before a flush that could otherwise tear a table (a
// record moved into a deleted one's number, BLOB blocks reused that the stored .bif still
// points at). Each such flush appends a segment, flushed to the device before the flush
// touches the files; the journal is removed once the files themselves were flushed, so a burst
// of deletes pays for that once and not at every flush in it. All numbers little-endian.
//
//   segment  8  magic "ORVJRNL\x1a"
//            4  version (2)
//            2  table name length n (<= 255), then n bytes of the name (code page 1251)
//            4  length of the entries that follow
//   entry    1  file kind: 0 .dat, 2 .bif, 3 .bdf (the .idx is never journaled)
//            1  operation: 0 write, 1 cut
//            4  offset (write) or new size (cut), 0 .. 2^31 - 1
//            4  length of the bytes that follow (write; 0 for a cut); offset + length must
//               stay within 2^31 - 1, and the bytes must lie inside the entries
//   trailer  4  entry count
//            4  CRC-32 of every byte of the segment before it, the entry count included
//            4  end magic "JEND"
//
// Segments follow one another. A segment without its whole trailer, or whose trailer
// disagrees, was never complete and nothing of it was applied: it and what follows are
// dropped, the complete ones before it replayed in order. A version 1 journal is one segment
// without the entries length, its trailer at the end of the file. The name is kept for
// diagnostics only, since a renamed table carries its journal along.

namespace {

constexpr char kMagic[8] = {'O', 'R', 'V', 'J', 'R', 'N', 'L', '\x1a'};
constexpr char kEndMagic[4] = {'J', 'E', 'N', 'D'};
constexpr uint32_t kVersion = 2;
constexpr uint32_t kSingleSegmentVersion = 1;
constexpr int32_t kTrailerSize = 12;
constexpr int32_t kEntryHeadSize = 10;
constexpr uint8_t kOpWrite = 0;
constexpr uint8_t kOpCut = 1;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  out.resize(out.size() + 4);
  StoreU32(out.data() + out.size() - 4, value);
}

bool JournaledKind(int kind) {
  return kind == tfkData || kind == tfkBlobIndex || kind == tfkBlobData;
}

// Sequential reads of the journal within its checked size, with the running CRC.
class TJournalReader {
 public:
  TJournalReader(TAbstractFile& file, int32_t end) : file_(file), end_(end) {}
  int32_t Left() const { return end_ - position_; }
  int32_t Taken() const { return position_; }
  bool Take(void* target, int32_t count) {
    if (count < 0 || count > Left()) return false;
    if (count > 0 && file_.Read(target, count) != count) return false;
    crc_ = Crc32(target, static_cast<size_t>(count), crc_);
    position_ += count;
    return true;
  }
  uint32_t Crc() const { return crc_; }

 private:
  TAbstractFile& file_;
  int32_t end_;
  int32_t position_ = 0;
  uint32_t crc_ = 0;
};

}  // namespace

uint8_t* TJournalByteStore::Take(size_t count) {
  while (current_ < blocks_.size() && blocks_[current_].capacity - blocks_[current_].used < count)
    ++current_;
  if (current_ == blocks_.size()) {
    TBlock block;
    block.capacity = std::max(kBlockSize, count);
    block.bytes.reset(new uint8_t[block.capacity]);
    blocks_.push_back(std::move(block));
  }
  TBlock& block = blocks_[current_];
  uint8_t* room = block.bytes.get() + block.used;
  block.used += count;
  return room;
}

uint8_t* TJournalByteStore::Extend(const uint8_t* end, size_t count) {
  if (current_ >= blocks_.size()) return nullptr;
  TBlock& block = blocks_[current_];
  if (end != block.bytes.get() + block.used || block.capacity - block.used < count) return nullptr;
  block.used += count;
  return block.bytes.get() + block.used - count;
}

void TJournalByteStore::Reset() {
  if (blocks_.size() > kKeptBlocks) blocks_.resize(kKeptBlocks);
  for (TBlock& block : blocks_) block.used = 0;
  current_ = 0;
}

TJournalOverlayFile::TJournalOverlayFile(TAbstractFile& base, TTableFileKind kind,
                                         std::vector<TJournalChange>& changes,
                                         TJournalByteStore* store)
    : TAbstractFile(base.Owner(), base.FileName()),
      base_(base),
      kind_(kind),
      changes_(changes),
      store_(store),
      base_size_(base.GetSize()),
      size_(base_size_) {
  for (const TJournalChange& change : changes_)
    if (change.kind == kind_)
      size_ = change.cut ? change.offset
                         : std::max<int32_t>(size_, change.offset + int32_t(change.Size()));
}

void TJournalOverlayFile::SetSize(int32_t size) {
  if (size < 0) throw Exception(fmt::format("Invalid size {} for \"{}\"", size, FileName()));
  changes_.push_back({kind_, true, size, {}});
  size_ = size;
  position_ = std::min(position_, size_);
}

int32_t TJournalOverlayFile::Seek(int32_t offset, int origin) {
  const int32_t target = SeekTarget(position_, size_, offset, origin);
  if (target >= 0) position_ = target;
  return target;
}

int32_t TJournalOverlayFile::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const int32_t first = position_;
  const int32_t bytes = std::min(count, size_ - first);
  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, static_cast<size_t>(bytes));
  // What the real file holds, then every change of this file in order on top.
  int32_t valid = base_size_;
  const int32_t stored = std::clamp(base_size_ - first, 0, bytes);
  if (stored > 0) {
    if (base_.Seek(first, kFromBeginning) != first) return 0;
    if (base_.Read(out, stored) != stored) return 0;
  }
  const int64_t end = int64_t(first) + bytes;
  for (const TJournalChange& change : changes_) {
    if (change.kind != kind_) continue;
    if (change.cut) {
      if (change.offset < valid && change.offset < end) {
        const int64_t from = std::max<int64_t>(change.offset, first);
        std::memset(out + (from - first), 0, static_cast<size_t>(end - from));
      }
      valid = change.offset;
      continue;
    }
    const int64_t from = std::max<int64_t>(change.offset, first);
    const int64_t to = std::min<int64_t>(change.offset + int64_t(change.Size()), end);
    if (from < to)
      std::memcpy(out + (from - first), change.Data() + (from - change.offset),
                  static_cast<size_t>(to - from));
    valid = std::max<int32_t>(valid, change.offset + int32_t(change.Size()));
  }
  position_ += bytes;
  return bytes;
}

int32_t TJournalOverlayFile::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  if (int64_t(position_) + count > kMaxSize) return 0;
  const auto* data = static_cast<const uint8_t*>(buffer);
  const auto bytes = static_cast<size_t>(count);
  // Writes that continue the previous one grow it, so a run of records stays one entry.
  TJournalChange* last = changes_.empty() ? nullptr : &changes_.back();
  if (last != nullptr && last->kind == kind_ && !last->cut &&
      int64_t(last->offset) + last->Size() == position_) {
    if (last->stored == nullptr) {
      last->bytes.insert(last->bytes.end(), data, data + count);
    } else if (uint8_t* room = store_->Extend(last->stored + last->stored_size, bytes)) {
      std::memcpy(room, data, bytes);
      last->stored_size += count;
    } else {
      const auto had = static_cast<size_t>(last->stored_size);
      uint8_t* moved = store_->Take(had + bytes);
      std::memcpy(moved, last->stored, had);
      std::memcpy(moved + had, data, bytes);
      last->stored = moved;
      last->stored_size += count;
    }
  } else if (store_ != nullptr) {
    uint8_t* room = store_->Take(bytes);
    std::memcpy(room, data, bytes);
    changes_.push_back({kind_, false, position_, {}, room, count});
  } else {
    changes_.push_back({kind_, false, position_, std::vector<uint8_t>(data, data + count)});
  }
  position_ += count;
  size_ = std::max(size_, position_);
  return count;
}

void AppendFlushJournal(TAbstractFile& file, const std::string& table_name,
                        const std::vector<TJournalChange>& changes, std::vector<uint8_t>* scratch) {
  if (table_name.size() > kJournalMaxNameLength)
    throw Exception(fmt::format("Table name \"{}\" too long for a journal", table_name));
  int64_t entries = 0;
  for (const TJournalChange& change : changes) {
    if (!JournaledKind(change.kind))
      throw Exception(fmt::format("File kind {} cannot be journaled", int(change.kind)));
    entries += kEntryHeadSize + int64_t(change.Size());
  }
  const int32_t start = file.GetSize();
  const int64_t head = int64_t(sizeof(kMagic)) + 4 + 2 + int64_t(table_name.size()) + 4;
  if (start + head + entries + kTrailerSize > TAbstractFile::kMaxSize)
    throw Exception("The flush is too large for its journal");
  // Entries are gathered and written in large pieces: a flush of moved records has thousands
  // of small ones.
  constexpr size_t kPiece = 1 << 20;
  std::vector<uint8_t> local;
  std::vector<uint8_t>& out = scratch != nullptr ? *scratch : local;
  out.clear();
  out.reserve(2 * kPiece);
  out.insert(out.end(), kMagic, kMagic + sizeof(kMagic));
  Put32(out, kVersion);
  out.push_back(static_cast<uint8_t>(table_name.size()));
  out.push_back(0);
  out.insert(out.end(), table_name.begin(), table_name.end());
  Put32(out, static_cast<uint32_t>(entries));
  file.SetPosition(start);
  uint32_t crc = 0;
  auto write_out = [&] {
    crc = Crc32(out.data(), out.size(), crc);
    file.WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
    out.clear();
  };
  for (const TJournalChange& change : changes) {
    out.push_back(static_cast<uint8_t>(change.kind));
    out.push_back(change.cut ? kOpCut : kOpWrite);
    Put32(out, static_cast<uint32_t>(change.offset));
    Put32(out, static_cast<uint32_t>(change.Size()));
    if (change.Size() >= kPiece) {
      write_out();
      crc = Crc32(change.Data(), change.Size(), crc);
      file.WriteBuffer(change.Data(), static_cast<int32_t>(change.Size()));
    } else {
      out.insert(out.end(), change.Data(), change.Data() + change.Size());
      if (out.size() >= kPiece) write_out();
    }
  }
  Put32(out, static_cast<uint32_t>(changes.size()));
  crc = Crc32(out.data(), out.size(), crc);
  Put32(out, crc);
  out.insert(out.end(), kEndMagic, kEndMagic + sizeof(kEndMagic));
  file.WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
  file.Flush();
}

void WriteFlushJournal(TAbstractFile& file, const std::string& table_name,
                       const std::vector<TJournalChange>& changes, std::vector<uint8_t>* scratch) {
  file.SetSize(0);
  AppendFlushJournal(file, table_name, changes, scratch);
}

namespace {

// The segment at the file's position, its changes added to changes; false, adding nothing,
// when it is incomplete or damaged.
bool ReadSegment(TAbstractFile& file, int32_t file_size, std::string& table_name,
                 std::vector<TJournalChange>& changes) {
  constexpr int32_t kHeadSize = int32_t(sizeof(kMagic)) + 4 + 2;
  const int32_t start = file.GetPosition();
  if (start < 0 || file_size - start < kHeadSize + kTrailerSize) return false;
  TJournalReader reader(file, file_size - start);
  uint8_t head[kHeadSize];
  if (!reader.Take(head, kHeadSize) || std::memcmp(head, kMagic, sizeof(kMagic)) != 0) return false;
  const uint32_t version = LoadU32(head + 8);
  if (version != kVersion && (version != kSingleSegmentVersion || start != 0)) return false;
  const int32_t name_length = head[12] | head[13] << 8;
  if (name_length > int32_t(kJournalMaxNameLength)) return false;
  std::string name(static_cast<size_t>(name_length), '\0');
  if (!reader.Take(name.data(), name_length)) return false;
  // Where the trailer starts, counted from the segment's start.
  int64_t entries_end = int64_t(file_size - start) - kTrailerSize;
  if (version == kVersion) {
    uint8_t length[4];
    if (!reader.Take(length, 4)) return false;
    entries_end = int64_t(reader.Taken()) + LoadU32(length);
    if (entries_end + kTrailerSize > int64_t(file_size - start)) return false;
  }
  std::vector<TJournalChange> read;
  // Each entry takes at least its head from the segment, so the loop ends within its size.
  while (reader.Taken() < entries_end) {
    uint8_t entry[kEntryHeadSize];
    if (entries_end - reader.Taken() < kEntryHeadSize || !reader.Take(entry, kEntryHeadSize))
      return false;
    const uint8_t kind = entry[0], op = entry[1];
    const uint32_t offset = LoadU32(entry + 2), length = LoadU32(entry + 6);
    if (!JournaledKind(kind) || (op != kOpWrite && op != kOpCut)) return false;
    if (offset > uint32_t(TAbstractFile::kMaxSize) ||
        length > uint32_t(TAbstractFile::kMaxSize) - offset)
      return false;
    if (op == kOpCut && length != 0) return false;
    if (int64_t(length) > entries_end - reader.Taken()) return false;
    TJournalChange change;
    change.kind = static_cast<TTableFileKind>(kind);
    change.cut = op == kOpCut;
    change.offset = static_cast<int32_t>(offset);
    change.bytes.resize(length);
    if (!reader.Take(change.bytes.data(), static_cast<int32_t>(length))) return false;
    read.push_back(std::move(change));
  }
  uint8_t trailer[kTrailerSize];
  if (file.Read(trailer, kTrailerSize) != kTrailerSize) return false;
  const uint32_t crc = Crc32(trailer, 4, reader.Crc());
  if (LoadU32(trailer) != read.size() || LoadU32(trailer + 4) != crc ||
      std::memcmp(trailer + 8, kEndMagic, sizeof(kEndMagic)) != 0)
    return false;
  table_name = std::move(name);
  changes.insert(changes.end(), std::make_move_iterator(read.begin()),
                 std::make_move_iterator(read.end()));
  return true;
}

}  // namespace

bool ReadFlushJournal(TAbstractFile& file, std::string& table_name,
                      std::vector<TJournalChange>& changes) {
  changes.clear();
  table_name.clear();
  const int32_t size = file.GetSize();
  if (file.Seek(0, TAbstractFile::kFromBeginning) != 0) return false;
  int32_t segments = 0;
  while (file.GetPosition() < size && ReadSegment(file, size, table_name, changes)) ++segments;
  return segments > 0;
}

namespace {

constexpr size_t kPatchedWrites = 32;
// Unchanged bytes between two writes that are cheaper to read and write back than a write
// call of its own.
constexpr int64_t kJoinedGap = 4096;
constexpr int64_t kWindowSize = 1 << 20;

struct TCluster {
  int64_t low, high;
  std::vector<size_t> members;  // indexes into the writes, in journal order
};

// Writes sorted by offset, joined where less than kJoinedGap lies between them. Clusters do
// not overlap, so only the order within one matters.
std::vector<TCluster> Clusters(std::span<const TJournalChange> writes) {
  // Offsets first, so that sorting compares integers in a row; the order among equal offsets
  // does not matter, as each cluster is put back in journal order.
  std::vector<std::pair<int32_t, size_t>> order(writes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = {writes[i].offset, i};
  std::sort(order.begin(), order.end());
  std::vector<TCluster> clusters;
  for (const auto& [offset, i] : order) {
    const int64_t low = writes[i].offset;
    const int64_t high = low + int64_t(writes[i].Size());
    if (clusters.empty() || low > clusters.back().high + kJoinedGap)
      clusters.push_back({low, high, {}});
    TCluster& cluster = clusters.back();
    cluster.high = std::max(cluster.high, high);
    cluster.members.push_back(i);
  }
  for (TCluster& cluster : clusters) std::sort(cluster.members.begin(), cluster.members.end());
  return clusters;
}

void WriteEach(TAbstractFile& file, std::span<const TJournalChange> writes,
               const std::vector<size_t>& members) {
  for (const size_t i : members) {
    if (writes[i].Size() == 0) continue;
    file.SetPosition(writes[i].offset);
    file.WriteBuffer(writes[i].Data(), static_cast<int32_t>(writes[i].Size()));
  }
}

// Many scattered writes close together (as a journaled flush of moved records makes) are laid
// in order over the stretch they fall in, a window at a time read once and written back
// whole; the bytes that reach the file are the same as one write each.
void ApplyWrites(TAbstractFile& file, std::span<const TJournalChange> writes,
                 std::vector<uint8_t>& scratch) {
  if (writes.size() < kPatchedWrites) {
    std::vector<size_t> all(writes.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    return WriteEach(file, writes, all);
  }
  uint8_t* window = nullptr;
  const int64_t file_size = file.GetSize();
  for (const TCluster& cluster : Clusters(writes)) {
    if (cluster.members.size() < kPatchedWrites) {
      WriteEach(file, writes, cluster.members);
      continue;
    }
    if (window == nullptr) {
      if (scratch.size() < size_t(kWindowSize)) scratch.resize(size_t(kWindowSize));
      window = scratch.data();
    }
    for (int64_t low = cluster.low; low < cluster.high; low += kWindowSize) {
      const int64_t high = std::min(low + kWindowSize, cluster.high);
      const int64_t stored = std::clamp<int64_t>(file_size - low, 0, high - low);
      if (stored > 0) {
        file.SetPosition(static_cast<int32_t>(low));
        file.ReadBuffer(window, static_cast<int32_t>(stored));
      }
      std::memset(window + stored, 0, static_cast<size_t>(high - low - stored));
      for (const size_t i : cluster.members) {
        const TJournalChange& change = writes[i];
        const int64_t from = std::max<int64_t>(change.offset, low);
        const int64_t to = std::min<int64_t>(change.offset + int64_t(change.Size()), high);
        if (from < to)
          std::memcpy(window + (from - low), change.Data() + (from - change.offset),
                      static_cast<size_t>(to - from));
      }
      file.SetPosition(static_cast<int32_t>(low));
      file.WriteBuffer(window, static_cast<int32_t>(high - low));
    }
  }
}

}  // namespace

void ApplyJournalChanges(const std::vector<TJournalChange>& changes,
                         TAbstractFile* const (&files)[kTableFileKindCount], bool flush_files,
                         std::vector<uint8_t>* scratch) {
  std::vector<uint8_t> local;
  std::vector<uint8_t>& window = scratch != nullptr ? *scratch : local;
  bool touched[kTableFileKindCount] = {};
  for (size_t i = 0; i < changes.size();) {
    const TJournalChange& change = changes[i];
    TAbstractFile* file = JournaledKind(change.kind) ? files[change.kind] : nullptr;
    if (file == nullptr)
      throw Exception(
          fmt::format("The journal changes {} which is not open", TableFileExtension(change.kind)));
    touched[change.kind] = true;
    if (change.cut) {
      file->SetSize(change.offset);
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < changes.size() && changes[end].kind == change.kind && !changes[end].cut) ++end;
    ApplyWrites(*file, std::span(changes).subspan(i, end - i), window);
    i = end;
  }
  if (!flush_files) return;
  for (int kind = 0; kind < kTableFileKindCount; ++kind)
    if (touched[kind]) files[kind]->Flush();
}

}  // namespace orv
