#include "platform/streams.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/string_list.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

std::string ReadAll(TStream& stream) {
  stream.SetPosition(0);
  std::string data(static_cast<size_t>(stream.Size()), '\0');
  stream.ReadBuffer(data.data(), stream.Size());
  return data;
}

TEST(MemoryStream, ReadsWritesSeeksAndGrowsWithZeros) {
  TMemoryStream stream;
  stream.WriteBuffer("abcdef", 6);
  EXPECT_EQ(stream.Position(), 6);
  EXPECT_EQ(stream.Seek(-2, soEnd), 4);
  char two[2];
  EXPECT_EQ(stream.Read(two, 10), 2);
  EXPECT_EQ(std::string(two, 2), "ef");
  EXPECT_EQ(stream.Read(two, 1), 0);  // at the end

  stream.Seek(3, soCurrent);  // three past the end
  stream.WriteBuffer("Z", 1);
  EXPECT_EQ(ReadAll(stream), std::string("abcdef\0\0\0Z", 10));

  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(ReadAll(stream), "ab");
  EXPECT_THROW(stream.Seek(-3, soCurrent), EStreamError);
  stream.SetPosition(1);
  char three[3];
  try {
    stream.ReadBuffer(three, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

TEST(MemoryStream, RefusesSizesBeyondTwoGigabytesInsteadOfAllocating) {
  TMemoryStream stream;
  EXPECT_THROW(stream.SetSize(int64_t{1} << 40), EStreamError);
  stream.Seek(int64_t{1} << 40, soBeginning);
  EXPECT_THROW(stream.WriteBuffer("x", 1), EStreamError);
  EXPECT_EQ(stream.Size(), 0);
}

TEST(MemoryStream, CopyFromWithCountZeroCopiesTheWholeSource) {
  TMemoryStream source, target;
  source.WriteBuffer("hello", 5);
  source.SetPosition(3);
  EXPECT_EQ(target.CopyFrom(source, 0), 5);
  EXPECT_EQ(ReadAll(target), "hello");
  source.SetPosition(1);
  target.SetSize(0);
  EXPECT_EQ(target.CopyFrom(source, 2), 2);
  EXPECT_EQ(ReadAll(target), "el");
  EXPECT_THROW(target.CopyFrom(source, 10), EReadError);
}

TEST(FileStream, WritesAFileAndReadsItBackThroughAMemoryStream) {
  testing::TempDir dir;
  {
    TFileStream file(dir.File("a.bin"), fmCreate);
    file.WriteBuffer("12345", 5);
    file.SetSize(4);
    EXPECT_EQ(file.Size(), 4);
  }
  TMemoryStream memory;
  memory.LoadFromFile(dir.File("a.bin"));
  EXPECT_EQ(ReadAll(memory), "1234");
  memory.SaveToFile(dir.File("b.bin"));
  TFileStream copy(dir.File("b.bin"), fmOpenRead);
  EXPECT_EQ(ReadAll(copy), "1234");
  EXPECT_THROW(copy.WriteBuffer("x", 1), EWriteError);
}

TEST(FileStream, NamesTheFileWhenItCannotBeOpened) {
  testing::TempDir dir;
  std::string path = dir.File("missing.bin");
  try {
    TFileStream file(path, fmOpenRead);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + path + "\". No such file or directory");
  }
  EXPECT_THROW(TFileStream(dir.File("no/such/dir.bin"), fmCreate), EStreamError);
}

TEST(StringList, TextJoinsWithCrLfAndSplitsAtAnyLineBreak) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\n\nb", {"a", "", "b"}},
      {"\r\n", {""}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.SetText(c.text);
    ASSERT_EQ(list.Count(), static_cast<int>(c.lines.size())) << c.text;
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list[i], c.lines[static_cast<size_t>(i)]);
  }
  TStringList list;
  list.Add("Select *");
  list.Add("from Main");
  EXPECT_EQ(list.Text(), "Select *\r\nfrom Main\r\n");
}

TEST(StringList, ChangeEventsFireOncePerUpdateBracket) {
  TStringList list;
  int changing = 0, changed = 0;
  list.OnChanging = [&](TStringList*) { ++changing; };
  list.OnChange = [&](TStringList* sender) {
    EXPECT_EQ(sender, &list);
    ++changed;
  };
  list.Add("a");
  EXPECT_EQ(changed, 1);
  list.BeginUpdate();
  list.Add("b");
  list.Insert(0, "c");
  list.Delete(1);
  EXPECT_EQ(changed, 1);
  list.EndUpdate();
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(changing, 2);
  list.SetText("x\ny");
  EXPECT_EQ(changed, 3);
  list.Clear();
  list.Clear();  // already empty: no change
  EXPECT_EQ(changed, 4);

  list.Add("Name");
  EXPECT_EQ(list.IndexOf("NAME"), 0);
  EXPECT_EQ(list.IndexOf("other"), -1);
  try {
    list.Delete(5);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (5)");
  }
  EXPECT_THROW(list.Insert(-1, "x"), Exception);
}

}  // namespace
}  // namespace orv
