#include "platform/com/ComServer.h"

#include <atomic>

#include "platform/Guard.h"

namespace {
std::atomic<long> objects{0};
std::atomic<long> locks{0};
}  // namespace

namespace ComServer {
long ObjectCount() { return objects; }
long LockCount() { return locks; }
void ObjectCreated() { ++objects; }
void ObjectDestroyed() { --objects; }
HRESULT CanUnloadNow() { return objects == 0 && locks == 0 ? S_OK : S_FALSE; }
}  // namespace ComServer

ComPtr<IClassFactory> ClassFactory::Create(const TGUID& clsid, Creator create) {
  return ComPtr<IClassFactory>::Attach(new ClassFactory(clsid, std::move(create)));
}

ClassFactory::ClassFactory(const TGUID& clsid, Creator create) : clsid_(clsid), create_(std::move(create)) {}

HRESULT ClassFactory::QueryInterface(const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  *out = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG ClassFactory::AddRef() { return ++refs_; }

ULONG ClassFactory::Release() {
  ULONG r = --refs_;
  if (r == 0) delete this;
  return r;
}

HRESULT ClassFactory::CreateInstance(QWidget* parent, const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  IUnknown* object = nullptr;
  HRESULT hr = GuardedCall([&] { object = create_(parent); });
  if (Failed(hr)) return hr;
  if (!object) return E_UNEXPECTED;
  hr = object->QueryInterface(iid, out);
  object->Release();  // the caller's reference (if any) now keeps it alive
  return hr;
}

HRESULT ClassFactory::LockServer(bool lock) {
  if (lock) {
    ++locks;
  } else if (locks > 0) {
    --locks;
  }
  return S_OK;
}
