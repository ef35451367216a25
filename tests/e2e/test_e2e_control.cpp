// The control as a page uses it, against the real oa-server: created through its class
// factory, driven only through its dispatch interface, heard through its event sink.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "apps/oa-server/OaService.h"
#include "control/windows/frmPopup.h"
#include "control/session/frm_Main.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "core/ByteIO.h"
#include "e2e/E2eSupport.h"
#include "e2e/ControlFactory.h"
#include "platform/Services.h"
#include "uikit/TFlatProgressBarUnit.h"

namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hexadecimal.
bool IsUpperBracedGuid(const std::string& s) {
  static const char kShape[] = "{########-####-####-####-############}";
  if (s.size() != sizeof kShape - 1) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (kShape[i] == '#' ? !hex : c != kShape[i]) return false;
  }
  return true;
}

// Calls back after each paint of a widget.
class PaintRecorder : public QObject {
 public:
  PaintRecorder(QWidget* w, std::function<void()> onPaint) : w_(w), onPaint_(std::move(onPaint)) {
    w_->installEventFilter(this);
  }
  ~PaintRecorder() override { w_->removeEventFilter(this); }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == w_ && e->type() == QEvent::Paint) onPaint_();
    return false;
  }

 private:
  QWidget* w_;
  std::function<void()> onPaint_;
};

QApplication& App() {
  static const bool env = [] {
    // Keep the login's locale write out of the user's own settings.
    static const std::string path = "/tmp/tarvo-e2e-locale-" + std::to_string(getpid()) + ".ini";
    setenv("TARVO_LOCALE_FILE", path.c_str(), 1);
    std::atexit([] { std::remove(path.c_str()); });
    return true;
  }();
  (void)env;
  return E2eApp("e2e");
}

const char* kAdminId = "{6F1C2A10-5B3D-4E8F-9A7B-0C1D2E3F4A50}";

// Waits for what a loaded machine may be slow to deliver.
constexpr int kDeadlineMs = 20000;

// Calls back when an event of a type reaches a watched object, before it is handled.
class EventSpy : public QObject {
 public:
  EventSpy(QObject* watched, QEvent::Type type, std::function<void()> seen)
      : watched_(watched), type_(type), seen_(std::move(seen)) {
    watched_->installEventFilter(this);
  }
  ~EventSpy() override {
    if (watched_) watched_->removeEventFilter(this);
  }
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == watched_ && e->type() == type_) seen_();
    return false;
  }

 private:
  QPointer<QObject> watched_;
  QEvent::Type type_;
  std::function<void()> seen_;
};

std::string Utf8(const AnsiString& cp936) { return Cp936ToUtf8(cp936); }

class ControlE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ClearSessionValues();  // a fresh page process: nobody logged in
    capture_ = std::make_unique<ServiceCapture>();  // no real message box may block a test
    page_ = std::make_unique<QWidget>();
    page_->resize(400, 60);
    ComPtr<IDispatch> control = CreateControlForPage(page_.get());
    ASSERT_TRUE(control) << "the class factory created no control";
    driver_ = std::make_unique<PageDriver>(control);
    page_->show();  // the session form shows with it and asks the page to log in
    ASSERT_TRUE(driver_->WaitForEvent("OnDoLogin"));
  }
  void TearDown() override {
    delete Tfrm_popup::Current();
    driver_.reset();
    page_.reset();
    PumpFor(20);
    capture_.reset();
  }

  // Points the control at port, then logs in and waits for OnAfterLogin.
  void LogIn(uint16_t port, const char* name = "admin") {
    ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(port)}), S_OK);
    const size_t before = driver_->CountEvents("OnAfterLogin");
    ASSERT_EQ(driver_->Call("Login", {name}), S_OK);
    ASSERT_TRUE(driver_->WaitForEvent("OnAfterLogin", before + 1));
  }
  HRESULT GetStream(const std::string& id, const std::string& object = "3", const std::string& cmd = "0") {
    return driver_->Call("GetStream", {"oa", id, cmd, "ReceiveDoc", object, "", ""});
  }
  // The frame of log line i (waits for it).
  std::string LoggedFrame(const OaServerProcess& server, size_t i, const char* code) {
    if (!server.WaitForLogLines(i + 1)) {
      ADD_FAILURE() << "the server saw no request " << i;
      return {};
    }
    const auto f = ParseLogLine(server.LogLines()[i]);
    if (!f || f->code != code) {
      ADD_FAILURE() << "request " << i << " is not " << code << ": " << server.LogLines()[i].substr(0, 40);
      return {};
    }
    return f->frame;
  }

  std::unique_ptr<ServiceCapture> capture_;
  std::unique_ptr<QWidget> page_;
  std::unique_ptr<PageDriver> driver_;
};

