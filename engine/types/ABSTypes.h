// The engine's data types: the declared type of a field definition, the
// storage type of a value, the table that ties both to SQL names and to the
// dataset framework's field types, the facts of each storage type (kind,
// sizes, signedness), the byte size of a stored value, type predicates, and
// the routine that copies one value into a fresh engine buffer. The date and time encodings live in
// ABSDateTime.h (included here).
//
// Everything here is a pure function of its arguments or reads constant
// data; any thread may call it without a lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/types/ABSDateTime.h"
#include "platform/data/FieldType.h"

// What a field definition declares. 0 means no type yet.
enum TABSDeclaredType : std::uint8_t {
  dtNone = 0,
  dtChar = 1,
  dtString = 2,
  dtWideChar = 3,
  dtWideString = 4,
  dtShortint = 5,
  dtSmallint = 6,
  dtInteger = 7,
  dtLargeint = 8,
  dtByte = 9,
  dtWord = 10,
  dtCardinal = 11,
  dtAutoInc = 12,
  dtAutoIncShortint = 13,
  dtAutoIncSmallint = 14,
  dtAutoIncInteger = 15,
  dtAutoIncLargeint = 16,
  dtAutoIncByte = 17,
  dtAutoIncWord = 18,
  dtAutoIncCardinal = 19,
  dtSingle = 20,
  dtDouble = 21,
  dtExtended = 22,
  dtLogical = 23,
  dtCurrency = 24,
  dtDate = 25,
  dtTime = 26,
  dtDateTime = 27,
  dtTimeStamp = 28,
  dtBytes = 29,
  dtVarBytes = 30,
  dtBlob = 31,
  dtGraphic = 32,
  dtMemo = 33,
  dtFormattedMemo = 34,
  dtWideMemo = 35,
  dtGuid = 36,
};

// Another name for the declared type, for code that speaks of a field's
// "data type".
using TABSDataType = TABSDeclaredType;

// The physical representation of one value (little-endian throughout).
// 0 means no type.
enum TABSStorageType : std::uint8_t {
  stNone = 0,
  stChar = 1,        // n + 1 bytes: ANSI characters, zero-terminated
  stWideChar = 2,    // (n + 1) * 2 bytes: UTF-16 units, zero-terminated
  stString = 3,      // as stChar
  stWideString = 4,  // as stWideChar
  stShortint = 5,    // int8
  stSmallint = 6,    // int16
  stInteger = 7,     // int32
  stLargeint = 8,    // int64
  stByte = 9,        // uint8
  stWord = 10,       // uint16
  stCardinal = 11,   // uint32
  stSingle = 12,     // IEEE 754 single
  stDouble = 13,     // IEEE 754 double
  stExtended = 14,   // x87 80-bit extended, 10 bytes
  stDate = 15,       // int32 day number
  stTime = 16,       // int32 milliseconds since midnight
  stDateTime = 17,   // int32 day number, then int32 milliseconds
  stBlob = 18,       // 10-byte BLOB reference
  stMemo = 19,       // 10-byte BLOB reference
  stWideMemo = 20,   // 10-byte BLOB reference
  stLogical = 21,    // int16: 0 false, anything else true; -1 written for true
  stCurrency = 22,   // IEEE 754 double holding the amount itself
  stBytes = 23,      // n + 1 raw bytes
  stVarBytes = 24,   // n + 1 raw bytes
};

constexpr TABSStorageType stLastStorageType = stVarBytes;

// What a value of a storage type is. Conversion, comparison, the field
// manager and key layouts branch on the kind rather than on type ranges.
enum class TABSValueKind : std::uint8_t {
  None,      // stNone: no value
  Text,      // stChar, stString, stWideChar, stWideString
  Integer,   // stShortint .. stCardinal
  Float,     // stSingle, stDouble, stExtended
  Currency,  // stCurrency: a double holding the amount itself
  DateTime,  // stDate, stTime, stDateTime
  Logical,   // stLogical
  Blob,      // stBlob, stMemo, stWideMemo: a reference in the record
  Bytes,     // stBytes, stVarBytes
};

// The character encoding of text and memo values.
enum class TABSTextEncoding : std::uint8_t { None, Ansi, Wide };

// The facts of one storage type; one row per type in kStorageTypeFacts.
struct TABSStorageTypeFacts {
  TABSValueKind Kind;
  TABSTextEncoding Encoding;  // Ansi or Wide for text and memo types, None otherwise
  bool Signed;                // a signed number (signed integers, floats, currency); a
                              // signed integer is sign-extended when widened
  std::uint8_t FixedSize;     // bytes of every value; 0 where values vary (text, bytes, BLOB)
  std::uint8_t RecordSize;    // bytes in a record of a type without a declared size, else 0
  std::uint8_t UnitSize;      // bytes per declared unit of a sized type (the value holds one
                              // more unit for the terminator or the length), else 0
};

