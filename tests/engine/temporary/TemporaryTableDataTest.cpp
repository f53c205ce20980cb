#include "engine/temporary/ABSTemporaryTableData.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/index/ABSIndex.h"
#include "engine/index/ABSIndexManager.h"
#include "engine/local/ABSEngine.h"
#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/tables/ABSDatabaseDataList.h"
#include "engine/temporary/ABSTemporaryDatabaseData.h"
#include "engine/temporary/ABSTemporaryPageManager.h"
#include "engine/temporary/ABSTemporaryStream.h"
#include "engine/types/ABSStream.h"
#include "tests/engine/FaultInjection.h"
#include "tests/engine/RaisedError.h"
#include "tests/engine/temporary/TemporaryTestSupport.h"

namespace {

int OpenDescriptorCount() {
  int n = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++n;
    ::closedir(dir);
  }
  return n;
}

// A table "ROWS" (N integer, NAME string, DATA blob) in its own TEMP
// database, with a cursor state standing for the creating cursor.
struct TTable {
  // `indexOnN`: the table has a unique index on N.
  explicit TTable(bool keep, std::int64_t recordLimit = 3, bool withBlob = true,
                  bool indexOnN = false) {
    TemporaryLimitsForTesting().RecordLimit = recordLimit;
    TemporaryLimitsForTesting().PageLimit = 0;
    fields.AddFieldDef("N", dtInteger);
    fields.AddFieldDef("NAME", dtString, 20);
    if (withBlob) fields.AddFieldDef("DATA", dtBlob);
    if (indexOnN) {
      TABSIndexDef* byN = indexes.AddIndexDef("ByN");
      byN->Unique = true;
      byN->SetColumnsFromLists({"N"}, {""}, {""});
    }
    cursor.TableName = "Rows";
    cursor.KeepTempInMemory = keep;
    table = static_cast<TABSTemporaryTableData*>(&database.CreateTableData("rows"));
    table->CreateTableFromDefs(cursor, fields, indexes, constraints);
    TemporaryLimitsForTesting() = TABSTemporaryLimits{};
    image.assign(static_cast<std::size_t>(table->GetRecordSize()), std::byte{0});
    cursor.CurrentBuffer = image.data();
  }
  const TABSFieldDef& Field(int i) const { return *table->FieldManager()->FieldDefs()[i]; }
  void SetRow(std::int32_t n) {
    std::fill(image.begin(), image.end(), std::byte{0});
    StoreLE<std::int32_t>(image.data(), static_cast<std::size_t>(Field(0).MemoryOffset), n);
    std::snprintf(reinterpret_cast<char*>(image.data()) + Field(1).MemoryOffset, 20, "row %d", n);
    if (fields.DefCount() > 2) SetNullBit(image.data(), 2, true);
  }
  std::int32_t RowN() const {
    return LoadLE<std::int32_t>(image.data(), static_cast<std::size_t>(Field(0).MemoryOffset));
  }
  void Append(std::int32_t n) {
    SetRow(n);
    ASSERT_TRUE(table->InsertCursorRecord(cursor));
  }

  TABSTemporaryDatabaseData database;
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  TABSCursorState cursor;
  TABSTemporaryTableData* table = nullptr;
  std::vector<std::byte> image;
};

// Appends rows and reads them back in both directions and by number, in
// memory and across the memory limit into the record file.
TEST(TemporaryTableDataTest, AppendsAndReadsBackInOrder) {
  TTemporarySeams seams;
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    TTable t(keep);
    EXPECT_EQ(t.table->TableName(), "Rows");
    EXPECT_EQ(t.table->KeepInMemory(), keep);
    const int n = 25;
    for (int i = 0; i < n; ++i) {
      t.Append(i * 10);
      EXPECT_EQ(t.table->PositionToRecordNumber(t.cursor), i + 1);
    }
    EXPECT_EQ(t.table->CountAllRecords(t.cursor), n);
    EXPECT_EQ(t.table->TemporaryRecords()->RecordFile() != nullptr, !keep);
    t.cursor.AtStart = true;
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Next), FetchResult::Found);
      EXPECT_EQ(t.RowN(), i * 10);
    }
    EXPECT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Next), FetchResult::Eof);
    for (int i = n - 1; i >= 0; --i) {
      ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Prior), FetchResult::Found);
      EXPECT_EQ(t.RowN(), i * 10);
    }
    EXPECT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Prior), FetchResult::Bof);
    // By number, also outside 1..count.
    const std::int64_t numbers[][2] = {{1, 1}, {4, 4}, {25, 25}, {1000, 25}, {0, 1}, {-3, 1}};
    for (const auto& [asked, got] : numbers) {
      t.table->SeekCursorRecordNumber(t.cursor, asked);
      ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Current), FetchResult::Found);
      EXPECT_EQ(t.RowN(), (got - 1) * 10) << asked;
      EXPECT_EQ(t.table->GetCursorRecordNumber(t.cursor), got);
    }
    // Positions are record numbers.
    RecordPosition p;
    t.table->OrdinalToPosition(p, 65536);
    EXPECT_EQ(t.table->PositionToOrdinal(p), 65536);
    t.cursor.Position = p;
    EXPECT_EQ(t.table->PositionToRecordNumber(t.cursor), -1) << "beyond the table";
  }
}

