#include "Proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <memory>

namespace walk {
namespace {

int64_t Now() { return QDateTime::currentMSecsSinceEpoch(); }

void NonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

struct Proxy::Conn {
  int client = -1, server = -1;
  size_t taken = 0;            // its index in taken_
  std::string up, down;        // bytes on their way to the server, to the host
  bool cut = false;            // its reply is to be cut
  size_t cutAfter = 0;         // bytes of the reply passed on before the cut, once known
  bool cutKnown = false;
  int holdMs = 0;              // its reply is held back this long
  int64_t holdUntil = 0;
  size_t got = 0, passed = 0;  // reply bytes from the server, to the host
  bool serverDone = false;
  bool closed = false;
  void Close() {
    if (client >= 0) close(client);
    if (server >= 0) close(server);
    client = server = -1;
    closed = true;
  }
};

Proxy::Proxy(uint16_t serverPort, uint64_t seed, int cutPercent, int holdPercent)
    : serverPort_(serverPort), rng_(seed), cutPercent_(cutPercent), holdPercent_(holdPercent) {}

Proxy::~Proxy() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) close(listen_);
}

bool Proxy::Start() {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return false;
  port_ = ntohs(a.sin_port);
  NonBlocking(listen_);
  thread_ = std::thread([this] { Run(); });
  return true;
}

std::vector<std::string> Proxy::TakeNotes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(notes_, {});
}

bool Proxy::CutFrom(int64_t startMs, std::string* how) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Taken& t : taken_)
    if (t.at >= startMs) {
      if (how) *how = t.how;
      return t.cut;
    }
  return false;
}

void Proxy::Run() {
  std::vector<std::unique_ptr<Conn>> conns;
  char buf[65536];
  auto note = [&](Conn& c, const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    notes_.push_back(what);
    if (c.cut) taken_[c.taken].how = what;
  };
  while (!stop_) {
    std::vector<pollfd> fds{{listen_, POLLIN, 0}};
    const int64_t now = Now();
    for (auto& c : conns) {
      fds.push_back({c->client, short(POLLIN | (!c->down.empty() && now >= c->holdUntil ? POLLOUT : 0)), 0});
      fds.push_back({c->server, short((c->serverDone ? 0 : POLLIN) | (!c->up.empty() ? POLLOUT : 0)), 0});
    }
    poll(fds.data(), fds.size(), 50);
    const size_t polled = conns.size();  // those taken now are looked at next time round
    if (fds[0].revents & POLLIN) {
      for (int fd; (fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        auto c = std::make_unique<Conn>();
        c->client = fd;
        const int roll = int(rng_() % 100);
        // The login and the document's opening go through, so the person reaches the form.
        c->cut = roll < cutPercent_ && taken_.size() >= 3;
        c->holdMs = !c->cut && roll < cutPercent_ + holdPercent_ ? 500 + int(rng_() % 4000) : 0;
        c->cutAfter = size_t(rng_());  // narrowed to the reply's first bytes when they come
        {
          std::lock_guard<std::mutex> lock(mutex_);
          c->taken = taken_.size();
          taken_.push_back({Now(), c->cut, ""});
        }
        // To the server at once; a server that is down closes the host's connection unanswered.
        c->server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(serverPort_);
        if (c->server < 0 || connect(c->server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
          c->Close();
          continue;
        }
        NonBlocking(c->server);
        conns.push_back(std::move(c));
      }
    }
    for (size_t i = 0; i < polled; ++i) {
      Conn& c = *conns[i];
      const short clientEv = fds[1 + 2 * i].revents, serverEv = fds[2 + 2 * i].revents;
      if (clientEv & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = read(c.client, buf, sizeof buf);
        if (n > 0) c.up.append(buf, size_t(n));
        else if (n == 0 || errno != EAGAIN) {
          c.Close();  // the host let its request go
          continue;
        }
      }
      if ((serverEv & POLLOUT) && !c.up.empty()) {
        const ssize_t n = write(c.server, c.up.data(), c.up.size());
        if (n > 0) c.up.erase(0, size_t(n));
      }
      if (serverEv & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = read(c.server, buf, sizeof buf);
        if (n > 0) {
          if (!c.got) {
            // Part of the first bytes the server answered with: never the whole reply.
            if (c.cut) c.cutAfter %= size_t(n);
            c.cutKnown = c.cut;
            if (c.holdMs) {
              c.holdUntil = Now() + c.holdMs;
              ++holds_;
              note(c, "proxy: held a reply back " + std::to_string(c.holdMs) + " ms");
            }
          }
          c.got += size_t(n);
          c.down.append(buf, size_t(n));
        } else if (n == 0 || errno != EAGAIN) {
          c.serverDone = true;
        }
      }
      if (!c.down.empty() && Now() >= c.holdUntil) {
        size_t want = c.down.size();
        if (c.cutKnown) want = std::min(want, c.cutAfter - c.passed);
        const ssize_t n = want ? write(c.client, c.down.data(), want) : 0;
        if (n > 0) {
          c.down.erase(0, size_t(n));
          c.passed += size_t(n);
        }
      }
      if (c.cutKnown && c.passed == c.cutAfter) {
        ++cuts_;
        note(c, "proxy: cut a reply after " + std::to_string(c.passed) + " of the " + std::to_string(c.got) +
                    " bytes the server had sent");
        c.Close();
        continue;
      }
      if (c.serverDone && c.down.empty()) c.Close();
    }
    std::erase_if(conns, [](const std::unique_ptr<Conn>& c) { return c->closed; });
  }
  for (auto& c : conns) c->Close();
}

}  // namespace walk