// Indexed by storage type. The one place that says how large a value is,
// what it holds and whether it is signed.
inline constexpr std::array<TABSStorageTypeFacts, stLastStorageType + 1> kStorageTypeFacts{{
    /* stNone       */ {TABSValueKind::None, TABSTextEncoding::None, false, 0, 0, 0},
    /* stChar       */ {TABSValueKind::Text, TABSTextEncoding::Ansi, false, 0, 0, 1},
    /* stWideChar   */ {TABSValueKind::Text, TABSTextEncoding::Wide, false, 0, 0, 2},
    /* stString     */ {TABSValueKind::Text, TABSTextEncoding::Ansi, false, 0, 0, 1},
    /* stWideString */ {TABSValueKind::Text, TABSTextEncoding::Wide, false, 0, 0, 2},
    /* stShortint   */ {TABSValueKind::Integer, TABSTextEncoding::None, true, 1, 1, 0},
    /* stSmallint   */ {TABSValueKind::Integer, TABSTextEncoding::None, true, 2, 2, 0},
    /* stInteger    */ {TABSValueKind::Integer, TABSTextEncoding::None, true, 4, 4, 0},
    /* stLargeint   */ {TABSValueKind::Integer, TABSTextEncoding::None, true, 8, 8, 0},
    /* stByte       */ {TABSValueKind::Integer, TABSTextEncoding::None, false, 1, 1, 0},
    /* stWord       */ {TABSValueKind::Integer, TABSTextEncoding::None, false, 2, 2, 0},
    /* stCardinal   */ {TABSValueKind::Integer, TABSTextEncoding::None, false, 4, 4, 0},
    /* stSingle     */ {TABSValueKind::Float, TABSTextEncoding::None, true, 4, 4, 0},
    /* stDouble     */ {TABSValueKind::Float, TABSTextEncoding::None, true, 8, 8, 0},
    /* stExtended   */ {TABSValueKind::Float, TABSTextEncoding::None, true, 10, 10, 0},
    /* stDate       */ {TABSValueKind::DateTime, TABSTextEncoding::None, false, 4, 4, 0},
    /* stTime       */ {TABSValueKind::DateTime, TABSTextEncoding::None, false, 4, 4, 0},
    /* stDateTime   */ {TABSValueKind::DateTime, TABSTextEncoding::None, false, 8, 8, 0},
    /* stBlob       */ {TABSValueKind::Blob, TABSTextEncoding::None, false, 0, 10, 0},
    /* stMemo       */ {TABSValueKind::Blob, TABSTextEncoding::Ansi, false, 0, 10, 0},
    /* stWideMemo   */ {TABSValueKind::Blob, TABSTextEncoding::Wide, false, 0, 10, 0},
    /* stLogical    */ {TABSValueKind::Logical, TABSTextEncoding::None, false, 2, 2, 0},
    /* stCurrency   */ {TABSValueKind::Currency, TABSTextEncoding::None, true, 8, 8, 0},
    /* stBytes      */ {TABSValueKind::Bytes, TABSTextEncoding::None, false, 0, 0, 1},
    /* stVarBytes   */ {TABSValueKind::Bytes, TABSTextEncoding::None, false, 0, 0, 1},
}};

// The facts of `type`; the stNone row for a type outside 0..24.
constexpr const TABSStorageTypeFacts& StorageTypeFacts(TABSStorageType type) {
  return kStorageTypeFacts[type <= stLastStorageType ? type : stNone];
}

// Byte size of a value of a fixed-size type; 0 for the text, BLOB and
// byte-string types, whose values vary in size, and for types outside 1..24.
// Read on every field copy of the record path.
constexpr std::int32_t FixedValueSize(TABSStorageType type) {
  return StorageTypeFacts(type).FixedSize;
}

// One row of the type table.
struct TSQLFieldType {
  const char* Name;  // upper-case SQL name
  TABSDeclaredType DeclaredType;
  TABSStorageType StorageType;
  platform::TFieldType FieldType;
};

