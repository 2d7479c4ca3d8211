#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/files/memory_file.h"
#include "engine/protect/compression.h"
#include "engine/protect/hash.h"
#include "engine/storage/blob_index_image.h"
#include "engine/storage/blob_store.h"
#include "engine/storage/buffer_log.h"
#include "platform/exception.h"
#include "platform/streams.h"
#include "tests/storage/memory_table_store.h"

namespace orv {
namespace {

using ::testing::AllOf;
using ::testing::AnyOf;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::GetI32;
using ::testing::HasSubstr;
using testing::MemoryTableStore;
using testing::ReadAllBytes;
using ::testing::StartsWith;
using ::testing::ThrowsMessage;

// Field 0 is a plain integer; 1..3 hold BLOBs.
constexpr int32_t kNumber = 0;
constexpr int32_t kPicture = 1;
constexpr int32_t kMemo = 2;
constexpr int32_t kData = 3;

std::vector<FieldHeaderType> TableFields() {
  return {{"N", ftInteger, 4, false},
          {"Picture", ftGraphic, 0, false},
          {"Memo", ftMemo, 0, false},
          {"Data", ftBlob, 0, false}};
}

class FakeContext : public TOrvelBlobStoreContext {
 public:
  TmvBufferLogArray* BufferLog() override { return log; }
  const std::string& TablePassword() const override { return password; }
  bool IsReadOnly() const override { return read_only; }
  void FlushIfNeeded() override { ++flush_checks; }
  void FlushLog() override {
    log->FlushBuffers();
    store->SaveBLOBHeaders(false);
  }
  void AcquireFiles() override { ++acquired; }
  void ReleaseFiles() override { ++released; }

  TmvBufferLogArray* log = nullptr;
  TOrvelBlobStore* store = nullptr;
  std::string password;
  bool read_only = false;
  int flush_checks = 0;
  int acquired = 0;
  int released = 0;
};

struct TableSpec {
  TCompressionLevel level = clNone;
  std::string password;  // non-empty: the table is encrypted
  int32_t block_size = 512;
};

// A table with BLOB fields over memory files, as the data manager would hold it.
class BlobTable {
 public:
  explicit BlobTable(TableSpec spec = {}) : spec_(std::move(spec)) {
    OpenObjects(true);
    store_->Reset(spec_.block_size);
  }

  TOrvelBlobStore& Store() { return *store_; }
  TOrvelTableFiles& Files() { return *files_; }
  FakeContext& Context() { return context_; }
  MemoryTableStore& Memory() { return memory_; }
  TAbstractFile& Bdf() { return *files_->File(tfkBlobData); }
  TAbstractFile& Bif() { return *files_->File(tfkBlobIndex); }

  void AddRecords(int count) {
    for (int i = 0; i < count; ++i) store_->mvAddBLOBRecord();
  }

  // Saves the headers and opens the table again on new objects.
  void Reopen() {
    store_->SaveBLOBHeaders(false);
    OpenAgain();
    store_->LoadBLOBHeaders();
  }
  // New objects over the files as they are, headers not loaded yet.
  void OpenAgain() { OpenObjects(false); }

 private:
  void OpenObjects(bool create) {
    store_.reset();
    files_ = std::make_unique<TOrvelTableFiles>("T", memory_);
    files_->Header().BlobCompression = spec_.level;
    files_->Header().Encrypted = !spec_.password.empty();
    files_->SetFields(TableFields());
    files_->OpenFile(tfkBlobIndex, create);
    files_->OpenFile(tfkBlobData, create);
    context_.password = spec_.password;
    store_ = std::make_unique<TOrvelBlobStore>(*files_, context_);
    context_.store = store_.get();
  }

