#include "engine/types/ABSTypes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "tests/engine/RaisedError.h"

namespace {

using platform::TFieldType;

constexpr int kLastDeclared = 36;

TABSDeclaredType DT(int v) {
  return static_cast<TABSDeclaredType>(v);
}
TABSStorageType ST(int v) {
  return static_cast<TABSStorageType>(v);
}
TFieldType FT(int v) {
  return static_cast<TFieldType>(v);
}

TEST(TypeTable, PlanTableTypesMapThroughAllThreeVocabularies) {
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftInteger), dtInteger);
  EXPECT_EQ(DeclaredToStorageType(dtInteger), stInteger);
  EXPECT_EQ(StorageValueSize(stInteger, 0), 4);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftCurrency), dtCurrency);
  EXPECT_EQ(DeclaredToStorageType(dtCurrency), stCurrency);
  EXPECT_EQ(StorageValueSize(stCurrency, 0), 8);
  EXPECT_EQ(DeclaredToFieldType(dtCurrency), platform::ftCurrency);
}

TEST(TypeTable, FirstMatchingRowDecidesAmbiguousLookups) {
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftBCD), dtDouble);
  EXPECT_EQ(DeclaredToFieldType(dtDouble), platform::ftFloat);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftWideString), dtWideChar);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftSmallint), dtSmallint);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftWord), dtWord);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftAutoInc), dtAutoInc);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftLargeint), dtLargeint);
  EXPECT_EQ(FieldTypeToDeclaredType(platform::ftFloat), dtDouble);
  EXPECT_EQ(StorageToDeclaredType(stChar), dtChar);          // not dtGuid
  EXPECT_EQ(StorageToDeclaredType(stInteger), dtInteger);    // not dtAutoInc
  EXPECT_EQ(StorageToDeclaredType(stBlob), dtBlob);          // not dtGraphic
  EXPECT_EQ(StorageToDeclaredType(stDateTime), dtDateTime);  // not dtTimeStamp
  EXPECT_EQ(DeclaredTypeName(dtDouble), "FLOAT");
  EXPECT_EQ(DeclaredTypeName(dtLogical), "LOGICAL");
  EXPECT_EQ(DeclaredTypeName(dtGuid), "GUID");
  EXPECT_EQ(StorageTypeName(stDouble), "FLOAT");
  EXPECT_EQ(StorageTypeName(stChar), "CHAR");
  EXPECT_EQ(StorageTypeName(stBlob), "BLOB");
}

TEST(TypeTable, EveryDeclaredTypeHasARowAndAStorageType) {
  for (int d = 1; d <= kLastDeclared; ++d) {
    SCOPED_TRACE(d);
    const TABSStorageType s = DeclaredToStorageType(DT(d));
    EXPECT_GE(s, stChar);
    EXPECT_LE(s, stLastStorageType);
    EXPECT_NE(DeclaredTypeName(DT(d)), "Unknown");
    EXPECT_NE(DeclaredToFieldType(DT(d)), platform::ftUnknown);
    // The declared type that represents a storage type stores it the same way.
    EXPECT_EQ(DeclaredToStorageType(StorageToDeclaredType(s)), s);
  }
  for (int s = 1; s <= stLastStorageType; ++s) {
    SCOPED_TRACE(s);
    EXPECT_EQ(DeclaredToStorageType(StorageToDeclaredType(ST(s))), ST(s));
    EXPECT_NE(StorageTypeName(ST(s)), "Unknown");
  }
}

TEST(TypeTable, DeclaredTypesRoundTripThroughTheFrameworkExceptTheDocumentedOnes) {
  const std::set<int> changed = {dtShortint,        dtByte,
                                 dtCardinal,        dtAutoIncShortint,
                                 dtAutoIncSmallint, dtAutoIncInteger,
                                 dtAutoIncLargeint, dtAutoIncByte,
                                 dtAutoIncWord,     dtAutoIncCardinal,
                                 dtSingle,          dtExtended,
                                 dtWideString};
  std::set<int> actual;
  for (int d = 1; d <= kLastDeclared; ++d) {
    if (FieldTypeToDeclaredType(DeclaredToFieldType(DT(d))) != DT(d)) actual.insert(d);
  }
  EXPECT_EQ(actual, changed);
  EXPECT_EQ(DeclaredToFieldType(dtShortint), platform::ftSmallint);
  EXPECT_EQ(DeclaredToFieldType(dtByte), platform::ftWord);
  EXPECT_EQ(DeclaredToFieldType(dtCardinal), platform::ftLargeint);
  EXPECT_EQ(DeclaredToFieldType(dtAutoIncLargeint), platform::ftLargeint);
  EXPECT_EQ(DeclaredToFieldType(dtAutoIncWord), platform::ftAutoInc);
  EXPECT_EQ(DeclaredToFieldType(dtExtended), platform::ftFloat);
}

