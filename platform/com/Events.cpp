#include "platform/com/Events.h"

#include "platform/Guard.h"

HRESULT EventConnection::Advise(IEventSink* sink, uint32_t* cookie) {
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  if (sink_) return CONNECT_E_ADVISELIMIT;
  sink_ = ComPtr<IEventSink>(sink);
  cookie_ = nextCookie_++;
  *cookie = cookie_;
  if (OnSinkChanged) Guarded([&] { OnSinkChanged(sink_.Get()); });
  return S_OK;
}

HRESULT EventConnection::Unadvise(uint32_t cookie) {
  if (!sink_ || cookie != cookie_) return CONNECT_E_NOCONNECTION;
  // Released after the notification, so a sink that unadvises from inside an event
  // stays alive until that event returns.
  ComPtr<IEventSink> old = std::move(sink_);
  sink_ = nullptr;
  cookie_ = 0;
  if (OnSinkChanged) Guarded([&] { OnSinkChanged(nullptr); });
  return S_OK;
}

HRESULT EventConnection::Fire(DISPID dispid, const std::string& name, std::vector<EventArg>& args) {
  ComPtr<IEventSink> sink = sink_;  // the sink may unadvise while it runs
  if (!sink) return S_FALSE;
  HRESULT result = S_OK;
  HRESULT hr = GuardedCall([&] { result = sink->Invoke(dispid, name, args); });
  return Failed(hr) ? hr : result;
}

HRESULT EventConnection::Fire(DISPID dispid, const std::string& name) {
  std::vector<EventArg> none;
  return Fire(dispid, name, none);
}

ComPtr<IEventSink> FunctionEventSink::Create(Handler h) {
  return ComPtr<IEventSink>::Attach(new FunctionEventSink(std::move(h)));
}

HRESULT FunctionEventSink::QueryInterface(const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IEventSink) return E_NOINTERFACE;
  *out = static_cast<IEventSink*>(this);
  AddRef();
  return S_OK;
}

ULONG FunctionEventSink::AddRef() { return ++refs_; }

ULONG FunctionEventSink::Release() {
  ULONG r = --refs_;
  if (r == 0) delete this;
  return r;
}

HRESULT FunctionEventSink::Invoke(DISPID dispid, const std::string& name, std::vector<EventArg>& args) {
  AnsiString message;
  return GuardedCall([&] { handler_(dispid, name, args); }, &message);
}
