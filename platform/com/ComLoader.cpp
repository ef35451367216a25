#include "platform/com/ComLoader.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/Guard.h"
#include "platform/com/Registration.h"

namespace {
std::mutex tableMutex;
// Never destroyed: closing a library during exit would run its code after the
// objects it relies on (the application, Qt) are gone.
std::map<std::string, std::shared_ptr<InprocLibrary>>& Table() {
  static auto* t = new std::map<std::string, std::shared_ptr<InprocLibrary>>;
  return *t;
}
}  // namespace

std::shared_ptr<InprocLibrary> InprocLibrary::Load(const std::string& path, std::string* error) {
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    if (error) {
      const char* e = dlerror();
      *error = e ? e : ("cannot load " + path);
    }
    return nullptr;
  }
  std::shared_ptr<InprocLibrary> lib(new InprocLibrary);
  lib->path_ = path;
  lib->handle_ = h;
  lib->getClassObject_ = reinterpret_cast<DllGetClassObjectFn>(dlsym(h, "DllGetClassObject"));
  lib->canUnloadNow_ = reinterpret_cast<DllCanUnloadNowFn>(dlsym(h, "DllCanUnloadNow"));
  lib->register_ = reinterpret_cast<DllRegisterServerFn>(dlsym(h, "DllRegisterServer"));
  lib->unregister_ = reinterpret_cast<DllUnregisterServerFn>(dlsym(h, "DllUnregisterServer"));
  if (!lib->getClassObject_ || !lib->canUnloadNow_) {
    if (error) *error = path + " does not export DllGetClassObject and DllCanUnloadNow";
    return nullptr;  // the destructor closes the handle
  }
  return lib;
}

InprocLibrary::~InprocLibrary() {
  if (handle_) dlclose(handle_);
}

HRESULT InprocLibrary::GetClassObject(const TGUID& clsid, const TGUID& iid, void** out) const noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  return getClassObject_(clsid, iid, out);
}

HRESULT InprocLibrary::CanUnloadNow() const noexcept { return canUnloadNow_(); }

HRESULT InprocLibrary::RegisterServer() const noexcept { return register_ ? register_() : E_NOTIMPL; }

HRESULT InprocLibrary::UnregisterServer() const noexcept { return unregister_ ? unregister_() : E_NOTIMPL; }

std::shared_ptr<InprocLibrary> LoadInprocLibrary(const std::string& path, std::string* error) {
  std::lock_guard lock(tableMutex);
  auto it = Table().find(path);
  if (it != Table().end()) return it->second;
  auto lib = InprocLibrary::Load(path, error);
  if (lib) Table()[path] = lib;
  return lib;
}

void FreeUnusedLibraries() {
  std::lock_guard lock(tableMutex);
  for (auto it = Table().begin(); it != Table().end();) {
    // A library still held elsewhere (use_count > 1) is not ours to close.
    if (it->second.use_count() == 1 && it->second->CanUnloadNow() == S_OK) {
      it = Table().erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT GetClassObjectFromRegistry(const Registry& registry, const TGUID& clsid, const TGUID& iid, void** out,
                                   std::string* error) {
  if (!out) return E_POINTER;
  *out = nullptr;
  InprocServerInfo info;
  if (!FindInprocServer(registry, clsid, info)) {
    if (error) *error = "class " + GUIDToString(clsid) + " is not registered";
    return REGDB_E_CLASSNOTREG;
  }
  auto lib = LoadInprocLibrary(info.library, error);
  if (!lib) return CO_E_DLLNOTFOUND;
  HRESULT hr = lib->GetClassObject(clsid, iid, out);
  if (Failed(hr) && error) *error = info.library + " has no class object for " + GUIDToString(clsid) + " (" + HResultText(hr) + ")";
  return hr;
}

HRESULT CreateInstanceFromRegistry(const Registry& registry, const TGUID& clsid, QWidget* parent, const TGUID& iid,
                                   void** out, std::string* error) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetClassObjectFromRegistry(registry, clsid, IID_IClassFactory, factory.PutVoid(), error);
  if (Failed(hr)) return hr;
  hr = factory->CreateInstance(parent, iid, out);
  if (Failed(hr) && error) *error = "creating " + GUIDToString(clsid) + " failed (" + HResultText(hr) + ")";
  return hr;
}
