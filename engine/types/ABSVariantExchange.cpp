#include "engine/types/ABSVariant.h"

#include <string>
#include <utility>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSStream.h"
#include "engine/types/ABSVariantInternal.h"
#include "platform/locale/TextCodec.h"

using namespace variant_detail;

// --- platform variant exchange ---

void TABSVariant::SetAsVariant(const platform::PlatformVariant& v) {
  using platform::VariantKind;
  switch (v.Kind()) {
    case VariantKind::Empty:
    case VariantKind::Null:
      SetNull();
      return;
    case VariantKind::Smallint:
      SetAsSmallint(static_cast<std::int16_t>(v.AsInt64()));
      return;
    case VariantKind::Integer:
      SetAsInteger(static_cast<std::int32_t>(v.AsInt64()));
      return;
    case VariantKind::Single:
      SetAsSingle(v.AsSingle());
      return;
    case VariantKind::Double:
      SetAsDouble(v.AsDouble());
      return;
    case VariantKind::Currency:
      SetAsCurrency(v.AsDouble());
      return;
    case VariantKind::Date:
      SetAsDateTime(v.AsDate());
      return;
    case VariantKind::OleStr:
    case VariantKind::UString:
      SetAsWideString(v.AsWide());
      return;
    case VariantKind::Boolean:
      SetAsLogical(v.AsBoolean());
      return;
    case VariantKind::ShortInt:
      SetAsShortint(static_cast<std::int8_t>(v.AsInt64()));
      return;
    case VariantKind::Byte:
      SetAsByte(static_cast<std::uint8_t>(v.AsUInt64()));
      return;
    case VariantKind::Word:
      SetAsWord(static_cast<std::uint16_t>(v.AsUInt64()));
      return;
    case VariantKind::LongWord:
      SetAsCardinal(static_cast<std::uint32_t>(v.AsUInt64()));
      return;
    case VariantKind::Int64:
      SetAsLargeint(v.AsInt64());
      return;
    case VariantKind::String:
      SetAsString(v.AsAnsi());
      return;
    default:
      throw EABSException(30113, "Unsupported Variant Type %s", {std::to_string(v.KindCode())});
  }
}

platform::PlatformVariant TABSVariant::GetAsVariant() const {
  using platform::PlatformVariant;
  if (IsNull()) return PlatformVariant::Null();
  switch (dataType_) {
    case stChar:
    case stString:
      return PlatformVariant::FromAnsiString(GetAsString());
    case stBlob:
      // A BLOB value holds text with its terminator as the last byte.
      return PlatformVariant::FromAnsiString(
          std::string(static_cast<const char*>(data_), static_cast<std::size_t>(dataSize_ - 1)));
    case stWideChar:
    case stWideString:
      return PlatformVariant::FromOleStr(GetAsWideString());
    case stShortint:
      return PlatformVariant::FromShortInt(GetAsShortint());
    case stSmallint:
      return PlatformVariant::FromSmallint(GetAsSmallint());
    case stInteger:
      return PlatformVariant::FromInteger(GetAsInteger());
    case stLargeint:
      return PlatformVariant::FromInt64(GetAsLargeint());
    case stByte:
      return PlatformVariant::FromByte(GetAsByte());
    case stWord:
      return PlatformVariant::FromWord(GetAsWord());
    case stCardinal:
      return PlatformVariant::FromLongWord(GetAsCardinal());
    case stSingle:
    case stDouble:
    case stExtended:
    case stCurrency:
      return PlatformVariant::FromDouble(GetAsDouble());
    case stDate:
      return PlatformVariant::FromDate(GetAsDate());
    case stTime:
      return PlatformVariant::FromDate(GetAsTime());
    case stDateTime:
      return PlatformVariant::FromDate(GetAsDateTime());
    case stLogical:
      return PlatformVariant::FromBoolean(GetAsLogical());
    default:
      throw EABSException(30114, "Unsupported Variant Type %s", {StorageTypeName(dataType_)});
  }
}

// --- stream form ---

void TABSVariant::SaveToStream(TABSStream& stream) const {
  const std::uint8_t type = dataType_;
  // A variant without bytes is stored as null whatever its mark says.
  const std::uint8_t mark = IsNull() ? (nullMark_ != 0 ? nullMark_ : 255) : 0;
  WriteStreamBlock(stream, &type, 1, 10179);
  WriteStreamBlock(stream, &mark, 1, 10180);
  if (mark != 0) return;
  const std::uint32_t size = static_cast<std::uint32_t>(dataSize_);
  unsigned char sizeBytes[4];
  StoreLE(sizeBytes, size);
  WriteStreamBlock(stream, sizeBytes, 4, 10181);
  WriteStreamBlock(stream, data_, dataSize_, 10182);
}

void TABSVariant::LoadFromStream(TABSStream& stream) {
  Clear(stNone);
  std::uint8_t type = 0;
  std::uint8_t mark = 0;
  ReadStreamBlock(stream, &type, 1, 10183);
  ReadStreamBlock(stream, &mark, 1, 10184);
  CheckTypeValue(static_cast<TABSStorageType>(type), true);
  if (mark != 0) {
    dataType_ = static_cast<TABSStorageType>(type);
    nullMark_ = mark;
    return;
  }
  unsigned char sizeBytes[4];
  ReadStreamBlock(stream, sizeBytes, 4, 10185);
  const auto size = static_cast<std::int32_t>(LoadLE<std::uint32_t>(sizeBytes));
  // A value must fill at least its type's fixed size, or reading it would
  // run past the buffer; a value without a type cannot be held.
  if (type == stNone) RaiseUnknownType(stNone);
  if (size < 1 || size < FixedValueSize(static_cast<TABSStorageType>(type))) {
    throw EABSException(native_code::kVariantStreamBadSize, "Invalid value size in stream: %d",
                        {size});
  }
  // A size beyond the stream's end is a short read; refuse it before
  // allocating so that damaged data cannot demand a huge buffer.
  const std::int64_t position = stream.Position();
  const std::int64_t available = stream.Size() - position;
  if (available < size) {
    RaiseStreamReadError(stream, position, size,
                         static_cast<std::int32_t>(available < 0 ? 0 : available), 10186);
  }
  TABSMemBlock buffer(size);
  ReadStreamBlock(stream, buffer.get(), size, 10186);
  TakeOwned(std::move(buffer), size);
  dataType_ = static_cast<TABSStorageType>(type);
  isReference_ = false;
  nullMark_ = 0;
}
