// The conversions between the forms of a table's definitions that a table
// component holds: the framework's FieldDefs and IndexDefs, the component's
// AdvFieldDefs and AdvIndexDefs, and the engine's field, index and constraint
// definitions.
//
// Each function reads its sources and rebuilds its targets: a target list is
// cleared first, unless the function says otherwise. Names given to the engine
// are cut to its 255 characters. Plain functions: no state, no locks; the
// lists belong to the caller.
#pragma once

#include <cstdint>
#include <string>

#include "engine/components/ABSAdvDefs.h"
#include "engine/schema/ABSMetaDefs.h"
#include "platform/data/FieldDefs.h"

// The named entries of a TABSAdvFieldDef's eight further settings: the
// sequence of an auto-increment field. The entries in between are only
// carried along.
enum class TABSAdvSetting : std::size_t {
  Increment = 0,
  InitialValue = 1,
  MinValue = 2,
  MaxValue = 7,  // at its default: no upper bound of its own
};

std::int32_t AdvSetting(const TABSAdvFieldDef& entry, TABSAdvSetting which);
void SetAdvSetting(TABSAdvFieldDef& entry, TABSAdvSetting which, std::int32_t value);
bool IsDefaultAdvSetting(const TABSAdvFieldDef& entry, TABSAdvSetting which);

// --- field definitions ---

// One component entry per framework definition: name, declared type
// (FieldTypeToDeclaredType), size, required; every other setting at its
// default. The conversion refuses a framework type without a declared type;
// `target` is only replaced once every entry converted.
void AdvFieldDefsFromFieldDefs(const platform::TFieldDefs& source, TABSAdvFieldDefs& target);
// One framework definition per component entry: name, DeclaredToFieldType of
// the declared type, size, required.
void FieldDefsFromAdvFieldDefs(const TABSAdvFieldDefs& source, platform::TFieldDefs& target);
// One engine definition per framework definition: name, declared type, size.
void EngineFieldDefsFromFieldDefs(const platform::TFieldDefs& source, TABSFieldDefs& target);
// The engine field definitions of the component entries (compression, block
// size, the sequence settings, the cycle flag, the default value) and the
// constraints: with `fieldConstraints` (tables that are not temporary) a NOT
// NULL constraint per required entry and a CHECK constraint per entry with a
// minimum or maximum; then always the key constraints of the unique and
// primary `indexes`. Constraints name `tableName` as their table.
void EngineDefsFromAdvFieldDefs(const TABSAdvFieldDefs& source, const TABSIndexDefs& indexes,
                                const std::string& tableName, bool fieldConstraints,
                                TABSFieldDefs& fields, TABSConstraintDefs& constraints);
// Both `fields` and `entries` from the engine field definitions: the
// framework type is DeclaredToFieldType of the declared type; the size is
// kept only for sized declared types (a GUID has its text size); a field
// under a NOT NULL constraint of `constraints` is required unless it
// auto-increments. The entries also carry the field number (from 1), the
// default value, compression, block size and sequence settings.
void FieldDefsFromEngineFieldDefs(const TABSFieldDefs& source,
                                  const TABSConstraintDefs& constraints,
                                  platform::TFieldDefs& fields, TABSAdvFieldDefs& entries);

// --- index definitions ---

void AdvIndexDefsFromIndexDefs(const platform::TIndexDefs& source, TABSAdvIndexDefs& target);
void IndexDefsFromAdvIndexDefs(const TABSAdvIndexDefs& source, platform::TIndexDefs& target);
// One engine index per entry; a column is descending or case-insensitive
// when the entry's options say so for the whole index or its lists name it.
// A primary index is unique.
void EngineIndexDefsFromAdvIndexDefs(const TABSAdvIndexDefs& source, TABSIndexDefs& target);
// The framework's index definitions of the engine's (none for nil): the
// fields, the descending and the case-insensitive ones as ';' lists, and the
// primary and unique options.
void IndexDefsFromEngineIndexDefs(const TABSIndexDefs* source, platform::TIndexDefs& target);
