#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/page_map_manager.h"
#include "tests/files/container_fixture.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::ContainerTest;
using ::testing::ElementsAre;
using testing::GetFile;
using testing::ItemOf;
using testing::PatternBytes;
using testing::PutFile;
using ::testing::UnorderedElementsAre;

constexpr int32_t kNormalPayload = 4064;
constexpr int32_t kCompactPayload = 2016;

class ContainerFsTest : public ContainerTest {};

TEST_F(ContainerFsTest, FilesOfEverySizeReadBackAfterReopen) {
  const std::vector<size_t> sizes = {
      0,    1, kCompactPayload - 1, kCompactPayload, kCompactPayload + 1, 3 * kCompactPayload + 5,
      20000};
  {
    auto fs = Create(dfmCompact);
    for (size_t i = 0; i < sizes.size(); ++i)
      PutFile(*fs, "f" + std::to_string(i) + ".dat", PatternBytes(sizes[i], uint32_t(i + 7)));
  }
  auto fs = Open();
  for (size_t i = 0; i < sizes.size(); ++i) {
    SCOPED_TRACE(sizes[i]);
    const std::string name = "f" + std::to_string(i) + ".dat";
    EXPECT_EQ(GetFile(*fs, name), PatternBytes(sizes[i], uint32_t(i + 7)));
    const TDirItem& item = ItemOf(*fs, name);
    EXPECT_EQ(item.Size, int64_t(sizes[i]));
    EXPECT_EQ(item.FirstMapPageNo == -1, sizes[i] == 0);
    if (sizes[i] > 0) {
      EXPECT_EQ(fs->PageMaps().GetMaps(item).DataPages.ItemCount(),
                DataPagesFor(int64_t(sizes[i]), kCompactPayload));
    }
    // Stored at 2-second resolution.
    EXPECT_EQ(item.LastWriteTime % 20000000, 0);
  }
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerFsTest, WritingPastTheEndFillsTheGapWithZeros) {
  auto fs = Create(dfmNormal);
  const int32_t handle = fs->FileOpen("a.dat", kOpenModeCreate);
  ASSERT_EQ(fs->FileSeek(handle, 0, 5000), 5000);
  const Bytes ten = PatternBytes(10);
  ASSERT_EQ(fs->FileWrite(handle, ten.data(), 10), 10);
  fs->FileClose(handle);

  const TDirItem& item = ItemOf(*fs, "a.dat");
  EXPECT_EQ(item.Size, 5010);
  EXPECT_EQ(fs->PageMaps().GetMaps(item).DataPages.ItemCount(), 2);
  Bytes expected(5000, 0);
  expected.insert(expected.end(), ten.begin(), ten.end());
  EXPECT_EQ(GetFile(*fs, "a.dat"), expected);
}

TEST_F(ContainerFsTest, ReadingPastTheEndReadsNothingAndKeepsThePosition) {
  auto fs = Create();
  PutFile(*fs, "a.dat", PatternBytes(100));
  const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  ASSERT_EQ(fs->FileSeek(handle, 0, 150), 150);
  uint8_t buffer[16];
  EXPECT_EQ(fs->FileRead(handle, buffer, sizeof buffer), 0);
  EXPECT_EQ(fs->FileSeek(handle, 1, 0), 150);
  // A read that runs past the end stops there.
  fs->FileSeek(handle, 0, 90);
  EXPECT_EQ(fs->FileRead(handle, buffer, sizeof buffer), 10);
  EXPECT_EQ(fs->FileSeek(handle, 1, 0), 100);
  // A negative position is refused and the position stays.
  EXPECT_EQ(fs->FileSeek(handle, 1, -101), -1);
  EXPECT_EQ(fs->FileSeek(handle, 1, 0), 100);
}

