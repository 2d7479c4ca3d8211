#include "tools/orvdb_cli.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "engine/common/collation.h"
#include "engine/components/engine_globals.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/components/orvel_database.h"
#include "engine/components/orvel_database_manager.h"
#include "engine/files/little_endian.h"
#include "engine/files/plain_file_system.h"
#include "engine/protect/checksum.h"
#include "engine/storage/index_file.h"
#include "engine/storage/index_key.h"
#include "engine/storage/index_list.h"
#include "engine/storage/record_cipher.h"
#include "platform/codepage.h"
#include "platform/field_defs.h"
#include "platform/index_defs.h"
#include "platform/streams.h"
#include "tools/cli_arguments.h"
#include "tools/orvdb_csv.h"
#include "tools/orvdb_values.h"

namespace orv {

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  orvdb tables DB                 one table name per line\n"
    "  orvdb schema DB TABLE           fields (name, type, size, required) and indexes\n"
    "  orvdb dump   DB TABLE [--csv]   records; BLOBs as size and CRC-32\n"
    "  orvdb import DB TABLE FILE.csv  into an existing table, or a new one\n"
    "  orvdb check  DB                 record CRCs, index order and BLOB references\n"
    "DB is a container file or a folder of table files. --password PW opens an encrypted\n"
    "container (else ORVDB_PASSWORD), --table-password PW encrypted tables (else\n"
    "ORVDB_TABLE_PASSWORD); a new table is encrypted when a table password is given.\n"
    "A header cell NAME:TYPE[:SIZE] fixes a new field's type (string, smallint, integer, word,\n"
    "boolean, float, currency, date, time, datetime, bytes, autoinc, memo, widestring,\n"
    "largeint; SIZE for string and widestring in characters, bytes in bytes); otherwise the\n"
    "type is inferred: integer, float, date (YYYY-MM-DD), else a string as long as the longest\n"
    "value. An empty cell is NULL.\n"
    "Exit status: 0 success, 1 failure or damage, 2 usage error.\n";

using Failure = TCliFailure;
using UsageError = TCliUsageError;

struct CommandLine {
  std::string command;
  std::vector<std::string> operands;
  std::optional<std::string> password, table_password;
  bool csv = false;
};

struct CommandShape {
  const char* name;
  size_t operands;
  bool csv_option;
};

constexpr CommandShape kCommands[] = {
    {"tables", 1, false}, {"schema", 2, false}, {"dump", 2, true},
    {"import", 3, false}, {"check", 1, false},
};

CommandLine Parse(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError{"no command given"};
  CommandLine line;
  line.command = args[0];
  const CommandShape* shape = nullptr;
  for (const CommandShape& candidate : kCommands)
    if (line.command == candidate.name) shape = &candidate;
  if (shape == nullptr) throw UsageError{fmt::format("unknown command \"{}\"", line.command)};

  const TCliValueOption values[] = {{"--password", &line.password},
                                    {"--table-password", &line.table_password}};
  std::vector<TCliFlagOption> flags;
  if (shape->csv_option) flags.push_back({"--csv", &line.csv});
  line.operands = ParseCliArguments(args, values, flags);
  if (line.operands.size() != shape->operands)
    throw UsageError{fmt::format("wrong number of operands for {}", line.command)};
  return line;
}

std::string ToEngineText(const std::string& utf8, const char* what) {
  return CliToEngineText(utf8, what);
}

std::string OptionOrEnvironment(const std::optional<std::string>& option, const char* variable) {
  if (option) return *option;
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return CollateCompareI(a.c_str(), b.c_str()) == 0;
}

std::string LoadTableProblem(int code, const std::string& shown) {
  switch (code) {
    case kLoadTableMissing:
      return fmt::format("table \"{}\" does not exist", shown);
    case kLoadTableNoPassword:
      return fmt::format("table \"{}\" is encrypted: give --table-password", shown);
    case kLoadTableWrongPassword:
      return fmt::format("table \"{}\": invalid table password", shown);
    case kLoadTableFilesUnusable:
      return fmt::format("table \"{}\": some of its files are missing, locked or unreadable",
                         shown);
    case kLoadTableBlobHeadersUnreadable:
      return fmt::format("table \"{}\" has corrupted BLOB headers", shown);
    default:
      return fmt::format("table \"{}\" cannot be opened (code {})", shown, code);
  }
}

// A column of a table as orvdb shows it: a stored field, or the visible record identifier.
struct TColumn {
  FieldHeaderType Field;
  int32_t FieldNo = 0;  // kIdentifierFieldNo for the identifier
  int32_t BlobNo = -1;  // among the table's BLOB fields
  int32_t Offset = 0;
};

std::vector<TColumn> ColumnsOf(const TOrvelTableFiles& table) {
  std::vector<TColumn> columns;
  const TRecordGeometry& geometry = table.Geometry();
  int32_t blob_no = 0;
  for (size_t i = 0; i < table.Fields().size(); ++i) {
    TColumn column;
    column.Field = table.Fields()[i];
    column.FieldNo = static_cast<int32_t>(i);
    column.Offset = geometry.FieldOffsets[i];
    if (IsBlobFieldType(column.Field.Type)) column.BlobNo = blob_no++;
    columns.push_back(std::move(column));
  }
  if (table.Header().IdVisibility == kIdentifierVisible) {
    TColumn id;
    id.Field.Name = table.Header().IdFieldName;
    id.Field.Type = ftAutoInc;
    id.Field.Size = 4;
    id.Field.Required = true;
    id.FieldNo = kIdentifierFieldNo;
    id.Offset = geometry.IdentifierOffset();
    columns.push_back(std::move(id));
  }
  return columns;
}

// The size a field definition declares for a stored field (characters for strings).
int32_t DeclaredSize(const FieldHeaderType& field) {
  switch (field.Type) {
    case ftString:
      return field.Size - 1;
    case ftWideString:
      return (field.Size - 2) / 2;
    case ftBytes:
      return field.Size;
    default:
      return 0;
  }
}

class Orvdb {
 public:
  Orvdb(const CommandLine& line, std::ostream& out, std::ostream& err, Env* env)
      : line_(line), out_(out), err_(err), env_(env), engine_(env) {
    password_ = OptionOrEnvironment(line.password, "ORVDB_PASSWORD");
    table_password_ = OptionOrEnvironment(line.table_password, "ORVDB_TABLE_PASSWORD");
  }
  ~Orvdb() {
    tables_.clear();
    if (database_) database_->Close();
  }

