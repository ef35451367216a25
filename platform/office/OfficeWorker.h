#pragma once
// The office worker process (apps/tarvo-office), as the control sees it: started on first
// use, spoken to over a local socket; it answers requests one at a time, in order.
//
// A request is either a call, which waits for its answer, or posted, which returns at once
// and hands its answer to a function later, from the event loop. While it works, the
// worker sends a sign of life every second. A worker that dies, sends garbage, lets a call
// pass its time-out, or sends nothing at all for the silence time-out while requests wait,
// is ended: the call raises EOfficeWorkerLost, every waiting posted request is answered
// Lost, and the next call starts a new worker.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "platform/office/OfficeWire.h"

class QLocalServer;
class QLocalSocket;
class QTimer;

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

// The worker, or the office suite inside it, could not be started at all.
class EOfficeWorkerNotStarted : public EOfficeWorkerLost {
 public:
  using EOfficeWorkerLost::EOfficeWorkerLost;
};

// The answer to a posted request: its results, or the error text when it failed.
struct TOfficeAnswer {
  enum Status { Ok, Failed, Lost } status = Ok;
  std::string data;
};

class TOfficeWorker {
 public:
  // The one worker of this process.
  static TOfficeWorker& Shared();

  TOfficeWorker();
  ~TOfficeWorker();
  TOfficeWorker(const TOfficeWorker&) = delete;
  TOfficeWorker& operator=(const TOfficeWorker&) = delete;

  // Sends one request and returns its results (a reader's worth of bytes), starting the
  // worker when none runs.
  std::string Call(office_wire::Op op, const office_wire::Writer& args, int timeoutMs = -1);
  // Sends one request to the running worker and returns at once; done gets the answer.
  // Raises EOfficeWorkerLost when no worker runs.
  void Post(office_wire::Op op, const office_wire::Writer& args,
            std::function<void(const TOfficeAnswer&)> done);

  // Time-out for calls that do not name their own (tests shorten it).
  void SetRequestTimeout(int ms) { timeoutMs_ = ms; }
  int RequestTimeout() const { return timeoutMs_; }
  // How long requests may wait without hearing anything from the worker (an answer or a
  // sign of life): a stopped or hung worker is given up this long after it went quiet.
  void SetSilenceTimeout(int ms) { silenceMs_ = ms; }
  int SilenceTimeout() const { return silenceMs_; }
  // Counts started workers, so a caller can tell that its document went with an old one.
  int Generation() const { return generation_; }
  bool Running() const;
  // A call waits for its answer (the loop runs meanwhile, without user input).
  bool Calling() const { return calls_ > 0; }
  // Some request waits for its answer.
  bool Waiting() const { return calls_ > 0 || !posted_.empty(); }
  qint64 ProcessId() const;
  // Ends the worker: asks it to quit, then kills it when it does not (tests, shutdown).
  void Stop();

  // Called from the event loop with the generation of a worker that ended, whenever it
  // ends (died, stopped answering, stopped); the number removes the listener again.
  int AddEndListener(std::function<void(int generation)> ended);
  void RemoveEndListener(int id);

  // The worker program: $TARVO_OFFICE_WORKER; else the first found beside the library
  // that holds this code or beside the program, in the build tree next to either, or in
  // libexec/tarvo of the install prefix; else the build tree named by $TARVO_BUILD_DIR;
  // else PATH. "" when there is none.
  static std::string WorkerPath();
  // The places looked at, in order, before the build tree and PATH.
  static std::vector<std::string> WorkerCandidates();

 private:
  void Start();
  [[noreturn]] void NotStarted(const std::string& why);
  [[noreturn]] void Lost(const char* why);
  // Ends the worker (asking first when ask is set) and answers what waits with Lost.
  void End(bool ask);
  // Takes every whole answer off the socket; false when the worker sent garbage.
  bool ReadAnswers();
  void Watch();
  void SendRequest(uint32_t id, office_wire::Op op, const office_wire::Writer& args);
  // Waits for more input or the deadline; the window keeps painting meanwhile (input
  // waits until the answer is in).
  void WaitForMore(const QDeadlineTimer& deadline);
  void ProcessFinished(QProcess* which);

  std::unique_ptr<QProcess> process_;
  std::unique_ptr<QLocalServer> server_;
  std::unique_ptr<QTimer> watch_;
  QLocalSocket* socket_ = nullptr;  // owned by server_
  std::string socketDir_;           // also the worker's TMPDIR: ours to remove
  std::string inBuffer_;
  bool broken_ = false;
  std::map<uint32_t, std::function<void(const TOfficeAnswer&)>> posted_;
  std::map<uint32_t, std::string> answered_;  // whole answers of calls, id -> payload
  QElapsedTimer lastHeard_;                   // since the last frame, or since requests began to wait
  uint32_t nextId_ = 1;
  int timeoutMs_ = 60000;
  int silenceMs_ = 8000;  // with the report, within 10 s of the last sign of life
  int generation_ = 0;
  int calls_ = 0;  // calls waiting for their answer
  std::map<int, std::function<void(int)>> endListeners_;
  int nextListener_ = 1;
};
