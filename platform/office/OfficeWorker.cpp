#include "platform/office/OfficeWorker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

#include "core/Exception.h"
#include "core/PrivateTemp.h"
#include "core/ScopeGuard.h"
#include "platform/com/Registration.h"

using namespace office_wire;

namespace {

// Reply status bytes.
enum : uint8_t { kAnswerOk = 0, kAnswerFailed = 1, kAnswerCannotStart = 2 };

// How long a worker asked to quit may take before it is killed.
constexpr int kQuitWaitMs = 2000;

// The folder of the program or shared library that holds this code.
QString ModuleDir() {
  const std::string path = ModulePathOf(reinterpret_cast<const void*>(&ModuleDir));
  return path.empty() ? QString() : QFileInfo(QString::fromStdString(path)).absolutePath();
}

bool IsProgram(const QString& path) {
  QFileInfo f(path);
  return f.isFile() && f.isExecutable();
}

}  // namespace

TOfficeWorker& TOfficeWorker::Shared() {
  static TOfficeWorker worker;
  return worker;
}

TOfficeWorker::TOfficeWorker() = default;

TOfficeWorker::~TOfficeWorker() { End(true); }

std::vector<std::string> TOfficeWorker::WorkerCandidates() {
  QStringList bases;
  if (QString lib = ModuleDir(); !lib.isEmpty()) bases << lib;
  if (QCoreApplication::instance()) bases << QCoreApplication::applicationDirPath();
  // Beside; an install's bin/ or lib/ (or lib/<arch>/) next to libexec/; the build tree,
  // seen from control/ (the library) and from apps/tarvo-host/ (the host).
  static const char* const kRelative[] = {
      "tarvo-office",
      "../libexec/tarvo/tarvo-office",
      "../../libexec/tarvo/tarvo-office",
      "../apps/tarvo-office/tarvo-office",
      "../tarvo-office/tarvo-office",
  };
  std::vector<std::string> out;
  for (const QString& base : bases)
    for (const char* rel : kRelative) {
      std::string path = QDir::cleanPath(base + "/" + rel).toStdString();
      if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(path);
    }
  return out;
}

std::string TOfficeWorker::WorkerPath() {
  if (const char* p = std::getenv("TARVO_OFFICE_WORKER"); p && *p) return p;
  for (const std::string& path : WorkerCandidates())
    if (IsProgram(QString::fromStdString(path))) return path;
  if (const char* b = std::getenv("TARVO_BUILD_DIR"); b && *b) {
    QString built = QString::fromUtf8(b) + "/apps/tarvo-office/tarvo-office";
    if (IsProgram(built)) return built.toStdString();
  }
  return QStandardPaths::findExecutable("tarvo-office").toStdString();
}

bool TOfficeWorker::Running() const {
  return process_ && process_->state() != QProcess::NotRunning && socket_ &&
         socket_->state() == QLocalSocket::ConnectedState && !broken_;
}

qint64 TOfficeWorker::ProcessId() const { return process_ ? process_->processId() : 0; }

void TOfficeWorker::Stop() { End(true); }

int TOfficeWorker::AddEndListener(std::function<void(int)> ended) {
  endListeners_[nextListener_] = std::move(ended);
  return nextListener_++;
}

void TOfficeWorker::RemoveEndListener(int id) { endListeners_.erase(id); }

