#include "engine/index/ABSIndexManager.h"

#include <algorithm>
#include <utility>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSIndex.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSPageManager.h"
#include "engine/storage/ABSRecordManager.h"
#include "engine/types/ABSNames.h"
#include "platform/os/Random.h"

namespace {

// Change stamps wrap around like the record manager's change counter; they
// are only compared for equality.
void AddToStamp(TABSIndexDef& def, std::int32_t delta) {
  def.ChangeStamp = static_cast<std::int32_t>(static_cast<std::uint32_t>(def.ChangeStamp) +
                                              static_cast<std::uint32_t>(delta));
}

// Swaps the cursor's current and original buffers for the life of the
// guard: an index operation on "the current record" then works on the image
// before the edit.
class SwappedBuffers {
 public:
  explicit SwappedBuffers(TABSCursorState& cursor) : cursor_(cursor) {
    std::swap(cursor_.CurrentBuffer, cursor_.OriginalBuffer);
  }
  ~SwappedBuffers() { std::swap(cursor_.CurrentBuffer, cursor_.OriginalBuffer); }
  SwappedBuffers(const SwappedBuffers&) = delete;
  SwappedBuffers& operator=(const SwappedBuffers&) = delete;

 private:
  TABSCursorState& cursor_;
};

// Points the cursor's current buffer elsewhere for the life of the guard.
class BorrowedCurrentBuffer {
 public:
  BorrowedCurrentBuffer(TABSCursorState& cursor, std::byte* buffer)
      : cursor_(cursor), saved_(cursor.CurrentBuffer) {
    cursor_.CurrentBuffer = buffer;
  }
  ~BorrowedCurrentBuffer() { cursor_.CurrentBuffer = saved_; }
  BorrowedCurrentBuffer(const BorrowedCurrentBuffer&) = delete;
  BorrowedCurrentBuffer& operator=(const BorrowedCurrentBuffer&) = delete;

