#include "platform/com/Dispatch.h"

#include "platform/Guard.h"

namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool NameEquals(std::string_view ascii, std::u16string_view name) {
  if (ascii.size() != name.size()) return false;
  for (size_t i = 0; i < ascii.size(); ++i)
    if (FoldAscii(static_cast<unsigned char>(ascii[i])) != FoldAscii(name[i])) return false;
  return true;
}

HRESULT Coerce(Variant& v, VARTYPE type) {
  if (type == VT_VARIANT) return S_OK;
  Variant out;
  HRESULT hr = v.ChangeType(type, out);
  if (Succeeded(hr)) v = std::move(out);
  return hr;
}

}  // namespace

DispatchTable& DispatchTable::Property(std::string name, DISPID id, VARTYPE type, Getter get, Setter put,
                                       Setter putref) {
  Member m;
  m.name = std::move(name);
  m.dispid = id;
  m.type = type;
  m.get = std::move(get);
  m.put = std::move(put);
  m.putref = std::move(putref);
  members_.push_back(std::move(m));
  return *this;
}

DispatchTable& DispatchTable::Method(std::string name, DISPID id, std::vector<VARTYPE> params, MethodFn fn,
                                     VARTYPE result) {
  Member m;
  m.name = std::move(name);
  m.dispid = id;
  m.isMethod = true;
  m.type = result;
  m.params = std::move(params);
  m.call = std::move(fn);
  members_.push_back(std::move(m));
  return *this;
}

const DispatchTable::Member* DispatchTable::Find(DISPID id) const {
  for (const Member& m : members_)
    if (m.dispid == id) return &m;
  return nullptr;
}

const DispatchTable::Member* DispatchTable::Find(std::u16string_view name) const {
  for (const Member& m : members_)
    if (NameEquals(m.name, name)) return &m;
  return nullptr;
}

DispatchObject::DispatchObject(std::string source) : source_(std::move(source)) {}

HRESULT DispatchObject::QueryInterface(const TGUID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
  } else {
    *out = QueryExtra(iid);
  }
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG DispatchObject::AddRef() { return ++refs_; }

ULONG DispatchObject::Release() {
  ULONG r = --refs_;
  if (r == 0) delete this;
  return r;
}

HRESULT DispatchObject::GetIDsOfNames(const BSTR* names, size_t count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  const DispatchTable::Member* m = table_.Find(names[0]);
  ids[0] = m ? m->dispid : DISPID_UNKNOWN;
  if (!m) hr = DISP_E_UNKNOWNNAME;
  // Parameter names are not bound: every member takes its arguments by position.
  for (size_t i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchObject::Invoke(DISPID id, uint16_t flags, std::vector<Variant>& args, Variant* result,
                               ExcepInfo* excep) {
  try {
    return InvokeMember(id, flags, args, result, excep);
  } catch (...) {
    // Only the bookkeeping around the call can come here (out of memory).
    return CurrentExceptionResult(nullptr);
  }
}

HRESULT DispatchObject::InvokeMember(DISPID id, uint16_t flags, std::vector<Variant>& args, Variant* result,
                                     ExcepInfo* excep) {
  const DispatchTable::Member* m = table_.Find(id);
  if (!m) return DISP_E_MEMBERNOTFOUND;

  enum { kCall, kPut, kPutRef, kGet } kind;
  if (m->isMethod) {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != m->params.size()) return DISP_E_BADPARAMCOUNT;
    for (size_t i = 0; i < args.size(); ++i) {
      HRESULT hr = Coerce(args[i], m->params[i]);
      if (Failed(hr)) return hr;
    }
    kind = kCall;
  } else if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    kind = (flags & DISPATCH_PROPERTYPUTREF) ? kPutRef : kPut;
    if (!(kind == kPutRef ? m->putref : m->put)) return DISP_E_MEMBERNOTFOUND;
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    HRESULT hr = Coerce(args[0], m->type);
    if (Failed(hr)) return hr;
  } else if (flags & DISPATCH_PROPERTYGET) {
    if (!m->get) return DISP_E_MEMBERNOTFOUND;
    if (!args.empty()) return DISP_E_BADPARAMCOUNT;
    kind = kGet;
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }

  Variant value;
  AnsiString message;
  HRESULT hr = GuardedCall(
      [&] {
        switch (kind) {
          case kCall: value = m->call(args); break;
          case kPut: m->put(args[0]); break;
          case kPutRef: m->putref(args[0]); break;
          case kGet: value = m->get(); break;
        }
      },
      &message);
  if (Failed(hr)) {
    if (excep) {
      excep->scode = hr;
      excep->source = AnsiToBstr(source_);
      excep->description = AnsiToBstr(message);
    }
    return DISP_E_EXCEPTION;
  }
  if (result) *result = std::move(value);
  return S_OK;
}

HRESULT InvokeByName(IDispatch* d, std::u16string_view name, uint16_t flags, std::vector<Variant> args,
                     Variant* result, AnsiString* message) {
  if (!d) return E_POINTER;
  BSTR n(name);
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = d->GetIDsOfNames(&n, 1, &id);
  if (Failed(hr)) return hr;
  ExcepInfo ei;
  hr = d->Invoke(id, flags, args, result, &ei);
  if (hr == DISP_E_EXCEPTION && message) *message = BstrToAnsi(ei.description);
  return hr;
}