TEST(TypeTable, FrameworkTypesAcceptedAndRefused) {
  using namespace platform;
  // Accepted types that do not come back as themselves.
  const std::set<int> folded = {ftBCD,         ftParadoxOle, ftDBaseOle,
                                ftTypedBinary, ftOraBlob,    ftOraClob};
  const std::set<int> accepted = {
      ftString,     ftSmallint, ftInteger,     ftWord,      ftBoolean,  ftFloat,
      ftCurrency,   ftBCD,      ftDate,        ftTime,      ftDateTime, ftBytes,
      ftVarBytes,   ftAutoInc,  ftBlob,        ftMemo,      ftGraphic,  ftFmtMemo,
      ftParadoxOle, ftDBaseOle, ftTypedBinary, ftOraBlob,   ftOraClob,  ftFixedChar,
      ftWideString, ftLargeint, ftGuid,        ftTimeStamp, ftWideMemo};
  for (int f = 0; f <= 255; ++f) {
    SCOPED_TRACE(f);
    if (accepted.count(f)) {
      const TABSDeclaredType d = FieldTypeToDeclaredType(FT(f));
      if (folded.count(f)) {
        EXPECT_NE(DeclaredToFieldType(d), FT(f));
        EXPECT_EQ(DeclaredToStorageType(d), f == ftBCD ? stDouble : stBlob);
      } else {
        EXPECT_EQ(DeclaredToFieldType(d), FT(f));
      }
    } else {
      const EABSException e = RaisedBy([&] { FieldTypeToDeclaredType(FT(f)); });
      EXPECT_EQ(e.NativeError(), 30289);
      EXPECT_EQ(e.Message(), "Unknown DataType: '" + std::to_string(f) + "' - Native error: 30289");
    }
  }
  EXPECT_EQ(RaisedBy([] { FieldTypeToDeclaredType(ftCursor); }).Message(),
            "Unknown DataType: '22' - Native error: 30289");
}

TEST(TypeTable, UnknownTypeValuesGiveTheNeutralResults) {
  for (int v : {0, 37, 99, 255}) {
    EXPECT_EQ(DeclaredToStorageType(DT(v)), stNone);
    EXPECT_EQ(DeclaredToFieldType(DT(v)), platform::ftUnknown);
    EXPECT_EQ(DeclaredTypeName(DT(v)), "Unknown");
  }
  for (int v : {0, 25, 200, 255}) {
    EXPECT_EQ(StorageToDeclaredType(ST(v)), dtNone);
    EXPECT_EQ(StorageTypeName(ST(v)), "Unknown");
  }
}

TEST(StorageValueSize, FixedSizesIgnoreTheDeclaredSize) {
  const struct {
    TABSStorageType type;
    std::int32_t size;
  } fixed[] = {{stShortint, 1}, {stByte, 1},     {stSmallint, 2}, {stWord, 2},     {stLogical, 2},
               {stInteger, 4},  {stCardinal, 4}, {stSingle, 4},   {stDate, 4},     {stTime, 4},
               {stLargeint, 8}, {stDouble, 8},   {stDateTime, 8}, {stCurrency, 8}, {stExtended, 10},
               {stBlob, 10},    {stMemo, 10},    {stWideMemo, 10}};
  for (const auto& f : fixed) {
    SCOPED_TRACE(StorageTypeName(f.type));
    EXPECT_EQ(StorageValueSize(f.type, 0), f.size);
    EXPECT_EQ(StorageValueSize(f.type, 77), f.size);
    EXPECT_EQ(StorageValueSize(f.type, -5), f.size);
  }
}

