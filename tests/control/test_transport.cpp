// The session transport against an in-test server: framing, reassembly,
// refusal of bad lengths, recovery, ordering and the connect-error message.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QLabel>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>

#include "ControlTestSupport.h"
#include "control/wire/Frames.h"
#include "control/wire/Un_type.h"
#include "control/windows/WaitFOr.h"
#include "control/session/frm_Main.h"
#include "core/DateTime.h"
#include "platform/Services.h"
#include "uikit/TFlatProgressBarUnit.h"

namespace {

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(dir.isValid());
    setenv("TARVO_LOCALE_FILE", (dir.path() + "/locale.ini").toUtf8().constData(), 1);
    ClearSessionValues();
    session = std::make_unique<TfrmMain>();
    session->SetServer("127.0.0.1", server.Port());
    session->OnReply = [this](TMemoryStream& r) {
      replies.push_back(r.Data());
      progressAtDispatch.push_back(session->ProgressBar()->Position());
    };
  }
  void TearDown() override { ClearSessionValues(); }

  bool Idle() { return !session->Busy() && session->QueuedFrames() == 0; }

  AppInit app;
  QTemporaryDir dir;
  ServiceCapture capture;
  FrameServer server;
  std::unique_ptr<TfrmMain> session;
  std::vector<std::string> replies;
  std::vector<int> progressAtDispatch;
};

TEST_F(Transport, LoginGoesOutAsCodeLengthFrameAndSetsTheShortDate) {
  server.QueueReply(frames::BuildLoginReply(LoginAs("{U}")));
  session->SendLogin("abc");
  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 1; }));
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0].code, std::string("\x04LOGN", 5));
  EXPECT_EQ(server.requests[0].length, 380);
  EXPECT_EQ(server.requests[0].frame, frames::BuildLoginRequest("abc"));
  EXPECT_EQ(replies[0], frames::BuildLoginReply(LoginAs("{U}")));
  EXPECT_EQ(DefaultFormatSettings().ShortDateFormat, "yyyy-MM-dd");
  EXPECT_TRUE(WaitUntil([&] { return Idle(); }));
}

TEST_F(Transport, ChunkedReplyAdvancesTheProgressBarThenResetsIt) {
  std::string payload = "\x04SMSG";
  payload.resize(25000, 'p');
  const std::string wire = Le32(25000) + payload;
  server.QueueRaw({{wire.substr(0, 4 + 10240), wire.substr(4 + 10240, 10240), wire.substr(4 + 20480)}, 300});
  session->SendToServer(std::string("\x04QUEY", 5));
  ASSERT_TRUE(WaitUntil([&] { return session->ProgressBar()->Position() == 10240; }));
  EXPECT_EQ(session->ProgressBar()->Max(), 25000);
  EXPECT_TRUE(session->WaitForBox()->isVisible());
  ASSERT_TRUE(WaitUntil([&] { return session->ProgressBar()->Position() == 20480; }));
  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], payload);
  EXPECT_EQ(progressAtDispatch[0], 0);
  EXPECT_FALSE(session->WaitForBox()->isVisible());
}

TEST_F(Transport, WaitTextReplacesTheCaptionForOneShowing) {
  TfrmWaitFor& box = *session->WaitForBox();
  box.SetWaitText(Cp936("正在上传"));
  server.QueueRaw({{Le32(10) + "\x04SMSG", "-rest"}, 200});  // half now, half later
  session->SendToServer(frames::BuildUnitsRequest(1));
  ASSERT_TRUE(WaitUntil([&] { return box.isVisible(); }));
  EXPECT_EQ(box.lbl1()->text(), QString::fromUtf8("正在上传"));
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  EXPECT_FALSE(box.isVisible());
  EXPECT_TRUE(box.WaitText().empty());
}

TEST_F(Transport, LengthBytesSplitAcrossReads) {
  const std::string frame = frames::BuildServerMessage("hello");
  const std::string wire = Le32(int32_t(frame.size())) + frame;
  server.QueueRaw({{wire.substr(0, 1), wire.substr(1, 2), wire.substr(3, 3), wire.substr(6)}, 50});
  session->SendToServer(std::string("\x04QUEY", 5));
  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], frame);
}

