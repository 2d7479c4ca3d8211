#include "engine/storage/index_file.h"

#include <fmt/format.h>

#include <algorithm>

#include "engine/storage/stored_bytes.h"
#include "platform/exception.h"

namespace orv {

namespace {

// Versions up to this one wrote no options byte.
constexpr double kNoOptionsVersion = 2.199;
constexpr int32_t kArrayChunk = 16384;

int BitBytes(int64_t k) {
  return static_cast<int>((k + 7) / 8);
}

int NameCapacity(double version) {
  return IsLongLayout(version) ? kLongNameCapacity : kShortNameCapacity;
}

bool HasOptions(double version) {
  return version > kNoOptionsVersion;
}

bool ReadIndexHeader(TBoundedFileReader& in, double version, int32_t table_field_count,
                     IndexHeaderType& index) {
  const int capacity = NameCapacity(version);
  uint8_t name[kLongNameCapacity + 1];
  uint8_t word[4];
  if (!in.Read(name, ShortStringSlotSize(capacity)) ||
      !LoadShortString(name, capacity, index.Name) || !in.Read(word, 4))
    return false;
  const int64_t k = LoadI32(word);
  const int64_t fields_plus_one = int64_t(table_field_count) + 1;
  if (k < 1 || k > 10 * fields_plus_one * fields_plus_one) return false;
  const int bit_bytes = BitBytes(k);
  const int tail = 2 + (HasOptions(version) ? 1 : 0);
  // All of the header must be there before anything is sized from k.
  if (in.Left() < 4 * k + 2 * bit_bytes + tail) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(4 * k + 2 * bit_bytes + tail));
  in.Read(bytes.data(), static_cast<int64_t>(bytes.size()));
  index.FieldNumbers.resize(static_cast<size_t>(k));
  for (int64_t j = 0; j < k; ++j) {
    const int32_t field_no = LoadI32(bytes.data() + 4 * j);
    // Any other number would index past the field headers when keys are compared.
    if (field_no < kIdentifierFieldNo || field_no >= table_field_count) return false;
    index.FieldNumbers[j] = field_no;
  }
  const uint8_t* p = bytes.data() + 4 * k;
  index.AscendingBits.assign(p, p + bit_bytes);
  index.CaseInsensitiveBits.assign(p + bit_bytes, p + 2 * bit_bytes);
  p += 2 * bit_bytes;
  index.CaseInsensitiveAll = p[0] != 0;
  index.DescendingAll = p[1] != 0;
  index.Options = HasOptions(version) ? p[2] : 0;
  return true;
}

// False when the array is short or is not a permutation of 0 .. record_count - 1.
bool ReadIndexArray(TBoundedFileReader& in, int32_t record_count, std::vector<uint8_t>& seen,
                    std::vector<int32_t>& array) {
  if (in.Left() < int64_t(record_count) * 4) return false;
  array.resize(static_cast<size_t>(record_count));
  std::fill(seen.begin(), seen.end(), 0);
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min(record_count, kArrayChunk)) * 4);
  for (int32_t done = 0; done < record_count;) {
    const int32_t n = std::min(record_count - done, kArrayChunk);
    in.Read(chunk.data(), int64_t(n) * 4);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t record_no = LoadI32(chunk.data() + 4 * i);
      if (record_no < 0 || record_no >= record_count || seen[record_no]) return false;
      seen[record_no] = 1;
      array[done + i] = record_no;
    }
    done += n;
  }
  return true;
}

}  // namespace

IndexHeaderType::IndexHeaderType(std::string name, std::vector<int32_t> field_numbers)
    : Name(std::move(name)),
      FieldNumbers(std::move(field_numbers)),
      AscendingBits(BitBytes(static_cast<int64_t>(FieldNumbers.size())), 0xFF),
      CaseInsensitiveBits(BitBytes(static_cast<int64_t>(FieldNumbers.size())), 0) {}

