#include "platform/data/DataSource.h"

#include <algorithm>

#include "platform/data/ListSnapshot.h"

namespace platform {

// ---------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {
  NotifyInserted();
}

TDataSource::~TDataSource() {
  std::vector<TDataLink*> links;
  links.swap(links_);
  for (TDataLink* link : links) {
    link->dataSource_ = nullptr;
    try {
      link->UpdateState();
    } catch (...) {
    }
  }
  if (dataSet_ != nullptr) {
    try {
      dataSet_->RemoveDataSource(this);
    } catch (...) {
    }
    dataSet_ = nullptr;
  }
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_ != nullptr) {
    TDataSet* old = dataSet_;
    dataSet_ = nullptr;
    old->RemoveDataSource(this);
  }
  dataSet_ = dataSet;
  if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
  lastState_ = State();
  for (TDataLink* link : std::vector<TDataLink*>(links_)) {
    bool wasActive = link->active_;
    link->UpdateState();
    if (wasActive && link->active_) link->DataEvent(TDataEvent::deDataSetChange, 0);
  }
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  lastState_ = State();
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

TDataSetState TDataSource::State() const {
  if (dataSet_ == nullptr || !enabled_) return TDataSetState::dsInactive;
  return dataSet_->State();
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == dataSet_) dataSet_ = nullptr;
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == TDataEvent::deUpdateState) {
    TDataSetState now = State();
    if (now == lastState_) return;
    lastState_ = now;
    NotifyLinks(event, info);
    if (OnStateChange) OnStateChange(*this);
    return;
  }
  if (!enabled_) return;
  NotifyLinks(event, info);
  switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case TDataEvent::deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  // A handler may detach links; those that left are skipped.
  VisitStillListed(links_, [&](TDataLink* link) { link->DataEvent(event, info); });
}

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataSet_ != nullptr) dataSet_->UpdateBufferCount();
}

void TDataSource::DataSetDestroyed() {
  dataSet_ = nullptr;
  lastState_ = TDataSetState::dsInactive;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

// ---------------------------------------------------------------------------
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_ != nullptr) {
    TDataSource* source = dataSource_;
    dataSource_ = nullptr;
    active_ = false;
    try {
      source->RemoveLink(this);
    } catch (...) {
    }
  }
}

TDataSet* TDataLink::DataSet() const {
  return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_ != nullptr) {
    TDataSource* old = dataSource_;
    dataSource_ = nullptr;
    old->RemoveLink(this);
  }
  dataSource_ = source;
  if (dataSource_ != nullptr) dataSource_->AddLink(this);
  UpdateState();
}

void TDataLink::UpdateState() {
  TDataSet* ds = DataSet();
  bool active = ds != nullptr && dataSource_->Enabled() && ds->Active();
  if (active != active_) SetActive(active);
  bool editing =
      active && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::SetActive(bool active) {
  active_ = active;
  firstRecord_ = 0;
  if (active) UpdateRange(0);
  ActiveChanged();
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == bufferCount_) return;
  bufferCount_ = count;
  TDataSet* ds = DataSet();
  if (ds != nullptr) ds->UpdateBufferCount();
  UpdateRange(0);
}

int TDataLink::UpdateRange(int shift) {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) {
    firstRecord_ = 0;
    return 0;
  }
  int old = firstRecord_;
  int first = firstRecord_ - shift;
  int count = ds->windowCount_;
  int active = ds->activeRecord_;
  first = std::min(first, std::max(0, count - bufferCount_));
  first = std::max(first, 0);
  if (active < first) first = active;
  if (active >= first + bufferCount_) first = active - bufferCount_ + 1;
  firstRecord_ = first;
  // How far this link's view moved, in records.
  return first - (old - shift);
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return 0;
  return ds->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int row) {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return;
  if (row < 0 || row >= RecordCount()) return;
  ds->activeRecord_ = firstRecord_ + row;
}

std::string TDataLink::DisplayText(int row, const TField& field) const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr || row < 0 || row >= RecordCount()) return {};
  return ds->WindowDisplayText(firstRecord_ + row, field);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return 0;
  return std::max(0, std::min(bufferCount_, ds->windowCount_ - firstRecord_));
}

bool TDataLink::Eof() const {
  TDataSet* ds = DataSet();
  return active_ && ds != nullptr && ds->Eof();
}

bool TDataLink::Bof() const {
  TDataSet* ds = DataSet();
  return active_ && ds != nullptr && ds->Bof();
}

void TDataLink::UpdateRecord() {
  if (updating_) return;
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event != TDataEvent::deUpdateState && !active_) return;
  switch (event) {
    case TDataEvent::deUpdateState:
      UpdateState();
      break;
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::deDataSetChange:
      UpdateRange(0);
      DataSetChanged();
      break;
    case TDataEvent::deDataSetScroll:
      DataSetScrolled(UpdateRange(static_cast<int>(info)));
      break;
    case TDataEvent::deLayoutChange:
    case TDataEvent::deFieldListChange:
      UpdateRange(0);
      LayoutChanged();
      break;
    case TDataEvent::deUpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

}  // namespace platform
