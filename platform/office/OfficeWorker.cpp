#include "platform/office/OfficeWorker.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <cstdlib>

using namespace office_wire;

TOfficeWorker& TOfficeWorker::Shared() {
  static TOfficeWorker worker;
  return worker;
}

TOfficeWorker::TOfficeWorker() = default;

TOfficeWorker::~TOfficeWorker() { Stop(); }

std::string TOfficeWorker::WorkerPath() {
  if (const char* p = std::getenv("TARVO_OFFICE_WORKER"); p && *p) return p;
  QString beside = QCoreApplication::applicationDirPath() + "/tarvo-office";
  if (QFileInfo(beside).isExecutable()) return beside.toStdString();
  if (const char* b = std::getenv("TARVO_BUILD_DIR"); b && *b) {
    QString built = QString::fromUtf8(b) + "/apps/tarvo-office/tarvo-office";
    if (QFileInfo(built).isExecutable()) return built.toStdString();
  }
  return "tarvo-office";
}

bool TOfficeWorker::Running() const {
  return process_ && process_->state() != QProcess::NotRunning && socket_ &&
         socket_->state() == QLocalSocket::ConnectedState;
}

qint64 TOfficeWorker::ProcessId() const { return process_ ? process_->processId() : 0; }

void TOfficeWorker::Stop() {
  if (process_) {
    process_->kill();
    process_->waitForFinished(3000);
  }
  socket_ = nullptr;
  server_.reset();
  process_.reset();
  if (!socketDir_.empty()) {
    QDir(QString::fromStdString(socketDir_)).removeRecursively();
    socketDir_.clear();
  }
}

void TOfficeWorker::Start() {
  Stop();
  // A private folder for the socket: nobody else can connect in its place.
  QTemporaryDir dir(QDir::tempPath() + "/tarvo-sock-XXXXXX");
  if (!dir.isValid()) throw EOfficeWorkerLost("office worker: no socket folder");
  dir.setAutoRemove(false);
  socketDir_ = dir.path().toStdString();
  QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QString path = dir.path() + "/w";

  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(path)) throw EOfficeWorkerLost("office worker: cannot listen");

  process_ = std::make_unique<QProcess>();
  // The suite talks a lot on its own outputs; what matters comes back in the answers.
  // Holding none of our pipes, a worker never keeps a caller waiting for them to close.
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(QProcess::nullDevice());
  process_->start(QString::fromStdString(WorkerPath()), {path});
  if (!process_->waitForStarted(10000)) Lost("the office worker could not be started");

  QDeadlineTimer deadline(10000);
  while (!server_->hasPendingConnections()) {
    if (deadline.hasExpired() || process_->state() == QProcess::NotRunning)
      Lost("the office worker did not connect");
    server_->waitForNewConnection(100);
  }
  socket_ = server_->nextPendingConnection();
  ++generation_;
}

void TOfficeWorker::Lost(const char* why) {
  Stop();
  throw EOfficeWorkerLost(why);
}

std::string TOfficeWorker::Call(Op op, const Writer& args, int timeoutMs) {
  if (!Running()) Start();
  if (timeoutMs < 0) timeoutMs = timeoutMs_;
  const uint32_t id = nextId_++;
  Writer req;
  req.U32(id);
  req.U8(static_cast<uint8_t>(op));
  std::string frame;
  {
    Writer len;
    len.U32(static_cast<uint32_t>(req.Payload().size() + args.Payload().size()));
    frame = len.Payload() + req.Payload() + args.Payload();
  }
  socket_->write(frame.data(), static_cast<qint64>(frame.size()));

  QDeadlineTimer deadline(timeoutMs);
  auto waitFor = [&](qint64 n) {
    while (socket_->bytesAvailable() < n) {
      if (socket_->bytesToWrite() > 0) socket_->waitForBytesWritten(0);
      if (deadline.hasExpired()) Lost("the office worker stopped answering");
      if (socket_->state() != QLocalSocket::ConnectedState) Lost("the office worker ended");
      qint64 left = deadline.remainingTime();
      socket_->waitForReadyRead(static_cast<int>(std::min<qint64>(left < 0 ? 100 : left, 100)));
      if (process_->state() == QProcess::NotRunning && socket_->bytesAvailable() < n)
        Lost("the office worker ended");
    }
  };
  socket_->flush();
  waitFor(4);
  char lenBytes[4];
  socket_->read(lenBytes, 4);
  uint32_t n = FrameLength(lenBytes);
  if (n > kMaxFrame || n < 5) Lost("the office worker sent a broken answer");
  waitFor(n);
  std::string payload(n, '\0');
  socket_->read(payload.data(), n);
  Reader in(payload);
  if (in.U32() != id) Lost("the office worker answered out of turn");
  if (in.U8() != 0) throw EOfficeError(in.Str());
  return payload.substr(5);
}
