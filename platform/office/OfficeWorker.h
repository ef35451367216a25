#pragma once
// The office worker process (apps/tarvo-office), as the control sees it: started on first
// use, spoken to over a local socket, one request at a time. A worker that dies, or gives
// no answer within the request's time-out, is ended and raises EOfficeWorkerLost; the next
// request starts a new one.
#include <QPointer>
#include <QProcess>
#include <memory>
#include <string>

#include "core/Exception.h"
#include "platform/office/OfficeWire.h"

class QLocalServer;
class QLocalSocket;

// The office suite refused a request (the worker itself is fine).
class EOfficeError : public Exception {
 public:
  using Exception::Exception;
};

// The worker died or stopped answering; whatever it held is gone.
class EOfficeWorkerLost : public EOfficeError {
 public:
  using EOfficeError::EOfficeError;
};

class TOfficeWorker {
 public:
  // The one worker of this process.
  static TOfficeWorker& Shared();

  TOfficeWorker();
  ~TOfficeWorker();
  TOfficeWorker(const TOfficeWorker&) = delete;
  TOfficeWorker& operator=(const TOfficeWorker&) = delete;

  // Sends one request and returns its results (a reader's worth of bytes).
  std::string Call(office_wire::Op op, const office_wire::Writer& args, int timeoutMs = -1);

  // Time-out for requests that do not name their own (tests shorten it).
  void SetRequestTimeout(int ms) { timeoutMs_ = ms; }
  int RequestTimeout() const { return timeoutMs_; }
  // Counts started workers, so a caller can tell that its document went with an old one.
  int Generation() const { return generation_; }
  bool Running() const;
  qint64 ProcessId() const;
  // Ends the worker (tests, shutdown).
  void Stop();

  // The worker program: $TARVO_OFFICE_WORKER, beside the application, or in the build tree.
  static std::string WorkerPath();

 private:
  void Start();
  [[noreturn]] void Lost(const char* why);

  std::unique_ptr<QProcess> process_;
  std::unique_ptr<QLocalServer> server_;
  QLocalSocket* socket_ = nullptr;  // owned by server_
  std::string socketDir_;
  uint32_t nextId_ = 1;
  int timeoutMs_ = 60000;
  int generation_ = 0;
};
