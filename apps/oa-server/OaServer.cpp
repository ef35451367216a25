#include "apps/oa-server/OaServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/types.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control/wire/Frames.h"
#include "core/ByteIO.h"

namespace {

constexpr size_t kHeaderSize = 9;  // 5-byte code + i32 length
constexpr size_t kReadChunk = 64 * 1024;

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

struct OaServer::Connection {
  enum class Phase { Header, Body, Reply, Drain };
  int fd = -1;
  Phase phase = Phase::Header;
  std::string header;
  size_t length = 0;
  std::string frame;
  std::string out;
  size_t sent = 0;
  Clock::time_point started;
  Clock::time_point lastActivity;

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

void OaServer::Listen() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw Exception(ErrnoText("socket"));
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(options_.port);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw Exception(ErrnoText("bind"));
  if (listen(listenFd_, 64) != 0) throw Exception(ErrnoText("listen"));
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

void OaServer::Stop() {
  const char b = 1;
  [[maybe_unused]] ssize_t n = write(wakeWrite_, &b, 1);
}

void OaServer::Refuse(const Connection& c, const std::string& why) {
  if (diagnostics_) diagnostics_("refused connection " + std::to_string(c.fd) + ": " + why);
}

void OaServer::AcceptAll() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or a client that vanished before we got to it
    if (connections_.size() >= options_.maxConnections) {
      close(fd);
      if (diagnostics_) diagnostics_("refused connection: too many open connections");
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->started = c->lastActivity = Clock::now();
    connections_.push_back(std::move(c));
  }
}

bool OaServer::OnReadable(Connection& c) {
  char buf[kReadChunk];
  size_t want = sizeof buf;
  if (c.phase == Connection::Phase::Header) want = kHeaderSize - c.header.size();
  if (c.phase == Connection::Phase::Body) want = std::min(want, c.length - c.frame.size());
  const ssize_t n = recv(c.fd, buf, want, 0);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (n == 0) {
    if (c.phase != Connection::Phase::Drain) Refuse(c, "closed by the client before the request was complete");
    return false;
  }
  c.lastActivity = Clock::now();
  switch (c.phase) {
    case Connection::Phase::Header: {
      c.header.append(buf, static_cast<size_t>(n));
      if (c.header.size() < kHeaderSize) return true;
      const int32_t length = GetI32LE(c.header.data() + 5);
      if (length < 5 || length > frames::kMaxFrameLength) {
        Refuse(c, "announced frame length " + std::to_string(length));
        return false;
      }
      c.length = static_cast<size_t>(length);
      // Grows as bytes arrive: an announced length costs nothing until it is sent.
      c.frame.reserve(std::min(c.length, kReadChunk));
      c.phase = Connection::Phase::Body;
      return true;
    }
    case Connection::Phase::Body:
      c.frame.append(buf, static_cast<size_t>(n));
      return c.frame.size() < c.length || OnFrameComplete(c);
    case Connection::Phase::Drain:
      return true;  // bytes beyond the frame are read and dropped
    case Connection::Phase::Reply:
      return true;
  }
  return false;
}

bool OaServer::OnFrameComplete(Connection& c) {
  if (requestLog_) requestLog_(oa::FormatLogLine(c.header.substr(0, 5), c.frame));
  if (c.frame.compare(0, 5, c.header, 0, 5) != 0) {
    Refuse(c, "frame code differs from the request code");
    return false;
  }
  std::optional<std::string> reply;
  try {
    reply = service_.Reply(c.frame);
  } catch (const Exception& e) {
    Refuse(c, e.Message());
    return false;
  } catch (const std::exception& e) {
    Refuse(c, e.what());
    return false;
  }
  c.frame.clear();
  c.frame.shrink_to_fit();
  if (!reply) return false;  // codes without an answer yet: just close
  ByteWriter w;
  w.Reserve(4 + reply->size());
  w.I32(static_cast<int32_t>(reply->size()));
  w.Bytes(*reply);
  c.out = w.Take();
  c.phase = Connection::Phase::Reply;
  return OnWritable(c);
}

bool OaServer::OnWritable(Connection& c) {
  while (c.sent < c.out.size()) {
    const ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.sent += static_cast<size_t>(n);
    c.lastActivity = Clock::now();
  }
  // Half-close and wait for the client's close, so the reply is not cut off by a reset
  // when the client sent more than its frame.
  shutdown(c.fd, SHUT_WR);
  c.out.clear();
  c.out.shrink_to_fit();
  c.phase = Connection::Phase::Drain;
  return true;
}

int OaServer::NextTimeoutMs() const {
  const auto now = Clock::now();
  auto next = now + std::chrono::milliseconds(1000);
  for (const auto& c : connections_) {
    next = std::min(next, c->lastActivity + std::chrono::milliseconds(options_.idleTimeoutMs));
    next = std::min(next, c->started + std::chrono::milliseconds(options_.connectionTimeoutMs));
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
  return static_cast<int>(std::max<int64_t>(ms, 0) + 1);
}

void OaServer::ExpireConnections() {
  const auto now = Clock::now();
  std::erase_if(connections_, [&](const std::unique_ptr<Connection>& c) {
    const bool idle = now - c->lastActivity >= std::chrono::milliseconds(options_.idleTimeoutMs);
    const bool old = now - c->started >= std::chrono::milliseconds(options_.connectionTimeoutMs);
    if (!idle && !old) return false;
    if (c->phase != Connection::Phase::Drain) Refuse(*c, idle ? "idle time-out" : "connection time-out");
    return true;
  });
}

void OaServer::Run() {
  if (listenFd_ < 0) Listen();
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& c : connections_)
      fds.push_back({c->fd, static_cast<short>(c->phase == Connection::Phase::Reply ? POLLOUT : POLLIN), 0});
    const int ready = poll(fds.data(), fds.size(), NextTimeoutMs());
    if (ready < 0 && errno != EINTR) throw Exception(ErrnoText("poll"));
    if (ready > 0) {
      if (fds[0].revents) break;
      // Connections first: fds[2..] match connections_ only until AcceptAll adds more.
      std::vector<bool> keep(connections_.size(), true);
      for (size_t i = 0; i < connections_.size(); ++i) {
        const short ev = fds[i + 2].revents;
        if (!ev) continue;
        Connection& c = *connections_[i];
        if (ev & POLLOUT) keep[i] = OnWritable(c);
        else if (ev & (POLLIN | POLLHUP | POLLERR)) keep[i] = OnReadable(c);
      }
      size_t i = 0;
      std::erase_if(connections_, [&](const std::unique_ptr<Connection>&) { return !keep[i++]; });
      if (fds[1].revents & POLLIN) AcceptAll();
    }
    ExpireConnections();
  }
  connections_.clear();
}
