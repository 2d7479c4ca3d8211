#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/protect/ppmd_error.h"

namespace orv::ppmd {

// Carry-less range coder (Subbotin): a 32-bit low end and range. A byte leaves the coder when
// the top byte of the interval is settled, or when the range has shrunk below 2^15, in which
// case the range is cut down to the next 2^15 boundary so that the top byte settles. Totals
// must stay at or below 2^15, which keeps range / total above zero.
inline constexpr uint32_t kRangeTop = 1u << 24;
inline constexpr uint32_t kRangeBottom = 1u << 15;

class RangeEncoder {
 public:
  explicit RangeEncoder(std::vector<uint8_t>& out) : out_(out) {}

  void Encode(uint32_t start, uint32_t size, uint32_t total) {
    range_ /= total;
    if (range_ == 0) throw PpmdError("PPMd: total frequency exceeds the coder's range");
    low_ += start * range_;
    range_ *= size;
    Normalize();
  }

  // Encode with a total of 2^shift.
  void EncodeShift(uint32_t start, uint32_t size, unsigned shift) {
    range_ >>= shift;
    low_ += start * range_;
    range_ *= size;
    Normalize();
  }

  // Writes the last four bytes of the low end; the stream is complete after this.
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      out_.push_back(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
    }
  }

 private:
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) break;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      out_.push_back(static_cast<uint8_t>(low_ >> 24));
      low_ <<= 8;
      range_ <<= 8;
    }
  }

  std::vector<uint8_t>& out_;
  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

// The decoder mirrors the encoder's normalisation, so it reads exactly the bytes the encoder
// wrote: a read past the end of the stream means the stream is damaged.
class RangeDecoder {
 public:
  RangeDecoder(const uint8_t* data, size_t size) : data_(data), size_(size) {
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | NextByte();
  }

  // The count of the next symbol in [0, total); a count outside it can only come from damage.
  uint32_t GetThreshold(uint32_t total) {
    range_ /= total;
    if (range_ == 0) throw PpmdError("PPMd: total frequency exceeds the coder's range");
    uint32_t count = (code_ - low_) / range_;
    if (count >= total) throw PpmdError("PPMd: damaged stream");
    return count;
  }

  uint32_t GetThresholdShift(unsigned shift) {
    range_ >>= shift;
    uint32_t count = (code_ - low_) / range_;
    if (count >= (1u << shift)) throw PpmdError("PPMd: damaged stream");
    return count;
  }

  void Decode(uint32_t start, uint32_t size) {
    low_ += start * range_;
    range_ *= size;
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kRangeTop) {
        if (range_ >= kRangeBottom) break;
        range_ = (0u - low_) & (kRangeBottom - 1);
      }
      code_ = (code_ << 8) | NextByte();
      low_ <<= 8;
      range_ <<= 8;
    }
  }

  bool AtEnd() const { return pos_ == size_; }

 private:
  uint32_t NextByte() {
    if (pos_ >= size_) throw PpmdError("PPMd: stream ends early");
    return data_[pos_++];
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  uint32_t low_ = 0;
  uint32_t code_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
};

}  // namespace orv::ppmd
