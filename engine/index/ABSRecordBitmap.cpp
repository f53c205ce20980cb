#include "engine/index/ABSRecordBitmap.h"

#include "engine/memory/ABSException.h"

namespace {

constexpr std::int64_t kMaxBitNo = TABSBitsArray::MaxBits - 1;

bool IsBitNo(std::int64_t n) {
  return n >= 0 && n <= kMaxBitNo;
}

}  // namespace

TABSRecordBitmap::TABSRecordBitmap(TABSBitmapTable* table) : table_(table) {
  if (table == nullptr) throw EABSException(10425, "Nil pointer occured");
}

void TABSRecordBitmap::ResetBitmap() noexcept {
  bits_.Clear();
  active_ = false;
}

void TABSRecordBitmap::BeginRebuild(bool indexOrdered) {
  ResetBitmap();
  stamp_ = table_->BitmapChangeCounter();
  indexOrdered_ = indexOrdered;
  const std::int64_t count = table_->BitmapRecordCount();
  bits_.Resize(static_cast<std::int32_t>(count < kMaxBitNo ? count : kMaxBitNo));
  active_ = true;
}

void TABSRecordBitmap::MarkOrdinal(std::int64_t ordinal, bool visible) {
  if (!IsBitNo(ordinal)) return;
  const auto n = static_cast<std::int32_t>(ordinal);
  if (n >= bits_.BitCount()) bits_.Resize(n + 1);
  bits_.AssignBit(n, visible);
}

void TABSRecordBitmap::Mark(const RecordPosition& position, bool visible) {
  if (indexOrdered_) {
    // Every ordinal behind the changed entry moves; rebuilt on next use.
    ResetBitmap();
    return;
  }
  MarkOrdinal(table_->BitmapRecordIdOf(position), visible);
}

// ---------------------------------------------------------------------------
// Numbers and searches on bit numbers

std::int64_t TABSRecordBitmap::NumberOfOrdinal(std::int64_t ordinal) const {
  if (ordinal < 0 || ordinal >= bits_.BitCount()) return -1;
  return bits_.Rank(static_cast<std::int32_t>(ordinal) + 1);
}

std::int64_t TABSRecordBitmap::OrdinalAtNumber(std::int64_t k) const {
  if (k < 1 || k > bits_.SetBitCount()) return -1;
  return bits_.Select(static_cast<std::int32_t>(k - 1));
}

bool TABSRecordBitmap::IsOrdinalVisible(std::int64_t ordinal) const {
  return ordinal >= 0 && ordinal < bits_.BitCount() &&
         bits_.GetBit(static_cast<std::int32_t>(ordinal));
}

std::int64_t TABSRecordBitmap::FindVisibleOrdinal(bool fromStart, bool forward,
                                                  std::int64_t current) const {
  const std::int32_t count = bits_.BitCount();
  if (count == 0) return -1;
  if (forward) {
    std::int64_t from = fromStart ? 0 : current + 1;
    if (from >= count) return -1;
    return bits_.NextSetBit(static_cast<std::int32_t>(from < 0 ? 0 : from));
  }
  std::int64_t from = fromStart ? count - 1 : current - 1;
  if (from < 0) return -1;
  return bits_.PriorSetBit(static_cast<std::int32_t>(from >= count ? count - 1 : from));
}

// ---------------------------------------------------------------------------
// Record order

std::int64_t TABSRecordBitmap::RecordNumberOf(const RecordPosition& position) const {
  return NumberOfOrdinal(table_->BitmapRecordIdOf(position));
}

bool TABSRecordBitmap::RecordAtNumber(std::int64_t k, RecordPosition& position) const {
  const std::int64_t n = OrdinalAtNumber(k);
  if (n < 0) return false;
  table_->BitmapPositionOf(static_cast<std::int32_t>(n), position);
  return true;
}

// FindVisible's forward step from the current record (the walk of a
// filtered view) is inline in the header and goes straight to the bit
// array's NextSetBit, whose inline test of the adjacent bit answers a dense
// view without a search: a step then costs the two table calls and a word
// load, and a caller that knows its table's class can have them
// devirtualised. bench_bitmap BM_WalkVisible_Words measures it against
// BM_WalkVisible_Bits. Its answers are those of FindVisibleOrdinal.
bool TABSRecordBitmap::FindVisibleSearch(bool fromStart, bool forward, RecordPosition& position,
                                         const RecordPosition& current) const {
  const std::int64_t from = fromStart ? -1 : table_->BitmapRecordIdOf(current);
  if (!fromStart && from < 0) return false;
  const std::int64_t n = FindVisibleOrdinal(fromStart, forward, from);
  if (n < 0) return false;
  table_->BitmapPositionOf(static_cast<std::int32_t>(n), position);
  return true;
}

// ---------------------------------------------------------------------------
// Index order by key path

void TABSRecordBitmap::MarkVisibleByKeyPath(TABSBitmapIndexOrder& order, const TABSKeyPath& path) {
  MarkOrdinal(order.OrdinalOfKeyPath(path), true);
}

void TABSRecordBitmap::MarkHiddenByKeyPath(TABSBitmapIndexOrder& order, const TABSKeyPath& path) {
  MarkOrdinal(order.OrdinalOfKeyPath(path), false);
}

std::int64_t TABSRecordBitmap::RecordNumberOfKeyPath(TABSBitmapIndexOrder& order,
                                                     const TABSKeyPath& path) const {
  return NumberOfOrdinal(order.OrdinalOfKeyPath(path));
}

std::int64_t TABSRecordBitmap::KeyPathAtNumber(TABSBitmapIndexOrder& order, std::int64_t k,
                                               TABSKeyPath& path) const {
  const std::int64_t n = OrdinalAtNumber(k);
  if (n >= 0) order.MoveKeyPathToOrdinal(n, path);
  return n;
}

bool TABSRecordBitmap::IsKeyPathVisible(TABSBitmapIndexOrder& order,
                                        const TABSKeyPath& path) const {
  return IsOrdinalVisible(order.OrdinalOfKeyPath(path));
}

bool TABSRecordBitmap::FindVisibleByKeyPath(TABSBitmapIndexOrder& order, bool fromStart,
                                            bool forward, TABSKeyPath& path) const {
  const std::int64_t from = fromStart ? -1 : order.OrdinalOfKeyPath(path);
  if (!fromStart && from < 0) return false;
  const std::int64_t n = FindVisibleOrdinal(fromStart, forward, from);
  if (n < 0) return false;
  order.MoveKeyPathToOrdinal(n, path);
  return true;
}

// ---------------------------------------------------------------------------
// Upkeep

void TABSRecordBitmap::AfterRecordWritten(const RecordPosition& position, bool passesView) {
  if (!active_) return;
  Mark(position, passesView);
}

void TABSRecordBitmap::AfterRecordRemoved(const RecordPosition& position,
                                          std::int32_t counterBefore, bool distinctView) {
  if (!active_) return;
  Mark(position, false);
  if (active_ && stamp_ == counterBefore && !distinctView) {
    stamp_ = table_->BitmapChangeCounter();
  }
}
