// TDataSource connects one dataset to any number of data links; TDataLink is
// what a data-aware control embeds to follow a dataset.
//
// Events: the dataset sends every data event to each of its data sources;
// an enabled data source passes it to each of its links (in the order they
// joined) and raises OnDataChange / OnStateChange. A link turns the event
// into its virtual handlers (ActiveChanged, DataSetChanged, ...).
//
// A link's view of the window: each link asks for BufferCount rows; the
// dataset's window has W = max(1, the largest request) rows. A link sees
// BufferCount consecutive rows of it, starting at its own first row, kept so
// that the active record is among them. ActiveRecord() is the active
// record's row in the link's view. DisplayText(i, field) reads a field's text
// in row i without moving the active record (a control painting each visible
// row); SetActiveRecord(i) does move it, and must be undone before anything
// else uses the dataset.
//
// Lifetimes: nothing here owns anything. A data source registers with its
// dataset and a link with its data source; each side removes itself when
// destroyed and clears the other side's pointer, so the dataset, the data
// source and the links may be destroyed in any order. A link whose data
// source is destroyed becomes inactive (ActiveChanged) and keeps no pointer.
// Thread safety: none.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/data/Component.h"
#include "platform/data/DataSet.h"

namespace platform {

class TDataLink;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  // Detaches the links (each sees ActiveChanged) and leaves the dataset.
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  // Joins `dataSet` (nullptr: none); the links see ActiveChanged when the
  // activity changes, else DataSetChanged.
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // The dataset's state; dsInactive without one, or when disabled.
  TDataSetState State() const;

  int LinkCount() const { return static_cast<int>(links_.size()); }

  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnStateChange;
  std::function<void(TDataSource&)> OnUpdateData;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyLinks(TDataEvent event, std::intptr_t info);
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void DataSetDestroyed();

  TDataSet* dataSet_ = nullptr;    // borrowed; clears this pointer when destroyed
  std::vector<TDataLink*> links_;  // borrowed; each leaves when destroyed
  bool enabled_ = true;
  TDataSetState lastState_ = TDataSetState::dsInactive;
};

class TDataLink {
 public:
  TDataLink();
  // Leaves its data source (the dataset shrinks its window if needed).
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The data source is enabled and its dataset is open.
  bool Active() const { return active_; }
  // The dataset is editing or inserting.
  bool Editing() const { return editing_; }

  // Rows this link wants in the window (>= 1). The dataset grows or shrinks
  // its window when open; the call may fetch records.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // The active record's row in this link's view; 0 when inactive.
  int ActiveRecord() const;
  // REQUIRES: Active() and 0 <= row < RecordCount(). See the class comment.
  void SetActiveRecord(int row);
  // Filled rows of this link's view (<= BufferCount); 0 when inactive.
  int RecordCount() const;
  // The display text of `field` in row `row` of this link's view, read
  // without moving the dataset's active record; "" when inactive or `row`
  // is outside 0..RecordCount()-1. The field's read errors propagate.
  // REQUIRES: `field` is a field of the link's dataset.
  std::string DisplayText(int row, const TField& field) const;
  bool Eof() const;
  bool Bof() const;

  // Asks the control to put its pending value (UpdateData).
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}
  // Dispatches a data event to the handlers above.
  virtual void DataEvent(TDataEvent event, std::intptr_t info);

 private:
  friend class TDataSource;
  friend class TDataSet;

  void SetActive(bool active);
  void UpdateState();
  // Keeps the active record inside this link's view after the window moved
  // by `shift` rows; returns how far this link's view moved.
  int UpdateRange(int shift);

  TDataSource* dataSource_ = nullptr;  // borrowed; clears this pointer when destroyed
  int bufferCount_ = 1;
  int firstRecord_ = 0;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
};

}  // namespace platform
