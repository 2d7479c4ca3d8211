#include "engine/files/container_header.h"

#include <bit>
#include <cstring>

#include "engine/files/little_endian.h"

namespace orv {

TPageLayout PageLayoutOf(TDatabaseFileMode mode) {
  switch (mode) {
    case dfmCompact:
      return {2048, 2};
    case dfmLarge:
      return {8192, 16};
    case dfmNormal:
    default:
      return {4096, 8};
  }
}

float TContainerHeader::Version() const {
  return std::bit_cast<float>(VersionBits);
}

uint32_t TContainerHeader::ComputeChecksum(const uint8_t* block) {
  uint32_t sum = 0;
  for (int offset = 12; offset < kContainerHeaderSize; offset += 4) sum ^= LoadU32(block + offset);
  return sum;
}

void TContainerHeader::Encode(uint8_t* block) {
  std::memset(block, 0, kContainerHeaderSize);
  std::memcpy(block, kContainerSignature, sizeof kContainerSignature);
  StoreU32(block + 12, VersionBits);
  StoreI32(block + 16, PageSize);
  StoreI32(block + 20, ExtentPageCount);
  StoreI32(block + 24, FirstDataPageNo);
  StoreI32(block + 28, GAMPageCount);
  StoreI32(block + 32, PFSPageCount);
  StoreI32(block + 36, DirPageCount);
  StoreI32(block + 40, FirstDirPageNo);
  StoreI32(block + 44, DirItemCount);
  StoreI32(block + 48, PageCount);
  std::memcpy(block + 52, PasswordArea.data(), kPasswordAreaSize);
  block[224] = EncryptionType;
  HeaderChecksum = ComputeChecksum(block);
  StoreU32(block + 8, HeaderChecksum);
}

bool TContainerHeader::Decode(const uint8_t* block) {
  HeaderChecksum = LoadU32(block + 8);
  VersionBits = LoadU32(block + 12);
  PageSize = LoadI32(block + 16);
  ExtentPageCount = LoadI32(block + 20);
  FirstDataPageNo = LoadI32(block + 24);
  GAMPageCount = LoadI32(block + 28);
  PFSPageCount = LoadI32(block + 32);
  DirPageCount = LoadI32(block + 36);
  FirstDirPageNo = LoadI32(block + 40);
  DirItemCount = LoadI32(block + 44);
  PageCount = LoadI32(block + 48);
  std::memcpy(PasswordArea.data(), block + 52, kPasswordAreaSize);
  EncryptionType = block[224];
  return std::memcmp(block, kContainerSignature, sizeof kContainerSignature) == 0 &&
         HeaderChecksum == ComputeChecksum(block);
}

bool TContainerHeader::IsConsistent() const {
  if (PageSize < kMinPageSize || PageSize > kMaxPageSize) return false;
  const int64_t payload = PayloadSize();
  // More pages per extent than a PFS page has bits would leave the bitmaps without a page.
  if (ExtentPageCount < 1 || ExtentPageCount > 8 * payload) return false;
  if (FirstDataPageNo != kFirstDataPageNo || PageCount < 1) return false;
  for (int32_t count : {GAMPageCount, PFSPageCount, DirPageCount})
    if (count < 0 || count >= PageCount) return false;
  if (DirItemCount < 0 || DirItemCount > int64_t(DirPageCount) * (payload / 512)) return false;
  if (DirPageCount > 0 && (FirstDirPageNo < kFirstDataPageNo || FirstDirPageNo >= PageCount))
    return false;
  return EncryptionType == kEncryptionNone || EncryptionType == kEncryptionContainerKey;
}

void TPageHeader::Encode(uint8_t* block) const {
  std::memset(block, 0, kPageHeaderSize);
  StoreI32(block, NextPageNo);
  StoreU32(block + 4, Checksum);
  block[8] = PageType;
  block[9] = EncryptionType;
  block[10] = ChecksumType;
}

void TPageHeader::Decode(const uint8_t* block) {
  NextPageNo = LoadI32(block);
  Checksum = LoadU32(block + 4);
  PageType = block[8];
  EncryptionType = block[9];
  ChecksumType = block[10];
}

}  // namespace orv