// Every append is a change of the table: a filtered view counted before an
// append counts the new record too.
TEST(TemporaryTableDataTest, AppendsAreChangesThatFilteredViewsSee) {
  TTemporarySeams seams;
  TTable t(true);
  std::vector<std::byte> viewBuffer(t.image.size());
  TABSCursorState viewer;
  viewer.TableName = "Rows";
  viewer.CurrentBuffer = viewBuffer.data();
  viewer.FilterCallbackOwner = &t;
  viewer.FilterCallback = [](void* owner, const std::byte* buffer) {
    const TTable& table = *static_cast<const TTable*>(owner);
    const auto at = static_cast<std::size_t>(table.Field(0).MemoryOffset);
    return LoadLE<std::int32_t>(buffer, at) % 2 == 0;
  };
  for (int i = 0; i < 10; ++i) {
    const std::int32_t before = t.table->TableChangeCounter();
    t.Append(i);
    EXPECT_EQ(t.table->TableChangeCounter(), before + 1);
    EXPECT_EQ(t.table->CountVisibleRecords(viewer), i / 2 + 1) << "after row " << i;
  }
}

TEST(TemporaryTableDataTest, ChangesAndDeletionsAreRefused) {
  TTemporarySeams seams;
  TTable t(false);
  for (int i = 0; i < 5; ++i) t.Append(i);
  t.table->SeekCursorRecordNumber(t.cursor, 4);
  t.SetRow(99);
  EXPECT_FALSE(t.table->UpdateCursorRecord(t.cursor));
  EXPECT_FALSE(t.table->DeleteCursorRecord(t.cursor));
  EXPECT_EQ(t.table->CountAllRecords(t.cursor), 5);
  for (int i = 0; i < 5; ++i) {
    t.table->SeekCursorRecordNumber(t.cursor, i + 1);
    ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Current), FetchResult::Found);
    EXPECT_EQ(t.RowN(), i);
  }
}

TEST(TemporaryTableDataTest, CreationErrors) {
  TTemporarySeams seams;
  TABSTemporaryDatabaseData database;
  auto& table = static_cast<TABSTemporaryTableData&>(database.CreateTableData("T"));
  TABSFieldDefs none;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  TABSCursorState cursor;
  EXPECT_EQ(NativeErrorOf([&] { table.CreateTableFromDefs(cursor, none, indexes, constraints); }),
            10132);
  EXPECT_EQ(NativeErrorOf([&] { table.CountAllRecords(cursor); }), 10133);
  EXPECT_EQ(NativeErrorOf([&] { table.InsertCursorRecord(cursor); }), 10134);
  EXPECT_EQ(NativeErrorOf([&] { table.RecordNumberToPosition(cursor, 1); }), 10136);
  EXPECT_EQ(NativeErrorOf([&] { table.PositionToRecordNumber(cursor); }), 10137);
  std::byte image[16] = {};
  TABSMemoryStream value;
  EXPECT_EQ(NativeErrorOf([&] { table.StoreBlobFromStream(image, 0, value, {}, true); }), 10144);
  TABSBlobHeader header;
  EXPECT_EQ(NativeErrorOf([&] { table.OpenBlobFieldStream(image, 0, header); }), 10140);
  EXPECT_EQ(NativeErrorOf([&] { table.WriteBlobField(0, image, 4, header, image); }), 10506);
  TABSFieldDefs fields;
  fields.AddFieldDef("N", dtInteger);
  table.CreateTableFromDefs(cursor, fields, indexes, constraints);
  EXPECT_EQ(NativeErrorOf([&] { table.InsertCursorRecord(cursor); }), 10135);
  EXPECT_EQ(table.BlobStream(), nullptr) << "no BLOB fields, no BLOB stream";
}

