// A small table for B-tree tests: real field, record and memory page
// managers behind the index's table interface, and helpers that write field
// values into record images.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/ABSBTree.h"
#include "engine/index/ABSIndexTable.h"
#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSMemBlock.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/storage/ABSFieldManager.h"
#include "engine/storage/ABSMemoryPageManager.h"
#include "engine/storage/ABSRecordManager.h"

struct TTestField {
  const char* Name;
  TABSDeclaredType Type;
  std::int32_t Size = 0;
};

struct TTestColumn {
  const char* Name;
  bool Descending = false;
  bool CaseInsensitive = false;
  std::int32_t IndexedLength = 20;
};

class TFakeIndexTable : public TABSIndexTable {
 public:
  static constexpr std::int32_t kSession = 1;

  TFakeIndexTable(const std::vector<TTestField>& fields, std::uint16_t pageSize = 4096)
      : fields_(nullptr), pages_(pageSize) {
    for (const TTestField& f : fields) fields_.FieldDefs().AddFieldDef(f.Name, f.Type, f.Size);
    fields_.ComputeLayout();
    records_ = std::make_unique<TABSMemoryRecordManager>(fields_.GetRecordSize(), 64);
  }

  const TABSBaseFieldManager* IndexFieldManager() const override { return &fields_; }
  TABSBaseRecordManager& IndexRecordManager() override { return *records_; }
  TABSPageManager& IndexPageManager(const TABSIndexDef&) override { return pages_; }
  std::int32_t NextObjectId() override { return ++lastId_; }

  TABSMemoryPageManager& Pages() { return pages_; }
  TABSMemoryRecordManager& Records() { return *records_; }
  const TABSFieldDefs& Fields() const { return fields_.FieldDefs(); }
  std::int32_t RecordSize() const { return records_->RecordSize(); }

  // A zero-filled record image with every field NULL.
  std::vector<std::byte> NewImage() const {
    std::vector<std::byte> image(static_cast<std::size_t>(RecordSize()));
    for (std::int32_t i = 0; i < Fields().DefCount(); ++i) SetNullBit(image.data(), i, true);
    return image;
  }
  void SetInt(std::vector<std::byte>& image, std::int32_t field, std::int32_t v) const {
    SetNullBit(image.data(), field, false);
    StoreLE<std::int32_t>(image.data() + Fields()[field]->MemoryOffset, v);
  }
  void SetText(std::vector<std::byte>& image, std::int32_t field, const std::string& s) const {
    const TABSFieldDef& f = *Fields()[field];
    SetNullBit(image.data(), field, false);
    std::byte* at = image.data() + f.MemoryOffset;
    std::memset(at, 0, static_cast<std::size_t>(f.ValueSize));
    std::memcpy(at, s.data(), std::min<std::size_t>(s.size(), f.ValueSize - 1));
  }
  void SetNull(std::vector<std::byte>& image, std::int32_t field) const {
    SetNullBit(image.data(), field, true);
  }

  RecordPosition Store(const std::vector<std::byte>& image) {
    RecordPosition p;
    if (!records_->StoreNewRecord(kSession, image.data(), p)) throw std::runtime_error("store");
    return p;
  }

 private:
  TABSBaseFieldManager fields_;
  TABSMemoryPageManager pages_;
  std::unique_ptr<TABSMemoryRecordManager> records_;
  std::int32_t lastId_ = 0;
};

inline std::unique_ptr<TABSIndexDef> MakeIndexDef(const std::vector<TTestColumn>& columns,
                                                  bool unique = false) {
  auto def = std::make_unique<TABSIndexDef>();
  def->SetName("IX");
  def->ObjectId = 7;
  def->Unique = unique;
  for (const TTestColumn& c : columns) {
    TABSIndexColumn column;
    column.Name = c.Name;
    column.Descending = c.Descending;
    column.CaseInsensitive = c.CaseInsensitive;
    column.IndexedLength = c.IndexedLength;
    def->Columns.push_back(column);
  }
  return def;
}

// A cursor state pointing at caller-owned buffers.
struct TTestCursor {
  TABSCursorState State;
  void Point(const std::vector<std::byte>& current, const RecordPosition& position,
             const std::vector<std::byte>* original = nullptr) {
    State.CurrentBuffer = const_cast<std::byte*>(current.data());
    State.OriginalBuffer = original != nullptr ? const_cast<std::byte*>(original->data()) : nullptr;
    State.Position = position;
  }
};
