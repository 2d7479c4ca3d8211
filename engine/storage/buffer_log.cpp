#include "engine/storage/buffer_log.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "engine/storage/coarse_tick.h"
#include "platform/exception.h"
#include "platform/memory.h"

namespace orv {

namespace {

// Large enough that a flush of consecutive images rarely meets a block boundary.
constexpr size_t kChunkBytes = size_t(1) << 20;
constexpr size_t kKeptChunks = 4;
// More runs than this are worth one read and one write of the stretch they lie in.
constexpr size_t kScatteredRuns = 16;
constexpr int64_t kMaxSpanBytes = int64_t(64) << 20;
// About what one more file call costs, counted in bytes moved.
constexpr int64_t kBytesPerCall = int64_t(16) << 10;

}  // namespace

int32_t TmvBuffersArray::AddCopy(const uint8_t* data, int32_t size) {
  if (size < 0 || (size > 0 && data == nullptr))
    throw Exception(fmt::format("TmvBuffersArray.AddCopy - invalid buffer of {} bytes", size));
  const auto bytes = static_cast<size_t>(size);
  // Kept blocks are filled again in order before new ones are made.
  while (next_chunk_ < chunks_.size() &&
         chunks_[next_chunk_].capacity - chunks_[next_chunk_].used < bytes)
    ++next_chunk_;
  if (next_chunk_ == chunks_.size()) {
    TChunk chunk;
    chunk.capacity = std::max(kChunkBytes, bytes);
    chunk.bytes.reset(new uint8_t[chunk.capacity]);
    chunks_.push_back(std::move(chunk));
  }
  TChunk& chunk = chunks_[next_chunk_];
  uint8_t* target = chunk.bytes.get() + chunk.used;
  if (bytes > 0) std::memcpy(target, data, bytes);
  chunk.used += bytes;
  items_.push_back({target, size});
  total_bytes_ += size;
  return static_cast<int32_t>(items_.size() - 1);
}

int32_t TmvBuffersArray::AddTaken(std::vector<uint8_t> buffer) {
  if (buffer.size() > static_cast<size_t>(TAbstractFile::kMaxSize))
    throw Exception("TmvBuffersArray.AddTaken - buffer too large");
  taken_.push_back(std::move(buffer));
  const std::vector<uint8_t>& held = taken_.back();
  items_.push_back({held.data(), static_cast<int32_t>(held.size())});
  total_bytes_ += static_cast<int64_t>(held.size());
  return static_cast<int32_t>(items_.size() - 1);
}

void TmvBuffersArray::Clear() {
  items_.clear();
  taken_.clear();
  // A few blocks are kept for the next round of images (fresh memory costs a fault per page
  // on first use); the rest goes back.
  if (chunks_.size() > kKeptChunks) chunks_.resize(kKeptChunks);
  for (TChunk& chunk : chunks_) chunk.used = 0;
  next_chunk_ = 0;
  total_bytes_ = 0;
}

TmvBufferLogArray::TmvBufferLogArray(TAbstractFile* dat, int32_t data_offset, int32_t record_size,
                                     TAbstractFile* bdf, int32_t blob_block_size)
    : dat_(dat),
      bdf_(bdf),
      data_offset_(data_offset),
      record_size_(record_size),
      blob_block_size_(blob_block_size),
      byte_limit_(static_cast<int64_t>(
          std::min<uint64_t>(AvailablePhysicalMemory() / 20 + 1, uint64_t(INT64_MAX)))),
      tick_(CoarseTickCount) {
  if (data_offset < 0 || record_size <= 0)
    throw Exception(
        fmt::format("TmvBufferLogArray.Create - invalid geometry: data offset {}, record size {}",
                    data_offset, record_size));
}

void TmvBufferLogArray::SetFiles(TAbstractFile* dat, TAbstractFile* bdf) {
  dat_ = dat;
  bdf_ = bdf;
}

void TmvBufferLogArray::SetTickSource(std::function<uint32_t()> tick) {
  tick_ = tick ? std::move(tick) : std::function<uint32_t()>(CoarseTickCount);
}

void TmvBufferLogArray::AddToLog(int32_t record_no, const uint8_t* image) {
  if (record_no < 0 || image == nullptr)
    throw Exception(fmt::format("TmvBufferLogArray.AddToLog - invalid record {}", record_no));
  const int32_t buffer = buffers_.AddCopy(image, record_size_);
  entries_.push_back({tick_(), record_no, kKindRecord, buffer, 0, 0});
  const auto key = static_cast<size_t>(record_no);
  if (key >= newest_.size()) newest_.resize(std::max(key + 1, newest_.size() * 2), 0);
  newest_[key] = static_cast<int32_t>(entries_.size());
}

void TmvBufferLogArray::DropRecord(int32_t record_no) {
  if (record_no < 0 || static_cast<size_t>(record_no) >= newest_.size()) return;
  int32_t& newest = newest_[static_cast<size_t>(record_no)];
  if (newest == 0) return;
  entries_[static_cast<size_t>(newest - 1)].kind = kKindDropped;
  newest = 0;
}

void TmvBufferLogArray::AddToLog(std::vector<uint8_t> blocks, std::vector<BLOBPartType> parts) {
  if (blob_block_size_ <= 0)
    throw Exception("TmvBufferLogArray.AddToLog - the table has no BLOB blocks");
  int64_t blocks_asked = 0;
  for (const BLOBPartType& part : parts) {
    if (part.FirstBlock < 0 || part.BlockCount < 0)
      throw Exception(fmt::format("TmvBufferLogArray.AddToLog - invalid BLOB run {}, {}",
                                  part.FirstBlock, part.BlockCount));
    blocks_asked += part.BlockCount;
  }
  if (blocks_asked * blob_block_size_ > static_cast<int64_t>(blocks.size()))
    throw Exception(fmt::format(
        "TmvBufferLogArray.AddToLog - {} blocks of {} bytes asked from a buffer of {} bytes",
        blocks_asked, blob_block_size_, blocks.size()));
  const int32_t buffer = buffers_.AddTaken(std::move(blocks));
  const auto first_part = static_cast<int32_t>(parts_.size());
  parts_.insert(parts_.end(), parts.begin(), parts.end());
  entries_.push_back(
      {tick_(), -1, kKindBlobBlocks, buffer, first_part, static_cast<int32_t>(parts.size())});
}

bool TmvBufferLogArray::NeedsFlush() const {
  if (entries_.empty()) return false;
  const uint32_t age = tick_() - entries_.front().tick;
  return buffers_.TotalBytes() >= byte_limit_ || EntryCount() >= kEntryLimit || age > kAgeLimitMs;
}

bool TmvBufferLogArray::FlushIfNeeded() {
  if (!NeedsFlush()) return false;
  FlushBuffers();
  return true;
}

void TmvBufferLogArray::FlushBuffers() {
  if (entries_.empty()) return;
  // The two files are independent: each gets its entries in logged order.
  WriteRecordImages();
  int32_t bdf_position = -1;
  for (const TEntry& entry : entries_)
    if (entry.kind == kKindBlobBlocks) WriteBlobBlocks(entry, bdf_position);
  Clear();
  ++flush_count_;
}

void TmvBufferLogArray::WriteRecordImages() {
  // Images of consecutive numbers that lie one after the other in memory make one run.
  runs_.clear();
  int64_t logged_bytes = 0;
  for (size_t i = 0; i < entries_.size();) {
    const TEntry& entry = entries_[i];
    if (entry.kind != kKindRecord) {
      ++i;
      continue;
    }
    const uint8_t* data = buffers_.Data(entry.buffer);
    int64_t bytes = record_size_;
    size_t next = i + 1;
    while (next < entries_.size()) {
      const TEntry& follower = entries_[next];
      if (follower.kind != kKindRecord || follower.key != entries_[next - 1].key + 1 ||
          buffers_.Data(follower.buffer) != data + bytes ||
          bytes + record_size_ > TAbstractFile::kMaxSize)
        break;
      bytes += record_size_;
      ++next;
    }
    const int64_t position = int64_t(data_offset_) + int64_t(entry.key) * record_size_;
    if (position + bytes > TAbstractFile::kMaxSize)
      throw Exception(fmt::format(
          "TmvBufferLogArray.FlushBuffers - record {} lies beyond the largest table file",
          entry.key));
    runs_.push_back({position, data, bytes});
    logged_bytes += bytes;
    i = next;
  }
  if (runs_.empty()) return;
  if (dat_ == nullptr)
    throw Exception("TmvBufferLogArray.FlushBuffers - the table file is not open");
  if (stretch_patching_ && runs_.size() > kScatteredRuns && WriteSpan(logged_bytes)) return;
  int32_t position = dat_->GetPosition();
  for (const TRun& run : runs_) {
    if (run.position != position) dat_->SetPosition(static_cast<int32_t>(run.position));
    dat_->WriteBuffer(run.data, static_cast<int32_t>(run.bytes));
    position = static_cast<int32_t>(run.position + run.bytes);
  }
}

bool TmvBufferLogArray::WriteSpan(int64_t logged_bytes) {
  // Many scattered images: the stretch of the file they fall in is read once, the images laid
  // over it in logged order, and the stretch written back in one go, instead of one write per
  // image. Only where the stretch is not much larger than the images themselves.
  int64_t first = runs_.front().position, end = first;
  for (const TRun& run : runs_) {
    first = std::min(first, run.position);
    end = std::max(end, run.position + run.bytes);
  }
  const int64_t span = end - first;
  const int64_t worth = 4 * logged_bytes + int64_t(runs_.size()) * kBytesPerCall;
  if (span > worth || span > kMaxSpanBytes) return false;
  std::vector<uint8_t> stretch(static_cast<size_t>(span), 0);
  const int64_t stored = std::clamp<int64_t>(int64_t(dat_->GetSize()) - first, 0, span);
  if (stored > 0) {
    dat_->SetPosition(static_cast<int32_t>(first));
    dat_->ReadBuffer(stretch.data(), static_cast<int32_t>(stored));
  }
  for (const TRun& run : runs_)
    std::memcpy(stretch.data() + (run.position - first), run.data, static_cast<size_t>(run.bytes));
  if (dat_->GetPosition() != first) dat_->SetPosition(static_cast<int32_t>(first));
  dat_->WriteBuffer(stretch.data(), static_cast<int32_t>(span));
  return true;
}

void TmvBufferLogArray::WriteBlobBlocks(const TEntry& entry, int32_t& bdf_position) {
  if (bdf_ == nullptr)
    throw Exception("TmvBufferLogArray.FlushBuffers - the BLOB file is not open");
  if (bdf_position < 0) bdf_position = bdf_->GetPosition();
  const uint8_t* data = buffers_.Data(entry.buffer);
  for (int32_t p = 0; p < entry.part_count; ++p) {
    const BLOBPartType& part = parts_[static_cast<size_t>(entry.first_part + p)];
    const int64_t position = int64_t(part.FirstBlock) * blob_block_size_;
    const int64_t asked = int64_t(part.BlockCount) * blob_block_size_;
    if (position + asked > TAbstractFile::kMaxSize)
      throw Exception(fmt::format(
          "TmvBufferLogArray.FlushBuffers - BLOB block {} lies beyond the largest BLOB file",
          part.FirstBlock));
    if (position != bdf_position) bdf_->SetPosition(static_cast<int32_t>(position));
    const int32_t written = bdf_->Write(data, static_cast<int32_t>(asked));
    if (written != asked) {
      bdf_position = -1;
      throw Exception(fmt::format(
          "TmvBufferLogArray.FlushBuffers - error writing data to blob file, xx = {}, bc = {}",
          written, asked));
    }
    bdf_position = static_cast<int32_t>(position + asked);
    data += asked;
  }
}

void TmvBufferLogArray::Clear() {
  for (const TEntry& entry : entries_)
    if (entry.kind != kKindBlobBlocks) newest_[static_cast<size_t>(entry.key)] = 0;
  entries_.clear();
  parts_.clear();
  buffers_.Clear();
}

}  // namespace orv
