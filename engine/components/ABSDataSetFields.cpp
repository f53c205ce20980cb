// TABSDataSet: field exchange between the framework's native forms and the
// record image, the calculated area, and the field definitions read from
// the open cursor.
#include <algorithm>
#include <cstring>

#include "engine/components/ABSDataSet.h"
#include "engine/components/ABSSchemaConversion.h"
#include "engine/memory/ABSCoding.h"
#include "engine/memory/ABSException.h"
#include "engine/schema/ABSDesignMode.h"
#include "engine/types/ABSDateTime.h"
#include "engine/types/ABSTypes.h"

using platform::TDataSetState;
using platform::TField;
using platform::TFieldType;
using platform::TRecordBuffer;

namespace {

bool IsDateTimeKind(TFieldType type) {
  return type == platform::ftDate || type == platform::ftTime || type == platform::ftDateTime ||
         type == platform::ftTimeStamp;
}

// The framework's native date/time value `native` in the engine's stored form.
void NativeToStored(TFieldType type, const void* native, std::uint8_t* stored) {
  switch (type) {
    case platform::ftDate:
      StoreLE(stored, DateTimeToDate(platform::NativeDateToDateTime(LoadLE<std::int32_t>(native))));
      break;
    case platform::ftTime:
      StoreLE(stored, DateTimeToTime(platform::NativeTimeToDateTime(LoadLE<std::int32_t>(native))));
      break;
    default: {
      const TABSTimeStamp stamp =
          DateTimeToStamp(platform::NativeDateTimeToDateTime(LoadLE<double>(native)));
      StoreLE(stored, stamp.Date);
      StoreLE(stored, 4, stamp.Time);
      break;
    }
  }
}

// The inverse of NativeToStored.
void StoredToNative(TFieldType type, const std::uint8_t* stored, void* native) {
  switch (type) {
    case platform::ftDate:
      StoreLE(native, platform::DateTimeToNativeDate(DateToDateTime(LoadLE<std::int32_t>(stored))));
      break;
    case platform::ftTime:
      StoreLE(native, platform::DateTimeToNativeTime(TimeToDateTime(LoadLE<std::int32_t>(stored))));
      break;
    default: {
      const double serial =
          StampToDateTime(LoadLE<std::int32_t>(stored), LoadLE<std::int32_t>(stored, 4));
      StoreLE(native, platform::DateTimeToNativeDateTime(serial));
      break;
    }
  }
}

std::size_t WideLength(const char16_t* text, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// The calculated area

bool TABSDataSet::IsWideCalcField(const TField& field) const {
  return field.IsCalculated() && field.DataType() == platform::ftWideString && field.Offset() >= 0;
}

std::u16string* TABSDataSet::WideStringOf(const std::uint8_t* slot) const {
  std::u16string* text = nullptr;
  std::memcpy(&text, slot + 1, sizeof text);
  auto it = wideStrings_.find(text);
  return it == wideStrings_.end() ? nullptr : it->second.get();
}

void TABSDataSet::ReleaseWideStrings(TRecordBuffer buffer) noexcept {
  if (buffer == nullptr || wideStrings_.empty() || cursor_ == nullptr) return;
  std::uint8_t* area = buffer + CalcOffset();
  for (int i = 0; i < Fields().Count(); ++i) {
    const TField& field = Fields()[i];
    if (!IsWideCalcField(field)) continue;
    std::uint8_t* slot = area + field.Offset();
    if (std::u16string* text = WideStringOf(slot)) wideStrings_.erase(text);
    std::memset(slot + 1, 0, sizeof(void*));
  }
}

void TABSDataSet::ZeroCalculatedArea(TRecordBuffer buffer) {
  if (buffer == nullptr) RaiseNil(10039);
  if (cursor_ == nullptr) RaiseNil(10040);
  if (CalcFieldsSize() <= 0) return;
  ReleaseWideStrings(buffer);
  std::memset(buffer + CalcOffset(), 0, static_cast<std::size_t>(CalcFieldsSize()));
}

void TABSDataSet::StoreCalcValue(TField* field, std::uint8_t* slot, const void* value) {
  if (!IsWideCalcField(*field)) {
    slot[0] = value != nullptr ? 1 : 0;
    if (value != nullptr) std::memcpy(slot + 1, value, static_cast<std::size_t>(field->DataSize()));
    return;
  }
  std::u16string* text = WideStringOf(slot);
  if (value == nullptr) {
    if (text != nullptr) wideStrings_.erase(text);
    std::memset(slot + 1, 0, sizeof(void*));
    slot[0] = 0;
    return;
  }
  // The native value may lack a terminator within the field's size: take at
  // most Size characters.
  const auto* source = static_cast<const char16_t*>(value);
  std::u16string copy(source, WideLength(source, static_cast<std::size_t>(field->Size())));
  if (text == nullptr) {
    auto owned = std::make_unique<std::u16string>(std::move(copy));
    text = owned.get();
    wideStrings_.emplace(text, std::move(owned));
  } else {
    *text = std::move(copy);
  }
  std::memcpy(slot + 1, &text, sizeof text);
  slot[0] = 1;
}

bool TABSDataSet::LoadCalcValue(TField* field, const std::uint8_t* slot, void* value) const {
  if (slot[0] == 0) return false;
  if (value == nullptr) return true;
  if (!IsWideCalcField(*field)) {
    std::memcpy(value, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  const std::u16string* text = WideStringOf(slot);
  auto* target = static_cast<char16_t*>(value);
  // Never more than the field's size in characters, then the terminator.
  const std::size_t n =
      text == nullptr ? 0 : std::min(text->size(), static_cast<std::size_t>(field->Size()));
  if (n > 0) std::memcpy(target, text->data(), n * sizeof(char16_t));
  target[n] = 0;
  return true;
}

// ---------------------------------------------------------------------------
// Field exchange

void TABSDataSet::StoreFieldData(TField* field, const void* buffer) {
  const TDataSetState state = State();
  switch (state) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsCalcFields:
    case TDataSetState::dsFilter:
    case TDataSetState::dsNewValue:
    case TDataSetState::dsInternalCalc:
      break;
    default:
      throw EABSException(10007, "Dataset not in edit or insert mode");
  }
  if (state == TDataSetState::dsSetKey &&
      (!field->IsDataField() || (!indexFieldMap_.empty() && !IsFieldInCurrentIndex(field)))) {
    throw EABSException(20019, "Field %s is not in the current index", {field->DisplayLabel()});
  }
  TRecordBuffer record = StateBuffer();
  if (cursor_ == nullptr || record == nullptr) RaiseNil(10051);
  const bool notify = state != TDataSetState::dsCalcFields && state != TDataSetState::dsFilter &&
                      state != TDataSetState::dsNewValue;
  if (field->IsCalculated()) {
    StoreCalcValue(field, record + CalcOffset() + field->Offset(), buffer);
  } else if (const TDirectSlot* slot = DirectSlot(*field); slot != nullptr) {
    field->Validate(buffer);
    // The native form is the stored form: the bytes and the null flag.
    if (buffer == nullptr) {
      record[slot->NullByte] |= slot->NullMask;
    } else {
      std::memcpy(record + slot->Offset, buffer, static_cast<std::size_t>(slot->Size));
      record[slot->NullByte] &= static_cast<std::uint8_t>(~slot->NullMask);
    }
  } else {
    field->Validate(buffer);
    if (buffer != nullptr && IsDateTimeKind(field->DataType())) {
      std::uint8_t stored[8] = {};
      NativeToStored(field->DataType(), buffer, stored);
      cursor_->WriteFieldData(field->FieldNo() - 1, stored, Raw(record));
    } else {
      cursor_->WriteFieldData(field->FieldNo() - 1, buffer, Raw(record));
    }
  }
  if (notify)
    DataEvent(platform::TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

bool TABSDataSet::LoadFieldData(TField* field, void* buffer) {
  TRecordBuffer record = StateBuffer();
  if (!Active() || record == nullptr) return false;
  if (cursor_ == nullptr) RaiseNil(10050);
  if (field->IsCalculated()) {
    // A key buffer holds the record image only, no calculated area.
    if (State() == TDataSetState::dsSetKey) return false;
    return LoadCalcValue(field, record + CalcOffset() + field->Offset(), buffer);
  }
  if (const TDirectSlot* slot = DirectSlot(*field)) {
    if ((record[slot->NullByte] & slot->NullMask) != 0) return false;
    if (buffer != nullptr) {
      std::memcpy(buffer, record + slot->Offset, static_cast<std::size_t>(slot->Size));
    }
    return true;
  }
  if (buffer == nullptr || !IsDateTimeKind(field->DataType())) {
    return cursor_->ReadFieldData(field->FieldNo() - 1, buffer, Raw(record));
  }
  std::uint8_t stored[8] = {};
  if (!cursor_->ReadFieldData(field->FieldNo() - 1, stored, Raw(record))) return false;
  StoredToNative(field->DataType(), stored, buffer);
  return true;
}

void TABSDataSet::ConvertFieldData(TFieldType type, const void* source, void* dest, bool toNative) {
  if (type != platform::ftTimeStamp) {
    platform::TDataSet::ConvertFieldData(type, source, dest, toNative);
    return;
  }
  // A time stamp's native form is that of a date-time: milliseconds.
  const double value = LoadLE<double>(source);
  StoreLE(dest, toNative ? platform::DateTimeToNativeDateTime(value)
                         : platform::NativeDateTimeToDateTime(value));
}

// ---------------------------------------------------------------------------
// Field definitions of the open cursor

void TABSDataSet::LoadFieldDefs() {
  FieldDefs().Clear();
  if (cursor_ == nullptr) return;
  cursor_->AutoCreate = DesignMode.load();
  ReadDefinitionsFrom(*cursor_);
  // LoadFieldLayout reset the buffer size; buffers allocated from now on
  // still need the calculated area.
  FitRecordBufferSize(*cursor_);
  BuildDirectSlots();
}

void TABSDataSet::ReadDefinitionsFrom(TABSCursor& cursor) {
  cursor.LoadFieldLayout();
  engineFieldDefs_.CopyListFrom(*cursor.LogicalFieldDefs);
  if (cursor.ConstraintDefs) engineConstraintDefs_.CopyListFrom(*cursor.ConstraintDefs);
  FieldDefsFromEngineFieldDefs(engineFieldDefs_, engineConstraintDefs_, FieldDefs(), advFieldDefs_);
  advFieldDefsRead_.CopyFrom(advFieldDefs_);
}

void TABSDataSet::BuildDirectSlots() {
  directSlots_.clear();
  noDefaults_ = true;
  const TABSFieldDefs& logical = *cursor_->LogicalFieldDefs;
  const TABSFieldDefs& physical = *cursor_->PhysicalFieldDefs;
  directSlots_.resize(static_cast<std::size_t>(logical.DefCount()));
  plainRecord_ = logical.DefCount() == physical.DefCount();
  for (std::int32_t i = 0; i < logical.DefCount(); ++i) {
    const std::int32_t no = logical[i]->PhysicalFieldNo;
    if (no < 0 || no >= physical.DefCount()) {
      plainRecord_ = false;
      continue;
    }
    const TABSFieldDef& def = *physical[no];
    if (def.HasDefaultValue()) noDefaults_ = false;
    // Types the cursor copies unchanged: whole values of a fixed size.
    std::int32_t size = 0;
    switch (def.DeclaredType) {
      case dtSmallint:
      case dtWord:
      case dtAutoIncSmallint:
      case dtAutoIncWord:
        size = 2;
        break;
      case dtInteger:
      case dtAutoInc:
      case dtAutoIncInteger:
        size = 4;
        break;
      case dtLargeint:
      case dtAutoIncLargeint:
      case dtDouble:
      case dtCurrency:
        size = 8;
        break;
      default:
        break;
    }
    if (size == 0 || def.ValueSize != size) {
      plainRecord_ = false;
      continue;
    }
    TDirectSlot& slot = directSlots_[static_cast<std::size_t>(i)];
    slot.Offset = def.MemoryOffset;
    slot.Size = size;
    slot.NullByte = no / 8;
    slot.NullMask = static_cast<std::uint8_t>(1u << (no % 8));
  }
}
