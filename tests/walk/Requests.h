#pragma once
// The requests the host sends, seen from inside it: the session window makes one socket
// per request as its child and lets it go when the request ends, so the children it gains
// and loses are the requests' starts and ends. A click on a button that sends (暂存, 提交,
// 归档, an upload, a workflow save) arms a promise: the request it starts must end with a
// popup or a message box. The same watch sees the person's input arrive, so the walker
// can wait for it before the next action.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace walk {

class RequestWatch : public QObject {
 public:
  RequestWatch();

  // Once per tick: sorts new children into requests and others.
  void Sort();
  bool InFlight() const;
  int64_t LastEnded() const { return lastEnded_; }
  int Started() const { return started_; }

  // A click that is to send.
  void Arm(const std::string& what);
  bool Armed() const { return !arm_.empty(); }
  const std::string& ArmedBy() const { return arm_; }
  // The click was answered without a request (a box that only tells, or nothing at all).
  void Disarm() { arm_.clear(); }
  void KeepArmed();  // a question or a file dialog stands between the click and its request
  int64_t ArmedAt() const { return armedAt_; }

  // An armed request that ended at least `graceMs` ago and was not yet judged: what it
  // was, when it started and ended. Judged once.
  struct Ended {
    std::string what;
    int64_t start = 0, end = 0;
  };
  std::vector<Ended> TakeEnded(int64_t now, int64_t graceMs);
  // Armed requests ended but still in their grace time.
  std::vector<Ended> Pending() const;
  void Judged(const Ended& e);

  // Input from the X server that reached the host (a button or key let go).
  int64_t InputCount() const { return inputs_; }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  struct Request {
    const QObject* id = nullptr;
    QPointer<QObject> object;
    int kind = 0;  // 0 not sorted yet, 1 a socket, -1 something else
    int64_t start = 0, end = 0;
    std::string armedBy;
    bool judged = false;
  };
  std::vector<Request> requests_;
  std::string arm_;
  int64_t armedAt_ = 0;
  int64_t lastEnded_ = 0;
  int started_ = 0;
  int64_t inputs_ = 0;
};

}  // namespace walk
