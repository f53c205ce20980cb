// TDataSet's buffer window: allocation through the hooks, the fill, step and
// resync routines, and the navigation built on them.
//
// Layout of buffers_ while open: [0, windowCount_) hold consecutive records,
// [windowCount_, bufferCount_) are free, buffers_[bufferCount_] is the spare
// that a fetch past a full window's edge loads into before the rotation.
// Every routine below keeps activeRecord_ on the same record it stood on
// (shifting the index when records move) unless it says otherwise, and
// cursorRecord_ on the buffer the cursor stands on, or -1 when unknown.
// scrollShift_ collects how many rows existing records moved towards index 0
// during one operation; the links follow the records with it.
#include <algorithm>

#include "platform/data/DataSet.h"
#include "platform/data/DataSource.h"
#include "platform/data/DatabaseError.h"

namespace platform {

std::string TDataSet::WindowDisplayText(int row, const TField& field) const {
  const int previous = readRecord_;
  readRecord_ = row;
  try {
    std::string text = field.DisplayText();
    readRecord_ = previous;
    return text;
  } catch (...) {
    readRecord_ = previous;
    throw;
  }
}

void TDataSet::AllocateBuffers() {
  FreeBuffers();
  buffers_.reserve(static_cast<std::size_t>(bufferCount_) + 1);
  // One at a time, so that FreeBuffers returns exactly what was allocated
  // when an allocation fails.
  for (int i = 0; i <= bufferCount_; ++i) buffers_.push_back(NewRecordBuffer());
  ownCalcBuffer_ = NewRecordBuffer();
  calcBuffer_ = ownCalcBuffer_;
  ClearWindow();
}

void TDataSet::FreeBuffers() noexcept {
  for (TRecordBuffer b : buffers_) {
    try {
      DisposeRecordBuffer(b);
    } catch (...) {
    }
  }
  buffers_.clear();
  if (ownCalcBuffer_ != nullptr) {
    try {
      DisposeRecordBuffer(ownCalcBuffer_);
    } catch (...) {
    }
  }
  ownCalcBuffer_ = nullptr;
  calcBuffer_ = nullptr;
  ClearWindow();
}

void TDataSet::ClearWindow() {
  windowIsTail_ = false;
  tailHoldsStart_ = false;
  windowCount_ = 0;
  activeRecord_ = 0;
  cursorRecord_ = -1;
}

void TDataSet::UpdateCursorPos() {
  if (windowCount_ > 0 && cursorRecord_ != activeRecord_) {
    GoToBufferRecord(ActiveBuffer());
    cursorRecord_ = activeRecord_;
  }
}

bool TDataSet::Fetch(TRecordBuffer buffer, TGetMode mode) {
  // Until the fetch succeeds the cursor's position is unknown (a failed or
  // raising fetch may have moved it).
  cursorRecord_ = -1;
  return LoadRecord(buffer, mode, true) == TGetResult::grOK;
}

bool TDataSet::FetchNext() {
  if (windowCount_ > 0 && cursorRecord_ != windowCount_ - 1) {
    GoToBufferRecord(buffers_[static_cast<std::size_t>(windowCount_ - 1)]);
    cursorRecord_ = windowCount_ - 1;
  }
  bool full = windowCount_ == bufferCount_;
  TRecordBuffer target = buffers_[static_cast<std::size_t>(windowCount_)];
  if (!Fetch(target, TGetMode::gmNext)) return false;
  windowIsTail_ = false;
  if (full) {
    // The first record leaves; its buffer becomes the spare.
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + bufferCount_ + 1);
    // The active record's row moves up with the others; when it was the
    // first row it is now -1 and the caller steps it onto a record.
    --activeRecord_;
    ++scrollShift_;
  } else {
    ++windowCount_;
  }
  cursorRecord_ = windowCount_ - 1;
  return true;
}

bool TDataSet::FetchPrior() {
  if (windowCount_ > 0 && cursorRecord_ != 0) {
    GoToBufferRecord(buffers_[0]);
    cursorRecord_ = 0;
  }
  bool full = windowCount_ == bufferCount_;
  int target = windowCount_;
  if (!Fetch(buffers_[static_cast<std::size_t>(target)], TGetMode::gmPrior)) return false;
  windowIsTail_ = false;
  // The new record goes to the front; with a full window the last record's
  // buffer moves to the spare place.
  std::rotate(buffers_.begin(), buffers_.begin() + target, buffers_.begin() + target + 1);
  if (windowCount_ > 0) {
    ++activeRecord_;
    --scrollShift_;
  }
  // With a full window an active last row is now past the window; the
  // caller steps it back onto a record.
  if (!full) ++windowCount_;
  cursorRecord_ = 0;
  return true;
}

void TDataSet::FillFromStart() {
  ClearWindow();
  GoBeforeFirst();
  while (windowCount_ < bufferCount_ && FetchNext()) {
  }
  activeRecord_ = 0;
}

