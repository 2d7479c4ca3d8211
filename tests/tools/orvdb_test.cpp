#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/protect/checksum.h"
#include "platform/codepage.h"
#include "tests/support/temp_dir.h"
#include "tools/orvdb_cli.h"
#include "tools/orvdb_csv.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::TempDir;

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class OrvdbTest : public ::testing::Test {
 protected:
  OrvdbTest() {
    ::unsetenv("ORVDB_PASSWORD");
    ::unsetenv("ORVDB_TABLE_PASSWORD");
    folder_ = dir_.File("db");
    ::mkdir(folder_.c_str(), 0755);
  }

  Result Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunOrvdb(args, out, err);
    return {status, out.str(), err.str()};
  }
  std::string Ok(const std::vector<std::string>& args) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(args) << ": " << r.err;
    return r.out;
  }
  std::string Csv(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    WriteText(path, text);
    return path;
  }
  // Imports text into table T of the folder database.
  Result Import(const std::string& text, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"import", folder_, "T", Csv("in.csv", text)};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }
  std::string FieldLines(const std::string& table = "T") {
    std::string lines;
    std::istringstream schema(Ok({"schema", folder_, table}));
    for (std::string line; std::getline(schema, line);)
      if (line.rfind("field\t", 0) == 0) lines += line + "\n";
    return lines;
  }

  TempDir dir_;
  std::string folder_;
};

// Rows with Cyrillic text, commas, quotes, line breaks and empty (NULL) cells, in the form
// dump --csv writes, so that the round trip must give the same bytes.
std::string CyrillicCsv(int rows) {
  static const char* kCities[] = {"Москва", "Санкт-Петербург", "Новосибирск", "Ёлкино",
                                  "Юрьев-Польский"};
  std::string text = "N,NAME,PRICE,DAY,NOTE\r\n";
  for (int i = 0; i < rows; ++i) {
    std::string note;
    switch (i % 5) {
      case 0:
        note = "\"Модель, масштаб 1:43\"";
        break;
      case 1:
        note = "\"Сказал \"\"да\"\"\"";
        break;
      case 2:
        note = "\"строка 1\r\nстрока 2\"";
        break;
      case 3:
        note = "";
        break;
      default:
        note = "простая";
        break;
    }
    text += std::to_string(i - 5000) + "," + kCities[i % 5] + " " + std::to_string(i) + "," +
            (i % 7 == 0 ? std::string() : std::to_string(i) + ".25") + "," + "20" +
            std::to_string(10 + i % 15) + "-0" + std::to_string(1 + i % 9) + "-" +
            std::to_string(10 + i % 19) + "," + note + "\r\n";
  }
  return text;
}

TEST_F(OrvdbTest, TenThousandCyrillicRowsRoundTripThroughCp1251Storage) {
  const std::string text = CyrillicCsv(10000);
  const Result imported = Import(text);
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Ok({"dump", folder_, "T", "--csv"}), text);

  const std::string dat = ReadText(folder_ + "/T.dat");
  EXPECT_NE(dat.find(Utf8ToCp1251("Санкт-Петербург 1")), std::string::npos);
  EXPECT_EQ(dat.find("Санкт"), std::string::npos) << "text is stored as UTF-8";
  EXPECT_EQ(FieldLines(),
            "field\tN\tinteger\t0\toptional\n"
            "field\tNAME\tstring\t20\toptional\n"
            "field\tPRICE\tfloat\t0\toptional\n"
            "field\tDAY\tdate\t0\toptional\n"
            "field\tNOTE\tstring\t20\toptional\n");
  EXPECT_EQ(Ok({"check", folder_}), "1 tables checked, 0 damaged\n");
}

