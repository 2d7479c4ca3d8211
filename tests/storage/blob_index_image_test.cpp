#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/protect/compression.h"
#include "engine/storage/blob_index_image.h"
#include "platform/exception.h"
#include "tests/storage/memory_table_store.h"

namespace orv {
namespace {

using ::testing::AllOf;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::GetI32;
using ::testing::HasSubstr;
using testing::PutI32;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

// Two BLOB fields of two records: a value of two runs, an empty header that still carries a
// stale run, a value of one run and a plain empty one; one free run.
TBlobIndexImage SampleImage() {
  TBlobIndexImage image;
  image.Header.BlockSize = 512;
  image.Header.BlobFieldsPerRecord = 2;
  image.Header.RecordCount = 2;
  image.Headers.resize(4);
  image.Headers[0] = {0, 600, 700, "AbCdEfGh", {{0, 1}, {5, 1}}};
  image.Headers[1] = {0, 0, 9, "x", {{9, 9}}};
  image.Headers[2] = {0, 1024, 1024, "12345678", {{1, 2}}};
  image.FreeParts = {{3, 2}};
  return image;
}

TEST(BlobIndexImage, EncodeLaysOutHeadersPartListsAndFreeParts) {
  TBlobIndexImage image = SampleImage();
  const Bytes bytes = EncodeBlobIndexImage(image);
  // 24 + 4 x 32 = 152; part lists 16 + 0 + 8 + 0 bytes; one free part.
  ASSERT_EQ(bytes.size(), 152u + 24 + 8);
  struct {
    size_t offset;
    int32_t value;
  } words[] = {
      {0, 512}, {4, 1},     {8, 2},     {12, 2},      // block size, F, B, C
      {24, 2},  {28, 152},  {32, 600},  {36, 700},    // header 0
      {56, 0},  {60, 168},  {64, 0},    {68, 0},      // header 1, emptied
      {88, 1},  {92, 168},  {96, 1024}, {100, 1024},  // header 2
      {120, 0}, {124, 176},                           // header 3
      {152, 0}, {156, 1},   {160, 5},   {164, 1},     // parts of header 0
      {168, 1}, {172, 2},                             // part of header 2
      {176, 3}, {180, 2},                             // free part
  };
  for (const auto& w : words) EXPECT_EQ(GetI32(bytes, w.offset), w.value) << "offset " << w.offset;
  EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 24), (Bytes{0, 0, 0, 0, 0, 0, 0x12, 0x40}));
  EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 49),
            (Bytes{8, 'A', 'b', 'C', 'd', 'E', 'f', 'G', 'h'}));
  // The save settles the in-memory headers too.
  EXPECT_TRUE(image.Headers[1].Parts.empty());
  EXPECT_EQ(image.Headers[1].Size, 0);
  EXPECT_EQ(image.Headers[2].PartListOffset, 168);
  EXPECT_EQ(image.Header.FreePartCount, 1);
}

TEST(BlobIndexImage, DecodeGivesBackWhatWasEncoded) {
  TBlobIndexImage image = SampleImage();
  const Bytes bytes = EncodeBlobIndexImage(image);
  const TBlobIndexImage read = DecodeBlobIndexImage(bytes, 2, 8 * 512, "T");
  EXPECT_EQ(read.Header.BlockSize, 512);
  EXPECT_EQ(read.Header.FreePartCount, 1);
  EXPECT_EQ(read.Header.RecordCount, 2);
  EXPECT_EQ(read.Header.Version, 4.5);
  ASSERT_EQ(read.Headers.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read.Headers[i].StoredSize, image.Headers[i].StoredSize);
    EXPECT_EQ(read.Headers[i].Size, image.Headers[i].Size);
    EXPECT_EQ(read.Headers[i].Crc, image.Headers[i].Crc);
    EXPECT_EQ(read.Headers[i].Parts, image.Headers[i].Parts);
  }
  EXPECT_THAT(read.FreeParts, ElementsAre(BLOBPartType{3, 2}));
}

