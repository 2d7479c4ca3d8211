#include "engine/protect/compression.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "platform/exception.h"
#include "tests/protect/compression_samples.h"

namespace orv {
namespace {

using testing::Bytes;
using testing::RandomBytes;
using testing::SampleText;

constexpr size_t kBlock2 = 819200;
constexpr size_t kBlock3 = 1638400;

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
         (uint32_t{b[at + 3]} << 24);
}

void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Compress(const Bytes& data, TCompressionLevel level) {
  Bytes out;
  EXPECT_TRUE(mvCompressBuffer(data.data(), data.size(), out, level));
  return out;
}

bool Decompress(const Bytes& packed, TCompressionLevel level, size_t expected, Bytes& out) {
  return mvDecompressBuffer(packed.data(), packed.size(), out, level, expected);
}

struct Record {
  size_t offset;  // of BlockLength
  uint32_t length;
  uint32_t header;
};

// Walks the PPMd records: BlockLength, then BlockLength bytes starting with the header word.
std::vector<Record> Records(const Bytes& packed) {
  std::vector<Record> records;
  for (size_t pos = 0; pos < packed.size();) {
    EXPECT_GE(packed.size() - pos, 8u);
    if (packed.size() - pos < 8) break;
    Record r{pos, Le32(packed, pos), Le32(packed, pos + 4)};
    EXPECT_LE(size_t{r.length}, packed.size() - pos - 4);
    records.push_back(r);
    pos += 4 + size_t{r.length};
  }
  return records;
}

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

enum class Kind { kText, kRandom, kZeros };

Bytes Make(Kind kind, size_t n) {
  switch (kind) {
    case Kind::kText:
      return SampleText(n);
    case Kind::kRandom:
      return RandomBytes(n);
    case Kind::kZeros:
      break;
  }
  return Bytes(n, 0);
}

struct RoundTripCase {
  TCompressionLevel level;
  Kind kind;
  size_t size;
};

class CompressionRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CompressionRoundTrip, DecodesToTheInputWithTheLevelsFraming) {
  const RoundTripCase& c = GetParam();
  const Bytes data = Make(c.kind, c.size);
  const Bytes packed = Compress(data, c.level);
  Bytes out;
  ASSERT_TRUE(Decompress(packed, c.level, data.size(), out));
  ASSERT_EQ(out.size(), data.size());
  EXPECT_TRUE(out == data);

  if (c.level == clFastest) {
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0x01);
    return;
  }
  const size_t block = c.level == clDefault ? kBlock2 : kBlock3;
  const uint32_t header = c.level == clDefault ? 0x6134 : 0x631F;
  const auto records = Records(packed);
  EXPECT_EQ(records.size(), (data.size() + block - 1) / block);
  for (const Record& r : records) EXPECT_EQ(r.header, header);
}

INSTANTIATE_TEST_SUITE_P(
    AllLevels, CompressionRoundTrip,
    ::testing::Values(
        RoundTripCase{clFastest, Kind::kText, 1}, RoundTripCase{clFastest, Kind::kText, 100000},
        RoundTripCase{clFastest, Kind::kRandom, 100000},
        RoundTripCase{clFastest, Kind::kZeros, 100000},
        RoundTripCase{clFastest, Kind::kRandom, kBlock2},
        RoundTripCase{clFastest, Kind::kText, kBlock2 + 1},
        RoundTripCase{clDefault, Kind::kText, 1}, RoundTripCase{clDefault, Kind::kText, 100000},
        RoundTripCase{clDefault, Kind::kRandom, 100000},
        RoundTripCase{clDefault, Kind::kZeros, 100000},
        RoundTripCase{clDefault, Kind::kText, kBlock2},
        RoundTripCase{clDefault, Kind::kZeros, kBlock2 + 1}, RoundTripCase{clMax, Kind::kRandom, 1},
        RoundTripCase{clMax, Kind::kText, 100000}, RoundTripCase{clMax, Kind::kRandom, 100000},
        RoundTripCase{clMax, Kind::kZeros, 100000}, RoundTripCase{clMax, Kind::kZeros, kBlock2},
        RoundTripCase{clMax, Kind::kText, kBlock2 + 1}, RoundTripCase{clMax, Kind::kText, kBlock3},
        RoundTripCase{clMax, Kind::kZeros, kBlock3 + 1}));

TEST(Compression, FastestIsAStandardZlibStream) {
  const Bytes data = SampleText(5000);
  const Bytes packed = Compress(data, clFastest);
  Bytes plain(data.size());
  uLongf plain_size = plain.size();
  ASSERT_EQ(uncompress(plain.data(), &plain_size, packed.data(), packed.size()), Z_OK);
  EXPECT_EQ(plain_size, data.size());
  EXPECT_TRUE(plain == data);
}

