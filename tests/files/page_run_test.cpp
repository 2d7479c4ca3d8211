// Runs of consecutive pages moved in one transfer: by the page file, and by the container's
// reads and writes built on it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "engine/files/free_space_manager.h"
#include "engine/files/page_file_manager.h"
#include "tests/files/container_fixture.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::ItemOf;
using testing::PatternBytes;

constexpr int32_t kPageSize = 4096;
constexpr int32_t kPayload = kPageSize - kPageHeaderSize;
constexpr int64_t kPart = 280;  // part header in front of the container bytes

int64_t OnDisk(int32_t page_no, int64_t byte = 0) {
  return kPart + int64_t(page_no) * kPageSize + byte;
}

class PageRunTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("c.ovb"); }

  // A container of `pages` pages (page 0 included), nothing written to them yet.
  std::unique_ptr<TPageFileManager> Create(int32_t pages, const std::string& password = {},
                                           int64_t part_size = -1) {
    auto manager = std::make_unique<TPageFileManager>(Path(), kOpenModeCreate, password, "", "",
                                                      false, kPageSize, 8, part_size, &env_);
    EXPECT_TRUE(manager->AddPages(pages - 1));
    return manager;
  }

  // Payload PatternBytes(P, page_no) for each page; the pointers stay valid with the test.
  std::vector<const uint8_t*> PayloadsOf(const std::vector<int32_t>& page_nos) {
    std::vector<const uint8_t*> pointers;
    for (int32_t page_no : page_nos) {
      payloads_.push_back(std::make_unique<Bytes>(PatternBytes(kPayload, page_no)));
      pointers.push_back(payloads_.back()->data());
    }
    return pointers;
  }

  // ReadPages into a payload buffer per page.
  static int32_t ReadBack(TPageFileManager& manager, const std::vector<int32_t>& page_nos,
                          std::vector<Bytes>& back, std::vector<TPageHeader>* headers = nullptr) {
    back.assign(page_nos.size(), Bytes(kPayload));
    std::vector<uint8_t*> targets;
    for (Bytes& b : back) targets.push_back(b.data());
    std::vector<TPageHeader> ignored(page_nos.size());
    if (headers) headers->resize(page_nos.size());
    return manager.ReadPages(page_nos, targets, headers ? *headers : ignored);
  }

  testing::TempDir dir_;
  testing::FaultEnv env_;
  std::vector<std::unique_ptr<Bytes>> payloads_;
};

TEST_F(PageRunTest, RunsStoreWhatSinglePageWritesStore) {
  struct Case {
    const char* what;
    const char* password;
    int64_t part_size;
  } cases[] = {
      {"plain", "", -1},
      {"encrypted", "secret", -1},
      {"across parts", "", 10000},  // pages and runs straddle the part files
  };
  const std::vector<int32_t> page_nos = {1, 2, 3, 5, 6, 9};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto manager = Create(10, c.password, c.part_size);
    const auto payloads = PayloadsOf(page_nos);
    TPageHeader header{77, 0, kPageTypeFileData,
                       *c.password ? kEncryptionContainerKey : kEncryptionNone, 0};
    for (size_t i = 0; i < page_nos.size(); ++i) {
      TPage page{header, const_cast<uint8_t*>(payloads[i])};
      ASSERT_TRUE(manager->WritePage(page, page_nos[i]));
    }
    manager->Flush();
    const Bytes single = testing::ReadFileBytes(Path());

    // The payloads are garbled first, so that only the runs can bring them back.
    const Bytes junk(kPayload, 0xA5);
    for (int32_t page_no : page_nos) {
      TPage page{{}, const_cast<uint8_t*>(junk.data())};
      ASSERT_TRUE(manager->WritePage(page, page_no));
    }
    env_.ResetCounts();
    ASSERT_EQ(manager->WritePages(page_nos, payloads, header), 6);
    EXPECT_EQ(manager->LastError(), 0);
    if (c.part_size < 0) EXPECT_EQ(env_.Counts().writes, 3);  // 1-3, 5-6 and 9
    manager->Flush();
    EXPECT_EQ(testing::ReadFileBytes(Path()), single);
    EXPECT_EQ(*payloads_[0], PatternBytes(kPayload, 1));  // the caller's bytes stay as they are

    std::vector<Bytes> back;
    std::vector<TPageHeader> headers;
    env_.ResetCounts();
    ASSERT_EQ(ReadBack(*manager, page_nos, back, &headers), 6);
    EXPECT_EQ(manager->LastError(), 0);
    if (c.part_size < 0) EXPECT_EQ(env_.Counts().reads, 3);
    for (size_t i = 0; i < page_nos.size(); ++i) {
      EXPECT_EQ(back[i], PatternBytes(kPayload, page_nos[i])) << page_nos[i];
      EXPECT_EQ(headers[i].NextPageNo, 77);
      EXPECT_EQ(headers[i].EncryptionType, header.EncryptionType);
      // The checksum of the payload as stored, as a single-page read finds it.
      Bytes one(kPayload);
      TPage page{{}, one.data()};
      ASSERT_TRUE(manager->ReadPage(page, page_nos[i]));
      EXPECT_EQ(headers[i].Checksum, page.Header.Checksum);
    }
  }
}