TEST_F(ControlE2E, LoginSendsTheExactLoginFrame) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port(), "abc");
  ASSERT_TRUE(server.WaitForLogLines(1));
  EXPECT_EQ(server.LogLines()[0], "LOGN 380 044c4f474e03616263" + std::string(2 * (380 - 9), '0'));
  EXPECT_EQ(driver_->Get("LoginName"), "abc");
}

TEST_F(ControlE2E, LoginReplyFillsTheSessionValuesCarriedByQueries) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port());
  ASSERT_EQ(GetStream("abc", "7", "0"), S_OK);
  const std::string q = LoggedFrame(server, 1, "QUEY");
  ASSERT_EQ(q.size(), 596u);
  EXPECT_EQ(FrameText(q, 5), "oa");
  EXPECT_EQ(FrameText(q, 56), kAdminId);
  EXPECT_EQ(GetI32LE(&q[96]), 7);
  EXPECT_EQ(q[190], 1);  // UserCMD "0"
  EXPECT_EQ(FrameText(q, 191), "ReceiveDoc");
  EXPECT_EQ(GetI32LE(&q[244]), 9);
  EXPECT_EQ(q[248], 1);
  EXPECT_EQ(FrameText(q, 339), "admin");
  EXPECT_EQ(Utf8(FrameText(q, 390)), "系统管理员");
  EXPECT_EQ(Utf8(FrameText(q, 441)), "信息中心");
  EXPECT_EQ(Utf8(FrameText(q, 492)), "管理员");
  EXPECT_EQ(Utf8(FrameText(q, 543)), "主任");

  // Another command than "0" clears the flag.
  ASSERT_EQ(GetStream("abc", "7", "1"), S_OK);
  EXPECT_EQ(LoggedFrame(server, 2, "QUEY")[190], 0);
}

TEST_F(ControlE2E, AfterLoginFollowsTheUnpackedLoginReplyLater) {
  frames::LoginReply admin;
  admin.UserGUID = kAdminId;
  admin.LoginName = "admin";
  const std::string reply = frames::BuildLoginReply(admin);
  ScriptedServer server({{{std::string("\x7c\x01\0\0", 4) + reply, 0}}});
  // The session form's after-login message comes once the reply is unpacked; the event
  // waits for a later turn of the event loop, so neither the message's arrival nor its
  // handling has fired it.
  auto* session = page_->findChild<TfrmMain*>();
  ASSERT_TRUE(session);
  struct AtMessage {
    size_t events = 99, eventsAfterHandling = 99;
    std::string userId;
  } at;
  QTimer afterHandling;
  afterHandling.setSingleShot(true);
  QObject::connect(&afterHandling, &QTimer::timeout, [&] { at.eventsAfterHandling = driver_->CountEvents("OnAfterLogin"); });
  EventSpy spy(session, QEvent::Type(TfrmMain::kWMAfterLogin), [&] {
    at.events = driver_->CountEvents("OnAfterLogin");
    at.userId = SessionValues().UserGUID;
    afterHandling.start(0);  // due before any timer the handling starts
  });
  ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"admin"}), S_OK);
  ASSERT_TRUE(driver_->WaitForEvent("OnAfterLogin", 1, kDeadlineMs));
  EXPECT_TRUE(server.ReplySentAt(0));
  EXPECT_EQ(at.userId, kAdminId);
  EXPECT_EQ(at.events, 0u);
  EXPECT_EQ(at.eventsAfterHandling, 0u);
  EXPECT_EQ(driver_->CountEvents("OnAfterLogin"), 1u);
}

