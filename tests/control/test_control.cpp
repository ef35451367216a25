// The control as a page drives it: dispatch members and dispids, events
// through the sink, GetStream's record ID rules and the frames they send.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTemporaryDir>
#include <cstdlib>

#include "ModalDriver.h"
#include "ControlTestSupport.h"
#include "control/wire/Frames.h"
#include "control/tarvox/TarvoImpl.h"
#include "control/windows/frm_Abort.h"
#include "control/wire/Un_type.h"
#include "control/session/frm_Main.h"
#include "core/Guid.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/com/ComLoader.h"
#include "platform/com/Registration.h"
#include "uikit/TFlatProgressBarUnit.h"

using namespace TarvoProj;

namespace {

struct Fired {
  std::string name;
  std::vector<std::string> args;
};

class KeyCatcher : public QWidget {
 public:
  std::vector<QString> keys;

 protected:
  void keyPressEvent(QKeyEvent* e) override { keys.push_back(e->text()); }
};

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSessionValues();
    setenv("TARVO_LOCALE_FILE", (dir.path() + "/locale.ini").toUtf8().constData(), 1);
    ASSERT_TRUE(Succeeded(TarvoXFactory()->CreateInstance(&page, IID_IDispatch, control.PutVoid())));
    form = control.As<IWidgetObject>(IID_IWidgetObject)->Widget();
    sink = FunctionEventSink::Create([this](DISPID id, const std::string& name, std::vector<EventArg>& args) {
      Fired f{name, {}};
      for (EventArg& a : args) {
        if (a.value.IsByRef() && onKey) {
          int16_t* key = a.value.I2Ref();
          f.args.push_back(std::to_string(*key));
          *key = onKey(*key);
        } else {
          f.args.push_back(a.name + "=" + a.value.Deref().AsUtf8());
        }
      }
      dispids[name] = id;
      events.push_back(f);
    });
    source = control.As<IEventSource>(IID_IEventSource);
    ASSERT_TRUE(Succeeded(source->Advise(sink.Get(), &cookie)));
  }
  void TearDown() override {
    source->Unadvise(cookie);
    control = nullptr;
    Pump(20);
    ClearSessionValues();
  }

  HRESULT Call(const char16_t* name, std::vector<Variant> args, AnsiString* message = nullptr) {
    return InvokeByName(control.Get(), name, DISPATCH_METHOD, std::move(args), nullptr, message);
  }
  HRESULT Put(const char16_t* name, Variant v) {
    return InvokeByName(control.Get(), name, DISPATCH_PROPERTYPUT, {std::move(v)});
  }
  std::string Get(const char16_t* name) {
    Variant v;
    EXPECT_TRUE(Succeeded(InvokeByName(control.Get(), name, DISPATCH_PROPERTYGET, {}, &v)));
    return v.AsUtf8();
  }
  TfrmMain* Session() { return static_cast<TTarvoX*>(form)->frmMain(); }
  std::vector<std::string> Names() {
    std::vector<std::string> n;
    for (auto& e : events) n.push_back(e.name);
    return n;
  }
  void LogIn() {
    frames::LoginReply l;
    l.UserGUID = "{USER}";
    UnpackLoginReply(frames::BuildLoginReply(l));
  }
  static std::vector<Variant> Texts(std::vector<std::string> v) {
    std::vector<Variant> out;
    for (auto& s : v) out.push_back(Variant::FromUtf8(s));
    return out;
  }

  AppInit app;
  QTemporaryDir dir;
  ServiceCapture capture;
  FrameServer server;
  KeyCatcher page;
  ComPtr<IDispatch> control;
  QWidget* form = nullptr;
  ComPtr<IEventSink> sink;
  ComPtr<IEventSource> source;
  uint32_t cookie = 0;
  std::vector<Fired> events;
  std::map<std::string, DISPID> dispids;
  std::function<int16_t(int16_t)> onKey;
};

TEST_F(Control, ShowingFiresDoLoginAndTheStripFillsTheControl) {
  page.show();
  ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events[0].name, "OnDoLogin");
  EXPECT_EQ(dispids["OnDoLogin"], 8);
  EXPECT_EQ(form->size(), QSize(338, 44));
  EXPECT_EQ(Session()->parentWidget(), form);
  EXPECT_EQ(Session()->geometry(), form->rect());
  EXPECT_EQ(Session()->ProgressBar()->x(), 0);
  EXPECT_EQ(Get(u"Caption"), "TarvoX");
}

