#pragma once

#include <cstdint>

namespace orv {

// Read access to the records of an open table, as indexes, BLOBs and searches need it.
class TRecordSource {
 public:
  virtual ~TRecordSource() = default;
  virtual int32_t RecordCount() const = 0;
  // The deciphered image of physical record record_no (0 .. RecordCount() - 1). The address
  // stays valid until the next call that may load a page, unless the record's page is locked.
  virtual const uint8_t* GetRecordPtr(int32_t record_no) = 0;
  virtual void LockRecordPage(int32_t record_no) = 0;
  virtual void UnlockRecordPage(int32_t record_no) = 0;
};

}  // namespace orv
