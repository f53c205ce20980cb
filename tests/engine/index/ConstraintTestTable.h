// Test support: a table for the constraint manager built on a real memory
// record manager. Fields Id (integer, object ID 101), Code (integer, 102)
// and Name (string of 20, 103); indexes "PK_Id" (primary on Id, 201) and
// "U_Code" (unique on Code, 202). Uniqueness is answered by walking the
// stored records and comparing the whole key values of the index columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/index/ABSConstraintTable.h"
#include "engine/schema/ABSMetaDefs.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSRecordManager.h"

class TestConstraintTable : public TABSConstraintTable {
 public:
  explicit TestConstraintTable(std::string name = "Tilgungsplan") : name_(std::move(name)) {
    fields_.AddFieldDef("Id", dtInteger)->ObjectId = 101;
    fields_.AddFieldDef("Code", dtInteger)->ObjectId = 102;
    fields_.AddFieldDef("Name", dtString, 20)->ObjectId = 103;
    fields_.CalculateOffsets();
    AddIndex("PK_Id", 201, true, true, {"Id"});
    AddIndex("U_Code", 202, false, true, {"Code"});
    records_ = std::make_unique<TABSMemoryRecordManager>(fields_.MemoryRecordSize(), 8);
  }

  TABSIndexDef* AddIndex(const std::string& name, std::int32_t id, bool primary, bool unique,
                         const std::vector<std::string>& columns) {
    TABSIndexDef* def = indexes_.AddIndexDef(name);
    def->ObjectId = id;
    def->Primary = primary;
    def->Unique = unique;
    for (const std::string& c : columns) def->Columns.push_back({c});
    return def;
  }

  // A record image with the given values; nullopt / nil is NULL.
  std::vector<std::byte> Image(std::optional<std::int32_t> id, std::optional<std::int32_t> code,
                               const char* name = nullptr) const {
    std::vector<std::byte> image(static_cast<std::size_t>(fields_.MemoryRecordSize()));
    for (std::int32_t i = 0; i < fields_.DefCount(); ++i) SetNullBit(image.data(), i, true);
    // Fields are found by object ID, so moved and renamed fields still fill.
    auto put = [&](std::int32_t objectId, const void* value) {
      const std::int32_t no = fields_.IndexOfObjectId(objectId);
      if (no >= 0 && value != nullptr) FieldDataToRecord(no, fields_, value, image.data());
    };
    put(101, id ? &*id : nullptr);
    put(102, code ? &*code : nullptr);
    // The field takes its whole value size from the source: pad the text.
    char text[64] = {};
    if (name != nullptr) std::strncpy(text, name, sizeof(text) - 1);
    put(103, name != nullptr ? text : nullptr);
    return image;
  }

  RecordPosition Store(const std::vector<std::byte>& image) {
    RecordPosition p;
    records_->StoreNewRecord(0, image.data(), p);
    return p;
  }

  TABSFieldDefs& Fields() { return fields_; }
  TABSIndexDefs& Indexes() { return indexes_; }
  int UniqueCalls = 0;
  // The new image the last update test was given.
  const std::byte* LastUpdateNewImage = nullptr;

  const std::string& ConstraintTableName() const override { return name_; }
  std::int32_t ConstraintTableId() const override { return 77; }
  const TABSFieldDefs& ConstraintFieldDefs() const override { return fields_; }
  const TABSIndexDefs& ConstraintIndexDefs() const override { return indexes_; }
  std::int64_t ConstraintRecordCount() const override { return records_->RecordCount(); }
  std::int32_t NextObjectId() override { return nextId_++; }
  bool IsKeyUnique(std::int32_t indexId, std::int32_t, const std::byte* image) override {
    ++UniqueCalls;
    return CountKey(indexId, image) == 0;
  }
  bool IsUpdateUnique(std::int32_t indexId, std::int32_t, const std::byte* newImage,
                      const std::byte* originalImage) override {
    ++UniqueCalls;
    LastUpdateNewImage = newImage;
    // The record's own entry has the original key; it does not count.
    const int own = SameKey(indexId, newImage, originalImage) ? 1 : 0;
    return CountKey(indexId, newImage) - own == 0;
  }

 private:
  bool SameKey(std::int32_t indexId, const std::byte* a, const std::byte* b) const {
    const TABSIndexDef* def = indexes_.FindByObjectId(indexId);
    for (const TABSIndexColumn& column : def->Columns) {
      const std::int32_t no = fields_.IndexOfName(column.Name);
      const TABSFieldDef& f = *fields_[no];
      if (IsNullBitSet(a, no) != IsNullBitSet(b, no)) return false;
      if (IsNullBitSet(a, no)) continue;
      if (std::memcmp(a + f.MemoryOffset, b + f.MemoryOffset, f.ValueSize) != 0) return false;
    }
    return true;
  }
  int CountKey(std::int32_t indexId, const std::byte* image) {
    std::vector<std::byte> buffer(image, image + fields_.MemoryRecordSize());
    std::vector<std::byte> record(buffer.size());
    NavigationRequest request;
    request.BeforeFirst = true;
    request.Direction = FetchMode::Next;
    request.RecordBuffer = record.data();
    int count = 0;
    for (;;) {
      records_->NavigateRecord(0, request);
      if (request.Result != FetchResult::Found) break;
      if (SameKey(indexId, record.data(), buffer.data())) ++count;
    }
    return count;
  }

  std::string name_;
  TABSFieldDefs fields_;
  TABSIndexDefs indexes_;
  std::unique_ptr<TABSMemoryRecordManager> records_;
  std::int32_t nextId_ = 500;
};
