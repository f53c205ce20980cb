#include "engine/types/ABSVariant.h"

#include <cstring>
#include <utility>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSMemory.h"
#include "engine/types/ABSTextTerminator.h"
#include "engine/types/ABSVariantInternal.h"
#include "platform/locale/TextCodec.h"

using namespace variant_detail;

// --- construction and state ---

TABSVariant::TABSVariant(TABSStorageType type) {
  CheckTypeValue(type, true);
  dataType_ = type;
}

// owned_ frees the buffer; a guard error found then is swallowed.
TABSVariant::~TABSVariant() = default;

TABSVariant::TABSVariant(TABSVariant&& other) noexcept
    : data_(other.data_),
      owned_(std::move(other.owned_)),
      dataSize_(other.dataSize_),
      dataType_(other.dataType_),
      isReference_(other.isReference_),
      nullMark_(other.nullMark_) {
  other.data_ = nullptr;
  other.dataSize_ = 0;
  other.dataType_ = stNone;
  other.isReference_ = false;
  other.nullMark_ = 255;
}

TABSVariant& TABSVariant::operator=(TABSVariant&& other) noexcept {
  if (this != &other) {
    owned_ = std::move(other.owned_);  // frees ours, swallowing a guard error
    data_ = other.data_;
    dataSize_ = other.dataSize_;
    dataType_ = other.dataType_;
    isReference_ = other.isReference_;
    nullMark_ = other.nullMark_;
    other.data_ = nullptr;
    other.dataSize_ = 0;
    other.dataType_ = stNone;
    other.isReference_ = false;
    other.nullMark_ = 255;
  }
  return *this;
}

void TABSVariant::ReleaseBuffer() {
  data_ = nullptr;
  isReference_ = false;
  dataSize_ = 0;
  owned_.Free();
}

void TABSVariant::TakeOwned(TABSMemBlock block, std::int32_t size) {
  ReleaseBuffer();
  owned_ = std::move(block);
  data_ = owned_.get();
  dataSize_ = size;
}

void TABSVariant::Clear(TABSStorageType type) {
  CheckTypeValue(type, true);
  ReleaseBuffer();
  dataType_ = type;
  nullMark_ = 255;
}

void TABSVariant::CheckNotNull() const {
  if (IsNull()) throw EABSException(30016, "Value is Null");
}

void TABSVariant::Assign(const TABSVariant& source, bool copy) {
  if (&source == this) {
    if (copy) MakeOwned();
    return;
  }
  if (copy && !source.IsNull()) {
    // Copied before anything changes, so a failure leaves the variant as it was.
    PlaceOwned(source.data_, source.dataSize_);
    dataType_ = source.dataType_;
    nullMark_ = source.nullMark_;
    return;
  }
  Clear(stNone);
  dataType_ = source.dataType_;
  nullMark_ = source.nullMark_;
  if (source.IsNull()) {
    // Nothing else is taken; a mark of 0 without bytes still reads as null.
    return;
  }
  data_ = source.data_;
  dataSize_ = source.dataSize_;
  isReference_ = true;
}

void TABSVariant::PlaceOwned(const void* bytes, std::int32_t size) {
  if (data_ != nullptr && !isReference_ && dataSize_ == size) {
    // The bytes may be our own (a value assigned to itself): nothing to copy.
    if (bytes != data_) CopyBytes(data_, bytes, size);
  } else {
    // Allocate before releasing, so that bytes inside the old buffer are
    // still readable while they are copied, and a failure changes nothing.
    TABSMemBlock fresh(size);
    std::memcpy(fresh.get(), bytes, static_cast<std::size_t>(size));
    TakeOwned(std::move(fresh), size);
  }
  isReference_ = false;
  nullMark_ = 0;
}

void TABSVariant::MakeOwned() {
  if (isReference_ && data_ != nullptr) {
    // The copy comes first: a failure leaves the reference in place.
    TABSMemBlock copy(dataSize_);
    std::memcpy(copy.get(), data_, static_cast<std::size_t>(dataSize_));
    isReference_ = false;
    owned_ = std::move(copy);
    data_ = owned_.get();
  }
}

