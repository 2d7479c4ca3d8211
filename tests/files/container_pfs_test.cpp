#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/files/osfs_plain_file_system.h"
#include "engine/files/page_file_manager.h"
#include "engine/files/pfs_manager.h"
#include "platform/exception.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::MessageOf;
using testing::PatternBytes;
using testing::TempDir;

class ContainerPFSTest : public ::testing::Test {
 protected:
  ContainerPFSTest() { InstallContainerFileSystems(manager_); }

  // The plain file system of a container that CreateContainer made.
  TOSFSPlainFileSystem* Create(const std::string& password = {},
                               TDatabaseFileMode mode = dfmNormal) {
    EXPECT_TRUE(manager_.CreateContainer(path_, password, mode, false))
        << manager_.LastErrorMessage();
    return Get(password);
  }
  TOSFSPlainFileSystem* Get(const std::string& password = {}, bool* read_only = nullptr,
                            const std::string& location = {}) {
    bool unused = false;
    return dynamic_cast<TOSFSPlainFileSystem*>(
        manager_.GetPFSHandle(location.empty() ? path_ : location, password, dfmNormal, false,
                              read_only ? *read_only : unused, kStoreModeContainer));
  }
  static void Put(TAbstractPlainFileSystem* pfs, const std::string& name,
                  const std::vector<uint8_t>& bytes) {
    TAbstractFile* file = pfs->OpenFile(name, true, false, false);
    file->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    pfs->CloseFile(file);
  }

  TempDir dir_;
  std::string path_ = dir_.File("Data.ovb");
  TPFSManager manager_;
};

TEST_F(ContainerPFSTest, FilesKeepTheirBytesAcrossReopen) {
  const std::vector<uint8_t> bytes = PatternBytes(10000);
  for (TDatabaseFileMode mode : {dfmCompact, dfmNormal, dfmLarge}) {
    SCOPED_TRACE(mode);
    TOSFSPlainFileSystem* pfs = Create("pw", mode);
    ASSERT_NE(pfs, nullptr);
    EXPECT_EQ(pfs->Container().PageFile().Header().PageSize, PageLayoutOf(mode).PageSize);
    TAbstractFile* file = pfs->OpenFile("t.dat", true, false, false);
    file->WriteBuffer(bytes.data(), 6000);
    file->SetPosition(4000);
    file->WriteBuffer(bytes.data() + 4000, 6000);
    EXPECT_EQ(file->GetSize(), 10000);
    file->SetSize(9000);
    EXPECT_EQ(file->GetSize(), 9000);
    // Releasing with the file still open frees the file object before its container.
    manager_.ReleasePFS(path_);

    pfs = Get("pw");
    ASSERT_NE(pfs, nullptr);
    file = pfs->OpenFile("T.DAT", false, false, false);
    std::vector<uint8_t> back(9000);
    file->ReadBuffer(back.data(), 9000);
    EXPECT_EQ(back, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9000));
    EXPECT_EQ(file->Read(back.data(), 1), 0);
    // A changed mark reopens the file where it was.
    file->SetPosition(123);
    file->SetExclusive(true);
    EXPECT_EQ(file->GetPosition(), 123);
    manager_.ReleasePFS(path_);
  }
}

TEST_F(ContainerPFSTest, OpeningAnOpenFileTwiceRaises) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  TAbstractFile* file = pfs->OpenFile("T.dat", true, false, false);
  for (const char* again : {"T.dat", "t.DAT", "\\T.dat", "..\\T.dat"}) {
    SCOPED_TRACE(again);
    EXPECT_THAT(MessageOf([&] { pfs->OpenFile(again, false, false, false); }),
                HasSubstr("TOSFSPlainFileSystem.OpenFile - File \"" + std::string(again) +
                          "\" is already open."));
  }
  EXPECT_EQ(pfs->Files().size(), 1u);
  pfs->CloseFile(file);
  EXPECT_NE(pfs->OpenFile("t.dat", false, false, false), nullptr);
}

TEST_F(ContainerPFSTest, OpenAndCreateFailuresRaise) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  EXPECT_EQ(MessageOf([&] { pfs->OpenFile("none.dat", false, false, false); }),
            "Cannot open file \"none.dat\"");
  EXPECT_EQ(MessageOf([&] { pfs->OpenFile("missing\\x.dat", true, false, false); }),
            "Cannot create file \"missing\\x.dat\"");
  EXPECT_TRUE(pfs->Files().empty());
}

