#pragma once

#include <cstdint>

namespace orv {

// The runtime's pseudo-random generator: a 32-bit linear congruential sequence
// (seed * 0x08088405 + 1) shared by the whole process.
void Randomize();  // seeds from the clock
void SetRandSeed(uint32_t seed);
uint32_t RandSeed();
// A number in [0, range); 0 when range is 0.
uint32_t Random(uint32_t range);
// A number in [0, 1).
double RandomFloat();

}  // namespace orv
