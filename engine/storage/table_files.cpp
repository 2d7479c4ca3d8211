#include "engine/storage/table_files.h"

#include <fmt/format.h>

#include "platform/exception.h"
#include "platform/value_text.h"

namespace orv {

namespace {

constexpr const char* kExtensions[kTableFileKindCount] = {".dat", ".idx", ".bif", ".bdf"};

[[noreturn]] void RaiseDamaged(const char* operation, const std::string& file_name,
                               const std::string& problem) {
  throw Exception(fmt::format("Error in TOrvelDataManager.{} - table file {} is damaged: {}",
                              operation, file_name, problem));
}

int64_t HeadersSize(bool long_layout, int64_t field_count) {
  return TableHeaderSize(long_layout) + field_count * FieldHeaderSize(long_layout);
}

}  // namespace

const char* TableFileExtension(TTableFileKind kind) {
  return kExtensions[kind];
}

TOrvelTableFiles::TOrvelTableFiles(std::string table_name, TOrvelTableFileStore& store)
    : table_name_(std::move(table_name)), store_(store) {
  SetFields({});
}

TOrvelTableFiles::~TOrvelTableFiles() {
  try {
    ReleaseFiles();
  } catch (const std::exception&) {
    // A destructor cannot report it; the store keeps its own account of open files.
  }
}

std::string TOrvelTableFiles::FileName(TTableFileKind kind) const {
  return table_name_ + TableFileExtension(kind);
}

bool TOrvelTableFiles::FileExists(TTableFileKind kind) {
  return store_.TableFileExists(FileName(kind));
}

TAbstractFile* TOrvelTableFiles::OpenFile(TTableFileKind kind, bool create) {
  ReleaseFile(kind);
  files_[kind] = store_.OpenTableFile(FileName(kind), create);
  return files_[kind];
}

void TOrvelTableFiles::ReleaseSlot(TAbstractFile*& slot) {
  if (slot == nullptr) return;
  TAbstractFile* file = slot;
  slot = nullptr;
  store_.ReleaseTableFile(file);
}

void TOrvelTableFiles::ReleaseFiles() {
  for (TAbstractFile*& slot : files_) ReleaseSlot(slot);
}

void TOrvelTableFiles::SetFields(std::vector<FieldHeaderType> fields) {
  const bool long_layout = IsLongLayout(header_.Version);
  const int capacity = long_layout ? kLongNameCapacity : kShortNameCapacity;
  for (const FieldHeaderType& field : fields)
    if (field.Name.size() > static_cast<size_t>(capacity))
      throw Exception(fmt::format(
          "Error in TOrvelDataManager.CreateTable - field name \"{}\" is longer than {} characters",
          field.Name, capacity));
  TRecordGeometry geometry;
  std::string problem;
  if (!ComputeRecordGeometry(fields, header_.Version, geometry, problem))
    throw Exception("Error in TOrvelDataManager.CreateTable - " + problem);
  fields_ = std::move(fields);
  geometry_ = std::move(geometry);
  header_.FieldCount = static_cast<int32_t>(fields_.size());
  data_offset_ = static_cast<int32_t>(HeadersSize(long_layout, header_.FieldCount));
}

TAbstractFile& TOrvelTableFiles::OpenDat(const char* operation) const {
  TAbstractFile* dat = files_[tfkData];
  if (dat == nullptr)
    throw Exception(fmt::format("Error in TOrvelDataManager.{} - table file {} is not open",
                                operation, FileName(tfkData)));
  return *dat;
}

void TOrvelTableFiles::OpenTable() {
  static constexpr const char* kOp = "OpenTable";
  TAbstractFile& dat = OpenDat(kOp);
  const std::string file_name = FileName(tfkData);

  const std::optional<double> detected = DetectTableVersion(dat);
  if (!detected) RaiseDamaged(kOp, file_name, "it is too short for a table header");
  const bool long_layout = IsLongLayout(*detected);
  const int header_size = TableHeaderSize(long_layout);
  const int64_t file_size = dat.GetSize();
  if (file_size < header_size) RaiseDamaged(kOp, file_name, "it is too short for a table header");

  uint8_t fixed[kLongTableHeaderSize];
  dat.SetPosition(0);
  dat.ReadBuffer(fixed, header_size);
  TableHeaderType header;
  std::string problem;
  if (!DecodeTableHeader(fixed, long_layout, header, problem))
    RaiseDamaged(kOp, file_name, problem);

  // Not "< 1.0": a NaN version must not pass as a valid one.
  if (!(header.Version >= 1.0))
    throw Exception("Error opening table - invalid version = " + fmt::format("{}", header.Version));
  if (header.Version > internalCurrentVersion)
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.OpenTable - Invalid db engine version in file {} (version = "
        "{:.2f}, internalCurrentVersion = {:.2f}) !",
        file_name, header.Version, internalCurrentVersion));
  // Field headers and later saves follow the version; read in the other layout they would
  // land on the wrong bytes.
  if (IsLongLayout(header.Version) != long_layout)
    RaiseDamaged(
        kOp, file_name,
        fmt::format("version {} does not match the header layout it was found in", header.Version));

