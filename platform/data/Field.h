// Field objects: the typed view of one column of the dataset's current
// record. A field reads and writes only through its dataset's hooks
// (TDataSet::LoadFieldData, StoreFieldData) in the field's native form:
//
//   kind                      native form (DataSize bytes)
//   integer, auto-increment   int32
//   smallint                  int16
//   word                      uint16
//   large integer             int64
//   float, currency           double
//   boolean                   int16 (0 false, else true)
//   date                      int32 days, 1 January 0001 = 1
//   time                      int32 milliseconds of the day
//   date-time                 double milliseconds since 1 January 0001 - 1 day
//   string                    Windows-1252 text, zero-terminated, Size + 1 bytes
//   wide string               UTF-16 text, zero-terminated, Size + 1 units
//   BLOB, memo                none (DataSize 0): values go through a BLOB stream
//
// Texts: AsString is the field's plain text; DisplayText is what a control
// shows. Both are "" for NULL. Numbers follow the dataset's FormatSettings
// (TDataSet::Settings).
//
// A setter never checks the dataset's state: the dataset's StoreFieldData
// refuses a write it does not allow, and then nothing has changed.
//
// Ownership: the dataset's TFields owns its fields; a field borrows its
// dataset. A field is bound (FieldNo, Offset, DataSize fixed) while its
// dataset is open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/data/FieldType.h"
#include "platform/os/DateTime.h"

namespace platform {

class TDataSet;
class FormatSettings;

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TField {
 public:
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return fieldName_; }
  // REQUIRES: the dataset is closed or the field has none.
  void SetFieldName(std::string name) { fieldName_ = std::move(name); }
  TFieldType DataType() const { return dataType_; }
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the native form (see the table above).
  virtual int DataSize() const = 0;
  // 1-based number of the data field in the definitions; 0 for other kinds
  // and while unbound.
  int FieldNo() const { return fieldNo_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind) { fieldKind_ = kind; }
  bool IsDataField() const { return fieldKind_ == TFieldKind::fkData; }
  // True for calculated and lookup fields: their value lives in the
  // calculated area of a record buffer.
  bool IsCalculated() const { return fieldKind_ != TFieldKind::fkData; }
  // Offset of the field's slot (1 flag byte, then DataSize bytes) in the
  // calculated area; -1 for data fields and while unbound.
  int Offset() const { return offset_; }
  // Position in the dataset's field list, -1 when in none.
  int Index() const;
  TDataSet* DataSet() const { return dataSet_; }

  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }
  // The label a control shows: the field name unless set.
  const std::string& DisplayLabel() const {
    return displayLabel_.empty() ? fieldName_ : displayLabel_;
  }
  void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
  // Characters a control should reserve; 0 leaves it to the control.
  int DisplayWidth() const { return displayWidth_; }
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  // Numbers are right-aligned, everything else left-aligned, unless set.
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment alignment) { alignment_ = alignment; }

  // Values of the dataset's state buffer (the active record while browsing).
  // Getters of a NULL value give 0, 0.0, false, "" (no exception). A
  // conversion the kind does not offer raises EDatabaseError
  // "Cannot access field 'X' as type Y"; text that is not a number raises
  // EConvertError.
  bool IsNull() const;
  virtual std::int32_t AsInteger() const;
  virtual std::int64_t AsLargeInt() const;
  virtual double AsFloat() const;
  virtual bool AsBoolean() const;
  virtual TDateTime AsDateTime() const;
  virtual std::string AsString() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual void SetAsLargeInt(std::int64_t value);
  // The value is stored exactly as given (no rounding).
  virtual void SetAsFloat(double value);
  virtual void SetAsBoolean(bool value);
  virtual void SetAsDateTime(TDateTime value);
  // Empty text stores NULL.
  virtual void SetAsString(const std::string& value);
  // Stores NULL.
  void Clear() { SetData(nullptr); }
  // The text a control shows; "" for NULL.
  std::string DisplayText() const { return GetText(true); }

  // Raw access in the native form. GetData copies the value into `buffer`
  // (DataSize bytes; nullptr only asks whether there is a value) and returns
  // false for NULL. SetData stores `buffer` (nullptr stores NULL).
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  // Called by the dataset's StoreFieldData, after its own checks, with the
  // native value (nullptr for NULL) before it is stored: the kind's range
  // checks, then OnValidate. Raises to refuse the value. (Required fields are
  // checked when the record is posted.)
  virtual void Validate(const void* buffer);

  // Events: OnValidate before a value is stored (may raise); OnChange after
  // the dataset reported the change.
  std::function<void(TField&)> OnValidate;
  std::function<void(TField&)> OnChange;

 protected:
  TField(TFieldType type, int size);
  // The plain (display == false) or display text of the current value, ""
  // for NULL. One read of the value.
  virtual std::string GetText(bool display) const = 0;
  // The settings for texts: the dataset's, else the user's.
  const FormatSettings& Settings() const;
  // Raises "Cannot access field 'X' as type <typeName>".
  [[noreturn]] void AccessError(std::string_view typeName) const;

 private:
  friend class TDataSet;
  friend class TFields;
  void Changed() {
    if (OnChange) OnChange(*this);
  }

  std::string fieldName_;
  std::string displayLabel_;
  TFieldType dataType_;
  int size_;
  TFieldKind fieldKind_ = TFieldKind::fkData;
  TDataSet* dataSet_ = nullptr;  // borrowed; set by TFields::Add
  int fieldNo_ = 0;
  int offset_ = -1;
  // The field's slot in the dataset's record buffers while bound, if the
  // dataset gave it one (TDataSet::SetFieldSlot): the native value, unchanged,
  // at slotOffset_ (-1: none), NULL while slotNullMask_ is set in byte
  // slotNullByte_.
  int slotOffset_ = -1;
  int slotNullByte_ = 0;
  std::uint8_t slotSize_ = 0;
  std::uint8_t slotNullMask_ = 0;
  int displayWidth_ = 0;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool required_ = false;
  bool readOnly_ = false;
  bool visible_ = true;
};

