#pragma once

#include <cstdint>

#include "engine/protect/ppmd_allocator.h"
#include "engine/protect/ppmd_range_coder.h"
#include "engine/protect/ppmd_see.h"

namespace orv::ppmd {

inline constexpr unsigned kMinModelOrder = 2;
inline constexpr unsigned kMaxModelOrder = 16;
inline constexpr int kEndOfData = -1;

inline constexpr unsigned kMaxFreq = 124;
inline constexpr unsigned kIntBits = 7;
inline constexpr unsigned kTotBits = kIntBits + kPeriodBits;
inline constexpr unsigned kInterval = 1u << kIntBits;
inline constexpr unsigned kBinScale = 1u << kTotBits;

// PPMII model after Shkarin's PPMd: contexts of up to max_order preceding symbols, each
// with its list of symbols and frequencies; a miss escapes to the next shorter context with the
// symbols already tried masked. Contexts with a single symbol ("binary" contexts) predict it
// through an adaptive probability table; escapes from larger contexts are estimated by SEE.
// New contexts grow lazily from the text of the symbols seen. When the memory runs out the model
// starts over. The encoder and the decoder run the same model, so both must see the same calls.
class Model {
 public:
  explicit Model(uint32_t memory_bytes);
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  uint32_t MemorySize() const { return mem_.Size(); }

  // A fresh model; every stream starts with one.
  void Start(unsigned max_order);

  // symbol: 0..255, or kEndOfData to mark the end of the stream.
  void EncodeSymbol(RangeEncoder& rc, int symbol);
  // The next symbol, or kEndOfData; throws PpmdError on a damaged stream.
  int DecodeSymbol(RangeDecoder& rc);

 private:
  struct StateValue {
    uint8_t symbol;
    uint8_t freq;
    Ref successor;
  };

  // A context (12 bytes): symbol count (2), total frequency (2), state list (4), suffix (4).
  // A context with one symbol keeps its state in place of the total and the list.
  uint16_t NumStats(Ref c) const { return mem_.Get16(c); }
  void SetNumStats(Ref c, unsigned v) { mem_.Set16(c, static_cast<uint16_t>(v)); }
  uint16_t SummFreq(Ref c) const { return mem_.Get16(c + 2); }
  void SetSummFreq(Ref c, unsigned v) { mem_.Set16(c + 2, static_cast<uint16_t>(v)); }
  Ref Stats(Ref c) const { return mem_.Get32(c + 4); }
  void SetStats(Ref c, Ref v) { mem_.Set32(c + 4, v); }
  Ref Suffix(Ref c) const { return mem_.Get32(c + 8); }
  void SetSuffix(Ref c, Ref v) { mem_.Set32(c + 8, v); }
  static Ref OneState(Ref c) { return c + 2; }

  // A state (6 bytes): symbol (1), frequency (1), successor (4): the context that follows the
  // symbol, or a position in the text area where such a context is still to be built.
  static constexpr uint32_t kStateSize = 6;
  uint8_t Symbol(Ref s) const { return mem_.Get8(s); }
  uint8_t Freq(Ref s) const { return mem_.Get8(s + 1); }
  void SetFreq(Ref s, unsigned v) { mem_.Set8(s + 1, static_cast<uint8_t>(v)); }
  Ref Successor(Ref s) const { return mem_.Get32(s + 2); }
  void SetSuccessor(Ref s, Ref v) { mem_.Set32(s + 2, v); }
  StateValue LoadState(Ref s) const { return {Symbol(s), Freq(s), Successor(s)}; }
  void StoreState(Ref s, const StateValue& v);
  void SwapStates(Ref a, Ref b);
  Ref FindState(Ref c, unsigned symbol) const;
  // The n states at list: symbol of state i at [i * kStateSize], its frequency one byte on.
  const uint8_t* StateBytes(Ref list, unsigned n) const { return mem_.Span(list, n * kStateSize); }

  void RestartModel();
  Ref CreateSuccessors(bool skip);
  void UpdateModel();
  void Rescale();
  void NextContext();
  void Update1();
  void Update1First();
  void Update2();
  void UpdateBin();

  uint16_t& BinSumm();
  SeeContext* MakeEscFreq(unsigned num_masked, uint32_t& esc_freq);
  bool EscapeToSuffix();

  void NewMask() {
    if (++esc_count_ == 0) {
      for (auto& m : char_mask_) m = 0;
      esc_count_ = 1;
    }
  }
  bool Masked(unsigned symbol) const { return char_mask_[symbol] == esc_count_; }
  void Mask(unsigned symbol) { char_mask_[symbol] = esc_count_; }

  SubAllocator mem_;
  Ref min_context_ = 0;
  Ref max_context_ = 0;
  Ref found_state_ = 0;
  unsigned max_order_ = kMinModelOrder;
  unsigned order_fall_ = 0;
  unsigned init_esc_ = 0;
  unsigned prev_success_ = 0;
  unsigned hi_bits_flag_ = 0;
  int32_t run_length_ = 0;
  int32_t init_rl_ = 0;
  uint8_t esc_count_ = 0;
  uint8_t char_mask_[256] = {};
  uint8_t ns_to_index_[256] = {};
  uint8_t ns_to_bs_index_[256] = {};
  uint8_t hb_to_flag_[256] = {};
  uint16_t bin_summ_[128][64] = {};
  SeeContext see_[25][16];
  SeeContext dummy_see_;
};

}  // namespace orv::ppmd
