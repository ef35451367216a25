#include "apps/oa-server/OaServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control/wire/Frames.h"
#include "core/ByteIO.h"
#include "core/CappedGrowth.h"

namespace {

constexpr size_t kHeaderSize = 9;  // 5-byte code + i32 length
constexpr size_t kReadChunk = 64 * 1024;
// Descriptors the process needs besides connections: listener, wake pipe, log, database.
constexpr size_t kSpareFiles = 16;
// Accepting stops this long when the process is out of descriptors and nothing can go.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// What a string holds on the heap: short ones live inside the string itself.
size_t HeapBytes(const std::string& s) {
  static const size_t inlineCapacity = std::string().capacity();
  return s.capacity() > inlineCapacity ? s.capacity() : 0;
}

// Frees what s holds (assigning an empty string would keep its heap buffer).
void Release(std::string& s) { std::string().swap(s); }

size_t CurrentFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  return r.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(r.rlim_cur);
}

}  // namespace

struct OaServer::Connection {
  enum class Phase { Header, Body, Reply, Drain };
  int fd = -1;  // -1 once dropped
  Phase phase = Phase::Header;
  std::string header;  // at most 9 bytes: never on the heap
  size_t length = 0;
  std::string frame;
  std::string out;
  size_t sent = 0;
  bool stalled = false;  // the client's socket is full: it is not reading its reply
  size_t charged = 0;  // what this connection counts against the budget
  Clock::time_point started;
  Clock::time_point lastActivity;
  Clock::time_point replied;

  bool Receiving() const { return phase == Phase::Header || phase == Phase::Body; }

  ~Connection() {
    if (fd >= 0) close(fd);
  }
};

OaServer::OaServer(const oa::OaService& service, ServerOptions options) : service_(service), options_(options) {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) throw Exception(ErrnoText("pipe"));
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

OaServer::~OaServer() {
  connections_.clear();
  if (listenFd_ >= 0) close(listenFd_);
  close(wakeRead_);
  close(wakeWrite_);
}

size_t OaServer::RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);  // an unlimited hard limit may be refused: keep what we have
  }
  return CurrentFileLimit();
}

void OaServer::Listen() {
  const size_t files = CurrentFileLimit();
  connectionLimit_ = std::min(options_.maxConnections, files > 2 * kSpareFiles ? files - kSpareFiles : kSpareFiles);
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw Exception(ErrnoText("socket"));
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(options_.port);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw Exception(ErrnoText("bind"));
  // A long queue: a burst of connects must not push a real client into SYN retries.
  if (listen(listenFd_, SOMAXCONN) != 0) throw Exception(ErrnoText("listen"));
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

void OaServer::Stop() {
  const char b = 1;
  [[maybe_unused]] ssize_t n = write(wakeWrite_, &b, 1);
}

void OaServer::Drop(Connection& c, const std::string& why) {
  if (c.fd < 0) return;
  if (!why.empty() && diagnostics_) diagnostics_("closed connection " + std::to_string(c.fd) + ": " + why);
  close(c.fd);
  c.fd = -1;
  Release(c.frame);
  Release(c.out);
  Recharge(c);
  --open_;
}

void OaServer::Recharge(Connection& c) {
  const size_t now = HeapBytes(c.frame) + HeapBytes(c.out);
  buffered_ = buffered_ - c.charged + now;
  c.charged = now;
  if (buffered_ > peakBuffered_) peakBuffered_ = buffered_.load();
}

OaServer::Connection* OaServer::OldestIdle(const Connection* keep) const {
  Connection* oldest = nullptr;
  for (const auto& c : connections_) {
    // A reply being taken is work under way; everything else waits on the client.
    if (c.get() == keep || c->fd < 0 || (c->phase == Connection::Phase::Reply && !c->stalled)) continue;
    if (!oldest || c->lastActivity < oldest->lastActivity) oldest = c.get();
  }
  return oldest;
}

bool OaServer::MakeRoom(size_t bytes, const Connection* keep) {
  // Requests still arriving, and replies their clients do not read.
  const auto holdsRequest = [keep](const Connection& c) {
    return &c != keep && c.fd >= 0 && c.charged > 0 &&
           (c.phase == Connection::Phase::Body || (c.phase == Connection::Phase::Reply && c.stalled));
  };
  size_t freeable = 0;
  for (const auto& c : connections_)
    if (holdsRequest(*c)) freeable += c->charged;
  // Dropping others is pointless when even all of them would not make it fit.
  if (buffered_ - freeable + bytes > options_.maxBufferedBytes) return false;
  while (buffered_ + bytes > options_.maxBufferedBytes) {
    Connection* victim = nullptr;
    for (const auto& c : connections_)
      if (holdsRequest(*c) && (!victim || c->lastActivity < victim->lastActivity)) victim = c.get();
    if (!victim) return false;
    Drop(*victim, victim->phase == Connection::Phase::Reply ? "reply not read: dropped to free buffer space"
                                                             : "dropped to free buffer space");
  }
  return true;
}

void OaServer::AcceptAll() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EMFILE && errno != ENFILE) return;  // EAGAIN, or a client that vanished
      if (Connection* idle = OldestIdle(nullptr)) {
        Drop(*idle, "dropped: out of file descriptors");
        continue;
      }
      acceptPausedUntil_ = Clock::now() + kAcceptPause;
      return;
    }
    if (open_ >= connectionLimit_) {
      Connection* idle = OldestIdle(nullptr);
      if (!idle) {
        close(fd);
        if (diagnostics_) diagnostics_("refused connection: every connection is busy replying");
        continue;
      }
      Drop(*idle, "dropped to make room for a new connection");
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->started = c->lastActivity = Clock::now();
    connections_.push_back(std::move(c));
    ++open_;
  }
}

