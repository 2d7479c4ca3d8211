#include "engine/files/page_file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/files/little_endian.h"
#include "engine/protect/checksum.h"
#include "platform/exception.h"
#include "tests/files/file_test_helpers.h"
#include "tests/support/fault_env.h"
#include "tests/support/temp_dir.h"

namespace orv {
namespace {

using testing::MessageOf;

using testing::FileSizeOf;
using testing::PatternBytes;

constexpr int64_t kPart = 280;  // part header in front of the container bytes

class PageFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("c.ovb"); }

  std::unique_ptr<TPageFileManager> Create(int32_t page_size = 4096, int32_t extent = 8,
                                           int64_t part_size = -1, bool in_memory = false) {
    return std::make_unique<TPageFileManager>(Path(), kOpenModeCreate, "", "", "", in_memory,
                                              page_size, extent, part_size, &env_);
  }
  std::unique_ptr<TPageFileManager> Open(uint16_t mode = kOpenModeReadWriteDenyWrite) {
    return std::make_unique<TPageFileManager>(Path(), mode, "", "", "", false, 0, 0, -1, &env_);
  }
  // A container with `pages` pages, each written with payload PatternBytes(P, page).
  std::unique_ptr<TPageFileManager> Filled(int32_t pages, int64_t part_size = -1) {
    auto manager = Create(4096, 8, part_size);
    EXPECT_TRUE(manager->AddPages(pages - 1));
    for (int32_t n = 1; n < pages; ++n) {
      auto payload = PatternBytes(4064, n);
      TPage page{{n + 1, 0, kPageTypeFileData, 0, 0}, payload.data()};
      EXPECT_TRUE(manager->WritePage(page, n));
    }
    return manager;
  }
  // Offset of a page's first byte in the part file (single-part containers).
  static int64_t OnDisk(int32_t page_no, int64_t byte = 0) { return kPart + page_no * 4096 + byte; }

  testing::TempDir dir_;
  testing::FaultEnv env_;
};

TEST_F(PageFileTest, NewContainerIsItsHeader) {
  Create(2048, 2).reset();
  EXPECT_EQ(FileSizeOf(Path()), kPart + 256);
  const auto raw = testing::ReadFileBytes(Path());
  EXPECT_EQ(std::string(raw.begin() + kPart, raw.begin() + kPart + 8), "MVSFSSGN");
  EXPECT_EQ(LoadU32(raw.data() + kPart + 12), 0x400851ECu);
  EXPECT_EQ(LoadU32(raw.data() + kPart + 8), TContainerHeader::ComputeChecksum(raw.data() + kPart));

  auto manager = Open();
  const TContainerHeader& header = manager->Header();
  EXPECT_EQ(header.PageSize, 2048);
  EXPECT_EQ(header.ExtentPageCount, 2);
  EXPECT_EQ(header.FirstDataPageNo, 1);
  EXPECT_EQ(header.PageCount, 1);
  EXPECT_EQ(header.DirPageCount, 0);
  EXPECT_EQ(header.EncryptionType, 0);
  EXPECT_FLOAT_EQ(header.Version(), 2.13f);
  EXPECT_EQ(manager->PayloadSize(), 2016);
  EXPECT_FALSE(manager->ReadOnly());
}

TEST_F(PageFileTest, PageLayouts) {
  EXPECT_EQ(PageLayoutOf(dfmCompact).PageSize, 2048);
  EXPECT_EQ(PageLayoutOf(dfmCompact).ExtentPageCount, 2);
  EXPECT_EQ(PageLayoutOf(dfmNormal).PageSize, 4096);
  EXPECT_EQ(PageLayoutOf(dfmNormal).ExtentPageCount, 8);
  EXPECT_EQ(PageLayoutOf(dfmLarge).PageSize, 8192);
  EXPECT_EQ(PageLayoutOf(dfmLarge).ExtentPageCount, 16);
}