TEST(Compression, OneByteAtDefaultIsOneRecord) {
  const Bytes packed = Compress({'A'}, clDefault);
  ASSERT_GE(packed.size(), 12u);  // length, header word, at least the coder's 4 flush bytes
  const auto n = static_cast<uint8_t>(packed.size() - 4);
  EXPECT_TRUE(Slice(packed, 0, 8) == (Bytes{n, 0, 0, 0, 0x34, 0x61, 0, 0}));
  EXPECT_LT(packed.size(), 24u);

  const Bytes max = Compress({'A'}, clMax);
  const auto m = static_cast<uint8_t>(max.size() - 4);
  EXPECT_TRUE(Slice(max, 0, 8) == (Bytes{m, 0, 0, 0, 0x1F, 0x63, 0, 0}));
}

// Each block is coded by a fresh model: the last record of a long input is byte for byte the
// record of its tail compressed alone, and a call leaves nothing behind for the next one.
TEST(Compression, EveryBlockStartsAFreshModel) {
  struct Case {
    TCompressionLevel level;
    size_t block;
  };
  for (const Case& c : {Case{clDefault, kBlock2}, Case{clMax, kBlock3}}) {
    SCOPED_TRACE(c.level);
    const Bytes data = SampleText(c.block + 1);
    const Bytes packed = Compress(data, c.level);
    const auto records = Records(packed);
    ASSERT_EQ(records.size(), 2u);
    const Bytes tail = Compress(Slice(data, c.block, 1), c.level);
    EXPECT_TRUE(Slice(packed, records[1].offset, packed.size() - records[1].offset) == tail);
    EXPECT_TRUE(Compress(data, c.level) == packed);
  }
}

TEST(Compression, DecoderTakesOrderAndMemoryFromTheHeader) {
  const Bytes data = SampleText(20000);
  Bytes out;
  ASSERT_TRUE(Decompress(Compress(data, clMax), clDefault, data.size(), out));
  EXPECT_TRUE(out == data);
  ASSERT_TRUE(Decompress(Compress(data, clDefault), clMax, data.size(), out));
  EXPECT_TRUE(out == data);
}

