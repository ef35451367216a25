#pragma once
// The host side of in-process servers: find a class in the registry, load its library,
// get its class factory and create the object inside a parent widget.
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComServer.h"

// One loaded control library with its four exports resolved.
class InprocLibrary {
 public:
  // Loads path; nullptr with *error set when it cannot be loaded or lacks an export.
  static std::shared_ptr<InprocLibrary> Load(const std::string& path, std::string* error = nullptr);
  ~InprocLibrary();

  const std::string& Path() const { return path_; }
  HRESULT GetClassObject(const TGUID& clsid, const TGUID& iid, void** out) const noexcept;
  HRESULT CanUnloadNow() const noexcept;
  HRESULT RegisterServer() const noexcept;
  HRESULT UnregisterServer() const noexcept;

 private:
  InprocLibrary() = default;
  std::string path_;
  void* handle_ = nullptr;
  DllGetClassObjectFn getClassObject_ = nullptr;
  DllCanUnloadNowFn canUnloadNow_ = nullptr;
  DllRegisterServerFn register_ = nullptr;
  DllUnregisterServerFn unregister_ = nullptr;
};

// Libraries stay loaded in a process-wide table (one load per path) until
// FreeUnusedLibraries finds that they can unload.
std::shared_ptr<InprocLibrary> LoadInprocLibrary(const std::string& path, std::string* error = nullptr);
void FreeUnusedLibraries();

// REGDB_E_CLASSNOTREG when the class is not in the registry, CO_E_DLLNOTFOUND when its
// library cannot be loaded, else what the library answers. *error says why on failure.
HRESULT GetClassObjectFromRegistry(const Registry& registry, const TGUID& clsid, const TGUID& iid,
                                   void** out, std::string* error = nullptr);
// The class factory's CreateInstance with parent.
HRESULT CreateInstanceFromRegistry(const Registry& registry, const TGUID& clsid, QWidget* parent,
                                   const TGUID& iid, void** out, std::string* error = nullptr);
