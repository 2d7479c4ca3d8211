#pragma once

#include <array>

namespace orv {

inline constexpr int kMessageCount = 189;
inline constexpr int kCodePairCount = 322;

// The engine's error messages, selected through the code table by a native error code.
extern const std::array<const char*, kMessageCount> kMessages;

struct CodePair {
  int native_code;
  int message_index;  // -1 where the code has no message of its own
};
extern const std::array<CodePair, kCodePairCount> kCodePairs;

// The message index of a native code: that of the first pair naming it, 0 when none does.
int MessageIndexOf(int native_code);

}  // namespace orv