TEST_F(PageFileTest, CreateRefusesBadLayouts) {
  struct Case {
    int32_t page_size, extent;
    const char* message;
  } cases[] = {
      {2047, 8, "TPageFileManager.Create - page size should be >= 2048bytes ."},
      {4096, 0, "TPageFileManager.Create - extent page count should be >= 1 Page."},
      {2048, 16129, "TPageFileManager.Create - extent page count should be <= 16128 Pages."},
      {1 << 25, 8, "TPageFileManager.Create - page size should be <= 16777216bytes ."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageOf([&] { Create(c.page_size, c.extent); }), c.message);
    EXPECT_FALSE(std::filesystem::exists(Path()));
  }
  Create(2048, 16128).reset();
  Create(3000, 1).reset();  // other layouts are taken as given
  EXPECT_EQ(Open()->Header().PageSize, 3000);
}

TEST_F(PageFileTest, EncryptedContainersHideTheirPages) {
  const std::string text = "Mercedes-Benz 300 SL Gullwing, 1954, 1:43 ";
  std::vector<uint8_t> plain;
  while (plain.size() + text.size() <= 4064) plain.insert(plain.end(), text.begin(), text.end());
  plain.resize(4064, '.');
  {
    TPageFileManager manager(Path(), kOpenModeCreate, "secret", "", "", false, 4096, 8, -1, &env_);
    EXPECT_EQ(manager.Header().EncryptionType, kEncryptionContainerKey);
    EXPECT_EQ(manager.ContainerKey().size(), 33u);
    ASSERT_TRUE(manager.AddPages(2));
    std::vector<uint8_t> buffer = plain;
    TPage page{{-1, 0, kPageTypeFileData, kEncryptionContainerKey, 0}, buffer.data()};
    ASSERT_TRUE(manager.WritePage(page, 1));
    EXPECT_EQ(buffer, plain);  // the caller's buffer is not enciphered in place
  }
  const auto raw = testing::ReadFileBytes(Path());
  EXPECT_EQ(std::search(raw.begin(), raw.end(), text.begin(), text.begin() + 16), raw.end());

  auto read_back = [&](const std::string& password) {
    TPageFileManager manager(Path(), kOpenModeReadWriteDenyWrite, password, "", "", false, 0, 0, -1,
                             &env_);
    std::vector<uint8_t> buffer(4064);
    TPage page{{}, buffer.data()};
    EXPECT_TRUE(manager.ReadPage(page, 1));
    return buffer;
  };
  EXPECT_EQ(read_back("secret"), plain);
  EXPECT_NE(read_back("wrong"), plain);

  // Damage to the stored bytes is caught by the checksum before anything is deciphered.
  uint8_t byte = raw[OnDisk(1, 32 + 100)] ^ 0x01;
  testing::PatchFile(Path(), OnDisk(1, 32 + 100), &byte, 1);
  TPageFileManager manager(Path(), kOpenModeReadWriteDenyWrite, "secret", "", "", false, 0, 0, -1,
                           &env_);
  std::vector<uint8_t> buffer(4064);
  TPage page{{}, buffer.data()};
  EXPECT_FALSE(manager.ReadPage(page, 1));
  EXPECT_EQ(manager.LastError(), kPageErrorChecksum);
}

