// TABSBTreeRecordIndex: one index of a table as a B+-tree of index pages in
// the table's page manager (page layout and key path in ABSBTreePage.h, key
// layout in ABSBTreeKey.h).
//
// Leaf entries map the key of a record to its record position; node entries
// map a separator key to a child page. Pages of one level are chained both
// ways. The root page keeps its number (TABSIndexDef::RootPageNo) for the
// life of the index: splitting and collapsing the root rewrite it in place.
//
// Order of entries: by key (ABSBTreeKey.h), equal stored keys by their whole
// values when the layout has prefix parts (the records are read through the
// record manager), then by record position (record ID signed, then the
// sub-position). Node searches compare separator keys only; a search that
// ties with a separator is settled against the first leaf entry below that
// child, whose reference is a real record position. Duplicates and shared
// prefixes therefore work across page boundaries.
//
// Failure atomicity: an insert fetches every page its split cascade touches
// and reserves the new pages it needs (TABSPageManager::ReservePages) before
// it changes a page; a delete fetches the siblings its merge cascade may
// touch first. A failed insert or delete leaves the tree as it was. Every
// page fetched is given back to the page manager, also on failure.
//
// "Invalid page number" codes when the index has no root: 20119 drop,
// 20120 empty, 20121 navigate and seek, 20122 find path and read path
// reference, 20123 record number and record at number, 20124 distinct and
// scans, 20125 uniqueness and range estimates, 20126 insert, 20127 delete,
// 20293 update.
//
// Ownership: the index owns its key layout and its scratch buffers (key,
// full keys, one record, one split area), allocated when the index is
// created or opened, so an operation allocates no engine memory beyond the
// pages it adds. It borrows its table. Threads: none of its own; callers
// hold the table's database lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/index/ABSBTreeKey.h"
#include "engine/index/ABSBTreePage.h"
#include "engine/index/ABSIndex.h"
#include "engine/memory/ABSMemBlock.h"

class TABSPageManager;
class TABSPage;

class TABSScanState {
 public:
  bool Started = false;
  bool Backward = false;
  bool Done = false;
  bool HasEnd = false;
  TABSKeyPath Path;
  TABSKeyPath EndPath;
};

class TABSBTreeRecordIndex final : public TABSIndex {
 public:
  TABSBTreeRecordIndex(TABSIndexTable& table, TABSBaseIndexManager* manager);
  ~TABSBTreeRecordIndex() override;

  // ---- TABSIndex slots (contracts in ABSIndex.h; specifics here) ----

