// The component base of the dataset framework: a named object with an owner
// that frees what it owns, insert and remove notifications among the
// components of one owner, free notifications for components elsewhere, and
// the component state flags (reading, loading, designing, destroying).
//
// Ownership: a component created with an owner is owned by it. The owner
// keeps its components in creation order and deletes them, from the last to
// the first, when it is destroyed. A component without an owner belongs to
// whoever created it (typically a std::unique_ptr). Deleting an owned
// component directly is allowed: its destructor takes it out of the owner's
// list first. The owner's list therefore holds raw pointers that the owner
// deletes; nothing else in this class owns anything.
//
// Notifications: `Notification(c, opInsert)` reaches the owner and the other
// components of the owner when `c` is inserted; `Notification(c, opRemove)`
// reaches the owner, the owner's other components and every component that
// asked for a free notification, when `c` is destroyed or removed. A
// notification about a component that is being destroyed may only compare
// the pointer: its derived parts are already gone.
//
// The constructor enters the component into its owner's list but sends no
// insert notification, because the receivers could not yet recognise its
// type. A class whose siblings must recognise it calls `NotifyInserted()` at
// the end of its constructor.
//
// Thread safety: none; components live on the thread that uses them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/Exception.h"

namespace platform {

// Raised for component naming errors ("A component named X already exists").
class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

enum class TOperation { opInsert, opRemove };

// Component state flags (bit set).
enum TComponentStateFlag : std::uint8_t {
  csReading = 1,
  csLoading = 2,
  csDesigning = 4,
  csDestroying = 8,
};

class TComponent {
 public:
  // REQUIRES: `owner` outlives this component or deletes it.
  explicit TComponent(TComponent* owner = nullptr);
  // Marks the component as being destroyed, sends the remove notifications,
  // deletes the owned components (last first) and leaves the owner's list.
  // Never throws: an exception of a notification or of an owned component's
  // destructor is swallowed.
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  // Renames the component. Refused with EComponentError when another
  // component of the same owner has this name (ignoring case). Overriders
  // call the base first and then react to the new name.
  virtual void SetName(const std::string& name);

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // REQUIRES: 0 <= index < ComponentCount().
  TComponent* Components(int index) const { return components_[static_cast<std::size_t>(index)]; }
  // The owned component with this name (ignoring ASCII case), or nullptr.
  TComponent* FindComponent(std::string_view name) const;

  // Takes ownership of `component` (which leaves its previous owner) and
  // sends the insert notifications. REQUIRES: component != this.
  void InsertComponent(TComponent* component);
  // Gives up ownership of `component` (the caller owns it afterwards) and
  // sends the remove notifications. Nothing when it is not owned here.
  void RemoveComponent(TComponent* component);

  // `other` receives Notification(this, opRemove) when this component is
  // destroyed, and this component receives it when `other` is. Symmetric.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  std::uint8_t ComponentState() const { return state_; }
  bool IsReading() const { return (state_ & csReading) != 0; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  bool IsDestroying() const { return (state_ & csDestroying) != 0; }

  // Form loading: BeginLoading sets reading and loading on this component
  // and the components it owns; EndLoading clears reading, calls Loaded() on
  // each (owned components first, then this one) and clears loading.
  void BeginLoading();
  void EndLoading();
  // Sets or clears the designing flag on this component and what it owns.
  void SetDesigning(bool designing);

 protected:
  // Called when a component is inserted or removed (see the notes above).
  virtual void Notification(TComponent* component, TOperation operation);
  // Called when loading ends, with csLoading still set.
  virtual void Loaded() {}
  // Sends the insert notifications for this component to its owner and the
  // owner's other components. Call it at the end of a constructor.
  void NotifyInserted();
  // Sets the destroying flag. An owner sets it on a component before
  // deleting it; a destructor that wants its own clean-up to see
  // IsDestroying() when deleted directly calls it first.
  void MarkDestroying() { state_ |= csDestroying; }

 private:
  void SendNotifications(TComponent* component, TOperation operation);
  void EndLoadingStep();

  std::string name_;
  TComponent* owner_ = nullptr;            // borrowed
  std::vector<TComponent*> components_;    // owned: deleted by ~TComponent
  std::vector<TComponent*> freeNotifies_;  // borrowed, symmetric links
  std::uint8_t state_ = 0;
};

}  // namespace platform
