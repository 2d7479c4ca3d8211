#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/disk_plain_file_system.h"
#include "engine/files/memory_plain_file_system.h"
#include "engine/files/temporary_plain_file_system.h"
#include "platform/exception.h"
#include "tests/files/plain_fs_fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::PlainFsFaultEnv;
using testing::TempDir;
using ::testing::ThrowsMessage;

void WriteText(TAbstractFile* file, const std::string& text) {
  file->WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

std::string ReadAll(TAbstractFile* file) {
  file->SetPosition(0);
  std::string bytes(static_cast<size_t>(file->GetSize()), '\0');
  file->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

void MakeDiskFile(const std::string& path, const std::string& text = "") {
  std::unique_ptr<OsFile> file = Env::Default()->Open(path, FileOpenOptions{.create = true});
  ASSERT_NE(file, nullptr) << path;
  ASSERT_EQ(file->WriteAt(0, text.data(), static_cast<int64_t>(text.size())),
            static_cast<int64_t>(text.size()));
}

std::vector<std::string> Found(TAbstractPlainFileSystem& pfs, const std::string& extension) {
  std::vector<std::string> list = {"stale"};
  pfs.FindFiles(extension, &list);
  return list;
}

class DiskPlainFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
  PlainFsFaultEnv env_;
  TDiskPlainFileSystem pfs_{dir_.path(), &env_};
};

TEST_F(DiskPlainFileSystemTest, FolderPathEndsInOneSeparator) {
  struct Case {
    const char* given;
    const char* folder;
  };
  for (Case c : {Case{"/data/db", "/data/db/"}, Case{"/data/db/", "/data/db/"}, Case{"", ""}}) {
    TDiskPlainFileSystem pfs(c.given);
    EXPECT_EQ(pfs.FolderPath(), c.folder) << c.given;
    EXPECT_EQ(pfs.Location(), c.given);
    EXPECT_EQ(pfs.StoreMode(), kStoreModeDisk);
  }
}

TEST_F(DiskPlainFileSystemTest, SecondOpenOfAnOpenFileRaises) {
  TAbstractFile* file = pfs_.OpenFile("T.dat", true, false, false);
  WriteText(file, "rows");
  EXPECT_THAT([&] { pfs_.OpenFile("T.dat", false, false, false); },
              ThrowsMessage<Exception>("TDiskPlainFileSystem.OpenFile - File \"" +
                                       dir_.File("T.dat") + "\" is already open."));
  // Names on disk keep their case: t.dat is another file.
  TAbstractFile* other = pfs_.OpenFile("t.dat", true, false, false);
  EXPECT_NE(other, file);

  pfs_.CloseFile(file);
  EXPECT_EQ(pfs_.Files().size(), 1u);
  TAbstractFile* again = pfs_.OpenFile("T.dat", false, false, true);
  EXPECT_EQ(ReadAll(again), "rows");
  EXPECT_TRUE(env_.opens.back().exclusive);
}

TEST_F(DiskPlainFileSystemTest, OpenFileFailureAddsNothing) {
  EXPECT_THAT([&] { pfs_.OpenFile("missing.dat", false, false, false); },
              ThrowsMessage<Exception>(HasSubstr("Cannot open file")));
  EXPECT_THAT(pfs_.Files(), IsEmpty());
}

TEST_F(DiskPlainFileSystemTest, FileOperationsActOnTheFolder) {
  MakeDiskFile(dir_.File("a.dat"), "a");
  MakeDiskFile(dir_.File("b.dat"), "b");
  EXPECT_TRUE(pfs_.FileExists("a.dat"));
  EXPECT_FALSE(pfs_.FileExists("c.dat"));
  EXPECT_FALSE(pfs_.RenameFile("a.dat", "b.dat"));  // never replaces
  EXPECT_TRUE(pfs_.RenameFile("a.dat", "c.dat"));
  EXPECT_TRUE(Env::Default()->FileExists(dir_.File("c.dat")));

  // An open file stays where it is: unlinking it would send its writes nowhere.
  TAbstractFile* open = pfs_.OpenFile("c.dat", false, false, false);
  EXPECT_FALSE(pfs_.DeleteFile("c.dat"));
  EXPECT_FALSE(pfs_.RenameFile("c.dat", "d.dat"));
  EXPECT_FALSE(pfs_.RenameFile("b.dat", "c.dat"));
  pfs_.CloseFile(open);
  EXPECT_TRUE(pfs_.DeleteFile("c.dat"));
  EXPECT_FALSE(pfs_.DeleteFile("c.dat"));
}

TEST_F(DiskPlainFileSystemTest, NamesThatLeaveTheFolderAreRefused) {
  TempDir outside;
  MakeDiskFile(outside.File("x.dat"), "keep");
  std::string escape = "../" + ExtractFileName(outside.path()) + "/x.dat";
  for (const std::string& name : {std::string(), std::string("."), std::string(".."), escape,
                                  std::string("sub/x.dat"), std::string("x\0.dat", 6)}) {
    SCOPED_TRACE(name);
    EXPECT_THAT([&] { pfs_.OpenFile(name, true, false, false); },
                ThrowsMessage<Exception>(HasSubstr("Invalid file name")));
    EXPECT_FALSE(pfs_.FileExists(name));
    EXPECT_FALSE(pfs_.DeleteFile(name));
    EXPECT_FALSE(pfs_.RenameFile(name, "y.dat"));
  }
  EXPECT_TRUE(Env::Default()->FileExists(outside.File("x.dat")));
}

TEST_F(DiskPlainFileSystemTest, FindFilesListsMatchingFilesWithoutExtension) {
  for (const char* name : {"b.dat", "a.dat", "c.idx", "x.DAT", ".dat", "v.1.dat"})
    MakeDiskFile(dir_.File(name));
  ASSERT_TRUE(Env::Default()->CreateDirectory(dir_.File("sub.dat")));
  EXPECT_THAT(Found(pfs_, ".dat"), ElementsAre("a", "b", "v.1"));
  EXPECT_THAT(Found(pfs_, ".idx"), ElementsAre("c"));

  TDiskPlainFileSystem missing(dir_.File("missing"));
  EXPECT_THAT(Found(missing, ".dat"), IsEmpty());
}

class TemporaryPlainFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
  PlainFsFaultEnv env_;
  std::unique_ptr<TTemporaryPlainFileSystem> pfs_ =
      std::make_unique<TTemporaryPlainFileSystem>(dir_.path(), &env_);
};