TEST_F(ContainerPFSTest, ReadOnlyAttributeGivesAReadOnlyStore) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  Put(pfs, "t.dat", PatternBytes(100));
  manager_.ReleasePFS(path_);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);

  bool read_only = false;
  pfs = Get("", &read_only);
  ASSERT_NE(pfs, nullptr);
  EXPECT_TRUE(read_only);
  EXPECT_TRUE(pfs->ReadOnly());
  // Asked for writing, the file opens read-only and takes no writes.
  TAbstractFile* file = pfs->OpenFile("t.dat", false, false, false);
  EXPECT_TRUE(file->ReadOnly());
  EXPECT_EQ(file->Write("x", 1), 0);
  EXPECT_EQ(file->GetSize(), 100);
  EXPECT_EQ(MessageOf([&] { pfs->OpenFile("new.dat", true, false, false); }),
            "Cannot create file \"new.dat\"");
  EXPECT_FALSE(pfs->DeleteFile("t.dat"));
  EXPECT_FALSE(pfs->RenameFile("t.dat", "u.dat"));
  manager_.ReleasePFS(path_);
  ::chmod(path_.c_str(), 0644);
}

TEST_F(ContainerPFSTest, MissingContainerGivesNilAndCreatesNothing) {
  EXPECT_EQ(Get(), nullptr);
  EXPECT_FALSE(Env::Default()->FileExists(path_));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(Env::Default()->ListDirectory(dir_.path(), &entries));
  EXPECT_TRUE(entries.empty());
}

TEST_F(ContainerPFSTest, WrongPasswordGivesNil) {
  ASSERT_NE(Create("secret"), nullptr);
  manager_.ReleasePFS(path_);
  for (const char* wrong : {"", "Secret", "secret!"}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(Get(wrong), nullptr);
    EXPECT_THAT(manager_.LastErrorMessage(), HasSubstr("invalid password"));
  }
  EXPECT_NE(Get("secret"), nullptr);
}

TEST_F(ContainerPFSTest, DifferentlyCasedLocationsShareOnePlainFileSystem) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  EXPECT_EQ(Get({}, nullptr, dir_.path() + "/DATA.OVB"), pfs);
  EXPECT_EQ(Get({}, nullptr, dir_.path() + "/data.ovb"), pfs);
}

TEST_F(ContainerPFSTest, FindFilesListsRootFilesByExtension) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  for (const char* name : {"a.dat", "b.DAT", "c.idx", "d.dat.bak", "x"})
    Put(pfs, name, PatternBytes(10));
  // Renaming into a missing folder makes it: a directory whose name ends in .dat, holding a .dat
  // file of its own.
  ASSERT_TRUE(pfs->RenameFile("x", "f.dat\\e.dat"));
  std::vector<std::string> list{"stale"};
  pfs->FindFiles(".dat", &list);
  EXPECT_THAT(list, ElementsAre("a", "b"));
  pfs->FindFiles(".idx", &list);
  EXPECT_THAT(list, ElementsAre("c"));
  pfs->FindFiles(".blb", &list);
  EXPECT_TRUE(list.empty());
}

TEST_F(ContainerPFSTest, DeleteRenameAndExistsActOnTheContainer) {
  TOSFSPlainFileSystem* pfs = Create();
  ASSERT_NE(pfs, nullptr);
  Put(pfs, "a.dat", PatternBytes(10));
  Put(pfs, "b.dat", PatternBytes(10));
  EXPECT_TRUE(pfs->FileExists("A.DAT"));
  EXPECT_FALSE(pfs->RenameFile("a.dat", "b.dat"));
  EXPECT_TRUE(pfs->RenameFile("a.dat", "c.dat"));
  EXPECT_FALSE(pfs->FileExists("a.dat"));
  TAbstractFile* open = pfs->OpenFile("c.dat", false, false, false);
  EXPECT_FALSE(pfs->DeleteFile("c.dat"));
  pfs->CloseFile(open);
  EXPECT_TRUE(pfs->DeleteFile("c.dat"));
  EXPECT_FALSE(pfs->FileExists("c.dat"));
  EXPECT_FALSE(pfs->DeleteFile("c.dat"));
}

TEST(ContainerPFSInstanceTest, TheEngineManagerOpensContainers) {
  TempDir dir;
  TPFSManager& manager = TPFSManager::CreateInstance();
  const std::string path = dir.File("x.ovb");
  EXPECT_TRUE(manager.CreateContainer(path, "", dfmCompact, false)) << manager.LastErrorMessage();
  bool read_only = false;
  TAbstractPlainFileSystem* pfs =
      manager.GetPFSHandle(path, "", dfmNormal, false, read_only, kStoreModeContainer);
  EXPECT_NE(dynamic_cast<TOSFSPlainFileSystem*>(pfs), nullptr) << manager.LastErrorMessage();
  EXPECT_FALSE(read_only);
  TPFSManager::FreeInstance();
}

}  // namespace
}  // namespace orv