TEST_F(PageRunTest, LongRunsAreSplitIntoBoundedTransfers) {
  auto manager = Create(302);
  std::vector<int32_t> page_nos;
  for (int32_t n = 1; n <= 300; ++n) page_nos.push_back(n);
  const auto payloads = PayloadsOf(page_nos);
  env_.ResetCounts();
  ASSERT_EQ(manager->WritePages(page_nos, payloads, TPageHeader{}), 300);
  EXPECT_EQ(env_.Counts().writes, 2);  // 1 MiB at most: 256 pages, then 44
  std::vector<Bytes> back;
  env_.ResetCounts();
  ASSERT_EQ(ReadBack(*manager, page_nos, back), 300);
  EXPECT_EQ(env_.Counts().reads, 2);
  EXPECT_EQ(back[299], PatternBytes(kPayload, 300));
}

TEST_F(PageRunTest, AFailureStopsTheRunAtTheFirstPageNotMoved) {
  using Pages = std::vector<int32_t>;
  using Fault = std::function<void(testing::FaultEnv&)>;
  auto short_write = [](int64_t bytes) -> Fault {
    return [=](testing::FaultEnv& e) { e.ShortenWrite(1, bytes); };
  };
  auto short_read = [](int64_t bytes) -> Fault {
    return [=](testing::FaultEnv& e) { e.ShortenRead(1, bytes); };
  };
  auto flip = [](int32_t page_no, int64_t byte) -> Fault {
    return [=](testing::FaultEnv& e) { e.FlipByteOnRead("c.ovb", OnDisk(page_no, byte), 1); };
  };
  const Fault none = [](testing::FaultEnv&) {};
  struct Case {
    const char* what;
    bool write;
    Pages page_nos;
    int32_t done;
    int error;
    Fault fault;
  } cases[] = {
      {"failed write", true, {1, 2, 3, 4}, 0, -8, [](auto& e) { e.FailWrite(1); }},
      {"write short in a header", true, {1, 2, 3, 4}, 2, -8, short_write(2 * 4096 + 31)},
      {"write short in a payload", true, {1, 2, 3, 4}, 2, -10, short_write(2 * 4096 + 40)},
      {"second run fails", true, {1, 2, 5, 6}, 2, -8, [](auto& e) { e.FailWrite(2); }},
      {"page outside the file", true, {2, 3, 12, 4}, 2, -8, none},
      {"read short in a header", false, {1, 2, 3, 4}, 3, -7, short_read(3 * 4096 + 31)},
      {"read short in a payload", false, {1, 2, 3, 4}, 3, -9, short_read(3 * 4096 + 99)},
      {"damaged payload", false, {1, 2, 3, 4}, 1, -11, flip(2, 100)},
      {"enciphered page without a key", false, {1, 2, 3, 4}, 2, -12, flip(3, 9)},
      {"page outside the file", false, {1, 2, 0, 3}, 2, -7, none},
  };
  auto manager = Create(10);
  const Pages all = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(manager->WritePages(all, PayloadsOf(all), TPageHeader{}), 6);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.fault(env_);
    std::vector<Bytes> back;
    const int32_t done =
        c.write ? manager->WritePages(c.page_nos, PayloadsOf(c.page_nos), TPageHeader{})
                : ReadBack(*manager, c.page_nos, back);
    EXPECT_EQ(done, c.done);
    EXPECT_EQ(manager->LastError(), c.error);
    for (int32_t i = 0; i < done && !c.write; ++i)
      EXPECT_EQ(back[size_t(i)], PatternBytes(kPayload, c.page_nos[size_t(i)]));
    env_.ClearFaults();
  }
}