TEST_F(Control, DispidsAndMemberOrderAreThoseOfTheInterface) {
  const std::pair<const char16_t*, DISPID> expected[] = {
      {u"Login", 15},    {u"Template", 16},   {u"GetFlowChart", 17}, {u"FlowChartID", 18}, {u"LoginName", 19},
      {u"InitTableName", 20}, {u"ShowAbort", 21}, {u"UserCMD", 22}, {u"UsObject", 23}, {u"UsID", 24},
      {u"GetStream", 25}, {u"RemoteHost", 26}, {u"RemotePort", 27}, {u"SetServer", 28}, {u"UsDB", 29},
      {u"InitRecordID", 30}, {u"Visible", 1},   {u"Caption", -518},  {u"Color", -501},   {u"Font", -512},
      {u"Enabled", -514}, {u"Cursor", 14},    {u"VisibleDockClientCount", 13}};
  for (auto [name, id] : expected) {
    BSTR n = name;
    DISPID got = 0;
    ASSERT_EQ(control->GetIDsOfNames(&n, 1, &got), S_OK);
    EXPECT_EQ(got, id) << Utf16ToUtf8(name);
  }
  // Pages that bind by vtable position see the members in this order.
  const auto& members = static_cast<const TTarvoXControl*>(static_cast<TTarvoXControl*>(control.Get()))->Table().Members();
  ASSERT_EQ(members.size(), kITarvoXOrder.size());
  for (size_t i = 0; i < members.size(); ++i) EXPECT_EQ(members[i].name, kITarvoXOrder[i]);
  // Read-only members refuse a put.
  EXPECT_EQ(Put(u"Active", Variant(true)), DISP_E_MEMBERNOTFOUND);
}

TEST_F(Control, PropertyPutsOnlyStoreAndSetServerChangesTheSocket) {
  ASSERT_EQ(Put(u"RemoteHost", Variant::FromUtf8("example")), S_OK);
  ASSERT_EQ(Put(u"RemotePort", Variant::FromUtf8("81")), S_OK);
  ASSERT_EQ(Put(u"LoginName", Variant::FromUtf8("who")), S_OK);
  EXPECT_EQ(Get(u"RemoteHost"), "example");
  EXPECT_EQ(Session()->Host(), "");
  EXPECT_EQ(Session()->StoredLoginName(), "");

  EXPECT_EQ(Call(u"SetServer", Texts({"", "81"})), S_OK);  // empty: nothing
  EXPECT_EQ(Session()->Host(), "");
  AnsiString message;
  EXPECT_EQ(Call(u"SetServer", Texts({"h", "8x"}), &message), DISP_E_EXCEPTION);
  EXPECT_EQ(message, "'8x' is not a valid integer value");
  EXPECT_EQ(Get(u"RemoteHost"), "h") << "values stored before the conversion stay";
  EXPECT_EQ(Session()->Host(), "");
  EXPECT_EQ(Call(u"SetServer", Texts({"h", "70000"})), DISP_E_EXCEPTION);
  EXPECT_EQ(Session()->Port(), 0);
  EXPECT_EQ(Call(u"SetServer", Texts({"127.0.0.1", "4321"})), S_OK);
  EXPECT_EQ(Session()->Host(), "127.0.0.1");
  EXPECT_EQ(Session()->Port(), 4321);

  // Standard form properties forward to the widget. Visible is the form's own
  // flag, true before the page's window is shown.
  auto visible = [&] {
    Variant v;
    EXPECT_EQ(InvokeByName(control.Get(), u"Visible", DISPATCH_PROPERTYGET, {}, &v), S_OK);
    return v.AsBool();
  };
  ASSERT_FALSE(page.isVisible());
  EXPECT_TRUE(visible());
  ASSERT_EQ(Put(u"Visible", Variant(false)), S_OK);
  EXPECT_FALSE(visible());
  ASSERT_EQ(Put(u"Visible", Variant(true)), S_OK);
  EXPECT_TRUE(visible());
  ASSERT_EQ(Put(u"Caption", Variant::FromUtf8("页面")), S_OK);
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("页面"));
  ASSERT_EQ(Put(u"Enabled", Variant(false)), S_OK);
  EXPECT_FALSE(form->isEnabled());
  ASSERT_EQ(Put(u"Color", Variant(int32_t(clRed))), S_OK);
  EXPECT_EQ(form->palette().color(QPalette::Window), QColor(255, 0, 0));
  ASSERT_EQ(Put(u"Cursor", Variant(int16_t(-21))), S_OK);
  EXPECT_EQ(form->cursor().shape(), Qt::PointingHandCursor);
  Variant font;
  ASSERT_EQ(InvokeByName(control.Get(), u"Font", DISPATCH_PROPERTYGET, {}, &font), S_OK);
  ASSERT_EQ(InvokeByName(font.AsDispatch().Get(), u"Bold", DISPATCH_PROPERTYPUT, {Variant(true)}), S_OK);
  EXPECT_TRUE(form->font().bold());
  EXPECT_EQ(form->font().family(), QStringLiteral("MS Sans Serif"));
}