// Integer family: int32 (ftInteger, ftAutoInc), int16 (ftSmallint), uint16
// (ftWord). Min/max are checked only when one of them is not 0.
class TIntegerField : public TField {
 public:
  TIntegerField() : TIntegerField(ftInteger) {}
  int DataSize() const override;
  std::int32_t MinValue() const { return minValue_; }
  std::int32_t MaxValue() const { return maxValue_; }
  void SetMinValue(std::int32_t v) { minValue_ = v; }
  void SetMaxValue(std::int32_t v) { maxValue_ = v; }

  std::int32_t AsInteger() const override;
  std::int64_t AsLargeInt() const override { return AsInteger(); }
  double AsFloat() const override { return AsInteger(); }
  bool AsBoolean() const override { return AsInteger() != 0; }
  std::string AsString() const override { return GetText(false); }
  void SetAsInteger(std::int32_t value) override;
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsBoolean(bool value) override { SetAsInteger(value ? 1 : 0); }
  void SetAsString(const std::string& value) override;
  void Validate(const void* buffer) override;

 protected:
  explicit TIntegerField(TFieldType type);
  std::string GetText(bool display) const override;
  bool ReadValue(std::int32_t& value) const;

 private:
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};

class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};

class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};

class TLargeintField : public TField {
 public:
  TLargeintField() : TField(ftLargeint, 0) { SetAlignment(TAlignment::taRightJustify); }
  int DataSize() const override { return 8; }
  std::int32_t AsInteger() const override;
  std::int64_t AsLargeInt() const override;
  double AsFloat() const override { return static_cast<double>(AsLargeInt()); }
  std::string AsString() const override { return GetText(false); }
  void SetAsInteger(std::int32_t value) override { SetAsLargeInt(value); }
  void SetAsLargeInt(std::int64_t value) override;
  void SetAsFloat(double value) override;
  void SetAsString(const std::string& value) override;

 protected:
  std::string GetText(bool display) const override;
};

// Float and currency: a double, stored exactly as set. Texts: AsString is the
// general 15-digit text; DisplayText is the same, or with Currency set the
// locale's currency text with `Precision` significant digits and the
// locale's currency decimals ("9.958,33 €" under de_DE).
class TFloatField : public TField {
 public:
  TFloatField() : TFloatField(ftFloat) {}
  int DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool currency) { currency_ = currency; }
  // Significant digits of the texts, 2..15 (default 15).
  int Precision() const { return precision_; }
  void SetPrecision(int precision);
  double MinValue() const { return minValue_; }
  double MaxValue() const { return maxValue_; }
  void SetMinValue(double v) { minValue_ = v; }
  void SetMaxValue(double v) { maxValue_ = v; }

  std::int32_t AsInteger() const override;
  std::int64_t AsLargeInt() const override;
  double AsFloat() const override;
  std::string AsString() const override { return GetText(false); }
  void SetAsInteger(std::int32_t value) override { SetAsFloat(value); }
  void SetAsLargeInt(std::int64_t value) override { SetAsFloat(static_cast<double>(value)); }
  void SetAsFloat(double value) override;
  void SetAsString(const std::string& value) override;
  void Validate(const void* buffer) override;

 protected:
  explicit TFloatField(TFieldType type);
  std::string GetText(bool display) const override;

 private:
  bool currency_ = false;
  int precision_ = 15;
  double minValue_ = 0;
  double maxValue_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) { SetCurrency(true); }
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean, 0) {}
  int DataSize() const override { return 2; }
  bool AsBoolean() const override;
  std::int32_t AsInteger() const override { return AsBoolean() ? 1 : 0; }
  std::string AsString() const override { return GetText(false); }
  void SetAsBoolean(bool value) override;
  void SetAsInteger(std::int32_t value) override { SetAsBoolean(value != 0); }
  // Accepts "True"/"False" (ignoring case) and "1"/"0"; "" stores NULL.
  void SetAsString(const std::string& value) override;

 protected:
  std::string GetText(bool display) const override;
};

