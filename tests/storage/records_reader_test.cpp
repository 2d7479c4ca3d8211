#include "engine/storage/record_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "engine/storage/buffer_log.h"
#include "platform/exception.h"
#include "tests/storage/counting_file.h"

namespace orv {
namespace {

using testing::CountingFile;

constexpr int32_t kOffset = 40;
constexpr int32_t kSize = 16;

// A .dat whose record n is kSize bytes of the value n.
void FillFile(CountingFile& dat, int32_t records) {
  std::vector<uint8_t> bytes(static_cast<size_t>(kOffset + records * kSize), 0xFF);
  for (int32_t n = 0; n < records; ++n)
    std::fill_n(bytes.begin() + kOffset + n * kSize, kSize, static_cast<uint8_t>(n));
  dat.SetPosition(0);
  dat.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  dat.ResetCounts();
}

std::vector<uint8_t> Values(const std::vector<uint8_t>& images) {
  std::vector<uint8_t> values;
  for (size_t i = 0; i < images.size(); i += kSize) values.push_back(images[i]);
  return values;
}

TEST(RecordsReaderTest, LoggedImagesWinAndTheFileIsReadInLargeTransfers) {
  CountingFile dat;
  FillFile(dat, 10);
  TmvBufferLogArray log(&dat, kOffset, kSize, nullptr, 0);
  TRecordFileReader reader(kOffset, kSize);
  reader.SetFile(&dat);
  reader.SetLog(&log);
  log.AddToLog(3, std::vector<uint8_t>(kSize, 0xA3).data());
  log.AddToLog(7, std::vector<uint8_t>(kSize, 0xA7).data());

  std::vector<uint8_t> out(10 * kSize);
  reader.Read(0, 10, out.data());
  EXPECT_EQ(Values(out), (std::vector<uint8_t>{0, 1, 2, 0xA3, 4, 5, 6, 0xA7, 8, 9}));
  EXPECT_EQ(dat.reads, 1);
  for (int32_t n = 0; n < 10; ++n) reader.Read(n, 1, out.data());
  EXPECT_EQ(dat.reads, 1);

  // A flush changes the file under the window: it is read again.
  log.FlushBuffers();
  reader.Read(3, 1, out.data());
  EXPECT_EQ(out[0], 0xA3);
  EXPECT_EQ(dat.reads, 2);
}

TEST(RecordsReaderTest, ARunAsLargeAsTheWindowIsOneDirectRead) {
  const int32_t records = TRecordFileReader::kWindowBytes / kSize + 5;
  CountingFile dat;
  FillFile(dat, records);
  TRecordFileReader reader(kOffset, kSize);
  reader.SetFile(&dat);
  std::vector<uint8_t> out(static_cast<size_t>(records) * kSize);
  reader.Read(0, records, out.data());
  EXPECT_EQ(dat.reads, 1);
  EXPECT_EQ(out[static_cast<size_t>(records - 1) * kSize], static_cast<uint8_t>(records - 1));
}

TEST(RecordsReaderTest, AShortFileOrNoFileRaises) {
  CountingFile dat;
  FillFile(dat, 4);
  TRecordFileReader reader(kOffset, kSize);
  std::vector<uint8_t> out(8 * kSize);
  EXPECT_THROW(reader.Read(0, 1, out.data()), Exception);
  reader.SetFile(&dat);
  EXPECT_THAT([&] { reader.Read(2, 3, out.data()); },
              ::testing::ThrowsMessage<Exception>(::testing::HasSubstr("ends before record 4")));
  EXPECT_THROW(reader.Read(-1, 1, out.data()), Exception);
  reader.Read(2, 2, out.data());
  EXPECT_EQ(Values({out.begin(), out.begin() + 2 * kSize}), (std::vector<uint8_t>{2, 3}));
}

}  // namespace
}  // namespace orv
