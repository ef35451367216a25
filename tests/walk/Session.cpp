#include "Session.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QPointer>
#include <QPushButton>
#include <pthread.h>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "Intent.h"
#include "Leaving.h"
#include "Requests.h"
#include "Screen.h"
#include "ServerState.h"

namespace walk {
namespace {

int sayFd = -1;
int answerFd = -1;

void Say(const std::string& line) {
  const std::string l = line + "\n";
  for (size_t done = 0; done < l.size();) {
    const ssize_t n = ::write(sayFd, l.data() + done, l.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

[[noreturn]] void Fail(const std::string& why) {
  // One line each: the walk reads lines.
  size_t from = 0;
  for (size_t nl; (nl = why.find('\n', from)) != std::string::npos; from = nl + 1) Say("fail " + why.substr(from, nl - from));
  Say("fail " + why.substr(from));
  std::fflush(stderr);
  _exit(3);
}

int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// The windows must keep answering: the event loop beats, a thread outside it listens.
// A beat missing for too long is a hang; the walk is told which action it followed.
class Watchdog {
 public:
  explicit Watchdog(int seconds) : limitMs_(seconds * 1000), main_(pthread_self()) {
    Beat();
    alive_ = this;  // held for good, as the thread that uses it is
    thread_ = std::thread([this] { Watch(); });
    thread_.detach();  // it outlives the walker, to watch the host end
  }
  void Beat() { beat_ = NowMs(); }
  void Pause(bool p) {
    paused_ = p;
    Beat();
  }
  void SetLast(const std::string& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = s;
  }

 private:
  void Watch() {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      if (paused_ || NowMs() - beat_ < limitMs_) continue;
      std::string last;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last = last_;
      }
      Say("fail hang: the windows did not answer for " + std::to_string(limitMs_ / 1000) + " s after: " + last);
      // The sanitizer prints the stack of the thread a SIGABRT lands on: the stuck one's.
      pthread_kill(main_, SIGABRT);
      std::this_thread::sleep_for(std::chrono::seconds(5));
      _exit(4);
    }
  }
  static inline Watchdog* alive_ = nullptr;
  const int64_t limitMs_;
  const pthread_t main_;
  std::atomic<int64_t> beat_{0};
  std::atomic<bool> paused_{false};
  std::mutex mutex_;
  std::string last_;
  std::thread thread_;
};

using FileSizes = std::map<QString, int64_t>;  // name: size, -1 when the list does not say

// What the open form showed at its last look: its record, its fields' cells as shown,
// its attachments and the step it marks as current.
struct FormSnapshot {
  bool valid = false;
  QString recordId;
  std::map<QString, QString> shown;  // field name: the cell's text
  FileSizes attachments;
  QString curStep;
};

// The attachment manager's list when last seen, and when.
struct ManagerSnapshot {
  int64_t at = 0;
  FileSizes files;
};

QString Q(const AnsiString& a) { return QString::fromStdString(Cp936ToUtf8(a)); }
std::string S(const QString& q) { return q.toStdString(); }

QString Squeezed(QString s) {
  s.remove(QRegularExpression("\\s"));
  return s;
}

// A sheet names the cells nobody named by their address.
bool IsAddress(const QString& name) {
  static const QRegularExpression a1("^[A-Z]{1,3}[0-9]{1,7}$");
  return a1.match(name).hasMatch();
}

// Dates, numbers and amounts: a cell may show them in a format of its own; a check box
// cell paints a box for "True" or "False", no text.
bool LooksFormatted(const QString& s) {
  static const QRegularExpression formatted(QString::fromUtf8("^[-+0-9.,:/ %¥年月日时分秒]*[0-9][-+0-9.,:/ %¥年月日时分秒]*$"));
  const QString t = s.trimmed();
  return formatted.match(t).hasMatch() || t == QLatin1String("True") || t == QLatin1String("False");
}

QString BaseName(QString name) {
  const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
  return slash >= 0 ? name.mid(slash + 1) : name;
}

// The entries of a list the way it tells of them: name, and the size where it says one.
FileSizes Listed(QWidget* list) {
  FileSizes out;
  for (const Seen& item : AccessibleChildren(list, 500)) {
    if (item.name.isEmpty() || (item.role != QAccessible::ListItem && item.role != QAccessible::Cell)) continue;
    bool ok = false;
    const qint64 size = item.description.trimmed().toLongLong(&ok);
    out[item.name] = ok ? size : -1;
  }
  return out;
}

std::string FileList(const FileSizes& files) {
  std::string s;
  for (const auto& [name, size] : files)
    s += (s.empty() ? "" : ", ") + S(name) + (size >= 0 ? " (" + std::to_string(size) + ")" : "");
  return s.empty() ? "none" : s;
}

QWidget* VisibleTop(const char* className) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && IsA(w, className)) return w;
  return nullptr;
}

// The list view inside a window or widget.
QWidget* ListIn(QWidget* w) {
  if (!w) return nullptr;
  for (QAbstractItemView* v : w->findChildren<QAbstractItemView*>())
    if (v->isVisible()) return v;
  return nullptr;
}

// The caption a button shows: Qt's own buttons and the product's flat ones.
QString Caption(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().remove('&');
  return IsA(w, "TFlatButtonBase") ? AccessibleText(w, QAccessible::Name) : QString();
}

// A box that asks, as against one that only tells.
bool IsQuestion(const QMessageBox* box) {
  return box->standardButtons() & (QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

// The button of that caption a person can click in the window, if any.
QWidget* ButtonIn(QWidget* window, const char* caption) {
  if (!window) return nullptr;
  for (QWidget* w : window->findChildren<QWidget*>())
    if (w->isVisible() && w->isEnabled() && !w->visibleRegion().isEmpty() && Caption(w) == QString::fromUtf8(caption) &&
        (qobject_cast<QAbstractButton*>(w) || IsA(w, "TFlatButtonBase")))
      return w;
  return nullptr;
}

// Buttons that send what the server must take, by the window they are in, and what the
// log calls the request; empty for any other.
std::string SendWhat(QWidget* w) {
  if (!w) return {};
  const QString c = Caption(w);
  QWidget* win = w->window();
  const auto is = [&](const char* text) { return c == QString::fromUtf8(text); };
  if (IsA(win, "TfrmTemplate") && qobject_cast<QPushButton*>(w) && (is("暂存") || is("提交") || is("归档"))) return S(c);
  if (IsA(win, "TfrmSetLoadFiles") && (is("添加文件") || is("删除文件") || is("保存返回"))) return "upload (" + S(c) + ")";
  if (IsA(win, "TFFlowEditor") && qobject_cast<QPushButton*>(w) && is("保存")) return "workflow save";
  return {};
}

// The extension a file name ends in, lower case; "none" for a name without one.
std::string Kind(const QString& name) {
  const QString base = BaseName(name);
  const qsizetype dot = base.lastIndexOf('.');
  return dot > 0 ? S(base.mid(dot).toLower()) : std::string("none");
}

const char* const kAsciiWords[] = {"hello", "42", "2026-12-07", "abc def", "x", "OK", "3.5", "-1", "a,b;c|d"};
const char* const kChineseWords[] = {"同意", "请假三天", "测试", "张三", "办公室", "已阅", "不同意，请补充材料"};
const char* const kKeys[] = {"Return", "Escape", "Tab", "ISO_Left_Tab", "Up", "Down", "Left", "Right",
                             "space",  "BackSpace", "Delete", "Home", "End", "Page_Down", "F2"};

class Walker : public QObject {
 public:
  explicit Walker(const SessionOptions& o) : o_(o), rng_(o.seed), watchdog_(*new Watchdog(o.hangSeconds)) {
    const QDir files(QString::fromStdString(o.files));
    for (const QString& f : files.entryList(QDir::Files)) files_.push_back(files.filePath(f));
    home_ = QFileInfo(files.absolutePath()).dir().canonicalPath();
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    startedAt_ = NowMs();
    // Some come to add a file to the document; two people at one document at once, and
    // one who writes a new one, often.
    attachMind_ = Chance(o_.shared ? 90 : o_.opensNew ? 60 : 25);
    sendMind_ = Chance(45);
    routeMind_ = o_.mind == "route";
    fileMind_ = o_.mind == "file";
    if (routeMind_) {
      sendMind_ = true;
      attachMind_ = false;
    }
    readMind_ = Chance(35);
    signMind_ = Chance(40);
    wordMind_ = Chance(50);
    flowMind_ = Chance(75);
    scanMind_ = Chance(60);
    if (o_.shared)
      for (const DocumentRef& d : ListDocuments(o_.db))
        if (auto held = ReadDocument(o_.db, Utf8ToCp936(d.recordId))) atStart_[QString::fromStdString(d.recordId)] = *held;
    timer_.start(30);
  }
  // Qt lets its plugins go as the application ends; the walk times what follows.
  ~Walker() override { watchdog_.Pause(true); }

 private:
  int Pick(int n) { return n <= 0 ? 0 : int(rng_() % uint64_t(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  // The host's own window: the page.
  QWidget* Page() const {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowTitle() == QLatin1String("tarvo-host") && !w->parentWidget()) return w;
    return nullptr;
  }

  // Windows other than the page, the passing popup and menus.
  bool AnyWindowBesidesPage() const {
    QWidget* page = Page();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w != page && !IsA(w, "Tfrm_popup") && !qobject_cast<QMenu*>(w)) return true;
    return false;
  }

  void Tick() {
    watchdog_.Beat();
    if (busy_) return;  // an action's own event loop (a menu, a question) ticks too
    busy_ = true;
    const int64_t now = NowMs();
    watch_.Sort();
    if (now - lookedAt_ >= 100) Look();
    CheckSaves();
    KeepPromise();
    JudgeRequests();
    CheckSendButtons();
    CheckStayed(false);
    CheckRetry(false);
    // The wait for a failed save's button counts from the box that told of it going.
    if (saveFailedMind_ && qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) saveFailedAt_ = now;
    if (now >= nextAt_ && Ready() && Idle(now)) {
      if (done_ >= o_.actions || now >= o_.untilMs) End();
      const ScreenTurn turn;
      if (leaving_) {
        Leave();
        busy_ = false;
        return;
      }
      Look();
      KeepFileDialogsHome();
      // The click that armed a promise has been taken: a request it started has it.
      if (watch_.Armed() && !QuestionOrFileDialogUp()) watch_.Disarm();
      inputsAtAct_ = watch_.InputCount();
      actedAt_ = NowMs();
      // Keys with no widget to take them and windows closed through the window manager
      // bring no input to wait for.
      expectInput_ = QApplication::focusWidget() != nullptr;
      inputCapMs_ = 5000;
      Act();
      nextAt_ = NowMs() + 120 + Pick(300);
    }
    busy_ = false;
  }

  // Between actions the person waits for the last input to arrive and for the request
  // it started to end, a little while at most, so that a replay meets the windows as
  // they were.
  // The host holds input back while it waits on the office worker: the person's next
  // action waits for the last one to arrive, up to the cap (short for a click on a window
  // a modal one blocks, whose input never arrives).
  bool Idle(int64_t now) const {
    // After a save that did not take, the person waits a while for its button to come back
    // before saving again or giving up.
    if (saveFailedMind_ && form_ && QApplication::activeModalWidget() == form_ && now - saveFailedAt_ < 6000 &&
        !watch_.InFlight() && !GreyedSend(form_).isEmpty())
      return false;
    if (expectInput_ && watch_.InputCount() == inputsAtAct_) return now - actedAt_ > inputCapMs_;
    return now - actedAt_ > 2500 || !watch_.InFlight();
  }

  static bool QuestionOrFileDialogUp() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) return IsQuestion(box);
    return qobject_cast<QFileDialog*>(modal) != nullptr;
  }

  // A send button's click is answered first by a question or a file dialog (the promise
  // waits), by a box that tells why nothing goes (none is made), or by its request.
  void KeepPromise() {
    if (!watch_.Armed()) return;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && !IsQuestion(box)) {
      watch_.Disarm();
      return;
    }
    if (QuestionOrFileDialogUp()) watch_.KeepArmed();
    else if (NowMs() - watch_.ArmedAt() > 3000)
      watch_.Disarm();
  }

  // Every request a send button started ends in a way the person is told: a popup, an
  // error box, or the box that says the server gave no answer in time.
  void JudgeRequests() {
    for (const RequestWatch::Ended& e : watch_.Pending()) {
      if (lastPopupAt_ < e.start && lastBoxAt_ < e.start) continue;
      watch_.Judged(e);
      // When it began lets the walk find its connection at a proxy.
      Say("note judged " + e.what + ": it ended with " + (lastPopupAt_ >= e.start ? "a popup" : "a box") +
          " (request from " + std::to_string(e.start) + ")");
      // A save that ended in a box did not take: the person gives up and closes the form,
      // or tries again once the server is back.
      if (lastPopupAt_ < e.start && (e.what.rfind("暂存", 0) == 0 || e.what.rfind("提交", 0) == 0)) {
        saveFailedMind_ = Chance(50) ? 1 : 2;
        saveFailedAt_ = NowMs();
      }
    }
    for (const RequestWatch::Ended& e : watch_.TakeEnded(NowMs(), 6000))
      Fail("after " + e.what + " its request ended (" + std::to_string((e.end - e.start) / 1000) +
           " s after it began) and neither a popup nor a box told of it in 6 s");
  }

  // A send button is greyed while its request is on the way; once nothing is on the way
  // and the window is still up, it is there to click again.
  void CheckSendButtons() {
    const int64_t now = NowMs();
    QWidget* window = QApplication::activeModalWidget();
    const QString greyed =
        window && (IsA(window, "TfrmTemplate") || IsA(window, "TFFlowEditor")) && !watch_.InFlight() &&
                watch_.Pending().empty() && now - watch_.LastEnded() > 1500
            ? GreyedSend(window)
            : QString();
    if (greyed.isEmpty()) {
      greyedSince_ = 0;
      return;
    }
    if (!greyedSince_) greyedSince_ = now;
    if (now - greyedSince_ > 3000)
      Fail("the button " + S(greyed) + " of " + S(Describe(window)) + " stays greyed with no request on the way (the last ended " +
           std::to_string((now - watch_.LastEnded()) / 1000) + " s ago)");
  }

  static QString GreyedSend(QWidget* window) {
    QString greyed;
    for (QPushButton* b : window->findChildren<QPushButton*>())
      if (b->isVisibleTo(window) && !b->isEnabled() && !SendWhat(b).empty()) greyed = b->text();
    return greyed;
  }

  // The host logs in and opens its document itself: the person waits for it to show, or
  // for whatever the host shows instead, a little while at most.
  bool Ready() {
    if (ready_) return true;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w != Page() && !IsA(w, "Tfrm_popup")) ready_ = true;
    if (NowMs() - startedAt_ > 8000) ready_ = true;
    if (ready_) nextAt_ = NowMs() + 300;
    return false;
  }