TEST_F(TemporaryPlainFileSystemTest, FilesAreReusedAndLeaveNoTrace) {
  TAbstractFile* file = pfs_->OpenFile("t.dat", true, false, false);
  EXPECT_EQ(pfs_->StoreMode(), kStoreModeTemporary);
  EXPECT_TRUE(file->Temporary());
  EXPECT_TRUE(env_.opens.back().delete_on_close);
  WriteText(file, "scratch");
  pfs_->CloseFile(file);

  // Still there for the next open, at its start, though gone from the folder.
  EXPECT_FALSE(Env::Default()->FileExists(dir_.File("t.dat")));
  EXPECT_TRUE(pfs_->FileExists("t.dat"));
  EXPECT_THAT(Found(*pfs_, ".dat"), ElementsAre("t"));
  EXPECT_EQ(pfs_->OpenFile("t.dat", false, false, false), file);
  EXPECT_EQ(file->GetPosition(), 0);
  EXPECT_EQ(ReadAll(file), "scratch");
  EXPECT_EQ(pfs_->OpenFile("t.dat", true, false, false), file);
  EXPECT_EQ(file->GetSize(), 0);

  pfs_.reset();
  std::vector<DirEntry> entries;
  ASSERT_TRUE(Env::Default()->ListDirectory(dir_.path(), &entries));
  EXPECT_THAT(entries, IsEmpty());
}

