#include "engine/components/orvel_blob_stream.h"

#include "engine/components/orvel_dataset.h"
#include "platform/field.h"

namespace orv {

TOrvelBlobStream::TOrvelBlobStream(TField* field, TBlobStreamMode mode)
    : field_(field), mode_(mode) {
  if (field_ != nullptr) dataset_ = dynamic_cast<TOrvelDataset*>(field_->DataSet());
  if (dataset_ == nullptr) return;
  if (mode_ != bmRead && dataset_->ReadOnly())
    throw Exception("Error in TOrvelBlobStream.Create - Dataset is read only!");
  if (!dataset_->HasCurrentRecord()) return;
  stream_ = dataset_->OpenBlobSlot(field_, mode_);
  opened_ = true;
  if (mode_ == bmWrite) {
    stream_->SetSize(stream_->Position());
    modified_ = true;
  }
}

TOrvelBlobStream::~TOrvelBlobStream() {
  if (!opened_) return;
  try {
    if (modified_) {
      if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
      dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
    }
    dataset_->CloseBlob(field_);
  } catch (...) {
    // Nothing can be reported from a destructor; the value stays in the dataset's slot.
  }
}

int64_t TOrvelBlobStream::Read(void* buffer, int64_t count) {
  return opened_ ? stream_->Read(buffer, count) : 0;
}

int64_t TOrvelBlobStream::Write(const void* buffer, int64_t count) {
  if (mode_ == bmRead)
    throw Exception("Error in TOrvelBlobStream.Write - blob stream is read only!");
  if (!opened_) return 0;
  modified_ = true;
  return stream_->Write(buffer, count);
}

int64_t TOrvelBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  return opened_ ? stream_->Seek(offset, origin) : 0;
}

int64_t TOrvelBlobStream::Size() {
  return opened_ ? stream_->Size() : 0;
}

void TOrvelBlobStream::SetSize(int64_t size) {
  if (mode_ == bmRead)
    throw Exception("Error in TOrvelBlobStream.Write - blob stream is read only!");
  if (!opened_) return;
  stream_->SetSize(size);
  modified_ = true;
}

void TOrvelBlobStream::Truncate() {
  if (!opened_) return;
  SetSize(stream_->Position());
}

}  // namespace orv