TEST_F(ControlE2E, GetStreamWhileLoggedOutSendsTheLoginFrame) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port(), "nobody");  // refused: the reply carries no user ID
  ASSERT_EQ(GetStream("abc"), S_OK);
  const std::string f = LoggedFrame(server, 1, "LOGN");
  EXPECT_EQ(FrameText(f, 5), "nobody");
}

TEST_F(ControlE2E, GetStreamBeforeTheLoginReplySendsLoginAgainInOrder) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"admin"}), S_OK);
  ASSERT_EQ(GetStream("abc"), S_OK);  // no reply yet: nobody is logged in
  EXPECT_EQ(FrameText(LoggedFrame(server, 0, "LOGN"), 5), "admin");
  EXPECT_EQ(FrameText(LoggedFrame(server, 1, "LOGN"), 5), "admin");
}

TEST_F(ControlE2E, GetStreamNormalisesTheRecordId) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port());
  const std::string lower = "6f1c2a10-5b3d-4e8f-9a7b-0c1d2e3f4a50";
  const std::string bracedLower = "{" + lower + "}";
  ASSERT_EQ(GetStream(""), S_OK);
  ASSERT_EQ(GetStream("abc"), S_OK);
  ASSERT_EQ(GetStream(lower), S_OK);
  ASSERT_EQ(GetStream(bracedLower), S_OK);
  EXPECT_EQ(driver_->Get("UsID"), bracedLower);

  const std::string fresh = FrameText(LoggedFrame(server, 1, "QUEY"), 151);
  EXPECT_TRUE(IsUpperBracedGuid(fresh)) << fresh;
  EXPECT_EQ(FrameText(LoggedFrame(server, 2, "QUEY"), 151), "abc");
  EXPECT_EQ(FrameText(LoggedFrame(server, 3, "QUEY"), 151), kAdminId);
  EXPECT_EQ(FrameText(LoggedFrame(server, 4, "QUEY"), 151), bracedLower);

  // Two fresh documents never share an ID.
  ASSERT_EQ(GetStream(""), S_OK);
  EXPECT_NE(FrameText(LoggedFrame(server, 5, "QUEY"), 151), fresh);
}

TEST_F(ControlE2E, NonNumericObjectFailsTheCallAndSendsNothing) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port());
  EXPECT_TRUE(Failed(GetStream("abc", "x1")));
  EXPECT_FALSE(driver_->LastMessage().empty());
  EXPECT_EQ(driver_->Get("UsID"), "abc");  // stored before the conversion failed
  // The next requests are the next things the server sees.
  ASSERT_EQ(GetStream("def"), S_OK);
  ASSERT_EQ(GetStream("ghi"), S_OK);
  EXPECT_EQ(FrameText(LoggedFrame(server, 1, "QUEY"), 151), "def");
  EXPECT_EQ(FrameText(LoggedFrame(server, 2, "QUEY"), 151), "ghi");
  EXPECT_EQ(server.LogLines().size(), 3u);
}

TEST_F(ControlE2E, OnlySetServerChangesTheServerUsed) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver_->Put("RemoteHost", "127.0.0.2"), S_OK);
  ASSERT_EQ(driver_->Put("RemotePort", std::to_string(UnusedPort())), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"admin"}), S_OK);
  EXPECT_TRUE(driver_->WaitForEvent("OnAfterLogin"));
  EXPECT_TRUE(server.WaitForLogLines(1));
  EXPECT_TRUE(capture_->prompts.empty());
  EXPECT_EQ(driver_->Get("RemoteHost"), "127.0.0.2");
  // Empty arguments leave everything as it was.
  ASSERT_EQ(driver_->Call("SetServer", {"", "1"}), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"admin"}), S_OK);
  EXPECT_TRUE(server.WaitForLogLines(2));
}

