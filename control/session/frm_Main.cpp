#include "control/session/frm_Main.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "control/windows/ControlColors.h"
#include "control/wire/Frames.h"
#include "control/session/Un_function.h"
#include "control/wire/Un_type.h"
#include "control/windows/WaitFOr.h"
#include "core/ByteIO.h"
#include "core/CappedGrowth.h"
#include "platform/QtText.h"
#include "core/SysUtils.h"
#include "platform/Guard.h"
#include "platform/LocaleSettings.h"
#include "platform/Services.h"
#include "platform/office/OfficeWorker.h"
#include "uikit/TFlatProgressBarUnit.h"

namespace {

QPointer<TfrmMain>& CurrentSession() {
  static QPointer<TfrmMain> session;
  return session;
}

struct PendingDoit {
  AnsiString table;
  AnsiString id;
};
PendingDoit& Pending() {
  static PendingDoit pending;
  return pending;
}

const char* const kConnectError =
    "无法连接远程服务器！\r\r原因：\r  1.本地计算机没有联入网络  \r  2.服务器没有开启";
const char* const kCaption = "系统提示";
const char* const kUnreadableReply = "服务器返回的数据不完整或无法识别，操作没有完成。";
const char* const kCutReply = "服务器的答复不完整，操作可能没有完成，请重新打开文档查看。";
const char* const kCutFlowReply = "服务器的答复不完整，操作可能没有完成，请重新打开流程查看。";
const char* const kNoAnswer = "服务器在60秒内没有答复，操作可能没有完成。";

}  // namespace

struct TfrmMain::Connection {
  QTcpSocket* socket = nullptr;  // deleted later: its own signal may be on the stack
  std::string frame;
  TRequestDone done;
  bool connected = false;
  bool expectingLength = false;
  uint8_t lengthBytes[4] = {};
  int lengthRead = 0;
  int32_t announced = 0;
  int32_t expected = 0;
  std::string reply;
};

TfrmMain::TfrmMain(QWidget* owner) : QWidget(owner) {
  // FormCreate
  setObjectName("frmMain");
  setWindowFlag(Qt::FramelessWindowHint, true);
  resize(346, 20);
  SetBackground(this, clGray);

  image1_ = new QLabel(this);
  image1_->setObjectName("Image1");
  image1_->resize(16, 14);

  progressBar_ = new TFlatProgressBar(this);
  progressBar_->setObjectName("ProgressBar");
  progressBar_->setGeometry(0, 3, 309, 13);
  progressBar_->SetColorElement(13565937);
  progressBar_->SetColorBorder(clGray);
  progressBar_->SetMin(0);
  progressBar_->SetMax(100);

  replyTimer_ = new QTimer(this);
  replyTimer_->setSingleShot(true);
  connect(replyTimer_, &QTimer::timeout, this, [this] { Guarded([this] { ClientSocketTimeout(); }); });

  frmWaitFor_ = std::make_unique<TfrmWaitFor>(nullptr);
  dispatched_ = std::make_shared<TDispatchedWindows>();
  OnReply = [this](TMemoryStream& reply) { DispatchReply(*this, reply); };
  CurrentSession() = this;
}

TfrmMain::~TfrmMain() {
  // FormDestroy: no handler of ours may run for a half-destroyed form.
  if (conn_) {
    QTcpSocket* s = conn_->socket;
    conn_.reset();
    s->disconnect(this);
    s->abort();
  }
  if (CurrentSession() == this) CurrentSession() = nullptr;
}

TfrmMain* frmMain() { return CurrentSession().data(); }

void TfrmMain::SetServer(const AnsiString& host, int port) {
  host_ = host;
  port_ = port;
}

// ---- sending -----------------------------------------------------------------

bool IsChangingRequest(std::string_view frame) {
  const AnsiString code = frames::FrameCode(frame);
  for (const char* reading : {"LOGN", "QUEY", "FILE", "CHAT", "USER", "BHQZ", "COMP", "XSLF"})
    if (code == reading) return false;
  return true;
}

void TfrmMain::SendToServer(TStream& frame) { SendToServer(frame, nullptr); }

void TfrmMain::SendToServer(std::string frame) { SendToServer(std::move(frame), nullptr); }