// Emptying: numbers start at 0 again, the files go, and a table with BLOB
// fields can store BLOBs at once.
TEST(TemporaryTableDataTest, EmptiedTableStartsAgainAndStoresBlobs) {
  TTemporarySeams seams;
  TTable t(false, 2);
  for (int i = 0; i < 6; ++i) t.Append(i);
  const int fd = t.table->TemporaryRecords()->RecordFile()->Descriptor();
  t.table->EmptyTableData(&t.cursor);
  EXPECT_FALSE(IsOpenDescriptor(fd));
  EXPECT_EQ(t.table->GetTableRecordCount(-2), 0);
  ASSERT_NE(t.table->BlobStream(), nullptr);
  t.SetRow(7);
  TABSMemoryStream value;
  value.Write("after", 5);
  t.table->StoreBlobFromStream(t.image.data(), 2, value, {}, true);
  ASSERT_TRUE(t.table->InsertCursorRecord(t.cursor));
  EXPECT_EQ(t.table->PositionToRecordNumber(t.cursor), 1);
  void* buffer = nullptr;
  std::int64_t length = 0;
  TABSBlobHeader header;
  t.table->ReadBlobField(2, buffer, length, header, t.image.data());
  ASSERT_EQ(length, 5);
  EXPECT_EQ(std::memcmp(buffer, "after", 5), 0);
  t.table->FreeBlobBuffer(buffer);
  EXPECT_EQ(buffer, nullptr);
}

std::vector<char> Bytes(std::int64_t n, int seed) {
  std::vector<char> bytes(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 13 + seed) % 251);
  return bytes;
}

// Values of 0, 1, 4096 and 1 MiB + 1 bytes (the last moves the BLOB stream
// into its file), NULL, and the value stored at offset 0, read back through
// every read path after the records were stored.
TEST(TemporaryTableDataTest, BlobValuesRoundTrip) {
  TTemporarySeams seams;
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    TTable t(keep);
    const std::int64_t sizes[] = {1, 0, 4096, 1048577, 7};
    for (int i = 0; i < 5; ++i) {
      t.SetRow(i);
      TABSMemoryStream value;
      const std::vector<char> bytes = Bytes(sizes[i], i);
      if (!bytes.empty()) value.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
      const TABSBlobHeader header{{static_cast<std::uint32_t>(i), 2, 3}};
      t.table->StoreBlobFromStream(t.image.data(), 2, value, header, true);
      EXPECT_EQ(IsNullBitSet(t.image.data(), 2), sizes[i] == 0);
      ASSERT_TRUE(t.table->InsertCursorRecord(t.cursor));
    }
    auto* stream = dynamic_cast<const TABSTemporaryStream*>(t.table->BlobStream());
    EXPECT_EQ(stream != nullptr && stream->InFile(), !keep);
    t.cursor.AtStart = true;
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Next), FetchResult::Found);
      const std::vector<char> bytes = Bytes(sizes[i], i);
      void* buffer = nullptr;
      std::int64_t length = -1;
      TABSBlobHeader header;
      t.table->ReadBlobField(2, buffer, length, header, t.image.data());
      ASSERT_EQ(length, sizes[i]);
      EXPECT_EQ(buffer == nullptr, sizes[i] == 0);
      if (sizes[i] > 0) {
        EXPECT_EQ(std::memcmp(buffer, bytes.data(), bytes.size()), 0);
        EXPECT_EQ(header.Values[0], static_cast<std::uint32_t>(i));
      }
      t.table->FreeBlobBuffer(buffer);
      TABSBlobHeader openHeader;
      auto value = t.table->OpenBlobFieldStream(t.image.data(), 2, openHeader);
      ASSERT_EQ(value->Size(), sizes[i]);
      if (sizes[i] > 0) {
        EXPECT_EQ(std::memcmp(value->Memory(), bytes.data(), bytes.size()), 0);
        EXPECT_EQ(openHeader, header);
      }
    }
    // WriteBlobField appends as well; length 0 is NULL.
    TABSBlobHeader header{{9, 9, 9}};
    t.table->WriteBlobField(2, "xyz", 3, header, t.image.data());
    void* buffer = nullptr;
    std::int64_t length = 0;
    t.table->ReadBlobField(2, buffer, length, header, t.image.data());
    EXPECT_EQ(length, 3);
    t.table->FreeBlobBuffer(buffer);
    t.table->WriteBlobField(2, nullptr, 0, header, t.image.data());
    EXPECT_TRUE(IsNullBitSet(t.image.data(), 2));
  }
}

