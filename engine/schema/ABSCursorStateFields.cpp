// Reading and writing single field values of a cursor state's record
// buffers as engine values.
#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/schema/ABSCursorState.h"
#include "engine/schema/ABSNullBits.h"
#include "engine/types/ABSTextTerminator.h"
#include "engine/types/ABSVariant.h"

namespace {

// Bytes of a field value to load: a text up to and including its terminator
// (the whole field when it has none), any other type its value size. A text
// loaded with the bytes after its terminator would count as longer than it
// is, and writing it into a narrower text field would be refused although
// the text fits.
std::int32_t TextValueSize(const TABSFieldDef& field, const std::byte* bytes) {
  if (!IsStringStorageType(field.StorageType)) return field.ValueSize;
  return static_cast<std::int32_t>(TextExtent(bytes, static_cast<std::size_t>(field.ValueSize),
                                              IsWideStringStorageType(field.StorageType)));
}

}  // namespace

void TABSCursorState::ReadFieldValue(TABSVariant& value, std::int32_t fieldNo,
                                     bool physical) const {
  std::int32_t physicalNo = 0;
  FieldEntry(fieldNo, physical, physical ? 20191 : 10317, physicalNo);
  if (CurrentBuffer == nullptr)
    throw EABSException(native_code::kCursorReadNoBuffer, "Nil pointer occured");
  // The bytes are addressed through the physical definition, which
  // describes the buffer's layout, so a logical entry can never point
  // outside the data area.
  const TABSFieldDef& field = *(*PhysicalFieldDefs)[physicalNo];
  if (IsNullBitSet(CurrentBuffer, physicalNo)) {
    value.SetNull();
    return;
  }
  const std::byte* bytes = CurrentBuffer + field.MemoryOffset;
  value.SetBuffer(bytes, TextValueSize(field, bytes), true, field.StorageType);
}

void TABSCursorState::WriteFieldValue(std::byte* buffer, const TABSVariant& value,
                                      std::int32_t fieldNo, bool physical) const {
  std::int32_t physicalNo = 0;
  FieldEntry(fieldNo, physical, physical ? 20192 : 20193, physicalNo);
  std::byte* record = buffer != nullptr ? buffer : CurrentBuffer;
  if (record == nullptr) throw EABSException(native_code::kCursorWriteNil, "Nil pointer occured");
  const TABSFieldDef& field = *(*PhysicalFieldDefs)[physicalNo];
  if (value.IsNull()) {
    SetNullBit(record, physicalNo, true);
    return;
  }
  // The caller's value keeps its type; a converted copy is written instead.
  const TABSVariant* source = &value;
  TABSVariant converted;
  if (value.DataType() != field.StorageType) {
    converted.Assign(value, true);
    converted.CastTo(field.StorageType);
    source = &converted;
  }
  // The null bit changes only after the value is in place, so a value that
  // does not convert or does not fit leaves the field as it was. A value
  // that copies nothing (an empty text) is stored as NULL instead of
  // leaving the previous bytes behind a cleared null bit.
  const bool stored = source->CopyTo(record + field.MemoryOffset, field.ValueSize);
  SetNullBit(record, physicalNo, !stored);
}