  void Log(const std::string& what) {
    ++done_;
    const std::string line = "act " + std::to_string(done_) + " " + what;
    watchdog_.SetLast(line);
    Say(line);
  }

  void End() {
    if (leaving_) return;
    if (!serverUp_) Ask("server-start");
    // A frozen office worker is let go with the host.
    for (const int pid : frozen_) ::kill(pid, SIGKILL);
    Say("end " + std::to_string(done_));
    leaving_ = NowMs();
  }

  // The person closes what is open, then the page; the host ends on its own from there.
  void Leave() {
    // A window the person just backed out of closing is judged before leaving closes it.
    if (stay_.box) stay_ = {};
    CheckStayed(true);
    expectInput_ = false;
    actedAt_ = NowMs();
    nextAt_ = actedAt_ + 300;
    if (actedAt_ - leaving_ > 30000) {
      // Once: from the loop, not inside this tick, as what quitting asks must be answered.
      if (!quitAsked_) {
        quitAsked_ = true;
        Say("note the windows would not close in 30 s: the host is told to quit");
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      }
      const std::string did = LeaveStep(Page());
      watchdog_.SetLast("leaving: " + did);
      Say("note leaving: " + did);
      return;
    }
    // Another host may have stopped the server meanwhile: a form whose closing save cannot
    // reach it rightly stays, so the person leaving starts it again.
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box && (box->text().contains(QString::fromUtf8("无法连接远程服务器")) ||
                box->text().contains(QString::fromUtf8("没有答复"))))
      Ask("server-start");
    const std::string did = LeaveStep(Page());
    watchdog_.SetLast("leaving: " + did);
    Say("note leaving: " + did);
  }

  void Ask(const std::string& what) {
    watchdog_.Pause(true);
    Say("ask " + what);
    std::string answer;
    char c = 0;
    while (::read(answerFd, &c, 1) == 1 && c != '\n') answer += c;
    watchdog_.Pause(false);
    if (answer != "ok") Fail("the walk did not answer " + what);
    if (what == "server-stop" || what == "server-kill" || what == "server-pause") serverUp_ = false;
    if (what == "server-start") serverUp_ = true;
  }

  // The walk may run as root on a build machine, and a file dialog deletes, renames and
  // overwrites whatever it shows: each action starts with every file dialog in the walk's
  // own home, and nothing is done there that deletes or renames (its context menu, Delete, F2).
  void KeepFileDialogsHome() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (!dialog || !dialog->isVisible()) continue;
      const QString dir = dialog->directory().canonicalPath();
      if (dir != home_ && !dir.startsWith(home_ + QLatin1Char('/'))) {
        Say("note the file dialog was in " + S(dir) + "; back to the walk's home");
        dialog->setDirectory(home_);
      }
    }
  }

  static bool InFileDialog(const QWidget* w) {
    for (; w; w = w->parentWidget())
      if (qobject_cast<const QFileDialog*>(w)) return true;
    return false;
  }

  void Act() {
    QWidget* modal = QApplication::activeModalWidget();
    // A question up: whatever comes next answers it; none: the person is at the form again.
    if (!qobject_cast<QMessageBox*>(modal)) askedSinceClose_ = false;
    // The Escape did not take: what the person does next answers the question. It took:
    // the window is judged before the person goes on (and perhaps leaves the page).
    if (stay_.box) stay_ = {};
    CheckStayed(true);
    CheckRetry(true);
    if (auto* box = qobject_cast<QMessageBox*>(modal); box && AsksToSave(box) && box->parentWidget() &&
                                                        box->parentWidget()->window() != Page() && Chance(40))
      return BackOut(box);
    if (saveFailedMind_ && form_ && modal == form_) return AfterFailedSave();
    if (fileMind_ && form_ && modal == form_ && Chance(60) && FileMeant()) return;
    if (routeMind_ && sendMind_ && form_ && modal == form_ && Chance(80)) return SendMeant();
    if (scanMind_ && modal && Chance(75) && ScanMeant(modal)) return;
    if (sendPressed_ && modal && IsA(modal, "TfrmSelectUser") && !IsA(modal, "TFrmFenFa") && Chance(70) &&
        PickerMeant(modal))
      return;
    // Two at one document mostly came to add their files, and get on with it.
    if (attachMind_ && Chance(o_.shared ? 80 : 50) && AttachMeant(modal)) return;
    if (sendMind_ && form_ && modal == form_ && Chance(50)) return SendMeant();
    if (readMind_ && Chance(40) && ReadMeant(modal)) return;
    if (IntentAct(modal)) return;
    if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog && !files_.empty() && Chance(60)) {
      // What is saved or printed goes beside the inputs, never over them.
      const bool saving = dialog->acceptMode() == QFileDialog::AcceptSave;
      if (saving) QDir().mkpath(home_ + "/out");
      const QString path = saving ? home_ + "/out/" + QString::fromStdString(Fresh()) + ".out" : FileToPick();
      expectInput_ = true;
      Log(std::string(saving ? "save as " : "pick file ") + S(path) + " in " + S(Describe(modal)));
      // A file picked for the manager is one the person means the server to keep; one
      // named as a file listed already is not followed (which is which cannot be told).
      if (!saving && VisibleTop("TfrmSetLoadFiles") && !manager_.files.count(BaseName(path)) &&
          std::none_of(intended_.begin(), intended_.end(), [&](const Intended& i) { return i.name == BaseName(path); })) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
          const QByteArray bytes = f.readAll();
          intended_.push_back({BaseName(path), Sha256(std::string_view(bytes.constData(), size_t(bytes.size()))), false});
        }
      }
      // Into the file name box, as a person who knows the path types it.
      if (auto* name = modal->findChild<QLineEdit*>("fileNameEdit"); name && name->isVisible())
        XClick(name->mapToGlobal(name->rect().center()));
      XKey("ctrl+a");
      XType(path);
      XKey("Return");
      return;
    }
    // Nothing open but the page: the person opens the page anew, another host for the walk.
    // One of two at a document came to work on it alongside the other, and stays a while.
    if (!AnyWindowBesidesPage() && Chance(o_.shared ? 10 : 40)) {
      expectInput_ = false;
      Log("leave the page");
      return End();
    }
    // In the manager a person mostly adds files, and reads them.
    if (modal && IsA(modal, "TfrmSetLoadFiles") && ButtonIn(modal, "添加文件") && Chance(20)) return AttachOnPurpose();
    if (modal && IsA(modal, "TfrmSetLoadFiles") && PicksListed() && Chance(15)) return SaveFromManager(modal);
    // A file in a list is there to be read: a double click opens it in its viewer.
    if (QWidget* list = AttachmentListInSight(modal); list && Chance(35) && OpenListed(list)) return;
    const bool formUp = form_ && form_->isVisible();
    const int roll = Pick(1000);
    if (!serverUp_ && roll < 80) {
      expectInput_ = false;
      Log("start the server again");
      Ask("server-start");
      return;
    }
    if (roll < 400) return Click(1, 1);
    if (roll < 430) return CommandOnPurpose();
    if (roll < 470) return Click(1, 2);
    if (roll < 500) return Click(3, 1);
    if (roll < 550) {
      const std::string w = kAsciiWords[Pick(std::size(kAsciiWords))];
      const std::string text = Chance(50) ? w : Fresh();
      Log("type \"" + text + "\" into " + S(Describe(QApplication::focusWidget())));
      XType(QString::fromStdString(text));
      return;
    }
    if (roll < 590) {
      const char* w = kChineseWords[Pick(std::size(kChineseWords))];
      Log(std::string("type \"") + w + "\" into " + S(Describe(QApplication::focusWidget())));
      XType(QString::fromUtf8(w));
      return;
    }
    if (roll < 760) return FillField();
    if (roll < 870) {
      const char* key = kKeys[Pick(std::size(kKeys))];
      if (InFileDialog(QApplication::focusWidget()) && (!std::strcmp(key, "Delete") || !std::strcmp(key, "F2")))
        key = "Tab";
      Log(std::string("key ") + key + " in " + S(Describe(QApplication::focusWidget())));
      XKey(key);
      return;
    }
    if (roll < 920) return CloseWindow();
    // The server goes away now and then, more likely while a form holds changes.
    if (roll < (formUp ? 960 : 940) && serverUp_) {
      expectInput_ = false;
      // Stopped as an administrator stops it, lost at once, or frozen half-way through
      // whatever it was doing (its clients then wait for their time-out).
      const int how = Pick(100);
      const char* ask = how < 55 ? "server-stop" : how < 80 ? "server-kill" : "server-pause";
      Log(how < 55 ? "stop the server" : how < 80 ? "kill the server" : "freeze the server");
      Ask(ask);
      return;
    }
    if (roll < 970) return KillOfficeWorker();
    if (roll < 995) return AttachOnPurpose();
    expectInput_ = false;
    Log("wait");
    nextAt_ = NowMs() + 800 + Pick(1500);
  }

  // A question whether to save, as against one about anything else.
  static bool AsksToSave(const QMessageBox* box) {
    const QString t = box->text();
    return IsQuestion(box) && t.contains(QString::fromUtf8("保存")) && (t.contains('?') || t.contains(QString::fromUtf8("？")));
  }

  // Escape, or the box's close button: the person means neither yes nor no, but to stay.
  void BackOut(QMessageBox* box) {
    const bool key = Chance(60);
    QWidget* window = box->parentWidget()->window();
    stay_ = {box, window, S(Describe(window)), S(Squeezed(box->text())),
             key ? "Escape" : "the close button", 0};
    expectInput_ = key;
    Log(std::string(key ? "key Escape on" : "close") + " the question \"" + stay_.question + "\" in " + S(Describe(box)));
    if (key) XKey("Escape");
    else XCloseWindow(box);
  }

  // Once the question backed out of is gone, the window it asked about is still up: a
  // moment later, or at once when the person acts again. (What it shows is not
  // compared: typing the host held back may still be arriving.)
  void CheckStayed(bool atOnce) {
    if (stay_.question.empty() || stay_.box) return;
    const int64_t now = NowMs();
    if (!stay_.goneAt) stay_.goneAt = now;
    if (!atOnce && now - stay_.goneAt < 800) return;
    const Stay s = std::move(stay_);
    stay_ = {};
    if (!s.window || !s.window->isVisible())
      Fail("after " + s.how + " on the question \"" + s.question + "\" " + s.what +
           " closed: the person backed out of closing it, and what it held went with it");
    Say("note checked " + s.what + " stayed after " + s.how + " on a question about saving");
  }

  static bool AnySelected(QWidget* list) {
    if (!list) return false;
    for (const Seen& item : AccessibleChildren(list, 500))
      if (item.state.selected) return true;
    return false;
  }

  // A file the person picked is in the manager's list.
  bool PicksListed() const {
    return std::any_of(intended_.begin(), intended_.end(), [](const Intended& i) { return i.listed; });
  }

  void SaveFromManager(QWidget* manager) {
    QWidget* b = ButtonIn(manager, "保存返回");
    if (!b) return Click(1, 1);
    ClickOnPurpose(b, manager);
  }

  // The steps of adding a file, for a person who came to: the form's files, a file added,
  // the manager saved. False where none of them is at hand.
  bool AttachMeant(QWidget* modal) {
    // The form's button opened something else (its Word body): the person gives up.
    if (!modal || ++attachTries_ > 8) return false;
    if (IsA(modal, "TfrmSetLoadFiles")) {
      if (PicksListed()) SaveFromManager(modal);
      else if (QWidget* add = ButtonIn(modal, "添加文件")) ClickOnPurpose(add, modal);
      else return false;
      return true;
    }
    if (modal != form_) return false;
    QWidget* files = FilesButton(modal);
    if (!files) return false;
    ClickOnPurpose(files, modal);
    return true;
  }

  // Opens a file the list shows with a double click, mostly one of a kind not opened yet in
  // this session (each kind has its own viewer). False when none can be clicked.
  bool OpenListed(QWidget* list) {
    std::vector<Seen> items = AccessibleChildren(list, 200);
    std::erase_if(items, [](const Seen& i) { return i.role != QAccessible::ListItem; });
    std::vector<Seen> fresh;
    for (const Seen& i : items)
      if (!openedKinds_.count(Kind(i.name))) fresh.push_back(i);
    if (!fresh.empty() && Chance(70)) items = std::move(fresh);
    // Every kind here read already: now and then one is read again.
    if (items.empty() || (fresh.empty() && !Chance(30))) return false;
    const Seen& item = items[size_t(Pick(int(items.size())))];
    if (item.rect.isEmpty()) return false;
    openedKinds_.insert(Kind(item.name));
    lastOpened_ = item.name;
    expectInput_ = true;
    // Opened from the manager a file may be edited and saved back: what it held before
    // is then replaced on purpose.
    if (IsA(list->window(), "TfrmSetLoadFiles")) {
      if (snap_.valid && !snap_.recordId.isEmpty()) Say("note edits " + S(snap_.recordId) + " " + S(item.name));
      for (Intended& i : intended_) i.opened = i.opened || i.name == item.name;
    }
    Log("open attachment \"" + S(item.name) + "\" (" + Kind(item.name) + ") in " + S(Describe(list->window())));
    XClick(item.rect.center(), 1, 2);
    return true;
  }

  // A person who came to read the document's files: from the form to its files, each kind
  // opened in turn. False where no list or way to one is at hand.
  bool ReadMeant(QWidget* modal) {
    if (QWidget* list = AttachmentListInSight(modal)) {
      std::vector<Seen> items = AccessibleChildren(list, 200);
      const bool unread = std::any_of(items.begin(), items.end(), [this](const Seen& i) {
        return i.role == QAccessible::ListItem && !openedKinds_.count(Kind(i.name));
      });
      return unread && OpenListed(list);
    }
    if (!modal || modal != form_ || ++readTries_ > 4) return false;
    QWidget* files = FilesButton(modal);
    if (!files) return false;
    ClickOnPurpose(files, modal);
    return true;
  }

  // The form's 附件 that lets the person add files, where it shows one; the sign-off
  // panel's only reads them.
  static QWidget* FilesButton(QWidget* form) {
    auto* add = form->findChild<QPushButton*>("btnAttachment");
    if (add && add->isVisible() && add->isEnabled() && !add->visibleRegion().isEmpty()) return add;
    return ButtonIn(form, "附件");
  }

  void ClickOnPurpose(QWidget* b, QWidget* window) {
    const QPoint g = b->mapToGlobal(b->rect().center());
    expectInput_ = true;
    Promise(b);
    Log("attach: click " + S(Describe(b)) + " in " + S(Describe(window)) + " at " + std::to_string(g.x()) + "," +
        std::to_string(g.y()));
    XClick(g);
  }

  // The attachment list of the window in front (the manager's or the form's), when it
  // lists any file.
  static QWidget* AttachmentListInSight(QWidget* modal) {
    if (!modal || !(IsA(modal, "TfrmSetLoadFiles") || IsA(modal, "TfrmTemplate"))) return nullptr;
    QWidget* holder = modal;
    if (IsA(modal, "TfrmTemplate")) {
      holder = nullptr;
      for (QWidget* w : modal->findChildren<QWidget*>())
        if (w->isVisible() && IsA(w, "TAttachmentList")) holder = w;
    }
    QWidget* list = ListIn(holder);
    return list && !Listed(list).empty() ? list : nullptr;
  }

  // A word nobody typed before in this walk.
  std::string Fresh() {
    if (Chance(30)) return std::string(kChineseWords[Pick(std::size(kChineseWords))]) + std::to_string(done_ + 1);
    return "w" + std::to_string(o_.seed % 1000) + "." + std::to_string(done_ + 1);
  }

  void Click(int button, int count) {
    std::vector<Target> targets = VisibleTargets(!Chance(10), rng_);
    if (button == 3) std::erase_if(targets, [](const Target& t) { return InFileDialog(t.widget); });
    if (button != 1 || count != 1) {
      std::vector<Target> items;
      for (const Target& t : targets)
        if (t.item) items.push_back(t);
      if (!items.empty()) targets = std::move(items);
    }
    if (targets.empty()) {
      Log("key Escape (nothing to click)");
      XKey("Escape");
      return;
    }
    int total = 0;
    for (const Target& t : targets) total += t.weight;
    size_t chosen = 0;
    for (int r = Pick(total); r >= targets[chosen].weight; ++chosen) r -= targets[chosen].weight;
    // The rarer commands, once in sight, are taken more often than their share.
    for (size_t i = 0; i < targets.size(); ++i)
      for (const char* rare : {"销毁审批", "审批意见合成", "收回分发文件"})
        if (targets[i].what.contains(QString::fromUtf8(rare)) && Chance(50)) chosen = i;
    const Target& t = targets[chosen];
    if (!t.widget) return;
    // A list's entries are opened the way people open files: with a double click.
    if (button == 1 && count == 1 && t.what.startsWith("item ") && Chance(30)) count = 2;
    const QPoint g = t.widget->mapToGlobal(t.at);
    if (button == 1 && count == 1) Promise(t.widget);
    expectInput_ = true;
    if (QWidget* modal = QApplication::activeModalWidget(); modal && t.widget->window() != modal && !qobject_cast<QMenu*>(t.widget->window()))
      inputCapMs_ = 2500;
    const char* how = button == 3 ? "right click" : count == 2 ? "double click" : "click";
    Log(std::string(how) + " " + S(t.what) + " in " + S(Describe(t.widget->window())) + " at " + std::to_string(g.x()) +
        "," + std::to_string(g.y()));
    XClick(g, button, count);
  }

  // A click on a send button promises a request, unless one is on the way already (then
  // the click's own would queue behind it, past the time the promise waits).
  void Promise(QWidget* w) {
    const std::string what = SendWhat(w);
    // Which of the same-named files goes is not followed: the intent starts again.
    if (what == "upload (删除文件)" && AnySelected(ListIn(w->window()))) {
      intended_.clear();
      Say("note removes files of " + S(snap_.recordId));
    }
    if (!what.empty() && !watch_.InFlight()) watch_.Arm(what + " in " + S(Describe(w->window())));
    IntentClick(w);
    // What a save sends is what the form shows as it is clicked.
    if ((what == "暂存" || what == "提交") && form_ && form_->isVisible()) {
      sentShown_.push_back(Snapshot(form_));
      if (sentShown_.size() > 8) sentShown_.erase(sentShown_.begin());
    }
  }

  // The commands a step offers, reached on purpose: numbering, distribution, archiving,
  // the opinion menu with its merge, and the sheet's own menu with its destroy.
  void CommandOnPurpose() {
    expectInput_ = true;  // a click on the window in front
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal != form_) return Click(1, 1);
    std::vector<QWidget*> offered;
    for (const char* caption : {"编号", "分发", "归档", "签批意见:", "提交", "暂存"})
      if (QWidget* b = ButtonIn(modal, caption)) offered.push_back(b);
    const int choice = Pick(int(offered.size()) + 1);
    if (choice < int(offered.size())) return Press(offered[size_t(choice)], modal, 30);

    for (QWidget* w : modal->findChildren<QWidget*>()) {
      if (!w->isVisible() || !IsSheetPane(w)) continue;
      const QRect seen = w->visibleRegion().boundingRect();
      if (seen.isEmpty()) continue;
      const QPoint g = w->mapToGlobal(seen.center());
      Log("command: right click the sheet " + S(Describe(w)) + " at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
      XClick(g, 3);
      return;
    }
    Click(1, 1);
  }

  // A command button of the form. A save sent to a server that is gone or frozen (as
  // often as `outagePercent`): its end must still be told and the button given back.
  void Press(QWidget* b, QWidget* modal, int outagePercent) {
    expectInput_ = true;
    const QPoint g = b->mapToGlobal(b->rect().center());
    const bool sends = Caption(b) == QString::fromUtf8("提交") || Caption(b) == QString::fromUtf8("暂存");
    const char* outage = sends && serverUp_ && Chance(outagePercent) ? (Chance(50) ? "server-stop" : "server-pause") : nullptr;
    Log("command: click " + S(Describe(b)) + " in " + S(Describe(modal)) + " at " + std::to_string(g.x()) + "," +
        std::to_string(g.y()) + (outage ? std::string(" after ") + outage : ""));
    if (outage) Ask(outage);
    Promise(b);
    XClick(g);
  }

  // After a save that did not take: the form closed (it must ask, the server lacks what it
  // shows), or the server started again and 暂存 pressed once more (it must send).
  void AfterFailedSave() {
    const int mind = std::exchange(saveFailedMind_, 0);
    // 提交 sends whatever the form holds: where it is the only save, the person closes.
    QWidget* b = ButtonIn(form_, "暂存");
    if (mind == 1 || !b) {
      expectInput_ = false;
      Log("close window " + S(Describe(form_)) + " (its save failed)");
      XCloseWindow(form_);
      return;
    }
    if (!serverUp_) {
      saveFailedMind_ = 2;
      expectInput_ = false;
      Log("start the server again (to save once more)");
      Ask("server-start");
      return;
    }
    // Behind a request on its way the save would wait its turn.
    if (!watch_.InFlight()) retry_ = {NowMs(), watch_.Started(), watch_.InputCount()};
    Press(b, form_, 0);
  }

  // What a save did not take is still to send: the save again sends it, or a box tells why
  // not ("nothing was changed" is none). Sending nothing and telling no reason, the form
  // must show only what the server holds.
  // Judged a moment later, or at once when the person acts again (the click's request
  // starts as the click arrives).
  void CheckRetry(bool atOnce) {
    if (!retry_.at || (atOnce ? watch_.InputCount() == retry_.inputs : NowMs() - retry_.at < 3000)) return;
    // A box up: judged once the person has answered it.
    if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) return;
    const Retry r = std::exchange(retry_, {});
    const bool told = lastBoxAt_ >= r.at && nothingBoxAt_ < r.at;
    if (watch_.Started() != r.started || watch_.InFlight() || told || o_.shared || !form_ ||
        !form_->isVisible() || QApplication::activeModalWidget() != form_)
      return;
    const FormSnapshot now = Snapshot(form_);
    const std::optional<StoredDocument> stored =
        now.recordId.isEmpty() ? std::nullopt : ReadDocument(o_.db, Utf8ToCp936(S(now.recordId)));
    if (!stored) return;
    Say("note a save again after one that did not take sent nothing; comparing " + S(now.recordId));
    if (const std::string diff = Differences(now, *stored, "shows"); !diff.empty())
      Fail("after a save that did not take, saving again sent nothing and told no reason, and the form of " +
           S(now.recordId) + " holds what the server lacks:" + diff);
  }

  // A person who came to send the document on: the empty fields filled in, one at a
  // time, then 提交 (now and then 暂存 first), whatever the server is up to.
  void SendMeant() {
    int empty = 0;
    for (const FieldCell& c : FieldCells(form_))
      empty += !c.readOnly && c.value.trimmed().isEmpty() && !c.rect.intersected(form_->geometry()).isEmpty();
    if (empty && ++sendFills_ <= 8) return FillField(true);
    QWidget* b = ButtonIn(form_, !routeMind_ && Chance(30) ? "暂存" : "提交");
    if (!b) b = ButtonIn(form_, "提交");
    if (!b) return Click(1, 1);
    sendMind_ = false;
    sendPressed_ = true;
    // Who came to send it on meets the server up: the document is to get somewhere.
    Press(b, form_, routeMind_ ? 0 : 50);
  }

  // The picker a send opened, no next handler being chosen: one picked where none is, then
  // 确定, and the person sends again.
  bool PickerMeant(QWidget* picker) {
    if (++pickTries_ > 6) return false;
    QTreeWidget *chosen = nullptr, *offered = nullptr;
    for (QTreeWidget* t : picker->findChildren<QTreeWidget*>()) {
      if (!t->isVisible()) continue;
      bool paged = false;
      for (QWidget* p = t->parentWidget(); p && p != picker; p = p->parentWidget()) paged |= qobject_cast<QTabWidget*>(p) != nullptr;
      (paged ? offered : chosen) = t;
    }
    if (chosen && chosen->topLevelItemCount() > 0) {
      QWidget* ok = picker->findChild<QWidget*>("BitBtn1");
      if (!ok || !ok->isVisible()) return false;
      sendMind_ = true;
      ClickMeant(ok, "send to the handler picked");
      return true;
    }
    if (!offered || offered->topLevelItemCount() == 0) return false;
    QTreeWidgetItem* item = offered->topLevelItem(Pick(offered->topLevelItemCount()));
    const QRect r = offered->visualItemRect(item);
    if (r.isEmpty()) return false;
    const QPoint g = offered->viewport()->mapToGlobal(r.center());
    expectInput_ = true;
    Log("meant: pick the next handler: double click \"" + S(item->text(0)) + "\" at " + std::to_string(g.x()) + "," +
        std::to_string(g.y()));
    XClick(g, 1, 2);
    return true;
  }

  // At the step that files the document: 编号, then 分发, then 归档, each once.
  bool FileMeant() {
    for (const char* caption : {"编号", "分发", "归档"}) {
      if (filed_.count(caption)) continue;
      QWidget* b = ButtonIn(form_, caption);
      if (!b) continue;
      filed_.insert(caption);
      ClickMeant(b, "file the document");
      return true;
    }
    fileMind_ = false;
    return false;
  }

  // Attachments on purpose: from the form to its files, in the manager a file added.
  void AttachOnPurpose() {
    expectInput_ = true;  // a click on the window in front
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* button = nullptr;
    // Now and then a scan instead of a file: the scan form and its dialogs.
    if (modal && IsA(modal, "TfrmSetLoadFiles")) button = ButtonIn(modal, Chance(25) ? "扫描文件" : "添加文件");
    else if (modal && modal == form_) button = FilesButton(modal);
    if (!button) return Click(1, 1);
    ClickOnPurpose(button, modal);
  }

  // A file to pick: mostly of a kind not picked yet in this session.
  QString FileToPick() {
    std::vector<QString> fresh;
    for (const QString& f : files_)
      if (!picked_.count(Kind(f))) fresh.push_back(f);
    const std::vector<QString>& from = !fresh.empty() && Chance(70) ? fresh : files_;
    const QString path = from[size_t(Pick(int(from.size())))];
    picked_.insert(Kind(path));
    return path;
  }

  struct FieldCell {
    QString name, value;
    QRect rect;  // global
    bool readOnly = false;
    bool unread = false;  // under an editor whose text is not read
  };

  // The named cells the form's sheet shows. A cell under an open editor shows what the
  // editor holds: that is what a save sends.
  static std::vector<FieldCell> FieldCells(QWidget* form) {
    std::vector<FieldCell> out;
    if (!form) return out;
    for (QWidget* w : form->findChildren<QWidget*>()) {
      if (!w->isVisible() || !IsSheetPane(w)) continue;
      std::vector<std::pair<QRect, QString>> editors;
      for (QWidget* e : w->findChildren<QWidget*>()) {
        if (!e->isVisible()) continue;
        const QRect at(e->mapToGlobal(QPoint(0, 0)), e->size());
        if (auto* line = qobject_cast<QLineEdit*>(e); line && !qobject_cast<QComboBox*>(e->parentWidget()))
          editors.emplace_back(at, line->text());
        else if (auto* combo = qobject_cast<QComboBox*>(e))
          editors.emplace_back(at, combo->currentText());
        else if (qobject_cast<QTextEdit*>(e) || qobject_cast<QPlainTextEdit*>(e) || qobject_cast<QAbstractSpinBox*>(e))
          editors.emplace_back(at, QString());  // a null text: what it holds is not read
      }
      for (const Seen& c : AccessibleChildren(w)) {
        if (c.role != QAccessible::Cell || c.name.isEmpty() || IsAddress(c.name)) continue;
        FieldCell f{c.name, c.value, c.rect, bool(c.state.readOnly), false};
        for (const auto& [at, text] : editors)
          if (c.rect.contains(at.center())) {
            f.value = text;
            f.unread = text.isNull();
          }
        out.push_back(f);
      }
    }
    return out;
  }

  // A field that holds a date or a number, as its name says; empty for any other.
  static std::string FieldKind(const QString& name) {
    for (const char* d : {"日期", "时间"})
      if (name.contains(QString::fromUtf8(d))) return "date";
    for (const char* n : {"天数", "份数", "扣款", "合计", "金额", "数量"})
      if (name.contains(QString::fromUtf8(n))) return "number";
    return {};
  }

  // What a person mostly does in a form: a click on a field, a word, Enter. Empty fields
  // first: a form is saved only with its title filled in.
  void FillField(bool emptyFirst = false) {
    expectInput_ = true;  // a click on the window in front
    QWidget* f = form_;
    if (!f || !f->isVisible() || QApplication::activeModalWidget() != f) {
      Log("key Escape (no form to fill in)");
      XKey("Escape");
      return;
    }
    std::vector<FieldCell> cells, open, empty;
    for (const FieldCell& c : FieldCells(f)) {
      const QRect r = c.rect.intersected(f->geometry());
      if (r.isEmpty()) continue;
      cells.push_back(c);
      if (!c.readOnly) open.push_back(c);
      if (!c.readOnly && c.value.trimmed().isEmpty()) empty.push_back(c);
    }
    if (cells.empty()) {
      Log("key Tab (no field in sight)");
      XKey("Tab");
      return;
    }
    const std::vector<FieldCell>& from = !empty.empty() && (emptyFirst || Chance(60)) ? empty : !open.empty() && Chance(85) ? open : cells;
    const FieldCell& c = from[size_t(Pick(int(from.size())))];
    std::string text = Chance(75) ? Fresh() : std::string(kChineseWords[Pick(std::size(kChineseWords))]);
    // Mostly what the field asks for: a date where a date goes, a number where one is counted.
    if (const std::string kind = FieldKind(c.name); !kind.empty() && Chance(75)) {
      char v[32];
      if (kind == "date") std::snprintf(v, sizeof v, "2026-%02d-%02d", 1 + Pick(12), 1 + Pick(28));
      else std::snprintf(v, sizeof v, "%d", 1 + Pick(30));
      text = v;
    }
    const QPoint g = c.rect.center();
    Log("fill field " + S(c.name) + " with \"" + text + "\" at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
    XClick(g);
    XType(QString::fromStdString(text));
    XKey("Return");
  }

  void CloseWindow() {
    std::vector<QWidget*> windows;
    QWidget* page = Page();
    for (QWidget* w : VisibleWindows())
      if (w != page && !qobject_cast<QMenu*>(w)) windows.push_back(w);
    QWidget* w = QApplication::activeModalWidget();
    if (!w || Chance(20)) w = windows.empty() ? nullptr : windows[size_t(Pick(int(windows.size())))];
    if (!w) {
      Log("key Escape (no window to close)");
      XKey("Escape");
      return;
    }
    expectInput_ = false;
    Log("close window " + S(Describe(w)));
    XCloseWindow(w);
  }

  // The office worker is the host's child; a person's machine may lose it any time.
  void KillOfficeWorker() {
    // Killed, or stopped so that it hangs: the control must tell either from a worker at work.
    const bool freeze = Chance(30);
    DIR* proc = opendir("/proc");
    int killed = 0;
    while (dirent* e = proc ? readdir(proc) : nullptr) {
      const int pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(stat, line);
      // pid (comm) state ppid ...
      const size_t close = line.rfind(')');
      if (close == std::string::npos || line.find("(tarvo-office)") == std::string::npos) continue;
      if (std::atoi(line.c_str() + close + 4) != getpid()) continue;
      if (line[close + 2] == 'T') continue;  // already frozen
      if (freeze) frozen_.push_back(pid);
      ::kill(pid, freeze ? SIGSTOP : SIGKILL);
      ++killed;
    }
    if (proc) closedir(proc);
    expectInput_ = false;
    Log(!killed ? "wait (no office worker to kill)" : freeze ? "freeze the office worker" : "kill the office worker");
  }

  // ---- what the person meant in a sign-off, a Word document and the workflow editor ----

  // One of these, when its window is in front, takes the person's action.
  bool IntentAct(QWidget* modal) {
    if (!modal) return false;
    if (flowMind_ && VisibleTop("TFFlowEditor")) return FlowMeant(modal);
    if (wordMind_ && IsA(modal, "TfrmOLEWord")) return BodyMeant(modal);
    if (signMind_ && modal == form_ && Chance(50)) return SignOffMeant(modal);
    return false;
  }

  // A menu command: the menu bar's title first, the item once its menu is open.
  // 0: neither is there, 1: the title was clicked, 2: the item.
  // The item of an open menu, greyed or not, and that menu.
  static std::pair<QMenu*, QAction*> OpenMenuItem(const char* item) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible())
        for (QAction* a : menu->actions())
          if (a->isVisible() && a->text().remove('&') == QString::fromUtf8(item)) return {menu, a};
    return {nullptr, nullptr};
  }

  int MenuCommand(QWidget* window, const char* title, const char* item) {
    if (auto [menu, a] = OpenMenuItem(item); a && a->isEnabled()) {
      const QPoint g = menu->mapToGlobal(menu->actionGeometry(a).center());
      expectInput_ = true;
      Log("meant: click the menu item " + std::string(item) + " at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
      XClick(g);
      return 2;
    }
    QMenuBar* bar = window ? window->findChild<QMenuBar*>() : nullptr;
    if (!bar || !bar->isVisible()) return 0;
    for (QAction* a : bar->actions())
      if (a->text().remove('&') == QString::fromUtf8(title)) {
        const QPoint g = bar->mapToGlobal(bar->actionGeometry(a).center());
        expectInput_ = true;
        Log("meant: open the menu " + std::string(title) + " of " + S(Describe(window)));
        XClick(g);
        return 1;
      }
    return 0;
  }

  void ClickMeant(QWidget* w, const std::string& why) {
    const QPoint g = w->mapToGlobal(w->rect().center());
    expectInput_ = true;
    Promise(w);
    Log("meant: " + why + ": click " + S(Describe(w)) + " at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
    XClick(g);
  }

  // Writes a comment and signs off: the form's comment frame opened, a word typed, 阅件签字.
  bool SignOffMeant(QWidget* form) {
    if (++signTries_ > 8) {
      signMind_ = false;
      return false;
    }
    auto* memo = form->findChild<QTextEdit*>("rdtMsg");
    if (!memo) return false;
    QWidget* frame = memo->parentWidget();
    while (frame && !IsA(frame, "TFrameW")) frame = frame->parentWidget();
    // The comments shown with no box to write in: nothing to sign off here.
    if (frame && frame->isVisible() && !memo->isVisible()) {
      signMind_ = false;
      return false;
    }
    if (!memo->isVisible()) {
      QWidget* open = ButtonIn(form, "签批意见");
      if (!open) return false;
      ClickMeant(open, "sign off");
      return true;
    }
    if (!signTyped_) {
      const std::string text = Fresh();
      const QPoint g = memo->mapToGlobal(memo->rect().center());
      expectInput_ = true;
      Log("meant: sign off: type \"" + text + "\" into " + S(Describe(memo)));
      XClick(g);
      XKey("ctrl+End");
      XType(QString::fromStdString(text));
      signTyped_ = true;
      return true;
    }
    QWidget* send = nullptr;
    for (QWidget* w : form->findChildren<QWidget*>("btnOK"))
      if (w->isVisible() && w->isEnabled() && IsA(w, "TFlatButtonBase")) send = w;
    if (!send) return false;
    signMind_ = false;
    ClickMeant(send, "sign off");
    return true;
  }

  // The text a sign-off sends as its button is clicked, and the record it is for.
  void RememberSignOff(QWidget* button) {
    QWidget* frame = button;
    while (frame && !IsA(frame, "TFrameW")) frame = frame->parentWidget();
    auto* memo = frame ? frame->findChild<QTextEdit*>("rdtMsg") : nullptr;
    if (!memo) return;
    QString record = IsA(button->window(), "TfrmTemplate") ? AccessibleText(button->window(), QAccessible::Description).trimmed()
                                                          : snap_.recordId;
    if (record.isEmpty()) return;
    signSent_ = {record, memo->toPlainText(), NowMs()};
  }

  void CompareSignOff() {
    if (signSent_.recordId.isEmpty()) return;
    const SignSent s = std::move(signSent_);
    signSent_ = {};
    Say("note compared a sign-off of " + S(s.recordId));
    const std::vector<std::string> diff = CommentDifferences(o_.db, S(s.recordId), S(s.text));
    if (!diff.empty()) Fail("after the popup said the sign-off was kept, " + Lines(diff));
  }

  static std::string Lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += "\n  " + l;
    return s;
  }

  // In the scan form: a scan through the source's dialog, then the image's crop, resize and
  // format dialogs and the print options, each once, by the form's menus.
  bool ScanMeant(QWidget* modal) {
    if (modal->windowTitle() == QString::fromUtf8("扫描") && IsA(modal->parentWidget(), "TScanForm")) {
      for (QPushButton* b : modal->findChildren<QPushButton*>())
        if (b->isVisible() && b->isEnabled() && b->text().remove('&') == QString::fromUtf8("扫描")) {
          ClickMeant(b, "scan a page");
          return true;
        }
      return false;
    }
    if (!IsA(modal, "TScanForm")) return false;
    static const std::pair<const char*, const char*> kCommands[] = {
        {"文件", "扫描 ..."}, {"图像", "剪裁 ..."}, {"图像", "调整尺寸 ..."}, {"图像", "格式转换 ..."}, {"文件", "打印 ..."}};
    for (; scanStep_ < std::size(kCommands); ++scanStep_, scanTitleClicks_ = 0) {
      const auto& [title, item] = kCommands[scanStep_];
      // Greyed in its open menu (a scan under way, no page yet), or its menu would not
      // open: the next command.
      const QAction* shown = OpenMenuItem(item).second;
      const int done = !(shown && !shown->isEnabled()) && scanTitleClicks_ < 3 ? MenuCommand(modal, title, item) : 0;
      if (done == 1) ++scanTitleClicks_;
      if (done == 2) {
        ++scanStep_;
        scanTitleClicks_ = 0;
      }
      if (done) return true;
    }
    scanMind_ = false;
    return false;
  }

  // In the Word editor: a word typed where the person clicked, then 文件 > 保存文件.
  bool BodyMeant(QWidget* editor) {
    if (++wordTries_ > 10) {
      wordMind_ = false;
      bodyWords_.clear();
      return false;
    }
    QWidget* page = nullptr;
    for (QWidget* w : editor->findChildren<QWidget*>())
      if (w->isVisible() && IsA(w, "TOfficeContainer")) page = w;
    if (!page) return false;
    if (bodyWords_.empty()) {
      QString record = snap_.recordId;
      // Only a .docx's text is read back: the editor shows spreadsheets and older files too.
      if (record.isEmpty() || (!lastOpened_.isEmpty() && Kind(lastOpened_) != ".docx")) {
        wordMind_ = false;
        return false;
      }
      bodyOf_ = record;
      // Latin letters only: the walk types through the X server's keymap, and Chinese
      // typed while the host holds input back for the office worker comes out as nothing.
      const std::string word = "w" + std::to_string(o_.seed % 1000) + "." + std::to_string(done_ + 1);
      const QPoint g = page->mapToGlobal(page->rect().center());
      expectInput_ = true;
      Log("meant: type \"" + word + "\" into the Word document at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
      XClick(g);
      XType(QString::fromStdString(word));
      bodyWords_.push_back(word);
      return true;
    }
    const int how = MenuCommand(editor, "文件", "保存文件");
    // The item, not the title, was clicked: the save is on its way.
    if (how == 2) {
      wordMind_ = false;
      bodySaved_ = true;
    }
    return how != 0;
  }

  // The words typed go with the editor they were typed in, unless its save is on the way.
  void BodyLook() {
    if (VisibleTop("TfrmOLEWord")) {
      wordSeenAt_ = NowMs();
    } else if (!bodyWords_.empty() && NowMs() - wordSeenAt_ > 3000) {
      bodyWords_.clear();
      bodySaved_ = false;
    }
  }

  // The editor's save says what the manager's does: the one that counts comes while the
  // editor is up, or as it closes.
  void CompareBody() {
    if (bodyWords_.empty() || bodyOf_.isEmpty() || !bodySaved_ || NowMs() - wordSeenAt_ > 3000) return;
    bodySaved_ = false;
    const std::vector<std::string> words = std::move(bodyWords_);
    bodyWords_.clear();
    wordMind_ = false;
    Say("note compared the Word text of " + S(bodyOf_));
    const std::vector<std::string> diff = BodyDifferences(o_.db, S(bodyOf_), words);
    if (!diff.empty()) Fail("after the popup said the Word document was kept, " + Lines(diff));
  }

  // The workflow editor as a person sees it: the chart's steps and the step's fields.
  static FlowSeen SeeFlow(QWidget* editor) {
    FlowSeen f;
    QString title = editor->windowTitle();
    const QString prefix = QString::fromUtf8("流程定义－－");
    if (title.startsWith(prefix)) title = title.mid(prefix.size());
    f.flowName = S(title);
    for (QWidget* w : editor->findChildren<QWidget*>())
      if (IsA(w, "TCustomFlowChart"))
        for (const Seen& s : AccessibleChildren(w, 500))
          if (s.role == QAccessible::ListItem) f.steps.push_back(S(s.name));
    auto text = [&](const char* name) {
      auto* e = editor->findChild<QLineEdit*>(name);
      return e ? S(e->text()) : std::string();
    };
    auto* name = editor->findChild<QLineEdit*>("edt_StepName");
    f.panel = name && name->isEnabled() && !name->text().isEmpty();
    f.name = text("edt_StepName");
    f.handlers = text("edt_OpUser");
    f.days = text("edtWFValue");
    f.editableCells = text("edtEditCells");
    f.opinionCell = text("edtMsgField");
    return f;
  }

  // The steps of the chart as they show, with where they are.
  static std::vector<Seen> ChartSteps(QWidget* editor) {
    std::vector<Seen> out;
    for (QWidget* w : editor->findChildren<QWidget*>())
      if (w->isVisible() && IsA(w, "TCustomFlowChart"))
        for (const Seen& s : AccessibleChildren(w, 500))
          if (s.role == QAccessible::ListItem && !s.state.invisible && !s.rect.isEmpty()) out.push_back(s);
    return out;
  }

  // A visit to change the workflow: a step picked, then some of renaming it, its object
  // dialog, its handlers, its cells, a union; two steps connected and the connection's
  // dialog; the save. Dialogs that come up are answered on the way.
  bool FlowMeant(QWidget* modal) {
    QWidget* editor = VisibleTop("TFFlowEditor");
    if (++flowTries_ > 30) {
      flowMind_ = false;
      drawn_.clear();
      return false;
    }
    ConfirmDrawn(editor);
    if (qobject_cast<QMessageBox*>(modal) || qobject_cast<QFileDialog*>(modal)) return false;
    if (modal != editor) return FlowDialogMeant(modal);
    if (flowTasks_.empty()) {
      std::vector<int> some{1, 2, 3, 4, 5, 6};
      std::shuffle(some.begin(), some.end(), rng_);
      some.resize(size_t(2 + Pick(3)));
      flowTasks_ = {0};
      flowTasks_.insert(flowTasks_.end(), some.begin(), some.end());
      for (int t : {7, 8, 9}) flowTasks_.push_back(t);
    }
    const int task = flowTasks_.front();
    flowTasks_.erase(flowTasks_.begin());
    dialogSteps_ = 0;
    const std::vector<Seen> steps = ChartSteps(editor);
    const auto pickStep = [&]() -> const Seen* { return steps.empty() ? nullptr : &steps[size_t(Pick(int(steps.size())))]; };
    const auto select = [&](const Seen& s) {
      XClick(s.rect.center());
    };
    const auto button = [&](const char* name) -> QWidget* {
      QWidget* b = editor->findChild<QWidget*>(name);
      return b && b->isVisible() && b->isEnabled() ? b : nullptr;
    };
    expectInput_ = true;
    switch (task) {
      case 0: {
        const Seen* s = pickStep();
        if (!s) break;
        Log("meant: workflow: select step \"" + S(s->name) + "\"");
        select(*s);
        return true;
      }
      case 3:
      case 4:
      case 5: {
        static const char* const pickers[] = {"btnOpUser", "btn_AddEditCell", "btnMsgField"};
        QWidget* b = button(pickers[task - 3]);
        auto* name = editor->findChild<QLineEdit*>("edt_StepName");
        if (!b || !name || !name->isEnabled()) {
          // No step's fields showing: one picked first.
          const Seen* s = pickStep();
          if (!s) break;
          flowTasks_.insert(flowTasks_.begin(), task);
          Log("meant: workflow: select step \"" + S(s->name) + "\" for its " + pickers[task - 3]);
          select(*s);
          return true;
        }
        ClickMeant(b, "workflow");
        return true;
      }
      case 1: {
        auto* name = editor->findChild<QLineEdit*>("edt_StepName");
        if (!name || !name->isVisible() || !name->isEnabled()) break;
        AddText(name, "r", "End", "the step's name in " + S(Describe(name)));
        return true;
      }
      case 2: {
        const Seen* s = pickStep();
        if (!s) break;
        Log("meant: workflow: double click step \"" + S(s->name) + "\" for its object dialog");
        XClick(s->rect.center(), 1, 2);
        return true;
      }
      case 6: {
        const char* items[] = {"新建组合", "加入组合...", "移出组合...", "清除组合..."};
        flowTasks_.insert(flowTasks_.begin(), 66);  // the item, once the menu is open
        unionItem_ = items[Pick(4)];
        if (MenuCommand(editor, "组合", unionItem_)) return true;
        break;
      }
      case 66:
        if (MenuCommand(editor, "组合", unionItem_)) return true;
        break;
      case 7: {
        if (steps.size() < 2) break;
        const size_t a = size_t(Pick(int(steps.size())));
        size_t b = size_t(Pick(int(steps.size()) - 1));
        if (b >= a) ++b;
        auto* connect = editor->findChild<QToolButton*>("btnCreateConnect");
        // Pressed already, the click would let the tool go instead.
        if (!connect || !connect->isVisible() || !connect->isEnabled() || connect->isChecked()) break;
        Log("meant: workflow: connect \"" + S(steps[a].name) + "\" to \"" + S(steps[b].name) + "\"");
        select(steps[a]);
        XClickHolding(steps[b].rect.center(), "shift");
        XClick(connect->mapToGlobal(connect->rect().center()));
        drawing_ = {S(steps[a].name), S(steps[b].name)};
        lineMid_ = (steps[a].rect.center() + steps[b].rect.center()) / 2;
        return true;
      }
      case 8:
        if (drawn_.empty()) break;
        Log("meant: workflow: double click the connection just drawn for its dialog");
        XClick(lineMid_, 1, 2);
        return true;
      case 9: {
        QWidget* save = ButtonIn(editor, "保存");
        if (!save) break;
        flowMind_ = false;
        ClickMeant(save, "workflow");
        return true;
      }
    }
    expectInput_ = false;
    return flowTasks_.empty() ? (flowMind_ = false) : FlowMeant(modal);
  }

  // Two steps selected, the connection tool joins them and lets itself go: a tool still
  // pressed joined nothing (the second step did not join the selection).
  void ConfirmDrawn(QWidget* editor) {
    if (drawing_.first.empty()) return;
    auto* connect = editor ? editor->findChild<QToolButton*>("btnCreateConnect") : nullptr;
    if (connect && !connect->isChecked()) drawn_.push_back(drawing_);
    else Say("note the connection of \"" + drawing_.first + "\" to \"" + drawing_.second + "\" was not made: not compared");
    drawing_ = {};
  }

  // A few letters added at the end of a box's text.
  void AddText(QWidget* box, const char* letter, const char* toEnd, const std::string& where) {
    const std::string more = letter + std::to_string(done_ + 1);
    Log("meant: workflow: add \"" + more + "\" to " + where);
    XClick(box->mapToGlobal(box->rect().center()));
    XKey(toEnd);
    XType(QString::fromStdString(more));
  }

  // A dialog of the workflow editor: its text changed where it has one, an entry picked
  // where it lists some, then OK.
  bool FlowDialogMeant(QWidget* dialog) {
    ++dialogSteps_;
    expectInput_ = true;
    if (auto* memo = dialog->findChild<QPlainTextEdit*>(); memo && memo->isVisible() && dialogSteps_ == 1) {
      AddText(memo, "t", "ctrl+End", "the text in " + S(Describe(dialog)));
      return true;
    }
    if (dialogSteps_ <= 2) {
      std::vector<Target> items;
      for (const Target& t : VisibleTargets(true, rng_))
        if (t.item && t.widget && t.widget->window() == dialog) items.push_back(t);
      if (!items.empty()) {
        const Target& t = items[size_t(Pick(int(items.size())))];
        const QPoint g = t.widget->mapToGlobal(t.at);
        Log("meant: workflow: pick " + S(t.what) + " in " + S(Describe(dialog)));
        XClick(g);
        if (QWidget* add = ButtonIn(dialog, ">")) XClick(add->mapToGlobal(add->rect().center()));
        return true;
      }
    }
    for (const char* ok : {"OK", "确定", "确 定"})
      if (QWidget* b = ButtonIn(dialog, ok)) {
        ClickMeant(b, "workflow dialog");
        return true;
      }
    if (dialogSteps_ > 4) {
      Log("meant: workflow: close " + S(Describe(dialog)));
      expectInput_ = false;
      XCloseWindow(dialog);
      return true;
    }
    return false;
  }

  void CompareFlow() {
    FlowSeen seen = flowSent_.flowName.empty() ? flowLooked_ : flowSent_;
    flowSent_ = {};
    if (seen.flowName.empty()) return;
    ConfirmDrawn(VisibleTop("TFFlowEditor"));
    seen.drawn = std::move(drawn_);
    drawn_.clear();
    Say("note compared workflow \"" + seen.flowName + "\" (" + std::to_string(seen.steps.size()) + " steps, " +
        std::to_string(seen.drawn.size()) + " connections drawn)");
    const std::vector<std::string> diff = FlowDifferences(o_.db, seen);
    if (!diff.empty()) Fail("after the popup said the workflow was saved, " + Lines(diff));
  }

  // The popups that say a sign-off, a Word document or a workflow was kept.
  void IntentPopup(const QString& fresh) {
    if (fresh.contains(QString::fromUtf8("签批意见已保存"))) CompareSignOff();
    if (fresh.contains(QString::fromUtf8("附件保存成功"))) CompareBody();
    if (fresh.contains(QString::fromUtf8("流程保存成功"))) CompareFlow();
  }

  // A click that sends what the person meant: its content as it was clicked.
  void IntentClick(QWidget* w) {
    if (w->objectName() == QLatin1String("btnOK") && IsA(w, "TFlatButtonBase")) RememberSignOff(w);
    if (SendWhat(w) == "workflow save") flowSent_ = SeeFlow(w->window());
  }

  // The workflow editor in front, as last seen: what a save from its menu or its closing
  // question sends.
  void IntentLook() {
    QWidget* editor = VisibleTop("TFFlowEditor");
    if (editor && QApplication::activeModalWidget() == editor) flowLooked_ = SeeFlow(editor);
    BodyLook();
  }

  // ---- oracles ----

  FormSnapshot Snapshot(QWidget* form) const {
    FormSnapshot s;
    s.valid = true;
    s.recordId = AccessibleText(form, QAccessible::Description).trimmed();
    for (const FieldCell& c : FieldCells(form))
      if (!c.unread) s.shown.emplace(c.name, c.value);
    for (QWidget* w : form->findChildren<QWidget*>())
      if (w->isVisible() && IsA(w, "TAttachmentList")) s.attachments = Listed(ListIn(w));
    for (QWidget* w : form->findChildren<QWidget*>()) {
      if (!w->isVisible() || !IsA(w, "TCustomFlowChart")) continue;
      for (const Seen& step : AccessibleChildren(w, 200))
        if (step.role == QAccessible::ListItem && step.state.checked) s.curStep = step.name;
    }
    return s;
  }

  void Look() {
    lookedAt_ = NowMs();
    QWidget* form = VisibleTop("TfrmTemplate");
    if (!form && form_ && snap_.valid) FormGone();
    if (form && form != form_) {
      if (form_ && snap_.valid) FormGone();
      form_ = form;
      snap_ = {};
    }
    if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) askedSinceClose_ = true;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && !IsQuestion(box)) {
        lastBoxAt_ = lookedAt_;
        // "Nothing changed" tells no reason why a save that did not take is not sent again.
        if (box->text().contains(QString::fromUtf8("没有进行任何资料修改"))) nothingBoxAt_ = lookedAt_;
      }
    if (form_ && form_->isVisible()) {
      snap_ = Snapshot(form_);
      if (!snap_.recordId.isEmpty() && !baselined_.count(snap_.recordId)) Baseline();
    }
    IntentLook();
    if (QWidget* m = VisibleTop("TfrmSetLoadFiles")) {
      manager_ = {NowMs(), Listed(ListIn(m))};
      for (Intended& i : intended_) i.listed = i.listed || manager_.files.count(i.name);
    } else {
      intended_.clear();  // what was not saved with the manager is the person's to lose
    }
  }

  // A document as it opens shows what the server holds. A field whose cell shows it in
  // another form (a date, a number, a list's text for its code) is not compared later;
  // one that shows another value fails the walk.
  void Baseline() {
    baselined_.insert(snap_.recordId);
    for (const auto& [name, shown] : snap_.shown) openedShown_[{snap_.recordId, name}] = shown;
    const std::optional<StoredDocument> stored = ReadDocument(o_.db, Utf8ToCp936(S(snap_.recordId)));
    if (!stored) return;
    // Two at one document: the other may have saved it after this one read it, so what it
    // held as this host began may be what this one shows.
    const auto began = atStart_.find(snap_.recordId);
    std::string diff;
    for (const auto& [name, shown] : snap_.shown) {
      QString held = Held(*stored, name);
      if (Squeezed(shown) == Squeezed(held)) continue;
      if (began != atStart_.end()) {
        const QString before = Held(began->second, name);
        if (Squeezed(shown) == Squeezed(before) || SameValue(shown, before) > 0) continue;
        if (before.trimmed().isEmpty()) held = before;
      }
      // A default the server never stored; day zero of the calendar is the empty date,
      // which a date cell shows blank.
      if (held.trimmed().isEmpty() ||
          (shown.trimmed().isEmpty() && held.trimmed().startsWith(QLatin1String("1899-12-30")))) {
        unstored_.insert({snap_.recordId, name});
        continue;
      }
      const int same = SameValue(shown, held);
      if (same > 0) continue;
      // Neither a date, a number, a check box nor a list's text for its code: another value.
      if (same < 0 || !ShownAs(shown, held)) {
        diff += "\n  field " + S(name) + " shows \"" + S(shown) + "\", the server holds \"" + S(held) + "\"";
        continue;
      }
      formatted_.insert({snap_.recordId, name});
      Say("note as it opens, " + S(snap_.recordId) + " field " + S(name) + " shows \"" + S(shown) + "\", the server holds \"" +
          S(held) + "\"; not compared");
    }
    if (!diff.empty()) Fail("the form of " + S(snap_.recordId) + " opens showing other than the server holds:" + diff);
  }

  // The cell shows the held value in a form of its own: both a date or a number in some
  // format, a check box's painted box for its "True" or "False", a list's text for its code,
  // a formula's result.
  bool ShownAs(const QString& shown, const QString& held) const {
    const QString h = held.trimmed();
    if (h.startsWith('=')) return true;  // a formula shows what it computes
    if (h == QLatin1String("True") || h == QLatin1String("False")) return shown.trimmed().isEmpty() || LooksFormatted(shown);
    return (LooksFormatted(shown) && LooksFormatted(held)) || ListShows(o_.db, S(held), S(shown));
  }

  // Numbers and dates are values, whatever their format: "361.5" and "361.50" agree, as
  // do "2026-1-5" and "2026年01月05日". 1: the same value, -1: another, 0: not both one kind.
  static int SameValue(const QString& a, const QString& b) {
    static const QRegularExpression date(QString::fromUtf8("^(\\d{4})[-/.年](\\d{1,2})[-/.月](\\d{1,2})日?$"));
    const QRegularExpressionMatch da = date.match(Squeezed(a)), db = date.match(Squeezed(b));
    if (da.hasMatch() && db.hasMatch()) {
      for (int i = 1; i <= 3; ++i)
        if (da.captured(i).toInt() != db.captured(i).toInt()) return -1;
      return 1;
    }
    auto number = [](QString s, bool& ok) {
      s = Squeezed(s);
      s.remove(',');
      s.remove(QString::fromUtf8("¥"));
      return s.toDouble(&ok);
    };
    bool okA = false, okB = false;
    const double x = number(a, okA), y = number(b, okB);
    if (!okA || !okB) return 0;
    // A cell may show fewer decimals than it holds: agreement to the coarser of the two.
    auto decimals = [](const QString& s) {
      const qsizetype dot = s.lastIndexOf('.');
      return dot < 0 ? 0 : int(Squeezed(s).size() - Squeezed(s).lastIndexOf('.') - 1);
    };
    const double step = std::pow(10.0, -std::min(decimals(a), decimals(b)));
    return std::abs(x - y) <= step / 2 + 1e-9 * std::max({1.0, std::abs(x), std::abs(y)}) ? 1 : -1;
  }

  // A field's cell is named by its hint, and a saved value carries that hint after a bar.
  static QString Held(const StoredDocument& d, const QString& field) {
    const auto it = d.fields.find(Utf8ToCp936(S(field)));
    if (it == d.fields.end()) return {};
    QString held = Q(it->second);
    if (held.endsWith("|" + field)) held.chop(field.size() + 1);
    return held;
  }

  // The fields whose cell shows other than the server holds.
  std::string Differences(const FormSnapshot& s, const StoredDocument& stored, const char* shows) const {
    std::string diff;
    for (const auto& [name, shown] : s.shown) {
      const QString held = Held(stored, name);
      if (Squeezed(shown) == Squeezed(held)) continue;
      // With another host at the document, a field this form left as it opened may hold
      // the other's save.
      if (const auto was = openedShown_.find({s.recordId, name});
          o_.shared && was != openedShown_.end() && Squeezed(was->second) == Squeezed(shown))
        continue;
      // A default the server never stored, still as it opened; one the person changed
      // must be stored.
      if (const auto was = openedShown_.find({s.recordId, name}); held.trimmed().isEmpty() &&
          unstored_.count({s.recordId, name}) && (was == openedShown_.end() || Squeezed(was->second) == Squeezed(shown)))
        continue;
      const int same = SameValue(shown, held);
      if (same > 0) continue;
      if (same == 0 && (formatted_.count({s.recordId, name}) || LooksFormatted(shown) || LooksFormatted(held))) continue;
      diff += "\n  field " + S(name) + " " + shows + " \"" + S(shown) + "\", the server holds \"" + S(held) + "\"";
    }
    return diff;
  }

  // The form went away. Closing a form with changes asks first; one that went without a
  // question must have had nothing the server lacks.
  void FormGone() {
    const FormSnapshot s = std::move(snap_);
    snap_ = {};
    form_ = nullptr;
    // Another host's saves to the same document are not this form's to show. A new
    // document asks like a stored one once typed into; what the form filled in itself
    // and the server never held is left out of the comparison.
    if (askedSinceClose_ || s.recordId.isEmpty() || o_.shared) return;
    const std::optional<StoredDocument> stored = ReadDocument(o_.db, Utf8ToCp936(S(s.recordId)));
    if (!stored) return;
    // Destroying it, the person gave up what it held.
    if (stored->destroyed) {
      Say("note the form of " + S(s.recordId) + " closed as its document was destroyed; not compared");
      return;
    }
    Say("note the form of " + S(s.recordId) + " closed without a question; comparing");
    const std::string diff = Differences(s, *stored, "shows");
    if (!diff.empty())
      Fail("a change was lost: the form of " + S(s.recordId) + " closed without a question, and" + diff);
  }

  void CheckSaves() {
    QWidget* popup = VisibleTop("Tfrm_popup");
    const QString text = popup ? AccessibleText(popup, QAccessible::Name) : QString();
    QString fresh = text;
    if (popup == lastPopup_ && text.startsWith(lastText_)) fresh = text.mid(lastText_.size());
    lastPopup_ = popup;
    lastText_ = text;
    fresh = Squeezed(fresh);
    if (fresh.isEmpty()) return;
    lastPopupAt_ = NowMs();
    Say("note popup " + S(fresh));
    const bool saved = fresh.contains(QString::fromUtf8("文件暂存成功"));
    const bool sent = fresh.contains(QString::fromUtf8("文件操作成功"));
    if (saved || sent) VerifyFields(saved ? "saved" : "sent");
    // The Word editor's body saves say the same; only a save from the manager lists files.
    if (fresh.contains(QString::fromUtf8("附件保存成功")) && NowMs() - manager_.at < 2000 && snap_.valid &&
        !snap_.recordId.isEmpty()) {
      Say("note the walk says the attachments were saved; comparing " + S(snap_.recordId));
      attachmentsDue_ = NowMs() + 1500;
      attachmentsOf_ = snap_.recordId;
    }
    if (attachmentsDue_) VerifyAttachments();
    IntentPopup(fresh);
  }

  // The manager fills its list as the reply comes: it gets a moment to show what it saved.
  void VerifyAttachments() {
    if (QWidget* m = VisibleTop("TfrmSetLoadFiles")) {
      manager_ = {NowMs(), Listed(ListIn(m))};
      // The reply may come before a look saw the pick listed.
      for (Intended& i : intended_) i.listed = i.listed || manager_.files.count(i.name);
    }
    FileSizes held;
    for (const auto& [name, size] : ReadAttachments(o_.db, Utf8ToCp936(S(attachmentsOf_)))) held[BaseName(Q(name))] = size;
    // Another host at the document may have added files this manager does not list.
    bool same = o_.shared ? held.size() >= manager_.files.size() : held.size() == manager_.files.size();
    for (const auto& [name, size] : manager_.files) {
      const auto it = held.find(name);
      same = same && it != held.end() && (size < 0 || size == it->second);
    }
    if (same) CompareContents();
    if (same || NowMs() < attachmentsDue_) {
      if (same) attachmentsDue_ = 0;
      return;
    }
    Fail("after the walk said the attachments were saved, the manager lists " + FileList(manager_.files) +
         " and the server holds " + FileList(held) + " for " + S(attachmentsOf_));
  }

  // What the person attached is stored byte for byte: by content, same names kept apart.
  void CompareContents() {
    std::vector<StoredFile> held = ReadAttachmentFiles(o_.db, Utf8ToCp936(S(attachmentsOf_)));
    std::string missing;
    int compared = 0;
    for (const Intended& i : intended_) {
      if (!i.listed) continue;
      ++compared;
      const auto it = std::find_if(held.begin(), held.end(), [&](const StoredFile& f) {
        return BaseName(Q(f.name)) == i.name && (i.opened || f.sha256 == i.sha256);
      });
      if (it == held.end()) {
        missing += "\n  " + S(i.name) + " (sha256 " + i.sha256.substr(0, 12) + ")";
        continue;
      }
      held.erase(it);  // one stored file answers for one attached
      // Whoever else saves this record's files later must leave this one there.
      Say("note kept " + S(attachmentsOf_) + " " + i.sha256 + " " + S(i.name));
      attachMind_ = false;
    }
    intended_.clear();
    if (!compared) return;
    Say("note compared " + std::to_string(compared) + " attached files by content for " + S(attachmentsOf_));
    if (!missing.empty())
      Fail("after the walk said the attachments were saved, the server does not hold what the person attached to " +
           S(attachmentsOf_) + ":" + missing);
  }

  void VerifyFields(const char* how) {
    if (form_ && form_->isVisible()) snap_ = Snapshot(form_);
    if (!snap_.valid || snap_.recordId.isEmpty()) return;
    const std::optional<StoredDocument> stored = ReadDocument(o_.db, Utf8ToCp936(S(snap_.recordId)));
    Say(std::string("note the walk says the document was ") + how + "; comparing " + S(snap_.recordId));
    if (!stored) Fail(std::string("the walk said ") + how + " but the server holds no document " + S(snap_.recordId));
    std::string diff = Differences(snap_, *stored, "shows");
    // The reply may be to an earlier save, sent before the person typed on (while the
    // server was frozen): what the form showed at one of the sends answers for it.
    for (size_t i = 0; !diff.empty() && i < sentShown_.size(); ++i)
      if (sentShown_[i].recordId == snap_.recordId && Differences(sentShown_[i], *stored, "showed").empty()) {
        diff.clear();
        sentShown_.erase(sentShown_.begin(), sentShown_.begin() + std::ptrdiff_t(i) + 1);
      }
    // A temporary save keeps the document at the step the form shows.
    const QString heldStep = Q(stored->currentStepName);
    if (std::string(how) == "saved" && !snap_.curStep.isEmpty() && !heldStep.isEmpty() && snap_.curStep != heldStep)
      diff += "\n  step: the form marks step \"" + S(snap_.curStep) + "\", the server holds step \"" + S(heldStep) + "\"";
    if (!diff.empty())
      Fail(std::string("after the walk said ") + how + ", the form and the server differ for " + S(snap_.recordId) + diff);
  }

  const SessionOptions o_;
  std::mt19937_64 rng_;
  Watchdog& watchdog_;  // never freed: its thread watches the host to its end
  int64_t leaving_ = 0;  // when the person began to leave
  bool quitAsked_ = false;
  QTimer timer_;
  std::vector<QString> files_;
  QString home_;  // the host's HOME: the one folder its file dialogs may show
  int64_t startedAt_ = 0;
  int64_t nextAt_ = 0;
  int64_t lookedAt_ = 0;
  int done_ = 0;
  bool busy_ = false;
  bool ready_ = false;
  bool serverUp_ = true;
  bool askedSinceClose_ = false;
  QPointer<QWidget> form_;
  FormSnapshot snap_;
  ManagerSnapshot manager_;
  int64_t attachmentsDue_ = 0;  // a comparison of the manager's list is pending until then
  QString attachmentsOf_;
  std::set<QString> baselined_;
  std::set<std::pair<QString, QString>> formatted_;  // record id, field name
  std::set<std::pair<QString, QString>> unstored_;   // defaults shown before the server held the field
  std::map<QString, StoredDocument> atStart_;        // with two at one document: what the server held as this host began
  QPointer<QWidget> lastPopup_;
  QString lastText_;
  RequestWatch watch_;
  int64_t lastPopupAt_ = 0;  // fresh text in the popup
  int64_t lastBoxAt_ = 0;    // a box that tells something up
  int64_t nothingBoxAt_ = 0;  // one that says nothing was changed
  int64_t greyedSince_ = 0;
  int64_t actedAt_ = 0;
  int64_t inputsAtAct_ = 0;
  bool expectInput_ = false;
  int64_t inputCapMs_ = 5000;
  std::set<std::string> picked_;  // kinds of file picked in this session
  std::vector<int> frozen_;       // office workers stopped with SIGSTOP
  struct Intended {
    QString name;
    std::string sha256;
    bool listed = false;  // the manager showed it: the pick was taken
    bool opened = false;  // opened from the manager before its save: the person may have edited it
  };
  std::vector<Intended> intended_;  // files picked for the manager, not compared yet
  // A question about saving the person backed out of, and the window it asked about.
  struct Stay {
    QPointer<QMessageBox> box;
    QPointer<QWidget> window;
    std::string what, question, how;
    int64_t goneAt = 0;
  };
  Stay stay_;
  bool attachMind_ = false;  // the person came to add a file to the document
  int attachTries_ = 0;
  struct Retry {
    int64_t at = 0;
    int started = 0;  // requests started before it
    int64_t inputs = 0;  // input arrived before it
  };
  Retry retry_;  // a save pressed again after one that did not take
  int64_t saveFailedAt_ = 0;
  int saveFailedMind_ = 0;  // a save did not take: 1 the person closes the form, 2 saves again
  bool sendMind_ = false;  // the person came to send the document on
  bool routeMind_ = false;  // ... and nothing else: a visit that moves a document along
  bool fileMind_ = false;   // the person came to number, distribute and file the document
  std::set<std::string> filed_;  // of those, the commands clicked
  bool sendPressed_ = false;  // 提交 or 暂存 pressed on purpose
  int pickTries_ = 0;
  bool readMind_ = false;  // the person came to read the document's files
  int readTries_ = 0;
  int sendFills_ = 0;
  std::set<std::string> openedKinds_;  // kinds of attachment opened in this session
  std::vector<FormSnapshot> sentShown_;  // the form as each save was clicked, oldest first
  std::map<std::pair<QString, QString>, QString> openedShown_;  // record id, field: as it opened
  // What the person meant in a sign-off, a Word document, the workflow editor.
  bool signMind_ = false, wordMind_ = false, flowMind_ = false;
  bool scanMind_ = false;  // in the scan form: a scan and the image's dialogs
  size_t scanStep_ = 0;
  int scanTitleClicks_ = 0;
  int signTries_ = 0, wordTries_ = 0, flowTries_ = 0, dialogSteps_ = 0;
  bool signTyped_ = false;
  struct SignSent {
    QString recordId, text;
    int64_t at = 0;
  };
  SignSent signSent_;
  std::vector<std::string> bodyWords_;  // typed into the Word document, not saved yet
  QString bodyOf_;
  bool bodySaved_ = false;  // the person saved what they typed
  int64_t wordSeenAt_ = 0;
  QString lastOpened_;  // the attachment last opened
  std::vector<int> flowTasks_;
  const char* unionItem_ = "";
  std::vector<std::pair<std::string, std::string>> drawn_;  // connections drawn, not saved yet
  std::pair<std::string, std::string> drawing_;  // the last one, until the tool shows it was made
  QPoint lineMid_;
  FlowSeen flowSent_, flowLooked_;
};

