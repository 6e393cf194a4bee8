// The component model of the UI library: components with an owner that frees them, unique names
// among the owner's components, removal notification, and the message record that controls pass
// to each other.
//
// Free a component with Free() (or TOwned<>): BeforeDestruction frees the owned components while
// the owner is still whole. A component being destroyed first tells its owner's components (and
// every component that asked for FreeNotification) through Notification(Self, opRemove).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Objects.h"
#include "platform/vcl/Graphics.h"

namespace varnix {

VARNIX_DECLARE_EXCEPTION(EComponentError, Exception);
VARNIX_DECLARE_EXCEPTION(EInvalidOperation, Exception);

enum TOperation { opInsert, opRemove };
enum TComponentStateFlag { csLoading, csReading, csWriting, csDestroying, csDesigning, csUpdating };
using TComponentState = TSet<TComponentStateFlag>;

enum TShiftStateFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateFlag>;

// A message passed to a control's WndProc. Result 0 means "not handled" for most messages.
struct TMessage {
  uint32_t Msg = 0;
  intptr_t WParam = 0;
  intptr_t LParam = 0;
  intptr_t Result = 0;
};

class TComponent;

// Lets dispatch code see whether a component it called into was freed meanwhile (a handler may
// free its own sender). Empty state: refers to nothing and reports not alive.
class TComponentRef {
 public:
  TComponentRef() = default;
  explicit TComponentRef(TComponent* C);
  bool Alive() const { return FAlive && *FAlive; }
  explicit operator bool() const { return Alive(); }

 private:
  std::shared_ptr<bool> FAlive;
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  void BeforeDestruction() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  // Raises EComponentError when another component of the same owner has the name (compared
  // without case) or the name is not an identifier.
  virtual void SetName(const std::string& NewName);
  // Sets Base as the name, or Base_1, Base_2, ... when Base is taken among the owner's components.
  void SetUniqueName(const std::string& Base);

  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  TComponent* Components(int32_t Index) const { return FComponents[static_cast<size_t>(Index)]; }
  int32_t ComponentIndex() const;
  // The owned component named Name (without case), or null.
  TComponent* FindComponent(const std::string& Name) const;

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, last first.
  void DestroyComponents();

  // AComponent will receive Notification(this, opRemove) when this component is freed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  TComponentState ComponentState() const { return FComponentState; }
  void SetLoading(bool Value);
  bool Destroying() const { return FComponentState.Contains(csDestroying); }

  // Called after a window description (or another loader) has set the component's properties.
  virtual void Loaded();

  virtual const char* ClassName() const { return "TComponent"; }

  intptr_t Tag = 0;

 protected:
  // An insertion or removal of AComponent among the owner's components, or the removal of a
  // component this one asked to be told of. The base passes it on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void MarkDestroying() { FComponentState.Include(csDestroying); }

 private:
  friend class TComponentRef;
  void NotifyRemoval();

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState;
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

// A list of strings with change notification (the items of combo and list boxes).
class TStrings : public TObject {
 public:
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& Strings(int32_t Index) const { return FItems.at(static_cast<size_t>(Index)); }
  const std::string& operator[](int32_t Index) const { return Strings(Index); }
  void SetStrings(int32_t Index, const std::string& Value);
  int32_t Add(const std::string& S);
  void Insert(int32_t Index, const std::string& S);
  void Delete(int32_t Index);
  void Clear();
  int32_t IndexOf(const std::string& S) const;
  void Assign(const std::vector<std::string>& Items);
  const std::vector<std::string>& Items() const { return FItems; }
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  TNotifyEvent OnChange;

 private:
  void Changed();
  std::vector<std::string> FItems;
  int32_t FUpdateCount = 0;
  bool FPending = false;
};

// Case-insensitive comparison of two component names.
bool SameName(const std::string& A, const std::string& B);

}  // namespace varnix