  TableSpec spec_;
  MemoryTableStore memory_;
  FakeContext context_;
  std::unique_ptr<TOrvelTableFiles> files_;
  std::unique_ptr<TOrvelBlobStore> store_;
};

void Put(TOrvelBlobStore& store, int32_t field, int32_t record, const Bytes& value) {
  TMemoryStream stream;
  if (!value.empty()) stream.WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
  store.WriteBLOBValue(stream, field, record);
}

Bytes StreamBytes(TMemoryStream& stream) {
  return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

Bytes Get(TOrvelBlobStore& store, int32_t field, int32_t record) {
  TMemoryStream stream;
  store.ReadBLOBValue(stream, field, record);
  EXPECT_EQ(stream.Position(), 0);
  return StreamBytes(stream);
}

// Text-like bytes: compressible, but not trivially.
Bytes Sample(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"model ", "car ",   "1:43 ", "red ",  "Volga ", "GAZ-21 ",
                                       "body ",  "sedan ", "\r\n",  "1957 ", "mint ",  "box "};
  std::mt19937 random(seed);
  Bytes bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    const char* word = kWords[random() % std::size(kWords)];
    while (*word != 0 && bytes.size() < size) bytes.push_back(static_cast<uint8_t>(*word++));
    if (random() % 7 == 0 && bytes.size() < size) bytes.push_back(static_cast<uint8_t>(random()));
  }
  return bytes;
}

// Large values that the PPMd levels code quickly; the period is prime, so no two blocks match.
Bytes Repeated(size_t size, uint32_t seed) {
  const Bytes unit = Sample(4093, seed);
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = unit[i % unit.size()];
  return bytes;
}

Bytes GraphicStream(size_t bitmap_size) {
  Bytes bytes = {1, 0, 0, 1, 0, 0, 0, 0};
  const Bytes bitmap = Sample(bitmap_size, 5);
  bytes.insert(bytes.end(), bitmap.begin(), bitmap.end());
  bytes[8] = 'B';
  bytes[9] = 'M';
  return bytes;
}

// Every run of every value and of the free list, disjoint and inside the blocks the store
// counts, which are exactly the blocks of the .bdf.
void ExpectRunsConsistent(BlobTable& table) {
  TOrvelBlobStore& store = table.Store();
  std::vector<BLOBPartType> runs = store.FreeParts();
  for (int32_t r = 0; r < store.RecordCount(); ++r)
    for (int32_t f : {kPicture, kMemo, kData}) {
      const BLOBHeaderType& header = store.Header(f, r);
      runs.insert(runs.end(), header.Parts.begin(), header.Parts.end());
    }
  std::sort(runs.begin(), runs.end(), [](const BLOBPartType& a, const BLOBPartType& b) {
    return a.FirstBlock < b.FirstBlock;
  });
  int32_t end = 0;
  for (const BLOBPartType& run : runs) {
    ASSERT_GE(run.FirstBlock, end);
    ASSERT_GE(run.BlockCount, 1);
    end = run.FirstBlock + run.BlockCount;
  }
  EXPECT_LE(end, store.TotalBlockCount());
  EXPECT_EQ(int64_t(store.TotalBlockCount()) * store.BlockSize(), table.Bdf().GetSize());
}

TEST(BlobStore, SixHundredBytesTakeTheNextTwoBlocksAtTheEnd) {
  BlobTable table;
  table.AddRecords(1);
  const Bytes first = Sample(100, 1);
  const Bytes value = Sample(600, 2);
  Put(table.Store(), kMemo, 0, first);
  Put(table.Store(), kData, 0, value);

  const BLOBHeaderType& header = table.Store().Header(kData, 0);
  EXPECT_THAT(header.Parts, ElementsAre(BLOBPartType{1, 2}));
  EXPECT_EQ(header.StoredSize, 600);
  EXPECT_EQ(header.Size, 600);
  EXPECT_EQ(header.Crc, BufferCrcText(value.data(), value.size()));
  EXPECT_EQ(table.Store().TotalBlockCount(), 3);
  const Bytes bdf = ReadAllBytes(table.Bdf());
  ASSERT_EQ(bdf.size(), 3u * 512);
  EXPECT_EQ(Bytes(bdf.begin() + 512, bdf.begin() + 1112), value);
  EXPECT_EQ(Get(table.Store(), kData, 0), value);
  EXPECT_EQ(Get(table.Store(), kMemo, 0), first);
  EXPECT_GE(table.Context().flush_checks, 2);
}

TEST(BlobStore, EmptyStreamFreesTheValue) {
  BlobTable table;
  table.AddRecords(1);
  Put(table.Store(), kData, 0, Sample(600, 3));
  Put(table.Store(), kData, 0, {});

  EXPECT_TRUE(table.Store().Header(kData, 0).Parts.empty());
  EXPECT_EQ(table.Store().Header(kData, 0).StoredSize, 0);
  EXPECT_THAT(table.Store().FreeParts(), ElementsAre(BLOBPartType{0, 2}));
  TMemoryStream stream;
  stream.WriteBuffer("stale", 5);
  table.Store().ReadBLOBValue(stream, kData, 0);
  EXPECT_EQ(stream.Size(), 0);
}

TEST(BlobStore, GraphicHeaderIsDroppedInGraphicFieldsOnly) {
  BlobTable table;
  table.AddRecords(1);
  const Bytes graphic = GraphicStream(700);
  const Bytes bitmap(graphic.begin() + 8, graphic.end());
  Put(table.Store(), kPicture, 0, graphic);
  Put(table.Store(), kData, 0, graphic);

  EXPECT_EQ(table.Store().Header(kPicture, 0).StoredSize, 700);
  EXPECT_EQ(table.Store().Header(kPicture, 0).Crc, BufferCrcText(bitmap.data(), bitmap.size()));
  EXPECT_EQ(Get(table.Store(), kPicture, 0), bitmap);
  // Anywhere else these are the caller's bytes.
  EXPECT_EQ(Get(table.Store(), kData, 0), graphic);
}

TEST(BlobStore, IsStreamGraphicWantsTheHeaderAndLeavesTheStreamAtItsStart) {
  const Bytes graphic = GraphicStream(2);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    bool expected;
  };
  const Case cases[] = {
      {"header and BM", [](Bytes&) {}, true},
      {"only 9 bytes", [](Bytes& b) { b.resize(9); }, false},
      {"first byte 2", [](Bytes& b) { b[0] = 2; }, false},
      {"fourth byte 0", [](Bytes& b) { b[3] = 0; }, false},
      {"BN instead of BM", [](Bytes& b) { b[9] = 'N'; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = graphic;
    c.change(bytes);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(TOrvelBlobStore::IsStreamGraphic(stream), c.expected);
    EXPECT_EQ(stream.Position(), 0);
  }
}

TEST(BlobStore, FreedRunsAreTakenNewestFirst) {
  BlobTable table;
  table.AddRecords(2);
  TOrvelBlobStore& store = table.Store();
  Put(store, kData, 0, Sample(1100, 4));  // blocks 0..2
  Put(store, kData, 1, Sample(100, 5));   // block 3
  store.DeleteBLOBValue(kData, 0);
  Put(store, kMemo, 1, Sample(700, 6));
  EXPECT_THAT(store.Header(kMemo, 1).Parts, ElementsAre(BLOBPartType{0, 2}));
  EXPECT_THAT(store.FreeParts(), ElementsAre(BLOBPartType{2, 1}));
  EXPECT_EQ(store.TotalBlockCount(), 4);

  // Free now: block 2 (older), then block 3 (newer). Four blocks take both and two new ones.
  store.DeleteBLOBValue(kData, 1);
  Put(store, kData, 0, Sample(1900, 7));
  EXPECT_THAT(store.Header(kData, 0).Parts,
              ElementsAre(BLOBPartType{3, 1}, BLOBPartType{2, 1}, BLOBPartType{4, 2}));
  EXPECT_TRUE(store.FreeParts().empty());
  EXPECT_EQ(store.TotalBlockCount(), 6);
  EXPECT_EQ(Get(store, kData, 0), Sample(1900, 7));
  ExpectRunsConsistent(table);
}

TEST(BlobStore, RewritingAValueFreesItsOldBlocksAfterTakingNewOnes) {
  BlobTable table;
  table.AddRecords(1);
  TOrvelBlobStore& store = table.Store();
  Put(store, kData, 0, Sample(900, 1));
  Put(store, kData, 0, Sample(900, 2));
  EXPECT_THAT(store.Header(kData, 0).Parts, ElementsAre(BLOBPartType{2, 2}));
  EXPECT_THAT(store.FreeParts(), ElementsAre(BLOBPartType{0, 2}));
  for (uint32_t seed = 3; seed < 10; ++seed) Put(store, kData, 0, Sample(900, seed));
  EXPECT_EQ(store.TotalBlockCount(), 4);
  EXPECT_EQ(table.Bdf().GetSize(), 4 * 512);
  EXPECT_EQ(Get(store, kData, 0), Sample(900, 9));
}

TEST(BlobStore, DeletingARecordMovesTheLastRecordsValuesIntoItsPlace) {
  BlobTable table;
  table.AddRecords(3);
  TOrvelBlobStore& store = table.Store();
  for (int32_t r = 0; r < 3; ++r) {
    Put(store, kMemo, r, Sample(300 + r, 10 + r));
    Put(store, kData, r, Sample(800 + r, 20 + r));
  }
  store.mvDeleteBLOBRecord(0);
  EXPECT_EQ(store.RecordCount(), 2);
  EXPECT_EQ(store.FileHeader().RecordCount, 2);
  EXPECT_THAT(store.FreeParts(), ElementsAre(BLOBPartType{0, 1}, BLOBPartType{1, 2}));
  table.Reopen();
  EXPECT_EQ(Get(table.Store(), kMemo, 0), Sample(302, 12));
  EXPECT_EQ(Get(table.Store(), kData, 0), Sample(802, 22));
  EXPECT_EQ(Get(table.Store(), kData, 1), Sample(801, 21));
  EXPECT_EQ(Get(table.Store(), kPicture, 1), Bytes{});
  EXPECT_EQ(table.Store().FreeParts().size(), 2u);
}

TEST(BlobStore, NoRecordsLeaveAnEmptyDataFileAndABareIndexHeader) {
  BlobTable table;
  table.AddRecords(2);
  Put(table.Store(), kData, 0, Sample(2000, 1));
  Put(table.Store(), kMemo, 1, Sample(10, 2));
  table.Store().mvDeleteBLOBRecord(1);
  table.Store().mvDeleteBLOBRecord(0);
  table.Store().SaveBLOBHeaders(false);

  EXPECT_EQ(table.Bdf().GetSize(), 0);
  const Bytes bif = ReadAllBytes(table.Bif());
  EXPECT_EQ(GetI32(bif, 0), 24);
  std::vector<uint8_t> image;
  ASSERT_TRUE(mvDecompressBuffer(bif.data() + 4, bif.size() - 4, image, clFastest, 24));
  ASSERT_EQ(image.size(), 24u);
  EXPECT_EQ(GetI32(image, 0), 512);  // block size
  EXPECT_EQ(GetI32(image, 4), 0);    // free parts
  EXPECT_EQ(GetI32(image, 8), 3);    // BLOB fields per record
  EXPECT_EQ(GetI32(image, 12), 0);   // records
  EXPECT_TRUE(table.Store().FreeParts().empty());

  // The next value starts the emptied file again at block 0.
  table.AddRecords(1);
  Put(table.Store(), kData, 0, Sample(600, 3));
  EXPECT_THAT(table.Store().Header(kData, 0).Parts, ElementsAre(BLOBPartType{0, 2}));
  table.Reopen();
  EXPECT_EQ(Get(table.Store(), kData, 0), Sample(600, 3));
}

TEST(BlobStore, EncryptedTableNeedsItsPassword) {
  BlobTable table({clNone, "secret", 512});
  table.AddRecords(1);
  const Bytes value = Sample(600, 8);
  Put(table.Store(), kData, 0, value);
  const Bytes bdf = ReadAllBytes(table.Bdf());
  EXPECT_NE(Bytes(bdf.begin(), bdf.begin() + 600), value);
  EXPECT_EQ(Get(table.Store(), kData, 0), value);

  table.Context().password.clear();
  TMemoryStream stream;
  EXPECT_THAT([&] { table.Store().ReadBLOBValue(stream, kData, 0); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.mvReadBLOBValue - no password specified."));
  EXPECT_THAT([&] { Put(table.Store(), kData, 0, value); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.mvWriteBLOBValue - no password specified."));
  EXPECT_EQ(table.Context().acquired, table.Context().released);

  table.Context().password = "other";
  EXPECT_THAT([&] { table.Store().ReadBLOBValue(stream, kData, 0); },
              ThrowsMessage<Exception>("Error in TOrvelDataManager.mvReadBLOBValue - crc error"));
  EXPECT_EQ(stream.Size(), 0);
}

TEST(BlobStore, ValuesOfEverySizeComeBackAtEveryLevelWithAndWithoutPassword) {
  const size_t sizes[] = {0, 1, 512, 513, 5u << 20};
  for (TCompressionLevel level : {clNone, clFastest, clDefault, clMax})
    for (const char* password : {"", "secret"}) {
      SCOPED_TRACE(::testing::Message()
                   << "level " << int(level) << " password '" << password << "'");
      BlobTable table({level, password, 512});
      table.AddRecords(static_cast<int>(std::size(sizes)));
      for (size_t i = 0; i < std::size(sizes); ++i)
        Put(table.Store(), kData, static_cast<int32_t>(i), Repeated(sizes[i], 40 + i));
      table.Reopen();
      for (size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(Get(table.Store(), kData, static_cast<int32_t>(i)), Repeated(sizes[i], 40 + i));
        EXPECT_EQ(table.Store().Header(kData, static_cast<int32_t>(i)).Size,
                  static_cast<int32_t>(sizes[i]));
      }
      ExpectRunsConsistent(table);
    }
}

TEST(BlobStore, LevelOneValuesOfTablesBefore2199CannotBeRead) {
  BlobTable table({clFastest, "", 512});
  table.AddRecords(1);
  Put(table.Store(), kData, 0, Sample(100, 1));
  table.Files().Header().Version = 2.1;
  TMemoryStream stream;
  EXPECT_THAT([&] { table.Store().ReadBLOBValue(stream, kData, 0); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.mvReadBLOBValue - decompressing error, mode=1."));
}

// Same-size rewrites after deletes never grow the .bdf; random rewrites, deletes and record
// removals keep every value and never let two values share a block.
TEST(BlobStore, RandomRewritesReuseFreedBlocksAndKeepEveryValue) {
  for (TableSpec spec : {TableSpec{clNone, "", 512}, TableSpec{clFastest, "pw", 128}}) {
    SCOPED_TRACE(int(spec.level));
    BlobTable table(spec);
    std::mt19937 random(2024);
    const int32_t fields[] = {kPicture, kMemo, kData};
    std::vector<std::map<int32_t, Bytes>> model(8);
    table.AddRecords(8);
    uint32_t seed = 100;
    auto put = [&](int32_t f, int32_t r, size_t size) {
      Bytes value = Sample(size, ++seed);
      Put(table.Store(), f, r, value);
      model[r][f] = std::move(value);
    };
    auto expect_all = [&] {
      for (int32_t r = 0; r < static_cast<int32_t>(model.size()); ++r)
        for (int32_t f : fields) ASSERT_EQ(Get(table.Store(), f, r), model[r][f]) << f << "/" << r;
    };
    for (int32_t r = 0; r < 8; ++r)
      for (int32_t f : fields) put(f, r, 1 + random() % 3000);

    const int32_t bdf_size = table.Bdf().GetSize();
    for (int step = 0; step < 200; ++step) {
      const int32_t f = fields[random() % 3];
      const auto r = static_cast<int32_t>(random() % model.size());
      const size_t size = model[r][f].size();
      table.Store().DeleteBLOBValue(f, r);
      // Compressed sizes vary with the content, so the compressed table repeats the bytes.
      if (spec.level == clNone) {
        put(f, r, size);
      } else {
        Put(table.Store(), f, r, model[r][f]);
      }
      ASSERT_EQ(table.Bdf().GetSize(), bdf_size) << "step " << step;
      if (step % 50 == 49) table.Reopen();
    }
    expect_all();

    for (int step = 0; step < 300; ++step) {
      const int32_t f = fields[random() % 3];
      const auto r = static_cast<int32_t>(random() % model.size());
      switch (random() % 6) {
        case 0:
          table.Store().DeleteBLOBValue(f, r);
          model[r][f].clear();
          break;
        case 1:
          if (model.size() > 1) {
            table.Store().mvDeleteBLOBRecord(r);
            model[r] = model.back();
            model.pop_back();
          }
          break;
        case 2:
          table.Store().mvAddBLOBRecord();
          model.emplace_back();
          break;
        default:
          put(f, r, random() % 4000);
      }
      ExpectRunsConsistent(table);
      if (step % 60 == 59) table.Reopen();
    }
    expect_all();
    table.Reopen();
    expect_all();
  }
}

TEST(BlobStore, DamagedBlocksNeverComeBackAsData) {
  for (TCompressionLevel level : {clNone, clFastest, clDefault, clMax})
    for (const char* password : {"", "secret"}) {
      SCOPED_TRACE(::testing::Message()
                   << "level " << int(level) << " password '" << password << "'");
      BlobTable table({level, password, 512});
      table.AddRecords(1);
      Put(table.Store(), kData, 0, Sample(3000, 9));
      const int32_t stored = table.Store().Header(kData, 0).StoredSize;
      const Bytes good = ReadAllBytes(table.Bdf());
      // A damaged byte may also be one the decoder never needs (the coder's last bytes): then
      // the value must still come back exactly.
      int refused = 0;
      for (int32_t at : {0, stored / 2, stored - 1}) {
        SCOPED_TRACE(at);
        Bytes damaged = good;
        damaged[at] ^= 0x10;
        testing::WriteAllBytes(table.Bdf(), damaged);
        TMemoryStream stream;
        try {
          table.Store().ReadBLOBValue(stream, kData, 0);
          EXPECT_EQ(StreamBytes(stream), Sample(3000, 9));
        } catch (const Exception& e) {
          ++refused;
          EXPECT_THAT(e.Message(),
                      AnyOf("Error in TOrvelDataManager.mvReadBLOBValue - crc error",
                            "Error in TOrvelDataManager.mvReadBLOBValue - decoding error.",
                            StartsWith("Error in TOrvelDataManager.mvReadBLOBValue - "
                                       "decompressing error")));
          EXPECT_EQ(stream.Size(), 0);
        }
      }
      EXPECT_GE(refused, 2);
    }
}

// The .bif image as a test can change it: decoded, changed, written back.
void ChangeIndexImage(BlobTable& table, const std::function<void(TBlobIndexImage&)>& change) {
  const std::vector<uint8_t> bytes = ReadBlobIndexFile(table.Bif(), 4.5, "T");
  TBlobIndexImage image = DecodeBlobIndexImage(bytes, 3, -1, "T");
  change(image);
  const std::vector<uint8_t> changed = EncodeBlobIndexImage(image);
  WriteBlobIndexFile(table.Bif(), changed);
}

TEST(BlobStore, DamagedHeadersAreRefused) {
  struct Case {
    const char* name;
    std::function<void(BlobTable&)> damage;
    bool on_load;
    std::string message;
  };
  // Record 0: Data in blocks 0..1 (600 bytes), Memo in block 2; one free run at block 3.
  const Case cases[] = {
      {"a free run inside a value",
       [](BlobTable& t) {
         ChangeIndexImage(t, [](TBlobIndexImage& i) { i.FreeParts = {{1, 1}}; });
       },
       true, "two runs hold block 1"},
      {"two values in one block",
       [](BlobTable& t) {
         ChangeIndexImage(t, [](TBlobIndexImage& i) { i.Headers[1].Parts = {{1, 1}}; });
       },
       true, "two runs hold block 1"},
      {"a huge block size",
       [](BlobTable& t) {
         ChangeIndexImage(t, [](TBlobIndexImage& i) {
           for (BLOBHeaderType& header : i.Headers) header = {};
           i.FreeParts.clear();
           i.Header.BlockSize = 1 << 30;
         });
       },
       true, "block size 1073741824"},
      {"a size other than the stored size without compression",
       [](BlobTable& t) {
         ChangeIndexImage(t, [](TBlobIndexImage& i) { i.Headers[2].Size = 100000; });
       },
       false, "size 100000 of a value stored in 600 bytes"},
      {"a data file cut after the open", nullptr, false, "outside the data file of 1000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlobTable table;
    table.AddRecords(1);
    Put(table.Store(), kData, 0, Sample(600, 1));
    Put(table.Store(), kMemo, 0, Sample(100, 2));
    Put(table.Store(), kPicture, 0, Sample(100, 3));
    table.Store().DeleteBLOBValue(kPicture, 0);
    table.Reopen();
    if (c.damage) {
      c.damage(table);
      table.OpenAgain();
      if (c.on_load) {
        EXPECT_THAT([&] { table.Store().LoadBLOBHeaders(); },
                    ThrowsMessage<Exception>(
                        AllOf(StartsWith("Table is corrupted"), HasSubstr(c.message))));
        continue;
      }
      table.Store().LoadBLOBHeaders();
    } else {
      table.Bdf().SetSize(1000);
    }
    TMemoryStream stream;
    EXPECT_THAT(
        [&] { table.Store().ReadBLOBValue(stream, kData, 0); },
        ThrowsMessage<Exception>(AllOf(StartsWith("Table is corrupted"), HasSubstr(c.message))));
  }
}

TEST(BlobStore, BadFieldAndRecordNumbersAreRefused) {
  BlobTable table;
  table.AddRecords(2);
  struct Case {
    int32_t field, record;
    const char* problem;
  };
  const Case cases[] = {
      {kNumber, 0, "field 0 is not a BLOB field"}, {4, 0, "field 4 is not a BLOB field"},
      {-1, 0, "field -1 is not a BLOB field"},     {kData, -1, "record -1 has no BLOB values"},
      {kData, 2, "record 2 has no BLOB values"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    TMemoryStream stream;
    EXPECT_THAT([&] { table.Store().ReadBLOBValue(stream, c.field, c.record); },
                ThrowsMessage<Exception>(HasSubstr(c.problem)));
    EXPECT_THAT([&] { Put(table.Store(), c.field, c.record, {1}); },
                ThrowsMessage<Exception>(HasSubstr(c.problem)));
  }
  EXPECT_THAT([&] { table.Store().mvDeleteBLOBRecord(2); },
              ThrowsMessage<Exception>(HasSubstr("record 2 has no BLOB values")));
}

TEST(BlobStore, ReadOnlyTableRefusesWritesAndSkipsSaves) {
  BlobTable table;
  table.AddRecords(1);
  Put(table.Store(), kData, 0, Sample(10, 1));
  table.Store().SaveBLOBHeaders(false);
  const Bytes bif = ReadAllBytes(table.Bif());
  table.Context().read_only = true;
  EXPECT_THAT([&] { Put(table.Store(), kData, 0, Sample(10, 2)); },
              ThrowsMessage<Exception>(
                  "Error in TOrvelDataManager.mvWriteBLOBValue - table is read only."));
  table.Store().mvAddBLOBRecord();
  table.Store().SaveBLOBHeaders(false);
  EXPECT_EQ(ReadAllBytes(table.Bif()), bif);
  table.Store().SaveBLOBHeaders(true);
  EXPECT_NE(ReadAllBytes(table.Bif()), bif);
}

// A .bdf whose writes fail once armed.
class FailingFile : public TMemoryFile {
 public:
  using TMemoryFile::TMemoryFile;
  int32_t Write(const void* buffer, int32_t count) override {
    return fail ? 0 : TMemoryFile::Write(buffer, count);
  }
  bool fail = false;
};

class FailingStore : public TOrvelTableFileStore {
 public:
  TAbstractFile* OpenTableFile(const std::string& name, bool create) override {
    auto& file = files_[name];
    if (!file) {
      file = std::make_unique<FailingFile>(nullptr, name);
      file->Open(true);
    }
    return file.get();
  }
  void ReleaseTableFile(TAbstractFile*) override {}
  bool TableFileExists(const std::string& name) override { return files_.count(name) != 0; }

 private:
  std::map<std::string, std::unique_ptr<FailingFile>> files_;
};

TEST(BlobStore, FailedWriteLeavesHeadersAndFreeListAlone) {
  FailingStore files_store;
  TOrvelTableFiles files("T", files_store);
  files.SetFields(TableFields());
  files.OpenFile(tfkBlobIndex, true);
  auto* bdf = static_cast<FailingFile*>(files.OpenFile(tfkBlobData, true));
  FakeContext context;
  TOrvelBlobStore store(files, context);
  store.Reset(512);
  store.mvAddBLOBRecord();
  Put(store, kData, 0, Sample(1500, 1));
  Put(store, kMemo, 0, Sample(600, 2));
  store.DeleteBLOBValue(kMemo, 0);

  bdf->fail = true;
  EXPECT_THROW(Put(store, kData, 0, Sample(700, 3)), std::exception);
  EXPECT_THAT(store.Header(kData, 0).Parts, ElementsAre(BLOBPartType{0, 3}));
  EXPECT_EQ(store.Header(kData, 0).StoredSize, 1500);
  EXPECT_THAT(store.FreeParts(), ElementsAre(BLOBPartType{3, 2}));
  EXPECT_EQ(store.TotalBlockCount(), 5);
  bdf->fail = false;
  EXPECT_EQ(Get(store, kData, 0), Sample(1500, 1));
}

TEST(BlobStore, WritesGoThroughTheLogAndAReadFlushesItFirst) {
  BlobTable table;
  TmvBufferLogArray log(nullptr, 0, 36, &table.Bdf(), 512);
  table.Context().log = &log;
  table.AddRecords(1);
  const Bytes value = Sample(600, 4);
  Put(table.Store(), kData, 0, value);
  EXPECT_EQ(log.EntryCount(), 1);
  EXPECT_EQ(table.Bdf().GetSize(), 0);

  EXPECT_EQ(Get(table.Store(), kData, 0), value);
  EXPECT_EQ(log.EntryCount(), 0);
  EXPECT_EQ(table.Bdf().GetSize(), 1024);
  EXPECT_EQ(table.Context().acquired, 1);
  EXPECT_EQ(table.Context().released, 1);
  // The read saved the headers: new objects find the value.
  table.Context().log = nullptr;
  table.Reopen();
  EXPECT_EQ(Get(table.Store(), kData, 0), value);
}

}  // namespace
}  // namespace orv