// The type table. Every lookup scans it from the first row and takes the
// first match, so the order of the rows decides the results.
inline constexpr std::array<TSQLFieldType, 62> SQLFieldTypes{{
    {"CHAR", dtChar, stChar, platform::ftFixedChar},
    {"FIXEDCHAR", dtChar, stChar, platform::ftFixedChar},
    {"STRING", dtString, stString, platform::ftString},
    {"VARCHAR", dtString, stString, platform::ftString},
    {"VARCHAR2", dtString, stString, platform::ftString},
    {"WIDECHAR", dtWideChar, stWideChar, platform::ftWideString},
    {"FIXEDWIDECHAR", dtWideChar, stWideChar, platform::ftWideString},
    {"WIDESTRING", dtWideString, stWideString, platform::ftWideString},
    {"WIDEVARCHAR", dtWideString, stWideString, platform::ftWideString},
    {"SMALLINT", dtSmallint, stSmallint, platform::ftSmallint},
    {"SIGNEDINT16", dtSmallint, stSmallint, platform::ftSmallint},
    {"SHORTINT", dtShortint, stShortint, platform::ftSmallint},
    {"SIGNEDINT8", dtShortint, stShortint, platform::ftSmallint},
    {"INTEGER", dtInteger, stInteger, platform::ftInteger},
    {"SIGNEDINT32", dtInteger, stInteger, platform::ftInteger},
    {"LARGEINT", dtLargeint, stLargeint, platform::ftLargeint},
    {"INT64", dtLargeint, stLargeint, platform::ftLargeint},
    {"SIGNEDINT64", dtLargeint, stLargeint, platform::ftLargeint},
    {"WORD", dtWord, stWord, platform::ftWord},
    {"UNSIGNEDINT16", dtWord, stWord, platform::ftWord},
    {"BYTE", dtByte, stByte, platform::ftWord},
    {"UNSIGNEDINT8", dtByte, stByte, platform::ftWord},
    {"CARDINAL", dtCardinal, stCardinal, platform::ftLargeint},
    {"UNSIGNEDINT32", dtCardinal, stCardinal, platform::ftLargeint},
    {"AUTOINC", dtAutoInc, stInteger, platform::ftAutoInc},
    {"AUTOINCSHORTINT", dtAutoIncShortint, stShortint, platform::ftAutoInc},
    {"AUTOINCSMALLINT", dtAutoIncSmallint, stSmallint, platform::ftAutoInc},
    {"AUTOINCINTEGER", dtAutoIncInteger, stInteger, platform::ftAutoInc},
    {"AUTOINCLARGEINT", dtAutoIncLargeint, stLargeint, platform::ftLargeint},
    {"AUTOINCBYTE", dtAutoIncByte, stByte, platform::ftAutoInc},
    {"AUTOINCWORD", dtAutoIncWord, stWord, platform::ftAutoInc},
    {"AUTOINCCARDINAL", dtAutoIncCardinal, stCardinal, platform::ftAutoInc},
    {"FLOAT", dtDouble, stDouble, platform::ftFloat},
    {"FLOAT", dtDouble, stDouble, platform::ftBCD},
    {"SINGLE", dtSingle, stSingle, platform::ftFloat},
    {"DOUBLE", dtDouble, stDouble, platform::ftFloat},
    {"EXTENDED", dtExtended, stExtended, platform::ftFloat},
    {"LOGICAL", dtLogical, stLogical, platform::ftBoolean},
    {"BOOLEAN", dtLogical, stLogical, platform::ftBoolean},
    {"BOOL", dtLogical, stLogical, platform::ftBoolean},
    {"BIT", dtLogical, stLogical, platform::ftBoolean},
    {"CURRENCY", dtCurrency, stCurrency, platform::ftCurrency},
    {"MONEY", dtCurrency, stCurrency, platform::ftCurrency},
    {"DATE", dtDate, stDate, platform::ftDate},
    {"TIME", dtTime, stTime, platform::ftTime},
    {"DATETIME", dtDateTime, stDateTime, platform::ftDateTime},
    {"TIMESTAMP", dtTimeStamp, stDateTime, platform::ftTimeStamp},
    {"BYTES", dtBytes, stBytes, platform::ftBytes},
    {"VARBYTES", dtVarBytes, stVarBytes, platform::ftVarBytes},
    {"BLOB", dtBlob, stBlob, platform::ftBlob},
    {"BLOB", dtBlob, stBlob, platform::ftParadoxOle},
    {"BLOB", dtBlob, stBlob, platform::ftTypedBinary},
    {"BLOB", dtBlob, stBlob, platform::ftDBaseOle},
    {"BLOB", dtBlob, stBlob, platform::ftOraBlob},
    {"BLOB", dtBlob, stBlob, platform::ftOraClob},
    {"GRAPHIC", dtGraphic, stBlob, platform::ftGraphic},
    {"MEMO", dtMemo, stMemo, platform::ftMemo},
    {"CLOB", dtMemo, stMemo, platform::ftMemo},
    {"FORMATTEDMEMO", dtFormattedMemo, stMemo, platform::ftFmtMemo},
    {"WIDEMEMO", dtWideMemo, stWideMemo, platform::ftWideMemo},
    {"WIDECLOB", dtWideMemo, stWideMemo, platform::ftWideMemo},
    {"GUID", dtGuid, stChar, platform::ftGuid},
}};