  int Run() {
    const std::string& command = line_.command;
    const std::string& db = line_.operands[0];
    if (command == "tables") return Tables(db);
    if (command == "schema") return Schema(db, line_.operands[1]);
    if (command == "dump") return Dump(db, line_.operands[1]);
    if (command == "import") return Import(db, line_.operands[1], line_.operands[2]);
    return Check(db);
  }

 private:
  void OpenDatabase(const std::string& path, bool writable) {
    database_ = std::make_unique<TOrvelDatabase>();
    if (env_->DirectoryExists(path)) {
      std::string folder = path;
      if (folder.back() != '/') folder += '/';
      database_->SetDatabaseName(folder);
    } else {
      database_->SetDatabaseName("orvdb");
      if (!env_->FileExists(path)) {
        if (!writable) throw Failure{fmt::format("{}: no such database", path)};
        database_->SetPassword(password_);
        database_->CreateDatabase(path);
      }
      database_->SetDatabaseFileName(path);
      database_->SetPassword(password_);
    }
    database_->SetReadOnly(!writable);
    database_->Open();
    if (!database_->Connected() || database_->DatabaseManager() == nullptr)
      throw Failure{fmt::format("{}: the database cannot be opened", path)};
    manager_ = database_->DatabaseManager();
  }

  std::vector<std::string> TableNames() {
    TAbstractPlainFileSystem* fs = manager_->GetFileSystem(kStoreModeOwn);
    if (fs == nullptr) throw Failure{"the database's store cannot be opened"};
    std::vector<std::string> names;
    fs->FindFiles(".dat", &names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return Cp1251ToUtf16(a) < Cp1251ToUtf16(b);
    });
    return names;
  }

