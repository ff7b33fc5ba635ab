// The IUnknown part that the stand-in's COM objects share.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace netrig {

struct Offered {
  const IID* iid;
  IUnknown* as;  // the object seen as that interface
};

// QueryInterface: the object as the interface asked for, with a reference, if it offers it.
inline HRESULT Offer(REFIID riid, void** ppv, std::initializer_list<Offered> offers) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  for (const Offered& o : offers) {
    if (riid == *o.iid) {
      o.as->AddRef();
      *ppv = o.as;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// A reference count that starts at one and deletes its owner when it drops to zero.
class RefCount {
 public:
  ULONG Add() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  template <typename Owner>
  ULONG Drop(Owner* owner) {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0)
      delete owner;
    return static_cast<ULONG>(n);
  }

 private:
  LONG refs_ = 1;
};

}  // namespace netrig
