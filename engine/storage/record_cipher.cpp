#include "engine/storage/record_cipher.h"

#include <cstring>
#include <span>
#include <vector>

#include "engine/protect/cipher.h"
#include "engine/protect/hash.h"
#include "platform/exception.h"

namespace orv {

namespace {

constexpr const char* kChange = "Error in TOrvelDataManager.ChangeBufferEncryption - ";

[[noreturn]] void RaiseChange(const char* what) {
  throw Exception(std::string(kChange) + what);
}

bool CrcMatches(const uint8_t* image, const TRecordGeometry& geometry) {
  const std::span<const uint8_t, kCrcFieldSize> stored(image + geometry.CrcOffset(), kCrcFieldSize);
  return CheckBufferCrc(image, geometry.DataSize, stored);
}

}  // namespace

void CountBufferCrc(const uint8_t* buffer, int32_t length, uint8_t* destination) {
  try {
    if (destination == nullptr || length < 0) throw Exception("no buffer");
    CountBufferCrc(buffer, static_cast<size_t>(length),
                   std::span<uint8_t, kCrcFieldSize>(destination, kCrcFieldSize));
  } catch (const std::exception&) {
    throw Exception("Error in TOrvelDataManager.CountBufferCrc - crc calc error, encoding");
  }
}

void ChangeBufferEncryption(uint8_t* image, const TRecordGeometry& geometry,
                            std::string_view password, bool encipher) {
  if (image == nullptr) RaiseChange("buffer 0 pointer.");
  const size_t data_size = geometry.DataSize;
  if (encipher) {
    CountBufferCrc(image, geometry.DataSize, image + geometry.CrcOffset());
    try {
      EncipherBuffer(password, image, data_size);
    } catch (const std::exception&) {
      RaiseChange("encoding error.");
    }
    return;
  }
  try {
    DecipherBuffer(password, image, data_size);
  } catch (const std::exception&) {
    RaiseChange("decoding error.");
  }
  bool matches;
  try {
    matches = CrcMatches(image, geometry);
  } catch (const std::exception&) {
    RaiseChange("crc calc error, decoding 2");
  }
  if (!matches) RaiseChange("crc error, decoding");
}

bool RecordPasswordMatches(const uint8_t* stored_image, const TRecordGeometry& geometry,
                           std::string_view password) {
  if (stored_image == nullptr || password.empty()) return false;
  std::vector<uint8_t> copy(stored_image, stored_image + geometry.RecordSize);
  try {
    DecipherBuffer(password, copy.data(), geometry.DataSize);
    return CrcMatches(copy.data(), geometry);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace orv
