// Feeds arbitrary text to the record search parser and evaluates what parses over a small
// table: every input must end in an exception or a result, never a crash or a hang. What
// parses must select the same records through Parse and through MatchesRecord, and through
// the table's indexes as well as by testing every record.
//
// Input: one byte of settings (bits 0-1 the search options, bit 2 a decimal comma), then the
// condition text.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "engine/storage/search_parser.h"
#include "platform/exception.h"
#include "platform/value_text.h"
#include "tests/storage/search_table.h"

namespace {

using orv::testing::Field;
using orv::testing::SearchTable;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::unique_ptr<SearchTable> MakeTable() {
  auto t = std::make_unique<SearchTable>(std::vector<orv::FieldHeaderType>{
      Field("Name", orv::ftString, 10), Field("Year", orv::ftInteger), Field("Price", orv::ftFloat),
      Field("notes", orv::ftString, 4), Field("Flag", orv::ftBoolean),
      Field("Wide", orv::ftWideString, 8), Field("Born", orv::ftDate), Field("At", orv::ftTime),
      Field("When", orv::ftDateTime), Field("Small", orv::ftSmallint), Field("W", orv::ftWord),
      Field("Big", orv::ftLargeint), Field("Cur", orv::ftCurrency)});
  t->Add({{"Name", "Abc"}, {"Year", 1990}, {"Price", 5.0}, {"Flag", 1}, {"Wide", "Abz"}});
  t->Add({{"Name", "ab"}, {"Year", 1991}, {"Price", 1.5}, {"Flag", 0}, {"Born", "05.03.2024"}});
  t->Add({{"Name", "O'B"}, {"notes", "x"}, {"At", "9:05:03"}, {"Small", -3}, {"W", 65535}});
  t->Add({{"Wide", "ab"}, {"When", "05.03.2024 9:05:03.250"}, {"Big", int64_t(1) << 40}});
  t->Add({{"Name", "\xC0\xE1\xE2"}, {"Year", -1}, {"Price", -0.0}, {"Cur", 12.25}});
  t->Add({});
  t->Add({{"Name", "%_"}, {"Year", 2000}, {"notes", "note"}, {"Born", "01.01.0001"}});
  t->Add({{"Name", "Abd"}, {"Year", 1990}, {"Price", 1e300}, {"When", "31.12.9999 23:59:59"}});
  return t;
}

struct Tables {
  std::unique_ptr<SearchTable> plain = MakeTable();
  std::unique_ptr<SearchTable> indexed = MakeTable();
  Tables() {
    indexed->Indexes().CreateAutoIndexes(true);
    indexed->Indexes().AddIndex("ByYearName", "Year;Name", true, "Name", "", 0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static Tables tables;
  const uint8_t options = data[0] & 3;
  orv::SetDecimalSeparator((data[0] & 4) != 0 ? ',' : '.');
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  orv::TSearchParser plain(tables.plain->Search()), indexed(tables.indexed->Search());
  bool parsed = true;
  try {
    plain.SetExpression(text, options);
  } catch (const orv::Exception&) {
    parsed = false;
  }
  try {
    indexed.SetExpression(text, options);
    Check(parsed);
  } catch (const orv::Exception&) {
    Check(!parsed);
  }
  if (!parsed || plain.ItemCount() == 0) return 0;

  const orv::TBitsArray& by_scan = plain.Parse();
  const orv::TBitsArray& by_index = indexed.Parse();
  orv::testing::VectorRecords& records = tables.plain->Records();
  Check(by_scan.Count() == records.RecordCount() && by_index.Count() == by_scan.Count());
  for (int32_t r = 0; r < records.RecordCount(); ++r) {
    Check(by_scan.IsSet(r) == by_index.IsSet(r));
    Check(plain.MatchesRecord(records.GetRecordPtr(r)) == by_scan.IsSet(r));
  }
  return 0;
}
