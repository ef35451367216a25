#pragma once
// Outgoing events: the page hands the control an event sink (Advise), and the control
// fires events by dispid and name through an EventConnection. Without a sink an event
// is lost, which is how a page that connects late misses the events fired before.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/ComTypes.h"
#include "platform/com/Variant.h"

struct EventArg {
  std::string name;  // the parameter's declared name, e.g. "Table"
  Variant value;     // by-reference values may be changed by the sink
};

// Implemented by the page.
class IEventSink : public IUnknown {
 public:
  virtual HRESULT Invoke(DISPID dispid, const std::string& name, std::vector<EventArg>& args) = 0;
};

// Implemented by an object with outgoing events (one connection point).
class IEventSource : public IUnknown {
 public:
  virtual HRESULT Advise(IEventSink* sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;
};

// The connection point a control embeds. It takes one sink at a time
// (CONNECT_E_ADVISELIMIT for a second one), as the control's event interface allows.
class EventConnection {
 public:
  HRESULT Advise(IEventSink* sink, uint32_t* cookie);
  HRESULT Unadvise(uint32_t cookie);
  bool Connected() const { return static_cast<bool>(sink_); }
  IEventSink* Sink() const { return sink_.Get(); }

  // Synchronous. S_FALSE when no sink is connected (the event is lost); a sink's failure
  // or exception is returned or swallowed, never thrown to the firer.
  HRESULT Fire(DISPID dispid, const std::string& name, std::vector<EventArg>& args);
  HRESULT Fire(DISPID dispid, const std::string& name);

  // Called with the new sink (or null) whenever it changes.
  std::function<void(IEventSink*)> OnSinkChanged;

 private:
  ComPtr<IEventSink> sink_;
  uint32_t cookie_ = 0;
  uint32_t nextCookie_ = 1;
};

// A sink made of a callable, for pages and tests written in C++.
class FunctionEventSink : public IEventSink {
 public:
  using Handler = std::function<void(DISPID, const std::string&, std::vector<EventArg>&)>;
  static ComPtr<IEventSink> Create(Handler h);

  HRESULT QueryInterface(const TGUID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Invoke(DISPID dispid, const std::string& name, std::vector<EventArg>& args) override;

 private:
  explicit FunctionEventSink(Handler h) : handler_(std::move(h)) {}
  ~FunctionEventSink() override = default;
  ULONG refs_ = 1;
  Handler handler_;
};