TEST_F(OrvdbTest, ContainerWithPasswordAndEncryptedTableRoundTrip) {
  const std::string container = dir_.File("c.ovb");
  const std::string text = CyrillicCsv(50);
  const std::string csv = Csv("in.csv", text);
  ASSERT_EQ(
      Run({"import", container, "Цены", csv, "--password", "pw", "--table-password", "tp"}).status,
      0);
  EXPECT_EQ(Ok({"tables", container, "--password", "pw"}), "Цены\n");
  EXPECT_EQ(Ok({"dump", container, "Цены", "--csv", "--password", "pw", "--table-password=tp"}),
            text);
  EXPECT_THAT(Ok({"schema", container, "Цены", "--password", "pw", "--table-password=tp"}),
              HasSubstr("\tencrypted"));

  Result no_password = Run({"dump", container, "Цены", "--password", "pw"});
  EXPECT_EQ(no_password.status, 1);
  EXPECT_THAT(no_password.err, HasSubstr("--table-password"));
  Result wrong = Run({"dump", container, "Цены", "--password", "pw", "--table-password", "x"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_THAT(wrong.err, HasSubstr("invalid table password"));
  EXPECT_EQ(Run({"tables", container, "--password", "wrong"}).status, 1);
}

TEST_F(OrvdbTest, HeaderTypesFixFieldTypesAndSizes) {
  ASSERT_EQ(Import("ID:autoinc,A:smallint,B:string:5,C:widestring:3,D:datetime,E:boolean,"
                   "F:time,G:bytes:2,H:memo,I:largeint,J:currency,K:word\r\n"
                   "7,-3,abc,Жук,2024-02-29 13:45:00.250,true,23:59:59,0aff,длинный текст,"
                   "-9000000000,1.5,65535\r\n"
                   ",,,,,,,,,,,\r\n")
                .status,
            0);
  EXPECT_EQ(FieldLines(),
            "field\tA\tsmallint\t0\toptional\n"
            "field\tB\tstring\t5\toptional\n"
            "field\tC\twidestring\t3\toptional\n"
            "field\tD\tdatetime\t0\toptional\n"
            "field\tE\tboolean\t0\toptional\n"
            "field\tF\ttime\t0\toptional\n"
            "field\tG\tbytes\t2\toptional\n"
            "field\tH\tmemo\t0\toptional\n"
            "field\tI\tlargeint\t0\toptional\n"
            "field\tJ\tcurrency\t0\toptional\n"
            "field\tK\tword\t0\toptional\n"
            "field\tID\tautoinc\t0\trequired\n");
  const std::string memo = Utf8ToCp1251("длинный текст");
  // The identifier is not a stored field, so it comes last; a generated one follows the given.
  EXPECT_EQ(Ok({"dump", folder_, "T", "--csv"}),
            "A,B,C,D,E,F,G,H,I,J,K,ID\r\n"
            "-3,abc,Жук,2024-02-29 13:45:00.250,true,23:59:59,0aff,"
            "\"13 bytes, CRC-32 " +
                fmt::format("{:08x}", Crc32(memo.data(), memo.size())) +
                "\",-9000000000,1.5,65535,7\r\n"
                ",,,,,,,,,,,8\r\n");
}

TEST_F(OrvdbTest, TypesAreInferredFromTheValues) {
  struct Case {
    std::string values;  // one cell per line
    std::string field;
    std::string header = "V";
  } cases[] = {
      {"1\n-2\n\n", "integer\t0"},
      {"1\n9000000000\n", "largeint\t0"},
      {"1\n2.5\n1e3\n", "float\t0"},
      {"2024-01-31\n1999-12-01\n", "date\t0"},
      {"2024-02-30\n", "string\t10"},
      {"12\nдвенадцать\n", "string\t10"},
      {"\n\n", "string\t1"},
      {"Ёж\nкот\n", "string\t3", "V:string"},
      {"0aff\nBEEF\n", "bytes\t2", "V:bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    ::system(("rm -rf '" + folder_ + "'/*").c_str());
    ASSERT_EQ(Import(c.header + "\n" + c.values).status, 0);
    EXPECT_EQ(FieldLines(), "field\tV\t" + c.field + "\toptional\n");
  }
}

TEST_F(OrvdbTest, CsvQuotingFollowsRfc4180) {
  const TCsvTable table = ParseCsv(
      "\xEF\xBB\xBF"
      "a,\"b,c\"\r\n\"x\"\"y\",\"1\n2\"\n,\r\n");
  EXPECT_EQ(table.Header, (std::vector<std::string>{"a", "b,c"}));
  ASSERT_EQ(table.Rows.size(), 2u);
  EXPECT_EQ(table.Rows[0], (std::vector<std::string>{"x\"y", "1\n2"}));
  EXPECT_EQ(table.Rows[1], (std::vector<std::string>{"", ""}));
  EXPECT_EQ(table.RowLines, (std::vector<int64_t>{2, 4}));

  std::ostringstream out;
  WriteCsvRow(out, {"plain", "a,b", "say \"hi\"", "two\nlines", " padded", ""});
  EXPECT_EQ(out.str(), "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\" padded\",\r\n");

  struct Bad {
    const char* text;
    const char* message;
  } bad[] = {
      {"a,b\r\n1,2,3\r\n", "line 2: 3 cells where the header has 2"},
      {"a\r\nx\"y\r\n", "line 2: a quote inside a cell that is not quoted"},
      {"a\r\n\"x\"y\r\n", "line 2: text after the closing quote"},
      {"a,b\r\n1,\"open\r\n\r\n", "line 2: a quoted cell is never closed"},
      {"", "no header"},
      {"a\rb\n", "carriage return"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    try {
      ParseCsv(b.text);
      ADD_FAILURE() << "no error";
    } catch (const TCsvError& e) {
      EXPECT_THAT(e.text, HasSubstr(b.message));
    }
  }
}

TEST_F(OrvdbTest, BadImportsFailAndLeaveNoTable) {
  struct Case {
    std::string csv;
    std::string message;
  } cases[] = {
      {"A:number\n1\n", "unknown type \"number\""},
      {"A:integer:4\n1\n", "type integer takes no size"},
      {"A:string:0\nx\n", "size \"0\""},
      {"A:string:2\nabc\n", "line 2, field \"A\": the text is longer than the field's 2"},
      {"A:integer\n1\nx\n", "line 3, field \"A\": \"x\" is not an integer"},
      {"A:date\n2023-02-29\n", "is not a date"},
      {"A\n\xE2\x82\xAC\xE2\x98\x83\n", "code page 1251 cannot hold"},
      {"A,a\n1,2\n", "appears twice"},
      {"A:blob\nxx\n", "cannot be imported from text"},
      {"A,B\n1\n", "1 cells where the header has 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csv);
    const Result r = Import(c.csv);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_THAT(Ok({"tables", folder_}), IsEmpty());
  }
}

TEST_F(OrvdbTest, ImportAppendsToAnExistingTable) {
  ASSERT_EQ(Import("A,B\n1,x\n").status, 0);
  ASSERT_EQ(Import("b,a\ny,2\n").status, 0);
  EXPECT_EQ(Ok({"dump", folder_, "T"}), "A\tB\n1\tx\n2\ty\n");
  const Result unknown = Import("C\n1\n");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_THAT(unknown.err, HasSubstr("column \"C\" is not a field of table \"T\""));
  const Result too_long = Import("B\nzz\n");
  EXPECT_EQ(too_long.status, 1);
  EXPECT_EQ(Ok({"dump", folder_, "T"}), "A\tB\n1\tx\n2\ty\n") << "a failed import added rows";
}

TEST_F(OrvdbTest, ExitStatusesAndUsage) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{}, 2, "no command given"},
      {{"frobnicate", "x"}, 2, "unknown command"},
      {{"schema", "x"}, 2, "wrong number of operands"},
      {{"tables", "x", "--csv"}, 2, "unknown option \"--csv\""},
      {{"tables", "x", "--password"}, 2, "needs a value"},
      {{"tables", "/nonexistent/db.ovb"}, 1, "no such database"},
      {{"schema", "FOLDER", "missing"}, 1, "table \"missing\" does not exist"},
      {{"import", "FOLDER", "T", "/nonexistent.csv"}, 1, "cannot open the file"},
  };
  for (Case& c : cases) {
    for (std::string& arg : c.args)
      if (arg == "FOLDER") arg = folder_;
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_THAT(r.err, HasSubstr(c.err));
  }
  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("orvdb import DB TABLE FILE.csv"));
}

// X is one integer field: 4 bytes of data, a 1-byte null bitmap, a 32-byte record header, so
// records of 36 bytes behind the 284-byte table header and one 267-byte field header.
constexpr size_t kOneIntRecord = 36;
constexpr size_t kOneIntDataOffset = 284 + 267;

TEST_F(OrvdbTest, CheckFindsAFlippedByteInAnEncryptedRecord) {
  ASSERT_EQ(Import("X\n1\n2\n3\n4\n", {"--table-password", "secret"}).status, 0);
  EXPECT_EQ(Run({"check", folder_, "--table-password", "secret"}).status, 0);

  const std::string dat_path = folder_ + "/T.dat";
  std::string dat = ReadText(dat_path);
  ASSERT_EQ(dat.size(), kOneIntDataOffset + 4 * kOneIntRecord);
  dat[kOneIntDataOffset + 2 * kOneIntRecord + 1] ^= 0x10;
  WriteText(dat_path, dat);

  const Result r = Run({"check", folder_, "--table-password", "secret"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("table \"T\": record 2: checksum mismatch"));
  EXPECT_THAT(r.out, HasSubstr("1 tables checked, 1 damaged"));
}

TEST_F(OrvdbTest, CheckFindsACorruptedIndexFile) {
  struct Case {
    const char* name;
    void (*corrupt)(std::string& idx);
    const char* message;
  } cases[] = {
      {"cut short", [](std::string& idx) { idx.resize(10); }, "the .idx is damaged"},
      {"field count", [](std::string& idx) { idx.replace(16 + 256, 4, "\xFF\xFF\xFF\x7F"); },
       "the .idx is damaged"},
      {"entries swapped",
       [](std::string& idx) {
         const size_t last = idx.size() - 4;
         std::swap_ranges(idx.begin() + static_cast<std::ptrdiff_t>(last - 4),
                          idx.begin() + static_cast<std::ptrdiff_t>(last),
                          idx.begin() + static_cast<std::ptrdiff_t>(last));
       },
       "is out of order at position 3"},
      {"entry repeated",
       [](std::string& idx) { idx.replace(idx.size() - 4, 4, idx, idx.size() - 8, 4); },
       "index arrays are damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::system(("rm -rf '" + folder_ + "'/*").c_str());
    ASSERT_EQ(Import("X\n1\n2\n3\n4\n").status, 0);
    const std::string idx_path = folder_ + "/T.idx";
    std::string idx = ReadText(idx_path);
    c.corrupt(idx);
    WriteText(idx_path, idx);
    const Result r = Run({"check", folder_});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.message));
  }
}

TEST_F(OrvdbTest, CheckFindsDamagedBlobFiles) {
  struct Case {
    const char* file;
    size_t offset;
    const char* message;
  } cases[] = {
      {"T.bdf", 3, "record 0, BLOB field \"M\": Error in TOrvelDataManager.mvReadBLOBValue"},
      {"T.bif", 30, "table \"T\" has corrupted BLOB headers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ::system(("rm -rf '" + folder_ + "'/*").c_str());
    ASSERT_EQ(Import("N,M:memo\n1,hello world hello world\n2,second memo\n").status, 0);
    const std::string path = folder_ + "/" + c.file;
    std::string bytes = ReadText(path);
    ASSERT_GT(bytes.size(), c.offset);
    bytes[c.offset] = static_cast<char>(bytes[c.offset] ^ 0xFF);
    WriteText(path, bytes);
    const Result r = Run({"check", folder_});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(c.message));
  }
}

}  // namespace
}  // namespace orv