  bool TableExists(const std::string& name) {
    return manager_->FileExists(name + ".dat", kStoreModeOwn);
  }

  // The open table, or nullptr with problem set.
  TOrvelDataManager* OpenTable(const std::string& name, bool writable, std::string& problem) {
    auto table = std::make_unique<TOrvelDataManager>(name, manager_);
    table->SetStoreMode(kStoreModeOwn);
    table->SetReadOnly(!writable);
    table->SetPassword(table_password_);
    const int code = table->LoadTable();
    if (code != kLoadTableOpened) {
      // An empty password never opens an encrypted table; say what is missing.
      problem = LoadTableProblem(
          code == kLoadTableWrongPassword && table_password_.empty() ? kLoadTableNoPassword : code,
          Cp1251ToUtf8(name));
      return nullptr;
    }
    tables_.push_back(std::move(table));
    return tables_.back().get();
  }

  TOrvelDataManager& RequireTable(const std::string& name, bool writable) {
    std::string problem;
    TOrvelDataManager* table = OpenTable(name, writable, problem);
    if (table == nullptr) throw Failure{problem};
    return *table;
  }

  void CloseTable(TOrvelDataManager& table) {
    for (auto it = tables_.begin(); it != tables_.end(); ++it)
      if (it->get() == &table) {
        table.CloseTable();
        tables_.erase(it);
        return;
      }
  }

  int Tables(const std::string& db) {
    OpenDatabase(db, false);
    for (const std::string& name : TableNames()) out_ << Cp1251ToUtf8(name) << '\n';
    return kOrvdbOk;
  }

  int Schema(const std::string& db, const std::string& table_utf8) {
    OpenDatabase(db, false);
    const std::string name = ToEngineText(table_utf8, "the table name");
    TOrvelDataManager& dm = RequireTable(name, false);
    const TOrvelTableFiles& table = dm.Table();
    out_ << fmt::format("table\t{}\t{} records{}\n", table_utf8, dm.RecordCount(),
                        table.Header().Encrypted ? "\tencrypted" : "");
    for (const TColumn& column : ColumnsOf(table))
      out_ << fmt::format("field\t{}\t{}\t{}\t{}\n", Cp1251ToUtf8(column.Field.Name),
                          OrvdbTypeName(column.Field.Type),
                          column.FieldNo == kIdentifierFieldNo ? 0 : DeclaredSize(column.Field),
                          column.Field.Required ? "required" : "optional");
    TOrvelIndexList& indexes = dm.Indexes();
    for (int32_t i = 0; i < indexes.Count(); ++i) {
      const IndexHeaderType& header = indexes.Header(i);
      std::string fields;
      for (int32_t j = 0; j < header.FieldCount(); ++j) {
        const int32_t no = header.FieldNumbers[static_cast<size_t>(j)];
        if (j > 0) fields += ';';
        fields += Cp1251ToUtf8(no == kIdentifierFieldNo || no < 0 ||
                                       no >= static_cast<int32_t>(table.Fields().size())
                                   ? table.Header().IdFieldName
                                   : table.Fields()[static_cast<size_t>(no)].Name);
        if (!header.Ascending(j)) fields += " desc";
        if (header.CaseInsensitive(j)) fields += " nocase";
      }
      std::string options;
      if (header.Options & kIxPrimary) options += " primary";
      if (header.Options & kIxUnique) options += " unique";
      if (header.Options & kIxDescending) options += " descending";
      if (header.Options & kIxCaseInsensitive) options += " caseinsensitive";
      out_ << fmt::format("index\t{}\t{}\t{}\n", Cp1251ToUtf8(header.Name), fields,
                          options.empty() ? "-" : options.substr(1));
    }
    return kOrvdbOk;
  }