TEST(Compression, RefusesStreamHeadersOfOtherVariantsAndSizes) {
  const Bytes data = SampleText(3000);
  const Bytes good = Compress(data, clDefault);
  const uint32_t refused[] = {
      0x7134,   // variant H
      0x5134,   // variant F
      0x16134,  // bits above the variant
      0x6130,   // order 1
      0x6324,   // 51 MiB, more than any level uses
  };
  for (uint32_t header : refused) {
    SCOPED_TRACE(header);
    Bytes bad = good;
    PutLe32(bad, 4, header);
    Bytes out{1, 2, 3};
    EXPECT_FALSE(Decompress(bad, clDefault, data.size(), out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(Compression, DeclaredSizeBoundsTheOutput) {
  const Bytes data = SampleText(10000);
  for (TCompressionLevel level : {clFastest, clDefault, clMax}) {
    SCOPED_TRACE(level);
    const Bytes packed = Compress(data, level);
    Bytes out;
    EXPECT_FALSE(Decompress(packed, level, 0, out));
    EXPECT_FALSE(Decompress(packed, level, data.size() - 1, out));
    EXPECT_TRUE(out.empty());
    // A larger stored size is no error here; the caller sees the shorter output.
    ASSERT_TRUE(Decompress(packed, level, data.size() + 100, out));
    EXPECT_TRUE(out == data);
  }
}

TEST(Compression, LevelsWithoutACoderAndEmptyInput) {
  const Bytes data = SampleText(100);
  Bytes out;
  EXPECT_FALSE(mvCompressBuffer(data.data(), data.size(), out, clNone));
  EXPECT_FALSE(mvCompressBuffer(data.data(), data.size(), out, static_cast<TCompressionLevel>(4)));
  const Bytes packed = Compress(data, clFastest);
  EXPECT_FALSE(Decompress(packed, clNone, data.size(), out));
  EXPECT_FALSE(Decompress(packed, static_cast<TCompressionLevel>(4), data.size(), out));

  // Zlib codes an empty input as a stream, which then decodes to nothing: a failure.
  const uint8_t none = 0;
  ASSERT_TRUE(mvCompressBuffer(&none, 0, out, clFastest));
  Bytes empty_stream = out;
  EXPECT_FALSE(Decompress(empty_stream, clFastest, 1, out));
  // The PPMd levels write no record for it: an empty result, so false.
  EXPECT_FALSE(mvCompressBuffer(&none, 0, out, clDefault));
  EXPECT_FALSE(mvCompressBuffer(&none, 0, out, clMax));
  EXPECT_FALSE(mvDecompressBuffer(&none, 0, out, clDefault, 10));
}

TEST(Compression, NullInputToCompressRaises) {
  Bytes out;
  try {
    mvCompressBuffer(nullptr, 10, out, clFastest);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "mvCompressBuffer - inBuf = nil");
  }
  EXPECT_FALSE(mvDecompressBuffer(nullptr, 10, out, clFastest, 10));
}

// Single-record streams cut anywhere are refused (PPMd streams must be read to their last byte,
// zlib streams end with a checksum).
TEST(Compression, TruncatedStreamsAreRefused) {
  const Bytes data = SampleText(2000);
  for (TCompressionLevel level : {clFastest, clDefault, clMax}) {
    SCOPED_TRACE(level);
    const Bytes packed = Compress(data, level);
    for (size_t n = 0; n < packed.size(); ++n) {
      Bytes out;
      ASSERT_FALSE(Decompress(Slice(packed, 0, n), level, data.size(), out)) << "cut at " << n;
    }
  }
}

TEST(Compression, DamagedRecordFramingIsRefused) {
  const Bytes a = SampleText(3000, 1);
  const Bytes b = SampleText(3000, 2);
  const Bytes pa = Compress(a, clDefault);
  const Bytes pb = Compress(b, clDefault);
  Bytes two = pa;
  two.insert(two.end(), pb.begin(), pb.end());

  Bytes out;
  ASSERT_TRUE(Decompress(two, clDefault, a.size() + b.size(), out));
  Bytes ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  EXPECT_TRUE(out == ab);

  // Cut at the record boundary: a valid shorter value, which the caller's size check refuses.
  ASSERT_TRUE(Decompress(pa, clDefault, a.size() + b.size(), out));
  EXPECT_EQ(out.size(), a.size());

  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  auto with_length = [&](const char* what, uint32_t length) {
    Bytes bad = two;
    PutLe32(bad, 0, length);
    cases.push_back({what, bad});
  };
  with_length("length below the header word", 3);
  with_length("length of the header word only", 4);
  with_length("length one short", static_cast<uint32_t>(pa.size() - 5));
  with_length("length one long", static_cast<uint32_t>(pa.size() - 3));
  with_length("length past the input", static_cast<uint32_t>(two.size()));
  with_length("length of 4 GiB", 0xFFFFFFFFu);
  Bytes partial = two;
  partial.insert(partial.end(), {5, 0, 0, 0, 0x34, 0x61});
  cases.push_back({"a partial record after the last", partial});
  Bytes junk_inside = pa;  // the record claims one byte more than its coder wrote
  junk_inside.push_back(0);
  PutLe32(junk_inside, 0, static_cast<uint32_t>(pa.size() - 3));
  cases.push_back({"a byte after the end marker inside the record", junk_inside});
  Bytes zero_record = pa;
  zero_record.insert(zero_record.end(), {4, 0, 0, 0, 0x34, 0x61, 0, 0});
  cases.push_back({"a record with no coded data", zero_record});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(Decompress(c.bytes, clDefault, a.size() + b.size(), out));
    EXPECT_TRUE(out.empty());
  }
}

// Hostile bytes end in false or in some output, but never past the declared size; the
// sanitizers watch for anything worse. (Each PPMd call sets up its model memory, which is slow
// under the sanitizers, so the PPMd levels get fewer rounds; the fuzz target does the rest.)
TEST(Compression, CorruptedStreamsNeverOverrunTheDeclaredSize) {
  const Bytes data = SampleText(1500);
  std::mt19937 rng(7);
  struct Case {
    TCompressionLevel level;
    int rounds;
  };
  for (const Case& c : {Case{clFastest, 400}, Case{clDefault, 30}, Case{clMax, 30}}) {
    SCOPED_TRACE(c.level);
    const Bytes packed = Compress(data, c.level);
    int refused = 0;
    for (int round = 0; round < c.rounds; ++round) {
      Bytes bad = packed;
      const int flips = 1 + round % 4;
      for (int i = 0; i < flips; ++i)
        bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      Bytes out;
      if (!Decompress(bad, c.level, data.size(), out)) {
        EXPECT_TRUE(out.empty());
        ++refused;
      } else {
        EXPECT_LE(out.size(), data.size());
      }
    }
    // Damage is caught by the zlib checksum, or by a PPMd stream not ending on its last byte.
    EXPECT_GE(refused, c.rounds * 9 / 10);
  }
}

}  // namespace
}  // namespace orv