// SetBuffer and CopyTo keep their common case inline in the header: the
// cursor's field read (SetBuffer, a copy into the owned buffer of the same
// size) and field write (CopyTo, a value that fits) run once per field of
// every record, so they are kept free of calls; the rest comes here.
// CopyBytes switches on the common fixed sizes (2, 4, 8) so that the
// compiler turns each of those memmoves into one load and store instead of
// a library call, which keeps the per-field record path free of calls too.
void TABSVariant::SetBufferSlow(const void* buffer, std::int32_t size, bool copy,
                                TABSStorageType type) {
  CheckTypeValue(type, false);
  if (buffer == nullptr) RaiseNilPointer();
  if (size < 1 || size < FixedValueSize(type)) RaiseBadSize(size, type);
  // Referencing bytes of our own buffer would leave a reference to freed
  // memory; such bytes are copied instead.
  const bool inOwnBuffer =
      !isReference_ && data_ != nullptr &&
      static_cast<const char*>(buffer) >= static_cast<const char*>(data_) &&
      static_cast<const char*>(buffer) < static_cast<const char*>(data_) + dataSize_;
  if (copy || inOwnBuffer) {
    PlaceOwned(buffer, size);
  } else {
    ReleaseBuffer();
    data_ = const_cast<void*>(buffer);
    dataSize_ = size;
    isReference_ = true;
  }
  dataType_ = type;
  nullMark_ = 0;
}

bool TABSVariant::CopyToSlow(void* destination, std::int32_t limit) const {
  if (IsNull()) return false;
  if (limit != -1 && dataSize_ > limit) RaiseBufferExceeded();
  // An empty text (terminator only) is not copied.
  if (dataType_ >= stChar && dataType_ <= stWideString && dataSize_ <= 1) return false;
  if (destination == nullptr) RaiseNilPointer();
  CopyBytes(destination, data_, dataSize_);
  return true;
}

// --- whole-value conversions ---

void TABSVariant::CastTo(TABSStorageType type) {
  if (dataType_ == type) return;
  if (IsNull()) {
    Clear(type);
    return;
  }
  if (dataType_ == stMemo && type == stString) {
    // The memo's bytes become the text; only a terminator is added.
    TABSMemBlock grown(static_cast<std::int64_t>(dataSize_) + 1);
    std::memcpy(grown.get(), data_, static_cast<std::size_t>(dataSize_));
    StoreTerminator(grown.as<char>() + dataSize_, false);
    TakeOwned(std::move(grown), dataSize_ + 1);
    dataType_ = type;
    nullMark_ = 0;
    return;
  }
  TABSConvertedValue converted;
  ConvertValueInto(data_, dataSize_, dataType_, type, converted);
  PlaceOwned(converted.Data(), converted.Size());
  dataType_ = type;
}

void TABSVariant::ChangeType(TABSStorageType type) {
  CheckTypeValue(type, true);
  if (IsNull()) {
    if (data_ != nullptr) {
      Clear(type);
    } else {
      dataType_ = type;
    }
    return;
  }
  try {
    CastTo(type);
  } catch (const std::exception&) {
    Clear(type);
  }
}

void TABSVariant::NarrowWideString() {
  if (IsNull() || !IsWideStringStorageType(dataType_)) return;
  const std::u16string wide = GetAsWideString();
  const std::string ansi = platform::WideToAnsi(wide);
  if (platform::AnsiToWide(ansi) != wide) return;
  // An empty text stays a value (just its terminator), not null.
  PlaceOwned(ansi.c_str(), static_cast<std::int32_t>(ansi.size() + 1));
  dataType_ = stString;
}

std::int32_t TABSVariant::TextLength() const {
  if (IsNull() || !IsStringStorageType(dataType_)) return -1;
  return IsWideStringStorageType(dataType_) ? dataSize_ / 2 - 1 : dataSize_ - 1;
}