  // Physical record numbers in the order of the identifier index.
  std::vector<int32_t> RecordOrder(TOrvelDataManager& dm) {
    std::vector<int32_t> order;
    TOrvelIndexList& indexes = dm.Indexes();
    if (indexes.Count() > 0) {
      indexes.BuildIndex(0, false);
      const TmvIntArray& array = indexes.Array(0);
      order.assign(array.begin(), array.end());
    }
    if (static_cast<int32_t>(order.size()) != dm.RecordCount()) {
      order.resize(static_cast<size_t>(std::max(0, dm.RecordCount())));
      for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
    }
    return order;
  }

  std::string BlobText(TOrvelDataManager& dm, const TColumn& column, int32_t record_no) {
    TMemoryStream stream;
    dm.ReadBLOBValue(stream, column.BlobNo, record_no);
    const auto size = static_cast<size_t>(stream.Size());
    if (size == 0) return {};
    return fmt::format("{} bytes, CRC-32 {:08x}", size, Crc32(stream.Memory(), size));
  }

  static std::string Escaped(const std::string& text) {
    std::string shown;
    for (char c : text) {
      if (c == '\\')
        shown += "\\\\";
      else if (c == '\n')
        shown += "\\n";
      else if (c == '\r')
        shown += "\\r";
      else if (c == '\t')
        shown += "\\t";
      else
        shown += c;
    }
    return shown;
  }

  int Dump(const std::string& db, const std::string& table_utf8) {
    OpenDatabase(db, false);
    const std::string name = ToEngineText(table_utf8, "the table name");
    TOrvelDataManager& dm = RequireTable(name, false);
    const std::vector<TColumn> columns = ColumnsOf(dm.Table());
    const TRecordGeometry& geometry = dm.Table().Geometry();
    std::vector<std::string> cells;
    for (const TColumn& column : columns) cells.push_back(Cp1251ToUtf8(column.Field.Name));
    WriteRow(cells);
    for (const int32_t record_no : RecordOrder(dm)) {
      const std::vector<uint8_t> image(dm.GetRecordPtr(record_no),
                                       dm.GetRecordPtr(record_no) + geometry.RecordSize);
      cells.clear();
      for (const TColumn& column : columns) {
        if (column.FieldNo != kIdentifierFieldNo && geometry.IsNull(image.data(), column.FieldNo))
          cells.emplace_back(line_.csv ? "" : "NULL");
        else if (column.BlobNo >= 0)
          cells.push_back(BlobText(dm, column, record_no));
        else
          cells.push_back(FormatFieldValue(column.Field, image.data() + column.Offset));
      }
      WriteRow(cells);
    }
    return kOrvdbOk;
  }

  void WriteRow(const std::vector<std::string>& cells) {
    if (line_.csv) {
      WriteCsvRow(out_, cells);
      return;
    }
    for (size_t i = 0; i < cells.size(); ++i) out_ << (i > 0 ? "\t" : "") << Escaped(cells[i]);
    out_ << '\n';
  }

  std::string ReadLocalFile(const std::string& path) {
    FileOpenOptions options;
    options.read_only = true;
    std::unique_ptr<OsFile> file = env_->Open(path, options);
    if (!file) throw Failure{fmt::format("{}: cannot open the file", path)};
    const int64_t size = file->Size();
    if (size < 0) throw Failure{fmt::format("{}: cannot read the file", path)};
    std::string text(static_cast<size_t>(size), '\0');
    if (size > 0 && file->ReadAt(0, text.data(), size) != size)
      throw Failure{fmt::format("{}: cannot read the file", path)};
    return text;
  }

