#include "platform/data/FieldDefs.h"

#include <algorithm>

#include "platform/data/DataSet.h"
#include "platform/data/DatabaseError.h"
#include "platform/data/Field.h"

namespace platform {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// TFieldDef

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required)
    : owner_(owner), name_(std::move(name)), dataType_(type), size_(size), required_(required) {}

int TFieldDef::FieldNo() const {
  for (int i = 0; i < owner_->Count(); ++i) {
    if (&(*owner_)[i] == this) return i + 1;
  }
  return 0;
}

void TFieldDef::SetName(std::string name) {
  name_ = std::move(name);
  Changed();
}
void TFieldDef::SetDataType(TFieldType type) {
  dataType_ = type;
  Changed();
}
void TFieldDef::SetSize(int size) {
  size_ = size;
  Changed();
}
void TFieldDef::SetRequired(bool required) {
  required_ = required;
  Changed();
}
void TFieldDef::SetPrecision(int precision) {
  precision_ = precision;
  Changed();
}

void TFieldDef::Changed() {
  if (owner_ != nullptr) owner_->Changed();
}

std::unique_ptr<TField> TFieldDef::CreateField() const {
  std::unique_ptr<TField> field;
  try {
    field = CreateFieldForType(dataType_, size_);
  } catch (const EDatabaseError& e) {
    const TComponent* component = owner_ != nullptr ? owner_->DataSet() : nullptr;
    DatabaseError("Cannot create field '" + name_ + "': " + e.Message(), component);
  }
  field->SetFieldName(name_);
  field->SetRequired(required_);
  if (precision_ > 0) {
    if (auto* f = dynamic_cast<TFloatField*>(field.get())) f->SetPrecision(precision_);
  }
  return field;
}

// ---------------------------------------------------------------------------
// TFieldDefs

TFieldDef& TFieldDefs::Add(std::string name, TFieldType type, int size, bool required) {
  items_.push_back(std::make_unique<TFieldDef>(this, std::move(name), type, size, required));
  Changed();
  return *items_.back();
}

void TFieldDefs::Delete(int index) {
  items_.erase(items_.begin() + index);
  Changed();
}

void TFieldDefs::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TFieldDefs::Assign(const TFieldDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TFieldDef>> copy;
  copy.reserve(source.items_.size());
  for (const auto& d : source.items_) {
    auto def =
        std::make_unique<TFieldDef>(this, d->Name(), d->DataType(), d->Size(), d->Required());
    def->precision_ = d->Precision();
    copy.push_back(std::move(def));
  }
  items_.swap(copy);
  Changed();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

void TFieldDefs::Update() {
  if (updated_) return;
  ++updating_;
  try {
    if (dataSet_ != nullptr) dataSet_->InitFieldDefs();
  } catch (...) {
    --updating_;
    throw;
  }
  --updating_;
  updated_ = true;
}

void TFieldDefs::Changed() {
  if (updating_ > 0 || dataSet_ == nullptr) return;
  dataSet_->DefChanged(this);
}

// ---------------------------------------------------------------------------
// TIndexDef

TIndexDef::TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options)
    : owner_(owner), name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

void TIndexDef::SetName(std::string name) {
  name_ = std::move(name);
  Changed();
}
void TIndexDef::SetFields(std::string fields) {
  fields_ = std::move(fields);
  Changed();
}
void TIndexDef::SetDescFields(std::string fields) {
  descFields_ = std::move(fields);
  Changed();
}
void TIndexDef::SetCaseInsFields(std::string fields) {
  caseInsFields_ = std::move(fields);
  Changed();
}
void TIndexDef::SetOptions(TIndexOptions options) {
  options_ = options;
  Changed();
}
void TIndexDef::Changed() {
  if (owner_ != nullptr) owner_->Changed();
}

// ---------------------------------------------------------------------------
// TIndexDefs

TIndexDef& TIndexDefs::Add(std::string name, std::string fields, TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(this, std::move(name), std::move(fields), options));
  Changed();
  return *items_.back();
}

void TIndexDefs::Delete(int index) {
  items_.erase(items_.begin() + index);
  Changed();
}

void TIndexDefs::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TIndexDef>> copy;
  copy.reserve(source.items_.size());
  for (const auto& d : source.items_) {
    auto def = std::make_unique<TIndexDef>(this, d->Name(), d->Fields(), d->Options());
    def->descFields_ = d->DescFields();
    def->caseInsFields_ = d->CaseInsFields();
    copy.push_back(std::move(def));
  }
  items_.swap(copy);
  Changed();
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

TIndexDef* TIndexDefs::Find(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

TIndexDef* TIndexDefs::FindIndexForFields(std::string_view fields) const {
  if (fields.empty()) return nullptr;
  for (const auto& d : items_) {
    const std::string& f = d->Fields();
    if (f.size() < fields.size()) continue;
    if (!SameName(std::string_view(f).substr(0, fields.size()), fields)) continue;
    // A whole field name must match: the list ends or a ';' follows.
    if (f.size() == fields.size() || f[fields.size()] == ';') return d.get();
  }
  return nullptr;
}

void TIndexDefs::Update() {
  if (updated_) return;
  ++updating_;
  try {
    if (dataSet_ != nullptr) dataSet_->UpdateIndexDefs();
  } catch (...) {
    --updating_;
    throw;
  }
  --updating_;
  updated_ = true;
}

void TIndexDefs::Changed() {
  if (updating_ > 0 || dataSet_ == nullptr) return;
  dataSet_->DefChanged(this);
}

}  // namespace platform
