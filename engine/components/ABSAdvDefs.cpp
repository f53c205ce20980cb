#include "engine/components/ABSAdvDefs.h"

#include <sstream>

#include "engine/memory/ABSException.h"
#include "engine/memory/ABSNativeCodes.h"
#include "engine/types/ABSNames.h"

TABSAdvFieldDef::TABSAdvFieldDef()
    : DefaultValue(std::make_unique<TABSVariant>()),
      MinValue(std::make_unique<TABSVariant>()),
      MaxValue(std::make_unique<TABSVariant>()) {}

void TABSAdvFieldDef::CopyFrom(const TABSAdvFieldDef& source) {
  if (&source == this) return;
  // The value copies are the steps that can fail; they come first.
  auto defaultValue = std::make_unique<TABSVariant>();
  auto minValue = std::make_unique<TABSVariant>();
  auto maxValue = std::make_unique<TABSVariant>();
  defaultValue->Assign(*source.DefaultValue);
  minValue->Assign(*source.MinValue);
  maxValue->Assign(*source.MaxValue);
  Name = source.Name;
  FieldNo = source.FieldNo;
  DataType = source.DataType;
  Required = source.Required;
  Size = source.Size;
  DefaultValue = std::move(defaultValue);
  MinValue = std::move(minValue);
  MaxValue = std::move(maxValue);
  Settings = source.Settings;
  Flag = source.Flag;
  BlobCompressionAlgorithm = source.BlobCompressionAlgorithm;
  BlobCompressionMode = source.BlobCompressionMode;
  BlobBlockSize = source.BlobBlockSize;
}

TABSAdvFieldDef& TABSAdvFieldDefs::Add(std::string_view name, TABSDeclaredType type,
                                       std::int32_t size, bool required) {
  auto def = std::make_unique<TABSAdvFieldDef>();
  def->Name = std::string(name);
  def->DataType = type;
  def->Size = size;
  def->Required = required;
  items_.push_back(std::move(def));
  return *items_.back();
}

TABSAdvFieldDef* TABSAdvFieldDefs::Find(std::string_view name) const {
  for (const auto& item : items_) {
    if (EngineNamesEqual(item->Name, name)) return item.get();
  }
  return nullptr;
}

void TABSAdvFieldDefs::Delete(std::string_view name) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (EngineNamesEqual((*it)->Name, name)) {
      items_.erase(it);
      return;
    }
  }
  throw EABSException(30349, "Field '%s' not found", {name});
}

void TABSAdvFieldDefs::CopyFrom(const TABSAdvFieldDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TABSAdvFieldDef>> copy;
  copy.reserve(source.items_.size());
  for (const auto& item : source.items_) {
    copy.push_back(std::make_unique<TABSAdvFieldDef>());
    copy.back()->CopyFrom(*item);
  }
  items_ = std::move(copy);
}

TABSAdvIndexDef& TABSAdvIndexDefs::Add(std::string_view name) {
  items_.push_back(std::make_unique<TABSAdvIndexDef>());
  items_.back()->Name = std::string(name);
  return *items_.back();
}

TABSAdvIndexDef* TABSAdvIndexDefs::Find(std::string_view name) const {
  for (const auto& item : items_) {
    if (EngineNamesEqual(item->Name, name)) return item.get();
  }
  return nullptr;
}

void TABSAdvIndexDefs::Delete(std::string_view name) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (EngineNamesEqual((*it)->Name, name)) {
      items_.erase(it);
      return;
    }
  }
  throw EABSException(native_code::kAdvIndexNotFound, "Index '%s' not found", {name});
}

void TABSAdvIndexDefs::CopyFrom(const TABSAdvIndexDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TABSAdvIndexDef>> copy;
  for (const auto& item : source.items_) copy.push_back(std::make_unique<TABSAdvIndexDef>(*item));
  items_ = std::move(copy);
}

std::vector<std::string> SplitFieldList(const std::string& list) {
  std::vector<std::string> names;
  std::string item;
  std::istringstream in(list);
  while (std::getline(in, item, ';')) {
    const auto first = item.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    names.push_back(item.substr(first, item.find_last_not_of(' ') - first + 1));
  }
  return names;
}
