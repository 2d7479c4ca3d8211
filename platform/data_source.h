#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/component.h"
#include "platform/dataset.h"

namespace orv {

class TDataLink;

// Connects data links to a dataset and passes on the dataset's events; a disabled source looks
// inactive to its links.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // Raises "Circular datalinks are not allowed" when the dataset takes its master records from
  // this source, directly or further up.
  void SetDataSet(TDataSet* dataset);
  TDataSetState State() const { return state_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool auto_edit) { auto_edit_ = auto_edit; }
  // Puts a browsing dataset in edit state when AutoEdit is on.
  void Edit();
  bool IsLinkedTo(TDataSet* dataset) const;
  int DataLinkCount() const { return static_cast<int>(links_.size()); }

  // The record or a field changed (field is nullptr for the whole record).
  std::function<void(TDataSource*, TField*)> OnDataChange;
  std::function<void(TDataSource*)> OnStateChange;
  std::function<void(TDataSource*)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void SetState(TDataSetState state);
  void NotifyDataLinks(TDataEvent event, intptr_t info);
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);

  TDataSet* dataset_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = dsInactive;
  bool enabled_ = true;
  bool auto_edit_ = true;
};

}  // namespace orv
