#pragma once

#include <cstdint>
#include <string_view>

#include "engine/storage/stored_types.h"

namespace orv {

// Record encryption of a table with a password. Only the S bytes of field data are enciphered
// (Rijndael keyed by the password, engine/protect/cipher.h); the identifier, the null bitmap and
// the CRC slot stay plain. The CRC slot (ShortString[12] at TRecordGeometry::CrcOffset) holds
// the Base64 text of the CRC-32 of the plain field data; it is written only when an image is
// enciphered, and checked when one is deciphered.

// Writes the checksum text of length bytes of buffer as ShortString[12] (13 bytes) at
// destination. Raises "Error in TOrvelDataManager.CountBufferCrc - crc calc error, encoding".
void CountBufferCrc(const uint8_t* buffer, int32_t length, uint8_t* destination);

// Enciphers (encipher true: CRC first, then the field data) or deciphers (field data, then the
// CRC check) a record image of geometry.RecordSize bytes in place. Raises the table's messages:
// "Error in TOrvelDataManager.ChangeBufferEncryption - buffer 0 pointer.", "... - encoding
// error.", "... - decoding error.", "... - crc error, decoding" (also for an empty stored text)
// and "... - crc calc error, decoding 2".
void ChangeBufferEncryption(uint8_t* image, const TRecordGeometry& geometry,
                            std::string_view password, bool encipher);

// Whether password deciphers stored_image (a record as the file holds it) to field data whose
// CRC matches the stored text. The image itself is left alone; an empty password never matches.
bool RecordPasswordMatches(const uint8_t* stored_image, const TRecordGeometry& geometry,
                           std::string_view password);

}  // namespace orv