TEST(BlobIndexImage, DecodeRefusesDamage) {
  TBlobIndexImage sample = SampleImage();
  const Bytes good = EncodeBlobIndexImage(sample);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::string problem;
  };
  const Case cases[] = {
      {"shorter than its header", [](Bytes& b) { b.resize(23); }, "image of 23 bytes"},
      {"block size 0", [](Bytes& b) { PutI32(b, 0, 0); }, "block size 0"},
      {"other BLOB field count", [](Bytes& b) { PutI32(b, 8, 3); }, "3 BLOB fields per record"},
      {"negative record count", [](Bytes& b) { PutI32(b, 12, -1); }, "-1 records"},
      {"records past the image", [](Bytes& b) { PutI32(b, 12, 0x7FFFFFFF); }, "2147483647 records"},
      {"free parts past the image", [](Bytes& b) { PutI32(b, 4, 100); }, "100 free parts"},
      {"negative free part count", [](Bytes& b) { PutI32(b, 4, -1); }, "-1 free parts"},
      {"part list past the image", [](Bytes& b) { PutI32(b, 28, 180); }, "2 parts at offset 180"},
      {"part list inside the headers", [](Bytes& b) { PutI32(b, 28, 24); }, "2 parts at offset 24"},
      {"many parts", [](Bytes& b) { PutI32(b, 24, 0x7FFFFFFF); }, "2147483647 parts"},
      {"parts of an empty value", [](Bytes& b) { PutI32(b, 32, 0); }, "parts for an empty value"},
      {"value larger than its blocks", [](Bytes& b) { PutI32(b, 32, 1025); }, "1025 bytes in 2"},
      {"negative size", [](Bytes& b) { PutI32(b, 36, -5); }, "size -5"},
      {"negative first block", [](Bytes& b) { PutI32(b, 152, -1); }, "at block -1"},
      {"run of no blocks", [](Bytes& b) { PutI32(b, 164, 0); }, "part of 0 blocks"},
      {"run past the data file", [](Bytes& b) { PutI32(b, 160, 8); }, "past the end of the data"},
      {"free run past the data file", [](Bytes& b) { PutI32(b, 180, 9); }, "free part of 9"},
      {"CRC over its slot", [](Bytes& b) { b[40] = 13; }, "CRC text length 13"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.damage(bytes);
    EXPECT_THAT([&] { DecodeBlobIndexImage(bytes, 2, 8 * 512, "CARS"); },
                ThrowsMessage<Exception>(
                    AllOf(StartsWith("Table is corrupted - blob headers are damaged ("),
                          HasSubstr(c.problem), HasSubstr("). TableName = CARS"))));
  }
  // Without the data file's size only the block arithmetic bounds the runs.
  Bytes far = good;
  PutI32(far, 160, 1000);
  EXPECT_EQ(DecodeBlobIndexImage(far, 2, -1, "T").Headers[0].Parts[1].FirstBlock, 1000);
  PutI32(far, 160, 0x7FFFFFF0);
  EXPECT_THROW(DecodeBlobIndexImage(far, 2, -1, "T"), Exception);
}

TEST(BlobIndexImage, EncodeRefusesHeadersThatDoNotMatchTheCounts) {
  TBlobIndexImage image = SampleImage();
  image.Headers.pop_back();
  EXPECT_THAT([&] { EncodeBlobIndexImage(image); },
              ThrowsMessage<Exception>(HasSubstr("TOrvelDataManager.SaveBLOBHeaders - 3 BLOB")));
}

class BlobIndexFileTest : public ::testing::Test {
 protected:
  BlobIndexFileTest() { bif_.Open(true); }
  TMemoryFile bif_{nullptr, "T.bif"};
};

TEST_F(BlobIndexFileTest, WritesTheSizeAndALevelOneStream) {
  TBlobIndexImage sample = SampleImage();
  const Bytes image = EncodeBlobIndexImage(sample);
  testing::WriteAllBytes(bif_, Bytes(5000, 0xEE));
  WriteBlobIndexFile(bif_, image);
  const Bytes bytes = testing::ReadAllBytes(bif_);
  EXPECT_EQ(GetI32(bytes, 0), static_cast<int32_t>(image.size()));
  EXPECT_EQ(bytes[4], 0x78);
  EXPECT_EQ(bytes[5], 0x01);
  Bytes unpacked;
  ASSERT_TRUE(
      mvDecompressBuffer(bytes.data() + 4, bytes.size() - 4, unpacked, clFastest, image.size()));
  EXPECT_EQ(unpacked, image);
  EXPECT_EQ(ReadBlobIndexFile(bif_, 4.5, "T"), image);
  EXPECT_EQ(ReadBlobIndexFile(bif_, 2.199, "T"), image);
}

TEST_F(BlobIndexFileTest, OldFormatsHoldTheBareImageOrAreRefused) {
  const Bytes raw = {1, 2, 3, 4, 5};
  testing::WriteAllBytes(bif_, raw);
  EXPECT_EQ(ReadBlobIndexFile(bif_, 1.2, "T"), raw);
  EXPECT_THAT([&] { ReadBlobIndexFile(bif_, 2.0, "CARS"); },
              ThrowsMessage<Exception>(AllOf(
                  StartsWith("Error in TOrvelDataManager.LoadBLOBHeaders - the format 2.00 of "
                             "table CARS is not supported."),
                  HasSubstr("support"))));
}

TEST_F(BlobIndexFileTest, RefusesWhatDoesNotDecompressToItsSize) {
  TBlobIndexImage sample = SampleImage();
  const Bytes image = EncodeBlobIndexImage(sample);
  WriteBlobIndexFile(bif_, image);
  const Bytes good = testing::ReadAllBytes(bif_);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {"empty file", [](Bytes& b) { b.clear(); }},
      {"count only", [](Bytes& b) { b.resize(4); }},
      {"stream cut", [](Bytes& b) { b.resize(b.size() - 6); }},
      {"stream garbled", [](Bytes& b) { b[8] ^= 0xFF, b[9] ^= 0x55; }},
      {"count larger than the stream holds", [](Bytes& b) { PutI32(b, 0, GetI32(b, 0) + 1); }},
      {"count smaller", [](Bytes& b) { PutI32(b, 0, GetI32(b, 0) - 1); }},
      {"count below a header", [](Bytes& b) { PutI32(b, 0, 23); }},
      // Past what deflate can pack in the bytes that follow: refused before any buffer.
      {"count of 2 GiB", [](Bytes& b) { PutI32(b, 0, 0x7FFFFFFF); }},
      {"negative count", [](Bytes& b) { PutI32(b, 0, -1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.damage(bytes);
    testing::WriteAllBytes(bif_, bytes);
    EXPECT_THAT([&] { ReadBlobIndexFile(bif_, 4.5, "CARS"); },
                ThrowsMessage<Exception>(
                    "Table is corrupted - blob headers cannot be decompressed. TableName = CARS"));
  }
}

}  // namespace
}  // namespace orv