TIndexFileContents ReadIndexFile(TAbstractFile& file, double table_version,
                                 int32_t table_field_count, int32_t record_count,
                                 int32_t change_counter) {
  TIndexFileContents contents;
  TBoundedFileReader in(file);
  uint8_t bytes[kIndexFileHeaderSize];
  if (!in.Read(bytes, kIndexFileHeaderSize)) return contents;
  contents.HasHeader = true;
  contents.Header.ChangeCounter = LoadI32(bytes);
  contents.Header.IndexCount = LoadI32(bytes + 4);
  contents.Header.Version = LoadF64(bytes + 8);
  if (contents.Header.IndexCount <= 0) return contents;
  // The count is not trusted for sizing: a damaged one ends at the first header that fails.
  for (int32_t i = 0; i < contents.Header.IndexCount; ++i) {
    IndexHeaderType index;
    if (!ReadIndexHeader(in, table_version, table_field_count, index)) return contents;
    contents.Indexes.push_back(std::move(index));
  }
  contents.AllHeadersRead = true;
  if (contents.Header.ChangeCounter != change_counter || record_count < 0) return contents;
  std::vector<std::vector<int32_t>> arrays(contents.Indexes.size());
  if (record_count > 0) {
    if (in.Left() < int64_t(record_count) * 4) return contents;
    std::vector<uint8_t> seen(static_cast<size_t>(record_count));
    for (std::vector<int32_t>& array : arrays)
      if (!ReadIndexArray(in, record_count, seen, array)) return contents;
  }
  contents.Arrays = std::move(arrays);
  contents.ArraysRead = true;
  return contents;
}

int32_t ReadIndexFileChangeCounter(TAbstractFile& file) {
  TBoundedFileReader in(file);
  uint8_t bytes[kIndexFileHeaderSize];
  if (!in.Read(bytes, kIndexFileHeaderSize)) return -1;
  return LoadI32(bytes);
}

void WriteIndexFile(TAbstractFile& file, int32_t change_counter, double table_version,
                    std::span<const IndexHeaderType> indexes, int32_t record_count,
                    const TIndexArrayOf& array_of) {
  const int capacity = NameCapacity(table_version);
  const bool options = HasOptions(table_version);
  std::vector<uint8_t> head(kIndexFileHeaderSize);
  std::vector<std::span<const int32_t>> arrays;
  int32_t written = 0;
  for (size_t i = 0; i < indexes.size(); ++i) {
    const IndexHeaderType& index = indexes[i];
    if (index.IsTemporary()) continue;
    const int32_t k = index.FieldCount();
    const int bit_bytes = BitBytes(k);
    if (k < 1 || index.Name.size() > static_cast<size_t>(capacity) ||
        index.AscendingBits.size() != static_cast<size_t>(bit_bytes) ||
        index.CaseInsensitiveBits.size() != static_cast<size_t>(bit_bytes))
      throw Exception(fmt::format(
          "Error in TOrvelDataManager.SaveIndexFile - index \"{}\" does not fit the index file "
          "of format {:.2f}",
          index.Name, table_version));
    const size_t at = head.size();
    head.resize(at + ShortStringSlotSize(capacity) + 4 + 4 * size_t(k) + 2 * bit_bytes + 2 +
                (options ? 1 : 0));
    uint8_t* p = head.data() + at;
    StoreShortString(p, capacity, index.Name);
    p += ShortStringSlotSize(capacity);
    StoreI32(p, k);
    p += 4;
    for (int32_t field_no : index.FieldNumbers) {
      StoreI32(p, field_no);
      p += 4;
    }
    p = std::copy(index.AscendingBits.begin(), index.AscendingBits.end(), p);
    p = std::copy(index.CaseInsensitiveBits.begin(), index.CaseInsensitiveBits.end(), p);
    *p++ = index.CaseInsensitiveAll ? 1 : 0;
    *p++ = index.DescendingAll ? 1 : 0;
    if (options) *p = index.Options;
    if (record_count > 0) {
      std::span<const int32_t> array = array_of(i);
      if (array.size() != static_cast<size_t>(record_count))
        throw Exception(fmt::format(
            "Error in TOrvelDataManager.SaveIndexFile - index \"{}\" holds {} records of {}",
            index.Name, array.size(), record_count));
      arrays.push_back(array);
    }
    ++written;
  }
  StoreI32(head.data(), change_counter);
  StoreI32(head.data() + 4, written);
  StoreF64(head.data() + 8, table_version);

  const int64_t total = int64_t(head.size()) + int64_t(arrays.size()) * record_count * 4;
  if (total > TAbstractFile::kMaxSize)
    throw Exception("Error in TOrvelDataManager.SaveIndexFile - the index file would pass 2 GiB");
  file.SetPosition(0);
  file.WriteBuffer(head.data(), static_cast<int32_t>(head.size()));
  std::vector<uint8_t> chunk;
  for (std::span<const int32_t> array : arrays) {
    for (size_t done = 0; done < array.size();) {
      const size_t n = std::min(array.size() - done, size_t(kArrayChunk));
      chunk.resize(n * 4);
      for (size_t j = 0; j < n; ++j) StoreI32(chunk.data() + 4 * j, array[done + j]);
      file.WriteBuffer(chunk.data(), static_cast<int32_t>(chunk.size()));
      done += n;
    }
  }
  file.SetSize(static_cast<int32_t>(total));
}

}  // namespace orv
