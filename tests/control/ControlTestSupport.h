// Shared pieces of the control tests: the application object, waiting on the
// event loop, and an in-test server speaking the frame transport.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ByteIO.h"
#include "control/wire/Frames.h"

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "control-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// First member of a fixture, so the application exists before any socket.
struct AppInit {
  AppInit() { TestApp(); }
};

// Runs the event loop until pred holds; false on time-out.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Returns once everything posted to the event loop before the call has been handled:
// a queued call is delivered after every event posted ahead of it.
inline bool PostedEventsHandled(int timeoutMs = 5000) {
  auto done = std::make_shared<bool>(false);
  QMetaObject::invokeMethod(QCoreApplication::instance(), [done] { *done = true; }, Qt::QueuedConnection);
  return WaitUntil([&] { return *done; }, timeoutMs);
}

// Sends `marker` through the session and waits until its request has ended. The session
// sends one request at a time in order, so whatever was queued before has reached the server.
template <class Session>
inline bool RoundTrip(Session& session, std::string marker, int timeoutMs = 10000) {
  if (!PostedEventsHandled(timeoutMs)) return false;
  auto ended = std::make_shared<bool>(false);
  session.SendToServer(std::move(marker), [ended](auto, const std::string&) { *ended = true; });
  return WaitUntil([&] { return *ended; }, timeoutMs);
}

// Runs the event loop for a while, then frees what was scheduled for deletion
// from the test body (outside any loop, where Qt would otherwise keep it).
inline void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A login reply naming only the user.
inline frames::LoginReply LoginAs(const char* userId) {
  frames::LoginReply l;
  l.UserGUID = userId;
  return l;
}

// A transport length as it travels.
inline std::string Le32(int32_t v) {
  std::string s(4, '\0');
  StoreLE(s.data(), v);
  return s;
}

// Accepts connections; reads one request each (code, length, frame), records
// it and answers with the next scripted reply. A reply is a list of pieces
// written with a pause between them; the connection is closed after the last
// piece when closeAfter is set (the client closes it otherwise).
class FrameServer : public QObject {
 public:
  struct Request {
    std::string code;  // the 5 bytes sent before the length
    int32_t length = 0;
    std::string frame;
  };
  struct Reply {
    std::vector<std::string> pieces;
    int pauseMs = 0;
    bool closeAfter = false;
  };

  FrameServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        ++connections;
        auto buffer = std::make_shared<std::string>();
        QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, buffer] {
          buffer->append(s->readAll().toStdString());
          if (buffer->size() < 9) return;
          const int32_t len = int32_t(uint8_t((*buffer)[5]) | uint8_t((*buffer)[6]) << 8 |
                                      uint8_t((*buffer)[7]) << 16 | uint32_t(uint8_t((*buffer)[8])) << 24);
          if (buffer->size() < 9 + size_t(len)) return;
          requests.push_back({buffer->substr(0, 5), len, buffer->substr(9, size_t(len))});
          buffer->clear();
          Reply r;
          if (!replies.empty()) {
            r = std::move(replies.front());
            replies.pop_front();
          } else {
            r.closeAfter = true;
          }
          Send(s, std::move(r), 0);
        });
      }
    });
  }

  int Port() const { return server_.serverPort(); }
  // The reply as the server writes it: length then the bytes.
  void QueueReply(const std::string& frame) { replies.push_back({{Le32(int32_t(frame.size())) + frame}}); }
  void QueueRaw(Reply r) { replies.push_back(std::move(r)); }

  std::vector<Request> requests;
  std::deque<Reply> replies;
  int connections = 0;

 private:
  void Send(QTcpSocket* s, Reply r, size_t i) {
    if (i >= r.pieces.size()) {
      if (r.closeAfter) s->disconnectFromHost();
      return;
    }
    s->write(r.pieces[i].data(), qint64(r.pieces[i].size()));
    s->flush();
    QPointer<QTcpSocket> guard(s);
    const int pause = r.pauseMs;
    QTimer::singleShot(pause, this, [this, guard, r = std::move(r), i]() mutable {
      if (guard) Send(guard, std::move(r), i + 1);
    });
  }

  QTcpServer server_;
};