  // Field definitions of a new table from the header and the values.
  void DefineTable(const TCsvTable& csv, TFieldDefs& defs) {
    for (size_t c = 0; c < csv.Header.size(); ++c) {
      const TColumnSpec spec = ParseColumnSpec(csv.Header[c]);
      const std::string field_name = ToEngineText(spec.Name, "the field name");
      if (field_name.empty()) throw Failure{fmt::format("column {} has no name", c + 1)};
      if (defs.IndexOf(field_name) >= 0)
        throw Failure{fmt::format("column \"{}\" appears twice", spec.Name)};
      TFieldType type = ftString;
      int32_t size = 0;
      std::vector<const std::string*> values;
      for (const auto& row : csv.Rows) values.push_back(&row[c]);
      if (spec.Type) {
        type = *spec.Type;
        if (type == ftBCD || type == ftBlob || type == ftGraphic)
          throw Failure{fmt::format("column \"{}\": type {} cannot be imported from text",
                                    spec.Name, OrvdbTypeName(type))};
        if (FieldTypeTakesSize(type)) {
          if (spec.Size) {
            size = *spec.Size;
          } else if (type == ftBytes) {
            size = 1;
            for (const std::string* value : values)
              size = std::max(size, static_cast<int32_t>(value->size() / 2));
          } else {
            size = 1;
            for (const std::string* value : values)
              size = std::max(size, static_cast<int32_t>(Utf8ToCp1251(*value).size()));
          }
        }
        if (type == ftWideString) size *= 2;
      } else {
        const TInferredType inferred = InferFieldType(values);
        type = inferred.Type;
        size = inferred.Size;
      }
      defs.Add(field_name, type, size, false);
    }
  }

  int Import(const std::string& db, const std::string& table_utf8, const std::string& csv_path) {
    const std::string text = ReadLocalFile(csv_path);
    TCsvTable csv;
    try {
      csv = ParseCsv(text);
    } catch (const TCsvError& e) {
      throw Failure{fmt::format("{}: {}", csv_path, e.text)};
    }
    OpenDatabase(db, true);
    const std::string name = ToEngineText(table_utf8, "the table name");
    bool created = false;
    if (!TableExists(name)) {
      TFieldDefs fields(nullptr);
      TIndexDefs indexes(nullptr);
      try {
        DefineTable(csv, fields);
      } catch (const TCsvError& e) {
        throw Failure{fmt::format("{}: {}", csv_path, e.text)};
      }
      // Every value is checked before the table is made, so a bad file leaves nothing behind.
      {
        TOrvelDataManager creator(name, manager_);
        creator.SetStoreMode(kStoreModeOwn);
        creator.SetPassword(table_password_);
        creator.SetRequestedEncrypted(!table_password_.empty());
        creator.CreateTable(fields, indexes, static_cast<int32_t>(csv.Rows.size()) + 1, false);
      }
      created = true;
    }
    TOrvelDataManager& dm = RequireTable(name, true);
    try {
      const int count = AppendRows(dm, csv, csv_path);
      CloseTable(dm);
      err_ << fmt::format("orvdb: import: {} records into {} table \"{}\"\n", count,
                          created ? "new" : "existing", table_utf8);
    } catch (...) {
      if (created) {
        CloseTable(dm);
        TOrvelDataManager remover(name, manager_);
        remover.SetStoreMode(kStoreModeOwn);
        remover.DeleteTable();
      }
      throw;
    }
    return kOrvdbOk;
  }

