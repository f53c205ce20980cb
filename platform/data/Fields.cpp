#include <algorithm>

#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"
#include "platform/data/Field.h"
#include "platform/locale/Locale.h"

namespace platform {

namespace {

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

TFields::~TFields() = default;

int TFields::IndexOf(const TField* field) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == field) return static_cast<int>(i);
  }
  return -1;
}

TField* TFields::FindField(std::string_view name) const {
  // Fast path: ASCII letters fold without a locale.
  for (const auto& f : items_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  if (IsAscii(name)) return nullptr;
  // A name with other letters: compare the locale's upper-case forms.
  const FormatSettings& fs = dataSet_ != nullptr ? dataSet_->Settings() : FormatSettings::User();
  std::string upper = fs.UpperCase(name);
  for (const auto& f : items_) {
    if (!IsAscii(f->FieldName()) && fs.UpperCase(f->FieldName()) == upper) return f.get();
  }
  return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) {
    std::string message = "Field '";
    message += name;
    message += "' not found";
    DatabaseError(message, dataSet_);
  }
  return *field;
}

TField& TFields::Add(std::unique_ptr<TField> field, int position) {
  if (!field) DatabaseError("Field missing", dataSet_);
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  if (!field->FieldName().empty() && FindField(field->FieldName()) != nullptr) {
    DatabaseError("Duplicate field name '" + field->FieldName() + "'", dataSet_);
  }
  field->dataSet_ = dataSet_;
  TField& added = *field;
  if (position < 0 || position >= Count()) {
    items_.push_back(std::move(field));
  } else {
    items_.insert(items_.begin() + position, std::move(field));
  }
  return added;
}

std::unique_ptr<TField> TFields::Remove(TField* field) {
  int i = IndexOf(field);
  if (i < 0) return nullptr;
  if (dataSet_ != nullptr) dataSet_->CheckInactive();
  std::unique_ptr<TField> removed = std::move(items_[static_cast<std::size_t>(i)]);
  items_.erase(items_.begin() + i);
  removed->dataSet_ = nullptr;
  removed->fieldNo_ = 0;
  removed->offset_ = -1;
  return removed;
}

void TFields::Clear() {
  items_.clear();
}

}  // namespace platform