// A BLOB stream (in its file) that refuses writes or reads: each failure is
// an engine error, the field keeps its old value, no half value stays in the
// stream, no buffer leaks; once the file works again everything reads back.
TEST(TemporaryTableDataTest, BlobFaultsLoseNothing) {
  TTemporarySeams seams;
  TTable t(false);
  t.SetRow(1);
  TABSMemoryStream big;
  const std::vector<char> first = Bytes(1048577, 1);
  big.Write(first.data(), static_cast<std::int32_t>(first.size()));
  t.table->StoreBlobFromStream(t.image.data(), 2, big, {}, true);
  const std::vector<std::byte> kept = t.image;
  const std::int64_t size = t.table->BlobStream()->Size();
  TABSMemoryStream second;
  const std::vector<char> bytes = Bytes(100000, 2);
  second.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  seams.Faults().WriteBytesLeft = 10;
  EXPECT_EQ(
      NativeErrorOf([&] { t.table->StoreBlobFromStream(t.image.data(), 2, second, {}, true); }),
      10145);
  EXPECT_EQ(t.image, kept);
  EXPECT_EQ(t.table->BlobStream()->Size(), size);
  seams.Faults().WriteBytesLeft = -1;
  // Not yet flushed window data were kept; the old value reads back whole.
  void* buffer = nullptr;
  std::int64_t length = 0;
  TABSBlobHeader header;
  seams.Faults().ReadBytesLeft = 1000;
  EXPECT_EQ(
      NativeErrorOf([&] { t.table->ReadBlobField(2, buffer, length, header, t.image.data()); }),
      10510);
  EXPECT_EQ(buffer, nullptr);
  seams.Faults().ReadBytesLeft = -1;
  t.table->ReadBlobField(2, buffer, length, header, t.image.data());
  ASSERT_EQ(length, static_cast<std::int64_t>(first.size()));
  EXPECT_EQ(std::memcmp(buffer, first.data(), first.size()), 0);
  t.table->FreeBlobBuffer(buffer);
  t.table->StoreBlobFromStream(t.image.data(), 2, second, {}, true);
  t.table->ReadBlobField(2, buffer, length, header, t.image.data());
  ASSERT_EQ(length, 100000);
  EXPECT_EQ(std::memcmp(buffer, bytes.data(), bytes.size()), 0);
  t.table->FreeBlobBuffer(buffer);
  // A stored count that the stream cannot hold is refused before memory is taken.
  std::vector<std::byte> forged = t.image;
  const auto offset = LoadLE<std::int64_t>(forged.data(), t.Field(2).MemoryOffset);
  StoreLE<std::int64_t>(forged.data(), t.Field(2).MemoryOffset, offset + 7);
  EXPECT_EQ(
      NativeErrorOf([&] { t.table->ReadBlobField(2, buffer, length, header, forged.data()); }),
      10510);
  EXPECT_EQ(buffer, nullptr);
}