TEST_F(PageRunTest, EncipheringFailureWritesOnlyThePagesBeforeIt) {
  auto manager = Create(4);
  std::vector<int32_t> page_nos = {1, 2, 3};
  env_.ResetCounts();
  // A plain container has no key to encipher with.
  EXPECT_EQ(manager->WritePages(page_nos, PayloadsOf(page_nos),
                                TPageHeader{-1, 0, kPageTypeFileData, kEncryptionContainerKey, 0}),
            0);
  EXPECT_EQ(manager->LastError(), kPageErrorEncryption);
  EXPECT_EQ(env_.Counts().writes, 0);
  std::vector<const uint8_t*> payloads = PayloadsOf(page_nos);
  EXPECT_THROW(manager->WritePages(page_nos, std::span(payloads).first(2), TPageHeader{}),
               Exception);
}

class ContainerRunTest : public testing::ContainerTest {};

// The 64 KiB steps of a copy into the container: every step after the first appends.
TEST_F(ContainerRunTest, AnAppendIsOneDataTransferAndAReadOneOrTwo) {
  auto fs = Create();
  const Bytes data = PatternBytes(8 * 65536, 3);
  const int32_t handle = fs->FileOpen("big.dat", kOpenModeCreate);
  int64_t most_writes = 0, most_reads = 0;
  for (size_t at = 0; at < data.size(); at += 65536) {
    env_.ResetCounts();
    ASSERT_EQ(fs->FileWrite(handle, data.data() + at, 65536), 65536);
    if (at == 0) continue;
    most_writes = std::max(most_writes, env_.Counts().writes);
    most_reads = std::max(most_reads, env_.Counts().reads);
  }
  // Header, GAM and PFS pages for the new extents, the map page, the data run and the item;
  // the one read is the partial page the step before left.
  EXPECT_LE(most_writes, 6);
  EXPECT_LE(most_reads, 1);

  fs->FileSeek(handle, 0, 0);
  Bytes back(data.size());
  most_reads = 0;
  for (size_t at = 0; at < back.size(); at += 65536) {
    env_.ResetCounts();
    ASSERT_EQ(fs->FileRead(handle, back.data() + at, 65536), 65536);
    most_reads = std::max(most_reads, env_.Counts().reads);
  }
  EXPECT_LE(most_reads, 2);  // a map page may lie between the data extents
  EXPECT_EQ(back, data);
  fs->FileClose(handle);
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerRunTest, TransfersStoppedInsideARunCountTheWholePagesMoved) {
  auto fs = Create();
  const Bytes data = PatternBytes(10 * kPayload, 5);
  testing::PutFile(*fs, "a.dat", data);
  const TDirItem& item = ItemOf(*fs, "a.dat");
  const std::vector<int32_t> pages(fs->PageMaps().GetMaps(item).DataPages.begin(),
                                   fs->PageMaps().GetMaps(item).DataPages.end());
  ASSERT_EQ(pages.size(), 10u);
  // The pages follow each other, so each read below is one run from the first page on.
  for (size_t k = 1; k < pages.size(); ++k) ASSERT_EQ(pages[k], pages[k - 1] + 1);

  struct Case {
    const char* what;
    std::function<void(testing::FaultEnv&)> fault;
    int64_t done;
    int error;
  } cases[] = {
      {"short in the fourth page", [](auto& e) { e.ShortenRead(1, 3 * 4096 + 500); },
       100 + 2 * kPayload, kPageErrorPayloadNotRead},
      {"fifth page damaged", [&](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(pages[4], 300), 4); },
       100 + 3 * kPayload, kPageErrorChecksum},
      {"sixth page not a data page",
       [&](auto& e) { e.FlipByteOnRead("c.ovb", OnDisk(pages[5], 8), 3); }, 100 + 4 * kPayload,
       kPageErrorChecksum},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadShared);
    // From inside the first page, so that its partial bytes come through a scratch page.
    fs->FileSeek(handle, 0, kPayload - 100);
    c.fault(env_);
    Bytes back(data.size());
    EXPECT_EQ(fs->FileRead(handle, back.data(), 9 * kPayload), c.done);
    EXPECT_EQ(fs->LastError(), c.error);
    EXPECT_EQ(fs->FileSeek(handle, 1, 0), kPayload - 100 + c.done);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + c.done, data.begin() + kPayload - 100));
    env_.ClearFaults();
    fs->FileClose(handle);
  }

  // A write cut short inside its run keeps the whole pages it wrote; in place, the data run is
  // the first write.
  const Bytes more = PatternBytes(6 * kPayload, 6);
  const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
  fs->FileSeek(handle, 0, 2 * kPayload);
  // Cut between pages: a cut inside a page would leave that page torn, failing its checksum.
  env_.ShortenWrite(1, 3 * 4096);
  EXPECT_EQ(fs->FileWrite(handle, more.data(), int64_t(more.size())), 3 * kPayload);
  EXPECT_EQ(fs->LastError(), kPageErrorHeaderNotWritten);
  EXPECT_EQ(fs->FileSeek(handle, 1, 0), 5 * kPayload);
  fs->FileClose(handle);
  Bytes expected = data;
  std::copy(more.begin(), more.begin() + 3 * kPayload, expected.begin() + 2 * kPayload);
  EXPECT_EQ(testing::GetFile(*fs, "a.dat"), expected);
  fs.reset();
  ExpectClean();
}

