#include "engine/files/osfs_part_file.h"

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using testing::MessageOf;

class PartFileTest : public ::testing::Test {
 protected:
  // A disk part and a memory part, both created empty.
  std::vector<std::unique_ptr<TOSFSAbstractFile>> BothKinds() {
    std::vector<std::unique_ptr<TOSFSAbstractFile>> files;
    files.push_back(std::make_unique<TOSFSDiskFile>(dir_.File("d")));
    files.push_back(std::make_unique<TOSFSMemoryFile>("m"));
    for (auto& file : files) EXPECT_TRUE(file->Open(true));
    return files;
  }

  testing::TempDir dir_;
};

TEST_F(PartFileTest, StreamOperationsAgreeForBothKinds) {
  for (auto& file : BothKinds()) {
    SCOPED_TRACE(file->FileName());
    file->WriteBuffer("0123456789", 10);
    EXPECT_EQ(file->GetPosition(), 10);
    EXPECT_EQ(file->GetSize(), 10);
    EXPECT_EQ(file->Seek(2, -3), 7);
    char buffer[8] = {};
    EXPECT_EQ(file->Read(buffer, 8), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(file->Seek(1, -11), -1);  // before the start: refused, position kept
    EXPECT_EQ(file->GetPosition(), 10);
    EXPECT_EQ(MessageOf([&] { file->ReadBuffer(buffer, 1); }),
              "TOSFSAbstractFile.ReadBuffer - Stream read error");
    ASSERT_TRUE(file->SetSize(4));
    EXPECT_EQ(file->GetSize(), 4);
    ASSERT_TRUE(file->SetSize(6));
    file->SetPosition(0);
    file->ReadBuffer(buffer, 6);
    EXPECT_EQ(std::string(buffer, 6), std::string("0123\0\0", 6));
  }
}

TEST_F(PartFileTest, ReadOnlyPartsRefuseWrites) {
  for (auto& file : BothKinds()) {
    SCOPED_TRACE(file->FileName());
    file->WriteBuffer("abc", 3);
    file->SetReadOnly(true);
    EXPECT_EQ(file->GetPosition(), 3);  // a disk part reopens and keeps its place
    EXPECT_EQ(file->Write("d", 1), 0);
    EXPECT_EQ(MessageOf([&] { file->WriteBuffer("d", 1); }),
              "TOSFSAbstractFile.WriteBuffer - Stream write error");
    EXPECT_FALSE(file->SetSize(1));
    EXPECT_EQ(file->GetSize(), 3);
  }
}

TEST_F(PartFileTest, DiskWriteOfNothingCutsTheFile) {
  TOSFSDiskFile file(dir_.File("d"));
  ASSERT_TRUE(file.Open(true));
  file.WriteBuffer("abcdef", 6);
  file.SetPosition(2);
  EXPECT_EQ(file.Write("", 0), 0);
  EXPECT_EQ(file.GetSize(), 2);
}

TEST_F(PartFileTest, DiskOpenReportsFailureWithoutRaising) {
  TOSFSDiskFile missing(dir_.File("none"));
  EXPECT_FALSE(missing.Open(false));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.GetSize(), -1);
  char byte;
  EXPECT_EQ(missing.Read(&byte, 1), 0);

  TOSFSDiskFile first(dir_.File("d"));
  first.SetExclusive(true);
  ASSERT_TRUE(first.Open(true));
  TOSFSDiskFile second(dir_.File("d"));
  EXPECT_FALSE(second.Open(false));
}

TEST_F(PartFileTest, MemoryPartCanOnlyBeCreated) {
  TOSFSMemoryFile file("m");
  EXPECT_EQ(MessageOf([&] { file.Open(false); }),
            "TOSFSMemoryFile.Open - File cannot be open, only creation is available.");
  EXPECT_FALSE(file.SetSize(TOSFSMemoryFile::kMaxSize + 1));
}

TEST_F(PartFileTest, CopyFromMovesBytesInBufferSizedSteps) {
  testing::FaultEnv env;
  TOSFSDiskFile source(dir_.File("s"), &env);
  ASSERT_TRUE(source.Open(true));
  const auto data = testing::PatternBytes(150000);
  source.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  TOSFSMemoryFile target("t");
  ASSERT_TRUE(target.Open(true));
  env.ResetCounts();
  EXPECT_EQ(target.CopyFrom(source, 0), 150000);  // 0: the whole source from its start
  EXPECT_EQ(env.Counts().reads, 3);               // 61440-byte steps
  std::vector<uint8_t> copy(data.size());
  target.SetPosition(0);
  target.ReadBuffer(copy.data(), static_cast<int64_t>(copy.size()));
  EXPECT_EQ(copy, data);

  source.SetPosition(149990);
  EXPECT_EQ(MessageOf([&] { target.CopyFrom(source, 20); }),
            "TOSFSAbstractFile.ReadBuffer - Stream read error");
}

}  // namespace
}  // namespace orv
