#include "platform/data/Component.h"

#include <algorithm>

#include "platform/data/FieldDefs.h"

namespace platform {

namespace {

void Erase(std::vector<TComponent*>& list, const TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  try {
    if (owner_ != nullptr) {
      owner_->SendNotifications(this, TOperation::opRemove);
    } else {
      for (TComponent* partner : std::vector<TComponent*>(freeNotifies_)) {
        partner->Notification(this, TOperation::opRemove);
      }
    }
  } catch (...) {
  }
  // The free-notification partners forget this component.
  for (TComponent* partner : freeNotifies_) Erase(partner->freeNotifies_, this);
  freeNotifies_.clear();
  // Owned components, from the last to the first. Each one takes itself out
  // of components_ in its destructor.
  while (!components_.empty()) {
    TComponent* child = components_.back();
    child->state_ |= csDestroying;
    delete child;
    // A destructor that failed to leave (impossible by construction) must
    // not make this loop spin.
    if (!components_.empty() && components_.back() == child) components_.pop_back();
  }
  if (owner_ != nullptr) Erase(owner_->components_, this);
}

void TComponent::SetName(const std::string& name) {
  if (name == name_) return;
  if (owner_ != nullptr && !name.empty()) {
    for (const TComponent* sibling : owner_->components_) {
      if (sibling != this && SameName(sibling->name_, name)) {
        throw EComponentError("A component named " + name + " already exists");
      }
    }
  }
  name_ = name;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (SameName(c->name_, name)) return c;
  }
  return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
  if (component == nullptr || component == this) return;
  if (component->owner_ == this) return;
  if (component->owner_ != nullptr) component->owner_->RemoveComponent(component);
  component->owner_ = this;
  components_.push_back(component);
  SendNotifications(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  if (component == nullptr || component->owner_ != this) return;
  SendNotifications(component, TOperation::opRemove);
  Erase(components_, component);
  component->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
    other->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  Erase(freeNotifies_, other);
  Erase(other->freeNotifies_, this);
}

void TComponent::BeginLoading() {
  state_ |= csReading | csLoading;
  for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
  for (TComponent* c : components_) c->state_ &= static_cast<std::uint8_t>(~csReading);
  state_ &= static_cast<std::uint8_t>(~csReading);
  EndLoadingStep();
}

void TComponent::EndLoadingStep() {
  // Copy: a Loaded() handler may create or free components.
  std::vector<TComponent*> children = components_;
  for (TComponent* c : children) {
    if (std::find(components_.begin(), components_.end(), c) != components_.end()) {
      c->EndLoadingStep();
    }
  }
  if (IsLoading()) {
    try {
      Loaded();
    } catch (...) {
      state_ &= static_cast<std::uint8_t>(~csLoading);
      throw;
    }
    state_ &= static_cast<std::uint8_t>(~csLoading);
  }
}

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    state_ |= csDesigning;
  } else {
    state_ &= static_cast<std::uint8_t>(~csDesigning);
  }
  for (TComponent* c : components_) c->SetDesigning(designing);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  (void)component;
  (void)operation;
}

void TComponent::NotifyInserted() {
  if (owner_ != nullptr) owner_->SendNotifications(this, TOperation::opInsert);
}

void TComponent::SendNotifications(TComponent* component, TOperation operation) {
  // The owner (this) first, then its other components. A copy, because a
  // handler may free components; those that left meanwhile are skipped.
  Notification(component, operation);
  std::vector<TComponent*> siblings = components_;
  for (TComponent* c : siblings) {
    if (c == component) continue;
    if (std::find(components_.begin(), components_.end(), c) == components_.end()) continue;
    if (c->IsDestroying()) continue;
    c->Notification(component, operation);
  }
  if (operation == TOperation::opRemove) {
    std::vector<TComponent*> partners = component->freeNotifies_;
    for (TComponent* p : partners) {
      if (p == this) continue;
      if (std::find(siblings.begin(), siblings.end(), p) != siblings.end()) continue;
      p->Notification(component, operation);
    }
  }
}

}  // namespace platform