  // Builds every record image first, so that a bad value adds nothing; then appends them.
  int AppendRows(TOrvelDataManager& dm, const TCsvTable& csv, const std::string& csv_path) {
    const TOrvelTableFiles& table = dm.Table();
    const TRecordGeometry& geometry = table.Geometry();
    const std::vector<TColumn> columns = ColumnsOf(table);
    std::vector<int> column_of(csv.Header.size(), -1);
    for (size_t c = 0; c < csv.Header.size(); ++c) {
      TColumnSpec spec;
      try {
        spec = ParseColumnSpec(csv.Header[c]);
      } catch (const TCsvError& e) {
        throw Failure{fmt::format("{}: {}", csv_path, e.text)};
      }
      const std::string field_name = ToEngineText(spec.Name, "the field name");
      for (size_t k = 0; k < columns.size(); ++k)
        if (EqualNoCase(columns[k].Field.Name, field_name)) column_of[c] = static_cast<int>(k);
      if (column_of[c] < 0)
        throw Failure{fmt::format("column \"{}\" is not a field of table \"{}\"", spec.Name,
                                  Cp1251ToUtf8(table.TableName()))};
      for (size_t p = 0; p < c; ++p)
        if (column_of[p] == column_of[c])
          throw Failure{fmt::format("column \"{}\" appears twice", spec.Name)};
    }

    std::set<int32_t> used_ids;
    for (int32_t r = 0; r < dm.RecordCount(); ++r)
      used_ids.insert(LoadI32(dm.GetRecordPtr(r) + geometry.IdentifierOffset()));
    // Generated identifiers follow every identifier the file gives, so they keep file order.
    int32_t next_id = table.Header().LastRecordId;
    for (size_t c = 0; c < csv.Header.size(); ++c) {
      if (columns[static_cast<size_t>(column_of[c])].FieldNo != kIdentifierFieldNo) continue;
      for (const auto& row : csv.Rows) {
        int64_t id = 0;
        if (ParseInt64(row[c], id) && id > next_id && id <= INT32_MAX)
          next_id = static_cast<int32_t>(id);
      }
    }

    struct TPending {
      std::vector<uint8_t> image;
      std::vector<std::pair<int32_t, std::string>> blobs;  // BLOB number, memo text (cp1251)
    };
    std::vector<TPending> pending;
    pending.reserve(csv.Rows.size());
    const auto size = static_cast<size_t>(geometry.RecordSize);
    for (size_t r = 0; r < csv.Rows.size(); ++r) {
      const auto fail = [&](const TColumn& column, const std::string& why) {
        return Failure{fmt::format("{}: line {}, field \"{}\": {}", csv_path, csv.RowLines[r],
                                   Cp1251ToUtf8(column.Field.Name), why)};
      };
      TPending row;
      row.image.assign(size, 0);
      for (size_t f = 0; f < table.Fields().size(); ++f)
        geometry.SetNull(row.image.data(), static_cast<int32_t>(f), true);
      bool id_given = false;
      for (size_t c = 0; c < csv.Header.size(); ++c) {
        const std::string& value = csv.Rows[r][c];
        const TColumn& column = columns[static_cast<size_t>(column_of[c])];
        if (value.empty()) continue;
        std::string problem;
        if (column.FieldNo == kIdentifierFieldNo) {
          int64_t id = 0;
          if (!ParseInt64(value, id) || id < 1 || id > INT32_MAX)
            throw fail(column, fmt::format("\"{}\" is not a record identifier", value));
          if (!used_ids.insert(static_cast<int32_t>(id)).second)
            throw fail(column, fmt::format("record identifier {} is used twice", id));
          StoreI32(row.image.data() + column.Offset, static_cast<int32_t>(id));
          id_given = true;
          continue;
        }
        if (column.BlobNo >= 0) {
          if (column.Field.Type != ftMemo && column.Field.Type != ftFmtMemo)
            throw fail(column, "binary BLOB values cannot be imported from text");
          std::string memo = Utf8ToCp1251(value);
          if (Cp1251ToUtf8(memo) != value)
            throw fail(column, "the text has characters that code page 1251 cannot hold");
          row.blobs.emplace_back(column.BlobNo, std::move(memo));
        } else if (!StoreFieldValue(column.Field, value, row.image.data() + column.Offset,
                                    problem)) {
          throw fail(column, problem);
        }
        geometry.SetNull(row.image.data(), column.FieldNo, false);
      }
      for (const TColumn& column : columns) {
        if (column.FieldNo == kIdentifierFieldNo || !column.Field.Required) continue;
        if (geometry.IsNull(row.image.data(), column.FieldNo))
          throw fail(column, "a value is required");
      }
      if (!id_given) {
        do {
          if (next_id == INT32_MAX) throw Failure{"the table has run out of record identifiers"};
          ++next_id;
        } while (used_ids.count(next_id) > 0);
        used_ids.insert(next_id);
        StoreI32(row.image.data() + geometry.IdentifierOffset(), next_id);
      }
      pending.push_back(std::move(row));
    }

    for (const TPending& row : pending) {
      dm.SetAutoFlush(false);
      dm.mvAppendRecord(row.image.data(), -1);
      const int32_t record_no = dm.RecordCount() - 1;
      for (const auto& [blob_no, memo] : row.blobs) {
        TMemoryStream stream;
        stream.Write(memo.data(), static_cast<int64_t>(memo.size()));
        stream.Seek(0, soBeginning);
        dm.WriteBLOBValue(stream, blob_no, record_no);
      }
      dm.SetAutoFlush(true);
    }
    dm.FlushBuffers();
    return static_cast<int>(pending.size());
  }

