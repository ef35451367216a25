// The session form: the one road between the control and the server.
//
// Every outgoing frame is queued and goes out on its own connection, in
// order; nothing is dropped or replaced. On the wire a request is the 5-byte
// code, a 32-bit length and the frame; the reply is a 32-bit length and that
// many bytes. Each connection is its own socket object, so a reply can arrive
// while an earlier reply's handler runs a modal window. A connection on which
// nothing moves for the reply time-out is abandoned as a failed connect, so one
// silent server cannot hold up the queue.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "control/wire/Frames.h"
#include "core/AnsiString.h"
#include "core/Streams.h"

class QLabel;
class QTimer;
class QTcpSocket;
class TFlatProgressBar;
class TfrmWaitFor;
struct TDispatchedWindows;

// How a request ended. Replied: a whole reply came back (it is handed to the
// done callback before the dispatcher sees it). The others end without a reply.
enum class TRequestEnd { Replied, Refused, Cut, TimedOut, Invalid };
using TRequestDone = std::function<void(TRequestEnd end, const std::string& reply)>;

// Requests that change something on the server; a cut reply to one of them may
// mean the change was made.
bool IsChangingRequest(std::string_view frame);

class TfrmMain : public QWidget {
  Q_OBJECT
 public:
  // WM_USER+16, posted after a login reply was unpacked.
  static constexpr int kWMAfterLogin = 1040;
  static constexpr int kReceiveChunk = 10240;
  static constexpr int32_t kMaxReplyLength = frames::kMaxFrameLength;
  static constexpr int kAfterLoginDelayMs = 100;
  static constexpr int kDefaultReplyTimeoutMs = 60000;

  explicit TfrmMain(QWidget* owner = nullptr);
  ~TfrmMain() override;

  // Where the next connections go (SetServer of the control).
  void SetServer(const AnsiString& host, int port);
  const AnsiString& Host() const { return host_; }
  int Port() const { return port_; }

  // How long a connection may go without connecting, sending or receiving a
  // byte; takes effect from the next byte or connection on.
  void SetReplyTimeoutMs(int ms) { replyTimeoutMs_ = ms; }
  int ReplyTimeoutMs() const { return replyTimeoutMs_; }

  // Queues a copy of the whole stream (rewound first); the caller keeps it.
  void SendToServer(TStream& frame);
  void SendToServer(std::string frame);
  // The same; done learns how the request ended, whatever way it ends.
  void SendToServer(TStream& frame, TRequestDone done);
  void SendToServer(std::string frame, TRequestDone done);
  // Writes the short date format, then sends the 380-byte login frame.
  void SendLogin(const AnsiString& loginName);
  // Sends the login frame instead while nobody is logged in.
  void SendQuery(const AnsiString& database, const AnsiString& tableName, const AnsiString& recordId,
                 uint8_t commandFlag, const AnsiString& templateName, int32_t objectNumber,
                 uint8_t readOnlyFlag, const AnsiString& initTable, const AnsiString& initRecord);
  // idText must be a decimal number (EConvertError otherwise, nothing sent).
  void RequestFlowChart(const AnsiString& idText);

  const AnsiString& StoredLoginName() const { return storedLoginName_; }
  void SetStoredLoginName(const AnsiString& n) { storedLoginName_ = n; }
  const std::string& QueryRecord() const { return queryRecord_; }

  TFlatProgressBar* ProgressBar() const { return progressBar_; }
  QLabel* Image1() const { return image1_; }
  TfrmWaitFor* WaitForBox() const { return frmWaitFor_.get(); }
  bool Busy() const { return conn_ != nullptr; }
  size_t QueuedFrames() const { return queue_.size(); }

  // The control's event firers.
  void FireDoLogin();
  void FireAfterLogin();
  void FireSendFile();
  std::function<void()> OnDoLogin;
  std::function<void()> OnAfterLogin;
  std::function<void()> OnSendFile;
  std::function<void(const AnsiString& table, const AnsiString& id)> OnDoit;

  // Receives each complete reply (positioned at 0); the dispatcher by default.
  std::function<void(TMemoryStream& reply)> OnReply;
  // What the dispatcher keeps for this session; a handler holds a copy across a modal
  // window, which may outlive the session.
  const std::shared_ptr<TDispatchedWindows>& Dispatched() const { return dispatched_; }

 protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  struct Connection;
  struct Outgoing {
    std::string frame;
    TRequestDone done;
  };

  void StartNext();
  void ClientSocketConnect(QTcpSocket* s);
  void ClientSocketRead(QTcpSocket* s);
  void ClientSocketError(QTcpSocket* s, bool lookupFailed);
  void ClientSocketDisconnect(QTcpSocket* s);
  void ClientSocketTimeout();
  // Something moved on s: its time-out starts again.
  void KeepAlive(QTcpSocket* s);
  // Runs handle now, or once no call waits on the office worker.
  void WhenWorkerFree(QTcpSocket* s, std::function<void()> handle);
  void WMAfterLogin();
  // Reads what the socket holds; true when the connection ended (complete or refused).
  bool ReadAvailable();
  void CompleteReply();
  // Drops the connection and its partial reply; back to idle.
  void Abandon(bool startNext = true);
  // Abandons the connection, tells its sender, then the person.
  void EndWithoutReply(TRequestEnd end);
  std::unique_ptr<Connection> Detach();
  void CloseWaitBox();
  void ShowConnectError();
  // flow: the request saved a workflow definition, which is what to open again.
  void ShowEndMessage(TRequestEnd end, bool changing, bool flow);

  AnsiString host_;
  int port_ = 0;
  int replyTimeoutMs_ = kDefaultReplyTimeoutMs;
  QTimer* replyTimer_ = nullptr;
  AnsiString storedLoginName_;
  std::string queryRecord_;
  std::deque<Outgoing> queue_;
  std::unique_ptr<Connection> conn_;
  std::unique_ptr<TfrmWaitFor> frmWaitFor_;
  std::shared_ptr<TDispatchedWindows> dispatched_;
  TFlatProgressBar* progressBar_ = nullptr;
  QLabel* image1_ = nullptr;
  char receiveBuffer_[kReceiveChunk];
};

// Tells the person that a reply could not be used ("系统提示", information icon).
void ShowUnreadableReply();

// The session form of the running control; null while none exists.
TfrmMain* frmMain();

// The pending OnDoit pair, process-wide: set before a document closes or is
// archived, fired (then cleared) by FireDoit.
void SetPendingDoit(const AnsiString& table, const AnsiString& id);
void FireDoit();
void FireDoit(TfrmMain& session);  // on that session's control
void FireDoLogin();
void FireAfterLogin();
void FireSendFile();