TEST_F(ContainerRunTest, StraySGAMBitsPastTheExtentsAreClearedWhenExtentsAreAdded) {
  {
    // Large enough that its last pages lie in an extent of its own.
    auto fs = Create();
    testing::PutFile(*fs, "a.dat", PatternBytes(100 * kPayload));
  }
  {
    // Bits past the last extent that the format says are zero.
    TPageFileManager pages(Path(), kOpenModeReadWriteDenyWrite, "", "", "", false, 0, 0, -1, &env_);
    const TBitmapGeometry geometry = TBitmapGeometry::Of(pages.Header());
    const int32_t sgam_page = int32_t(geometry.GAMPageNo(0)) + 1;
    Bytes bits(size_t(geometry.BytesPerGAM));
    TPage page{{}, bits.data()};
    ASSERT_TRUE(pages.ReadPage(page, sgam_page, geometry.BytesPerGAM));
    bits[10] = 0xFF;  // extents 80 to 87
    ASSERT_TRUE(pages.WritePage(page, sgam_page, {}, geometry.BytesPerGAM));
  }
  ExpectClean();
  {
    // Wholly free extents past extent 87 for a file that keeps its one map page: nothing else
    // changes an SGAM bit.
    auto fs = Open();
    const int32_t handle = fs->FileOpen("a.dat", kOpenModeReadWriteDenyWrite);
    fs->FileSeek(handle, 2, 0);
    const Bytes more = PatternBytes(800 * kPayload, 2);
    ASSERT_EQ(fs->FileWrite(handle, more.data(), int64_t(more.size())), int64_t(more.size()));
    fs->FileClose(handle);
    ASSERT_GT(fs->FreeSpace().ExtentCount(), 88);
  }
  ExpectClean();
}

}  // namespace
}  // namespace orv
