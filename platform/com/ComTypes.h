#pragma once
// Result codes, dispatch ids and the basic interfaces of the in-process object layer
// that stands in for COM. Objects are reference counted, interfaces are found through
// QueryInterface by GUID, and every call across the library boundary returns an HRESULT.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Guid.h"

using HRESULT = int32_t;
using DISPID = int32_t;
using ULONG = uint32_t;

constexpr HRESULT MakeHResult(uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);

constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
constexpr HRESULT SELFREG_E_TYPELIB = MakeHResult(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

// Invoke kinds; a property put may also be flagged as a method call by some callers.
constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 4;
constexpr uint16_t DISPATCH_PROPERTYPUTREF = 8;

constexpr DISPID DISPID_UNKNOWN = -1;

// Interface ids of this layer (our own numbers: nothing outside the system binds to them).
constexpr TGUID MakeIid(uint16_t n) {
  return TGUID{0x7A1C0000u + n, 0x5E1B, 0x4C9E, {0x9F, 0x3A, 0x0D, 0x6B, 0x2E, 0x4A, 0x7C, 0x01}};
}
inline constexpr TGUID IID_IUnknown = MakeIid(0);
inline constexpr TGUID IID_IDispatch = MakeIid(1);
inline constexpr TGUID IID_IClassFactory = MakeIid(2);
inline constexpr TGUID IID_IEventSource = MakeIid(3);
inline constexpr TGUID IID_IEventSink = MakeIid(4);
inline constexpr TGUID IID_IWidgetObject = MakeIid(5);

// For GUID constants written as text; aborts on a malformed one (a defect in the source).
TGUID GuidOf(std::string_view braced);

// Text form of a result for messages and logs: "0x80020009".
std::string HResultText(HRESULT hr);

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const TGUID& iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};
