#pragma once
// Late-bound calls by name and dispid, as a page makes them. A DispatchObject answers
// GetIDsOfNames and Invoke from a DispatchTable of members declared by name and dispid;
// no exception ever leaves Invoke (it becomes DISP_E_EXCEPTION with the message).
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/ComTypes.h"
#include "platform/com/Variant.h"

// What a failed call reports besides its result (DISP_E_EXCEPTION).
struct ExcepInfo {
  HRESULT scode = S_OK;
  BSTR source;
  BSTR description;
};

class IDispatch : public IUnknown {
 public:
  // names[0] is the member, the rest its parameter names; matched case-insensitively.
  // Unknown names get DISPID_UNKNOWN and the call returns DISP_E_UNKNOWNNAME.
  virtual HRESULT GetIDsOfNames(const BSTR* names, size_t count, DISPID* ids) = 0;
  // args are in call order (first argument first); a put or putref carries the new
  // value as its only argument. result and excep may be null.
  virtual HRESULT Invoke(DISPID id, uint16_t flags, std::vector<Variant>& args, Variant* result,
                         ExcepInfo* excep) = 0;
};

// Convenience for callers: GetIDsOfNames + Invoke by member name; the message of a
// DISP_E_EXCEPTION goes to *message (code page 936).
HRESULT InvokeByName(IDispatch* d, std::u16string_view name, uint16_t flags,
                     std::vector<Variant> args, Variant* result = nullptr,
                     AnsiString* message = nullptr);

class DispatchTable {
 public:
  using Getter = std::function<Variant()>;
  using Setter = std::function<void(const Variant&)>;
  using MethodFn = std::function<Variant(std::vector<Variant>& args)>;

  struct Member {
    std::string name;  // ASCII
    DISPID dispid = DISPID_UNKNOWN;
    bool isMethod = false;
    VARTYPE type = VT_VARIANT;       // property type, or a method's result type
    std::vector<VARTYPE> params;     // a method's parameter types (VT_VARIANT: any)
    Getter get;
    Setter put;
    Setter putref;
    MethodFn call;
  };

  // Puts and putrefs receive the value already converted to type. A property without a
  // getter (or setter) answers DISP_E_MEMBERNOTFOUND for that access.
  DispatchTable& Property(std::string name, DISPID id, VARTYPE type, Getter get,
                          Setter put = {}, Setter putref = {});
  // Arguments arrive converted to the declared parameter types (by-reference
  // parameters must be passed by reference of that type).
  DispatchTable& Method(std::string name, DISPID id, std::vector<VARTYPE> params, MethodFn fn,
                        VARTYPE result = VT_EMPTY);

  const Member* Find(DISPID id) const;
  const Member* Find(std::u16string_view name) const;  // case-insensitive (ASCII)
  // In declaration order, which is the interface's member order.
  const std::vector<Member>& Members() const { return members_; }

 private:
  std::vector<Member> members_;
};

// Reference-counted dispatch object. Subclasses fill Table() in their constructor and
// answer further interfaces through QueryExtra.
class DispatchObject : public IDispatch {
 public:
  HRESULT QueryInterface(const TGUID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetIDsOfNames(const BSTR* names, size_t count, DISPID* ids) override;
  HRESULT Invoke(DISPID id, uint16_t flags, std::vector<Variant>& args, Variant* result,
                 ExcepInfo* excep) override;

  const DispatchTable& Table() const { return table_; }

 protected:
  // source names the object in the ExcepInfo of a failed call.
  explicit DispatchObject(std::string source = {});
  ~DispatchObject() override = default;
  DispatchTable& Table() { return table_; }
  // Further interfaces (without AddRef: the caller adds the reference).
  virtual void* QueryExtra(const TGUID& iid) { return nullptr; }

 private:
  HRESULT InvokeMember(DISPID id, uint16_t flags, std::vector<Variant>& args, Variant* result,
                       ExcepInfo* excep);
  std::atomic<ULONG> refs_{1};
  std::string source_;
  DispatchTable table_;
};

// Creates a DispatchObject subclass with its first reference held by the result.
template <class T, class... A>
ComPtr<T> MakeCom(A&&... a) {
  return ComPtr<T>::Attach(new T(std::forward<A>(a)...));
}