  // Builds the key layout (its errors: ABSBTreeKey.h), adds an empty root
  // leaf and, with a cursor, inserts the key of every record of the table in
  // record order. The held definition gets the root page and the key size.
  void CreateIndexPages(std::int32_t sessionId, TABSCursorState* cursor,
                        const TABSIndexDef& def) override;
  // Frees every page (root included); the root page number becomes -1.
  void DropIndexPages(std::int32_t sessionId) override;
  // Frees every page below the root and makes the root an empty leaf.
  void EmptyIndex(std::int32_t sessionId) override;
  // Builds the key layout for an existing tree (the definition's root).
  void OpenIndex(const TABSIndexDef& def) override;
  void RebuildIndex(std::int32_t sessionId, TABSCursorState* cursor) override;
  // Result 0 (both end flags cleared, the record read into the request's
  // buffer, the cache refilled), 1 / 2 when the step runs off the start /
  // end (that flag set, the other cleared), 3 when the request's entry is
  // absent or the index is empty. A before-first request is answered with
  // the first entry, an after-last one with the last, whatever the
  // direction. 20053 for FetchMode::Current.
  void NavigateIndex(std::int32_t sessionId, NavigationRequest& request,
                     TABSIndexPositionCache* cache, std::int32_t stateValue) override;
  // The entry after (next) or before (prior) the request's key and record
  // position, so equal keys at later positions are not skipped; results as
  // NavigateIndex.
  void SeekKey(std::int32_t sessionId, NavigationRequest& request) override;
  TABSKeyPath* NewKeyPath() override;
  void FreeKeyPath(TABSKeyPath*& path) override;
  bool FindRecordPath(std::int32_t sessionId, const RecordPosition& position, TABSKeyPath& path,
                      const std::byte* recordBuffer) override;
  // 10384 / 10385 for a nil path, 20051 for different depths, 20052 when the
  // paths diverge in page.
  int CompareKeyPaths(const TABSKeyPath* a, const TABSKeyPath* b) override;
  std::int64_t RecordNumberOf(std::int32_t sessionId, const RecordPosition& position,
                              const std::byte* recordBuffer) override;
  // 20074 on an empty index, 20075 beyond the last entry; n below 1 leaves
  // `position` as it was.
  void RecordAtNumber(std::int32_t sessionId, std::int64_t n, RecordPosition& position) override;
  // Compares whole values (the records are read), not stored prefixes.
  void MarkDistinct(std::int32_t sessionId, TABSIndexMarks& marks, std::int32_t partCount) override;
  TABSScanState* NewScanState() override;
  void FreeScanState(TABSScanState*& state) override;
  // 20077 without a state, 20078 for a start bound on a started scan.
  bool ScanStep(std::int32_t sessionId, TABSScanState* state, bool backward,
                const TABSScanBound* start, const TABSScanBound* end,
                RecordPosition& position) override;
  int CompareRecordKeys(const std::byte* a, const std::byte* b, std::int32_t partCount) override;
  int ConditionSide(std::int32_t condition) override;
  std::int64_t EstimateRangeCount(std::int32_t sessionId, const TABSScanBound& lower,
                                  const TABSScanBound& upper, std::int64_t totalRecords) override;
  bool IsKeyUnique(std::int32_t sessionId, const std::byte* recordBuffer) override;
  // Unchanged whole values are unique; otherwise IsKeyUnique of the new
  // buffer's whole values.
  bool IsUpdateUnique(std::int32_t sessionId, const std::byte* newBuffer,
                      const std::byte* oldBuffer) override;
  // REQUIRES the record is stored (ties on prefixes read it). A failure
  // leaves the tree as it was.
  void InsertRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) override;
  // REQUIRES the record is still stored. 20027 when the entry is absent.
  void DeleteRecordKey(std::int32_t sessionId, const TABSCursorState& cursor) override;
  // Acts only when the full keys of OriginalBuffer and CurrentBuffer differ
  // byte for byte; 20250 when the old entry is absent.
  void UpdateRecordKey(std::int32_t sessionId, const TABSCursorState& cursor,
                       bool removeOld) override;
  void KeysPerPage(std::int32_t& keys, std::int32_t& remainder) override;
  RecordPosition ReadPathReference(std::int32_t sessionId, const TABSKeyPath& path) override;

  // ---- The same operations on plain buffers ----

  // Inserts the entry (key of `recordBuffer`, `position`). REQUIRES the entry
  // is not present.
  void InsertKey(std::int32_t sessionId, const std::byte* recordBuffer,
                 const RecordPosition& position);
  // Removes that entry; `notFoundCode` (20027 or 20250) when it is absent.
  void DeleteKey(std::int32_t sessionId, const std::byte* recordBuffer,
                 const RecordPosition& position, std::int32_t notFoundCode = 20027);
  // Positions `path` on the first (forward) or last (backward) entry that
  // satisfies `bound` in index order; false (path unspecified) when none.
  bool ConditionSearch(std::int32_t sessionId, const TABSScanBound& bound, bool backward,
                       TABSKeyPath& path);
  // Moves `path` one entry forward or backward along the levels; false at
  // the end (path unchanged).
  bool StepPath(std::int32_t sessionId, TABSKeyPath& path, bool backward);
  // The path to the first or last entry; false on an empty index.
  bool EdgePath(std::int32_t sessionId, TABSKeyPath& path, bool last);
  // Entries in the index (walks the leaf chain).
  std::int64_t EntryCount(std::int32_t sessionId);

  const TABSRecordKeyRef& KeyRef() const { return keyRef_; }
  std::int32_t RootPageNo() const;
  TABSPageManager& PageManager() const;

 private:
  class HeldPages;
  // What a search looks for: a stored key, optionally the whole values and
  // a record position, compared on `partLimit` leading parts.
  struct Target {
    const std::byte* Key = nullptr;
    const std::byte* FullKey = nullptr;  // nil: no whole-value settlement
    const std::int32_t* Lengths = nullptr;
    std::int32_t PartLimit = -1;
    bool HasPosition = false;
    RecordPosition Position;
  };
  enum class Child { Strict, NotStrict };

  void PrepareLayout();
  std::int32_t CheckedRoot(std::int32_t code) const;
  void InitEmptyRoot(TABSPage& page) const;
  TABSBTreePageView View(const TABSPage& page) const;

  // Target from a record buffer (fills the search key buffers).
  Target TargetOf(const std::byte* recordBuffer, const RecordPosition* position, bool wholeValues,
                  std::int32_t partLimit = -1, const std::int32_t* lengths = nullptr);
  // t against the entry (key, record position): -1, 0, 1.
  int CompareEntry(std::int32_t sessionId, const Target& t, const std::byte* key,
                   const RecordPosition& position);
  std::int32_t ChooseChild(std::int32_t sessionId, HeldPages& held, const TABSBTreePageView& v,
                           const Target& t, Child rule);
  std::int32_t LeafBound(std::int32_t sessionId, const TABSBTreePageView& v, const Target& t,
                         bool upper);
  // Descends from the root for t; the leaf entry is the first >= t (or > t
  // with `upper`), possibly one past the leaf's last entry.
  void Descend(std::int32_t sessionId, HeldPages& held, const Target& t, Child rule, bool upper,
               TABSKeyPath& path);
  // Moves a leaf position one past the end of its leaf to the next leaf;
  // false when there is none.
  bool Normalize(std::int32_t sessionId, TABSKeyPath& path);
  // Key and reference of the first leaf entry below `pageNo`.
  void FirstLeafEntry(HeldPages& held, std::int32_t pageNo, const std::byte*& key,
                      RecordPosition& position);
  bool FindExact(std::int32_t sessionId, HeldPages& held, const Target& t, TABSKeyPath& path);
  void ReadRecord(std::int32_t sessionId, const RecordPosition& position, void* buffer,
                  std::int32_t errorCode);

  // Structure changes (ABSBTree.cpp).
  void SplitInto(HeldPages& held, TABSBTreePageView& x, TABSPage& xPage, std::int32_t at,
                 const std::uint8_t* entry, std::byte* sepKey, std::int32_t& newPageNo);
  void SplitRoot(HeldPages& held, TABSPage& rootPage, std::int32_t at, const std::uint8_t* entry);
  void RemoveAt(HeldPages& held, TABSKeyPath& path, std::int32_t level, std::int32_t index,
                std::vector<std::int32_t>& freed);
  void SetSubtreeFirstKey(HeldPages& held, const TABSKeyPath& path, std::int32_t level,
                          const std::byte* key);
  const std::byte* SubtreeFirstKey(HeldPages& held, const TABSKeyPath& path, std::int32_t level);
  void CollapseRoot(HeldPages& held, std::vector<std::int32_t>& freed);
  void PrefetchForDelete(HeldPages& held, const TABSKeyPath& path);
  void CollectPages(std::int32_t sessionId, std::vector<std::int32_t>& pages);
  bool Navigate(std::int32_t sessionId, NavigationRequest& request, TABSKeyPath& path, bool found,
                TABSIndexPositionCache* nearby = nullptr);
  // ReadPathReference without its root check, for callers that checked the
  // root already (20069 for a path at no leaf entry).
  // With `nearby`, also the positions of the entries around it in its leaf
  // go there.
  RecordPosition LeafReference(std::int32_t sessionId, const TABSKeyPath& path,
                               TABSIndexPositionCache* nearby = nullptr);
  void NavigateFrom(std::int32_t sessionId, NavigationRequest& request,
                    TABSIndexPositionCache* cache, std::int32_t stateValue, bool cached,
                    TABSKeyPath& path);

  TABSRecordKeyRef keyRef_;
  std::int32_t dataSize_ = 0;
  TABSPageManager* pageManager_ = nullptr;  // the table's, fixed when the layout is built
  TABSMemBlock searchKey_;                  // KeySize
  TABSMemBlock searchFull_;                 // FullKeySize
  TABSMemBlock entryFull_;                  // FullKeySize
  TABSMemBlock otherFull_;                  // FullKeySize
  TABSMemBlock keyScratch_;                 // 3 x KeySize + 16: entries and separators in motion
  TABSMemBlock record_;                     // one record image
  TABSMemBlock splitArea_;                  // a page's entries plus one
  TABSMemBlock lengths_;                    // PartCount compare lengths
  TABSKeyPath path_;                        // the path of the running operation

  // What the last uniqueness check found for a key the tree does not hold:
  // the descent to the place where that key's entry goes, whatever its
  // record position (no entry compares equal, so every comparison on the
  // way is decided by the key alone). The insert of that key, which usually
  // follows the check, starts there instead of descending again. Valid only
  // while nothing changed the tree (every changing operation clears it) or
  // its pages (the page manager's RevertCount), for the same session and
  // root, and only for keys without prefix parts (equal key bytes, equal
  // comparisons).
  struct UniqueProbe {
    bool Valid = false;
    std::int32_t SessionId = 0;
    std::int32_t RootPageNo = -1;
    std::uint64_t RevertCount = 0;
    TABSKeyPath Path;
  };
  // The probe's path when it was made for this session and key, else nil.
  const TABSKeyPath* ProbedPath(std::int32_t sessionId, const std::byte* key) const;
  UniqueProbe probe_;
  TABSMemBlock probeKey_;  // KeySize: the probed key

  // Where the last insert put its entry when that was the end of the
  // rightmost leaf: the path to one past that entry, and the entry (key in
  // appendKey_, record position), which is therefore the last of the tree.
  // A target above it goes there too, so ascending inserts and their
  // uniqueness checks neither descend nor, for the check, read a page.
  // Valid under the probe's conditions (same session, root and RevertCount,
  // nothing changed the tree since: every changing operation clears it and
  // only a successful insert sets it). Any key layout: the comparison with
  // the last entry is the exact one.
  struct AppendHint {
    bool Valid = false;
    std::int32_t SessionId = 0;
    std::int32_t RootPageNo = -1;
    std::uint64_t RevertCount = 0;
    RecordPosition LastPosition;
    TABSKeyPath Path;
  };
  // Fills `path` from the hint and returns true when `t` lies above the
  // tree's last entry (a descent for `t` would end one past it).
  bool AppendPath(std::int32_t sessionId, const Target& t, TABSKeyPath& path);
  AppendHint append_;
  TABSMemBlock appendKey_;  // KeySize: the key of the hint's entry
};
