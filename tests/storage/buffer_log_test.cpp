#include "engine/storage/buffer_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/exception.h"
#include "platform/memory.h"
#include "tests/storage/counting_file.h"

namespace orv {
namespace {

using testing::CountingFile;
using ::testing::HasSubstr;

constexpr int32_t kOffset = 100;
constexpr int32_t kSize = 8;

std::vector<uint8_t> Image(uint8_t fill) {
  return std::vector<uint8_t>(kSize, fill);
}

// The bytes of record n in a .dat image.
std::vector<uint8_t> RecordAt(const std::vector<uint8_t>& file, int32_t n) {
  const auto at = file.begin() + kOffset + n * kSize;
  return {at, at + kSize};
}

TEST(BufferLogTest, FindsTheNewestImageAndWritesInLoggedOrder) {
  CountingFile dat;
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  log.AddToLog(3, Image(1).data());
  log.AddToLog(0, Image(2).data());
  log.AddToLog(3, Image(5).data());
  EXPECT_EQ(log.FindInLog(3)[0], 5);
  EXPECT_EQ(log.FindInLog(0)[0], 2);
  EXPECT_EQ(log.FindInLog(1), nullptr);
  EXPECT_EQ(log.FindInLog(-1), nullptr);
  EXPECT_EQ(log.BufferedBytes(), 3 * kSize);

  log.FlushBuffers();
  EXPECT_EQ(log.EntryCount(), 0);
  EXPECT_EQ(log.FindInLog(3), nullptr);
  EXPECT_EQ(log.FlushCount(), 1u);
  const std::vector<uint8_t> file = dat.Bytes();
  ASSERT_EQ(file.size(), size_t(kOffset + 4 * kSize));
  EXPECT_EQ(RecordAt(file, 3), Image(5));  // the later image of 3 wins
  EXPECT_EQ(RecordAt(file, 0), Image(2));
  EXPECT_EQ(RecordAt(file, 1), Image(0));
}

// A delete drops the image of the number that left the table; a record appended under it
// later is written again.
TEST(BufferLogTest, ADroppedRecordsNewestImageIsNotWritten) {
  CountingFile dat;
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  log.AddToLog(0, Image(1).data());
  log.AddToLog(1, Image(2).data());
  log.AddToLog(2, Image(3).data());
  log.DropRecord(2);
  log.DropRecord(7);
  EXPECT_EQ(log.FindInLog(2), nullptr);
  log.FlushBuffers();
  EXPECT_EQ(dat.Bytes().size(), size_t(kOffset + 2 * kSize));

  log.AddToLog(1, Image(4).data());
  log.DropRecord(1);
  log.AddToLog(1, Image(5).data());
  log.FlushBuffers();
  EXPECT_EQ(RecordAt(dat.Bytes(), 1), Image(5));
}

TEST(BufferLogTest, ConsecutiveImagesGoOutInOneWriteAndSeeksOnlyWhereNeeded) {
  CountingFile dat;
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  for (int32_t n = 0; n < 1000; ++n) log.AddToLog(n, Image(static_cast<uint8_t>(n)).data());
  log.AddToLog(5, Image(0xEE).data());     // a jump back: a seek and a write of its own
  log.AddToLog(6, Image(0xEF).data());     // follows 5: joins its write
  log.AddToLog(1000, Image(0xF0).data());  // a jump ahead to the file end
  dat.ResetCounts();
  log.FlushBuffers();
  EXPECT_EQ(dat.writes, 3);
  EXPECT_EQ(dat.seeks, 3);  // to record 0, back to 5, on to 1000
  const std::vector<uint8_t> file = dat.Bytes();
  EXPECT_EQ(RecordAt(file, 4), Image(4));
  EXPECT_EQ(RecordAt(file, 5), Image(0xEE));
  EXPECT_EQ(RecordAt(file, 6), Image(0xEF));
  EXPECT_EQ(RecordAt(file, 999), Image(999 % 256));
  EXPECT_EQ(RecordAt(file, 1000), Image(0xF0));

  // Already where the next write goes: no seek at all.
  log.AddToLog(1001, Image(1).data());
  dat.ResetCounts();
  log.FlushBuffers();
  EXPECT_EQ(dat.seeks, 0);
  EXPECT_EQ(dat.writes, 1);
}

TEST(BufferLogTest, ManyScatteredImagesAreLaidOverTheStretchTheyFallIn) {
  CountingFile dat;
  std::vector<uint8_t> old(kOffset + 300 * kSize, 0xAB);
  dat.WriteBuffer(old.data(), static_cast<int32_t>(old.size()));
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  for (int32_t n = 298; n >= 100; n -= 2) log.AddToLog(n, Image(static_cast<uint8_t>(n)).data());
  log.AddToLog(150, Image(1).data());  // logged later: wins over the first image of 150
  log.AddToLog(305, Image(2).data());  // past the end of the file
  dat.ResetCounts();
  log.FlushBuffers();
  EXPECT_EQ(dat.writes, 1);
  EXPECT_EQ(dat.reads, 1);
  const std::vector<uint8_t> file = dat.Bytes();
  ASSERT_EQ(file.size(), size_t(kOffset + 306 * kSize));
  EXPECT_EQ(RecordAt(file, 99), Image(0xAB));
  EXPECT_EQ(RecordAt(file, 100), Image(100));
  EXPECT_EQ(RecordAt(file, 101), Image(0xAB));  // untouched records keep their bytes
  EXPECT_EQ(RecordAt(file, 150), Image(1));
  EXPECT_EQ(RecordAt(file, 298), Image(298 % 256));
  EXPECT_EQ(RecordAt(file, 299), Image(0xAB));
  EXPECT_EQ(RecordAt(file, 302), Image(0));
  EXPECT_EQ(RecordAt(file, 305), Image(2));

  // Far apart, the stretch would be mostly foreign bytes: one write per image instead.
  for (int32_t n = 0; n < 20; ++n) log.AddToLog(n * 5000, Image(3).data());
  dat.ResetCounts();
  log.FlushBuffers();
  EXPECT_EQ(dat.writes, 20);
  EXPECT_EQ(dat.reads, 0);
}

TEST(BufferLogTest, FlushesAtTheEntryByteAndAgeLimits) {
  struct Case {
    const char* name;
    int32_t entries;
    uint64_t memory;  // physical memory the byte limit is taken from
    uint32_t age;     // of the oldest entry when asked
    bool flushes;
  };
  const uint64_t plenty = uint64_t(1) << 32;
  const Case cases[] = {
      {"below every limit", TmvBufferLogArray::kEntryLimit - 1, plenty, 1000, false},
      {"entry limit", TmvBufferLogArray::kEntryLimit, plenty, 0, true},
      {"one entry older than a second", 1, plenty, 1001, true},
      {"bytes reach a twentieth of memory", 3, 20 * (3 * kSize - 1), 0, true},
      {"bytes just below the limit", 3, 20 * (3 * kSize), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TScopedAvailablePhysicalMemory memory(c.memory);
    CountingFile dat;
    uint32_t now = 5000;
    TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
    log.SetTickSource([&] { return now; });
    for (int32_t n = 0; n < c.entries; ++n) log.AddToLog(n, Image(1).data());
    now += c.age;
    EXPECT_EQ(log.FlushIfNeeded(), c.flushes);
    EXPECT_EQ(log.EntryCount(), c.flushes ? 0 : c.entries);
  }
  CountingFile dat;
  TmvBufferLogArray empty(&dat, kOffset, kSize, nullptr, 0);
  EXPECT_FALSE(empty.FlushIfNeeded());
}

TEST(BufferLogTest, AgeSurvivesTheTickCounterWrapping) {
  CountingFile dat;
  uint32_t now = 0xFFFFFF00u;
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  log.SetTickSource([&] { return now; });
  log.AddToLog(0, Image(1).data());
  now += 0x200;  // wrapped, 512 ms later
  EXPECT_FALSE(log.FlushIfNeeded());
  now += 600;
  EXPECT_TRUE(log.FlushIfNeeded());
}

TEST(BufferLogTest, BlobBlocksGoToTheirRunsInOrderWithTheRecords) {
  CountingFile dat, bdf;
  constexpr int32_t kBlock = 4;
  TmvBufferLogArray log(&dat, kOffset, kSize, &bdf, kBlock);
  std::vector<uint8_t> blocks(3 * kBlock);
  for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i + 1);
  log.AddToLog(std::move(blocks), {{5, 1}, {1, 2}});
  log.AddToLog(0, Image(7).data());
  EXPECT_EQ(log.FindInLog(-1), nullptr);
  log.FlushBuffers();
  const std::vector<uint8_t> data = bdf.Bytes();
  ASSERT_EQ(data.size(), size_t(6 * kBlock));
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 20, data.begin() + 24),
            (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 4, data.begin() + 12),
            (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(RecordAt(dat.Bytes(), 0), Image(7));
}

TEST(BufferLogTest, AFailedWriteKeepsEveryEntry) {
  CountingFile dat, bdf;
  TmvBufferLogArray log(&dat, kOffset, kSize, &bdf, 4);
  log.AddToLog(0, Image(1).data());
  log.AddToLog(std::vector<uint8_t>(8, 9), {{0, 2}});
  bdf.write_cap = 5;
  EXPECT_THAT([&] { log.FlushBuffers(); },
              ::testing::ThrowsMessage<Exception>(
                  "TmvBufferLogArray.FlushBuffers - error writing data to blob file, xx = 5, "
                  "bc = 8"));
  EXPECT_EQ(log.EntryCount(), 2);
  EXPECT_NE(log.FindInLog(0), nullptr);
  dat.write_cap = 3;
  EXPECT_THROW(log.FlushBuffers(), Exception);
  EXPECT_EQ(log.EntryCount(), 2);
  bdf.write_cap = dat.write_cap = -1;
  log.FlushBuffers();
  EXPECT_EQ(log.EntryCount(), 0);
  EXPECT_EQ(bdf.Bytes(), std::vector<uint8_t>(8, 9));
}

TEST(BufferLogTest, RefusesBlobRunsTheBufferCannotFillAndMissingFiles) {
  CountingFile dat;
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 4);
  EXPECT_THAT(
      [&] {
        log.AddToLog(std::vector<uint8_t>(4), {{0, 1}, {3, 1}});
      },
      ::testing::Throws<Exception>());
  EXPECT_THAT(
      [&] {
        log.AddToLog(std::vector<uint8_t>(4), {{-1, 1}});
      },
      ::testing::Throws<Exception>());
  EXPECT_EQ(log.EntryCount(), 0);
  log.AddToLog(std::vector<uint8_t>(4), {{0, 1}});
  EXPECT_THAT([&] { log.FlushBuffers(); },
              ::testing::ThrowsMessage<Exception>(HasSubstr("BLOB file is not open")));
  TmvBufferLogArray no_blobs(&dat, kOffset, kSize, nullptr, 0);
  EXPECT_THROW(no_blobs.AddToLog(std::vector<uint8_t>(4), {{0, 1}}), Exception);
  TmvBufferLogArray no_dat(nullptr, kOffset, kSize, nullptr, 0);
  no_dat.AddToLog(0, Image(1).data());
  EXPECT_THROW(no_dat.FlushBuffers(), Exception);
  no_dat.SetFiles(&dat, nullptr);
  no_dat.FlushBuffers();
  EXPECT_EQ(RecordAt(dat.Bytes(), 0), Image(1));
}

}  // namespace
}  // namespace orv