void TDataSet::FillFromEnd() {
  ClearWindow();
  GoAfterLast();
  while (windowCount_ < bufferCount_ && FetchPrior()) {
  }
  activeRecord_ = windowCount_ > 0 ? windowCount_ - 1 : 0;
}

void TDataSet::ResyncFromCursor(int rowsAbove) {
  ClearWindow();
  TRecordBuffer first = buffers_[0];
  // The record the cursor stands on; when it is gone, the one after it, else
  // the one before it.
  TGetResult r = LoadRecord(first, TGetMode::gmCurrent, false);
  if (r != TGetResult::grOK) r = LoadRecord(first, TGetMode::gmNext, false);
  if (r != TGetResult::grOK) r = LoadRecord(first, TGetMode::gmPrior, false);
  if (r != TGetResult::grOK) {
    ClearWindow();
    return;
  }
  windowCount_ = 1;
  activeRecord_ = 0;
  cursorRecord_ = 0;
  bool atStart = false;
  for (int i = 0; i < rowsAbove && windowCount_ < bufferCount_; ++i) {
    if (!FetchPrior()) {
      atStart = true;
      break;
    }
  }
  while (windowCount_ < bufferCount_ && FetchNext()) {
  }
  // Near the end: fill the rest of the window from above.
  if (!atStart) {
    while (windowCount_ < bufferCount_ && FetchPrior()) {
    }
  }
}

void TDataSet::FinishResync() {
  bof_ = eof_ = windowCount_ == 0;
  scrollShift_ = 0;
  Notify(TDataEvent::deDataSetChange);
}

void TDataSet::Resync(TResyncMode mode) {
  int rowsAbove = mode == TResyncMode::Exact ? activeRecord_ : (bufferCount_ - 1) / 2;
  CursorPosChanged();
  ResyncFromCursor(rowsAbove);
  FinishResync();
}

// ---------------------------------------------------------------------------
// Navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  FillFromStart();
  bof_ = true;
  eof_ = windowCount_ == 0;
  scrollShift_ = 0;
  Notify(TDataEvent::deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  FillFromEnd();
  eof_ = true;
  bof_ = windowCount_ == 0;
  scrollShift_ = 0;
  Notify(TDataEvent::deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0) return 0;
  DoBeforeScroll();
  bof_ = eof_ = false;
  scrollShift_ = 0;
  int moved = 0;
  try {
    if (distance > 0) {
      while (moved < distance) {
        if (activeRecord_ < windowCount_ - 1) {
          ++activeRecord_;
        } else if (FetchNext()) {
          ++activeRecord_;
        } else {
          eof_ = true;
          break;
        }
        ++moved;
      }
    } else {
      while (moved > distance) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else if (FetchPrior()) {
          --activeRecord_;
        } else {
          bof_ = true;
          break;
        }
        --moved;
      }
    }
  } catch (...) {
    // The window is consistent after each step; tell the links how far it got.
    int shift = scrollShift_;
    scrollShift_ = 0;
    if (shift != 0 || moved != 0) NotifyScroll(shift);
    throw;
  }
  if (windowCount_ == 0) bof_ = eof_ = true;
  int shift = scrollShift_;
  scrollShift_ = 0;
  NotifyScroll(shift);
  DoAfterScroll();
  return moved;
}

// ---------------------------------------------------------------------------
// Inserting

void TDataSet::BeginInsertAt(bool append) {
  CheckBrowseMode();
  if (BeforeInsert) BeforeInsert(*this);
  CheckEditable();
  insertReturn_.clear();
  if (!append) {
    insertReturn_ = GetBookmark();
    UpdateCursorPos();
  }
  BeginRecordInsert();
  CursorPosChanged();
  int index;
  try {
    if (append && CanKeepTail()) {
      GoAfterLast();
      if (windowCount_ == bufferCount_) {
        // The first record leaves; its buffer takes the new record.
        std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + bufferCount_);
        index = bufferCount_ - 1;
        tailHoldsStart_ = false;
      } else {
        index = windowCount_;
        ++windowCount_;
      }
    } else if (append) {
      const std::int64_t before = bufferCount_ > 2 ? RecordsVersion() : -1;
      ClearWindow();
      GoAfterLast();
      // The last W - 1 records stay visible above the new one.
      int above = 0;
      while (above < bufferCount_ - 1 && FetchPrior()) ++above;
      index = windowCount_;
      ++windowCount_;
      NoteTail(before, above < bufferCount_ - 1);
    } else {
      windowIsTail_ = false;
      index = windowCount_ == 0 ? 0 : activeRecord_;
      int target = windowCount_;  // the spare when the window is full
      std::rotate(buffers_.begin() + index, buffers_.begin() + target,
                  buffers_.begin() + target + 1);
      if (windowCount_ < bufferCount_) ++windowCount_;
    }
    activeRecord_ = index;
    CursorPosChanged();
    PrepareNewRecord(buffers_[static_cast<std::size_t>(index)]);
  } catch (...) {
    // Undo the started insert on the dataset's side and show its records.
    TDataSetState saved = SetTempState(TDataSetState::dsInsert);
    try {
      CancelRecordChange();
    } catch (...) {
    }
    RestoreState(saved);
    try {
      CursorPosChanged();
      FillFromEnd();
      FinishResync();
    } catch (...) {
    }
    throw;
  }
  insertAppends_ = append;
  bof_ = eof_ = false;
  SetState(TDataSetState::dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    Cancel();
    throw;
  }
  modified_ = false;
  scrollShift_ = 0;
  Notify(TDataEvent::deDataSetChange);
  if (AfterInsert) AfterInsert(*this);
}