  const int field_header_size = FieldHeaderSize(long_layout);
  if (header.FieldCount < 0 || HeadersSize(long_layout, header.FieldCount) > file_size)
    RaiseDamaged(kOp, file_name,
                 fmt::format("field count {} does not fit the file of {} bytes", header.FieldCount,
                             file_size));
  std::vector<uint8_t> bytes(static_cast<size_t>(header.FieldCount) * field_header_size);
  dat.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  std::vector<FieldHeaderType> fields(static_cast<size_t>(header.FieldCount));
  for (size_t i = 0; i < fields.size(); ++i)
    if (!DecodeFieldHeader(bytes.data() + i * field_header_size, long_layout, fields[i], problem))
      RaiseDamaged(kOp, file_name, fmt::format("field header {}: {}", i, problem));

  TRecordGeometry geometry;
  if (!ComputeRecordGeometry(fields, header.Version, geometry, problem))
    RaiseDamaged(kOp, file_name, problem);
  const int64_t data_offset = HeadersSize(long_layout, header.FieldCount);
  const int64_t records_end = data_offset + int64_t(header.RecordCount) * geometry.RecordSize;
  if (header.RecordCount < 0 || records_end > file_size)
    RaiseDamaged(kOp, file_name,
                 fmt::format("record count {} of {} bytes each does not fit the file of {} bytes",
                             header.RecordCount, geometry.RecordSize, file_size));

  header_ = std::move(header);
  fields_ = std::move(fields);
  geometry_ = std::move(geometry);
  data_offset_ = static_cast<int32_t>(data_offset);
  // A read-only file keeps its tail; the records behind the count are never read.
  if (file_size > records_end && !dat.ReadOnly()) dat.SetSize(static_cast<int32_t>(records_end));
}

void TOrvelTableFiles::ReadTableHeader(TableHeaderType& target) {
  static constexpr const char* kOp = "ReadTableHeader";
  TAbstractFile& dat = OpenDat(kOp);
  const bool long_layout = IsLongLayout(header_.Version);
  const int header_size = TableHeaderSize(long_layout);
  if (dat.GetSize() < header_size)
    RaiseDamaged(kOp, FileName(tfkData), "it is too short for a table header");
  uint8_t fixed[kLongTableHeaderSize];
  dat.SetPosition(0);
  dat.ReadBuffer(fixed, header_size);
  std::string problem;
  if (!DecodeTableHeader(fixed, long_layout, target, problem))
    RaiseDamaged(kOp, FileName(tfkData), problem);
}

void TOrvelTableFiles::SaveTableHeaders() {
  static constexpr const char* kOp = "SaveTableHeaders";
  TAbstractFile& dat = OpenDat(kOp);
  const bool long_layout = IsLongLayout(header_.Version);
  const int64_t size = HeadersSize(long_layout, static_cast<int64_t>(fields_.size()));
  if (size != data_offset_)
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.SaveTableHeaders - the headers of format {:.2f} take {} "
        "bytes, but the records of {} start at {}",
        header_.Version, size, FileName(tfkData), data_offset_));
  header_.FieldCount = static_cast<int32_t>(fields_.size());
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  bool fits = EncodeTableHeader(header_, long_layout, bytes.data());
  const int field_header_size = FieldHeaderSize(long_layout);
  uint8_t* out = bytes.data() + TableHeaderSize(long_layout);
  for (const FieldHeaderType& field : fields_) {
    fits = fits && EncodeFieldHeader(field, long_layout, out);
    out += field_header_size;
  }
  if (!fits)
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.SaveTableHeaders - a name is too long for the headers of "
        "format {:.2f}",
        header_.Version));
  dat.SetPosition(0);
  if (long_layout) {
    dat.WriteBuffer(bytes.data(), static_cast<int32_t>(size));
    return;
  }
  // The short layout's reserved bytes 36..39 are skipped, keeping what the file has there.
  constexpr int kReservedAt = 36, kReservedSize = 4;
  dat.WriteBuffer(bytes.data(), kReservedAt);
  dat.SetPosition(kReservedAt + kReservedSize);
  dat.WriteBuffer(bytes.data() + kReservedAt + kReservedSize,
                  static_cast<int32_t>(size) - kReservedAt - kReservedSize);
}

int32_t TOrvelTableFiles::InternalGetFieldNo(std::string_view name, bool raise) const {
  if (SameText(name, header_.IdFieldName)) return kIdentifierFieldNo;
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameText(name, fields_[i].Name)) return static_cast<int32_t>(i);
  if (raise)
    throw Exception(fmt::format(
        "Error in TOrvelDataManager.InternalGetFieldNo - field \"{}\" not found!", name));
  return kFieldNotFound;
}

TFieldType TOrvelTableFiles::GetFieldType(int32_t field_no) const {
  const auto count = static_cast<int32_t>(fields_.size());
  if (field_no == kIdentifierFieldNo || field_no == count) return ftAutoInc;
  if (field_no < 0 || field_no > count)
    throw Exception(
        fmt::format("Error in TOrvelDataManager.GetFieldType - invalid field number {}", field_no));
  return fields_[field_no].Type;
}

}  // namespace orv