TEST(StorageValueSize, TextAndByteStringsGrowWithTheDeclaredSize) {
  EXPECT_EQ(StorageValueSize(stString, 20), 21);
  EXPECT_EQ(StorageValueSize(stChar, 0), 1);
  EXPECT_EQ(StorageValueSize(stWideString, 20), 42);
  EXPECT_EQ(StorageValueSize(stWideChar, 0), 2);
  EXPECT_EQ(StorageValueSize(stBytes, 16), 17);
  EXPECT_EQ(StorageValueSize(stVarBytes, 1), 2);
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(StorageValueSize(stString, kMax - 1), kMax);
  EXPECT_EQ(StorageValueSize(stWideString, kMax / 2 - 1), kMax - 1);
}

TEST(StorageValueSize, RefusesUnknownTypesAndSizesThatDoNotFit) {
  for (int t : {0, 25, 255}) {
    const EABSException e = RaisedBy([&] { StorageValueSize(ST(t), 5); });
    EXPECT_EQ(e.Message(), "Unknown DataType: 'Unknown' - Native error: 30050");
  }
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(RaisedBy([&] { StorageValueSize(stString, kMax); }).Message(),
            "Declared size 2147483647 is too large for data type 'STRING' - Native error: 30490");
  EXPECT_EQ(RaisedBy([&] { StorageValueSize(stWideChar, kMax / 2); }).Message(),
            "Declared size 1073741823 is too large for data type 'WIDECHAR' - Native error: 30490");
  EXPECT_EQ(RaisedBy([&] { StorageValueSize(stBytes, -1); }).Message(),
            "Invalid declared size -1 for data type 'BYTES' - Native error: 30479");
  EXPECT_EQ(RaisedBy([&] {
              StorageValueSize(stWideString, std::numeric_limits<std::int32_t>::min());
            }).NativeError(),
            30479);
}

TEST(TypePredicates, AgreeWithTheTypeTable) {
  for (int d = 0; d <= 255; ++d) {
    SCOPED_TRACE(d);
    const TABSDeclaredType dt = DT(d);
    const TABSStorageType s = DeclaredToStorageType(dt);
    const bool known = s != stNone;
    EXPECT_EQ(IsBlobDeclaredType(dt), known && IsBlobStorageType(s));
    EXPECT_EQ(IsStringDeclaredType(dt), known && IsStringStorageType(s));
    EXPECT_EQ(IsWideDeclaredType(dt), known && IsWideStringStorageType(s));
    EXPECT_EQ(IsBytesDeclaredType(dt), s == stBytes || s == stVarBytes);
    EXPECT_EQ(IsAutoIncDeclaredType(dt), DeclaredTypeName(dt).rfind("AUTOINC", 0) == 0);
    // Sized types are those whose value size follows the declared size; a
    // GUID is fixed-width text.
    const bool grows =
        known && !IsBlobStorageType(s) && StorageValueSize(s, 1) != StorageValueSize(s, 0);
    EXPECT_EQ(IsSizedDeclaredType(dt), grows && dt != dtGuid);
  }
  EXPECT_TRUE(IsStringDeclaredType(dtGuid));
  EXPECT_FALSE(IsSizedDeclaredType(dtGuid));
}

TEST(TypePredicates, NumericAndDateTimeStorageTypes) {
  std::set<int> numeric, dates;
  for (int s = 0; s <= 255; ++s) {
    if (IsNumericStorageType(ST(s))) numeric.insert(s);
    if (IsDateTimeStorageType(ST(s))) dates.insert(s);
  }
  // Logical values are not numbers; currency is.
  EXPECT_EQ(numeric, (std::set<int>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 22}));
  EXPECT_EQ(dates, (std::set<int>{stDate, stTime, stDateTime}));
}

TEST(ExtendedValue, UsesTheTenByteX87Layout) {
  unsigned char bytes[ExtendedSize + 2];
  std::memset(bytes, 0xAA, sizeof bytes);
  StoreExtended(bytes + 1, 1.0L);
  const unsigned char one[ExtendedSize] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(bytes + 1, one, ExtendedSize), 0);
  EXPECT_EQ(bytes[0], 0xAA);  // nothing written outside the ten bytes
  EXPECT_EQ(bytes[ExtendedSize + 1], 0xAA);
  StoreExtended(bytes + 1, -1234.5625L);
  EXPECT_EQ(LoadExtended(bytes + 1), -1234.5625L);
  EXPECT_EQ(bytes[ExtendedSize + 1], 0xAA);
  EXPECT_EQ(RaisedBy([] { StoreExtended(nullptr, 1.0L); }).Message(),
            "Nil pointer occured - Native error: 30493");
  EXPECT_EQ(RaisedBy([] { LoadExtended(nullptr); }).Message(),
            "Nil pointer occured - Native error: 30494");
}

}  // namespace

