#include "e2e/E2eSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <fstream>

#include "core/ByteIO.h"

#ifndef OA_SERVER_PATH
#error "OA_SERVER_PATH must name the oa-server binary"
#endif

QApplication& E2eApp(const char* name) {
  static int argc = 1;
  static std::string program = name;
  static char* argv[] = {program.data(), nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() >= timeoutMs) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    usleep(1000);
  }
  return true;
}

void PumpFor(int ms) {
  QElapsedTimer t;
  t.start();
  PumpUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

// ---- oa-server process ---------------------------------------------------------------

OaServerProcess::OaServerProcess() : process_(std::make_unique<QProcess>()) {
  char tmpl[] = "/tmp/tarvo-e2e-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  dir_ = tmpl;
  logPath_ = dir_ + "/requests.log";
  Launch(0);
}

bool OaServerProcess::Launch(uint16_t port) {
  process_->setProgram(QString::fromUtf8(OA_SERVER_PATH));
  process_->setArguments({"--port", QString::number(port), "--db", QString::fromStdString(dir_ + "/oa.sqlite"),
                          "--log", QString::fromStdString(logPath_)});
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start();
  if (!process_->waitForStarted(5000)) return false;
  QElapsedTimer t;
  t.start();
  QByteArray out;
  while (!out.contains('\n') && t.elapsed() < 10000 && process_->state() == QProcess::Running) {
    process_->waitForReadyRead(200);
    out += process_->readAll();
  }
  const QByteArray line = out.left(out.indexOf('\n'));
  const uint16_t listening = line.startsWith("listening ") ? static_cast<uint16_t>(line.mid(10).toUInt()) : 0;
  if (port == 0) port_ = listening;
  return listening != 0 && (port == 0 || listening == port);
}

namespace {

// True once a connect to the loopback port is refused.
bool PortRefuses(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool refused = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == ECONNREFUSED;
  close(fd);
  return refused;
}

}  // namespace

bool OaServerProcess::Stop() {
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(20000)) {
      process_->kill();
      process_->waitForFinished(10000);
    }
  }
  if (process_->state() != QProcess::NotRunning) return false;
  // Down means what a client meets: its next connect is refused.
  QElapsedTimer t;
  t.start();
  while (port_ != 0 && !PortRefuses(port_)) {
    if (t.elapsed() > 10000) return false;
    usleep(20000);
  }
  return true;
}

bool OaServerProcess::Restart() {
  if (port_ == 0 || !Stop()) return false;
  return Launch(port_);
}

OaServerProcess::~OaServerProcess() {
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(3000)) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
  if (!dir_.empty()) QDir(QString::fromStdString(dir_)).removeRecursively();
}

size_t OaServerProcess::Count(const char* code) const {
  size_t n = 0;
  for (const std::string& line : LogLines()) n += line.rfind(code, 0) == 0;
  return n;
}

std::vector<std::string> OaServerProcess::LogLines() const {
  std::vector<std::string> lines;
  std::ifstream in(logPath_);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

bool OaServerProcess::WaitForLogLines(size_t n, int timeoutMs) const {
  return PumpUntil([&] { return LogLines().size() >= n; }, timeoutMs);
}

std::optional<LoggedFrame> ParseLogLine(const std::string& line) {
  const size_t a = line.find(' ');
  const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (b == std::string::npos) return std::nullopt;
  LoggedFrame f;
  f.code = line.substr(0, a);
  const std::string hex = line.substr(b + 1);
  if (hex.size() % 2 || std::to_string(hex.size() / 2) != line.substr(a + 1, b - a - 1)) return std::nullopt;
  for (size_t i = 0; i < hex.size(); i += 2) f.frame.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return f;
}

AnsiString FrameText(const std::string& frame, size_t offset) {
  if (offset >= frame.size()) return {};
  const size_t len = static_cast<uint8_t>(frame[offset]);
  return frame.substr(offset + 1, std::min(len, frame.size() - offset - 1));
}

// ---- scripted server -------------------------------------------------------------------

ScriptedServer::ScriptedServer(std::vector<std::vector<Piece>> replies) : replies_(std::move(replies)) {
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  listener_.Shutdown();
  thread_.join();
}

void ScriptedServer::Serve() {
  for (size_t i = 0; !stop_ && i < replies_.size(); ++i) {
    const int c = listener_.Accept();
    if (c < 0) return;
    timeval tv{5, 0};
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char header[9];
    if (ReadExactly(c, header, sizeof header)) {
      const int32_t len = GetI32LE(header + 5);
      std::string frame(len > 0 && len < (1 << 20) ? static_cast<size_t>(len) : 0, '\0');
      if (ReadExactly(c, frame.data(), frame.size())) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(frame);
      }
      for (const Piece& p : replies_[i]) {
        if (p.pauseBeforeMs) std::this_thread::sleep_for(std::chrono::milliseconds(p.pauseBeforeMs));
        SendAll(c, p.bytes);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      sentAt_.push_back(std::chrono::steady_clock::now());
    }
    // Wait for the client's close so the reply is never cut short by our own.
    char sink[256];
    while (recv(c, sink, sizeof sink, 0) > 0) {
    }
    close(c);
  }
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::optional<std::chrono::steady_clock::time_point> ScriptedServer::ReplySentAt(size_t i) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (i >= sentAt_.size()) return std::nullopt;
  return sentAt_[i];
}

uint16_t UnusedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);  // bound but never listening: connects are refused
  return ntohs(a.sin_port);
}

// ---- page ----------------------------------------------------------------------------

PageDriver::PageDriver(ComPtr<IDispatch> control) : control_(std::move(control)) {
  source_ = control_.As<IEventSource>(IID_IEventSource);
  if (!source_) return;
  auto sink = FunctionEventSink::Create([this](DISPID id, const std::string& name, std::vector<EventArg>& args) {
    events_.push_back({id, name, args, std::chrono::steady_clock::now()});
  });
  source_->Advise(sink.Get(), &cookie_);
}

PageDriver::~PageDriver() {
  if (source_ && cookie_) source_->Unadvise(cookie_);
}

size_t PageDriver::CountEvents(const std::string& name) const {
  size_t n = 0;
  for (const auto& e : events_) n += e.name == name;
  return n;
}

std::optional<RecordedEvent> PageDriver::LastEvent(const std::string& name) const {
  for (auto it = events_.rbegin(); it != events_.rend(); ++it)
    if (it->name == name) return *it;
  return std::nullopt;
}

bool PageDriver::WaitForEvent(const std::string& name, size_t count, int timeoutMs) const {
  return PumpUntil([&] { return CountEvents(name) >= count; }, timeoutMs);
}

HRESULT PageDriver::Call(const char* name, const std::vector<std::string>& utf8Args) {
  std::vector<Variant> args;
  for (const auto& a : utf8Args) args.push_back(Variant::FromUtf8(a));
  message_.clear();
  return InvokeByName(control_.Get(), Utf8ToUtf16(name), DISPATCH_METHOD, std::move(args), nullptr, &message_);
}

HRESULT PageDriver::Put(const char* name, const std::string& utf8Value) {
  message_.clear();
  return InvokeByName(control_.Get(), Utf8ToUtf16(name), DISPATCH_PROPERTYPUT, {Variant::FromUtf8(utf8Value)},
                      nullptr, &message_);
}

std::string PageDriver::Get(const char* name) {
  Variant v;
  message_.clear();
  if (Failed(InvokeByName(control_.Get(), Utf8ToUtf16(name), DISPATCH_PROPERTYGET, {}, &v, &message_))) return "<failed>";
  return v.AsUtf8();
}