// Date, time and date-time. AsDateTime gives a TDateTime; the native forms
// are converted through TDataSet::ConvertFieldData.
class TDateTimeField : public TField {
 public:
  TDateTimeField() : TDateTimeField(ftDateTime) {}
  int DataSize() const override;
  TDateTime AsDateTime() const override;
  double AsFloat() const override { return AsDateTime(); }
  std::string AsString() const override { return GetText(false); }
  void SetAsDateTime(TDateTime value) override;
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  void SetAsString(const std::string& value) override;

 protected:
  explicit TDateTimeField(TFieldType type);
  std::string GetText(bool display) const override;
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};

class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};

// 8-bit text of at most Size characters (longer values are cut). AsString
// and SetAsString speak UTF-8; the native form is Windows-1252.
class TStringField : public TField {
 public:
  explicit TStringField(int size = 20) : TStringField(ftString, size) {}
  int DataSize() const override { return Size() + 1; }
  std::string AsString() const override { return GetText(false); }
  std::int32_t AsInteger() const override;
  double AsFloat() const override;
  bool AsBoolean() const override;
  void SetAsString(const std::string& value) override;
  void SetAsInteger(std::int32_t value) override;
  void SetAsFloat(double value) override;
  // `type` is ftString, ftFixedChar or ftGuid.
  TStringField(TFieldType type, int size);

 protected:
  std::string GetText(bool display) const override;
};

// UTF-16 text of at most Size units.
class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(int size = 20) : TStringField(ftWideString, size) {}
  int DataSize() const override { return (Size() + 1) * 2; }
  std::u16string Value() const;
  void SetValue(std::u16string_view value);
  void SetAsString(const std::string& value) override;

 protected:
  std::string GetText(bool display) const override;
};

// BLOB and memo: the value is read and written as a whole through the
// dataset's BLOB stream (TDataSet::CreateFieldBlobStream). A memo's
// DisplayText is "(Memo)", a BLOB's "(Blob)", as a grid shows them; AsString
// gives the content (a memo's as UTF-8 from Windows-1252).
class TBlobField : public TField {
 public:
  TBlobField() : TBlobField(ftBlob) {}
  int DataSize() const override { return 0; }
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  // The raw bytes of the value.
  std::string AsBytes() const;
  void SetAsBytes(std::string_view bytes);
  // `type` is one of the BLOB or memo types.
  explicit TBlobField(TFieldType type);
  // Memo types hold text (DisplayText "(Memo)").
  bool IsMemo() const;

 protected:
  std::string GetText(bool display) const override;
};

class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
};

// The field kind of `type`, unbound and without a name; `size` for string
// kinds. Unsupported types raise EDatabaseError
// "Field type <n> is not supported".
std::unique_ptr<TField> CreateFieldForType(TFieldType type, int size);

// The fields of a dataset, in order. Owns its fields.
class TFields {
 public:
  // REQUIRES: `dataSet` outlives the list.
  explicit TFields(TDataSet* dataSet) : dataSet_(dataSet) {}
  ~TFields();
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TField& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
  int IndexOf(const TField* field) const;
  // The field with this name ignoring case (ASCII fast path), or nullptr.
  TField* FindField(std::string_view name) const;
  // As FindField; raises EDatabaseError "Name: Field 'x' not found".
  TField& FieldByName(std::string_view name) const;

  // Takes the field into the list (at the end, or before `position`) and
  // makes this list's dataset its dataset. A duplicate name (ignoring case)
  // is refused with EDatabaseError "Duplicate field name 'x'".
  // REQUIRES: the dataset is closed.
  TField& Add(std::unique_ptr<TField> field, int position = -1);
  // Takes the field out of the list and gives it back. REQUIRES: closed.
  std::unique_ptr<TField> Remove(TField* field);
  void Clear();

 private:
  friend class TDataSet;
  TDataSet* dataSet_;  // borrowed
  std::vector<std::unique_ptr<TField>> items_;
};

}  // namespace platform
