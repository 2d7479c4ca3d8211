#pragma once

#include <array>
#include <cstdint>

namespace orv {

// Page layout of a new container.
enum TDatabaseFileMode { dfmCompact, dfmNormal, dfmLarge };

struct TPageLayout {
  int32_t PageSize;
  int32_t ExtentPageCount;
};
TPageLayout PageLayoutOf(TDatabaseFileMode mode);

inline constexpr int kContainerHeaderSize = 256;
inline constexpr int kPageHeaderSize = 32;
inline constexpr int kPasswordAreaSize = 172;
inline constexpr int32_t kMinPageSize = 2048;
// Far above any layout the engine makes; keeps a damaged header from asking for huge buffers.
inline constexpr int32_t kMaxPageSize = 1 << 24;
inline constexpr int32_t kFirstDataPageNo = 1;
inline constexpr uint32_t kContainerVersionBits = 0x400851EC;  // 2.13f
inline constexpr char kContainerSignature[8] = {'M', 'V', 'S', 'F', 'S', 'S', 'G', 'N'};

// Page types of the page header.
inline constexpr uint8_t kPageTypeDirectory = 1;
inline constexpr uint8_t kPageTypeGAM = 2;
inline constexpr uint8_t kPageTypeSGAM = 3;
inline constexpr uint8_t kPageTypePFS = 4;
inline constexpr uint8_t kPageTypePageMap = 5;
inline constexpr uint8_t kPageTypeFileData = 6;

// Page encryption types.
inline constexpr uint8_t kEncryptionNone = 0;
inline constexpr uint8_t kEncryptionContainerKey = 1;

// The container file header, bytes 0 to 255 of page 0 (the rest of page 0 is unused).
// All integers little-endian:
//     0   8  Signature        "MVSFSSGN"
//     8   4  HeaderChecksum   XOR of the 61 32-bit words at offsets 12 to 255
//    12   4  Version          IEEE single 2.13 (0x400851EC); never checked on load
//    16   4  PageSize         bytes per page, >= 2048
//    20   4  ExtentPageCount  pages per extent, >= 1
//    24   4  FirstDataPageNo  always 1
//    28   4  GAMPageCount     GAM pages (and as many SGAM pages)
//    32   4  PFSPageCount
//    36   4  DirPageCount
//    40   4  FirstDirPageNo   meaningful while DirPageCount > 0
//    44   4  DirItemCount     deleted items included
//    48   4  PageCount        page 0 included
//    52 172  PasswordArea     password record; zero without a password
//   224   1  EncryptionType   0 plain pages, 1 pages enciphered with the container key
//   225  31  zero
struct TContainerHeader {
  uint32_t HeaderChecksum = 0;
  uint32_t VersionBits = kContainerVersionBits;
  int32_t PageSize = 0;
  int32_t ExtentPageCount = 0;
  int32_t FirstDataPageNo = kFirstDataPageNo;
  int32_t GAMPageCount = 0;
  int32_t PFSPageCount = 0;
  int32_t DirPageCount = 0;
  int32_t FirstDirPageNo = 0;
  int32_t DirItemCount = 0;
  int32_t PageCount = 1;
  std::array<uint8_t, kPasswordAreaSize> PasswordArea{};
  uint8_t EncryptionType = kEncryptionNone;

  float Version() const;
  // Payload bytes per page (P).
  int32_t PayloadSize() const { return PageSize - kPageHeaderSize; }

  // Writes the 256 bytes with a fresh HeaderChecksum (which is also stored in this record).
  void Encode(uint8_t* block);
  // False when the signature or HeaderChecksum of the block does not match; the record is
  // filled either way.
  bool Decode(const uint8_t* block);
  // The counts and sizes can describe a container: a header that passed its checksum may still
  // have been written by something else, and later layers size buffers and loops from it.
  bool IsConsistent() const;

  static uint32_t ComputeChecksum(const uint8_t* block);
};

// The page header, bytes 0 to 31 of every page but page 0:
//    0  4  NextPageNo      next page of a chain; -1 ends a page-map chain
//    4  4  Checksum        checksum of the payload bytes as stored (after encryption)
//    8  1  PageType        kPageType*
//    9  1  EncryptionType  0 plain, 1 enciphered
//   10  1  ChecksumType    0 XOR of words, 1 CRC-16/ARC, other: none
//   11 21  unused: written as zeros, never read
struct TPageHeader {
  int32_t NextPageNo = -1;
  uint32_t Checksum = 0;
  uint8_t PageType = 0;
  uint8_t EncryptionType = kEncryptionNone;
  uint8_t ChecksumType = 0;

  void Encode(uint8_t* block) const;
  void Decode(const uint8_t* block);
};

// A page as ReadPage and WritePage take it: the header and the caller's payload buffer.
struct TPage {
  TPageHeader Header;
  uint8_t* Data = nullptr;
};

}  // namespace orv