namespace {

// Frees an engine buffer when the test leaves, however it leaves.
struct BufferGuard {
  void* p = nullptr;
  ~BufferGuard() { EngineMemoryManager.FreeAndNillMem(p); }
};

TEST(MakeValueBuffer, CopiesTextWithItsTerminator) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  {
    BufferGuard g;
    std::int32_t size = 0;
    MakeValueBuffer(stString, "Zins\xE4", g.p, size);  // one ANSI byte beyond ASCII
    EXPECT_EQ(size, 6);
    EXPECT_EQ(EngineMemoryManager.GetMemSize(g.p), 6);
    EXPECT_EQ(std::memcmp(g.p, "Zins\xE4", 6), 0);
    EngineMemoryManager.FreeAndNillMem(g.p);

    MakeValueBuffer(stChar, "", g.p, size);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(static_cast<const char*>(g.p)[0], '\0');
    EngineMemoryManager.FreeAndNillMem(g.p);

    const char16_t wide[] = u"Tilg\u00FCng";
    for (TABSStorageType t : {stWideChar, stWideString}) {
      MakeValueBuffer(t, wide, g.p, size);
      EXPECT_EQ(size, 16);
      EXPECT_EQ(std::memcmp(g.p, wide, 16), 0);
      EngineMemoryManager.FreeAndNillMem(g.p);
    }
    // Wide text inside a packed record image need not be aligned.
    unsigned char packed[1 + sizeof wide];
    std::memcpy(packed + 1, wide, sizeof wide);
    MakeValueBuffer(stWideString, packed + 1, g.p, size);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(std::memcmp(g.p, wide, 16), 0);
    EngineMemoryManager.FreeAndNillMem(g.p);
  }
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
}

TEST(MakeValueBuffer, CopiesFixedSizeValuesByTheirStorageSize) {
  const double amount = 1234.56;
  TABSValueBuffer b = MakeValueBuffer(stCurrency, &amount);
  BufferGuard g{b.Buffer};
  ASSERT_EQ(b.Size, 8);
  double back = 0;
  std::memcpy(&back, b.Buffer, 8);
  EXPECT_EQ(back, 1234.56);  // the amount itself, not a scaled integer
  EngineMemoryManager.FreeAndNillMem(g.p);

  // Only the ten value bytes of an extended are read and copied.
  unsigned char ext[ExtendedSize];
  StoreExtended(ext, -0.125L);
  b = MakeValueBuffer(stExtended, ext);
  g.p = b.Buffer;
  ASSERT_EQ(b.Size, ExtendedSize);
  EXPECT_EQ(LoadExtended(b.Buffer), -0.125L);
  EngineMemoryManager.FreeAndNillMem(g.p);

  const std::int32_t stamp[2] = {735401, 43200000};
  b = MakeValueBuffer(stDateTime, stamp);
  g.p = b.Buffer;
  ASSERT_EQ(b.Size, 8);
  EXPECT_EQ(std::memcmp(b.Buffer, stamp, 8), 0);
}

TEST(MakeValueBuffer, RefusesBadInputWithoutTakingMemory) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  void* p = nullptr;
  std::int32_t size = -1;
  for (TABSStorageType t : {stString, stWideChar, stInteger, stBlob}) {
    const EABSException e = RaisedBy([&] { MakeValueBuffer(t, nullptr, p, size); });
    EXPECT_EQ(e.Message(), "Cannot copy data into new memory - Native error: 30054");
  }
  const std::int32_t v = 5;
  for (int t : {0, 25, 255}) {
    EXPECT_EQ(RaisedBy([&] { MakeValueBuffer(ST(t), &v, p, size); }).Message(),
              "Unknown DataType: 'Unknown' - Native error: 30050");
  }
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(size, -1);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
}

TEST(MakeValueBuffer, ReportsAFailedAllocation) {
  const std::int64_t before = EngineMemoryManager.AllocatedSize();
  EngineMemoryManager.SetMemoryLimit(before + 4);
  const double d = 2.5;
  void* p = nullptr;
  std::int32_t size = 0;
  const EABSException e = RaisedBy([&] { MakeValueBuffer(stDouble, &d, p, size); });
  EngineMemoryManager.SetMemoryLimit(0);
  EXPECT_EQ(e.NativeError(), 30004);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(EngineMemoryManager.AllocatedSize(), before);
}

}  // namespace

