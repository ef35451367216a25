#pragma once
// Harness for end-to-end tests: the real oa-server as a child process, a scripted
// loopback server for timing and chunking, and a page that drives a control only through
// its dispatch interface while recording its events. Every wait is bounded.
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/AnsiString.h"
#include "platform/com/Dispatch.h"
#include "platform/com/Events.h"
#include "tests/LoopbackListener.h"

class QApplication;
class QProcess;

// The test program's one application, made on first use with the given program name.
QApplication& E2eApp(const char* name);

// Runs Qt events until pred holds or timeoutMs passes; returns pred's last value.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Runs Qt events for ms milliseconds.
void PumpFor(int ms);

// The oa-server binary on a free port with its own database and request log.
class OaServerProcess {
 public:
  OaServerProcess();
  ~OaServerProcess();
  bool Started() const { return port_ != 0; }
  uint16_t Port() const { return port_; }
  // The server's SQLite file, for tests that look at what it stored.
  std::string DatabasePath() const { return dir_ + "/oa.sqlite"; }
  // The request log, one entry per line.
  std::vector<std::string> LogLines() const;
  // Requests of one code the server received.
  size_t Count(const char* code) const;
  // Waits (pumping Qt events) until the log holds at least n lines.
  bool WaitForLogLines(size_t n, int timeoutMs = 5000) const;
  // Ends the server as an administrator would; Restart starts it again on the same port
  // with the same database and log. True when it is down / listening again.
  bool Stop();
  bool Restart();

 private:
  bool Launch(uint16_t port);

  std::unique_ptr<QProcess> process_;
  std::string dir_;
  std::string logPath_;
  uint16_t port_ = 0;
};

// A log line "CODE LEN HEX" split into its code and frame bytes.
struct LoggedFrame {
  std::string code;
  std::string frame;
};
std::optional<LoggedFrame> ParseLogLine(const std::string& line);
// The s[N] text at offset of a frame (empty when out of range).
AnsiString FrameText(const std::string& frame, size_t offset);

// A loopback server that answers each connection with scripted pieces, pausing between
// them, and records every request it read.
class ScriptedServer {
 public:
  struct Piece {
    std::string bytes;
    int pauseBeforeMs = 0;
  };
  explicit ScriptedServer(std::vector<std::vector<Piece>> replies);
  ~ScriptedServer();
  uint16_t Port() const { return listener_.Port(); }
  std::vector<std::string> Requests() const;
  // Steady-clock time at which the last piece of reply i was sent.
  std::optional<std::chrono::steady_clock::time_point> ReplySentAt(size_t i) const;

 private:
  void Serve();
  std::vector<std::vector<Piece>> replies_;
  LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::chrono::steady_clock::time_point> sentAt_;
  std::thread thread_;
};

// A loopback port with nothing listening on it.
uint16_t UnusedPort();

// What the page heard from the control.
struct RecordedEvent {
  DISPID dispid;
  std::string name;
  std::vector<EventArg> args;
  std::chrono::steady_clock::time_point at;
};

// The page: holds the control's dispatch interface and its event connection.
class PageDriver {
 public:
  explicit PageDriver(ComPtr<IDispatch> control);
  ~PageDriver();

  IDispatch* Control() const { return control_.Get(); }
  const std::vector<RecordedEvent>& Events() const { return events_; }
  size_t CountEvents(const std::string& name) const;
  std::optional<RecordedEvent> LastEvent(const std::string& name) const;
  bool WaitForEvent(const std::string& name, size_t count = 1, int timeoutMs = 5000) const;

  // Method call by name; UTF-8 arguments become BSTRs. Returns the HRESULT and leaves
  // the failure message (code page 936) in LastMessage().
  HRESULT Call(const char* name, const std::vector<std::string>& utf8Args);
  HRESULT Put(const char* name, const std::string& utf8Value);
  std::string Get(const char* name);
  const AnsiString& LastMessage() const { return message_; }

 private:
  ComPtr<IDispatch> control_;
  ComPtr<IEventSource> source_;
  uint32_t cookie_ = 0;
  std::vector<RecordedEvent> events_;
  AnsiString message_;
};