TEST_F(PageFileTest, OverlongPasswordLeavesNoFile) {
  EXPECT_EQ(MessageOf([&] {
              TPageFileManager(Path(), kOpenModeCreate, std::string(33, 'p'), "", "", false, 4096,
                               8, -1, &env_);
            }),
            "Password length should be shorter then 32");
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(PageFileTest, HeaderDamageIsRefused) {
  const std::string corrupted =
      "TOSingleFileSystem.LoadHeader - Invalid OSFS file, header is corrupted.";
  // Signature, checksum, every field and the reserved tail.
  for (int offset : {0, 7, 8, 12, 16, 20, 48, 52, 223, 224, 230, 255}) {
    SCOPED_TRACE(offset);
    Create().reset();
    uint8_t byte = testing::ReadFileBytes(Path())[kPart + offset] ^ 0x40;
    testing::PatchFile(Path(), kPart + offset, &byte, 1);
    EXPECT_EQ(MessageOf([&] { Open(); }), corrupted);
  }
}

TEST_F(PageFileTest, HeaderThatChecksButCannotBeAContainerIsRefused) {
  struct Case {
    const char* what;
    void (*change)(TContainerHeader&);
  } cases[] = {
      {"small pages", [](TContainerHeader& h) { h.PageSize = 100; }},
      {"huge pages", [](TContainerHeader& h) { h.PageSize = 1 << 30; }},
      {"no extent", [](TContainerHeader& h) { h.ExtentPageCount = 0; }},
      {"no page 0", [](TContainerHeader& h) { h.PageCount = 0; }},
      {"first data page", [](TContainerHeader& h) { h.FirstDataPageNo = 2; }},
      {"more bitmap pages than pages", [](TContainerHeader& h) { h.PFSPageCount = 5; }},
      {"negative count", [](TContainerHeader& h) { h.GAMPageCount = -1; }},
      {"items past the directory", [](TContainerHeader& h) { h.DirItemCount = 8; }},
      {"directory start",
       [](TContainerHeader& h) {
         h.PageCount = 9;
         h.DirPageCount = 1;
         h.FirstDirPageNo = 9;
       }},
      {"encryption type", [](TContainerHeader& h) { h.EncryptionType = 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Create().reset();
    TContainerHeader header;
    header.PageSize = 4096;
    header.ExtentPageCount = 8;
    c.change(header);
    uint8_t block[256];
    header.Encode(block);
    testing::PatchFile(Path(), kPart, block, sizeof block);
    EXPECT_EQ(MessageOf([&] { Open(); }),
              "TOSingleFileSystem.LoadHeader - Invalid OSFS file, header is corrupted.");
  }
}

TEST_F(PageFileTest, VersionIsNotChecked) {
  Create().reset();
  auto raw = testing::ReadFileBytes(Path());
  TContainerHeader header;
  ASSERT_TRUE(header.Decode(raw.data() + kPart));
  header.VersionBits = 0x40400000;  // 3.0
  header.Encode(raw.data() + kPart);
  testing::WriteFileBytes(Path(), raw);
  EXPECT_FLOAT_EQ(Open()->Header().Version(), 3.0f);
}

TEST_F(PageFileTest, OpenFailures) {
  EXPECT_EQ(MessageOf([&] { Open(); }), "File '" + Path() + "' not found");
  testing::WriteFileBytes(Path(), PatternBytes(5000));
  EXPECT_EQ(MessageOf([&] { Open(); }), "File c.ovb has corrupted header.");
  // A chain with its part header but no container header behind it.
  TOSFSHugeFile bare(Path());
  ASSERT_TRUE(bare.Open(true));
  bare.Close();
  EXPECT_EQ(MessageOf([&] { Open(); }),
            "TOSingleFileSystem.LoadHeader - Invalid OSFS file, header is corrupted.");
}

TEST_F(PageFileTest, PagesRoundTrip) {
  auto manager = Filled(2);
  const int32_t p = manager->PayloadSize();
  struct Case {
    int32_t size;
    uint8_t checksum_type;
  } cases[] = {
      {-1, kChecksumXor}, {p, kChecksumCrc16}, {100, 9}, {7, kChecksumXor}, {1, kChecksumCrc16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const int32_t length = c.size < 0 ? p : c.size;
    auto payload = PatternBytes(length, length);
    const auto original = payload;
    TPage page{{-1, 0, kPageTypeDirectory, 0, c.checksum_type}, payload.data()};
    ASSERT_TRUE(manager->WritePage(page, 1, {}, c.size));
    EXPECT_EQ(payload, original);  // the caller's buffer is not touched
    EXPECT_EQ(page.Header.Checksum, PageChecksum(original.data(), length, c.checksum_type));

    std::vector<uint8_t> back(length);
    TPage read{{}, back.data()};
    ASSERT_TRUE(manager->ReadPage(read, 1, c.size));
    EXPECT_EQ(manager->LastError(), 0);
    EXPECT_EQ(back, original);
    EXPECT_EQ(read.Header.NextPageNo, -1);
    EXPECT_EQ(read.Header.PageType, kPageTypeDirectory);
    EXPECT_EQ(read.Header.ChecksumType, c.checksum_type);
    EXPECT_EQ(read.Header.Checksum, page.Header.Checksum);
  }
  // Size 0 reads and writes the page header alone.
  TPage header_only{{77, 0, kPageTypePageMap, 0, 0}, nullptr};
  ASSERT_TRUE(manager->WritePage(header_only, 1, {}, 0));
  TPage read{{}, nullptr};
  ASSERT_TRUE(manager->ReadPage(read, 1, 0));
  EXPECT_EQ(read.Header.NextPageNo, 77);
  EXPECT_EQ(read.Header.PageType, kPageTypePageMap);
}

TEST_F(PageFileTest, PageErrors) {
  struct Case {
    const char* what;
    std::function<void(testing::FaultEnv&)> fault;
    bool write;
    int error;
  } cases[] = {
      {"short header read", [](auto& e) { e.ShortenRead(1, 31); }, false, -7},
      {"failed read", [](auto& e) { e.FailRead(1); }, false, -7},
      {"short payload read", [](auto& e) { e.ShortenRead(1, 32 + 4063); }, false, -9},
      {"payload damaged", [](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(1, 40), 1); }, false, -11},
      {"checksum damaged", [](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(1, 5), 1); }, false, -11},
      {"enciphered page without a key", [](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(1, 9), 1); },
       false, -12},
      {"unknown encryption type", [](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(1, 9), 7); },
       false, -12},
      {"short header write", [](auto& e) { e.ShortenWrite(1, 31); }, true, -8},
      {"failed write", [](auto& e) { e.FailWrite(1); }, true, -8},
      {"short payload write", [](auto& e) { e.ShortenWrite(1, 33); }, true, -10},
      {"disk full", [](auto& e) { e.LimitFileSize(OnDisk(1, 100)); }, true, -10},
  };
  auto manager = Filled(2);
  std::vector<uint8_t> buffer(4064);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.fault(env_);
    TPage page{{-1, 0, kPageTypeFileData, 0, 0}, buffer.data()};
    const bool ok = c.write ? manager->WritePage(page, 1) : manager->ReadPage(page, 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(manager->LastError(), c.error);
    env_.ClearFaults();
    // The fault was in the transfer only: the page is still sound.
    TPage again{{}, buffer.data()};
    EXPECT_TRUE(manager->ReadPage(again, 1) || c.write);
    EXPECT_EQ(manager->LastError(), c.write ? manager->LastError() : 0);
  }
}