namespace {

// Checks the row of a number type against the C type it is read and
// written as.
template <typename C>
void ExpectMatchesCType(TABSStorageType type, TABSValueKind kind) {
  SCOPED_TRACE(StorageTypeName(type));
  const TABSStorageTypeFacts& f = StorageTypeFacts(type);
  EXPECT_EQ(f.Kind, kind);
  EXPECT_EQ(f.FixedSize, sizeof(C));
  // Signedness is a fact of numbers; logical and date values merely use an
  // integer encoding.
  if (IsNumericStorageType(type)) {
    EXPECT_EQ(f.Signed, std::numeric_limits<C>::is_signed);
  } else {
    EXPECT_FALSE(f.Signed);
  }
  EXPECT_EQ(FixedValueSize(type), static_cast<std::int32_t>(sizeof(C)));
}

TEST(StorageTypeFacts, NumbersMatchTheCTypesTheyAreReadAs) {
  ExpectMatchesCType<std::int8_t>(stShortint, TABSValueKind::Integer);
  ExpectMatchesCType<std::int16_t>(stSmallint, TABSValueKind::Integer);
  ExpectMatchesCType<std::int32_t>(stInteger, TABSValueKind::Integer);
  ExpectMatchesCType<std::int64_t>(stLargeint, TABSValueKind::Integer);
  ExpectMatchesCType<std::uint8_t>(stByte, TABSValueKind::Integer);
  ExpectMatchesCType<std::uint16_t>(stWord, TABSValueKind::Integer);
  ExpectMatchesCType<std::uint32_t>(stCardinal, TABSValueKind::Integer);
  ExpectMatchesCType<float>(stSingle, TABSValueKind::Float);
  ExpectMatchesCType<double>(stDouble, TABSValueKind::Float);
  ExpectMatchesCType<double>(stCurrency, TABSValueKind::Currency);
  ExpectMatchesCType<std::int16_t>(stLogical, TABSValueKind::Logical);
  ExpectMatchesCType<std::int32_t>(stDate, TABSValueKind::DateTime);
  EXPECT_EQ(FixedValueSize(stExtended), ExtendedSize);
}

// Every row agrees with itself: a value either has a fixed size, a record
// slot of its own (BLOB references) or grows with a declared size, and the
// size routine, the fixed-size lookup and the predicates read the same row.
TEST(StorageTypeFacts, RowsAreConsistentWithTheSizeRoutineAndPredicates) {
  for (int v = 1; v <= stLastStorageType; ++v) {
    const TABSStorageType t = ST(v);
    SCOPED_TRACE(StorageTypeName(t));
    const TABSStorageTypeFacts& f = StorageTypeFacts(t);
    ASSERT_NE(f.Kind, TABSValueKind::None);
    const bool sized = f.Kind == TABSValueKind::Text || f.Kind == TABSValueKind::Bytes;
    EXPECT_EQ(f.UnitSize != 0, sized);
    EXPECT_EQ(f.RecordSize == 0, sized);
    EXPECT_EQ(f.FixedSize == 0, sized || f.Kind == TABSValueKind::Blob);
    if (f.FixedSize != 0) {
      EXPECT_EQ(f.FixedSize, f.RecordSize);
    }
    if (sized) {
      EXPECT_EQ(StorageValueSize(t, 9), 10 * f.UnitSize);
    } else {
      EXPECT_EQ(StorageValueSize(t, 9), f.RecordSize);
    }
    EXPECT_EQ(f.Encoding != TABSTextEncoding::None,
              f.Kind == TABSValueKind::Text || t == stMemo || t == stWideMemo);
    if (f.Signed) {
      EXPECT_TRUE(IsNumericStorageType(t));
    }
    EXPECT_EQ(IsWideStringStorageType(t),
              f.Kind == TABSValueKind::Text && f.Encoding == TABSTextEncoding::Wide);
  }
  // Types outside the table read as no type.
  for (int v : {0, stLastStorageType + 1, 255}) {
    EXPECT_EQ(StorageTypeFacts(ST(v)).Kind, TABSValueKind::None) << v;
    EXPECT_EQ(FixedValueSize(ST(v)), 0) << v;
    EXPECT_FALSE(IsStringStorageType(ST(v))) << v;
  }
}

}  // namespace
