// Hostile bytes through the BLOB decompressor. The first byte picks the level (bits 0-1) and the
// mode (bit 2). Mode 0: the next 3 bytes are the stored uncompressed size (little-endian) and the
// rest the stored value; nothing may crash and the output may never pass that size. Mode 1: the
// rest is a value to compress; it must come back unchanged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/protect/compression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orv;
  if (size < 1) return 0;
  const auto level = static_cast<TCompressionLevel>(data[0] & 3);
  const bool round_trip = (data[0] & 4) != 0;
  ++data;
  --size;

  std::vector<uint8_t> out;
  if (!round_trip) {
    if (size < 3) return 0;
    const size_t expected = data[0] | (size_t{data[1]} << 8) | (size_t{data[2]} << 16);
    const bool ok = mvDecompressBuffer(data + 3, size - 3, out, level, expected);
    if (ok ? (out.empty() || out.size() > expected) : !out.empty()) std::abort();
    return 0;
  }

  static const uint8_t kEmpty = 0;
  const uint8_t* value = size ? data : &kEmpty;
  std::vector<uint8_t> packed;
  if (!mvCompressBuffer(value, size, packed, level)) {
    // Only a level without a coder, or nothing to code at a PPMd level, may fail.
    if (level != clNone && !(size == 0 && level != clFastest)) std::abort();
    return 0;
  }
  if (size == 0) return 0;
  if (!mvDecompressBuffer(packed.data(), packed.size(), out, level, size)) std::abort();
  if (out != std::vector<uint8_t>(data, data + size)) std::abort();
  return 0;
}
