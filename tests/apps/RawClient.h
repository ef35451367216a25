#pragma once
// A blocking loopback client for talking to the server byte by byte. Every receive has a
// time-out, so a test never waits for ever.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ByteIO.h"

class RawClient {
 public:
  explicit RawClient(uint16_t port, int timeoutMs = 20000) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool Connected() const { return connected_; }

  bool Send(const std::string& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // True once the server has closed the connection (nothing was sent to us first).
  bool ClosedByServer() {
    char b;
    const ssize_t n = recv(fd_, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
  }

  // Everything the server sends until it closes (a reset counts as a close, since the
  // server may close with request bytes still unread); nullopt on a time-out.
  std::optional<std::string> ReadToClose() {
    std::string all;
    char buf[65536];
    for (;;) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n == 0 || (n < 0 && errno == ECONNRESET)) return all;
      if (n < 0) return std::nullopt;
      all.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// The request as the control puts it on the wire: code, length, frame.
inline std::string WireRequest(const std::string& frame, int32_t length) {
  ByteWriter w;
  w.Bytes(frame.substr(0, 5));
  w.I32(length);
  w.Bytes(frame);
  return w.Take();
}
inline std::string WireRequest(const std::string& frame) {
  return WireRequest(frame, static_cast<int32_t>(frame.size()));
}

// A request frame of the given size with the code field and one s[N] text at +5.
inline std::string RequestFrame(const char* code, size_t size, const std::string& text = "") {
  std::string f(size, '\0');
  f[0] = 4;
  f.replace(1, 4, code);
  if (size > 5 + text.size()) {
    f[5] = static_cast<char>(text.size());
    f.replace(6, text.size(), text);
  }
  return f;
}

// Strips the i32 length of a reply; nullopt when the length disagrees with the bytes.
inline std::optional<std::string> ReplyPayload(const std::optional<std::string>& wire) {
  if (!wire || wire->size() < 4) return std::nullopt;
  if (GetI32LE(wire->data()) != static_cast<int32_t>(wire->size() - 4)) return std::nullopt;
  return wire->substr(4);
}
