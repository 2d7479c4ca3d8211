#include "engine/protect/ppmd_model.h"

namespace orv::ppmd {
namespace {

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// The probability of a binary context's symbol moves by 1/128 of the rest towards each outcome.
unsigned ProbMean(unsigned prob) {
  return (prob + (1u << (kPeriodBits - 2))) >> kPeriodBits;
}
uint16_t ProbAfterHit(unsigned prob) {
  return static_cast<uint16_t>(prob + kInterval - ProbMean(prob));
}
uint16_t ProbAfterMiss(unsigned prob) {
  return static_cast<uint16_t>(prob - ProbMean(prob));
}

}  // namespace

// The probability slot of a binary context: its symbol's frequency, the previous outcome, the
// size of the shorter context, the high bits of this and the previous symbol, and whether a run
// of hits is going on.
uint16_t& Model::BinSumm() {
  Ref s = OneState(min_context_);
  unsigned freq = Freq(s);
  Ref suffix = Suffix(min_context_);
  if (suffix == 0 || freq == 0 || freq > 128) throw PpmdError("PPMd: model state damaged");
  unsigned suffix_stats = NumStats(suffix);
  if (suffix_stats == 0 || suffix_stats > 256) throw PpmdError("PPMd: model state damaged");
  hi_bits_flag_ = hb_to_flag_[Symbol(found_state_)];
  return bin_summ_[freq - 1][prev_success_ + ns_to_bs_index_[suffix_stats - 1] + hi_bits_flag_ +
                             2 * hb_to_flag_[Symbol(s)] + ((run_length_ >> 26) & 0x20)];
}

SeeContext* Model::MakeEscFreq(unsigned num_masked, uint32_t& esc_freq) {
  const unsigned ns = NumStats(min_context_);
  if (ns == 256) {
    esc_freq = 1;
    return &dummy_see_;
  }
  const unsigned non_masked = ns - num_masked;
  Ref suffix = Suffix(min_context_);
  if (suffix == 0) throw PpmdError("PPMd: model state damaged");
  const unsigned suffix_stats = NumStats(suffix);
  SeeContext* see =
      &see_[ns_to_index_[non_masked - 1]][(non_masked < suffix_stats - ns) +
                                          2 * (SummFreq(min_context_) < 11 * ns) +
                                          4 * (num_masked > non_masked) + hi_bits_flag_];
  esc_freq = see->Mean();
  return see;
}

// Moves to the next shorter context that has a symbol not tried yet; false past the root.
bool Model::EscapeToSuffix() {
  const unsigned num_masked = NumStats(min_context_);
  for (unsigned steps = 0;; ++steps) {
    ++order_fall_;
    Ref suffix = Suffix(min_context_);
    if (suffix == 0) return false;
    if (steps > kMaxModelOrder) throw PpmdError("PPMd: model state damaged");
    min_context_ = suffix;
    unsigned ns = NumStats(min_context_);
    if (ns < num_masked || ns > 256) throw PpmdError("PPMd: model state damaged");
    if (ns != num_masked) return true;
  }
}

void Model::EncodeSymbol(RangeEncoder& rc, int symbol) {
  const unsigned ns = NumStats(min_context_);
  if (ns != 1) {
    const Ref stats = Stats(min_context_);
    const uint8_t* p = StateBytes(stats, ns);
    const unsigned total = SummFreq(min_context_);
    if (p[0] == symbol) {
      rc.Encode(0, p[1], total);
      found_state_ = stats;
      return Update1First();
    }
    prev_success_ = 0;
    unsigned sum = p[1];
    for (unsigned i = 1; i < ns; ++i) {
      const uint8_t* st = p + i * kStateSize;
      if (st[0] == symbol) {
        rc.Encode(sum, st[1], total);
        found_state_ = stats + i * kStateSize;
        return Update1();
      }
      sum += st[1];
    }
    if (sum >= total) throw PpmdError("PPMd: model state damaged");
    hi_bits_flag_ = hb_to_flag_[Symbol(found_state_)];
    NewMask();
    for (unsigned i = 0; i < ns; ++i) Mask(p[i * kStateSize]);
    rc.Encode(sum, total - sum, total);
  } else {
    uint16_t& prob = BinSumm();
    Ref s = OneState(min_context_);
    if (Symbol(s) == symbol) {
      rc.EncodeShift(0, prob, kTotBits);
      prob = ProbAfterHit(prob);
      found_state_ = s;
      return UpdateBin();
    }
    rc.EncodeShift(prob, kBinScale - prob, kTotBits);
    prob = ProbAfterMiss(prob);
    init_esc_ = kExpEscape[prob >> 10];
    NewMask();
    Mask(Symbol(s));
    prev_success_ = 0;
  }

  for (;;) {
    const unsigned num_masked = NumStats(min_context_);
    if (!EscapeToSuffix()) return;  // the end marker: an escape from the root
    uint32_t esc_freq;
    SeeContext* see = MakeEscFreq(num_masked, esc_freq);
    const unsigned n = NumStats(min_context_);
    const Ref stats = Stats(min_context_);
    const uint8_t* p = StateBytes(stats, n);
    uint32_t sum = 0;
    for (unsigned i = 0; i < n; ++i) {
      const unsigned cur = p[i * kStateSize];
      if (Masked(cur)) continue;
      if (static_cast<int>(cur) == symbol) {
        const uint32_t low = sum;
        const unsigned found = i;
        for (; i < n; ++i)
          if (!Masked(p[i * kStateSize])) sum += p[i * kStateSize + 1];
        rc.Encode(low, p[found * kStateSize + 1], sum + esc_freq);
        see->Update();
        found_state_ = stats + found * kStateSize;
        return Update2();
      }
      sum += p[i * kStateSize + 1];
      Mask(cur);
    }
    rc.Encode(sum, esc_freq, sum + esc_freq);
    see->summ = static_cast<uint16_t>(see->summ + sum + esc_freq);
  }
}

int Model::DecodeSymbol(RangeDecoder& rc) {
  const unsigned ns = NumStats(min_context_);
  if (ns != 1) {
    const Ref stats = Stats(min_context_);
    const uint8_t* p = StateBytes(stats, ns);
    const unsigned total = SummFreq(min_context_);
    const uint32_t count = rc.GetThreshold(total);
    uint32_t hi = p[1];
    if (count < hi) {
      rc.Decode(0, hi);
      found_state_ = stats;
      const int symbol = p[0];
      Update1First();
      return symbol;
    }
    prev_success_ = 0;
    for (unsigned i = 1; i < ns; ++i) {
      const uint8_t* st = p + i * kStateSize;
      hi += st[1];
      if (hi > count) {
        rc.Decode(hi - st[1], st[1]);
        found_state_ = stats + i * kStateSize;
        const int symbol = st[0];
        Update1();
        return symbol;
      }
    }
    if (hi >= total) throw PpmdError("PPMd: model state damaged");
    hi_bits_flag_ = hb_to_flag_[Symbol(found_state_)];
    rc.Decode(hi, total - hi);
    NewMask();
    for (unsigned i = 0; i < ns; ++i) Mask(p[i * kStateSize]);
  } else {
    uint16_t& prob = BinSumm();
    Ref s = OneState(min_context_);
    if (rc.GetThresholdShift(kTotBits) < prob) {
      rc.Decode(0, prob);
      prob = ProbAfterHit(prob);
      found_state_ = s;
      const int symbol = Symbol(s);
      UpdateBin();
      return symbol;
    }
    rc.Decode(prob, kBinScale - prob);
    prob = ProbAfterMiss(prob);
    init_esc_ = kExpEscape[prob >> 10];
    NewMask();
    Mask(Symbol(s));
    prev_success_ = 0;
  }

  uint16_t unmasked[256];  // indexes of the states not tried yet
  for (;;) {
    const unsigned num_masked = NumStats(min_context_);
    if (!EscapeToSuffix()) return kEndOfData;
    uint32_t esc_freq;
    SeeContext* see = MakeEscFreq(num_masked, esc_freq);
    const unsigned n = NumStats(min_context_);
    const Ref stats = Stats(min_context_);
    const uint8_t* p = StateBytes(stats, n);
    unsigned num = 0;
    uint32_t hi = 0;
    for (unsigned i = 0; i < n; ++i) {
      if (Masked(p[i * kStateSize])) continue;
      hi += p[i * kStateSize + 1];
      unmasked[num++] = static_cast<uint16_t>(i);
    }
    const uint32_t total = hi + esc_freq;
    const uint32_t count = rc.GetThreshold(total);
    if (count < hi) {
      uint32_t acc = 0;
      unsigned k = 0;
      while ((acc += p[unmasked[k] * kStateSize + 1]) <= count) ++k;
      const uint8_t* st = p + unmasked[k] * kStateSize;
      rc.Decode(acc - st[1], st[1]);
      see->Update();
      found_state_ = stats + unmasked[k] * kStateSize;
      const int symbol = st[0];
      Update2();
      return symbol;
    }
    rc.Decode(hi, esc_freq);
    see->summ = static_cast<uint16_t>(see->summ + total);
    for (unsigned k = 0; k < num; ++k) Mask(p[unmasked[k] * kStateSize]);
  }
}

}  // namespace orv::ppmd