void TOfficeWorker::End(bool ask) {
  if (watch_) watch_->stop();
  const bool hadWorker = process_ != nullptr;
  if (process_) process_->disconnect();
  if (process_ && process_->state() != QProcess::NotRunning) {
    // At the end of its input the worker removes its own files and exits.
    if (ask && socket_) {
      socket_->abort();
      process_->waitForFinished(kQuitWaitMs);
    }
    if (process_->state() != QProcess::NotRunning) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
  socket_ = nullptr;
  server_.reset();
  process_.reset();
  // The worker's temporary folder is inside this one: whatever it left goes too.
  if (!socketDir_.empty()) {
    QDir(QString::fromStdString(socketDir_)).removeRecursively();
    socketDir_.clear();
  }
  inBuffer_.clear();
  answered_.clear();
  broken_ = false;
  auto waiting = std::move(posted_);
  posted_.clear();
  for (auto& [id, done] : waiting)
    if (done) done({TOfficeAnswer::Lost, "the office worker ended"});
  // Windows whose document went with the worker hear of it at once, not at their next key.
  if (hadWorker && watch_ && !endListeners_.empty()) {
    QTimer::singleShot(0, watch_.get(), [this, gen = generation_] {
      auto listeners = endListeners_;
      for (auto& [id, ended] : listeners)
        if (endListeners_.count(id) && ended) ended(gen);
    });
  }
}

void TOfficeWorker::ProcessFinished(QProcess* which) {
  if (which != process_.get()) return;
  // A call under way finds out by itself and raises; otherwise nobody may be asking.
  if (calls_ > 0) return;
  qWarning("tarvo: office worker %lld ended", static_cast<long long>(which->processId()));
  End(false);
}

void TOfficeWorker::NotStarted(const std::string& why) {
  qWarning("tarvo: the office worker could not be started: %s", why.c_str());
  End(false);
  throw EOfficeWorkerNotStarted("the office worker could not be started: " + why);
}

void TOfficeWorker::Lost(const char* why) {
  qWarning("tarvo: office worker %lld: %s", static_cast<long long>(ProcessId()), why);
  End(false);
  throw EOfficeWorkerLost(why);
}

void TOfficeWorker::Start() {
  End(true);
  if (!watch_) {
    watch_ = std::make_unique<QTimer>();
    watch_->setInterval(200);
    QObject::connect(watch_.get(), &QTimer::timeout, [this] { Watch(); });
  }
  const std::string program = WorkerPath();
  if (program.empty()) {
    std::string looked;
    for (const std::string& p : WorkerCandidates()) looked += (looked.empty() ? "" : ", ") + p;
    NotStarted("no tarvo-office program (looked at " + looked + " and on PATH)");
  }

  // A folder of its own for the socket: nobody else can connect in its place. The worker
  // keeps its files in it as well, so they go when the folder goes, however it ended.
  // Its name is short: the socket's whole path must fit an address.
  try {
    socketDir_ = MakePrivateTempDir("w-");
  } catch (const Exception& e) {
    NotStarted("no folder for its socket: " + e.Message());
  }
  const QString dir = QString::fromStdString(socketDir_);
  QString path = dir + "/w";

  // The folder alone keeps others out: an access option would have Qt bind in a longer
  // path beside it first, which may not fit an address.
  server_ = std::make_unique<QLocalServer>();
  if (!server_->listen(path)) NotStarted("cannot listen on " + path.toStdString());

  process_ = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TMPDIR", dir);
  process_->setProcessEnvironment(env);
  // The suite talks a lot on its own outputs; what matters comes back in the answers.
  // Holding none of our pipes, a worker never keeps a caller waiting for them to close.
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(QProcess::nullDevice());
  process_->start(QString::fromStdString(program), {path});
  if (!process_->waitForStarted(10000))
    NotStarted(program + ": " + process_->errorString().toStdString());

  QDeadlineTimer deadline(10000);
  ++calls_;
  {
    const auto done = ScopeExit([this] { --calls_; });
    while (!server_->hasPendingConnections()) {
      if (process_->state() == QProcess::NotRunning)
        NotStarted(program + " ended (exit code " + std::to_string(process_->exitCode()) +
                   ") before it connected");
      if (deadline.hasExpired()) NotStarted(program + " did not connect within 10 s");
      WaitForMore(deadline);
      if (!server_) NotStarted("it was stopped while starting");
    }
  }
  // Posted: the process may end inside one of its own signals.
  QObject::connect(process_.get(), &QProcess::finished, watch_.get(),
                   [this, which = process_.get()] { ProcessFinished(which); }, Qt::QueuedConnection);
  socket_ = server_->nextPendingConnection();
  QObject::connect(socket_, &QLocalSocket::readyRead, socket_, [this] {
    if (!ReadAnswers())
      QTimer::singleShot(0, watch_.get(), [this] { Watch(); });
  });
  ++generation_;
}

void TOfficeWorker::SendRequest(uint32_t id, Op op, const Writer& args) {
  Writer req;
  req.U32(id);
  req.U8(static_cast<uint8_t>(op));
  req.Raw(args.Payload());
  const std::string frame = req.Frame();
  socket_->write(frame.data(), static_cast<qint64>(frame.size()));
  socket_->flush();
}

bool TOfficeWorker::ReadAnswers() {
  if (!socket_ || broken_) return !broken_;
  inBuffer_ += socket_->readAll().toStdString();
  while (inBuffer_.size() >= 4) {
    const uint32_t n = FrameLength(inBuffer_.data());
    if (n > kMaxFrame || n < 5) {
      broken_ = true;
      return false;
    }
    if (inBuffer_.size() - 4 < n) break;
    std::string payload = inBuffer_.substr(4, n);
    inBuffer_.erase(0, 4 + static_cast<size_t>(n));
    lastHeard_.restart();
    const uint32_t id = FrameLength(payload.data());
    if (id == kAliveId) continue;  // working on it
    auto it = posted_.find(id);
    if (it == posted_.end()) {
      answered_[id] = std::move(payload);
      continue;
    }
    TOfficeAnswer answer;
    if (payload[4] == kAnswerOk) {
      answer.data = payload.substr(5);
    } else {
      answer.status = TOfficeAnswer::Failed;
      try {
        Reader r(std::string_view(payload).substr(5));
        answer.data = r.Str();
      } catch (const WireError&) {
        answer.data = "broken answer";
      }
    }
    // Handed over from the event loop: never inside a call or a socket signal.
    QTimer::singleShot(0, watch_.get(), [done = std::move(it->second), answer = std::move(answer)] {
      if (done) done(answer);
    });
    posted_.erase(it);
  }
  return true;
}

void TOfficeWorker::Watch() {
  if (broken_) {
    qWarning("tarvo: office worker %lld sent a broken answer", static_cast<long long>(ProcessId()));
    return End(false);
  }
  if (posted_.empty()) {
    watch_->stop();
    return;
  }
  ReadAnswers();
  if (posted_.empty()) return;
  if (!process_ || process_->state() == QProcess::NotRunning || !socket_ ||
      socket_->state() != QLocalSocket::ConnectedState) {
    qWarning("tarvo: the office worker ended");
    return End(false);
  }
  if (lastHeard_.elapsed() > silenceMs_) {
    qWarning("tarvo: office worker %lld gave no sign of life for %d ms; it is ended",
             static_cast<long long>(ProcessId()), silenceMs_);
    End(false);
  }
}

void TOfficeWorker::Post(Op op, const Writer& args, std::function<void(const TOfficeAnswer&)> done) {
  if (!Running()) throw EOfficeWorkerLost("the office worker is not running");
  if (!Waiting()) lastHeard_.restart();
  const uint32_t id = nextId_++;
  posted_[id] = std::move(done);
  SendRequest(id, op, args);
  if (!watch_->isActive()) watch_->start();
}

void TOfficeWorker::WaitForMore(const QDeadlineTimer& deadline) {
  const qint64 left = deadline.remainingTime();
  const int slice = static_cast<int>(std::min<qint64>(left < 0 ? 100 : left, 100));
  // Without an application of this thread there is no loop to keep running.
  if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
    if (socket_) socket_->waitForReadyRead(slice);
    else if (server_) server_->waitForNewConnection(slice);
    return;
  }
  // The timer wakes the loop to look at the deadline and the process.
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(slice);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}

