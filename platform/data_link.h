#pragma once

#include <cstdint>

#include "platform/dataset.h"

namespace orv {

class TDataSource;

// The connection of one control (or one detail dataset) to a data source. The link sees a
// window of BufferCount records of the dataset's buffers and hears the dataset's events through
// the virtual operations below: scrolling and dataset changes arrive as DataSetScrolled /
// DataSetChanged, which by default come down to RecordChanged(nullptr).
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  // The dataset's active record within this link's window.
  int ActiveRecord() const;
  void SetActiveRecord(int record);
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);
  // Records in this link's window.
  int RecordCount() const;
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only);
  // Puts the dataset in edit state through the data source (AutoEdit); answers Editing().
  bool Edit();
  // Runs UpdateData, without the link hearing the field changes it causes.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* field) {}
  virtual void UpdateData() {}
  virtual void DataEvent(TDataEvent event, intptr_t info);

 private:
  friend class TDataSource;
  friend class TDataSet;

  void UpdateState();
  void SetActive(bool active);
  void SetEditing(bool editing);
  void UpdateRange();

  TDataSource* source_ = nullptr;
  int first_record_ = 0;
  int buffer_count_ = 1;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  bool read_only_ = false;
};

// A link through which a detail dataset follows its master; DetailDataSet names the detail.
class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* DetailDataSet() { return nullptr; }
};

}  // namespace orv
