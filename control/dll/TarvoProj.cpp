// The exports of libTarvoProj.so: the class object of TarvoX, the unload
// check and self-registration in the registry file.
#include "control/tarvox/TarvoImpl.h"
#include "control/tarvox/TarvoProj_TLB.h"
#include "platform/com/ComServer.h"
#include "platform/com/Registration.h"

namespace {

ServerRegistration TarvoXRegistration() {
  ServerRegistration reg;
  reg.clsid = TarvoProj::CLASS_TarvoX;
  reg.description = TarvoProj::kCoClassHelp;
  reg.progId = TarvoProj::kProgId;
  reg.threadingModel = "Apartment";
  reg.miscStatus = TarvoProj::kMiscStatus;
  reg.toolboxBitmap = 1;
  reg.isControl = true;
  reg.typeLibId = TarvoProj::LIBID_TarvoProj;
  reg.typeLibVersion = TarvoProj::kLibraryVersion;
  reg.typeLibHelp = TarvoProj::kLibraryHelp;
  reg.interfaces = {{TarvoProj::IID_ITarvoX, "ITarvoX"}, {TarvoProj::DIID_ITarvoXEvents, "ITarvoXEvents"}};
  return reg;
}

}  // namespace

TARVO_COM_EXPORT HRESULT DllGetClassObject(const TGUID& clsid, const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != TarvoProj::CLASS_TarvoX) return CLASS_E_CLASSNOTAVAILABLE;
  return TarvoXFactory()->QueryInterface(iid, out);
}

TARVO_COM_EXPORT HRESULT DllCanUnloadNow() { return ComServer::CanUnloadNow(); }

TARVO_COM_EXPORT HRESULT DllRegisterServer() { return RegisterServer(TarvoXRegistration()); }

TARVO_COM_EXPORT HRESULT DllUnregisterServer() { return UnregisterServer(TarvoXRegistration()); }