// --- Table lookups (first matching row) ---

// Storage type of a declared type; stNone when no row matches.
TABSStorageType DeclaredToStorageType(TABSDeclaredType declaredType);
// Declared type of the first row with this storage type; dtNone when none.
TABSDeclaredType StorageToDeclaredType(TABSStorageType storageType);
// Declared type for a framework field type. Raises EABSException 30289
// "Unknown DataType: '<ordinal>'" for a framework type with no row.
TABSDeclaredType FieldTypeToDeclaredType(platform::TFieldType fieldType);
// Framework field type of a declared type; ftUnknown when no row matches.
platform::TFieldType DeclaredToFieldType(TABSDeclaredType declaredType);
// SQL name of a declared type ("FLOAT" for dtDouble); "Unknown" when none.
std::string DeclaredTypeName(TABSDeclaredType declaredType);
// Name of a storage type ("FLOAT" for stDouble); "Unknown" when none.
std::string StorageTypeName(TABSStorageType storageType);

// --- Sizes and buffers ---

// Byte size of one value of `storageType`. `declaredSize` is the field's
// declared size (characters for text, bytes for byte strings) and counts
// only for the text and byte-string types, where it must be 0 or more.
// Raises EABSException 30050 "Unknown DataType: '<name>'" for a storage
// type outside 1 to 24, 30479 for a negative declared size and 30490 when
// the size does not fit 32 bits.
std::int32_t StorageValueSize(TABSStorageType storageType, std::int32_t declaredSize);

// A fresh engine buffer holding one value, and its size.
struct TABSValueBuffer {
  void* Buffer = nullptr;  // from EngineMemoryManager; owned by the caller
  std::int32_t Size = 0;
};

// Copies one value into a buffer taken from the engine memory manager; the
// caller frees it with EngineMemoryManager's FreeAndNillMem. For the ANSI
// text types (stChar, stString) `value` is a zero-terminated char string,
// for the wide text types (stWideChar, stWideString) zero-terminated UTF-16
// units (at any alignment); the copy keeps the terminator and the size is
// StorageValueSize(type, length). Otherwise StorageValueSize(type, 0) bytes
// are copied from `value`. Raises 30050 for an unknown storage type, 30054
// "Cannot copy data into new memory" for a nil value, and passes on the
// memory manager's error when the allocation fails.
TABSValueBuffer MakeValueBuffer(TABSStorageType storageType, const void* value);
void MakeValueBuffer(TABSStorageType storageType, const void* value, void*& buffer,
                     std::int32_t& bufferSize);

// The 10 value bytes of an stExtended (x87 80-bit extended real), read and
// written at any alignment. A nil address raises 30493 (store) or 30494
// (load) "Nil pointer occured".
constexpr int ExtendedSize = 10;
void StoreExtended(void* dest, long double value);
long double LoadExtended(const void* src);

// --- Type predicates ---

constexpr bool IsBlobStorageType(TABSStorageType t) {  // 18 to 20
  return StorageTypeFacts(t).Kind == TABSValueKind::Blob;
}
constexpr bool IsStringStorageType(TABSStorageType t) {  // 1 to 4
  return StorageTypeFacts(t).Kind == TABSValueKind::Text;
}
constexpr bool IsWideStringStorageType(TABSStorageType t) {  // 2 and 4
  return IsStringStorageType(t) && StorageTypeFacts(t).Encoding == TABSTextEncoding::Wide;
}
constexpr bool IsNumericStorageType(TABSStorageType t) {  // 5 to 14, and 22
  const TABSValueKind k = StorageTypeFacts(t).Kind;
  return k == TABSValueKind::Integer || k == TABSValueKind::Float || k == TABSValueKind::Currency;
}
constexpr bool IsDateTimeStorageType(TABSStorageType t) {  // 15 to 17
  return StorageTypeFacts(t).Kind == TABSValueKind::DateTime;
}
bool IsBlobDeclaredType(TABSDeclaredType t);     // 31 to 35
bool IsStringDeclaredType(TABSDeclaredType t);   // 1 to 4, and 36
bool IsWideDeclaredType(TABSDeclaredType t);     // 3 and 4
bool IsBytesDeclaredType(TABSDeclaredType t);    // 29 and 30
bool IsAutoIncDeclaredType(TABSDeclaredType t);  // 12 to 19
bool IsSizedDeclaredType(TABSDeclaredType t);    // text or byte strings, not dtGuid