bool OaServer::GrowFrame(Connection& c, size_t more) {
  const std::optional<size_t> next = CappedCapacity(c.frame.capacity(), c.frame.size() + more, c.length);
  if (!next) return false;
  if (*next == c.frame.capacity()) return true;
  if (!MakeRoom(*next - HeapBytes(c.frame), &c)) return false;
  ReallocateExactly(c.frame, *next);
  Recharge(c);
  return true;
}

bool OaServer::OnReadable(Connection& c) {
  char buf[kReadChunk];
  size_t want = sizeof buf;
  if (c.phase == Connection::Phase::Header) want = kHeaderSize - c.header.size();
  if (c.phase == Connection::Phase::Body) want = std::min(want, c.length - c.frame.size());
  const ssize_t n = recv(c.fd, buf, want, 0);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (n == 0) {
    if (c.phase != Connection::Phase::Drain) Drop(c, "closed by the client before the request was complete");
    return false;
  }
  c.lastActivity = Clock::now();
  switch (c.phase) {
    case Connection::Phase::Header: {
      c.header.append(buf, static_cast<size_t>(n));
      if (c.header.size() < kHeaderSize) return true;
      const int32_t length = GetI32LE(c.header.data() + 5);
      if (length < 5 || length > frames::kMaxFrameLength) {
        Drop(c, "announced frame length " + std::to_string(length));
        return false;
      }
      c.length = static_cast<size_t>(length);
      c.phase = Connection::Phase::Body;
      return true;
    }
    case Connection::Phase::Body:
      if (!GrowFrame(c, static_cast<size_t>(n))) {
        Drop(c, "request does not fit the buffer budget");
        return false;
      }
      c.frame.append(buf, static_cast<size_t>(n));
      return c.frame.size() < c.length || OnFrameComplete(c);
    case Connection::Phase::Drain:
      return true;  // bytes beyond the frame are read and dropped
    case Connection::Phase::Reply:
      return true;
  }
  return false;
}

std::string OaServer::LogLine(const Connection& c) const {
  const std::string_view code = std::string_view(c.header).substr(0, 5);
  if (c.frame.size() <= kFullyLoggedFrameBytes) return oa::FormatLogLine(code, c.frame);
  // A large frame in full would double its size in the log: its head says what it was.
  const std::string head = oa::FormatLogLine(code, std::string_view(c.frame).substr(0, kLoggedFrameBytes));
  const size_t hex = head.find(' ', 5) + 1;
  return head.substr(0, 5) + std::to_string(c.frame.size()) + ' ' + head.substr(hex) + "...";
}

