#pragma once

#include <cstddef>
#include <cstdint>

namespace orv {

// What the page cache needs of the table whose records it holds (the data manager).
class TRecordsPageOwner {
 public:
  virtual ~TRecordsPageOwner() = default;
  virtual int32_t RecordCount() const = 0;
  // The deciphered images of records first .. first + count - 1, count x R bytes at destination:
  // each the newest logged image of its number, else the bytes of the .dat.
  virtual void ReadRecordImages(int32_t first, int32_t count, uint8_t* destination) = 0;
};

// One cached page: up to capacity consecutive record images starting at page number x
// capacity. A free page has page number -1 and holds nothing. Pages are memory only.
class TRecordsPage {
 public:
  TRecordsPage(TRecordsPageOwner& owner, int32_t record_size);
  ~TRecordsPage();
  TRecordsPage(const TRecordsPage&) = delete;
  TRecordsPage& operator=(const TRecordsPage&) = delete;

  // Sizes the page for capacity records and empties it. Raises
  // "TRecordsPage.SetMaxRecordCount - Unable to realloc memory." when the memory cannot be had.
  void SetMaxRecordCount(int32_t capacity);

  int32_t Capacity() const { return capacity_; }
  int32_t PageNo() const { return page_no_; }
  int32_t FirstRecordNo() const { return first_record_no_; }
  int32_t HeldCount() const { return held_count_; }
  bool Full() const { return held_count_ == capacity_; }
  bool Holds(int32_t record_no) const {
    return record_no >= first_record_no_ && record_no - first_record_no_ < held_count_;
  }
  uint32_t AccessCount() const { return access_count_; }
  uint32_t LastAccess() const { return last_access_; }
  int32_t LockCount() const { return lock_count_; }
  void Lock() { ++lock_count_; }
  // Raises when the page is not locked.
  void Unlock();

  // Counts the access at tick. Raises "TRecordsPage.GetRecordPtr - Cannot find record" for a
  // record the page does not hold.
  uint8_t* GetRecordPtr(int32_t record_no, uint32_t tick);
  // Behind the held records: a copy of image, or zero bytes when image is nil. Raises
  // "TRecordsPage.AppendRecord - Page overflow." when full.
  uint8_t* AppendRecord(const uint8_t* image);
  // Copies count held images from first_record_no on to destination.
  void CopyRecords(int32_t first_record_no, uint8_t* destination, int32_t count) const;
  // Raises "TRecordsPage.DeleteLastRecord - Page is already empty." on an empty page.
  void DeleteLastRecord();
  // Fills the page with count records from first_record_no on, through the owner.
  void ReadRecords(int32_t first_record_no, int32_t count);
  // Becomes page page_no and reads the records of it that the table has. When the read fails
  // the page is left free.
  void LoadPage(int32_t page_no);
  // Becomes the empty page page_no (page_no -1: free).
  void ResetPage(int32_t page_no);

 private:
  TRecordsPageOwner& owner_;
  int32_t capacity_ = 0;
  uint8_t* memory_ = nullptr;
  size_t memory_bytes_ = 0;
  int32_t record_size_;
  int32_t first_record_no_ = 0;
  int32_t held_count_ = 0;
  int32_t page_no_ = -1;
  uint32_t access_count_ = 0;
  uint32_t last_access_ = 0;
  int32_t lock_count_ = 0;
};

}  // namespace orv