TEST_F(Transport, BadLengthsAreDroppedAndTheSessionRecovers) {
  server.QueueRaw({{Le32(0)}});                         // empty: handled at once
  server.QueueRaw({{Le32(-1) + "junk"}});               // negative: dropped
  server.QueueRaw({{Le32(64 * 1024 * 1024 + 1)}});      // too large: dropped
  server.QueueRaw({{Le32(100) + std::string(50, 'x')}, 0, true});  // closed mid-reply
  server.QueueReply(frames::BuildServerMessage("after"));
  for (int i = 0; i < 5; ++i) session->SendToServer(std::string("\x04QUEY", 5));
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 5 && Idle(); }));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], "");
  EXPECT_EQ(replies[1], frames::BuildServerMessage("after"));
  EXPECT_EQ(server.connections, 5);
  // Each reply that could not be used is said once: the person learns the query failed.
  ASSERT_EQ(capture.prompts.size(), 3u);
  for (const auto& p : capture.prompts) EXPECT_EQ(p.text, Cp936("服务器返回的数据不完整或无法识别，操作没有完成。"));
  EXPECT_EQ(session->ProgressBar()->Position(), 0);
}

TEST_F(Transport, FramesQueuedBackToBackAllGoOutInOrder) {
  for (int i = 0; i < 3; ++i) server.QueueReply(frames::BuildServerMessage(std::to_string(i)));
  session->SendToServer(frames::BuildUnitsRequest(1));
  session->SendToServer(frames::BuildUnitsRequest(2));
  session->SendToServer(frames::BuildUnitsRequest(3));
  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 3; }));
  ASSERT_EQ(server.requests.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(server.requests[i].frame, frames::BuildUnitsRequest(i + 1));
    EXPECT_EQ(frames::ParseServerMessage(replies[i]), std::to_string(i));
  }
  EXPECT_EQ(server.connections, 3);
}

TEST_F(Transport, ReplyArrivesWhileAnEarlierReplyRunsAModalLoop) {
  server.QueueReply(frames::BuildServerMessage("outer"));
  server.QueueReply(frames::BuildServerMessage("inner"));
  bool innerSeenInsideOuter = false;
  session->OnReply = [&](TMemoryStream& r) {
    replies.push_back(r.Data());
    if (frames::ParseServerMessage(r.Data()) != "outer") return;
    session->SendToServer(frames::BuildUnitsRequest(2));
    QEventLoop modal;  // what a reply's window does
    QTimer::singleShot(3000, &modal, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (replies.size() == 2) modal.quit();
    });
    poll.start(5);
    modal.exec();
    innerSeenInsideOuter = replies.size() == 2;
  };
  session->SendToServer(frames::BuildUnitsRequest(1));
  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 2; }));
  EXPECT_TRUE(innerSeenInsideOuter);
}

TEST_F(Transport, RefusedConnectionShowsTheMessageOnceAndNextRequestWorks) {
  QTcpServer closed;
  closed.listen(QHostAddress::LocalHost, 0);
  const int deadPort = closed.serverPort();
  closed.close();
  session->SetServer("127.0.0.1", deadPort);
  session->WaitForBox()->SetWaitText("upload");
  session->SendToServer(frames::BuildUnitsRequest(1));
  ASSERT_TRUE(WaitUntil([&] { return capture.prompts.size() == 1 && Idle(); }));
  EXPECT_TRUE(session->WaitForBox()->WaitText().empty()) << "closed without being shown";
  EXPECT_EQ(capture.prompts[0].text,
            Cp936("无法连接远程服务器！\r\r原因：\r  1.本地计算机没有联入网络  \r  2.服务器没有开启"));
  EXPECT_EQ(capture.prompts[0].caption, Cp936("系统提示"));
  EXPECT_EQ(capture.prompts[0].icon, MsgIcon::Information);
  EXPECT_FALSE(session->WaitForBox()->isVisible());

  // A host name that does not resolve is not a failed connect: no message.
  session->SetServer("", deadPort);
  session->SendToServer(frames::BuildUnitsRequest(1));
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
  EXPECT_EQ(capture.prompts.size(), 1u);

  // The next request's whole round trip comes after anything the failed one left behind.
  session->SetServer("127.0.0.1", server.Port());
  server.QueueReply(frames::BuildServerMessage("ok"));
  ASSERT_TRUE(RoundTrip(*session, frames::BuildUnitsRequest(1)));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(capture.prompts.size(), 1u);
}

