#pragma once

#include <cstdint>

#include "platform/blob_stream.h"
#include "platform/streams.h"

namespace orv {

class TField;
class TMemoryStream;
class TOrvelDataset;

// The stream a dataset hands out for a BLOB field. It works on the dataset's memory stream for
// the field, which the dataset loads from the table when the slot opens and stores when the
// record is posted; without a current record it reads and writes nothing.
class TOrvelBlobStream : public TStream {
 public:
  // A mode other than bmRead on a read-only dataset raises; bmWrite starts from an empty value.
  TOrvelBlobStream(TField* field, TBlobStreamMode mode);
  // A modified stream marks the field modified and tells the dataset; an opened one closes the
  // field's BLOB.
  ~TOrvelBlobStream() override;
  TOrvelBlobStream(const TOrvelBlobStream&) = delete;
  TOrvelBlobStream& operator=(const TOrvelBlobStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  // Raises "Error in TOrvelBlobStream.Write - blob stream is read only!" in bmRead.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  // Cuts the value at the current position.
  void Truncate();

  bool Opened() const { return opened_; }
  bool StreamModified() const { return modified_; }

 private:
  bool opened_ = false;
  TField* field_;
  TBlobStreamMode mode_;
  TOrvelDataset* dataset_ = nullptr;
  TMemoryStream* stream_ = nullptr;
  bool modified_ = false;
};

}  // namespace orv
