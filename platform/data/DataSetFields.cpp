// TDataSet's fields: creating them from the definitions, binding them to
// field numbers and calculated slots, the direct record-buffer slots of
// plain fields, calculated fields and the required-field check.
#include "platform/data/DataSet.h"

#include <algorithm>
#include <cstring>

#include "platform/data/DatabaseError.h"

namespace platform {

void TDataSet::CreateFields() {
  int position = 0;
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& def = fieldDefs_[i];
    if (fields_.FindField(def.Name()) != nullptr) continue;
    std::unique_ptr<TField> field = def.CreateField();
    field->dataSet_ = this;
    // Data fields come first, in definition order; calculated fields follow.
    fields_.items_.insert(fields_.items_.begin() + position, std::move(field));
    ++position;
  }
}

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (auto& f : fields_.items_) {
    f->slotOffset_ = -1;
    if (!binding) {
      f->fieldNo_ = 0;
      f->offset_ = -1;
      continue;
    }
    if (f->IsDataField()) {
      const TFieldDef* def = fieldDefs_.Find(f->FieldName());
      if (def == nullptr) {
        BindFields(false);
        DatabaseError("Field '" + f->FieldName() + "' not found", this);
      }
      f->fieldNo_ = def->FieldNo();
      f->offset_ = -1;
    } else {
      f->fieldNo_ = 0;
      f->offset_ = calcFieldsSize_;
      // A dataset may keep a wide calculated value as a reference to its own
      // copy of the text: the slot has room for one whatever the size.
      int valueSize = f->DataSize();
      if (f->DataType() == ftWideString) {
        valueSize = std::max(valueSize, static_cast<int>(sizeof(void*)));
      }
      calcFieldsSize_ += 1 + valueSize;
    }
  }
}

void TDataSet::SetFieldSlot(TField& field, int offset, int size, int nullByte,
                            std::uint8_t nullMask) {
  field.slotOffset_ = offset;
  field.slotSize_ = static_cast<std::uint8_t>(size);
  field.slotNullByte_ = nullByte;
  field.slotNullMask_ = nullMask;
}

bool TDataSet::LoadSlot(const TField& field, void* buffer, bool& hasValue) const {
  if (state_ != TDataSetState::dsBrowse && !IsEditState(state_)) return false;
  const TRecordBuffer record = ActiveBuffer();
  if (record == nullptr) return false;
  hasValue = (record[field.slotNullByte_] & field.slotNullMask_) == 0;
  if (hasValue && buffer != nullptr) {
    std::memcpy(buffer, record + field.slotOffset_, field.slotSize_);
  }
  return true;
}

bool TDataSet::StoreSlot(TField& field, const void* buffer) {
  if (!IsEditState(state_)) return false;
  const TRecordBuffer record = ActiveBuffer();
  if (record == nullptr) return false;
  field.Validate(buffer);
  if (buffer == nullptr) {
    record[field.slotNullByte_] |= field.slotNullMask_;
  } else {
    std::uint8_t* to = record + field.slotOffset_;
    if (field.slotSize_ == 8) {
      std::memcpy(to, buffer, 8);
    } else if (field.slotSize_ == 4) {
      std::memcpy(to, buffer, 4);
    } else {
      std::memcpy(to, buffer, field.slotSize_);
    }
    record[field.slotNullByte_] &= static_cast<std::uint8_t>(~field.slotNullMask_);
  }
  Notify(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
  return true;
}

void TDataSet::DestroyFields() {
  auto& items = fields_.items_;
  items.erase(
      std::remove_if(items.begin(), items.end(), [](const auto& f) { return f->IsDataField(); }),
      items.end());
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  if (calcFieldsSize_ == 0 || buffer == nullptr) return;
  TRecordBuffer savedBuffer = calcBuffer_;
  TDataSetState saved = SetTempState(TDataSetState::dsCalcFields);
  calcBuffer_ = buffer;
  try {
    if (OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    calcBuffer_ = savedBuffer;
    RestoreState(saved);
    throw;
  }
  calcBuffer_ = savedBuffer;
  RestoreState(saved);
}

void TDataSet::FieldChanged(TField* field) {
  if (IsEditState(state_)) modified_ = true;
  if (field != nullptr) field->Changed();
  if (IsEditState(state_) && autoCalcFields_ && calcFieldsSize_ > 0 && field != nullptr &&
      field->IsDataField()) {
    CalculateFields(ActiveBuffer());
  }
}

void TDataSet::CheckRequiredFields() {
  for (const auto& f : fields_.items_) {
    if (f->Required() && !f->ReadOnly() && f->IsDataField() && f->IsNull()) {
      DatabaseError("Field '" + f->DisplayLabel() + "' must have a value", this);
    }
  }
}

}  // namespace platform
