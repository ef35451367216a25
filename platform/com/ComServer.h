#pragma once
// The in-process server side: class factories, the object and lock counts behind
// DllCanUnloadNow, and the four functions a control library exports.
#include <functional>

#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"

class QWidget;

// Creates the control as a child of parent (the page's window).
class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(QWidget* parent, const TGUID& iid, void** out) = 0;
  virtual HRESULT LockServer(bool lock) = 0;
};

// A control answers QueryInterface for IID_IDispatch (its properties and methods),
// IID_IEventSource (its events) and IID_IWidgetObject; the host finds it through the
// ProgID "TarvoProj.TarvoX" that DllRegisterServer writes.
//
// Answered by a control so its host can place and size it.
class IWidgetObject : public IUnknown {
 public:
  virtual QWidget* Widget() = 0;
};

// Counts of the library this code is linked into (each library has its own copy).
namespace ComServer {
long ObjectCount();
long LockCount();
void ObjectCreated();
void ObjectDestroyed();
// S_OK when no object is alive and no lock is held, else S_FALSE.
HRESULT CanUnloadNow();
}  // namespace ComServer

// Member of every object a server hands out, so that the library stays loaded while
// the object lives.
class ServerObjectCount {
 public:
  ServerObjectCount() { ComServer::ObjectCreated(); }
  ServerObjectCount(const ServerObjectCount&) : ServerObjectCount() {}
  ServerObjectCount& operator=(const ServerObjectCount&) = default;
  ~ServerObjectCount() { ComServer::ObjectDestroyed(); }
};

// A factory for one class id. create returns a new object holding one reference, or
// throws; the factory answers iid through QueryInterface and releases that reference.
// A live factory keeps its library loaded, so a host may hold it without LockServer.
class ClassFactory final : public IClassFactory {
 public:
  using Creator = std::function<IUnknown*(QWidget* parent)>;
  static ComPtr<IClassFactory> Create(const TGUID& clsid, Creator create);
  const TGUID& Clsid() const { return clsid_; }

  HRESULT QueryInterface(const TGUID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateInstance(QWidget* parent, const TGUID& iid, void** out) override;
  HRESULT LockServer(bool lock) override;

 private:
  ClassFactory(const TGUID& clsid, Creator create);
  ~ClassFactory() override = default;
  ServerObjectCount count_;
  TGUID clsid_;
  Creator create_;
  ULONG refs_ = 1;
};

// Signatures of the exports. A control library defines them with TARVO_COM_EXPORT:
//   TARVO_COM_EXPORT HRESULT DllGetClassObject(const TGUID& clsid, const TGUID& iid, void** out);
//   TARVO_COM_EXPORT HRESULT DllCanUnloadNow();
//   TARVO_COM_EXPORT HRESULT DllRegisterServer();
//   TARVO_COM_EXPORT HRESULT DllUnregisterServer();
// DllGetClassObject answers CLASS_E_CLASSNOTAVAILABLE for a class it does not serve.
#define TARVO_COM_EXPORT extern "C" __attribute__((visibility("default")))
using DllGetClassObjectFn = HRESULT (*)(const TGUID& clsid, const TGUID& iid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
