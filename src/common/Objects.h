// The object model every Varnix module is written in.
//
// Two kinds of objects implement interfaces:
//   * reference-counted objects (`TInterfacedObject`): held through `InterfacePtr<I>` and freed
//     when the last reference is released;
//   * owner-managed objects (`TOwnedObject`, in CommonClasses.h): `_AddRef`/`_Release` do nothing
//     and answer -1, so the code that created the object frees it explicitly.
// Plain objects (bitmaps, containers) derive from `TObject` or from nothing and have one owner.
//
// Interfaces derive virtually from `IUnknown` and carry their identifier as `IID`:
//
//     struct IProgressReporter : virtual IUnknown {
//       static constexpr TGUID IID = {0x..., 0x..., 0x..., {...}};
//       virtual void Cancel() = 0;
//       virtual float GetProgress() = 0;
//     };
//
// A class lists the interfaces it implements by overriding `GetInterface`:
//
//     class TFoo : public TInterfacedObject, public IProgressReporter {
//       bool GetInterface(const TGUID& IID, void** Obj) override {
//         return FindInterface<IProgressReporter>(this, IID, Obj) ||
//                TInterfacedObject::GetInterface(IID, Obj);
//       }
//     };
//
// Objects whose construction must be complete before they act (threads) are created with
// `NewObject<T>(args...)`, which calls `AfterConstruction()` once the most derived constructor has
// returned. Every class of the system may be created that way; it costs one virtual call.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace varnix {

// A 128-bit interface identifier, written like {D1-D2-D3-D4[0..1]-D4[2..7]}.
struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];

  friend constexpr bool operator==(const TGUID& A, const TGUID& B) {
    if (A.D1 != B.D1 || A.D2 != B.D2 || A.D3 != B.D3) return false;
    for (int i = 0; i < 8; ++i)
      if (A.D4[i] != B.D4[i]) return false;
    return true;
  }
};

using HResult = int32_t;
inline constexpr HResult S_OK = 0;
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);

// The root of every interface.
struct IUnknown {
  // {00000000-0000-0000-C000-000000000046}
  static constexpr TGUID IID = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

  // Looks IID up among the interfaces the object implements: S_OK and the interface (with a
  // reference added) when found, otherwise E_NOINTERFACE and *Obj = nullptr.
  virtual HResult QueryInterface(const TGUID& IID, void** Obj) = 0;
  virtual int32_t _AddRef() = 0;
  virtual int32_t _Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// The common root object.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  // Runs once after the most derived constructor has returned (see NewObject).
  virtual void AfterConstruction() {}
  // Runs before the destructor of the most derived class when the object is freed with Free (or
  // through TObjectDeleter). A thread waits for its worker here, while the whole object is alive.
  virtual void BeforeDestruction() {}
};

// Frees Obj (nothing when it is null): BeforeDestruction, then the destructor.
inline void Free(TObject* Obj) {
  if (Obj) {
    Obj->BeforeDestruction();
    delete Obj;
  }
}

// Frees Obj and sets the pointer to null.
template <class T>
void FreeAndNil(T*& Obj) {
  T* P = Obj;
  Obj = nullptr;
  Free(P);
}

// A deleter for std::unique_ptr that frees through Free.
struct TObjectDeleter {
  void operator()(TObject* Obj) const { Free(Obj); }
};
template <class T>
using TOwned = std::unique_ptr<T, TObjectDeleter>;

// A notification bound to an object: called with the object that changed or was acted on.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Creates a T and runs its AfterConstruction. The caller owns the result (for reference-counted
// objects: wrap it into an InterfacePtr, which takes the first reference).
template <class T, class... Args>
T* NewObject(Args&&... args) {
  T* Obj = new T(std::forward<Args>(args)...);
  if constexpr (std::is_base_of_v<TObject, T>) {
    try {
      Obj->AfterConstruction();
    } catch (...) {
      Free(Obj);
      throw;
    }
  }
  return Obj;
}

// Helper for GetInterface overrides: stores the matching interface of Self into *Obj.
template <class... Interfaces, class Self>
bool FindInterface(Self* Obj, const TGUID& IID, void** Out) {
  return ((IID == Interfaces::IID ? (*Out = static_cast<Interfaces*>(Obj), true) : false) || ...);
}

// Base of objects that answer interface queries; it implements IUnknown's lookup and leaves the
// counting to the two concrete bases.
class TInterfaceBase : public TObject, public virtual IUnknown {
 public:
  HResult QueryInterface(const TGUID& IID, void** Obj) override;

 protected:
  // Stores the interface with identifier IID into *Obj without adding a reference; answers
  // whether the object implements it. Derived classes add their interfaces in front of the base.
  virtual bool GetInterface(const TGUID& IID, void** Obj);
};