void TfrmMain::SendToServer(TStream& frame, TRequestDone done) {
  frame.SetPosition(0);
  SendToServer(frame.ReadRest(), std::move(done));
}

void TfrmMain::SendToServer(std::string frame, TRequestDone done) {
  queue_.push_back({std::move(frame), std::move(done)});
  StartNext();
}

void TfrmMain::SendLogin(const AnsiString& loginName) {
  // The server hands dates back in this format; the result is ignored.
  Swallowed([] { LocaleSettings::SetShortDateFormat("yyyy-MM-dd"); });
  SendToServer(frames::BuildLoginRequest(loginName));
}

void TfrmMain::SendQuery(const AnsiString& database, const AnsiString& tableName, const AnsiString& recordId,
                         uint8_t commandFlag, const AnsiString& templateName, int32_t objectNumber,
                         uint8_t readOnlyFlag, const AnsiString& initTable, const AnsiString& initRecord) {
  const TSessionValues& s = SessionValues();
  if (s.UserGUID.empty()) {
    SendLogin(storedLoginName_);
    return;
  }
  frames::QueryRecord q;
  q.database = database;
  q.userId = s.UserGUID;
  q.objectNumber = objectNumber;
  q.tableName = tableName;
  q.recordId = recordId;
  q.commandFlag = commandFlag;
  q.templateName = templateName;
  q.userLevel = s.UserLevel;
  q.readOnlyFlag = readOnlyFlag;
  q.initTable = initTable;
  q.initRecord = initRecord;
  q.loginName = s.LoginName;
  q.userName = s.UserName;
  q.deptName = s.DeptName;
  q.roleName = s.RoleName;
  q.dutyName = s.DutyName;
  queryRecord_ = frames::BuildQueryRequest(q);
  SendToServer(queryRecord_);
}

void TfrmMain::RequestFlowChart(const AnsiString& idText) {
  if (SessionValues().UserGUID.empty()) {
    SendLogin(storedLoginName_);
    return;
  }
  SendToServer(frames::BuildChatRequest(StrToInt(idText)));
}

// ---- connection per frame -------------------------------------------------------

void TfrmMain::StartNext() {
  if (conn_ || queue_.empty()) return;
  conn_ = std::make_unique<Connection>();
  conn_->frame = std::move(queue_.front().frame);
  conn_->done = std::move(queue_.front().done);
  queue_.pop_front();

  auto* s = new QTcpSocket(this);
  conn_->socket = s;
  connect(s, &QTcpSocket::connected, this, GuardSlot([this, s] { ClientSocketConnect(s); }));
  connect(s, &QTcpSocket::readyRead, this, GuardSlot([this, s] { WhenWorkerFree(s, [this, s] { ClientSocketRead(s); }); }));
  connect(s, &QTcpSocket::errorOccurred, this, GuardSlot([this, s](QAbstractSocket::SocketError e) {
            WhenWorkerFree(s, [this, s, e] { ClientSocketError(s, e == QAbstractSocket::HostNotFoundError); });
          }));
  connect(s, &QTcpSocket::disconnected, this,
          GuardSlot([this, s] { WhenWorkerFree(s, [this, s] { ClientSocketDisconnect(s); }); }));
  // A large frame may take a while to go out: every byte written counts as progress.
  connect(s, &QTcpSocket::bytesWritten, this, GuardSlot([this, s](qint64) { KeepAlive(s); }));
  replyTimer_->start(replyTimeoutMs_);
  s->connectToHost(ToQString(host_), quint16(port_));
}

void TfrmMain::KeepAlive(QTcpSocket* s) {
  if (conn_ && conn_->socket == s) replyTimer_->start(replyTimeoutMs_);
}

void TfrmMain::ClientSocketConnect(QTcpSocket* s) {
  if (!conn_ || conn_->socket != s) return;
  conn_->connected = true;
  conn_->expectingLength = true;
  KeepAlive(s);
  // SendPendingFrame: code, length, then the frame (which repeats the code).
  const std::string& f = conn_->frame;
  char head[9] = {};
  std::memcpy(head, f.data(), std::min<size_t>(5, f.size()));
  StoreLE(head + 5, uint32_t(f.size()));
  s->write(head, qint64(sizeof head));
  s->write(f.data(), qint64(f.size()));
  frmWaitFor_->ShowCentredOn(DialogAnchor(this));
}

