#include "platform/com/Registration.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "core/SysUtils.h"
#include "platform/Guard.h"

namespace {

const std::string kRoot = "HKEY_CLASSES_ROOT\\";

std::string G(const TGUID& g) { return GUIDToString(g); }

std::string TypeLibKey(const TGUID& libid) { return kRoot + "TypeLib\\" + G(libid); }
std::string InterfaceKey(const TGUID& iid) { return kRoot + "Interface\\" + G(iid); }

void Write(Registry& r, const ServerRegistration& reg, const std::string& library) {
  const std::string cls = ClsidKey(reg.clsid);
  r.WriteString(cls, "", reg.description);
  r.WriteString(cls + "\\InprocServer32", "", library);
  r.WriteString(cls + "\\InprocServer32", "ThreadingModel", reg.threadingModel);
  if (!reg.progId.empty()) {
    r.WriteString(cls + "\\ProgID", "", reg.progId);
    r.WriteString(kRoot + reg.progId, "", reg.description);
    r.WriteString(kRoot + reg.progId + "\\Clsid", "", G(reg.clsid));
  }
  r.WriteString(cls + "\\TypeLib", "", G(reg.typeLibId));
  r.WriteString(cls + "\\Version", "", reg.typeLibVersion);
  // The status for the content aspect is what containers read.
  r.WriteString(cls + "\\MiscStatus", "", "0");
  r.WriteString(cls + "\\MiscStatus\\1", "", std::to_string(reg.miscStatus));
  if (reg.isControl) r.WriteString(cls + "\\Control", "", "");
  r.WriteString(cls + "\\ToolboxBitmap32", "", library + "," + std::to_string(reg.toolboxBitmap));

  const std::string lib = TypeLibKey(reg.typeLibId) + "\\" + reg.typeLibVersion;
  r.WriteString(lib, "", reg.typeLibHelp);
  r.WriteString(lib + "\\0\\linux", "", library);
  r.WriteString(lib + "\\FLAGS", "", "0");
  r.WriteString(lib + "\\HELPDIR", "", std::filesystem::path(library).parent_path().string());

  for (const InterfaceRegistration& i : reg.interfaces) {
    const std::string key = InterfaceKey(i.iid);
    r.WriteString(key, "", i.name);
    r.WriteString(key + "\\TypeLib", "", G(reg.typeLibId));
    r.WriteString(key + "\\TypeLib", "Version", reg.typeLibVersion);
  }
}

void Erase(Registry& r, const ServerRegistration& reg) {
  r.DeleteKey(ClsidKey(reg.clsid));
  if (!reg.progId.empty()) {
    // Only when the ProgID still names this class: another server may have taken it.
    const std::string pid = kRoot + reg.progId;
    if (!r.KeyExists(pid + "\\Clsid") || r.ReadString(pid + "\\Clsid", "") == G(reg.clsid)) r.DeleteKey(pid);
  }
  const std::string lib = TypeLibKey(reg.typeLibId);
  r.DeleteKey(lib + "\\" + reg.typeLibVersion);
  if (r.KeyExists(lib) && r.SubKeys(lib).empty() && r.ValueNames(lib).empty()) r.DeleteKey(lib);
  for (const InterfaceRegistration& i : reg.interfaces) r.DeleteKey(InterfaceKey(i.iid));
}

HRESULT Update(const std::string& registryPath, std::string* message, const std::function<void(Registry&)>& change) {
  std::string failure;
  AnsiString what;
  HRESULT hr = GuardedCall(
      [&] {
        Registry r(registryPath.empty() ? Registry::DefaultPath() : registryPath);
        RegistryLock lock(r.Path());
        r.Load();
        change(r);
        r.Save();
      },
      &what);
  if (message) {
    try {
      *message = Failed(hr) ? what : std::string();
    } catch (...) {
    }
  }
  return Failed(hr) ? SELFREG_E_CLASS : S_OK;
}

}  // namespace

std::string ClsidKey(const TGUID& clsid) { return kRoot + "CLSID\\" + G(clsid); }

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  std::string path;
  if (dladdr(address, &info) && info.dli_fname && *info.dli_fname) path = info.dli_fname;
  if (path.empty() || path.find('/') == std::string::npos) {
    // The main program is listed without a usable path.
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) path.assign(buf, static_cast<size_t>(n));
  }
  char real[PATH_MAX];
  if (!path.empty() && realpath(path.c_str(), real)) path = real;
  return path;
}

HRESULT RegisterServer(const ServerRegistration& reg, const std::string& registryPath, std::string* message) noexcept {
  std::string library;
  try {
    library = reg.libraryPath.empty() ? ModulePathOf(reinterpret_cast<const void*>(&RegisterServer)) : reg.libraryPath;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return Update(registryPath, message, [&](Registry& r) {
    Erase(r, reg);  // a stale registration must not leave keys of an older layout behind
    Write(r, reg, library);
  });
}

HRESULT UnregisterServer(const ServerRegistration& reg, const std::string& registryPath,
                         std::string* message) noexcept {
  return Update(registryPath, message, [&](Registry& r) { Erase(r, reg); });
}

bool FindInprocServer(const Registry& registry, const TGUID& clsid, InprocServerInfo& out) {
  const std::string cls = ClsidKey(clsid);
  std::string library = registry.ReadString(cls + "\\InprocServer32", "");
  if (library.empty()) return false;
  out.library = library;
  out.threadingModel = registry.ReadString(cls + "\\InprocServer32", "ThreadingModel");
  out.miscStatus = static_cast<uint32_t>(StrToIntDef(registry.ReadString(cls + "\\MiscStatus\\1", ""), 0));
  out.progId = registry.ReadString(cls + "\\ProgID", "");
  return true;
}

bool ClsidFromProgId(const Registry& registry, const std::string& progId, TGUID& out) {
  if (progId.empty()) return false;
  std::string text;
  try {
    text = registry.ReadString(kRoot + progId + "\\Clsid", "");
  } catch (const ERegistryException&) {
    return false;  // not a valid key name
  }
  return TryStringToGUID(text, out);
}
