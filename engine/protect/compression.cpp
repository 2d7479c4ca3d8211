#include "engine/protect/compression.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <exception>

#include "engine/common/orv_exception.h"
#include "engine/protect/ppmd_stream.h"

namespace orv {
namespace {

int CompressCheck(int status) {
  if (status < 0) throw ECompressionError();
  return status;
}

int DecompressCheck(int status) {
  if (status < 0) throw EDecompressionError();
  return status;
}

class DeflateStream {
 public:
  DeflateStream() { CompressCheck(deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY)); }
  ~DeflateStream() { deflateEnd(&z); }
  z_stream z{};
};

class InflateStream {
 public:
  InflateStream() { DecompressCheck(inflateInit(&z)); }
  ~InflateStream() { inflateEnd(&z); }
  z_stream z{};
};

// zlib counts in 32 bits: a buffer is handed over at most 4 GiB - 1 at a time.
uInt Room(const std::vector<uint8_t>& out, size_t done) {
  return static_cast<uInt>(std::min<size_t>(out.size() - done, UINT_MAX));
}

// Level 1: a zlib stream (RFC 1950) with a 32 KiB window, memory level 8, default strategy; its
// header bytes are 0x78 0x01.
void ZlibCompress(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  if (n > UINT_MAX) throw ECompressionError();
  DeflateStream s;
  out.resize((n / 10 + n + 267) & ~size_t{255});
  s.z.next_in = in;
  s.z.avail_in = static_cast<uInt>(n);
  s.z.next_out = out.data();
  s.z.avail_out = Room(out, 0);
  while (CompressCheck(deflate(&s.z, Z_FINISH)) != Z_STREAM_END) {
    const size_t done = static_cast<size_t>(s.z.next_out - out.data());
    if (s.z.avail_out == 0) out.resize(out.size() + 256);
    s.z.next_out = out.data() + done;
    s.z.avail_out = Room(out, done);
  }
  out.resize(static_cast<size_t>(s.z.next_out - out.data()));
}

// Growth of a decoder's output: from a guess based on the input, doubling up to the expected
// size, so a false expected size cannot make us allocate more than the data yields.
size_t FirstCapacity(size_t expected, size_t input_size) {
  size_t guess = input_size > (SIZE_MAX - 65536) / 4 ? SIZE_MAX : input_size * 4 + 65536;
  return std::min(expected, guess);
}

void ZlibDecompress(const uint8_t* in, size_t n, size_t expected, std::vector<uint8_t>& out) {
  if (n > UINT_MAX) throw EDecompressionError();
  InflateStream s;
  out.resize(FirstCapacity(expected, n));
  s.z.next_in = in;
  s.z.avail_in = static_cast<uInt>(n);
  s.z.next_out = out.data();
  s.z.avail_out = Room(out, 0);
  for (;;) {
    int status = inflate(&s.z, Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    if (status == Z_NEED_DICT) status = Z_DATA_ERROR;
    if (status != Z_BUF_ERROR) DecompressCheck(status);
    // With room left inflate stopped for want of input: the stream is cut short.
    if (s.z.avail_out != 0) throw EDecompressionError();
    const size_t done = static_cast<size_t>(s.z.next_out - out.data());
    if (done == out.size()) {
      if (done >= expected) throw EDecompressionError();  // more data than the caller stored
      out.resize(std::min(expected, std::max(out.size() * 2, done + 4096)));
    }
    s.z.next_out = out.data() + done;
    s.z.avail_out = Room(out, done);
  }
  out.resize(static_cast<size_t>(s.z.next_out - out.data()));
}

// The PPMd levels' model order, memory and block size.
const ppmd::StreamParams* PpmdParams(TCompressionLevel level) {
  static const ppmd::StreamParams kDefault{5, 20, 819200};
  static const ppmd::StreamParams kMax{16, 50, 1638400};
  switch (level) {
    case clDefault:
      return &kDefault;
    case clMax:
      return &kMax;
    default:
      return nullptr;
  }
}

void Discard(std::vector<uint8_t>& v) {
  v.clear();
  v.shrink_to_fit();
}

// Every failure inside a coder, exceptions included, becomes false with an empty output; body
// answers false for a level it has no coder for.
template <typename Body>
bool RunCoder(std::vector<uint8_t>& output, Body body) {
  try {
    if (!body()) return false;
  } catch (const std::exception&) {
    Discard(output);
    return false;
  }
  return !output.empty();
}

}  // namespace

bool mvCompressBuffer(const void* input, size_t input_size, std::vector<uint8_t>& output,
                      TCompressionLevel level) {
  if (input == nullptr) throw Exception("mvCompressBuffer - inBuf = nil");
  Discard(output);
  const auto* in = static_cast<const uint8_t*>(input);
  return RunCoder(output, [&] {
    if (level == clFastest) {
      ZlibCompress(in, input_size, output);
    } else if (const ppmd::StreamParams* params = PpmdParams(level)) {
      // Room for typical output; coded data that expands further just grows the buffer.
      output.reserve(input_size / 20 + input_size + 50);
      ppmd::EncodeRecords(in, input_size, *params, output);
    } else {
      return false;
    }
    return true;
  });
}

bool mvDecompressBuffer(const void* input, size_t input_size, std::vector<uint8_t>& output,
                        TCompressionLevel level, size_t uncompressed_size) {
  Discard(output);
  if (uncompressed_size == 0 || input == nullptr) return false;
  const auto* in = static_cast<const uint8_t*>(input);
  return RunCoder(output, [&] {
    if (level == clFastest) {
      ZlibDecompress(in, input_size, uncompressed_size, output);
    } else if (PpmdParams(level) != nullptr) {
      output.reserve(FirstCapacity(uncompressed_size, input_size));
      ppmd::DecodeRecords(in, input_size, uncompressed_size, output);
    } else {
      return false;
    }
    return true;
  });
}

}  // namespace orv
