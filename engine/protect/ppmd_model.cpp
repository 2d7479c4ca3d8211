#include "engine/protect/ppmd_model.h"

#include <algorithm>

namespace orv::ppmd {
namespace {

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3,
                                     0x64A1, 0x5ABC, 0x6632, 0x6051};

// More than this many contexts on one suffix chain cannot happen in a sound model.
constexpr unsigned kMaxChain = kMaxModelOrder + 2;

[[noreturn]] void Damaged() {
  throw PpmdError("PPMd: model state damaged");
}

}  // namespace

Model::Model(uint32_t memory_bytes) : mem_(memory_bytes) {
  ns_to_bs_index_[0] = 2 * 0;
  ns_to_bs_index_[1] = 2 * 1;
  std::fill(ns_to_bs_index_ + 2, ns_to_bs_index_ + 11, 2 * 2);
  std::fill(ns_to_bs_index_ + 11, ns_to_bs_index_ + 256, 2 * 3);

  unsigned i = 0;
  for (; i < 3; ++i) ns_to_index_[i] = static_cast<uint8_t>(i);
  for (unsigned m = i, k = 1; i < 256; ++i) {
    ns_to_index_[i] = static_cast<uint8_t>(m);
    if (--k == 0) k = (++m) - 2;
  }

  std::fill(hb_to_flag_, hb_to_flag_ + 0x40, 0);
  std::fill(hb_to_flag_ + 0x40, hb_to_flag_ + 0x100, 8);
}

void Model::Start(unsigned max_order) {
  if (max_order < kMinModelOrder || max_order > kMaxModelOrder)
    throw PpmdError("PPMd: unsupported model order");
  max_order_ = max_order;
  esc_count_ = 0;
  std::fill(std::begin(char_mask_), std::end(char_mask_), 0);
  init_esc_ = 0;
  hi_bits_flag_ = 0;
  RestartModel();
  dummy_see_.shift = kPeriodBits;
  dummy_see_.summ = 0;
  dummy_see_.count = 64;
}

void Model::RestartModel() {
  mem_.Restart();
  order_fall_ = max_order_;
  run_length_ = init_rl_ = -static_cast<int32_t>(std::min(max_order_, 12u)) - 1;
  prev_success_ = 0;

  min_context_ = max_context_ = mem_.TakeTopUnit();
  SetSuffix(min_context_, 0);
  SetNumStats(min_context_, 256);
  SetSummFreq(min_context_, 256 + 1);
  found_state_ = mem_.TakeLowUnits(256 / 2);
  SetStats(min_context_, found_state_);
  for (unsigned i = 0; i < 256; ++i)
    StoreState(found_state_ + i * kStateSize, {static_cast<uint8_t>(i), 1, 0});

  for (unsigned i = 0; i < 128; ++i)
    for (unsigned k = 0; k < 8; ++k)
      for (unsigned m = 0; m < 64; m += 8)
        bin_summ_[i][k + m] = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));

  for (unsigned i = 0; i < 25; ++i)
    for (auto& see : see_[i]) see.Init(5 * i + 10);
}

void Model::StoreState(Ref s, const StateValue& v) {
  mem_.Set8(s, v.symbol);
  mem_.Set8(s + 1, v.freq);
  mem_.Set32(s + 2, v.successor);
}

void Model::SwapStates(Ref a, Ref b) {
  StateValue t = LoadState(a);
  StoreState(a, LoadState(b));
  StoreState(b, t);
}

Ref Model::FindState(Ref c, unsigned symbol) const {
  const Ref stats = Stats(c);
  const unsigned n = NumStats(c);
  const uint8_t* p = StateBytes(stats, n);
  for (unsigned i = 0; i < n; ++i)
    if (p[i * kStateSize] == symbol) return stats + i * kStateSize;
  Damaged();
}

