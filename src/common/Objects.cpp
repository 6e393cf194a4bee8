#include "common/Objects.h"

namespace varnix {

HResult TInterfaceBase::QueryInterface(const TGUID& IID, void** Obj) {
  void* P = nullptr;
  if (GetInterface(IID, &P)) {
    _AddRef();  // the object counts once, whichever of its interfaces was asked for
    *Obj = P;
    return S_OK;
  }
  *Obj = nullptr;
  return E_NOINTERFACE;
}

bool TInterfaceBase::GetInterface(const TGUID& IID, void** Obj) {
  if (IID == IUnknown::IID) {
    *Obj = static_cast<IUnknown*>(this);
    return true;
  }
  return false;
}

int32_t TInterfacedObject::_AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

int32_t TInterfacedObject::_Release() {
  const int32_t Count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (Count == 0) delete this;
  return Count;
}

// noinline keeps the caller's frame, so the return address is the raising code.
__attribute__((noinline)) Exception::Exception(std::string Msg, int32_t HelpContext)
    : FMessage(std::move(Msg)), FHelpContext(HelpContext), FExceptAddr(__builtin_return_address(0)) {}

}  // namespace varnix
