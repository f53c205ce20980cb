// The native error codes this engine assigned itself: raise sites for which
// no documented code exists get a code of their own here, with the reason
// the site raises. Codes that are documented for a site are written at that
// site and do not appear here.
//
// Rules (checked by tests/engine/memory/NativeCodesTest.cpp, which reads the
// source tree):
//   - every code below is used by exactly one raise site, and raise sites
//     name the constant, never the number;
//   - no two constants share a code, and none equals a documented code;
//   - no code line outside this header writes a number of the assigned bands
//     (30454..30506, 20278..20292, 10482..10498, 10440..10481) as a literal.
//
// Adding a code: take the lowest free number from a gap that neither the
// documented codes nor this header use — today 30454..30462, then
// 20278..20292, then 10482..10498, then 10440..10481 (check the test's list of documented codes
// first) — add one constant below in the group of its folder with a one-line
// reason, and use the constant at the raise site. Widening the band checked
// for stray literals belongs in the same change.
//
// Everything here is a compile-time constant; any thread may read it.
#pragma once

#include <cstdint>

namespace native_code {

// --- engine/memory: the memory manager ---
inline constexpr std::int32_t kAllocSizeOutOfRange = 30464;  // negative or beyond the 32-bit header
inline constexpr std::int32_t kMoveBytesNil = 30465;         // MoveBytes given a nil address

// --- engine/types: typed values ---
inline constexpr std::int32_t kVariantNilPointer = 30466;        // a value set from a nil buffer
inline constexpr std::int32_t kVariantBadBufferSize = 30467;     // a buffer shorter than its type
inline constexpr std::int32_t kVariantUnknownType = 30468;       // a storage type outside 0..24
inline constexpr std::int32_t kVariantStreamBadSize = 30474;     // a stored size below its type's
inline constexpr std::int32_t kVariantGetValueNotFixed = 30475;  // GetValue of a variable-size type

// --- engine/types: streams ---
inline constexpr std::int32_t kStreamBadPosition = 30470;  // a negative position or size
inline constexpr std::int32_t kStreamOpenFile = 30471;     // the file cannot be opened
inline constexpr std::int32_t kStreamSetFileSize = 30472;  // the file cannot be resized
inline constexpr std::int32_t kStreamNilBuffer = 30473;    // a read or write with a nil buffer

// --- engine/types: conversion and comparison ---
inline constexpr std::int32_t kConvertNilSource = 30476;    // ConvertValue of a nil source
inline constexpr std::int32_t kConvertShortSource = 30477;  // a source shorter than its type
inline constexpr std::int32_t kCompareShortValue = 30478;  // a compared value shorter than its type

// --- engine/types: data types and date-times ---
inline constexpr std::int32_t kNegativeDeclaredSize = 30479;  // a sized type with a size below 0
inline constexpr std::int32_t kDeclaredSizeTooLarge = 30490;  // a value size beyond 32 bits
inline constexpr std::int32_t kDateOutOfRange = 30491;        // a date-time whose day is no int32
inline constexpr std::int32_t kTimeNotFinite = 30492;         // a NaN or infinite date-time
inline constexpr std::int32_t kStoreExtendedNil = 30493;      // StoreExtended to a nil address
inline constexpr std::int32_t kLoadExtendedNil = 30494;       // LoadExtended from a nil address

// --- engine/schema: definitions and cursor state ---
inline constexpr std::int32_t kCursorStringTailsNil = 30463;  // NormalizeStringTails of no buffer
inline constexpr std::int32_t kCursorReadNoBuffer = 30480;    // ReadFieldValue without a buffer
inline constexpr std::int32_t kCursorRestoreNil = 30481;      // RestorePosition of no snapshot
inline constexpr std::int32_t kCursorWriteNil = 30483;        // WriteFieldValue into no buffer
inline constexpr std::int32_t kDefsListIndex = 30484;         // a definition index out of bounds
inline constexpr std::int32_t kDefsWrongClass = 30485;        // a definition of the wrong class
inline constexpr std::int32_t kDefsRecordTooLarge = 30486;    // field sizes beyond 32 bits
inline constexpr std::int32_t kIndexFieldNotFound = 30487;    // an index list names no field
inline constexpr std::int32_t kIndexDefNil = 30488;           // SetIndexDef given no definition
inline constexpr std::int32_t kCursorRecordTooLarge = 30489;  // a buffer layout beyond 32 bits

// --- engine/storage: the field manager ---
inline constexpr std::int32_t kCompareImagesNilFirst = 30495;   // CompareRecordImages, first nil
inline constexpr std::int32_t kCompareImagesNilSecond = 30496;  // CompareRecordImages, second nil
inline constexpr std::int32_t kBadCounterBlock = 30497;         // a short or negative counter block
inline constexpr std::int32_t kSequenceFieldNotFound = 30498;   // a sequence for no such field
inline constexpr std::int32_t kDefaultsNilImage = 30500;        // ApplyDefaults to no image
inline constexpr std::int32_t kAutoincsNilImage = 30501;        // ApplyAutoincs to no image
inline constexpr std::int32_t kFieldToRecordNilImage = 30502;   // FieldDataToRecord into no image
inline constexpr std::int32_t kNotABlobField = 30503;           // a BLOB address of another type
inline constexpr std::int32_t kGetBlobAddressNil = 30504;       // GetBlobBlockAddress of no image
inline constexpr std::int32_t kSetBlobAddressNil = 30505;       // SetBlobBlockAddress into no image

// --- engine/index: the index manager ---
inline constexpr std::int32_t kIndexDefsNoStreamForm = 20278;  // index definitions to a stream

// --- engine/index: constraints ---
inline constexpr std::int32_t kUniqueFieldNotFound = 30462;  // a unique key field that is gone

// --- engine/index: the B-tree index ---
inline constexpr std::int32_t kIndexedLengthTooSmall = 20284;  // an IndexedLength below 1
inline constexpr std::int32_t kPrefixOfNonText = 20285;        // a prefix of a fixed-size type
inline constexpr std::int32_t kIndexKeyTooLarge = 20286;       // fewer than 4 entries per page
inline constexpr std::int32_t kKeyPathTooDeep = 20287;         // a path deeper than 32 levels

// --- engine/tables and engine/local: databases and sessions ---
inline constexpr std::int32_t kNoDiskDatabases = 10482;     // a database other than MEMORY or TEMP
inline constexpr std::int32_t kEngineNotStarted = 10483;    // the database list used outside a run
inline constexpr std::int32_t kObjectIdsExhausted = 10484;  // the 32-bit object IDs are used up
inline constexpr std::int32_t kTableNameTaken = 10485;      // a second table of the same name
inline constexpr std::int32_t kNoTemporaryTables = 10486;   // TEMP while it cannot make tables
inline constexpr std::int32_t kEngineStartedTwice = 10487;  // a second start without a stop

// --- engine/components: session and database components ---
inline constexpr std::int32_t kSessionsStartedTwice = 10440;  // a second session list
inline constexpr std::int32_t kSessionsNotStarted = 10441;    // the session list used outside a run

// --- engine/temporary: temporary tables and their private files ---
inline constexpr std::int32_t kTempFileSetSize = 20292;  // a temporary file that cannot be resized
inline constexpr std::int32_t kTempStreamSpill = 20291;  // a stream's spill to file fell short
inline constexpr std::int32_t kTempPageWrite = 20290;    // a page file write fell short
inline constexpr std::int32_t kTempBlobSourceRead = 20289;  // a BLOB value's stream read short

// --- engine/tables: table data ---
inline constexpr std::int32_t kNoIndexManager = 10488;   // index work on a table without indexes
inline constexpr std::int32_t kRenameNameTaken = 10489;  // renaming onto another table's name
inline constexpr std::int32_t kBlobLengthOutOfRange = 10490;  // a BLOB too long for a block
inline constexpr std::int32_t kViewNeedsIndex = 10491;  // a range or distinct view without an index
inline constexpr std::int32_t kNoQueryEngine = 10492;   // an expression or key search to evaluate

// --- engine/local: the local cursor ---
inline constexpr std::int32_t kFilterTextUnsupported = 10442;        // a filter as expression text
inline constexpr std::int32_t kSearchExpressionUnsupported = 10443;  // a search as expression text
inline constexpr std::int32_t kCursorNoDatabase = 10493;  // a cursor whose session has no database
inline constexpr std::int32_t kBlobFieldDataWrite = 10494;    // caller bytes for a BLOB field
inline constexpr std::int32_t kCopyBlobKindMismatch = 10495;  // copying between BLOB and non-BLOB
inline constexpr std::int32_t kLocateListLengths = 10496;     // field and value lists differ
inline constexpr std::int32_t kLocateFieldNotFound = 10497;   // a search names no field
inline constexpr std::int32_t kSequenceDetached = 10498;      // a sequence value while detached

// --- engine/components: table component and dataset ---
inline constexpr std::int32_t kAdvIndexNotFound = 30454;  // deleting an index entry of no such name
inline constexpr std::int32_t kInsertWithoutCursor = 30455;  // BeginRecordInsert with no cursor

}  // namespace native_code
