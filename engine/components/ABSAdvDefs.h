// The table component's own definition lists: TABSAdvFieldDefs and
// TABSAdvIndexDefs. They sit between the framework's FieldDefs/IndexDefs and
// the engine's TABSFieldDefs/TABSIndexDefs: CreateTable validates them and
// builds the engine definitions from them, and reading the definitions of a
// table fills them again (the conversions are in ABSSchemaConversion.h).
//
// Ownership: each list owns its items (deleting or clearing frees them); an
// item owns its three values (default, minimum, maximum), which are never
// nil and NULL when unset. Copies are deep.
// Threads: none; a list belongs to one component.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/types/ABSTypes.h"
#include "engine/types/ABSVariant.h"
#include "platform/data/FieldDefs.h"

// The names of a field list "a;b;c" (blanks around names dropped, empty
// names skipped).
std::vector<std::string> SplitFieldList(const std::string& list);

class TABSAdvFieldDef {
 public:
  // The block size of a BLOB field when none is given.
  static constexpr std::int32_t kDefaultBlobBlockSize = 102400;
  // Defaults of the eight further settings; the sequence settings among them
  // are named by TABSAdvSetting (ABSSchemaConversion.h), the upper bound's
  // 2147483647 standing for "no bound of its own".
  static constexpr std::array<std::int32_t, 8> kDefaultSettings = {1, 0, 0,  0,
                                                                   0, 0, -1, 2147483647};

  TABSAdvFieldDef();
  TABSAdvFieldDef(const TABSAdvFieldDef&) = delete;
  TABSAdvFieldDef& operator=(const TABSAdvFieldDef&) = delete;

  std::string Name;
  std::int32_t FieldNo = -1;
  TABSDeclaredType DataType = dtNone;
  bool Required = false;
  std::int32_t Size = 0;
  std::unique_ptr<TABSVariant> DefaultValue;
  std::unique_ptr<TABSVariant> MinValue;
  std::unique_ptr<TABSVariant> MaxValue;
  std::array<std::int32_t, 8> Settings = kDefaultSettings;
  bool Flag = false;
  std::uint8_t BlobCompressionAlgorithm = 0;
  std::uint8_t BlobCompressionMode = 0;  // 1 to 9 when an algorithm is set
  std::int32_t BlobBlockSize = kDefaultBlobBlockSize;

  // Deep copy of every setting of `source`.
  void CopyFrom(const TABSAdvFieldDef& source);
};

class TABSAdvFieldDefs {
 public:
  TABSAdvFieldDefs() = default;
  TABSAdvFieldDefs(const TABSAdvFieldDefs&) = delete;
  TABSAdvFieldDefs& operator=(const TABSAdvFieldDefs&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  // REQUIRES: 0 <= index < Count().
  TABSAdvFieldDef& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
  // A new entry with every default and `name`, appended.
  TABSAdvFieldDef& Add(std::string_view name, TABSDeclaredType type = dtNone, std::int32_t size = 0,
                       bool required = false);
  // The first entry of that name ignoring case, or nil.
  TABSAdvFieldDef* Find(std::string_view name) const;
  // Deletes the entry of that name; 30349 "Field '%s' not found" without one.
  void Delete(std::string_view name);
  void Clear() { items_.clear(); }
  // Replaces the contents by deep copies of `source` (nothing changes when a
  // copy fails).
  void CopyFrom(const TABSAdvFieldDefs& source);

 private:
  std::vector<std::unique_ptr<TABSAdvFieldDef>> items_;
};

class TABSAdvIndexDef {
 public:
  std::string Name;
  std::string Fields;         // field names separated by ';'
  std::string DescFields;     // the descending ones
  std::string CaseInsFields;  // the case-insensitive ones
  platform::TIndexOptions Options = 0;
};

class TABSAdvIndexDefs {
 public:
  TABSAdvIndexDefs() = default;
  TABSAdvIndexDefs(const TABSAdvIndexDefs&) = delete;
  TABSAdvIndexDefs& operator=(const TABSAdvIndexDefs&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  TABSAdvIndexDef& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
  TABSAdvIndexDef& Add(std::string_view name);
  TABSAdvIndexDef* Find(std::string_view name) const;
  // Deletes the entry of that name; 30454 "Index '%s' not found" without one.
  void Delete(std::string_view name);
  void Clear() { items_.clear(); }
  void CopyFrom(const TABSAdvIndexDefs& source);

 private:
  std::vector<std::unique_ptr<TABSAdvIndexDef>> items_;
};
