#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::ppmd {

struct StreamParams {
  unsigned order;      // 2..16
  unsigned memory_mb;  // model memory in MiB, 1..256 (the decoder takes at most 50)
  size_t block_size;   // input bytes per record
};

// The largest model memory a stream may ask the decoder for; the levels use 20 and 50 MiB.
inline constexpr unsigned kMaxDecodeMemoryMb = 50;

// The stream header word: 0x6000 + (memory in MiB - 1) * 16 + (order - 1); the top nibble of
// the low 16 bits is the variant ('G' - 'A' = 6).
uint32_t StreamHeaderWord(unsigned memory_mb, unsigned order);

// Appends the records for data cut into blocks of params.block_size. Throws PpmdError.
void EncodeRecords(const uint8_t* data, size_t size, const StreamParams& params,
                   std::vector<uint8_t>& out);

// Appends the decoded bytes of every record in data; throws PpmdError on a damaged record or
// when the output would pass max_output bytes.
void DecodeRecords(const uint8_t* data, size_t size, size_t max_output, std::vector<uint8_t>& out);

}  // namespace orv::ppmd