TEST_F(PageFileTest, ChecksumIsCheckedBeforeDecryptionAndRawSkipsIt) {
  auto manager = Filled(2);
  env_.FlipByteOnRead("c.ovb", OnDisk(1, 9), 1);  // EncryptionType 1
  std::vector<uint8_t> buffer(4064);
  TPage page{{}, buffer.data()};
  EXPECT_FALSE(manager->ReadPage(page, 1));
  EXPECT_EQ(manager->LastError(), kPageErrorDecryption);
  // With a key the bytes are deciphered, whether or not they were ever enciphered.
  EXPECT_TRUE(manager->ReadPage(page, 1, -1, "some key"));
  EXPECT_NE(buffer, PatternBytes(4064, 1));
  EXPECT_TRUE(manager->ReadPage(page, 1, -1, {}, true));
  EXPECT_EQ(page.Header.EncryptionType, 1);
  EXPECT_EQ(buffer, PatternBytes(4064, 1));
}

TEST_F(PageFileTest, EncipheringWritesFailWithoutTouchingTheFile) {
  auto manager = Filled(2);
  std::vector<uint8_t> buffer(4064, 1);
  env_.ResetCounts();
  TPage page{{-1, 0, kPageTypeFileData, kEncryptionContainerKey, 0}, buffer.data()};
  EXPECT_FALSE(manager->WritePage(page, 1));
  EXPECT_EQ(manager->LastError(), kPageErrorEncryption);
  page.Header.EncryptionType = 2;
  EXPECT_EQ(MessageOf([&] { manager->WritePage(page, 1); }),
            "TPageFileManager.EncodeBuffer - Unknown encryption type");
  EXPECT_EQ(env_.Counts().writes, 0);
}

