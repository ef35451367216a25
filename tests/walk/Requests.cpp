#include "Requests.h"

#include <QApplication>
#include <QChildEvent>
#include <QDateTime>
#include <QIODevice>
#include <algorithm>

namespace walk {
namespace {

int64_t Now() { return QDateTime::currentMSecsSinceEpoch(); }

bool IsSession(const QObject* o) { return o->isWidgetType() && o->objectName() == QLatin1String("frmMain"); }

}  // namespace

RequestWatch::RequestWatch() { qApp->installEventFilter(this); }

bool RequestWatch::eventFilter(QObject* o, QEvent* e) {
  switch (e->type()) {
    case QEvent::ChildAdded:
      // The child is still being made: what it is shows at the next sort.
      if (IsSession(o)) {
        QObject* child = static_cast<QChildEvent*>(e)->child();
        Request r;
        r.id = child;
        r.object = child;
        r.start = Now();
        // Only the first request after the click is the click's.
        r.armedBy = std::exchange(arm_, std::string());
        requests_.push_back(std::move(r));
      }
      break;
    case QEvent::ChildRemoved:
      if (IsSession(o)) {
        const QObject* child = static_cast<QChildEvent*>(e)->child();
        for (Request& r : requests_)
          if (r.id == child && !r.end) {
            r.end = Now();
            if (r.kind >= 0) lastEnded_ = r.end;
          }
      }
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      if (e->spontaneous()) ++inputs_;
      break;
    default:
      break;
  }
  return false;
}

void RequestWatch::Sort() {
  for (Request& r : requests_) {
    // A socket let go waits for its deletion until the event loop that let it go runs
    // again, which a modal window opened by its reply holds off: closed is ended.
    if (auto* device = qobject_cast<QIODevice*>(r.object.data()); r.kind > 0 && !r.end && device && !device->isOpen())
      lastEnded_ = r.end = Now();
    if (r.kind) continue;
    // Gone before it could be looked at: only a request's socket lives that briefly.
    r.kind = !r.object || r.object->inherits("QAbstractSocket") ? 1 : -1;
    if (r.kind == 1) ++started_;
    // The session's own parts, made as it starts, took no click's promise.
    if (r.kind < 0 && !r.armedBy.empty() && arm_.empty()) arm_ = std::move(r.armedBy);
  }
  std::erase_if(requests_, [](const Request& r) { return r.kind < 0 || (r.end && r.judged) || (r.end && r.armedBy.empty()); });
}

bool RequestWatch::InFlight() const {
  return std::any_of(requests_.begin(), requests_.end(), [](const Request& r) { return r.kind >= 0 && !r.end; });
}

void RequestWatch::Arm(const std::string& what) {
  arm_ = what;
  armedAt_ = Now();
}

void RequestWatch::KeepArmed() { armedAt_ = Now(); }

std::vector<RequestWatch::Ended> RequestWatch::TakeEnded(int64_t now, int64_t graceMs) {
  std::vector<Ended> out;
  for (Request& r : requests_)
    if (r.kind > 0 && r.end && !r.judged && !r.armedBy.empty() && now - r.end >= graceMs) {
      r.judged = true;
      out.push_back({r.armedBy, r.start, r.end});
    }
  return out;
}

std::vector<RequestWatch::Ended> RequestWatch::Pending() const {
  std::vector<Ended> out;
  for (const Request& r : requests_)
    if (r.kind > 0 && r.end && !r.judged && !r.armedBy.empty()) out.push_back({r.armedBy, r.start, r.end});
  return out;
}

void RequestWatch::Judged(const Ended& e) {
  for (Request& r : requests_)
    if (r.start == e.start && r.armedBy == e.what) r.judged = true;
}

}  // namespace walk
