// A small control served the way the real one is: registered into the registry file,
// created through its class factory inside the host's widget, answering dispatch calls
// and firing events to the host's sink. It fires OnDoLogin when first shown, OnAfterLogin
// 100 ms after Login (once SetServer was called), and OnDoit with GetStream's database
// and record ID (for the database "relogin" followed by another OnAfterLogin).
#include "tests/platform/FakeControl.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/com/ComServer.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"
#include "platform/com/Registration.h"

namespace {

class FakeWidget : public QWidget {
 public:
  using QWidget::QWidget;
  std::function<void()> onFirstShow;

 protected:
  void showEvent(QShowEvent*) override {
    if (shown_) return;
    shown_ = true;
    Guarded([&] {
      if (onFirstShow) onFirstShow();
    });
  }

 private:
  bool shown_ = false;
};

class FakeControl : public DispatchObject, public IEventSource, public IWidgetObject {
 public:
  explicit FakeControl(QWidget* parent) : DispatchObject("FakeControl"), widget_(new FakeWidget(parent)) {
    widget_->resize(338, 44);
    widget_->onFirstShow = [this] { events_.Fire(8, "OnDoLogin"); };
    Table()
        .Property("Caption", -518, VT_BSTR, [this] { return Variant::FromAnsi(caption_); },
                  [this](const Variant& v) { caption_ = v.AsAnsi(); })
        .Property("RemoteHost", 26, VT_BSTR, [this] { return Variant::FromAnsi(host_); })
        .Property("Visible", 1, VT_BOOL, [this] { return Variant(widget_ && widget_->isVisible()); })
        .Method("SetServer", 28, {VT_BSTR, VT_BSTR},
                [this](std::vector<Variant>& a) {
                  if (a[0].AsAnsi().empty() || a[1].AsAnsi().empty()) return Variant();
                  host_ = a[0].AsAnsi();
                  port_ = StrToInt(a[1].AsAnsi());
                  return Variant();
                })
        .Method("Login", 15, {VT_BSTR},
                [this](std::vector<Variant>& a) {
                  if (a[0].AsAnsi().empty() || host_.empty()) return Variant();
                  QPointer<QWidget> w = widget_.data();
                  AddRef();  // kept alive until the timer has fired
                  QTimer::singleShot(100, [this, w] {
                    if (w) events_.Fire(10, "OnAfterLogin");
                    Release();
                  });
                  return Variant();
                })
        .Method("GetStream", 25, std::vector<VARTYPE>(7, VT_BSTR),
                [this](std::vector<Variant>& a) {
                  StrToInt(a[4].AsAnsi());  // the object number must be numeric
                  std::vector<EventArg> args{{"Table", a[0]}, {"ID", a[1]}};
                  events_.Fire(4, "OnDoit", args);
                  // As a refused login does: the request turns into another login.
                  if (a[0].AsAnsi() == "relogin") QTimer::singleShot(10, widget_, [this] { events_.Fire(10, "OnAfterLogin"); });
                  return Variant();
                })
        .Method("GetFlowChart", 17, {VT_BSTR},
                [this](std::vector<Variant>& a) {
                  std::vector<EventArg> args{{"Table", Variant::FromAnsi("flow")}, {"ID", a[0]}};
                  events_.Fire(4, "OnDoit", args);
                  return Variant();
                })
        .Method("PressKey", 100, {VT_I2},
                [this](std::vector<Variant>& a) {
                  int16_t key = a[0].AsI2();
                  std::vector<EventArg> args{{"Key", Variant::ByRef(&key)}};
                  events_.Fire(11, "OnKeyPress", args);
                  return Variant(key);
                },
                VT_I2);
  }

  HRESULT QueryInterface(const TGUID& iid, void** out) override { return DispatchObject::QueryInterface(iid, out); }
  ULONG AddRef() override { return DispatchObject::AddRef(); }
  ULONG Release() override { return DispatchObject::Release(); }
  HRESULT Advise(IEventSink* sink, uint32_t* cookie) override { return events_.Advise(sink, cookie); }
  HRESULT Unadvise(uint32_t cookie) override { return events_.Unadvise(cookie); }
  QWidget* Widget() override { return widget_; }

 protected:
  void* QueryExtra(const TGUID& iid) override {
    if (iid == IID_IEventSource) return static_cast<IEventSource*>(this);
    if (iid == IID_IWidgetObject) return static_cast<IWidgetObject*>(this);
    if (iid == IID_IFakeControl) return static_cast<IDispatch*>(this);
    return nullptr;
  }
  ~FakeControl() override { delete widget_.data(); }

 private:
  ServerObjectCount count_;
  QPointer<FakeWidget> widget_;
  EventConnection events_;
  AnsiString caption_ = "FakeControl";
  AnsiString host_;
  int port_ = 0;
};

ServerRegistration Registration() {
  ServerRegistration r;
  r.clsid = CLSID_FakeControl;
  r.description = "TarvoX Control";
  r.progId = kFakeProgId;
  r.miscStatus = 0x12000;
  r.typeLibId = LIBID_FakeControl;
  r.typeLibHelp = "TarvoProj Library";
  r.interfaces = {{IID_IFakeControl, "ITarvoX"}};
  return r;
}

}  // namespace

TARVO_COM_EXPORT HRESULT DllGetClassObject(const TGUID& clsid, const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_FakeControl) return CLASS_E_CLASSNOTAVAILABLE;
  auto factory = ClassFactory::Create(clsid, [](QWidget* parent) -> IUnknown* {
    return static_cast<IDispatch*>(new FakeControl(parent));
  });
  return factory->QueryInterface(iid, out);
}

TARVO_COM_EXPORT HRESULT DllCanUnloadNow() { return ComServer::CanUnloadNow(); }
TARVO_COM_EXPORT HRESULT DllRegisterServer() { return RegisterServer(Registration()); }
TARVO_COM_EXPORT HRESULT DllUnregisterServer() { return UnregisterServer(Registration()); }