TEST_F(TemporaryPlainFileSystemTest, DeleteAndRenameWorkOnOpenFiles) {
  TAbstractFile* file = pfs_->OpenFile("a.dat", true, false, false);
  WriteText(file, "moved");
  pfs_->OpenFile("b.dat", true, false, false);
  MakeDiskFile(dir_.File("c.dat"));

  EXPECT_FALSE(pfs_->RenameFile("a.dat", "b.dat"));
  EXPECT_FALSE(pfs_->RenameFile("a.dat", "c.dat"));
  EXPECT_TRUE(pfs_->RenameFile("a.dat", "d.dat"));
  EXPECT_FALSE(pfs_->FileExists("a.dat"));
  EXPECT_EQ(ReadAll(pfs_->OpenFile("d.dat", false, false, false)), "moved");

  EXPECT_TRUE(pfs_->DeleteFile("b.dat"));
  EXPECT_FALSE(pfs_->FileExists("b.dat"));
  EXPECT_TRUE(pfs_->DeleteFile("c.dat"));  // a plain file of the folder
  EXPECT_FALSE(Env::Default()->FileExists(dir_.File("c.dat")));
  EXPECT_FALSE(pfs_->DeleteFile("c.dat"));
}

class MemoryPlainFileSystemTest : public ::testing::Test {
 protected:
  TMemoryPlainFileSystem pfs_{"MEMORY"};
};

TEST_F(MemoryPlainFileSystemTest, ReopenReturnsTheSameFileAtItsStart) {
  TAbstractFile* file = pfs_.OpenFile("T.dat", true, false, false);
  WriteText(file, "rows");
  pfs_.CloseFile(file);

  TAbstractFile* again = pfs_.OpenFile("t.DAT", false, true, false);
  EXPECT_EQ(again, file);
  EXPECT_EQ(again->GetPosition(), 0);
  EXPECT_TRUE(again->ReadOnly());
  EXPECT_EQ(ReadAll(again), "rows");

  EXPECT_EQ(pfs_.OpenFile("T.dat", true, false, false), file);
  EXPECT_EQ(file->GetSize(), 0);
  EXPECT_FALSE(file->ReadOnly());
}

TEST_F(MemoryPlainFileSystemTest, OpeningAMissingFileWithoutCreateRaises) {
  EXPECT_THAT([&] { pfs_.OpenFile("x.dat", false, false, false); },
              ThrowsMessage<Exception>(
                  "TMemoryFile.Open - File cannot be open, only creation is available."));
  EXPECT_FALSE(pfs_.FileExists("x.dat"));
  EXPECT_THAT(pfs_.Files(), IsEmpty());
}

TEST_F(MemoryPlainFileSystemTest, NamesCompareWithoutCase) {
  WriteText(pfs_.OpenFile("a.dat", true, false, false), "a");
  pfs_.OpenFile("b.dat", true, false, false);
  EXPECT_TRUE(pfs_.FileExists("A.DAT"));
  EXPECT_FALSE(pfs_.RenameFile("a.dat", "B.dat"));
  EXPECT_FALSE(pfs_.RenameFile("missing.dat", "c.dat"));
  EXPECT_TRUE(pfs_.RenameFile("a.dat", "A.Dat"));
  EXPECT_TRUE(pfs_.RenameFile("A.DAT", "c.dat"));
  EXPECT_FALSE(pfs_.FileExists("a.dat"));
  EXPECT_EQ(ReadAll(pfs_.OpenFile("C.dat", false, false, false)), "a");
  EXPECT_TRUE(pfs_.DeleteFile("B.DAT"));
  EXPECT_FALSE(pfs_.DeleteFile("b.dat"));
  EXPECT_FALSE(pfs_.FileExists("b.dat"));
}

TEST_F(MemoryPlainFileSystemTest, FindFilesMatchesTheExtensionWithoutCase) {
  for (const char* name : {"b.DAT", "a.dat", "c.idx", "d.dat.bak", "e"})
    pfs_.OpenFile(name, true, false, false);
  EXPECT_THAT(Found(pfs_, ".dat"), ElementsAre("a", "b"));
  EXPECT_THAT(Found(pfs_, ".IDX"), ElementsAre("c"));
  EXPECT_THAT(Found(pfs_, ""), ElementsAre("e"));
}

}  // namespace
}  // namespace orv