TEST_F(ControlE2E, BackToBackRequestsReachTheServerInOrder) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port());
  ASSERT_EQ(GetStream("first"), S_OK);
  ASSERT_EQ(GetStream("second"), S_OK);
  EXPECT_EQ(FrameText(LoggedFrame(server, 1, "QUEY"), 151), "first");
  EXPECT_EQ(FrameText(LoggedFrame(server, 2, "QUEY"), 151), "second");
}

TEST_F(ControlE2E, RefusedConnectionShowsTheConnectErrorOnce) {
  ServiceCapture& capture = *capture_;
  ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(UnusedPort())}), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"abc"}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !capture.prompts.empty(); }, kDeadlineMs));
  // A second refused login: what the first connection still had to say comes before.
  ASSERT_EQ(driver_->Call("Login", {"abc"}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return capture.prompts.size() >= 2; }, kDeadlineMs));
  ASSERT_EQ(capture.prompts.size(), 2u);
  EXPECT_EQ(capture.prompts[1].text, capture.prompts[0].text);
  EXPECT_EQ(capture.prompts[0].text, Cp936("无法连接远程服务器！\r\r原因：\r  1.本地计算机没有联入网络  \r  2.服务器没有开启"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("系统提示"));
  EXPECT_EQ(capture.prompts[0].icon, MsgIcon::Information);
}

TEST_F(ControlE2E, ChunkedReplyMovesTheProgressBarAndBack) {
  std::string reply = "\x04" "BHQZ" + std::string(25000 - 5, '\0');
  std::string wire = std::string("\xa8\x61\0\0", 4) + reply;  // 25000
  ScriptedServer server({{{wire.substr(0, 4 + 10240), 0},
                          {wire.substr(4 + 10240, 10240), 500},
                          {wire.substr(4 + 20480), 500}}});
  auto* bar = page_->findChild<TFlatProgressBar*>();
  ASSERT_TRUE(bar);
  ASSERT_EQ(driver_->Call("SetServer", {"127.0.0.1", std::to_string(server.Port())}), S_OK);
  ASSERT_EQ(driver_->Call("Login", {"abc"}), S_OK);
  // Every position the bar draws, as a person would see it.
  std::vector<int> seen{bar->Position()};
  PaintRecorder recorder(bar, [&] {
    if (seen.back() != bar->Position()) seen.push_back(bar->Position());
  });
  // Up with each chunk, then back to 0 once the reply is whole.
  PumpUntil([&] { return seen.size() >= 5; }, kDeadlineMs);
  EXPECT_EQ(bar->Max(), 25000);
  EXPECT_EQ(seen, (std::vector<int>{0, 10240, 20480, 25000, 0}));
  EXPECT_EQ(bar->Position(), 0);
}

TEST_F(ControlE2E, UnknownDocumentMessageOpensThePopupAndAppendsTheNext) {
  OaServerProcess server;
  ASSERT_TRUE(server.Started());
  LogIn(server.Port());
  ASSERT_EQ(GetStream("abc"), S_OK);
  ASSERT_TRUE(PumpUntil([] { return Tfrm_popup::Current() != nullptr; }));
  const AnsiString text = oa::DocumentNotFoundText();
  EXPECT_EQ(Tfrm_popup::Current()->MessageTextValue(), text);
  EXPECT_TRUE(Tfrm_popup::Current()->isVisible());

  ASSERT_EQ(GetStream("def"), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return Tfrm_popup::Current() && Tfrm_popup::Current()->MessageTextValue().size() > text.size(); }));
  EXPECT_EQ(Tfrm_popup::Current()->MessageTextValue(), text + "\r\n" + text);
}

}  // namespace
