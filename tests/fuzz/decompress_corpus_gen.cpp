// Writes the seed corpus of the decompress fuzz target: valid stored values at each level in
// the target's input layout, and values for its round-trip mode.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/protect/compression.h"
#include "tests/protect/compression_samples.h"

namespace {

using orv::testing::Bytes;

void Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Mode 0: level, the 24-bit uncompressed size, the stored value.
Bytes Stored(orv::TCompressionLevel level, const Bytes& value) {
  Bytes packed;
  if (!orv::mvCompressBuffer(value.data(), value.size(), packed, level)) std::abort();
  Bytes input{static_cast<uint8_t>(level), static_cast<uint8_t>(value.size()),
              static_cast<uint8_t>(value.size() >> 8), static_cast<uint8_t>(value.size() >> 16)};
  input.insert(input.end(), packed.begin(), packed.end());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const Bytes text = orv::testing::SampleText(600);
  const Bytes one{'A'};
  const Bytes random = orv::testing::RandomBytes(200);
  Bytes zeros(819201, 0);  // two level-2 records, the second holding one byte
  for (int level = 1; level <= 3; ++level) {
    const auto l = static_cast<orv::TCompressionLevel>(level);
    const std::string tag = "level" + std::to_string(level);
    Write(dir, tag + "_text", Stored(l, text));
    Write(dir, tag + "_one_byte", Stored(l, one));
    Write(dir, tag + "_random", Stored(l, random));
    Bytes raw{static_cast<uint8_t>(4 | level)};
    raw.insert(raw.end(), text.begin(), text.begin() + 300);
    Write(dir, tag + "_round_trip", raw);
  }
  Write(dir, "level2_two_records", Stored(orv::clDefault, zeros));
  return 0;
}
