#include "engine/storage/table_header.h"

#include <fmt/format.h>

#include <cstring>

#include "engine/storage/stored_bytes.h"

namespace orv {

namespace {

struct TableHeaderOffsets {
  int capacity, field_count, record_count, version, flags, change_counter;
};

TableHeaderOffsets OffsetsOf(bool long_layout) {
  return long_layout ? TableHeaderOffsets{kLongIdNameCapacity, 260, 264, 268, 276, 280}
                     : TableHeaderOffsets{kShortIdNameCapacity, 28, 32, 40, 48, 52};
}

constexpr uint8_t kMaxCompressionLevel = 3;

}  // namespace

bool EncodeTableHeader(const TableHeaderType& header, bool long_layout, uint8_t* out) {
  const TableHeaderOffsets at = OffsetsOf(long_layout);
  if (header.IdFieldName.size() > static_cast<size_t>(at.capacity)) return false;
  std::memset(out, 0, TableHeaderSize(long_layout));
  StoreI32(out, header.LastRecordId);
  StoreShortString(out + 4, at.capacity, header.IdFieldName);
  StoreI32(out + at.field_count, header.FieldCount);
  StoreI32(out + at.record_count, header.RecordCount);
  StoreF64(out + at.version, header.Version);
  out[at.flags] = header.IdVisibility;
  out[at.flags + 1] = header.BlobCompression;
  out[at.flags + 2] = header.Encrypted ? 1 : 0;
  out[at.flags + 3] = static_cast<uint8_t>(header.ChangeCounter);
  StoreI32(out + at.change_counter, header.ChangeCounter);
  return true;
}

bool DecodeTableHeader(const uint8_t* in, bool long_layout, TableHeaderType& header,
                       std::string& problem) {
  const TableHeaderOffsets at = OffsetsOf(long_layout);
  TableHeaderType h;
  if (!LoadShortString(in + 4, at.capacity, h.IdFieldName)) {
    problem = fmt::format("identifier name length {} exceeds its slot of {}", in[4], at.capacity);
    return false;
  }
  if (h.IdFieldName.empty()) h.IdFieldName = "id";
  h.LastRecordId = LoadI32(in);
  h.FieldCount = LoadI32(in + at.field_count);
  h.RecordCount = LoadI32(in + at.record_count);
  h.Version = LoadF64(in + at.version);
  h.IdVisibility = in[at.flags];
  h.BlobCompression = in[at.flags + 1];
  const uint8_t encrypted = in[at.flags + 2];
  h.ChangeCounter = LoadI32(in + at.change_counter);
  if (h.BlobCompression > kMaxCompressionLevel) {
    problem = fmt::format("BLOB compression level {} is unknown", h.BlobCompression);
    return false;
  }
  if (encrypted > 1) {
    problem = fmt::format("encrypted flag {} is neither 0 nor 1", encrypted);
    return false;
  }
  h.Encrypted = encrypted == 1;
  header = std::move(h);
  return true;
}

std::optional<double> DetectTableVersion(TAbstractFile& dat) {
  const int32_t size = dat.GetSize();
  uint8_t bytes[8];
  if (size < kShortVersionOffset + 8) return std::nullopt;
  dat.SetPosition(kShortVersionOffset);
  dat.ReadBuffer(bytes, 8);
  const double short_version = LoadF64(bytes);
  if (short_version > 1.11 && short_version < 4.501) return short_version;
  // Enough bytes for the whole double: a file of 273 to 275 bytes cannot hold it.
  if (size >= kLongVersionOffset + 8) {
    dat.SetPosition(kLongVersionOffset);
    dat.ReadBuffer(bytes, 8);
    const double long_version = LoadF64(bytes);
    if (long_version > kLongLayoutVersion && long_version < 4.501) return long_version;
  }
  return 2.1;
}

}  // namespace orv