TEST_F(PageFileTest, MisuseRaisesAndPagesOutsideTheFileFail) {
  auto manager = Filled(3);
  TPage page{{}, nullptr};
  EXPECT_EQ(MessageOf([&] { manager->ReadPage(page, 1); }),
            "TPageFileManager.ReadPage - pData is nil.");
  std::vector<uint8_t> buffer(4065);
  page.Data = buffer.data();
  EXPECT_THROW(manager->ReadPage(page, 1, 4065), Exception);
  EXPECT_THROW(manager->WritePage(page, 1, {}, 4065), Exception);
  for (int32_t page_no : {0, -1, 3, INT32_MAX}) {
    SCOPED_TRACE(page_no);
    EXPECT_FALSE(manager->ReadPage(page, page_no));
    EXPECT_EQ(manager->LastError(), kPageErrorHeaderNotRead);
    EXPECT_FALSE(manager->WritePage(page, page_no));
    EXPECT_EQ(manager->LastError(), kPageErrorHeaderNotWritten);
  }
  EXPECT_EQ(FileSizeOf(Path()), kPart + 3 * 4096);
}

TEST_F(PageFileTest, EachPageIsOneTransfer) {
  auto manager = Filled(3);
  std::vector<uint8_t> buffer(4064);
  TPage page{{}, buffer.data()};
  env_.ResetCounts();
  ASSERT_TRUE(manager->ReadPage(page, 2));
  ASSERT_TRUE(manager->WritePage(page, 1));
  ASSERT_TRUE(manager->ReadPage(page, 1, 0));
  const auto counts = env_.Counts();
  EXPECT_EQ(counts.reads, 2);
  EXPECT_EQ(counts.writes, 1);
  EXPECT_EQ(counts.Syscalls(), 3);
}

TEST_F(PageFileTest, AddPagesGrowsAndSavesTheCount) {
  auto manager = Create();
  ASSERT_TRUE(manager->AddPages(8));
  EXPECT_EQ(manager->Header().PageCount, 9);
  EXPECT_EQ(FileSizeOf(Path()), kPart + 9 * 4096);
  EXPECT_TRUE(manager->AddPages(0));
  EXPECT_FALSE(manager->AddPages(-1));
  EXPECT_FALSE(manager->AddPages(INT32_MAX));
  manager.reset();
  EXPECT_EQ(Open()->Header().PageCount, 9);
}