// Builds the chain of contexts that the found symbol leads to, from the text of what followed
// it, and links every suffix state on the way to its new context. 0 when memory runs out.
Ref Model::CreateSuccessors(bool skip) {
  Ref c = min_context_;
  const Ref up_branch = Successor(found_state_);
  const uint8_t found_symbol = Symbol(found_state_);
  Ref ps[kMaxChain];
  unsigned num = 0;
  if (!skip) ps[num++] = found_state_;

  while (Suffix(c) != 0) {
    c = Suffix(c);
    Ref s = NumStats(c) != 1 ? FindState(c, found_symbol) : OneState(c);
    Ref successor = Successor(s);
    if (successor != up_branch) {
      // Only a built context can differ from the raw successor being followed.
      if (successor < mem_.units_start()) Damaged();
      c = successor;
      break;
    }
    if (num == kMaxChain) Damaged();
    ps[num++] = s;
  }
  if (num == 0) return c;
  // The text the raw successor points at must lie in the text area.
  if (up_branch == 0 || up_branch >= mem_.text()) Damaged();

  const uint8_t up_symbol = mem_.Get8(up_branch);
  const Ref up_successor = up_branch + 1;
  unsigned up_freq;
  if (NumStats(c) == 1) {
    up_freq = Freq(OneState(c));
  } else {
    Ref s = FindState(c, up_symbol);
    unsigned cf = Freq(s) - 1u;
    unsigned s0 = SummFreq(c) - NumStats(c) - cf;
    if (s0 == 0 && cf != 0) Damaged();  // a list always keeps some escape frequency
    up_freq = 1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0)));
  }

  do {
    Ref c1 = mem_.AllocContext();
    if (c1 == 0) return 0;
    SetNumStats(c1, 1);
    StoreState(OneState(c1), {up_symbol, static_cast<uint8_t>(up_freq), up_successor});
    SetSuffix(c1, c);
    SetSuccessor(ps[--num], c1);
    c = c1;
  } while (num != 0);
  return c;
}

void Model::UpdateModel() {
  const uint8_t found_symbol = Symbol(found_state_);
  Ref f_successor = Successor(found_state_);

  // The shorter context learns the symbol too.
  if (Freq(found_state_) < kMaxFreq / 4 && Suffix(min_context_) != 0) {
    Ref c = Suffix(min_context_);
    if (NumStats(c) == 1) {
      Ref s = OneState(c);
      if (Freq(s) < 32) SetFreq(s, Freq(s) + 1);
    } else {
      Ref s = Stats(c);
      if (Symbol(s) != found_symbol) {
        s = FindState(c, found_symbol);
        if (Freq(s) >= Freq(s - kStateSize)) {
          SwapStates(s, s - kStateSize);
          s -= kStateSize;
        }
      }
      if (Freq(s) < kMaxFreq - 9) {
        SetFreq(s, Freq(s) + 2);
        SetSummFreq(c, SummFreq(c) + 2);
      }
    }
  }

  if (order_fall_ == 0) {
    min_context_ = max_context_ = CreateSuccessors(true);
    if (min_context_ == 0) return RestartModel();
    SetSuccessor(found_state_, min_context_);
    return;
  }

  mem_.Set8(mem_.text(), found_symbol);
  mem_.set_text(mem_.text() + 1);
  Ref successor = mem_.text();
  if (mem_.text() >= mem_.units_start()) return RestartModel();

  if (f_successor != 0) {
    if (f_successor <= successor) {
      Ref cs = CreateSuccessors(false);
      if (cs == 0) return RestartModel();
      f_successor = cs;
    }
    if (--order_fall_ == 0) {
      successor = f_successor;
      if (max_context_ != min_context_) mem_.set_text(mem_.text() - 1);
    }
  } else {
    SetSuccessor(found_state_, successor);
    f_successor = min_context_;
  }

  // Add the symbol to every context above the one it was found in.
  const unsigned ns = NumStats(min_context_);
  const unsigned s0 = SummFreq(min_context_) - ns - (Freq(found_state_) - 1u);
  unsigned steps = 0;
  for (Ref c = max_context_; c != min_context_; c = Suffix(c)) {
    if (++steps > kMaxChain || c == 0) Damaged();
    const unsigned ns1 = NumStats(c);
    if (ns1 >= 256) Damaged();
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        // The list needs one more unit when it moves to the next size class.
        unsigned old_units = ns1 >> 1;
        unsigned i = mem_.UnitsToIndex(old_units);
        if (i != mem_.UnitsToIndex(old_units + 1)) {
          Ref grown = mem_.AllocUnits(i + 1);
          if (grown == 0) return RestartModel();
          Ref old = Stats(c);
          mem_.Copy(grown, old, old_units * kUnitSize);
          mem_.InsertNode(old, i);
          SetStats(c, grown);
        }
      }
      SetSummFreq(c,
                  SummFreq(c) + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (SummFreq(c) <= 8 * ns1)));
    } else {
      Ref s = mem_.AllocUnits(0);
      if (s == 0) return RestartModel();
      StoreState(s, LoadState(OneState(c)));
      SetStats(c, s);
      unsigned freq = Freq(s);
      SetFreq(s, freq < kMaxFreq / 4 - 1 ? freq * 2 : kMaxFreq - 4);
      SetSummFreq(c, Freq(s) + init_esc_ + (ns > 3));
    }
    uint32_t cf = 2 * static_cast<uint32_t>(Freq(found_state_)) * (SummFreq(c) + 6);
    uint32_t sf = s0 + SummFreq(c);
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      SetSummFreq(c, SummFreq(c) + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      SetSummFreq(c, SummFreq(c) + cf);
    }
    StoreState(Stats(c) + ns1 * kStateSize, {found_symbol, static_cast<uint8_t>(cf), successor});
    SetNumStats(c, ns1 + 1);
  }
  max_context_ = min_context_ = f_successor;
}