// A reference-counted interface object: freed when the last reference is released. The count
// starts at 0; the first InterfacePtr takes it to 1.
class TInterfacedObject : public TInterfaceBase {
 public:
  int32_t _AddRef() override;
  int32_t _Release() override;
  int32_t RefCount() const { return FRefCount.load(std::memory_order_relaxed); }

 private:
  std::atomic<int32_t> FRefCount{0};
};

// A counted reference to an interface (copy adds a reference, destruction releases it).
// Empty state: nullptr.
template <class I>
class InterfacePtr {
 public:
  InterfacePtr() noexcept = default;
  InterfacePtr(std::nullptr_t) noexcept {}
  // Takes a reference to P (adding one).
  InterfacePtr(I* P) : FPtr(P) {
    if (FPtr) FPtr->_AddRef();
  }
  InterfacePtr(const InterfacePtr& Other) : InterfacePtr(Other.FPtr) {}
  InterfacePtr(InterfacePtr&& Other) noexcept : FPtr(std::exchange(Other.FPtr, nullptr)) {}
  template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
  InterfacePtr(const InterfacePtr<J>& Other) : InterfacePtr(static_cast<I*>(Other.Get())) {}
  ~InterfacePtr() { Reset(); }

  InterfacePtr& operator=(const InterfacePtr& Other) {
    InterfacePtr(Other).Swap(*this);
    return *this;
  }
  InterfacePtr& operator=(InterfacePtr&& Other) noexcept {
    InterfacePtr(std::move(Other)).Swap(*this);
    return *this;
  }
  InterfacePtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Wraps P without adding a reference (P came from QueryInterface, which added one).
  static InterfacePtr Attach(I* P) noexcept {
    InterfacePtr R;
    R.FPtr = P;
    return R;
  }

  void Reset() {
    if (I* P = std::exchange(FPtr, nullptr)) P->_Release();
  }
  void Swap(InterfacePtr& Other) noexcept { std::swap(FPtr, Other.FPtr); }
  I* Get() const noexcept { return FPtr; }
  I* operator->() const noexcept { return FPtr; }
  I& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  friend bool operator==(const InterfacePtr& A, const InterfacePtr& B) { return A.FPtr == B.FPtr; }
  friend bool operator==(const InterfacePtr& A, std::nullptr_t) { return A.FPtr == nullptr; }

 private:
  I* FPtr = nullptr;
};

// The base exception of the system: a message and a help context. The address of the code that
// raised it is kept for the exception trace.
class Exception : public std::exception {
 public:
  explicit Exception(std::string Msg, int32_t HelpContext = 0);
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string Msg) { FMessage = std::move(Msg); }
  int32_t HelpContext() const { return FHelpContext; }
  // Where the exception was raised (the caller of the constructor).
  void* ExceptAddr() const { return FExceptAddr; }
  // The class name shown in traces and error boxes ("Exception", "EOutOfMemory", ...).
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string FMessage;
  int32_t FHelpContext;
  void* FExceptAddr;
};

// Declares an exception class with its name, derived from Base, with Base's constructors.
#define VARNIX_DECLARE_EXCEPTION(Name, Base)                      \
  class Name : public Base {                                     \
   public:                                                       \
    using Base::Base;                                            \
    const char* ClassName() const override { return #Name; }     \
  }

// Heap exhaustion. Raised in place of std::bad_alloc wherever an allocation is made on behalf of
// image data.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
  explicit EOutOfMemory(std::string Msg) : Exception(std::move(Msg)) {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};

// A failed "as" query: the object does not implement the interface.
VARNIX_DECLARE_EXCEPTION(EIntfCastError, Exception);

// Queries Obj for interface I: an empty pointer when Obj is empty or does not implement it.
template <class I, class J>
InterfacePtr<I> Supports(J* Obj) {
  if (!Obj) return nullptr;
  void* P = nullptr;
  if (Obj->QueryInterface(I::IID, &P) != S_OK) return nullptr;
  return InterfacePtr<I>::Attach(static_cast<I*>(P));
}
template <class I, class J>
InterfacePtr<I> Supports(const InterfacePtr<J>& Obj) {
  return Supports<I>(Obj.Get());
}

// The checked "as": queries Obj for I and raises EIntfCastError when it is not implemented.
template <class I, class J>
InterfacePtr<I> As(J* Obj) {
  InterfacePtr<I> R = Supports<I>(Obj);
  if (!R) throw EIntfCastError("Interface not supported");
  return R;
}
template <class I, class J>
InterfacePtr<I> As(const InterfacePtr<J>& Obj) {
  return As<I>(Obj.Get());
}

// Runs an allocation and turns std::bad_alloc (and length errors from impossible sizes) into
// EOutOfMemory.
template <class F>
auto GuardAllocation(F&& Fn) -> decltype(Fn()) {
  try {
    return Fn();
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  } catch (const std::length_error&) {
    throw EOutOfMemory();
  }
}

}  // namespace varnix