TEST_F(Control, GetStreamNormalisesTheRecordIdAndSendsTheQuery) {
  Session()->SetServer("127.0.0.1", server.Port());
  LogIn();
  auto query = [&](const std::string& id, const std::string& cmd = "1", const std::string& it = "",
                   const std::string& ir = "") {
    const size_t before = server.requests.size();
    EXPECT_EQ(Call(u"GetStream", Texts({"db", id, cmd, "tpl", "7", it, ir})), S_OK);
    EXPECT_TRUE(WaitUntil([&] { return server.requests.size() == before + 1 && !Session()->Busy(); }));
    return frames::ReadQueryRequest(server.requests.back().frame);
  };

  frames::QueryRecord q = query("", "0");
  TGUID g;
  EXPECT_TRUE(TryStringToGUID(q.recordId, g));
  EXPECT_EQ(q.recordId, GUIDToString(g));
  EXPECT_EQ(Get(u"UsID"), q.recordId);
  EXPECT_EQ(NewDocumentFlag(), 1);
  EXPECT_EQ(q.commandFlag, 1);
  EXPECT_EQ(q.readOnlyFlag, 1);
  EXPECT_EQ(q.objectNumber, 7);
  EXPECT_EQ(q.tableName, "");
  EXPECT_EQ(q.templateName, "tpl");

  q = query("", "1", "it", "ir");
  EXPECT_EQ(NewDocumentFlag(), 0) << "both init values make it an existing document";
  EXPECT_EQ(q.commandFlag, 0);
  EXPECT_EQ(q.initTable, "it");
  EXPECT_EQ(q.initRecord, "ir");

  EXPECT_EQ(query("abc").recordId, "abc");
  EXPECT_EQ(query("0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d").recordId, "{0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D}");
  EXPECT_EQ(query("{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}").recordId, "{0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d}");

  // A non-numeric object number fails the call and sends nothing.
  const size_t before = server.requests.size();
  AnsiString message;
  EXPECT_EQ(Call(u"GetStream", Texts({"db", "abc", "1", "tpl", "x", "", ""}), &message), DISP_E_EXCEPTION);
  EXPECT_EQ(message, "'x' is not a valid integer value");
  const std::string marker = frames::BuildUnitsRequest(99);
  server.QueueRaw({{Le32(0)}});
  ASSERT_TRUE(RoundTrip(*Session(), marker));
  ASSERT_EQ(server.requests.size(), before + 1);
  EXPECT_EQ(server.requests.back().frame, marker);
}

TEST_F(Control, LoginReplyLeadsToAfterLoginAndDoitCarriesThePendingPair) {
  Session()->SetServer("127.0.0.1", server.Port());
  EXPECT_EQ(Call(u"Login", Texts({""})), S_OK);  // empty: nothing
  EXPECT_EQ(Call(u"GetFlowChart", Texts({""})), S_OK);
  server.QueueReply(frames::BuildLoginReply(LoginAs("{U}")));
  ASSERT_EQ(Call(u"Login", Texts({"abc"})), S_OK);
  EXPECT_EQ(Get(u"LoginName"), "abc");
  EXPECT_EQ(Session()->StoredLoginName(), "abc");
  ASSERT_TRUE(WaitUntil([&] { return !events.empty() && events.back().name == "OnAfterLogin"; }));
  EXPECT_EQ(dispids["OnAfterLogin"], 10);
  EXPECT_EQ(SessionValues().UserGUID, "{U}");
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0].frame, frames::BuildLoginRequest("abc"));

  events.clear();
  SetPendingDoit("tab", "{R}");
  FireDoit();
  FireDoit();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{"Table=tab", "ID={R}"}));
  EXPECT_EQ(events[1].args, (std::vector<std::string>{"Table=", "ID="}));
  EXPECT_EQ(dispids["OnDoit"], 4);
  FireSendFile();
  EXPECT_EQ(events.back().name, "OnSendFile");
  EXPECT_EQ(dispids["OnSendFile"], 9);
}

