#include "engine/protect/ppmd_stream.h"

#include <algorithm>
#include <memory>

#include "engine/protect/ppmd_error.h"
#include "engine/protect/ppmd_model.h"
#include "engine/protect/ppmd_range_coder.h"

// Stored form of the PPMd levels: one record per block of input, records back to back with no
// padding and no count:
//   4  BlockLength   little-endian byte count of what follows (the header word included)
//   4  StreamHeader  little-endian word, see StreamHeaderWord
//   BlockLength - 4  the range coder's output: the block's symbols coded by a fresh model,
//                    then the end marker (an escape from the root context), then the coder's
//                    four flush bytes
namespace orv::ppmd {
namespace {

constexpr uint32_t kVariant = 'G' - 'A';
constexpr size_t kRecordHead = 8;

uint32_t GetLe32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint32_t StreamHeaderWord(unsigned memory_mb, unsigned order) {
  return (kVariant << 12) + (memory_mb - 1) * 16 + (order - 1);
}

void EncodeRecords(const uint8_t* data, size_t size, const StreamParams& params,
                   std::vector<uint8_t>& out) {
  if (params.block_size == 0 || params.memory_mb == 0 || params.memory_mb > 256)
    throw PpmdError("PPMd: bad stream parameters");
  Model model(params.memory_mb << 20);
  for (size_t pos = 0; pos < size; pos += params.block_size) {
    const size_t n = std::min(params.block_size, size - pos);
    const size_t record = out.size();
    out.resize(record + kRecordHead);
    PutLe32(out.data() + record + 4, StreamHeaderWord(params.memory_mb, params.order));
    model.Start(params.order);
    RangeEncoder rc(out);
    for (size_t i = 0; i < n; ++i) model.EncodeSymbol(rc, data[pos + i]);
    model.EncodeSymbol(rc, kEndOfData);
    rc.Flush();
    const size_t length = out.size() - record - 4;
    if (length > UINT32_MAX) throw PpmdError("PPMd: block too large");
    PutLe32(out.data() + record, static_cast<uint32_t>(length));
  }
}

void DecodeRecords(const uint8_t* data, size_t size, size_t max_output, std::vector<uint8_t>& out) {
  std::unique_ptr<Model> model;
  size_t pos = 0;
  while (pos < size) {
    if (size - pos < kRecordHead) throw PpmdError("PPMd: truncated record");
    const uint32_t length = GetLe32(data + pos);
    if (length < 4 || length > size - pos - 4) throw PpmdError("PPMd: bad record length");
    const uint32_t word = GetLe32(data + pos + 4);
    if ((word >> 12) != kVariant) throw PpmdError("PPMd: not a variant G stream");
    const unsigned order = (word & 15) + 1;
    const unsigned memory_mb = ((word >> 4) & 255) + 1;
    if (order < kMinModelOrder || memory_mb > kMaxDecodeMemoryMb)
      throw PpmdError("PPMd: unsupported stream parameters");
    if (!model || model->MemorySize() != (memory_mb << 20))
      model = std::make_unique<Model>(memory_mb << 20);
    model->Start(order);

    RangeDecoder rc(data + pos + kRecordHead, length - 4);
    for (int symbol; (symbol = model->DecodeSymbol(rc)) != kEndOfData;) {
      if (out.size() >= max_output) throw PpmdError("PPMd: more data than expected");
      if (out.size() == out.capacity())
        out.reserve(std::min(max_output, std::max<size_t>(out.capacity() * 2, 4096)));
      out.push_back(static_cast<uint8_t>(symbol));
    }
    if (!rc.AtEnd()) throw PpmdError("PPMd: bytes left after the end marker");
    pos += 4 + size_t{length};
  }
}

}  // namespace orv::ppmd