TEST_F(ContainerFsTest, SetSizeZeroFreesEveryPageAndTheMap) {
  auto fs = Create(dfmNormal);
  PutFile(*fs, "a.dat", PatternBytes(10 * kNormalPayload));
  TDirItem item = ItemOf(*fs, "a.dat");
  TFileMaps maps = fs->PageMaps().GetMaps(item);
  std::vector<int32_t> owned(maps.MapPages.begin(), maps.MapPages.end());
  owned.insert(owned.end(), maps.DataPages.begin(), maps.DataPages.end());

  const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  EXPECT_EQ(fs->FileSetSize(handle, 0), 0);
  fs->FileClose(handle);
  EXPECT_EQ(ItemOf(*fs, "a.dat").FirstMapPageNo, -1);
  EXPECT_EQ(ItemOf(*fs, "a.dat").Size, 0);
  for (int32_t page_no : owned) EXPECT_TRUE(fs->FreeSpace().PageIsFree(page_no)) << page_no;
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerFsTest, BytesLeftBehindByAShrinkReadAsZerosWhenTheFileGrowsAgain) {
  auto fs = Create(dfmCompact);
  int32_t handle = 0;
  struct Case {
    const char* what;
    std::function<void()> grow;
    size_t size;
  };
  const Bytes tail = PatternBytes(4, 9);
  const std::vector<Case> cases = {
      {"set size", [&] { fs->FileSetSize(handle, 3000); }, 3000},
      {"write in the same page",
       [&] {
         fs->FileSeek(handle, 0, 1000);
         fs->FileWrite(handle, tail.data(), 4);
       },
       1004},
      {"write pages further on",
       [&] {
         fs->FileSeek(handle, 0, 4100);
         fs->FileWrite(handle, tail.data(), 4);
       },
       4104},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PutFile(*fs, "a.dat", PatternBytes(3000, 5));
    handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
    ASSERT_EQ(fs->FileSetSize(handle, 10), 10);
    c.grow();
    fs->FileClose(handle);
    const Bytes content = GetFile(*fs, "a.dat");
    ASSERT_EQ(content.size(), c.size);
    const Bytes head = PatternBytes(10, 5);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), content.begin()));
    const size_t zeros_end = c.size == 3000 ? 3000 : c.size - 4;
    EXPECT_TRUE(std::all_of(content.begin() + 10, content.begin() + zeros_end,
                            [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(ContainerFsTest, OpenFilesCannotBeDeletedAndDeletedSlotsAreReused) {
  auto fs = Create();
  PutFile(*fs, "a.dat", PatternBytes(5000));
  PutFile(*fs, "b.dat", PatternBytes(10));
  const int32_t a_item = fs->Directory().ResolvePath("a.dat");
  const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  EXPECT_FALSE(fs->DeleteFile("a.dat"));
  EXPECT_EQ(fs->FileCreate("a.dat"), kOsfsErrorCannotReplace);
  EXPECT_EQ(fs->FileOpen("a.dat", kOpenModeCreate), -1);
  EXPECT_TRUE(fs->FileClose(handle));

  EXPECT_TRUE(fs->DeleteFile("a.dat"));
  EXPECT_FALSE(fs->FileExists("a.dat"));
  EXPECT_EQ(fs->FileCreate("c.dat"), a_item);
  EXPECT_EQ(GetFile(*fs, "c.dat"), Bytes{});
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerFsTest, RenamesKeepTheItemAndRefuseClashes) {
  auto fs = Create();
  PutFile(*fs, "a.dat", PatternBytes(300, 1));
  PutFile(*fs, "b.dat", PatternBytes(300, 2));
  const int32_t a_item = fs->Directory().ResolvePath("a.dat");

  EXPECT_TRUE(fs->RenameFile("a.dat", "A.DAT"));
  EXPECT_EQ(ItemOf(*fs, "a.dat").FileName, "A.DAT");
  EXPECT_FALSE(fs->RenameFile("A.DAT", "b.dat"));
  EXPECT_FALSE(fs->RenameFile("missing.dat", "z.dat"));

  EXPECT_TRUE(fs->RenameFile("A.DAT", "sub\\deeper\\y.dat"));
  EXPECT_FALSE(fs->FileExists("A.DAT"));
  EXPECT_EQ(fs->Directory().ResolvePath("\\sub\\deeper\\y.dat"), a_item);
  const TDirItem& sub = ItemOf(*fs, "sub");
  EXPECT_EQ(sub.Attributes, kAttrDirectory);
  EXPECT_EQ(sub.IsDirectory, 1);
  EXPECT_EQ(sub.FirstMapPageNo, -1);
  EXPECT_EQ(GetFile(*fs, "sub/deeper/y.dat"), PatternBytes(300, 1));

  // A directory cannot move below itself, and nothing may live below a file.
  EXPECT_FALSE(fs->RenameFile("sub", "sub\\deeper\\sub"));
  EXPECT_FALSE(fs->RenameFile("sub", "sub\\new\\sub"));
  EXPECT_FALSE(fs->FileExists("sub\\new"));
  EXPECT_FALSE(fs->RenameFile("b.dat", "sub\\deeper\\y.dat\\b.dat"));
  EXPECT_TRUE(fs->RenameFile("sub\\deeper", "deeper"));
  EXPECT_EQ(fs->Directory().ResolvePath("deeper\\y.dat"), a_item);

  const int32_t handle = fs->FileOpen("b.dat", kOpenModeReadWriteDenyWrite);
  EXPECT_FALSE(fs->RenameFile("b.dat", "c.dat"));
  fs->FileClose(handle);
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerFsTest, DirectoriesThatHoldItemsAreNotDeleted) {
  auto fs = Create();
  PutFile(*fs, "x.dat", PatternBytes(10));
  ASSERT_TRUE(fs->RenameFile("x.dat", "sub\\x.dat"));
  EXPECT_FALSE(fs->DeleteFile("sub"));
  EXPECT_EQ(fs->FileCreate("sub"), kOsfsErrorCannotReplace);
  EXPECT_TRUE(fs->DeleteFile("sub\\x.dat"));
  EXPECT_TRUE(fs->DeleteFile("sub"));
  EXPECT_FALSE(fs->FileExists("sub"));
}

TEST_F(ContainerFsTest, CreatingNeedsAValidNameInAnExistingFolder) {
  auto fs = Create();
  PutFile(*fs, "file.dat", PatternBytes(10));
  for (const char* path :
       {"\\", "/", "", "..", "a\\..", "missing\\a.dat", "file.dat\\a.dat", "a\\\\b.dat"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(fs->FileCreate(path), kOsfsErrorNotFound);
  }
  EXPECT_GE(fs->FileCreate("\\top.dat\\"), 0);
  EXPECT_TRUE(fs->FileExists("top.dat"));
}

TEST_F(ContainerFsTest, PathsResolveFromTheRoot) {
  auto fs = Create();
  PutFile(*fs, "x", PatternBytes(1));
  ASSERT_TRUE(fs->RenameFile("x", "d\\x"));
  PutFile(*fs, "x", PatternBytes(1));
  const TDIRManager& dir = fs->Directory();
  const int32_t root_x = dir.ResolvePath("x");
  const int32_t d = dir.ResolvePath("d");
  const int32_t d_x = dir.ResolvePath("d\\x");
  ASSERT_GE(root_x, 0);
  ASSERT_NE(root_x, d_x);
  struct Case {
    const char* path;
    int32_t item;
  };
  for (const Case& c : {Case{"\\", kRootItem}, Case{"/", kRootItem}, Case{"..\\x", root_x},
                        Case{"\\..\\..\\x", root_x}, Case{"D\\X", d_x}, Case{"/d/x", d_x},
                        Case{"d\\..\\x", root_x}, Case{"d\\x\\..", d}, Case{"d\\\\x", kNoItem},
                        Case{"d\\", kNoItem}, Case{"y", kNoItem}, Case{"d\\y", kNoItem}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(dir.ResolvePath(c.path), c.item);
  }
  EXPECT_FALSE(fs->FileExists("\\"));
  EXPECT_TRUE(fs->FileExists("d"));
}

TEST_F(ContainerFsTest, FindFirstListsMatchingItemsOfOneFolder) {
  auto fs = Create();
  for (const char* name : {"a.dat", "B.DAT", "c.idx", "abc", "sub.dat\\inner.dat"}) {
    const std::string path = name;
    if (path.find('\\') != std::string::npos) {
      PutFile(*fs, "tmp", PatternBytes(1));
      ASSERT_TRUE(fs->RenameFile("tmp", path));
    } else {
      PutFile(*fs, path, PatternBytes(1));
    }
  }
  auto find = [&](const std::string& path, uint32_t attributes) {
    std::vector<std::string> names;
    TOSFSSearchRec rec;
    for (int r = fs->FindFirst(path, attributes, rec); r == 0; r = fs->FindNext(rec))
      names.push_back(rec.Name);
    fs->FindClose(rec);
    return names;
  };
  EXPECT_THAT(find("\\*.dat", 63), UnorderedElementsAre("a.dat", "B.DAT", "sub.dat"));
  EXPECT_THAT(find("\\*.dat", 0), UnorderedElementsAre("a.dat", "B.DAT"));
  EXPECT_THAT(find("*.*", 63), UnorderedElementsAre("a.dat", "B.DAT", "c.idx", "abc", "sub.dat"));
  EXPECT_THAT(find("\\sub.dat\\*", 0), ElementsAre("inner.dat"));
  EXPECT_THAT(find("?.dat", 0), UnorderedElementsAre("a.dat", "B.DAT"));
  EXPECT_THAT(find("\\missing\\*", 63), ElementsAre());

  TOSFSSearchRec rec;
  ASSERT_EQ(fs->FindFirst("c.idx", 0, rec), 0);
  EXPECT_EQ(rec.Size, 1);
  EXPECT_EQ(rec.Attr, 0u);
  EXPECT_EQ(rec.FindData.LastWriteTime, ItemOf(*fs, "c.idx").LastWriteTime);
  EXPECT_EQ(rec.Time, DirItemTimeToDosDateTime(rec.FindData.LastWriteTime));
  EXPECT_NE(rec.Time, 0u);
  EXPECT_NE(fs->FindNext(rec), 0);
  fs->FindClose(rec);
}

TEST_F(ContainerFsTest, HandleNumbersCountUpAndUnknownHandlesFail) {
  auto fs = Create();
  PutFile(*fs, "a.dat", PatternBytes(10));
  const int32_t first = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  fs->FileClose(first);
  const int32_t second = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  EXPECT_GT(second, first);
  EXPECT_EQ(fs->FileOpen("missing.dat", kOpenModeReadWriteDenyWrite), -1);
  EXPECT_EQ(fs->FileOpen("\\", kOpenModeReadWriteDenyWrite), -1);

  uint8_t buffer[4] = {};
  EXPECT_EQ(fs->FileSetSize(first, 5), kOsfsErrorUnknownHandle);
  EXPECT_EQ(fs->FileRead(first, buffer, 4), 0);
  EXPECT_EQ(fs->FileWrite(first, buffer, 4), 0);
  EXPECT_FALSE(fs->FileClose(first));
  EXPECT_EQ(fs->FileSeek(first, 0, 0), -1);
}

TEST_F(ContainerFsTest, ReadOnlyContainersAndHandlesRefuseChanges) {
  {
    auto fs = Create();
    PutFile(*fs, "a.dat", PatternBytes(100));
  }
  const Bytes before = testing::ReadFileBytes(Path());
  {
    auto fs = Open(kOpenModeReadShared);
    EXPECT_TRUE(fs->ReadOnly());
    EXPECT_EQ(GetFile(*fs, "a.dat"), PatternBytes(100));
    const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
    const Bytes bytes = PatternBytes(10);
    EXPECT_EQ(fs->FileWrite(handle, bytes.data(), 10), 0);
    EXPECT_EQ(fs->LastError(), kOsfsErrorReadOnly);
    EXPECT_EQ(fs->FileSetSize(handle, 0), kOsfsErrorReadOnly);
    fs->FileClose(handle);
    EXPECT_LT(fs->FileCreate("b.dat"), 0);
    EXPECT_FALSE(fs->DeleteFile("a.dat"));
    EXPECT_FALSE(fs->RenameFile("a.dat", "b.dat"));
  }
  EXPECT_EQ(testing::ReadFileBytes(Path()), before);

  auto fs = Open();
  const int32_t handle = fs->FileOpen("a.dat", 0x40);
  const Bytes bytes = PatternBytes(10);
  EXPECT_EQ(fs->FileWrite(handle, bytes.data(), 10), 0);
  EXPECT_EQ(fs->LastError(), kOsfsErrorReadOnly);
}

TEST_F(ContainerFsTest, LackOfSpaceFailsCleanlyAndNotifies) {
  auto fs = Create(dfmCompact);
  PutFile(*fs, "a.dat", PatternBytes(1000));
  fs->FileFlush(0);
  int notified = 0;
  fs->OnNoSpace = [&](TOSingleFileSystem& sender) {
    EXPECT_EQ(&sender, fs.get());
    ++notified;
  };
  env_.LimitFileSize(testing::FileSizeOf(Path()) + 3 * 2048);
  const Bytes big = PatternBytes(50000, 3);
  const int32_t handle = fs->FileOpen("b.dat", kOpenModeCreate);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(fs->FileWrite(handle, big.data(), int64_t(big.size())), 0);
  EXPECT_EQ(fs->LastError(), kOsfsErrorNoSpace);
  EXPECT_EQ(fs->FileSetSize(handle, 50000), kOsfsErrorNoSpace);
  EXPECT_EQ(notified, 2);
  EXPECT_EQ(ItemOf(*fs, "b.dat").Size, 0);
  EXPECT_EQ(ItemOf(*fs, "b.dat").FirstMapPageNo, -1);
  fs->FileClose(handle);
  fs.reset();
  // Nothing of the failed calls stayed behind, not even a leaked page.
  ExpectClean();

  env_.ClearFaults();
  fs = Open();
  PutFile(*fs, "b.dat", big);
  EXPECT_EQ(GetFile(*fs, "b.dat"), big);
  EXPECT_EQ(GetFile(*fs, "a.dat"), PatternBytes(1000));
}

TEST_F(ContainerFsTest, EncryptedContainersNeedTheirPasswordAndHideTheirBytes) {
  const Bytes secret = PatternBytes(6000, 11);
  {
    auto fs = Create(dfmCompact, "s3cret");
    EXPECT_TRUE(fs->IsEncrypted());
    PutFile(*fs, "secret-name.dat", secret);
  }
  EXPECT_TRUE(IsFileEncrypted(Path(), &env_));
  EXPECT_TRUE(CheckFilePassword(Path(), "s3cret", &env_));
  EXPECT_FALSE(CheckFilePassword(Path(), "wrong", &env_));
  EXPECT_FALSE(CheckFilePassword(Path(), "", &env_));

  const Bytes raw = testing::ReadFileBytes(Path());
  const std::string name = "secret-name";
  EXPECT_EQ(std::search(raw.begin(), raw.end(), name.begin(), name.end()), raw.end());
  EXPECT_EQ(std::search(raw.begin(), raw.end(), secret.begin(), secret.begin() + 64), raw.end());

  // Refused on the header alone: no page is read with a key from the wrong password.
  env_.ResetCounts();
  { TPageFileManager header_only(Path(), kOpenModeReadShared, "", "", "", false, 0, 0, -1, &env_); }
  const int64_t header_reads = env_.Counts().reads;
  env_.ResetCounts();
  EXPECT_EQ(
      testing::MessageOf([&] { Open(kOpenModeReadWriteDenyWrite, "wrong"); }),
      "TOSingleFileSystem.Create - invalid password specified, file name = \"" + Path() + "\"");
  EXPECT_EQ(env_.Counts().reads, header_reads);

  auto fs = Open(kOpenModeReadWriteDenyWrite, "s3cret");
  EXPECT_EQ(GetFile(*fs, "secret-name.dat"), secret);
  fs.reset();
  ExpectClean("s3cret");
}

TEST_F(ContainerFsTest, PlainContainersTakeAnyPassword) {
  Create().reset();
  EXPECT_FALSE(IsFileEncrypted(Path(), &env_));
  EXPECT_TRUE(CheckFilePassword(Path(), "whatever", &env_));
  auto fs = Open(kOpenModeReadWriteDenyWrite, "whatever");
  EXPECT_FALSE(fs->IsEncrypted());
  EXPECT_THAT(testing::MessageOf([&] { IsFileEncrypted(dir_.File("none.ovb"), &env_); }),
              ::testing::HasSubstr("not found"));
}

TEST_F(ContainerFsTest, FilesWithTheirOwnPasswordAskForIt) {
  const Bytes secret = PatternBytes(3000, 4);
  auto fs = Create(dfmCompact);
  const int32_t created = fs->FileOpen("p.dat", kOpenModeCreate, "filepw");
  ASSERT_GT(created, 0);
  ASSERT_EQ(fs->FileWrite(created, secret.data(), int64_t(secret.size())), int64_t(secret.size()));
  fs->FileClose(created);
  EXPECT_EQ(ItemOf(*fs, "p.dat").Encrypted, 1);

  // No handler: the open fails.
  EXPECT_EQ(fs->FileOpen("p.dat", kOpenModeReadWriteDenyWrite), -1);
  std::vector<std::string> answers = {"nope", "filepw"};
  std::vector<std::string> asked;
  fs->OnFilePassword = [&](TOSingleFileSystem&, const std::string& file, std::string& password,
                           bool& cancel) {
    asked.push_back(file);
    if (asked.size() > answers.size()) {
      cancel = true;
      return;
    }
    password = answers[asked.size() - 1];
  };
  const int32_t handle = fs->FileOpen("p.dat", kOpenModeReadWriteDenyWrite);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(asked, (std::vector<std::string>{"p.dat", "p.dat"}));
  Bytes back(secret.size());
  EXPECT_EQ(fs->FileRead(handle, back.data(), int64_t(back.size())), int64_t(back.size()));
  EXPECT_EQ(back, secret);
  fs->FileClose(handle);

  answers = {"bad"};
  asked.clear();
  EXPECT_EQ(fs->FileOpen("p.dat", kOpenModeReadWriteDenyWrite), -1);
  EXPECT_EQ(asked.size(), 2u);

  // The data pages are enciphered with the file's own key, not stored plain.
  fs.reset();
  const Bytes raw = testing::ReadFileBytes(Path());
  EXPECT_EQ(std::search(raw.begin(), raw.end(), secret.begin(), secret.begin() + 64), raw.end());
}

TEST_F(ContainerFsTest, AnInMemoryContainerStartsFromTheFileOnDisk) {
  {
    auto fs = Create();
    PutFile(*fs, "a.dat", PatternBytes(5000));
  }
  const TPageLayout layout = PageLayoutOf(dfmNormal);
  TOSingleFileSystem fs(Path(), kOpenModeCreate, true, "", "", "", layout.PageSize,
                        layout.ExtentPageCount, -1, &env_);
  EXPECT_EQ(GetFile(fs, "a.dat"), PatternBytes(5000));
}

}  // namespace
}  // namespace orv