  // Problems found in one table, each a line.
  std::vector<std::string> CheckTable(const std::string& name) {
    std::vector<std::string> problems;
    const std::string shown = Cp1251ToUtf8(name);
    std::string problem;
    TOrvelDataManager* opened = OpenTable(name, false, problem);
    if (opened == nullptr) return {problem};
    TOrvelDataManager& dm = *opened;
    const TOrvelTableFiles& table = dm.Table();
    const TRecordGeometry& geometry = table.Geometry();
    const int32_t count = dm.RecordCount();
    const auto size = static_cast<size_t>(geometry.RecordSize);

    // Records as the .dat holds them: an encrypted record must decipher to its CRC.
    std::vector<bool> readable(static_cast<size_t>(std::max(0, count)), true);
    TAbstractFile* dat = table.File(tfkData);
    if (dat == nullptr) return {fmt::format("table \"{}\": the .dat is not open", shown)};
    std::vector<uint8_t> raw(size);
    for (int32_t r = 0; r < count; ++r) {
      const int64_t offset = table.DataOffset() + static_cast<int64_t>(r) * geometry.RecordSize;
      if (offset + geometry.RecordSize > dat->GetSize() ||
          dat->Seek(static_cast<int32_t>(offset), soBeginning) < 0 ||
          dat->Read(raw.data(), geometry.RecordSize) != geometry.RecordSize) {
        problems.push_back(fmt::format("table \"{}\": record {} cannot be read", shown, r));
        readable[static_cast<size_t>(r)] = false;
        continue;
      }
      if (!table.Header().Encrypted) continue;
      try {
        ChangeBufferEncryption(raw.data(), geometry, dm.Password(), false);
      } catch (const std::exception& e) {
        problems.push_back(
            fmt::format("table \"{}\": record {}: checksum mismatch ({})", shown, r, e.what()));
        readable[static_cast<size_t>(r)] = false;
      }
    }

    CheckIndexes(dm, shown, readable, problems);
    CheckBlobs(dm, shown, readable, problems);
    return problems;
  }