// The sender of a request hears how it ended: its whole reply, or nothing after the person
// was told the connection failed.
TEST_F(Transport, TheSenderHearsHowItsRequestEnded) {
  session->OnReply = [this](TMemoryStream& r) {
    replies.push_back(r.Data());
    r.Clear();  // as the dispatcher does
  };
  std::vector<std::optional<std::string>> ended;
  size_t promptsWhenTold = 0;
  auto tell = [&](TRequestEnd end, const std::string& r) {
    ended.push_back(end == TRequestEnd::Replied ? std::optional<std::string>(r) : std::nullopt);
    promptsWhenTold = capture.prompts.size();
  };
  server.QueueReply(frames::BuildServerMessage("saved"));
  session->SendToServer(frames::BuildUnitsRequest(1), tell);
  ASSERT_TRUE(WaitUntil([&] { return ended.size() == 1; }));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(ended[0], frames::BuildServerMessage("saved"));

  QTcpServer closed;
  closed.listen(QHostAddress::LocalHost, 0);
  const int deadPort = closed.serverPort();
  closed.close();
  session->SetServer("127.0.0.1", deadPort);
  session->SendToServer(frames::BuildUnitsRequest(1), tell);
  ASSERT_TRUE(WaitUntil([&] { return ended.size() == 2; }));
  EXPECT_EQ(ended[1], std::nullopt);
  EXPECT_EQ(promptsWhenTold, 1u);  // after the connect error was shown

  // A reply cut off before its end is no reply.
  session->SetServer("127.0.0.1", server.Port());
  server.QueueRaw({{Le32(100) + "short"}, 0, true});
  session->SendToServer(frames::BuildUnitsRequest(1), tell);
  ASSERT_TRUE(WaitUntil([&] { return ended.size() == 3; }));
  EXPECT_EQ(ended[2], std::nullopt);
  EXPECT_EQ(replies.size(), 1u);
}

TEST_F(Transport, SilentServerTimesOutWithItsOwnMessageAndTheQueueMovesOn) {
  EXPECT_EQ(session->ReplyTimeoutMs(), 60000);
  session->SetReplyTimeoutMs(600);
  // A reply that trickles in for longer than the time-out is still progress.
  const std::string slow = Le32(8) + "\x04SMSG123";
  std::vector<std::string> drops;
  for (char c : slow) drops.emplace_back(1, c);
  server.QueueRaw({drops, 100});
  server.QueueRaw({});  // reads the request and never answers
  server.QueueReply(frames::BuildServerMessage("next"));
  for (int i = 1; i <= 3; ++i) session->SendToServer(frames::BuildUnitsRequest(i));

  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 1; }));
  EXPECT_EQ(replies[0], "\x04SMSG123");
  EXPECT_TRUE(capture.prompts.empty());
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 2; }));
  EXPECT_TRUE(session->WaitForBox()->isVisible());

  ASSERT_TRUE(WaitUntil([&] { return replies.size() == 2; }));
  ASSERT_EQ(capture.prompts.size(), 1u);
  EXPECT_EQ(capture.prompts[0].text, Cp936("服务器在60秒内没有答复，操作可能没有完成。"));
  EXPECT_EQ(server.requests[2].frame, frames::BuildUnitsRequest(3));
  EXPECT_EQ(frames::ParseServerMessage(replies[1]), "next");
  EXPECT_TRUE(WaitUntil([&] { return Idle(); }));
  EXPECT_FALSE(session->WaitForBox()->isVisible());
}

TEST_F(Transport, EverySenderLearnsHowItsRequestEndedAndThePersonIsToldOnce) {
  session->SetReplyTimeoutMs(600);
  std::vector<std::string> order;
  std::vector<TRequestEnd> ends;
  auto done = [&](TRequestEnd e, const std::string& reply) {
    ends.push_back(e);
    order.push_back("done:" + reply.substr(0, 5));
  };
  session->OnReply = [&](TMemoryStream& r) { order.push_back("dispatch:" + r.Data().substr(0, 5)); };
  const std::string update = std::string("\x04UPDA", 5) + std::string(20, 'u');

  server.QueueReply(frames::BuildServerMessage("ok"));
  server.QueueRaw({{Le32(100) + std::string(50, 'x')}, 0, true});  // cut after a change
  server.QueueRaw({{Le32(100) + std::string(50, 'x')}, 0, true});  // cut after a query
  server.QueueRaw({});                                               // never answers
  server.QueueRaw({{Le32(64 * 1024 * 1024 + 1)}});                   // refused length
  session->SendToServer(update, done);
  session->SendToServer(update, done);
  session->SendToServer(frames::BuildUnitsRequest(1), done);
  session->SendToServer(update, done);
  session->SendToServer(update, done);
  ASSERT_TRUE(WaitUntil([&] { return ends.size() == 5 && Idle(); }, 10000));
  EXPECT_EQ(ends, (std::vector<TRequestEnd>{TRequestEnd::Replied, TRequestEnd::Cut, TRequestEnd::Cut,
                                            TRequestEnd::TimedOut, TRequestEnd::Invalid}));
  // The sender hears first: a reply's handler may close the sender's window.
  ASSERT_GE(order.size(), 2u);
  EXPECT_EQ(order[0], "done:\x04SMSG");
  EXPECT_EQ(order[1], "dispatch:\x04SMSG");
  std::vector<AnsiString> said;
  for (const auto& p : capture.prompts) said.push_back(p.text);
  EXPECT_EQ(said, (std::vector<AnsiString>{Cp936("服务器的答复不完整，操作可能没有完成，请重新打开文档查看。"),
                                           Cp936("服务器返回的数据不完整或无法识别，操作没有完成。"),
                                           Cp936("服务器在60秒内没有答复，操作可能没有完成。"),
                                           Cp936("服务器返回的数据不完整或无法识别，操作没有完成。")}));

  // A refused connection and an unknown host end the request too.
  QTcpServer closed;
  closed.listen(QHostAddress::LocalHost, 0);
  const int deadPort = closed.serverPort();
  closed.close();
  session->SetServer("127.0.0.1", deadPort);
  session->SendToServer(update, done);
  session->SetServer("", deadPort);
  session->SendToServer(update, done);
  ASSERT_TRUE(WaitUntil([&] { return ends.size() == 7 && Idle(); }, 10000));
  EXPECT_EQ(ends[5], TRequestEnd::Refused);
  EXPECT_EQ(ends[6], TRequestEnd::Refused);
  EXPECT_EQ(capture.prompts.size(), 5u);
  for (const char* code : {"LOGN", "QUEY", "USER", "CHAT"})
    EXPECT_FALSE(IsChangingRequest(std::string("\x04", 1) + code)) << code;
  for (const char* code : {"UPDA", "SABB", "DCMD", "FEFA", "QIAN", "FLOW"})
    EXPECT_TRUE(IsChangingRequest(std::string("\x04", 1) + code)) << code;

  // A cut reply to a workflow save sends the person back to the workflow.
  session->SetServer("127.0.0.1", server.Port());
  server.QueueRaw({{Le32(100) + std::string(50, 'x')}, 0, true});
  session->SendToServer(std::string("\x04" "FLOW", 5) + std::string(20, 'f'), done);
  ASSERT_TRUE(WaitUntil([&] { return ends.size() == 8 && Idle(); }, 10000));
  EXPECT_EQ(ends[7], TRequestEnd::Cut);
  EXPECT_EQ(capture.prompts.back().text, Cp936("服务器的答复不完整，操作可能没有完成，请重新打开流程查看。"));
}

