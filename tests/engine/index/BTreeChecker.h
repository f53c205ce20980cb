// Structural checker of a B-tree record index, for tests and debug builds.
//
// CheckBTree walks the whole tree of `index` for `sessionId` and reports the
// first broken invariant as text (empty when the tree is sound):
//   - every page is reached exactly once and all leaves lie at one depth;
//   - only the root carries the root flag; every page of a level has that
//     level's kind and the layout's key size; no page holds more entries
//     than fit;
//   - no page but the root is empty, and a root node has at least two
//     entries (a single one would have collapsed);
//   - leaf entries are strictly ascending by key, whole values and record
//     position across the whole leaf level;
//   - every node key but the first equals the stored key of the first leaf
//     entry below its child;
//   - the previous and next links of every level chain its pages in order,
//     with -1 at both ends;
//   - no page of the page manager is in use.
// The leaf entries in index order are returned through `leafOrder` (may be
// nil) so that a test can compare them with its model, and the number of
// pages reached through `pageCount`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/schema/ABSRecordTypes.h"

class TABSBTreeRecordIndex;

std::string CheckBTree(TABSBTreeRecordIndex& index, std::int32_t sessionId,
                       std::vector<RecordPosition>* leafOrder = nullptr,
                       std::int32_t* pageCount = nullptr);