TEST_F(PageFileTest, FailedGrowthLeavesPageCountAndFile) {
  struct Case {
    const char* what;
    int64_t part_size;
    std::function<void(testing::FaultEnv&)> fault;
  } cases[] = {
      {"disk full", -1, [](auto& e) { e.LimitFileSize(kPart + 6 * 4096); }},
      {"next part cannot be made", kPart + 4 * 4096, [](auto& e) { e.FailOpen("c.ovb1"); }},
      {"header cannot be saved", -1, [](auto& e) { e.FailWrite(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto manager = Create(4096, 8, c.part_size);
    ASSERT_TRUE(manager->AddPages(2));
    c.fault(env_);
    EXPECT_FALSE(manager->AddPages(8));
    EXPECT_EQ(manager->Header().PageCount, 3);
    EXPECT_EQ(manager->File().GetSize(), 3 * 4096);
    env_.ClearFaults();
    manager.reset();
    EXPECT_EQ(Open()->Header().PageCount, 3);
    EXPECT_FALSE(std::filesystem::exists(Path() + "1"));
  }
}

TEST_F(PageFileTest, OpenModeWord) {
  Filled(2).reset();
  struct Case {
    uint16_t mode;
    bool read_only, exclusive;
  } cases[] = {{0x40, true, false}, {0x00, true, false}, {0x22, false, false},
               {0x12, false, true}, {0x10, true, true},  {0x32, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    auto manager = Open(c.mode);
    EXPECT_EQ(manager->ReadOnly(), c.read_only);
    EXPECT_EQ(manager->Exclusive(), c.exclusive);
    // An exclusive holder keeps every other open out; shared ones admit each other.
    EXPECT_EQ(MessageOf([&] { Open(0x40); }) == "File c.ovb has corrupted header.", c.exclusive);
  }
}

TEST_F(PageFileTest, ReadOnlyContainerNeverWrites) {
  Filled(2).reset();
  auto manager = Open(kOpenModeReadShared);
  env_.ResetCounts();
  std::vector<uint8_t> buffer(4064);
  TPage page{{}, buffer.data()};
  ASSERT_TRUE(manager->ReadPage(page, 1));
  manager->Header().DirItemCount = 0;
  manager->SaveHeader();
  EXPECT_FALSE(manager->WritePage(page, 1));
  EXPECT_FALSE(manager->AddPages(1));
  manager.reset();
  const auto counts = env_.Counts();
  EXPECT_EQ(counts.writes + counts.truncates, 0);
}

TEST_F(PageFileTest, PagesAcrossPartBoundaries) {
  // 10000-byte parts: pages straddle the part files.
  auto manager = Filled(9, 10000);
  EXPECT_GT(manager->File().PartCount(), 3u);
  manager.reset();
  manager = Open();
  std::vector<uint8_t> buffer(4064);
  for (int32_t n = 1; n < 9; ++n) {
    TPage page{{}, buffer.data()};
    ASSERT_TRUE(manager->ReadPage(page, n)) << n;
    EXPECT_EQ(page.Header.NextPageNo, n + 1);
    EXPECT_EQ(buffer, PatternBytes(4064, n));
  }
}

TEST_F(PageFileTest, DamagedMiddlePartLeavesTheEarlierPages) {
  Filled(9, 10000).reset();
  testing::PatchFile(Path() + "1", 0, "XXXX", 4);
  auto manager = Open();
  EXPECT_EQ(manager->File().PartCount(), 1u);
  EXPECT_EQ(manager->Header().PageCount, 9);
  std::vector<uint8_t> buffer(4064);
  TPage page{{}, buffer.data()};
  ASSERT_TRUE(manager->ReadPage(page, 1));
  EXPECT_EQ(buffer, PatternBytes(4064, 1));
  EXPECT_FALSE(manager->ReadPage(page, 2));  // page 2 ends in the lost part
  EXPECT_EQ(manager->LastError(), kPageErrorPayloadNotRead);
  EXPECT_FALSE(manager->ReadPage(page, 5));
  EXPECT_EQ(manager->LastError(), kPageErrorHeaderNotRead);
}

TEST_F(PageFileTest, InMemoryContainerWritesNothing) {
  {
    auto manager = Create(4096, 8, -1, true);
    ASSERT_TRUE(manager->AddPages(8));
    std::vector<uint8_t> buffer = PatternBytes(4064);
    TPage page{{-1, 0, kPageTypeFileData, 0, 0}, buffer.data()};
    ASSERT_TRUE(manager->WritePage(page, 3));
    std::vector<uint8_t> back(4064);
    TPage read{{}, back.data()};
    ASSERT_TRUE(manager->ReadPage(read, 3));
    EXPECT_EQ(back, buffer);
  }
  EXPECT_EQ(env_.Counts().writes, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));

  // Opened in memory, a container on disk is read once and never written.
  Filled(3).reset();
  const auto on_disk = testing::ReadFileBytes(Path());
  env_.ResetCounts();
  {
    TPageFileManager manager(Path(), kOpenModeReadWriteDenyWrite, "", "", "", true, 0, 0, -1,
                             &env_);
    std::vector<uint8_t> buffer(4064);
    TPage page{{}, buffer.data()};
    ASSERT_TRUE(manager.ReadPage(page, 2));
    EXPECT_EQ(buffer, PatternBytes(4064, 2));
    ASSERT_TRUE(manager.WritePage(page, 1));
    ASSERT_TRUE(manager.AddPages(4));
  }
  EXPECT_EQ(env_.Counts().writes + env_.Counts().truncates, 0);
  EXPECT_EQ(testing::ReadFileBytes(Path()), on_disk);
}

}  // namespace
}  // namespace orv