// How a request ended is handled where windows may open: a reply's handler opens windows
// that call the office worker themselves, and one opened inside a call that waits on the
// worker could never close (it waits for the worker, and the call for the window).
void TfrmMain::WhenWorkerFree(QTcpSocket* s, std::function<void()> handle) {
  if (!TOfficeWorker::Shared().Calling()) return handle();
  // What arrived meanwhile is no silence.
  if (conn_ && conn_->socket == s) KeepAlive(s);
  QTimer::singleShot(50, this, GuardSlot([this, socket = QPointer<QTcpSocket>(s), handle = std::move(handle)] {
    if (socket) WhenWorkerFree(socket, handle);
  }));
}

void TfrmMain::ClientSocketRead(QTcpSocket* s) {
  if (!conn_ || conn_->socket != s) return;
  KeepAlive(s);
  ReadAvailable();
}

bool TfrmMain::ReadAvailable() {
  while (conn_ && conn_->socket->bytesAvailable() > 0) {
    Connection& c = *conn_;
    if (c.expectingLength) {
      const qint64 n = c.socket->read(reinterpret_cast<char*>(c.lengthBytes) + c.lengthRead, 4 - c.lengthRead);
      if (n <= 0) return false;
      c.lengthRead += int(n);
      if (c.lengthRead < 4) continue;
      const int32_t len = LoadLE<int32_t>(c.lengthBytes);
      if (len < 0 || len > kMaxReplyLength) {
        LogFailure("reply length " + std::to_string(len) + " out of range; connection closed");
        EndWithoutReply(TRequestEnd::Invalid);
        return true;
      }
      c.expectingLength = false;
      c.announced = len;
      c.expected = len;
      progressBar_->SetMax(len);
      if (len == 0) {
        CompleteReply();
        return true;
      }
      continue;
    }
    const qint64 want = std::min<qint64>(c.expected, kReceiveChunk);
    const qint64 n = c.socket->read(receiveBuffer_, want);
    if (n <= 0) return false;
    // Never past the announced length: reads ask for at most what is still expected.
    if (!AppendCapped(c.reply, std::string_view(receiveBuffer_, size_t(n)), size_t(c.announced))) {
      EndWithoutReply(TRequestEnd::Invalid);
      return true;
    }
    c.expected -= int32_t(n);
    progressBar_->SetPosition(c.announced - c.expected);
    if (c.expected == 0) {
      CompleteReply();
      return true;
    }
  }
  return false;
}

std::unique_ptr<TfrmMain::Connection> TfrmMain::Detach() {
  std::unique_ptr<Connection> c = std::move(conn_);
  replyTimer_->stop();
  if (c) {
    c->socket->disconnect(this);
    c->socket->abort();
    c->socket->deleteLater();
  }
  return c;
}

void TfrmMain::CompleteReply() {
  std::unique_ptr<Connection> c = Detach();
  CloseWaitBox();
  progressBar_->SetPosition(0);
  // The next queued frame goes out now: the handler below may run a modal
  // window for a long time, and its own requests queue behind this one.
  StartNext();
  // The sender learns first: a reply's handler may close the sender's window.
  if (c->done) Guarded([&] { c->done(TRequestEnd::Replied, c->reply); });
  TMemoryStream reply(std::move(c->reply));
  c.reset();
  if (OnReply) Guarded([&] { OnReply(reply); });
}

void TfrmMain::Abandon(bool startNext) {
  Detach();
  CloseWaitBox();
  progressBar_->SetPosition(0);
  if (startNext) StartNext();
}

void TfrmMain::ClientSocketError(QTcpSocket* s, bool lookupFailed) {
  if (!conn_ || conn_->socket != s) return;
  // Bytes that arrived before the close still count.
  if (conn_->connected && ReadAvailable()) return;
  if (conn_->connected) {
    EndWithoutReply(TRequestEnd::Cut);
    return;
  }
  // An unknown host name fails without a word; its sender still learns.
  if (lookupFailed) {
    TRequestDone done = std::move(conn_->done);
    Abandon(false);
    if (done) Guarded([&] { done(TRequestEnd::Refused, {}); });
    StartNext();
    return;
  }
  EndWithoutReply(TRequestEnd::Refused);
}

