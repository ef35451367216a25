#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "TestUtil.h"
#include "platform/com/ComLoader.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"
#include "platform/com/Registration.h"
#include "tests/platform/FakeControl.h"

namespace {

// Registers the fake control library into a registry of the test's own.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    std::string error;
    lib = LoadInprocLibrary(FAKE_CONTROL_PATH, &error);
    ASSERT_TRUE(lib) << error;
    ASSERT_EQ(lib->RegisterServer(), S_OK);
    registry.Load();
  }

  TempDir dir;
  ScopedEnv env{"TARVO_REGISTRY", dir.File("registry.ini")};
  std::shared_ptr<InprocLibrary> lib;
  Registry registry{dir.File("registry.ini")};
};

TEST_F(LoaderTest, LibraryRegistersItselfAndIsFoundByClassId) {
  InprocServerInfo info;
  ASSERT_TRUE(FindInprocServer(registry, CLSID_FakeControl, info));
  EXPECT_EQ(info.library, std::filesystem::canonical(FAKE_CONTROL_PATH).string());
  EXPECT_EQ(info.threadingModel, "Apartment");
  EXPECT_EQ(info.miscStatus, 0x12000u);
  TGUID clsid;
  ASSERT_TRUE(ClsidFromProgId(registry, kFakeProgId, clsid));
  EXPECT_EQ(clsid, CLSID_FakeControl);

  ASSERT_EQ(lib->UnregisterServer(), S_OK);
  registry.Load();
  EXPECT_FALSE(FindInprocServer(registry, CLSID_FakeControl, info));
  ComPtr<IUnknown> obj;
  std::string error;
  EXPECT_EQ(CreateInstanceFromRegistry(registry, CLSID_FakeControl, nullptr, IID_IUnknown, obj.PutVoid(), &error),
            REGDB_E_CLASSNOTREG);
  EXPECT_NE(error.find("not registered"), std::string::npos);
}

TEST_F(LoaderTest, CreatesTheControlInsideItsParentAndDeliversEvents) {
  QWidget page;
  ComPtr<IDispatch> control;
  std::string error;
  ASSERT_EQ(CreateInstanceFromRegistry(registry, CLSID_FakeControl, &page, IID_IDispatch, control.PutVoid(), &error),
            S_OK)
      << error;
  auto widget = control.As<IWidgetObject>(IID_IWidgetObject);
  ASSERT_TRUE(widget);
  EXPECT_EQ(widget->Widget()->parentWidget(), &page);

  std::vector<std::string> events;
  auto sink = FunctionEventSink::Create([&](DISPID id, const std::string& name, std::vector<EventArg>& args) {
    std::string line = name;
    for (auto& a : args) line += " " + a.name + "=" + a.value.AsUtf8();
    events.push_back(line);
    if (id == 8) {  // the page answers the login request at once, as a page does
      InvokeByName(control.Get(), u"SetServer", DISPATCH_METHOD, {Variant(u"127.0.0.1"), Variant(u"9000")});
      InvokeByName(control.Get(), u"Login", DISPATCH_METHOD, {Variant(u"admin")});
    }
  });
  auto source = control.As<IEventSource>(IID_IEventSource);
  ASSERT_TRUE(source);
  uint32_t cookie = 0;
  ASSERT_EQ(source->Advise(sink.Get(), &cookie), S_OK);
  page.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() >= 2; }, 3000));
  EXPECT_EQ(events, (std::vector<std::string>{"OnDoLogin", "OnAfterLogin"}));

  AnsiString message;
  EXPECT_EQ(InvokeByName(control.Get(), u"GetStream", DISPATCH_METHOD,
                         {Variant(u"db"), Variant(u"{ID}"), Variant(u"0"), Variant(u""), Variant(u"x"), Variant(u""),
                          Variant(u"")},
                         nullptr, &message),
            DISP_E_EXCEPTION);
  EXPECT_EQ(message, "'x' is not a valid integer value");
  EXPECT_EQ(InvokeByName(control.Get(), u"GetStream", DISPATCH_METHOD,
                         {Variant(u"db"), Variant(u"{ID}"), Variant(u"0"), Variant(u""), Variant(u"3"), Variant(u""),
                          Variant(u"")}),
            S_OK);
  EXPECT_EQ(events.back(), "OnDoit Table=db ID={ID}");
  Variant caption;
  EXPECT_EQ(InvokeByName(control.Get(), u"caption", DISPATCH_PROPERTYGET, {}, &caption), S_OK);
  EXPECT_EQ(caption.AsUtf8(), "FakeControl");
  EXPECT_EQ(source->Unadvise(cookie), S_OK);
}

TEST_F(LoaderTest, LibraryCanUnloadOnlyWithoutObjectsFactoriesAndLocks) {
  EXPECT_EQ(lib->CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObjectFromRegistry(registry, CLSID_FakeControl, IID_IClassFactory, factory.PutVoid()), S_OK);
  EXPECT_EQ(lib->CanUnloadNow(), S_FALSE);  // a held factory keeps its library
  ComPtr<IUnknown> a, b, none;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, a.PutVoid()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IWidgetObject, b.PutVoid()), S_OK);
  // A creation that fails leaves nothing alive behind.
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(none);
  factory->LockServer(true);
  factory = nullptr;
  a = nullptr;
  EXPECT_EQ(lib->CanUnloadNow(), S_FALSE);
  b = nullptr;
  EXPECT_EQ(lib->CanUnloadNow(), S_FALSE);  // only the lock is left
  ASSERT_EQ(lib->GetClassObject(CLSID_FakeControl, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(false);
  factory = nullptr;
  EXPECT_EQ(lib->CanUnloadNow(), S_OK);
  EXPECT_EQ(lib->GetClassObject(IID_IDispatch, IID_IClassFactory, none.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(lib->CanUnloadNow(), S_OK);
}

TEST_F(LoaderTest, MissingOrForeignLibrariesAreReported) {
  Registry r(dir.File("other.ini"));
  r.WriteString(ClsidKey(CLSID_FakeControl) + "\\InprocServer32", "", dir.File("missing.so"));
  ComPtr<IUnknown> obj;
  std::string error;
  EXPECT_EQ(GetClassObjectFromRegistry(r, CLSID_FakeControl, IID_IClassFactory, obj.PutVoid(), &error),
            CO_E_DLLNOTFOUND);
  EXPECT_FALSE(error.empty());
  // A shared object without the exports is refused.
  EXPECT_FALSE(InprocLibrary::Load("libz.so.1", &error));
  EXPECT_NE(error.find("DllGetClassObject"), std::string::npos);
}

}  // namespace