std::string Take(const char* name) {
  const char* v = std::getenv(name);
  std::string s = v ? v : "";
  unsetenv(name);
  return s;
}

}  // namespace

QObject* StartSession() {
  SessionOptions o;
  const std::string fds = Take("TARVO_WALK_FDS");
  o.seed = std::strtoull(Take("TARVO_WALK_SEED").c_str(), nullptr, 10);
  o.db = Take("TARVO_WALK_DB");
  o.actions = std::atoi(Take("TARVO_WALK_ACTIONS").c_str());
  o.untilMs = std::strtoll(Take("TARVO_WALK_UNTIL").c_str(), nullptr, 10);
  o.files = Take("TARVO_WALK_FILES");
  o.hangSeconds = std::max(1, std::atoi(Take("TARVO_WALK_HANG").c_str()));
  o.opensNew = Take("TARVO_WALK_NEW") == "1";
  o.mind = Take("TARVO_WALK_MIND");
  o.shared = Take("TARVO_WALK_SHARED") == "1";
  ShareScreen(o.shared);
  // Whatever the host starts (the office worker, the web engine) is no walker.
  unsetenv("QT_QPA_GENERIC_PLUGINS");
  if (std::sscanf(fds.c_str(), "%d,%d", &o.sayFd, &o.answerFd) != 2 || o.sayFd < 0 || o.answerFd < 0) {
    std::fprintf(stderr, "tarvowalk: no pipes to the walk in TARVO_WALK_FDS\n");
    return nullptr;
  }
  // Nor do they hold the walk's pipes open.
  fcntl(o.sayFd, F_SETFD, FD_CLOEXEC);
  fcntl(o.answerFd, F_SETFD, FD_CLOEXEC);
  sayFd = o.sayFd;
  answerFd = o.answerFd;
  Say("note the walker is in the host, pid " + std::to_string(getpid()));
  return new Walker(o);
}

}  // namespace walk
