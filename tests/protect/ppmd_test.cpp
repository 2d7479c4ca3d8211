#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/protect/ppmd_error.h"
#include "engine/protect/ppmd_range_coder.h"
#include "engine/protect/ppmd_stream.h"
#include "tests/protect/compression_samples.h"

namespace orv::ppmd {
namespace {

using orv::testing::Bytes;

// Every (start, size, total) the model can hand the coder, including the tiny sizes with large
// totals that drive the range below 2^15 and make the coder cut it.
TEST(PpmdRangeCoder, DecodesWhatWasEncoded) {
  struct Op {
    uint32_t start, size, total;
    bool shift;
  };
  std::mt19937 rng(3);
  std::vector<Op> ops;
  for (int i = 0; i < 20000; ++i) {
    if (i % 5 == 0) {
      uint32_t p = 1 + rng() % ((1u << 14) - 1);
      bool hit = rng() % 2;
      ops.push_back({hit ? 0 : p, hit ? p : (1u << 14) - p, 1u << 14, true});
      continue;
    }
    uint32_t total = i % 3 == 0 ? kRangeBottom : 1 + rng() % kRangeBottom;
    uint32_t start = rng() % total;
    uint32_t size = i % 7 == 0 ? 1 : 1 + rng() % (total - start);
    ops.push_back({start, size, total, false});
  }
  Bytes out;
  RangeEncoder enc(out);
  for (const Op& op : ops) {
    if (op.shift)
      enc.EncodeShift(op.start, op.size, 14);
    else
      enc.Encode(op.start, op.size, op.total);
  }
  enc.Flush();

  RangeDecoder dec(out.data(), out.size());
  for (size_t i = 0; i < ops.size(); ++i) {
    const Op& op = ops[i];
    uint32_t count = op.shift ? dec.GetThresholdShift(14) : dec.GetThreshold(op.total);
    ASSERT_GE(count, op.start) << i;
    ASSERT_LT(count, op.start + op.size) << i;
    dec.Decode(op.start, op.size);
  }
  EXPECT_TRUE(dec.AtEnd());
}

TEST(PpmdRangeCoder, ReadingPastTheStreamThrows) {
  const uint8_t three[3] = {1, 2, 3};
  EXPECT_THROW(RangeDecoder(three, 3), PpmdError);
}

// A model memory this small runs out many times per block: the model restarts, free blocks
// are glued and units are taken from the text area, on both sides alike.
TEST(PpmdStream, SmallModelMemoryStillRoundTrips) {
  std::mt19937 rng(9);
  const Bytes text = orv::testing::SampleText(160000);
  Bytes mixed;
  for (size_t i = 0; i < 160000; ++i)
    mixed.push_back(i % 4000 < 2000 ? text[i] : static_cast<uint8_t>(rng() % 48));
  const Bytes random = orv::testing::RandomBytes(60000);

  for (const Bytes* data : std::vector<const Bytes*>{&text, &mixed, &random}) {
    for (unsigned order : {2u, 5u, 16u}) {
      SCOPED_TRACE(::testing::Message() << "order " << order << ", " << data->size() << " bytes");
      Bytes small;
      EncodeRecords(data->data(), data->size(), {order, 1, 1 << 20}, small);
      Bytes out;
      DecodeRecords(small.data(), small.size(), data->size(), out);
      ASSERT_TRUE(out == *data);
      if (order == 16 && data != &random) {
        // Only a restart makes the 1 MiB model code differently from a large one.
        Bytes large;
        EncodeRecords(data->data(), data->size(), {order, 8, 1 << 20}, large);
        EXPECT_FALSE(large == small);
      }
    }
  }
}

TEST(PpmdStream, HeaderWordPacksMemoryAndOrder) {
  EXPECT_EQ(StreamHeaderWord(20, 5), 0x6134u);
  EXPECT_EQ(StreamHeaderWord(50, 16), 0x631Fu);
  EXPECT_EQ(StreamHeaderWord(1, 2), 0x6001u);
}

}  // namespace
}  // namespace orv::ppmd