 private:
  TABSCursorState& cursor_;
  std::byte* saved_;
};

class RefreshingFlag {
 public:
  explicit RefreshingFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RefreshingFlag() { flag_ = false; }
  RefreshingFlag(const RefreshingFlag&) = delete;
  RefreshingFlag& operator=(const RefreshingFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TABSBaseIndexManager::TABSBaseIndexManager(TABSIndexTable& table, TABSPageManager& tablePages,
                                           TABSPageManager& temporaryPages)
    : table_(table),
      tablePages_(tablePages),
      temporaryPages_(temporaryPages),
      defs_(std::make_unique<TABSIndexDefs>()) {}

TABSBaseIndexManager::~TABSBaseIndexManager() = default;

// ---- Definitions ----

namespace {
[[noreturn]] void RaiseNoStreamForm() {
  throw EABSException(native_code::kIndexDefsNoStreamForm, "Index definitions have no stream form");
}
}  // namespace

void TABSBaseIndexManager::LoadIndexDefs(TABSStream& /*stream*/) {
  RaiseNoStreamForm();
}

void TABSBaseIndexManager::SaveIndexDefs(TABSStream& /*stream*/) {
  RaiseNoStreamForm();
}

void TABSBaseIndexManager::AssignIndexDefs(const TABSIndexDefs& defs) {
  // The copy is the step that can fail; it is made aside.
  auto copy = std::make_unique<TABSIndexDefs>();
  copy->CopyListFrom(defs);
  open_.clear();
  defs_ = std::move(copy);
  defCount_ = defs_->DefCount();
}

TABSIndex* TABSBaseIndexManager::FindOpenIndex(std::int32_t objectId) const {
  for (const auto& index : open_) {
    if (index->IndexDef() != nullptr && index->IndexDef()->ObjectId == objectId) {
      return index.get();
    }
  }
  return nullptr;
}

TABSIndexDef& TABSBaseIndexManager::ListedDef(std::int32_t objectId) const {
  TABSIndexDef* def = defs_->FindByObjectId(objectId);
  if (def == nullptr) throw EABSException(20018, "Index not found");
  return *def;
}

void TABSBaseIndexManager::SyncDef(TABSIndexDef& listed, const TABSIndex& index) const {
  const TABSIndexDef* held = index.IndexDef();
  if (held == nullptr || held == &listed) return;
  if (listed.RootPageNo != held->RootPageNo) listed.RootPageNo = held->RootPageNo;
  if (listed.KeySize != held->KeySize) listed.KeySize = held->KeySize;
}

std::unique_ptr<TABSIndex> TABSBaseIndexManager::NewIndexObject() {
  return std::make_unique<TABSBTreeRecordIndex>(table_, this);
}

// ---- Building, opening, closing ----

void TABSBaseIndexManager::BuildAllIndexes(std::int32_t sessionId, TABSCursorState* cursor) {
  // BuildIndex deletes a definition that fails, so walk by object ID.
  std::vector<std::int32_t> ids;
  ids.reserve(static_cast<std::size_t>(defs_->DefCount()));
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) ids.push_back((*defs_)[i]->ObjectId);
  for (std::int32_t id : ids) BuildIndex(sessionId, cursor, id);
}

void TABSBaseIndexManager::BuildIndex(std::int32_t sessionId, TABSCursorState* cursor,
                                      std::int32_t objectId) {
  TABSIndexDef& listed = ListedDef(objectId);
  CloseIndex(objectId);
  const std::int32_t rootBefore = listed.RootPageNo;
  std::unique_ptr<TABSIndex> index;
  try {
    index = NewIndexObject();
    index->CreateIndexPages(sessionId, cursor, listed);
  } catch (...) {
    // The pages the partial index allocated go back to the page manager
    // (they are released when the session commits); then the definition
    // goes. Errors while cleaning up give way to the first one.
    const TABSIndexDef* held = index != nullptr ? index->IndexDef() : nullptr;
    if (held != nullptr && held->RootPageNo >= 0 && held->RootPageNo != rootBefore) {
      try {
        index->DropIndexPages(sessionId);
      } catch (...) {
      }
    }
    const std::int32_t at = defs_->IndexOfObjectId(objectId);
    if (at >= 0) defs_->DeleteDefAt(at);
    defCount_ = defs_->DefCount();
    throw;
  }
  SyncDef(listed, *index);
}

std::int32_t TABSBaseIndexManager::AddIndex(std::int32_t sessionId, TABSCursorState* cursor,
                                            const TABSIndexDef& def) {
  auto added = std::make_unique<TABSIndexDef>();
  added->CopyFrom(def);
  added->ObjectId = table_.NextObjectId();
  added->RootPageNo = -1;
  const std::int32_t id = added->ObjectId;
  defs_->AppendDef(std::move(added));
  defCount_ = defs_->DefCount();
  BuildIndex(sessionId, cursor, id);
  return id;
}

TABSIndex& TABSBaseIndexManager::GetIndex(std::int32_t objectId) {
  TABSIndex* open = FindOpenIndex(objectId);
  return open != nullptr ? *open : OpenIndex(objectId);
}

TABSIndex& TABSBaseIndexManager::OpenIndex(std::int32_t objectId) {
  const TABSIndexDef& listed = ListedDef(objectId);
  std::unique_ptr<TABSIndex> index = NewIndexObject();
  index->OpenIndex(listed);
  open_.reserve(open_.size() + 1);
  open_.push_back(std::move(index));
  return *open_.back();
}

void TABSBaseIndexManager::CloseIndex(std::int32_t objectId) {
  const auto it = std::find_if(open_.begin(), open_.end(), [&](const auto& index) {
    return index->IndexDef() != nullptr && index->IndexDef()->ObjectId == objectId;
  });
  if (it != open_.end()) open_.erase(it);
}

void TABSBaseIndexManager::DropIndex(std::int32_t sessionId, std::int32_t objectId) {
  TABSIndexDef& listed = ListedDef(objectId);
  TABSIndex& index = GetIndex(objectId);
  if (index.IndexDef()->RootPageNo >= 0) index.DropIndexPages(sessionId);
  SyncDef(listed, index);
  CloseIndex(objectId);
  defs_->DeleteDefAt(defs_->IndexOfObjectId(objectId));
  defCount_ = defs_->DefCount();
}

void TABSBaseIndexManager::EmptyIndex(std::int32_t sessionId, std::int32_t objectId) {
  TABSIndexDef& listed = ListedDef(objectId);
  TABSIndex& index = GetIndex(objectId);
  index.EmptyIndex(sessionId);
  SyncDef(listed, index);
  CloseIndex(objectId);
}

void TABSBaseIndexManager::EmptyAllIndexes(std::int32_t sessionId) {
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    EmptyIndex(sessionId, (*defs_)[i]->ObjectId);
  }
}

// ---- Key maintenance ----

template <class Apply, class Undo>
void TABSBaseIndexManager::ForEachIndexAllOrNothing(Apply apply, Undo undo) {
  const std::int32_t count = defs_->DefCount();
  std::int32_t done = 0;
  try {
    for (; done < count; ++done) {
      TABSIndexDef& def = *(*defs_)[done];
      TABSIndex& index = GetIndex(def.ObjectId);
      apply(index);
      AddToStamp(def, 1);
      SyncDef(def, index);
    }
  } catch (...) {
    // Undo what the earlier indexes took, newest first, before the error
    // passes on; an undo that fails itself cannot be reported better.
    for (std::int32_t j = done - 1; j >= 0; --j) {
      TABSIndexDef& def = *(*defs_)[j];
      try {
        TABSIndex& index = GetIndex(def.ObjectId);
        undo(index);
        AddToStamp(def, -1);
        SyncDef(def, index);
      } catch (...) {
      }
    }
    throw;
  }
}

void TABSBaseIndexManager::InsertKeysInAll(std::int32_t sessionId, TABSCursorState& cursor) {
  ForEachIndexAllOrNothing([&](TABSIndex& index) { index.InsertRecordKey(sessionId, cursor); },
                           [&](TABSIndex& index) { index.DeleteRecordKey(sessionId, cursor); });
}

void TABSBaseIndexManager::RestoreOldKeys(std::int32_t sessionId, TABSCursorState& cursor,
                                          std::int32_t count) {
  // With the buffers swapped, "insert the new key where the keys differ"
  // inserts the old key exactly where phase 1 removed it.
  SwappedBuffers swapped(cursor);
  for (std::int32_t j = count - 1; j >= 0; --j) {
    TABSIndexDef& def = *(*defs_)[j];
    try {
      TABSIndex& index = GetIndex(def.ObjectId);
      index.UpdateRecordKey(sessionId, cursor, false);
      SyncDef(def, index);
    } catch (...) {
    }
  }
}

void TABSBaseIndexManager::UpdateKeysInAll(std::int32_t sessionId, TABSCursorState& cursor,
                                           int phase) {
  const std::int32_t count = defs_->DefCount();
  const bool removeOld = phase != 0;
  std::int32_t done = 0;
  try {
    for (; done < count; ++done) {
      TABSIndexDef& def = *(*defs_)[done];
      TABSIndex& index = GetIndex(def.ObjectId);
      index.UpdateRecordKey(sessionId, cursor, removeOld);
      if (!removeOld) AddToStamp(def, 1);
      SyncDef(def, index);
    }
  } catch (...) {
    if (removeOld) {
      RestoreOldKeys(sessionId, cursor, done);
    } else {
      {
        // Take the new keys out again: swapped, "remove the old key" removes
        // the key of the new image.
        SwappedBuffers swapped(cursor);
        for (std::int32_t j = done - 1; j >= 0; --j) {
          TABSIndexDef& def = *(*defs_)[j];
          try {
            TABSIndex& index = GetIndex(def.ObjectId);
            index.UpdateRecordKey(sessionId, cursor, true);
            AddToStamp(def, -1);
            SyncDef(def, index);
          } catch (...) {
          }
        }
      }
      RestoreOldKeys(sessionId, cursor, count);
    }
    throw;
  }
}

void TABSBaseIndexManager::DeleteKeysInAll(std::int32_t sessionId, TABSCursorState& cursor) {
  // The key to remove is the stored record's, not whatever the caller's
  // buffer holds now; the stored image is read into the manager's scratch
  // buffer so the cursor's buffers stay as they are.
  TABSBaseRecordManager& records = table_.IndexRecordManager();
  const std::int64_t need = std::max<std::int64_t>(
      {records.RecordSize(), static_cast<std::int64_t>(cursor.RecordBufferSize), 1});
  if (!scratch_ || scratch_.Size() < need) {
    TABSMemBlock larger(need);
    scratch_.Swap(larger);
  }
  NavigationRequest request;
  request.Direction = FetchMode::Current;
  request.Position = cursor.Position;
  request.RecordBuffer = scratch_.get();
  records.NavigateRecord(sessionId, request);
  if (request.Result != FetchResult::Found) return;

  BorrowedCurrentBuffer stored(cursor, scratch_.as<std::byte>());
  ForEachIndexAllOrNothing([&](TABSIndex& index) { index.DeleteRecordKey(sessionId, cursor); },
                           [&](TABSIndex& index) { index.InsertRecordKey(sessionId, cursor); });
}

bool TABSBaseIndexManager::IsRecordKeyUnique(std::int32_t sessionId, std::int32_t objectId,
                                             const std::byte* newImage, const std::byte* oldImage) {
  TABSIndex& index = GetIndex(objectId);
  if (oldImage == nullptr) return index.IsKeyUnique(sessionId, newImage);
  return index.IsUpdateUnique(sessionId, newImage, oldImage);
}

// ---- Navigation ----

void TABSBaseIndexManager::NavigateByIndex(std::int32_t sessionId, NavigationRequest& request,
                                           std::int32_t changeCounter,
                                           TABSIndexPositionCache* cache) {
  TABSIndex& index = GetIndex(request.IndexId);
  if (!request.BeforeFirst && !request.AfterLast) {
    // A cached path for this index, position and counter means the record
    // is unchanged since the last step: no need to read it again.
    const bool cached =
        cache != nullptr && cache->Matches(request.IndexId, request.Position, changeCounter);
    if (!cached) {
      NavigationRequest read = request;
      read.Direction = FetchMode::Current;
      table_.IndexRecordManager().NavigateRecord(sessionId, read);
      if (read.Result == FetchResult::NotFound) {
        index.SeekKey(sessionId, request);
        return;
      }
    }
  }
  index.NavigateIndex(sessionId, request, cache, changeCounter);
}

// ---- Finding and temporary indexes ----

bool TABSBaseIndexManager::IndexMatchesFields(std::int32_t sessionId,
                                              const std::vector<std::string>& names,
                                              const std::vector<std::string>& directions,
                                              const std::vector<std::string>& cases) const {
  return FindMatchingIndex(sessionId, names, directions, cases) != -1;
}

std::int32_t TABSBaseIndexManager::FindMatchingIndex(std::int32_t sessionId,
                                                     const std::vector<std::string>& names,
                                                     const std::vector<std::string>& directions,
                                                     const std::vector<std::string>& cases) const {
  const TABSBaseFieldManager* fields = table_.IndexFieldManager();
  return defs_->FindIndexForFieldLists(
      &names, &directions, fields != nullptr ? &fields->FieldDefs() : nullptr, sessionId, &cases);
}

std::string TABSBaseIndexManager::DrawGuidText() {
  return platform::NewGuidText();
}

std::int32_t TABSBaseIndexManager::CreateTemporaryIndex(std::int32_t sessionId,
                                                        TABSCursorState* cursor,
                                                        const std::vector<std::string>& names,
                                                        const std::vector<std::string>& directions,
                                                        const std::vector<std::string>& cases) {
  std::string name;
  do {
    name = std::string(kTemporaryIndexPrefix) + DrawGuidText();
  } while (defs_->IndexOfName(name) != -1);
  TABSIndexDef def;
  def.SetName(name);
  def.IsTemporaryIndex = 255;
  def.CreatorSessionId = sessionId;
  def.ChangeStamp = table_.IndexRecordManager().ChangeCounter();
  def.SetColumnsFromLists(names, directions, cases);
  return AddIndex(sessionId, cursor, def);
}

std::int32_t TABSBaseIndexManager::FindOrCreateIndex(std::int32_t sessionId,
                                                     TABSCursorState* cursor,
                                                     const std::vector<std::string>& names,
                                                     const std::vector<std::string>& directions,
                                                     const std::vector<std::string>& cases,
                                                     bool& created) {
  created = false;
  const std::int32_t found = FindMatchingIndex(sessionId, names, directions, cases);
  if (found != -1) return found;
  const std::int32_t id = CreateTemporaryIndex(sessionId, cursor, names, directions, cases);
  created = true;
  return id;
}

void TABSBaseIndexManager::RefreshTemporaryIndexes(std::int32_t sessionId, TABSCursorState* cursor,
                                                   bool& rebuilt) {
  if (refreshing_) return;
  RefreshingFlag flag(refreshing_);
  const std::int32_t counter = table_.IndexRecordManager().ChangeCounter();
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) {
    TABSIndexDef& def = *(*defs_)[i];
    if (def.IsTemporaryIndex == 0 || def.ChangeStamp == counter) continue;
    TABSIndex& index = GetIndex(def.ObjectId);
    try {
      index.RebuildIndex(sessionId, cursor);
    } catch (...) {
      // The rebuild dropped the old root: the list must not keep it. The
      // stamp stays old, so the next refresh rebuilds the index again.
      SyncDef(def, index);
      throw;
    }
    SyncDef(def, index);
    def.ChangeStamp = counter;
    rebuilt = true;
  }
}

void TABSBaseIndexManager::RenameIndexedField(std::string_view oldName, std::string_view newName) {
  const auto rename = [&](TABSIndexDef& def) {
    for (TABSIndexColumn& column : def.Columns) {
      if (EngineNamesEqual(column.Name, oldName)) column.Name = std::string(newName);
    }
  };
  for (std::int32_t i = 0; i < defs_->DefCount(); ++i) rename(*(*defs_)[i]);
  for (const auto& index : open_) {
    if (index->IndexDef() != nullptr) rename(*index->IndexDef());
  }
}

TABSPageManager& TABSBaseIndexManager::GetIndexPageManager(const TABSIndexDef& def) const {
  return def.IsTemporaryIndex != 0 ? temporaryPages_ : tablePages_;
}

TABSPageManager& TABSBaseIndexManager::GetIndexPageManager(const TABSIndex& index) const {
  const TABSIndexDef* def = index.IndexDef();
  return def != nullptr ? GetIndexPageManager(*def) : tablePages_;
}