  void CheckIndexes(TOrvelDataManager& dm, const std::string& shown,
                    const std::vector<bool>& readable, std::vector<std::string>& problems) {
    const TOrvelTableFiles& table = dm.Table();
    TAbstractFile* idx = table.File(tfkIndex);
    if (idx == nullptr) {
      problems.push_back(fmt::format("table \"{}\": the .idx is missing", shown));
      return;
    }
    const int32_t count = dm.RecordCount();
    const TIndexFileContents contents =
        ReadIndexFile(*idx, table.Header().Version, static_cast<int32_t>(table.Fields().size()),
                      count, table.Header().ChangeCounter);
    if (!contents.HasHeader || !contents.AllHeadersRead) {
      problems.push_back(
          fmt::format("table \"{}\": the .idx is damaged: {} of its index headers could be read",
                      shown, contents.Indexes.size()));
      return;
    }
    if (!contents.ArraysRead) {
      problems.push_back(
          fmt::format("table \"{}\": the .idx index arrays are damaged or out of date", shown));
      return;
    }
    if (std::find(readable.begin(), readable.end(), false) != readable.end()) return;
    const TRecordGeometry& geometry = table.Geometry();
    for (size_t i = 0; i < contents.Indexes.size() && count > 1; ++i) {
      const IndexHeaderType& header = contents.Indexes[i];
      const std::vector<int32_t>& array = contents.Arrays[i];
      try {
        const TIndexKeyComparer comparer(header, table.Fields(), geometry);
        std::vector<uint8_t> previous(dm.GetRecordPtr(array[0]),
                                      dm.GetRecordPtr(array[0]) + geometry.RecordSize);
        for (size_t k = 1; k < array.size(); ++k) {
          const uint8_t* current = dm.GetRecordPtr(array[k]);
          if (comparer.Compare(previous.data(), current) > 0) {
            problems.push_back(
                fmt::format("table \"{}\": index \"{}\" is out of order at position {}", shown,
                            Cp1251ToUtf8(header.Name), k));
            break;
          }
          previous.assign(current, current + geometry.RecordSize);
        }
      } catch (const std::exception& e) {
        problems.push_back(fmt::format("table \"{}\": index \"{}\": {}", shown,
                                       Cp1251ToUtf8(header.Name), e.what()));
      }
    }
  }

  void CheckBlobs(TOrvelDataManager& dm, const std::string& shown,
                  const std::vector<bool>& readable, std::vector<std::string>& problems) {
    if (!dm.Table().HasBlobs()) return;
    const std::vector<TColumn> columns = ColumnsOf(dm.Table());
    for (int32_t r = 0; r < dm.RecordCount(); ++r) {
      if (!readable[static_cast<size_t>(r)]) continue;
      for (const TColumn& column : columns) {
        if (column.BlobNo < 0) continue;
        try {
          TMemoryStream stream;
          dm.ReadBLOBValue(stream, column.BlobNo, r);
        } catch (const std::exception& e) {
          problems.push_back(fmt::format("table \"{}\": record {}, BLOB field \"{}\": {}", shown, r,
                                         Cp1251ToUtf8(column.Field.Name), e.what()));
        }
      }
    }
  }

  int Check(const std::string& db) {
    OpenDatabase(db, false);
    int damaged = 0;
    const std::vector<std::string> names = TableNames();
    for (const std::string& name : names) {
      std::vector<std::string> problems;
      try {
        problems = CheckTable(name);
      } catch (const std::exception& e) {
        problems.push_back(fmt::format("table \"{}\": {}", Cp1251ToUtf8(name), e.what()));
      }
      tables_.clear();
      for (const std::string& problem : problems) err_ << "orvdb: check: " << problem << '\n';
      if (!problems.empty()) ++damaged;
    }
    out_ << fmt::format("{} tables checked, {} damaged\n", names.size(), damaged);
    return damaged > 0 ? kOrvdbFailed : kOrvdbOk;
  }

  const CommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
  Env* env_;
  TOrvelEngineScope engine_;
  std::unique_ptr<TOrvelDatabase> database_;
  TOrvelDatabaseManager* manager_ = nullptr;
  std::vector<std::unique_ptr<TOrvelDataManager>> tables_;
  std::string password_;
  std::string table_password_;
};

}  // namespace

int RunOrvdb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, Env* env) {
  return RunCliCommand("orvdb", args, kUsage, out, err, [&] {
    return Orvdb(Parse(args), out, err, env ? env : Env::Default()).Run();
  });
}

}  // namespace orv