std::string TOfficeWorker::Call(Op op, const Writer& args, int timeoutMs) {
  if (!Running()) Start();
  if (timeoutMs < 0) timeoutMs = timeoutMs_;
  const uint32_t id = nextId_++;
  const int generation = generation_;
  // The silence counts from here, or from what was heard since earlier requests went out.
  if (!Waiting()) lastHeard_.restart();
  SendRequest(id, op, args);

  QDeadlineTimer deadline(timeoutMs);
  std::string payload;
  ++calls_;
  {
    const auto done = ScopeExit([this] { --calls_; });
    for (;;) {
      // Ended while the loop ran (stopped, or found dead by another call).
      if (generation_ != generation || !socket_ || !process_) Lost("the office worker ended");
      if (!ReadAnswers()) Lost("the office worker sent a broken answer");
      if (auto it = answered_.find(id); it != answered_.end()) {
        payload = std::move(it->second);
        answered_.erase(it);
        break;
      }
      // A working worker says so every second: silence means it hangs or was stopped,
      // however long this call itself may take.
      if (lastHeard_.elapsed() > silenceMs_) Lost("the office worker gave no sign of life");
      if (deadline.hasExpired()) Lost("the office worker stopped answering");
      if (socket_->state() != QLocalSocket::ConnectedState || process_->state() == QProcess::NotRunning) {
        // What it wrote before it ended still counts.
        socket_->waitForReadyRead(0);
        if (!ReadAnswers() || answered_.count(id) == 0) Lost("the office worker ended");
        continue;
      }
      if (socket_->bytesToWrite() > 0) socket_->waitForBytesWritten(0);
      WaitForMore(deadline);
    }
  }
  if (static_cast<uint8_t>(payload[4]) == kAnswerOk) return payload.substr(5);
  std::string text;
  try {
    Reader in(std::string_view(payload).substr(5));
    text = in.Str();
  } catch (const WireError&) {
    Lost("the office worker sent a broken answer");
  }
  if (static_cast<uint8_t>(payload[4]) == kAnswerCannotStart) NotStarted(text);
  throw EOfficeError(text);
}