// TEMP's tables: object IDs from 0, names unique, and the database's end
// frees every table and closes every file, leaving the directory empty.
TEST(TemporaryTableDataTest, DatabaseFreesAllTablesAndFiles) {
  TTemporarySeams seams;
  TScratchDir dir;
  TTmpDirGuard tmpdir(dir.Path());
  seams.Faults().ForceNamedFile = true;  // names exist for a moment: none may stay
  const int descriptors = OpenDescriptorCount();
  {
    auto database = MakeTemporaryDatabaseData();
    EXPECT_EQ(database->Name(), "TEMP");
    // The first object ID is 1, as in "MEMORY".
    EXPECT_EQ(database->NextObjectId(), 1);
    EXPECT_EQ(database->NextObjectId(), 2);
    TemporaryLimitsForTesting().RecordLimit = 0;
    TemporaryLimitsForTesting().PageLimit = 0;
    for (int k = 0; k < 4; ++k) {
      TABSFieldDefs fields;
      fields.AddFieldDef("N", dtInteger);
      fields.AddFieldDef("DATA", dtBlob);
      TABSIndexDefs indexes;
      TABSConstraintDefs constraints;
      TABSCursorState cursor;
      cursor.TableName = "T" + std::to_string(k);
      TABSTableData& table = database->CreateTableData(cursor.TableName);
      table.CreateTableFromDefs(cursor, fields, indexes, constraints);
      std::vector<std::byte> image(static_cast<std::size_t>(table.GetRecordSize()));
      cursor.CurrentBuffer = image.data();
      for (int i = 0; i < 3; ++i) ASSERT_TRUE(table.InsertCursorRecord(cursor));
    }
    EXPECT_EQ(NativeErrorOf([&] { database->CreateTableData("t1"); }),
              native_code::kTableNameTaken);
    EXPECT_EQ(database->TableCount(), 4u);
    EXPECT_GT(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(dir.Entries(), 0);
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(dir.Entries(), 0);
}

// Engine start-up with the factory makes "TEMP" this database.
TEST(TemporaryTableDataTest, StartUpInstallsTemp) {
  TTemporarySeams seams;
  EngineShutDown();
  {
    TABSEngineScope engine({.MakeTemporaryDatabase = MakeTemporaryDatabaseData});
    TABSDatabaseData* temp = DatabaseDataList().FindByName("TEMP");
    ASSERT_NE(temp, nullptr);
    EXPECT_NE(dynamic_cast<TABSTemporaryDatabaseData*>(temp), nullptr);
    TABSTableData& table = temp->CreateTableData("X");
    EXPECT_NE(dynamic_cast<TABSTemporaryTableData*>(&table), nullptr);
  }
  EngineStartUp({.MakeTemporaryDatabase = MakeTemporaryDatabaseData});
}

}  // namespace

namespace {

// Every allocation of building a table, appending rows past the memory
// limit and storing a BLOB fails in turn: each failure is an engine error
// or a refused append, and nothing is left behind (memory or descriptors).
TEST(TemporaryTableDataTest, AllocationFaultsLeaveNothingBehind) {
  TTemporarySeams seams;
  const int descriptors = OpenDescriptorCount();
  const int allocations = InjectAllocationFailures(
      [&] {
        TTable t(false, 2);
        for (int i = 0; i < 5; ++i) {
          t.SetRow(i);
          if (!t.table->InsertCursorRecord(t.cursor)) throw EABSException(1, "refused");
        }
        TABSMemoryStream value;
        value.Write("blob", 4);
        t.table->StoreBlobFromStream(t.image.data(), 2, value, {}, true);
        if (!t.table->InsertCursorRecord(t.cursor)) throw EABSException(1, "refused");
      },
      {.AfterFailure = [&] { EXPECT_EQ(OpenDescriptorCount(), descriptors); }});
  EXPECT_GT(allocations, 0);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

// An append whose key cannot be stored takes its record back. Every row is
// appended with the next allocation armed to fail; where that allocation
// came (growing the record array, the write block, the file, an index page),
// the table keeps the rows it had and the index has no key of the new row,
// and the row then goes in on the second try. Rows end up in memory, in the
// write block and in the record file; the index grows past one page.
TEST(TemporaryTableDataTest, AnAppendThatFailsLeavesNeitherRecordNorKey) {
  TTemporarySeams seams;
  struct Disarm {
    ~Disarm() { EngineMemoryManager.FailAllocationForTesting(0); }
  } disarm;
  for (const bool keep : {false, true}) {
    for (const std::int64_t limit : {0, 1, 3, 1000}) {
      SCOPED_TRACE(testing::Message() << "keep " << keep << " limit " << limit);
      TTable t(keep, limit, false, true);
      const auto hasKey = [&](std::int32_t n) {
        t.SetRow(n);
        TABSIndex& index = t.table->IndexManager()->GetIndex(t.table->IndexDefs()[0]->ObjectId);
        return !index.IsKeyUnique(TABSTableData::kNoSessionId, t.image.data());
      };
      const std::int32_t n = 1500;
      int failures = 0;
      for (std::int32_t row = 0; row < n; ++row) {
        t.SetRow(row);
        EngineMemoryManager.FailAllocationForTesting(1);
        bool stored = false;
        try {
          stored = t.table->InsertCursorRecord(t.cursor);
        } catch (const EABSException&) {
        }
        const bool failed = EngineMemoryManager.PendingFailureForTesting() == 0;
        EngineMemoryManager.FailAllocationForTesting(0);
        if (failed && !stored) {
          ++failures;
          ASSERT_EQ(t.table->CountAllRecords(t.cursor), row) << row;
          ASSERT_FALSE(hasKey(row)) << row;
          t.Append(row);
        } else {
          ASSERT_TRUE(stored) << row;
        }
      }
      EXPECT_GT(failures, 0);
      ASSERT_EQ(t.table->CountAllRecords(t.cursor), n);
      for (std::int32_t row = 0; row < n; ++row) {
        t.table->RecordNumberToPosition(t.cursor, row + 1);
        ASSERT_EQ(t.table->FetchCursorRecord(t.cursor, FetchMode::Current), FetchResult::Found);
        ASSERT_EQ(t.RowN(), row);
        ASSERT_TRUE(hasKey(row)) << row;
      }
    }
  }
}

}  // namespace