void TfrmMain::ClientSocketTimeout() {
  if (!conn_) return;
  // A connect that never completes is a failed connect.
  EndWithoutReply(conn_->connected ? TRequestEnd::TimedOut : TRequestEnd::Refused);
}

void TfrmMain::EndWithoutReply(TRequestEnd end) {
  if (!conn_) return;
  TRequestDone done = std::move(conn_->done);
  const bool changing = IsChangingRequest(conn_->frame);
  const bool flow = frames::FrameCode(conn_->frame) == "FLOW";
  const QPointer<TfrmMain> self(this);
  Abandon(false);
  // The person is told first, so a window waiting for this request decides after the message.
  ShowEndMessage(end, changing, flow);
  if (done) Guarded([&] { done(end, {}); });
  if (self) StartNext();
}

void TfrmMain::ShowEndMessage(TRequestEnd end, bool changing, bool flow) {
  switch (end) {
    case TRequestEnd::Replied: return;
    case TRequestEnd::Refused: ShowConnectError(); return;
    case TRequestEnd::TimedOut:
      ShowMessageBox(Cp936(kNoAnswer), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, DialogAnchor(this));
      return;
    case TRequestEnd::Cut:
      ShowMessageBox(Cp936(!changing ? kUnreadableReply : flow ? kCutFlowReply : kCutReply), Cp936(kCaption),
                     MsgIcon::Information, MsgButtons::Ok, DialogAnchor(this));
      return;
    case TRequestEnd::Invalid: ShowUnreadableReply(); return;
  }
}

void TfrmMain::ShowConnectError() {
  ShowMessageBox(Cp936(kConnectError), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok, DialogAnchor(this));
}

void ShowUnreadableReply() {
  ShowMessageBox(Cp936(kUnreadableReply), Cp936(kCaption), MsgIcon::Information, MsgButtons::Ok,
                 DialogAnchor(frmMain()));
}

void TfrmMain::ClientSocketDisconnect(QTcpSocket* s) {
  if (!conn_ || conn_->socket != s) return;
  if (ReadAvailable()) return;
  EndWithoutReply(conn_->connected ? TRequestEnd::Cut : TRequestEnd::Refused);
}

void TfrmMain::CloseWaitBox() {
  if (frmWaitFor_) frmWaitFor_->close();
}

// ---- events ------------------------------------------------------------------

bool TfrmMain::event(QEvent* e) {
  if (e->type() == QEvent::Type(kWMAfterLogin)) {
    Guarded([this] { WMAfterLogin(); });
    return true;
  }
  return QWidget::event(e);
}

void TfrmMain::WMAfterLogin() {
  // Waits without blocking: replies keep arriving meanwhile.
  QTimer::singleShot(kAfterLoginDelayMs, this, GuardSlot([this] { FireAfterLogin(); }));
}

void TfrmMain::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Guarded([this] { FireDoLogin(); });
}

void TfrmMain::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  image1_->move(width() - image1_->width() - 2, (height() - image1_->height()) / 2);
}

void TfrmMain::FireDoLogin() {
  if (OnDoLogin) OnDoLogin();
}
void TfrmMain::FireAfterLogin() {
  if (OnAfterLogin) OnAfterLogin();
}
void TfrmMain::FireSendFile() {
  if (OnSendFile) OnSendFile();
}

// ---- process-wide firers ---------------------------------------------------------

void SetPendingDoit(const AnsiString& table, const AnsiString& id) { Pending() = {table, id}; }

void FireDoit(TfrmMain& session) {
  // Taken before firing: the page may set a new pair from inside the event.
  const PendingDoit pair = std::exchange(Pending(), PendingDoit{});
  if (session.OnDoit) session.OnDoit(pair.table, pair.id);
}

void FireDoit() {
  if (TfrmMain* m = frmMain()) {
    FireDoit(*m);
  } else {
    Pending() = {};
  }
}

void FireDoLogin() {
  if (TfrmMain* m = frmMain()) m->FireDoLogin();
}
void FireAfterLogin() {
  if (TfrmMain* m = frmMain()) m->FireAfterLogin();
}
void FireSendFile() {
  if (TfrmMain* m = frmMain()) m->FireSendFile();
}
