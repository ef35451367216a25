#include <gtest/gtest.h>

#include "ForeignLocale.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"

namespace {

// --- Variant -----------------------------------------------------------------------

struct Conversion {
  Variant from;
  VARTYPE to;
  HRESULT hr;
  Variant expected;
};

void CheckConversionTable() {
  const std::vector<Conversion> table = {
      {Variant(), VT_I4, S_OK, Variant(0)},
      {Variant(), VT_BSTR, S_OK, Variant(u"")},
      {Variant(), VT_BOOL, S_OK, Variant(false)},
      {Variant(true), VT_I2, S_OK, Variant(int16_t(-1))},
      {Variant(false), VT_I4, S_OK, Variant(0)},
      {Variant(true), VT_BSTR, S_OK, Variant(u"True")},
      {Variant(false), VT_BSTR, S_OK, Variant(u"False")},
      {Variant(int16_t(-7)), VT_I4, S_OK, Variant(-7)},
      {Variant(40000), VT_I2, DISP_E_OVERFLOW, Variant()},
      {Variant(-32768), VT_I2, S_OK, Variant(int16_t(-32768))},
      {Variant(2), VT_BOOL, S_OK, Variant(true)},
      {Variant(-12), VT_BSTR, S_OK, Variant(u"-12")},
      {Variant(u" 42 "), VT_I4, S_OK, Variant(42)},
      {Variant(u"$1F"), VT_I4, S_OK, Variant(31)},
      {Variant(u"2.5"), VT_I4, S_OK, Variant(2)},  // half to even
      {Variant(u"3.5"), VT_I4, S_OK, Variant(4)},
      {Variant(u"abc"), VT_I4, DISP_E_TYPEMISMATCH, Variant()},
      {Variant(u""), VT_I4, DISP_E_TYPEMISMATCH, Variant()},
      {Variant(u"nan"), VT_I4, DISP_E_TYPEMISMATCH, Variant()},
      {Variant(u"99999"), VT_I2, DISP_E_OVERFLOW, Variant()},
      {Variant(u"3000000000"), VT_I4, DISP_E_OVERFLOW, Variant()},
      {Variant(u"TRUE"), VT_BOOL, S_OK, Variant(true)},
      {Variant(u"false"), VT_BOOL, S_OK, Variant(false)},
      {Variant(u"0"), VT_BOOL, S_OK, Variant(false)},
      {Variant(u"0.25"), VT_BOOL, S_OK, Variant(true)},  // not rounded first
      {Variant(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, Variant()},
      {Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, Variant()},
      {Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, Variant()},
      {Variant(7), VT_DISPATCH, DISP_E_TYPEMISMATCH, Variant()},
      {Variant(7), uint16_t(VT_I2 | VT_BYREF), DISP_E_TYPEMISMATCH, Variant()},
      {Variant(7), uint16_t(77), DISP_E_BADVARTYPE, Variant()},
  };
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    Variant out;
    EXPECT_EQ(table[i].from.ChangeType(table[i].to, out), table[i].hr);
    if (table[i].hr == S_OK) {
      EXPECT_TRUE(out == table[i].expected);
    }
  }
}

TEST(Variant, ConversionTable) { CheckConversionTable(); }

// Texts convert the same whatever the C library's locale says about the decimal point.
TEST(Variant, ConversionTableHoldsUnderCommaLocales) {
  for (const char* name : kCommaLocales) {
    SCOPED_TRACE(name);
    ForeignLocale locale(name);
    ASSERT_TRUE(locale.Active()) << name << " is not installed (scripts/install-deps)";
    CheckConversionTable();
  }
}

TEST(Variant, ConversionErrorsCarryTheFrameworkTexts) {
  try {
    Variant(u"abc").AsI4();
    FAIL();
  } catch (const EVariantTypeCastError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (OleStr) into type (Integer)");
  }
  try {
    Variant(70000).AsI2();
    FAIL();
  } catch (const EVariantOverflowError& e) {
    EXPECT_EQ(e.Message(), "Overflow while converting variant of type (Integer) into type (Smallint)");
  }
  EXPECT_THROW(Variant::Null().AsBool(), EVariantTypeCastError);
}

TEST(Variant, BstrCarriesCp936TextBothWays) {
  const AnsiString chinese = Cp936("系统提示：文件操作成功！");
  Variant v = Variant::FromAnsi(chinese);
  EXPECT_EQ(v.Vt(), VT_BSTR);
  EXPECT_EQ(v.AsBstr(), u"系统提示：文件操作成功！");
  EXPECT_EQ(v.AsAnsi(), chinese);
  EXPECT_EQ(v.AsUtf8(), "系统提示：文件操作成功！");
  // Characters outside the BMP survive the UTF-8 leg as surrogate pairs.
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xF0\x9F\x98\x80z")), "a\xF0\x9F\x98\x80z");
  // Broken input becomes U+FFFD and never reads past the end.
  EXPECT_EQ(Utf8ToUtf16("a\xE4\xB8"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Variant, ByReferenceValuesReadAndWriteTheirTarget) {
  int16_t key = 13;
  Variant ref = Variant::ByRef(&key);
  EXPECT_EQ(ref.Vt(), VT_I2 | VT_BYREF);
  EXPECT_EQ(ref.AsI4(), 13);
  ref.SetRefValue(Variant(u"65"));
  EXPECT_EQ(key, 65);
  EXPECT_THROW(ref.SetRefValue(Variant(100000)), EVariantOverflowError);
  EXPECT_EQ(key, 65);

  Variant inner = Variant::FromAnsi("{ID}");
  Variant holder = Variant::ByRef(&inner);
  EXPECT_EQ(holder.Vt(), VT_VARIANT | VT_BYREF);
  EXPECT_EQ(holder.AsAnsi(), "{ID}");
  holder.SetRefValue(Variant(5));
  EXPECT_EQ(inner.AsI4(), 5);
  EXPECT_THROW(Variant(5).SetRefValue(Variant(1)), EVariantTypeCastError);

  // A cycle of references is an error, not a hang.
  Variant a, b;
  a = Variant::ByRef(&b);
  b = Variant::ByRef(&a);
  EXPECT_THROW(a.Deref(), EVariantError);
}

// --- Dispatch ----------------------------------------------------------------------

class Sample : public DispatchObject {
 public:
  Sample() : DispatchObject("Sample") {
    Table()
        .Property("LoginName", 19, VT_BSTR, [this] { return Variant::FromAnsi(login); },
                  [this](const Variant& v) { login = v.AsAnsi(); })
        .Property("Active", 9, VT_BOOL, [] { return Variant(true); })
        .Property("Font", -512, VT_DISPATCH, [this] { return Variant(font); }, {},
                  [this](const Variant& v) { font = v.AsDispatch(); })
        .Method("GetFlowChart", 17, {VT_BSTR},
                [this](std::vector<Variant>& a) {
                  flow = StrToInt(a[0].AsAnsi());
                  return Variant();
                })
        .Method("Add", 40, {VT_I4, VT_I2}, [](std::vector<Variant>& a) { return Variant(a[0].AsI4() + a[1].AsI2()); },
                VT_I4)
        .Method("Crash", 41, {}, [](std::vector<Variant>&) -> Variant { throw std::runtime_error("boom"); });
  }
  AnsiString login;
  int flow = 0;
  ComPtr<IDispatch> font;
};

HRESULT Call(IDispatch* d, DISPID id, uint16_t flags, std::vector<Variant> args, Variant* result = nullptr,
             ExcepInfo* ei = nullptr) {
  return d->Invoke(id, flags, args, result, ei);
}

TEST(Dispatch, NamesResolveWithoutRegardToCase) {
  auto obj = MakeCom<Sample>();
  BSTR names[] = {u"getflowchart", u"ID"};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(obj->GetIDsOfNames(names, 1, ids), S_OK);
  EXPECT_EQ(ids[0], 17);
  BSTR upper = u"LOGINNAME";
  EXPECT_EQ(obj->GetIDsOfNames(&upper, 1, ids), S_OK);
  EXPECT_EQ(ids[0], 19);
  // Parameter names are not bound.
  EXPECT_EQ(obj->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 17);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  BSTR unknown = u"GetStreams";
  EXPECT_EQ(obj->GetIDsOfNames(&unknown, 1, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST(Dispatch, PropertiesAndMethodsRunThroughInvoke) {
  auto obj = MakeCom<Sample>();
  Variant r;
  EXPECT_EQ(Call(obj.Get(), 19, DISPATCH_PROPERTYPUT, {Variant(u"张三")}), S_OK);
  EXPECT_EQ(obj->login, Cp936("张三"));
  EXPECT_EQ(Call(obj.Get(), 19, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &r), S_OK);
  EXPECT_EQ(r.AsBstr(), u"张三");
  // Arguments are converted to the declared types first.
  EXPECT_EQ(Call(obj.Get(), 40, DISPATCH_METHOD, {Variant(u"40"), Variant(true)}, &r), S_OK);
  EXPECT_EQ(r.Vt(), VT_I4);
  EXPECT_EQ(r.AsI4(), 39);
  // putref hands over an object; put is not offered for it.
  auto other = MakeCom<Sample>();
  EXPECT_EQ(Call(obj.Get(), -512, DISPATCH_PROPERTYPUTREF, {Variant(ComPtr<IDispatch>(other))}), S_OK);
  EXPECT_EQ(obj->font.Get(), other.Get());
  EXPECT_EQ(Call(obj.Get(), -512, DISPATCH_PROPERTYPUT, {Variant(ComPtr<IDispatch>(other))}), DISP_E_MEMBERNOTFOUND);
  AnsiString message;
  EXPECT_EQ(InvokeByName(obj.Get(), u"LoginName", DISPATCH_PROPERTYGET, {}, &r, &message), S_OK);
  EXPECT_EQ(r.AsAnsi(), Cp936("张三"));
}

TEST(Dispatch, InvokeReportsEveryFailureAsAResult) {
  auto obj = MakeCom<Sample>();
  Variant r;
  ExcepInfo ei;
  EXPECT_EQ(Call(obj.Get(), 999, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(obj.Get(), 9, DISPATCH_PROPERTYPUT, {Variant(true)}), DISP_E_MEMBERNOTFOUND);  // read-only
  EXPECT_EQ(Call(obj.Get(), 17, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);            // a method
  EXPECT_EQ(Call(obj.Get(), 17, DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(obj.Get(), 17, DISPATCH_METHOD, {Variant(u"1"), Variant(u"2")}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(obj.Get(), 19, DISPATCH_PROPERTYPUT, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(obj.Get(), 19, DISPATCH_PROPERTYGET, {Variant(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(obj.Get(), 40, DISPATCH_METHOD, {Variant(u"x"), Variant(1)}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(obj.Get(), 40, DISPATCH_METHOD, {Variant(1), Variant(70000)}), DISP_E_OVERFLOW);
  EXPECT_EQ(Call(obj.Get(), -512, DISPATCH_PROPERTYPUTREF, {Variant(3)}), DISP_E_TYPEMISMATCH);

  // An exception inside the member becomes DISP_E_EXCEPTION with its message; what the
  // member stored before it failed stays.
  obj->flow = 5;
  EXPECT_EQ(Call(obj.Get(), 17, DISPATCH_METHOD, {Variant(u"abc")}, &r, &ei), DISP_E_EXCEPTION);
  EXPECT_EQ(ei.description, u"'abc' is not a valid integer value");
  EXPECT_EQ(ei.source, u"Sample");
  EXPECT_EQ(ei.scode, E_UNEXPECTED);
  EXPECT_EQ(obj->flow, 5);
  ExcepInfo crash;
  EXPECT_EQ(Call(obj.Get(), 41, DISPATCH_METHOD, {}, nullptr, &crash), DISP_E_EXCEPTION);
  EXPECT_EQ(crash.description, u"boom");
  AnsiString message;
  EXPECT_EQ(InvokeByName(obj.Get(), u"getflowchart", DISPATCH_METHOD, {Variant(u"x1")}, nullptr, &message),
            DISP_E_EXCEPTION);
  EXPECT_EQ(message, "'x1' is not a valid integer value");
  EXPECT_EQ(InvokeByName(obj.Get(), u"Nothing", DISPATCH_METHOD, {}), DISP_E_UNKNOWNNAME);
}

TEST(Dispatch, ObjectsLiveAsLongAsTheirReferences) {
  static int destroyed = 0;
  struct Counted : DispatchObject {
    ~Counted() override { ++destroyed; }
  };
  destroyed = 0;
  {
    auto a = MakeCom<Counted>();
    ComPtr<IUnknown> unk = a.As<IUnknown>(IID_IUnknown);
    ASSERT_TRUE(unk);
    EXPECT_FALSE(a.As<IEventSource>(IID_IEventSource));
    a = nullptr;
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

// --- Events ------------------------------------------------------------------------

TEST(Events, WithoutASinkTheEventIsLost) {
  EventConnection c;
  std::vector<EventArg> args{{"Table", Variant(u"t")}};
  EXPECT_EQ(c.Fire(4, "OnDoit", args), S_FALSE);

  std::vector<std::string> seen;
  auto sink = FunctionEventSink::Create([&](DISPID id, const std::string& name, std::vector<EventArg>& a) {
    seen.push_back(name + ":" + std::to_string(id) + ":" + std::to_string(a.size()));
  });
  uint32_t cookie = 0;
  ASSERT_EQ(c.Advise(sink.Get(), &cookie), S_OK);
  EXPECT_EQ(c.Fire(4, "OnDoit", args), S_OK);
  EXPECT_EQ(c.Fire(8, "OnDoLogin"), S_OK);
  ASSERT_EQ(c.Unadvise(cookie), S_OK);
  EXPECT_EQ(c.Fire(10, "OnAfterLogin"), S_FALSE);
  EXPECT_EQ(seen, (std::vector<std::string>{"OnDoit:4:1", "OnDoLogin:8:0"}));
}

TEST(Events, OneSinkAtATimeAndSinkChangesAreReported) {
  EventConnection c;
  std::vector<bool> changes;
  c.OnSinkChanged = [&](IEventSink* s) { changes.push_back(s != nullptr); };
  auto a = FunctionEventSink::Create([](DISPID, const std::string&, std::vector<EventArg>&) {});
  auto b = FunctionEventSink::Create([](DISPID, const std::string&, std::vector<EventArg>&) {});
  uint32_t ca = 0, cb = 7;
  EXPECT_EQ(c.Advise(a.Get(), &ca), S_OK);
  EXPECT_EQ(c.Advise(b.Get(), &cb), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(cb, 0u);
  EXPECT_EQ(c.Unadvise(ca + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(c.Unadvise(ca), S_OK);
  EXPECT_EQ(c.Advise(b.Get(), &cb), S_OK);
  EXPECT_NE(cb, ca);
  EXPECT_EQ(changes, (std::vector<bool>{true, false, true}));
}

TEST(Events, SinkMayChangeAByReferenceKeyAndFailuresStayInside) {
  EventConnection c;
  uint32_t cookie = 0;
  bool unadvised = false;
  auto sink = FunctionEventSink::Create([&](DISPID id, const std::string&, std::vector<EventArg>& a) {
    if (id == 11) a[0].value.SetRefValue(Variant(int16_t('B')));
    if (id == 1) throw Exception("sink failed");
    if (id == 2) unadvised = Succeeded(c.Unadvise(cookie));  // leaving from inside an event
  });
  ASSERT_EQ(c.Advise(sink.Get(), &cookie), S_OK);
  int16_t key = 'a';
  std::vector<EventArg> args{{"Key", Variant::ByRef(&key)}};
  EXPECT_EQ(c.Fire(11, "OnKeyPress", args), S_OK);
  EXPECT_EQ(key, 'B');
  EXPECT_TRUE(Failed(c.Fire(1, "OnActivate")));
  sink = nullptr;  // the connection now holds the only reference
  EXPECT_EQ(c.Fire(2, "OnClick"), S_OK);
  EXPECT_TRUE(unadvised);
  EXPECT_FALSE(c.Connected());
}

// --- Guard -------------------------------------------------------------------------

TEST(Guard, SwallowsAndConvertsEveryException) {
  std::vector<std::pair<HRESULT, AnsiString>> observed;
  SetGuardObserver([&](HRESULT hr, const AnsiString& m) { observed.emplace_back(hr, m); });
  EXPECT_FALSE(Guarded([] { throw EConvertError("bad"); }));
  EXPECT_FALSE(Guarded([] { throw std::bad_alloc(); }));
  EXPECT_FALSE(Guarded([] { throw 42; }));
  EXPECT_TRUE(Guarded([] {}));
  SetGuardObserver(nullptr);
  ASSERT_EQ(observed.size(), 3u);
  EXPECT_EQ(observed[0], std::make_pair(E_UNEXPECTED, AnsiString("bad")));
  EXPECT_EQ(observed[1], std::make_pair(E_OUTOFMEMORY, AnsiString("Out of memory")));
  EXPECT_EQ(observed[2], std::make_pair(E_UNEXPECTED, AnsiString("Unknown exception")));

  AnsiString m;
  EXPECT_EQ(GuardedCall([] { throw EOutOfMemory(); }, &m), E_OUTOFMEMORY);
  EXPECT_EQ(GuardedCall([] { throw std::logic_error("logic"); }, &m), E_UNEXPECTED);
  EXPECT_EQ(m, "logic");
  EXPECT_EQ(GuardedCall([] {}, &m), S_OK);

  int calls = 0;
  auto slot = GuardSlot([&](int v) {
    calls += v;
    throw Exception("in a slot");
  });
  slot(2);  // must not throw
  EXPECT_EQ(calls, 2);
}

}  // namespace
