// Field and index definitions of a dataset: what the table has (name, type,
// size, required; index name, fields and options), independent of the field
// objects that read and write values.
//
// Ownership: each list owns its definitions (std::unique_ptr); the dataset is
// borrowed and outlives its lists.
//
// The Updated protocol: a list is up to date when it reflects the table.
// `SetUpdated(false)` marks it out of date; `Update()` brings an out-of-date
// list up to date by calling the dataset's definition hook
// (TDataSet::InitFieldDefs, TDataSet::UpdateIndexDefs) and marks it up to
// date, also when the hook leaves the list empty. When the hook fails the
// list stays out of date.
//
// Change notification: every change made from outside (Add, Clear, Delete,
// Assign, setters of a definition) calls TDataSet::DefChanged(list). Changes
// made by the dataset's own hooks inside Update() do not.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/FieldType.h"

namespace platform {

class TDataSet;
class TField;
class TFieldDefs;
class TIndexDefs;

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required);

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  // Characters for string types, otherwise 0 (or the type's own meaning).
  int Size() const { return size_; }
  bool Required() const { return required_; }
  int Precision() const { return precision_; }
  // 1-based position in the list.
  int FieldNo() const;

  void SetName(std::string name);
  void SetDataType(TFieldType type);
  void SetSize(int size);
  void SetRequired(bool required);
  void SetPrecision(int precision);

  // A field object of the kind this definition's type maps to, with the
  // definition's name, size and required flag. Raises EDatabaseError for a
  // type without a field kind (see CreateFieldForType).
  std::unique_ptr<TField> CreateField() const;

 private:
  friend class TFieldDefs;
  void Changed();

  TFieldDefs* owner_;  // borrowed
  std::string name_;
  TFieldType dataType_;
  int size_;
  bool required_;
  int precision_ = 0;
};

class TFieldDefs {
 public:
  // REQUIRES: `dataSet` outlives the list.
  explicit TFieldDefs(TDataSet* dataSet) : dataSet_(dataSet) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TFieldDef& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }

  // Appends a definition and returns it. Names are not checked here: the
  // dataset that builds a table from the list validates them (an empty or
  // repeated name gets that dataset's own error), and IndexOf finds the
  // first of repeated names.
  TFieldDef& Add(std::string name, TFieldType type, int size = 0, bool required = false);
  // REQUIRES: 0 <= index < Count().
  void Delete(int index);
  void Clear();
  // Replaces the contents with copies of `source`'s definitions.
  void Assign(const TFieldDefs& source);

  // Position of the definition with this name (ignoring case), or -1.
  int IndexOf(std::string_view name) const;
  TFieldDef* Find(std::string_view name) const;

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // See the Updated protocol above.
  void Update();

  TDataSet* DataSet() const { return dataSet_; }

 private:
  friend class TFieldDef;
  void Changed();

  TDataSet* dataSet_;  // borrowed
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
  int updating_ = 0;  // > 0 while Update() runs the dataset's hook
};

// Index options (bit set).
enum TIndexOption : std::uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
  ixNonMaintained = 32,
};
using TIndexOptions = std::uint8_t;

class TIndexDef {
 public:
  TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options);

  const std::string& Name() const { return name_; }
  // Field names separated by ';'.
  const std::string& Fields() const { return fields_; }
  // Fields sorted descending / compared ignoring case (';'-separated).
  const std::string& DescFields() const { return descFields_; }
  const std::string& CaseInsFields() const { return caseInsFields_; }
  TIndexOptions Options() const { return options_; }

  void SetName(std::string name);
  void SetFields(std::string fields);
  void SetDescFields(std::string fields);
  void SetCaseInsFields(std::string fields);
  void SetOptions(TIndexOptions options);

 private:
  friend class TIndexDefs;
  void Changed();

  TIndexDefs* owner_;  // borrowed
  std::string name_;
  std::string fields_;
  std::string descFields_;
  std::string caseInsFields_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  // REQUIRES: `dataSet` outlives the list.
  explicit TIndexDefs(TDataSet* dataSet) : dataSet_(dataSet) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TIndexDef& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }

  // Appends a definition. As with field definitions, names are validated by
  // the dataset that builds the indexes (an empty name is a primary index).
  TIndexDef& Add(std::string name, std::string fields, TIndexOptions options = 0);
  // REQUIRES: 0 <= index < Count().
  void Delete(int index);
  void Clear();
  void Assign(const TIndexDefs& source);

  // Position of the definition with this name (ignoring case), or -1.
  int IndexOf(std::string_view name) const;
  TIndexDef* Find(std::string_view name) const;
  // The first index whose field list starts with `fields` (ignoring case),
  // or nullptr.
  TIndexDef* FindIndexForFields(std::string_view fields) const;

  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }
  // See the Updated protocol above (hook: TDataSet::UpdateIndexDefs).
  void Update();

  TDataSet* DataSet() const { return dataSet_; }

 private:
  friend class TIndexDef;
  void Changed();

  TDataSet* dataSet_;  // borrowed
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
  int updating_ = 0;
};

// Case-insensitive comparison of names (ASCII letters fold; other bytes
// compare as they are, so UTF-8 names match when written alike).
bool SameName(std::string_view a, std::string_view b);

}  // namespace platform
