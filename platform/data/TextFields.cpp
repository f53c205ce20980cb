// The text and BLOB field kinds (string, wide string, BLOB, memo) and the
// factory that maps a field type to its kind.
#include <cstring>
#include <istream>
#include <iterator>

#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"
#include "platform/data/Field.h"
#include "platform/locale/Locale.h"
#include "platform/locale/TextCodec.h"

namespace platform {

// ---------------------------------------------------------------------------
// Strings

TStringField::TStringField(TFieldType type, int size) : TField(type, size < 0 ? 0 : size) {}

std::string TStringField::GetText(bool) const {
  std::string native(static_cast<std::size_t>(DataSize()), '\0');
  if (!GetData(native.data())) return std::string();
  native.resize(std::strlen(native.c_str()));
  return AnsiToUtf8(native);
}

std::int32_t TStringField::AsInteger() const {
  std::string text = AsString();
  std::int32_t v = 0;
  if (text.empty()) return 0;
  if (!Settings().TryParseInt32(text, v)) {
    throw EConvertError("'" + text + "' is not a valid integer value");
  }
  return v;
}

double TStringField::AsFloat() const {
  std::string text = AsString();
  double v = 0;
  if (text.empty()) return 0;
  if (!Settings().TryParseFloat(text, v)) {
    throw EConvertError("'" + text + "' is not a valid floating point value");
  }
  return v;
}

bool TStringField::AsBoolean() const {
  std::string text = AsString();
  return !text.empty() && (SameName(text, "True") || text == "1" || SameName(text, "T") ||
                           SameName(text, "Y") || SameName(text, "Yes"));
}

void TStringField::SetAsString(const std::string& value) {
  std::string native = Utf8ToAnsi(value);
  // Cut to the field's size; the buffer always ends with the terminator.
  if (native.size() > static_cast<std::size_t>(Size()))
    native.resize(static_cast<std::size_t>(Size()));
  native.resize(static_cast<std::size_t>(DataSize()), '\0');
  SetData(native.data());
}

void TStringField::SetAsInteger(std::int32_t value) {
  SetAsString(std::to_string(value));
}
void TStringField::SetAsFloat(double value) {
  SetAsString(Settings().FormatFloat(value));
}

std::u16string TWideStringField::Value() const {
  std::u16string native(static_cast<std::size_t>(Size()) + 1, u'\0');
  if (!GetData(native.data())) return std::u16string();
  std::size_t n = 0;
  while (n < native.size() && native[n] != u'\0') ++n;
  native.resize(n);
  return native;
}

void TWideStringField::SetValue(std::u16string_view value) {
  std::u16string native(value.substr(0, static_cast<std::size_t>(Size())));
  native.resize(static_cast<std::size_t>(Size()) + 1, u'\0');
  SetData(native.data());
}

void TWideStringField::SetAsString(const std::string& value) {
  SetValue(Utf8ToWide(value));
}

std::string TWideStringField::GetText(bool) const {
  return WideToUtf8(Value());
}

// ---------------------------------------------------------------------------
// BLOB and memo

TBlobField::TBlobField(TFieldType type) : TField(type, 0) {}

bool TBlobField::IsMemo() const {
  return DataType() == ftMemo || DataType() == ftFmtMemo || DataType() == ftOraClob ||
         DataType() == ftWideMemo;
}

std::string TBlobField::AsBytes() const {
  if (DataSet() == nullptr || !GetData(nullptr)) return std::string();
  std::unique_ptr<std::iostream> stream =
      DataSet()->CreateFieldBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  if (!stream) return std::string();
  return std::string(std::istreambuf_iterator<char>(*stream), std::istreambuf_iterator<char>());
}

void TBlobField::SetAsBytes(std::string_view bytes) {
  if (DataSet() == nullptr) DatabaseError("Field '" + FieldName() + "' has no dataset");
  std::unique_ptr<std::iostream> stream =
      DataSet()->CreateFieldBlobStream(this, TBlobStreamMode::bmWrite);
  if (!stream) DatabaseError("Field '" + FieldName() + "' has no BLOB stream", DataSet());
  stream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  stream->flush();
  if (!*stream) DatabaseError("Cannot write field '" + FieldName() + "'", DataSet());
}

std::string TBlobField::AsString() const {
  std::string bytes = AsBytes();
  if (DataType() == ftWideMemo) {
    std::u16string wide(bytes.size() / 2, u'\0');
    std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
    return WideToUtf8(wide);
  }
  return IsMemo() ? AnsiToUtf8(bytes) : bytes;
}

void TBlobField::SetAsString(const std::string& value) {
  if (DataType() == ftWideMemo) {
    std::u16string wide = Utf8ToWide(value);
    SetAsBytes(std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
  } else {
    SetAsBytes(IsMemo() ? Utf8ToAnsi(value) : value);
  }
}

std::string TBlobField::GetText(bool display) const {
  if (!display) return AsString();
  if (!GetData(nullptr)) return std::string();
  return IsMemo() ? "(Memo)" : "(Blob)";
}

// ---------------------------------------------------------------------------
// Factory

std::unique_ptr<TField> CreateFieldForType(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return std::make_unique<TStringField>(type, size);
    case ftGuid:
      return std::make_unique<TStringField>(type, size > 0 ? size : kGuidTextSize);
    case ftWideString:
    case ftFixedWideChar:
      return std::make_unique<TWideStringField>(size);
    case ftSmallint:
      return std::make_unique<TSmallintField>();
    case ftInteger:
      return std::make_unique<TIntegerField>();
    case ftWord:
      return std::make_unique<TWordField>();
    case ftAutoInc:
      return std::make_unique<TAutoIncField>();
    case ftLargeint:
      return std::make_unique<TLargeintField>();
    case ftBoolean:
      return std::make_unique<TBooleanField>();
    case ftFloat:
      return std::make_unique<TFloatField>();
    case ftCurrency:
      return std::make_unique<TCurrencyField>();
    case ftDate:
      return std::make_unique<TDateField>();
    case ftTime:
      return std::make_unique<TTimeField>();
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftMemo:
      return std::make_unique<TMemoField>();
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob:
    case ftFmtMemo:
    case ftOraClob:
    case ftWideMemo:
      return std::make_unique<TBlobField>(type);
    default:
      break;
  }
  DatabaseError("Field type " + std::to_string(static_cast<int>(type)) + " is not supported");
}

}  // namespace platform