TEST_F(Control, KeyPressPassesTheKeyByReference) {
  page.show();
  auto press = [&](const char* text) {
    QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(text));
    QCoreApplication::sendEvent(form, &e);
  };
  onKey = [](int16_t k) { return int16_t(k == 'a' ? 'b' : k == 'x' ? 0 : k); };
  press("a");
  press("x");
  ASSERT_EQ(Names(), (std::vector<std::string>{"OnDoLogin", "OnKeyPress", "OnKeyPress"}));
  EXPECT_EQ(events[1].args[0], std::to_string(int('a')));
  EXPECT_EQ(dispids["OnKeyPress"], 11);
  EXPECT_EQ(page.keys, std::vector<QString>{QStringLiteral("b")}) << "changed key used, zero swallowed";
}

TEST_F(Control, EventsWithoutASinkAreLostAndDestroyIsFired) {
  source->Unadvise(cookie);
  cookie = 0;
  page.show();
  // The session form asks for a login as it shows; anything it posted has run too.
  ASSERT_TRUE(Session()->isVisible());
  ASSERT_TRUE(PostedEventsHandled());
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(Succeeded(source->Advise(sink.Get(), &cookie)));
  delete form;  // the page's window goes first
  EXPECT_EQ(Names(), std::vector<std::string>{"OnDestroy"});
  AnsiString message;
  EXPECT_EQ(Call(u"Login", Texts({"abc"}), &message), DISP_E_EXCEPTION);
  EXPECT_EQ(message, "The control has been destroyed");
}

TEST_F(Control, ShowAbortRunsTheAboutBoxModally) {
  bool wasOpen = false;
  auto script = WhenModal<TfrmAbort>([&](TfrmAbort* box) {
    wasOpen = TfrmAbort::Current() == box;
    box->close();
  });
  EXPECT_EQ(Call(u"ShowAbort", {}), S_OK);
  Pump(10);
  EXPECT_TRUE(wasOpen);
  EXPECT_EQ(TfrmAbort::Current(), nullptr);
}

TEST(ControlLibrary, ExportsRegisterAndCreateTheControl) {
  AppInit app;
  QTemporaryDir dir;
  const char* build = std::getenv("TARVO_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string registryPath = (dir.path() + "/registry.ini").toStdString();
  setenv("TARVO_REGISTRY", registryPath.c_str(), 1);
  std::string error;
  auto lib = LoadInprocLibrary(std::string(build) + "/control/libTarvoProj.so", &error);
  ASSERT_TRUE(lib) << error;
  ASSERT_EQ(lib->RegisterServer(), S_OK);
  Registry registry(registryPath);
  registry.Load();
  TGUID clsid;
  ASSERT_TRUE(ClsidFromProgId(registry, "TarvoProj.TarvoX", clsid));
  EXPECT_EQ(clsid, CLASS_TarvoX);
  InprocServerInfo info;
  ASSERT_TRUE(FindInprocServer(registry, clsid, info));
  EXPECT_EQ(info.threadingModel, "Apartment");
  EXPECT_EQ(info.miscStatus, 0x12000u);

  QWidget page;
  {
    ComPtr<IDispatch> control;
    ASSERT_EQ(CreateInstanceFromRegistry(registry, clsid, &page, IID_IDispatch, control.PutVoid(), &error), S_OK)
        << error;
    EXPECT_EQ(lib->CanUnloadNow(), S_FALSE);
    ComPtr<IDispatch> typed = control.As<IDispatch>(IID_ITarvoX);
    EXPECT_TRUE(typed);
    Variant caption;
    EXPECT_EQ(InvokeByName(control.Get(), u"Caption", DISPATCH_PROPERTYGET, {}, &caption), S_OK);
    EXPECT_EQ(caption.AsUtf8(), "TarvoX");
    void* none = nullptr;
    EXPECT_EQ(lib->GetClassObject(IID_ITarvoX, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  }
  Pump(20);
  EXPECT_EQ(lib->CanUnloadNow(), S_OK);
  EXPECT_EQ(lib->UnregisterServer(), S_OK);
  Registry after(registryPath);
  after.Load();
  EXPECT_FALSE(ClsidFromProgId(after, "TarvoProj.TarvoX", clsid));
}

}  // namespace
