#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

// BLOB compression of a table; the number is stored in the table header.
enum TCompressionLevel : uint8_t {
  clNone = 0,     // stored as is; the BLOB layer never calls the functions below
  clFastest = 1,  // one zlib stream, deflate level 1
  clDefault = 2,  // PPMd order 5, 20 MiB, blocks of 819200 bytes
  clMax = 3,      // PPMd order 16, 50 MiB, blocks of 1638400 bytes
};

// Compresses input at level into output (replaced). False on any failure, for clNone and for
// unknown levels, and when the result is empty (PPMd levels on empty input). A null input
// raises Exception "mvCompressBuffer - inBuf = nil".
bool mvCompressBuffer(const void* input, size_t input_size, std::vector<uint8_t>& output,
                      TCompressionLevel level);

// Decompresses input into output (replaced); uncompressed_size is the size the caller stored.
// Output never grows past uncompressed_size: a stream that holds more is refused. The result
// is false on any failure (damaged or truncated data, clNone, unknown levels, an
// uncompressed_size of 0) and when nothing was decoded; then output is empty. A stream that
// holds fewer bytes gives true with the shorter output, so the caller compares sizes.
bool mvDecompressBuffer(const void* input, size_t input_size, std::vector<uint8_t>& output,
                        TCompressionLevel level, size_t uncompressed_size);

}  // namespace orv