bool TDataSet::CanKeepTail() {
  if (!windowIsTail_ || bufferCount_ <= 2 || calcFieldsSize_ > 0) return false;
  if (windowCount_ < bufferCount_ - 1 && !tailHoldsStart_) return false;
  return windowVersion_ >= 0 && RecordsVersion() == windowVersion_;
}

void TDataSet::NoteTail(std::int64_t before, bool holdsStart) {
  if (before < 0 || RecordsVersion() != before) return;
  windowIsTail_ = true;
  tailHoldsStart_ = holdsStart;
  windowVersion_ = before;
}

bool TDataSet::KeepTailAfterPost(std::int64_t kept) {
  // Exactly one change since the window was read (checked again by the
  // append): the stored record.
  const std::int64_t after = RecordsVersion();
  if (kept < 0 || after != static_cast<std::uint32_t>(kept + 1)) return false;
  TRecordBuffer active = ActiveBuffer();
  if (!TakeAppendedRecord(active)) {
    GoToBufferRecord(active);
    if (LoadRecord(active, TGetMode::gmCurrent, false) != TGetResult::grOK) return false;
    cursorRecord_ = activeRecord_;
    // The new record must be the last one: then the rows above it are the
    // window's, unchanged.
    const TGetResult next =
        LoadRecord(buffers_[static_cast<std::size_t>(bufferCount_)], TGetMode::gmNext, false);
    cursorRecord_ = -1;
    if (next != TGetResult::grEOF) return false;
  }
  windowVersion_ = after;
  return true;
}

void TDataSet::DropInsertedBuffer() {
  int index = activeRecord_;
  if (windowCount_ > 0) {
    std::rotate(buffers_.begin() + index, buffers_.begin() + index + 1,
                buffers_.begin() + windowCount_);
    --windowCount_;
  }
  CursorPosChanged();
  if (!insertAppends_ && !insertReturn_.empty()) {
    // Back to the record the insert started on, in its old row (a full
    // window may have pushed it out for the new record).
    GoToBookmark(insertReturn_.data());
    ResyncFromCursor(index);
  } else if (windowCount_ > 0) {
    activeRecord_ = std::min(index, windowCount_ - 1);
    GoToBufferRecord(ActiveBuffer());
    ResyncFromCursor(activeRecord_);
  } else if (insertAppends_) {
    FillFromEnd();
  } else {
    FillFromStart();
  }
  insertReturn_.clear();
}

// ---------------------------------------------------------------------------
// Window size

void TDataSet::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == bufferCount_) return;
  windowIsTail_ = false;
  if (buffers_.empty()) {
    bufferCount_ = count;
    return;
  }
  if (count > bufferCount_) {
    while (bufferCount_ < count) {
      TRecordBuffer b = NewRecordBuffer();
      buffers_.insert(buffers_.begin() + bufferCount_, b);
      ++bufferCount_;
    }
    if (state_ == TDataSetState::dsBrowse && windowCount_ > 0) {
      scrollShift_ = 0;
      while (windowCount_ < bufferCount_ && FetchNext()) {
      }
      while (windowCount_ < bufferCount_ && FetchPrior()) {
      }
      scrollShift_ = 0;
    }
  } else {
    // Keep the active record: drop records above it first when it would
    // fall outside, then records at the end.
    while (windowCount_ > count) {
      if (activeRecord_ >= count) {
        std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.begin() + windowCount_);
        --activeRecord_;
      }
      --windowCount_;
    }
    for (int i = bufferCount_ - 1; i >= count; --i) {
      TRecordBuffer b = buffers_[static_cast<std::size_t>(i)];
      buffers_.erase(buffers_.begin() + i);
      try {
        DisposeRecordBuffer(b);
      } catch (...) {
      }
    }
    bufferCount_ = count;
    CursorPosChanged();
  }
  if (Active()) Notify(TDataEvent::deDataSetChange);
}

}  // namespace platform