TEST_F(Transport, TheWaitBoxStandsOverItsWindowAndFollowsItWhenTheWindowIsPlaced) {
  QWidget page;
  page.setGeometry(200, 150, 800, 600);
  page.show();
  TfrmWaitFor& box = *session->WaitForBox();
  box.ShowCentredOn(&page);
  const QPoint half(box.width() / 2, box.height() / 2);
  auto over = [&] { return (box.pos() + half - page.mapToGlobal(QPoint(400, 300))).manhattanLength() <= 2; };
  EXPECT_TRUE(over());
  // The window manager places a new window only after it shows.
  page.move(500, 300);
  ASSERT_TRUE(WaitUntil(over));
  box.close();
}

TEST_F(Transport, QueriesAndFlowChartsLogInFirstWhileNobodyIsLoggedIn) {
  session->SetStoredLoginName("abc");
  session->SendQuery("db", "", "{R}", 1, "tpl", 7, 1, "", "");
  session->RequestFlowChart("12");
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 2 && Idle(); }));
  EXPECT_EQ(server.requests[0].frame, frames::BuildLoginRequest("abc"));
  EXPECT_EQ(server.requests[1].frame, frames::BuildLoginRequest("abc"));

  frames::LoginReply l;
  l.UserGUID = "{U}";
  l.LoginName = "abc";
  l.UserName = "name";
  l.DeptName = "dept";
  l.RoleName = "role";
  l.DutyName = "duty";
  l.UserLevel = 3;
  UnpackLoginReply(frames::BuildLoginReply(l));
  session->SendQuery("db", "", "{R}", 1, "tpl", 7, 1, "it", "ir");
  session->RequestFlowChart("12");
  EXPECT_THROW(session->RequestFlowChart("x12"), EConvertError);
  ASSERT_TRUE(WaitUntil([&] { return server.requests.size() == 4 && Idle(); }));
  // Arguments and session values meet in the query record.
  const frames::QueryRecord q = frames::ReadQueryRequest(server.requests[2].frame);
  EXPECT_EQ(q.database, "db");
  EXPECT_EQ(q.userId, "{U}");
  EXPECT_EQ(q.initTable, "it");
  EXPECT_EQ(q.userLevel, 3);
  EXPECT_EQ(q.loginName, "abc");
  EXPECT_EQ(q.userName, "name");
  EXPECT_EQ(q.deptName, "dept");
  EXPECT_EQ(q.roleName, "role");
  EXPECT_EQ(q.dutyName, "duty");
  EXPECT_EQ(session->QueryRecord(), server.requests[2].frame);
  EXPECT_EQ(server.requests[3].frame, frames::BuildChatRequest(12));
}

}  // namespace
