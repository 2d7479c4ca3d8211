#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/disk_file.h"
#include "engine/files/memory_file.h"
#include "platform/exception.h"
#include "tests/files/plain_fs_fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
using testing::PlainFsFaultEnv;
using testing::TempDir;
using ::testing::ThrowsMessage;

constexpr int kBegin = TAbstractFile::kFromBeginning;
constexpr int kCurrent = TAbstractFile::kFromCurrent;
constexpr int kEnd = TAbstractFile::kFromEnd;

std::string ReadAll(TAbstractFile& file) {
  file.SetPosition(0);
  std::string bytes(static_cast<size_t>(file.GetSize()), '\0');
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

void WriteText(TAbstractFile& file, const std::string& text) {
  file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

std::unique_ptr<TAbstractFile> NewDiskFile(const TempDir& dir, Env* env, const std::string& name) {
  return std::make_unique<TDiskFile>(nullptr, name, dir.path() + "/", env);
}

// The behaviour every kind of file object shares, run over each kind.
enum class Kind { kDisk, kMemory };

class FileObjectTest : public ::testing::TestWithParam<Kind> {
 protected:
  std::unique_ptr<TAbstractFile> NewFile(const std::string& name = "f.dat") {
    std::unique_ptr<TAbstractFile> file;
    if (GetParam() == Kind::kDisk)
      file = NewDiskFile(dir_, &env_, name);
    else
      file = std::make_unique<TMemoryFile>(nullptr, name);
    file->Open(true);
    return file;
  }

  TempDir dir_;
  PlainFsFaultEnv env_;
};

TEST_P(FileObjectTest, WritesReadsAndSeeks) {
  auto file = NewFile();
  WriteText(*file, "hello world");
  EXPECT_EQ(file->GetPosition(), 11);
  EXPECT_EQ(file->GetSize(), 11);
  EXPECT_EQ(file->Seek(-5, kEnd), 6);
  char word[5];
  file->ReadBuffer(word, 5);
  EXPECT_EQ(std::string(word, 5), "world");
  EXPECT_EQ(file->Read(word, 5), 0);  // at the end
  EXPECT_EQ(file->Seek(-11, kCurrent), 0);
  EXPECT_EQ(file->Read(word, 5), 5);
  EXPECT_EQ(std::string(word, 5), "hello");
}

TEST_P(FileObjectTest, SeekOutsideTheRangeFailsAndKeepsThePosition) {
  auto file = NewFile();
  WriteText(*file, "0123456789");
  file->SetPosition(4);
  struct Case {
    int32_t offset;
    int origin;
  };
  for (Case c : {Case{-1, kBegin}, Case{-5, kCurrent}, Case{-11, kEnd},
                 Case{TAbstractFile::kMaxSize, kCurrent}, Case{0, 3}}) {
    SCOPED_TRACE(std::to_string(c.offset) + " from " + std::to_string(c.origin));
    EXPECT_EQ(file->Seek(c.offset, c.origin), -1);
    EXPECT_EQ(file->GetPosition(), 4);
  }
  EXPECT_THAT([&] { file->SetPosition(-1); },
              ThrowsMessage<Exception>("TAbstractFile.SetPosition - Seek error"));
}

TEST_P(FileObjectTest, WritingPastTheEndFillsTheGapWithZeros) {
  auto file = NewFile();
  WriteText(*file, "ab");
  file->SetPosition(100);
  WriteText(*file, "z");
  std::string expected = "ab" + std::string(98, '\0') + "z";
  EXPECT_EQ(ReadAll(*file), expected);
}

TEST_P(FileObjectTest, SetSizeCutsAndExtends) {
  auto file = NewFile();
  WriteText(*file, "0123456789");
  file->SetSize(4);
  EXPECT_EQ(ReadAll(*file), "0123");
  file->SetSize(6);
  EXPECT_EQ(ReadAll(*file), std::string("0123\0\0", 6));
  EXPECT_THROW(file->SetSize(-1), Exception);
}

TEST_P(FileObjectTest, BufferTransfersRaiseOnShortCounts) {
  auto file = NewFile();
  WriteText(*file, "abc");
  file->SetPosition(0);
  char buffer[8];
  EXPECT_THAT([&] { file->ReadBuffer(buffer, 4); },
              ThrowsMessage<Exception>("TAbstractFile.ReadBuffer - Stream read error"));
  // A zero count moves nothing; on disk it must not reach Write, which would cut the file.
  file->SetPosition(1);
  file->ReadBuffer(buffer, 0);
  file->WriteBuffer(buffer, 0);
  EXPECT_EQ(file->GetSize(), 3);
  file->Close();
  EXPECT_THAT([&] { file->WriteBuffer("x", 1); },
              ThrowsMessage<Exception>("TAbstractFile.WriteBuffer - Stream write error"));
}

TEST_P(FileObjectTest, ClosedFileMovesNothing) {
  auto file = NewFile();
  WriteText(*file, "abc");
  file->Close();
  file->Close();
  EXPECT_FALSE(file->IsOpen());
  char buffer[4];
  EXPECT_EQ(file->Read(buffer, 4), 0);
  EXPECT_EQ(file->Write("abc", 3), 0);
  EXPECT_EQ(file->Seek(0, kBegin), -1);
  EXPECT_THROW(file->GetSize(), Exception);
  EXPECT_THROW(file->GetPosition(), Exception);
}

TEST_P(FileObjectTest, OpenWithCreateStartsEmpty) {
  auto file = NewFile();
  WriteText(*file, "abc");
  file->Open(true);
  EXPECT_EQ(file->GetSize(), 0);
  EXPECT_EQ(file->GetPosition(), 0);
}

// Copies between every pair of kinds, more than two copy buffers long.
TEST_P(FileObjectTest, CopyFromCopiesAcrossKinds) {
  // A period that no buffer size divides, so a chunk copied to the wrong place shows.
  std::string pattern(3 * TAbstractFile::kCopyBufferSize + 17, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % 251);
  for (Kind source_kind : {Kind::kDisk, Kind::kMemory}) {
    std::unique_ptr<TAbstractFile> source =
        source_kind == Kind::kDisk ? NewDiskFile(dir_, &env_, "source.dat")
                                   : std::make_unique<TMemoryFile>(nullptr, "source.dat");
    source->Open(true);
    WriteText(*source, pattern);

    auto whole = NewFile("whole.dat");
    source->SetPosition(1000);  // count 0 ignores the position
    EXPECT_EQ(whole->CopyFrom(*source, 0), static_cast<int32_t>(pattern.size()));
    EXPECT_EQ(ReadAll(*whole), pattern);

    auto part = NewFile("part.dat");
    source->SetPosition(1000);
    EXPECT_EQ(part->CopyFrom(*source, 70000), 70000);
    EXPECT_EQ(ReadAll(*part), pattern.substr(1000, 70000));

    source->SetPosition(static_cast<int32_t>(pattern.size()) - 10);
    EXPECT_THROW(part->CopyFrom(*source, 11), Exception);
    EXPECT_THROW(part->CopyFrom(*part, 0), Exception);
    EXPECT_THROW(part->CopyFrom(*source, -1), Exception);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileObjectTest, ::testing::Values(Kind::kDisk, Kind::kMemory),
                         [](const auto& info) {
                           return info.param == Kind::kDisk ? "Disk" : "Memory";
                         });

class DiskFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<TAbstractFile> NewFile(const std::string& name = "f.dat") {
    return NewDiskFile(dir_, &env_, name);
  }
  std::unique_ptr<TAbstractFile> NewFileWith(const std::string& name, const std::string& text) {
    auto file = NewFile(name);
    file->Open(true);
    WriteText(*file, text);
    file->Close();
    return file;
  }

  TempDir dir_;
  PlainFsFaultEnv env_;
};

TEST_F(DiskFileTest, ZeroCountWriteCutsTheFileAtThePosition) {
  auto file = NewFileWith("f.dat", "0123456789");
  file->Open(false);
  file->SetPosition(3);
  EXPECT_EQ(file->Write("", 0), 0);
  EXPECT_EQ(ReadAll(*file), "012");
}

TEST_F(DiskFileTest, OpenFailuresNameThePath) {
  auto missing = NewFile("missing.dat");
  EXPECT_THAT([&] { missing->Open(false); },
              ThrowsMessage<Exception>("Cannot open file \"" + dir_.File("missing.dat") + "\""));
  EXPECT_FALSE(missing->ReadOnly());  // the read-only retry leaves no trace

  auto nowhere = std::make_unique<TDiskFile>(nullptr, "f.dat", dir_.File("no/"), &env_);
  EXPECT_THAT([&] { nowhere->Open(true); },
              ThrowsMessage<Exception>("Cannot create file \"" + dir_.File("no/f.dat") + "\""));

  auto read_only = NewFileWith("ro.dat", "x");
  read_only->SetReadOnly(true);
  env_.FailOpen("ro.dat");
  EXPECT_THROW(read_only->Open(false), Exception);
  EXPECT_TRUE(read_only->ReadOnly());
}

TEST_F(DiskFileTest, FileThatCannotBeWrittenOpensReadOnly) {
  auto file = NewFileWith("f.dat", "data");
  env_.opens.clear();
  env_.fail_writable_open = true;
  file->Open(false);
  EXPECT_TRUE(file->ReadOnly());
  EXPECT_EQ(file->Write("x", 1), 0);
  EXPECT_EQ(ReadAll(*file), "data");
  file->Close();

  // The read-only attribute is honoured even where the system would let us write.
  env_.fail_writable_open = false;
  env_.read_only_paths.insert(dir_.File("f.dat"));
  env_.opens.clear();
  auto again = NewFile();
  again->Open(false);
  EXPECT_TRUE(again->ReadOnly());
  ASSERT_EQ(env_.opens.size(), 1u);
  EXPECT_TRUE(env_.opens[0].read_only);
  again->Close();
  EXPECT_THAT([&] { again->Open(true); },
              ThrowsMessage<Exception>("Cannot create file \"" + dir_.File("f.dat") + "\""));
}

TEST_F(DiskFileTest, ChangedMarksReopenAtTheSamePosition) {
  auto file = NewFileWith("f.dat", "0123456789");
  file->Open(false);
  file->SetPosition(7);
  file->SetExclusive(true);
  EXPECT_TRUE(env_.opens.back().exclusive);
  EXPECT_EQ(file->GetPosition(), 7);
  file->SetReadOnly(true);
  EXPECT_TRUE(env_.opens.back().read_only);
  EXPECT_EQ(file->GetPosition(), 7);
  char c;
  file->ReadBuffer(&c, 1);
  EXPECT_EQ(c, '7');
}

TEST_F(DiskFileTest, FailedReopenLeavesTheFileAsItWas) {
  auto file = NewFileWith("f.dat", "0123456789");
  file->Open(false);
  file->SetPosition(5);
  // Another holder keeps the exclusive lock out.
  std::unique_ptr<OsFile> other = Env::Default()->Open(dir_.File("f.dat"), FileOpenOptions{});
  ASSERT_NE(other, nullptr);
  EXPECT_THROW(file->SetExclusive(true), Exception);
  EXPECT_FALSE(file->Exclusive());
  ASSERT_TRUE(file->IsOpen());
  EXPECT_EQ(file->GetPosition(), 5);
  WriteText(*file, "x");
  EXPECT_EQ(ReadAll(*file), "01234x6789");
}

TEST_F(DiskFileTest, TemporaryFileLeavesTheFolderAndKeepsItsDataAcrossMarkChanges) {
  auto file = NewFile("t.dat");
  file->SetTemporary(true);
  file->Open(true);
  EXPECT_TRUE(env_.opens.back().delete_on_close);
  EXPECT_FALSE(Env::Default()->FileExists(dir_.File("t.dat")));
  WriteText(*file, "kept");
  file->SetReadOnly(true);
  file->SetExclusive(true);
  EXPECT_EQ(ReadAll(*file), "kept");
}

TEST_F(DiskFileTest, SizesBeyond32BitsFailClearly) {
  auto big = NewFileWith("big.dat", "x");
  env_.reported_size = int64_t{3} << 30;
  EXPECT_THAT([&] { big->Open(false); }, ThrowsMessage<Exception>(HasSubstr("is larger than")));
  EXPECT_FALSE(big->IsOpen());
  env_.reported_size = -1;

  // A sparse file at the very limit: a write may not carry the position past it.
  auto file = NewFile("edge.dat");
  file->Open(true);
  file->SetPosition(TAbstractFile::kMaxSize - 2);
  EXPECT_EQ(file->Write("abcde", 5), 2);
  EXPECT_EQ(file->GetSize(), TAbstractFile::kMaxSize);
  EXPECT_EQ(file->Write("a", 1), 0);
  env_.reported_size = int64_t{TAbstractFile::kMaxSize} + 1;
  EXPECT_THAT([&] { file->GetSize(); }, ThrowsMessage<Exception>(HasSubstr("is larger than")));
}

TEST_F(DiskFileTest, SystemFailuresRaise) {
  auto file = NewFile();
  file->Open(true);
  WriteText(*file, "abc");

  // A full disk refuses to grow the file.
  env_.LimitFileSize(5);
  EXPECT_THAT([&] { file->SetSize(10); },
              ThrowsMessage<Exception>(HasSubstr("TDiskFile.SetSize - Cannot set size")));
  EXPECT_THAT([&] { WriteText(*file, "defg"); },
              ThrowsMessage<Exception>("TAbstractFile.WriteBuffer - Stream write error"));
  env_.ClearFaults();

  env_.fail_flush = true;
  EXPECT_THAT([&] { file->Flush(); },
              ThrowsMessage<Exception>(HasSubstr("TDiskFile.Flush - Cannot flush")));
  EXPECT_THAT([&] { file->Close(); },
              ThrowsMessage<Exception>(HasSubstr("TDiskFile.Close - Cannot flush")));
  EXPECT_FALSE(file->IsOpen());
}

TEST(MemoryFileTest, ExistsOnlyFromItsCreation) {
  TMemoryFile file(nullptr, "m.dat");
  EXPECT_THAT([&] { file.Open(false); },
              ThrowsMessage<Exception>(
                  "TMemoryFile.Open - File cannot be open, only creation is available."));
  file.Open(true);
  WriteText(file, "abc");
  // The position stays unless the end moves before it.
  file.SetPosition(1);
  file.SetSize(10);
  EXPECT_EQ(file.GetPosition(), 1);
  file.SetSize(0);
  EXPECT_EQ(file.GetPosition(), 0);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace orv