// Halves the frequencies of the current context (keeping them sorted) and drops the symbols
// whose frequency reaches 0.
void Model::Rescale() {
  const Ref stats = Stats(min_context_);
  const unsigned num_stats = NumStats(min_context_);
  if (num_stats < 2) Damaged();
  Ref s = found_state_;
  if (s < stats || s >= stats + num_stats * kStateSize) Damaged();
  if (s != stats) {
    StateValue t = LoadState(s);
    for (; s != stats; s -= kStateSize) StoreState(s, LoadState(s - kStateSize));
    StoreState(s, t);
  }

  unsigned esc_freq = SummFreq(min_context_) - Freq(s);
  const unsigned adder = order_fall_ != 0;
  SetFreq(s, (Freq(s) + 4 + adder) >> 1);
  unsigned sum_freq = Freq(s);
  for (unsigned i = 1; i < num_stats; ++i) {
    s += kStateSize;
    esc_freq -= Freq(s);
    SetFreq(s, (Freq(s) + adder) >> 1);
    sum_freq += Freq(s);
    if (Freq(s) > Freq(s - kStateSize)) {
      StateValue t = LoadState(s);
      Ref s1 = s;
      do {
        StoreState(s1, LoadState(s1 - kStateSize));
        s1 -= kStateSize;
      } while (s1 != stats && t.freq > Freq(s1 - kStateSize));
      StoreState(s1, t);
    }
  }

  if (Freq(s) == 0) {
    unsigned removed = 0;
    do {
      ++removed;
      s -= kStateSize;
    } while (Freq(s) == 0);
    esc_freq += removed;
    const unsigned left = num_stats - removed;
    SetNumStats(min_context_, left);
    if (left == 1) {
      StateValue t = LoadState(stats);
      do {
        t.freq = static_cast<uint8_t>(t.freq - (t.freq >> 1));
        esc_freq >>= 1;
      } while (esc_freq > 1);
      mem_.InsertNode(stats, mem_.UnitsToIndex((num_stats + 1) >> 1));
      found_state_ = OneState(min_context_);
      StoreState(found_state_, t);
      return;
    }
    unsigned n0 = (num_stats + 1) >> 1;
    unsigned n1 = (left + 1) >> 1;
    if (n0 != n1) SetStats(min_context_, mem_.ShrinkUnits(stats, n0, n1));
  }
  SetSummFreq(min_context_, sum_freq + esc_freq - (esc_freq >> 1));
  found_state_ = Stats(min_context_);
}

void Model::NextContext() {
  Ref c = Successor(found_state_);
  if (order_fall_ == 0 && c > mem_.text())
    min_context_ = max_context_ = c;
  else
    UpdateModel();
}

// The symbol was the first of a multi-symbol context.
void Model::Update1First() {
  prev_success_ = 2u * Freq(found_state_) > SummFreq(min_context_);
  run_length_ += static_cast<int32_t>(prev_success_);
  SetSummFreq(min_context_, SummFreq(min_context_) + 4);
  SetFreq(found_state_, Freq(found_state_) + 4);
  if (Freq(found_state_) > kMaxFreq) Rescale();
  NextContext();
}

// Found further down the list of the first context tried: keep the list sorted by frequency.
void Model::Update1() {
  Ref s = found_state_;
  SetFreq(s, Freq(s) + 4);
  SetSummFreq(min_context_, SummFreq(min_context_) + 4);
  if (Freq(s) > Freq(s - kStateSize)) {
    SwapStates(s, s - kStateSize);
    found_state_ = s -= kStateSize;
    if (Freq(s) > kMaxFreq) Rescale();
  }
  NextContext();
}

// Found after one or more escapes.
void Model::Update2() {
  SetFreq(found_state_, Freq(found_state_) + 4);
  SetSummFreq(min_context_, SummFreq(min_context_) + 4);
  if (Freq(found_state_) > kMaxFreq) Rescale();
  run_length_ = init_rl_;
  UpdateModel();
}

void Model::UpdateBin() {
  SetFreq(found_state_, Freq(found_state_) + (Freq(found_state_) < 128 ? 1 : 0));
  prev_success_ = 1;
  ++run_length_;
  NextContext();
}

}  // namespace orv::ppmd
