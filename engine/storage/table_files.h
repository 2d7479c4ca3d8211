#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/storage/field_header.h"
#include "engine/storage/stored_types.h"
#include "engine/storage/table_header.h"

namespace orv {

// The four files of a table: the table name followed by ".dat" (headers and records), ".idx"
// (index_file.h), ".bif" (blob_index_image.h) and ".bdf" (BLOB blocks). The last two exist only
// while the table has a BLOB field.
enum TTableFileKind : int { tfkData, tfkIndex, tfkBlobIndex, tfkBlobData };
inline constexpr int kTableFileKindCount = 4;
const char* TableFileExtension(TTableFileKind kind);

// How a table reaches its files. The data manager implements it over the database manager's
// file operations in the table's store mode; tests over a plain file system.
class TOrvelTableFileStore {
 public:
  virtual ~TOrvelTableFileStore() = default;
  // Raises when the file can be neither opened nor created.
  virtual TAbstractFile* OpenTableFile(const std::string& file_name, bool create) = 0;
  // Lets go of a file that OpenTableFile handed out.
  virtual void ReleaseTableFile(TAbstractFile* file) = 0;
  virtual bool TableFileExists(const std::string& file_name) = 0;
};

// The schema of one table as its .dat holds it: the table header, the field headers and the
// record geometry derived from them, with the table's open file objects. The data manager owns
// one and runs these operations under its lock.
class TOrvelTableFiles {
 public:
  // The store must outlive this object: the destructor releases the files still held.
  TOrvelTableFiles(std::string table_name, TOrvelTableFileStore& store);
  ~TOrvelTableFiles();
  TOrvelTableFiles(const TOrvelTableFiles&) = delete;
  TOrvelTableFiles& operator=(const TOrvelTableFiles&) = delete;

  const std::string& TableName() const { return table_name_; }
  // Only names the files; renaming them is the data manager's.
  void SetTableName(std::string table_name) { table_name_ = std::move(table_name); }
  std::string FileName(TTableFileKind kind) const;

  bool FileExists(TTableFileKind kind);
  // Opens (or creates) the file and keeps it, releasing one it already held.
  TAbstractFile* OpenFile(TTableFileKind kind, bool create);
  // Null while not open.
  TAbstractFile* File(TTableFileKind kind) const { return files_[kind]; }
  void ReleaseFile(TTableFileKind kind) { ReleaseSlot(files_[kind]); }
  // Puts another file object in the slot for a while (a journaled flush) and returns the one
  // it held; the caller puts that back.
  TAbstractFile* SwapFile(TTableFileKind kind, TAbstractFile* file) {
    std::swap(files_[kind], file);
    return file;
  }
  void ReleaseFiles();

  TableHeaderType& Header() { return header_; }
  const TableHeaderType& Header() const { return header_; }
  const std::vector<FieldHeaderType>& Fields() const { return fields_; }
  const TRecordGeometry& Geometry() const { return geometry_; }
  // Offset of record 0 in the .dat.
  int32_t DataOffset() const { return data_offset_; }
  bool HasBlobs() const { return geometry_.BlobFields > 0; }

  // Takes the field headers of a new or restructured table: sets the field count, and the
  // geometry and data offset for the layout of Header().Version. Raises when they cannot make
  // a record or a name does not fit the layout.
  void SetFields(std::vector<FieldHeaderType> fields);

  // Reads the table header and field headers from the just opened .dat and derives the
  // geometry; cuts the file when it is longer than its records (unless it is read-only).
  // Nothing changes, here or in the file, when a header cannot be read.
  void OpenTable();
  // The fixed header as the .dat holds it now, in the layout of the table's version.
  void ReadTableHeader(TableHeaderType& target);
  // Writes the table header and the field headers to the .dat. Raises, writing nothing, when
  // the headers of the table's version would not end where its records start.
  void SaveTableHeaders();

  // -1 for the identifier name, else the field's index; names compare without case. An unknown
  // name raises, or gives kFieldNotFound (-2) when raise is false.
  int32_t InternalGetFieldNo(std::string_view name, bool raise) const;
  // ftAutoInc for the identifier (-1 or the field count), else the stored type.
  TFieldType GetFieldType(int32_t field_no) const;

 private:
  TAbstractFile& OpenDat(const char* operation) const;
  void ReleaseSlot(TAbstractFile*& slot);

  std::string table_name_;
  TOrvelTableFileStore& store_;
  std::array<TAbstractFile*, kTableFileKindCount> files_{};
  TableHeaderType header_;
  std::vector<FieldHeaderType> fields_;
  TRecordGeometry geometry_;
  int32_t data_offset_ = kLongTableHeaderSize;
};

}  // namespace orv