bool OaServer::OnFrameComplete(Connection& c) {
  if (requestLog_) requestLog_(LogLine(c));
  if (c.frame.compare(0, 5, c.header, 0, 5) != 0) {
    Drop(c, "frame code differs from the request code");
    return false;
  }
  std::optional<std::string> reply;
  try {
    reply = service_.Reply(c.frame);
  } catch (const Exception& e) {
    Drop(c, e.Message());
    return false;
  } catch (const std::exception& e) {
    Drop(c, e.what());
    return false;
  }
  Release(c.frame);
  Recharge(c);
  if (!reply) return false;  // codes without an answer yet: just close
  if (!MakeRoom(4 + reply->size(), &c)) {
    Drop(c, "reply does not fit the buffer budget");
    return false;
  }
  c.out.reserve(4 + reply->size());
  c.out.resize(4);
  PutI32LE(c.out.data(), static_cast<int32_t>(reply->size()));
  c.out.append(*reply);
  Release(*reply);
  Recharge(c);
  c.phase = Connection::Phase::Reply;
  return OnWritable(c);
}

bool OaServer::OnWritable(Connection& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0) {
      c.stalled = errno == EAGAIN || errno == EWOULDBLOCK;
      return c.stalled || errno == EINTR;
    }
    c.stalled = false;
    c.sent += static_cast<size_t>(n);
    c.lastActivity = Clock::now();
  }
  // Half-close and wait for the client's close, so the reply is not cut off by a reset
  // when the client sent more than its frame.
  shutdown(c.fd, SHUT_WR);
  Release(c.out);
  Recharge(c);
  c.phase = Connection::Phase::Drain;
  c.replied = Clock::now();
  return true;
}

OaServer::Clock::time_point OaServer::Deadline(const Connection& c) const {
  using std::chrono::milliseconds;
  switch (c.phase) {
    case Connection::Phase::Header:
    case Connection::Phase::Body:
      return c.started + milliseconds(options_.requestTimeoutMs);
    case Connection::Phase::Reply:
      return std::min(c.lastActivity + milliseconds(options_.idleTimeoutMs),
                      c.started + milliseconds(options_.connectionTimeoutMs));
    case Connection::Phase::Drain:
      return c.replied + milliseconds(options_.requestTimeoutMs);
  }
  return c.started;
}

int OaServer::NextTimeoutMs() const {
  const auto now = Clock::now();
  auto next = now + std::chrono::milliseconds(1000);
  if (acceptPausedUntil_ > now) next = std::min(next, acceptPausedUntil_);
  for (const auto& c : connections_) next = std::min(next, Deadline(*c));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
  return static_cast<int>(std::max<int64_t>(ms, 0) + 1);
}

void OaServer::ExpireConnections() {
  const auto now = Clock::now();
  for (const auto& c : connections_) {
    if (c->fd < 0 || now < Deadline(*c)) continue;
    if (c->Receiving()) Drop(*c, "request not complete within the time-out");
    else if (c->phase == Connection::Phase::Reply) Drop(*c, "reply not taken within the time-out");
    else Drop(*c, "");
  }
  std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->fd < 0; });
}

void OaServer::Run() {
  if (listenFd_ < 0) Listen();
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  for (;;) {
    fds.clear();
    polled.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({Clock::now() >= acceptPausedUntil_ ? listenFd_ : -1, POLLIN, 0});
    for (const auto& c : connections_) {
      polled.push_back(c.get());
      fds.push_back({c->fd, static_cast<short>(c->phase == Connection::Phase::Reply ? POLLOUT : POLLIN), 0});
    }
    const int ready = poll(fds.data(), fds.size(), NextTimeoutMs());
    if (ready < 0 && errno != EINTR) throw Exception(ErrnoText("poll"));
    if (ready > 0) {
      if (fds[0].revents) break;
      // Connections first: the ones accepted below were not polled. One may drop another
      // (to make room), so each is checked before it is served.
      for (size_t i = 0; i < polled.size(); ++i) {
        const short ev = fds[i + 2].revents;
        Connection& c = *polled[i];
        if (!ev || c.fd < 0) continue;
        bool keep = true;
        if (ev & POLLOUT) keep = OnWritable(c);
        else if (ev & (POLLIN | POLLHUP | POLLERR)) keep = OnReadable(c);
        if (!keep) Drop(c, "");
      }
      if (fds[1].revents & POLLIN) AcceptAll();
    }
    ExpireConnections();
  }
  for (const auto& c : connections_) Drop(*c, "");
  connections_.clear();
}
