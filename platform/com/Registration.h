#pragma once
// What DllRegisterServer and DllUnregisterServer write and remove, and how a host finds
// a class's library again. All keys live under HKEY_CLASSES_ROOT in the registry file.
#include <string>
#include <vector>

#include "core/Guid.h"
#include "platform/Registry.h"
#include "platform/com/ComTypes.h"

struct InterfaceRegistration {
  TGUID iid;
  std::string name;  // "ITarvoX"
};

struct ServerRegistration {
  TGUID clsid;
  std::string description;  // the class's default value, e.g. "TarvoX Control"
  std::string progId;       // e.g. "TarvoProj.TarvoX"
  std::string libraryPath;  // empty: the shared library holding the registration code
  std::string threadingModel = "Apartment";
  uint32_t miscStatus = 0;  // e.g. 0x12000, written as decimal text as the system expects
  int toolboxBitmap = 1;    // resource number, written as "<library>,<n>"
  bool isControl = true;    // writes the "Control" marker key
  TGUID typeLibId;
  std::string typeLibVersion = "1.0";
  std::string typeLibHelp;  // e.g. "TarvoProj Library"
  std::vector<InterfaceRegistration> interfaces;
};

// Writes the registration into the registry file at registryPath (default: the
// registry's default path) under its lock. S_OK, or SELFREG_E_CLASS when the file
// cannot be read (corrupt) or written; *message says why.
HRESULT RegisterServer(const ServerRegistration& reg, const std::string& registryPath = {},
                       std::string* message = nullptr) noexcept;
// Removes exactly what RegisterServer wrote; keys that are already gone are no error.
HRESULT UnregisterServer(const ServerRegistration& reg, const std::string& registryPath = {},
                         std::string* message = nullptr) noexcept;
// Registry key names used by both sides.
std::string ClsidKey(const TGUID& clsid);  // "HKEY_CLASSES_ROOT\\CLSID\\{...}"

// The absolute path of the shared object (or program) that contains address.
std::string ModulePathOf(const void* address);

struct InprocServerInfo {
  std::string library;
  std::string threadingModel;
  uint32_t miscStatus = 0;
  std::string progId;
};
// Reads a class's registration; false when the class or its library is not registered.
bool FindInprocServer(const Registry& registry, const TGUID& clsid, InprocServerInfo& out);
bool ClsidFromProgId(const Registry& registry, const std::string& progId, TGUID& out);
