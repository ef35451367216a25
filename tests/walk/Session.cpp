#include "Session.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QOpenGLContext>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "Screen.h"
#include "ServerState.h"
#include "e2e/ControlFactory.h"
#include "e2e/E2eSupport.h"
#include "control/attachments/AttachmentList.h"
#include "control/attachments/frm_SetLoadFiles.h"
#include "control/form/TemplateFields.h"
#include "control/form/frm_Template.h"
#include "control/session/frmPopup.h"
#include "grid/ui/XLGridView.h"
#include "platform/QtText.h"
#include "platform/com/ComServer.h"
#include "uikit/QtTranslations.h"

// Qt's own, exported but not in its public headers.
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace walk {
namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
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
  explicit Watchdog(int seconds) : limitMs_(seconds * 1000) {
    Beat();
    thread_ = std::thread([this] { Watch(); });
    thread_.detach();  // the session ends with _exit
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
      _exit(4);
    }
  }
  const int64_t limitMs_;
  std::atomic<int64_t> beat_{0};
  std::atomic<bool> paused_{false};
  std::mutex mutex_;
  std::string last_;
  std::thread thread_;
};

// What the open form held at its last look: its record, its fields as last committed
// (what a save sent), its attachments and its step.
struct FormSnapshot {
  bool valid = false;
  AnsiString recordId;
  std::map<AnsiString, AnsiString> fields;  // each field's cell in the form a save sends it
  std::map<AnsiString, AnsiString> shown;   // and as the cell shows it
  std::map<AnsiString, int32_t> attachments;
  int curStep = -1;
};

// The attachment manager's list when last seen, and when.
struct ManagerSnapshot {
  int64_t at = 0;
  std::map<AnsiString, int32_t> files;
};

std::map<AnsiString, int32_t> Listed(const TCopy2Files& files) {
  std::map<AnsiString, int32_t> out;
  for (int i = 0; i < files.SlotCount(); ++i) {
    const TCopyFileEntry& e = files.Slot(i);
    if (e.state != fsRemoved && e.state != fsEmpty) out[e.name] = e.size;
  }
  return out;
}

std::string FileList(const std::map<AnsiString, int32_t>& files) {
  std::string s;
  for (const auto& [name, size] : files) s += (s.empty() ? "" : ", ") + Cp936ToUtf8(name) + " (" + std::to_string(size) + ")";
  return s.empty() ? "none" : s;
}

std::string U8(const AnsiString& a) { return Cp936ToUtf8(a); }

QString Squeezed(QString s) {
  s.remove(QRegularExpression("\\s"));
  return s;
}

const char* const kAsciiWords[] = {"hello", "42", "2026-12-07", "abc def", "x", "OK", "3.5", "-1", "a,b;c|d"};
const char* const kChineseWords[] = {"同意", "请假三天", "测试", "张三", "办公室", "已阅", "不同意，请补充材料"};
const char* const kKeys[] = {"Return", "Escape", "Tab", "ISO_Left_Tab", "Up", "Down", "Left", "Right",
                             "space",  "BackSpace", "Delete", "Home", "End", "Page_Down", "F2"};

class Walker {
 public:
  Walker(const SessionOptions& o, QWidget* page, PageDriver* driver)
      : o_(o), page_(page), driver_(driver), rng_(o.seed), watchdog_(o.hangSeconds) {
    const QDir files(QString::fromStdString(o.files));
    for (const QString& f : files.entryList(QDir::Files)) files_.push_back(files.filePath(f));
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  }
  void Start() {
    nextAt_ = NowMs() + 300;
    timer_.start(30);
  }

 private:
  int Pick(int n) { return n <= 0 ? 0 : int(rng_() % uint64_t(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  void Tick() {
    watchdog_.Beat();
    Look();
    CheckSaves();
    if (busy_ || NowMs() < nextAt_) return;
    busy_ = true;
    if (done_ >= o_.actions || NowMs() >= o_.untilMs) End();
    Act();
    busy_ = false;
    nextAt_ = NowMs() + 120 + Pick(300);
  }

  void Log(const std::string& what) {
    ++done_;
    const std::string line = "act " + std::to_string(done_) + " " + what;
    watchdog_.SetLast(line);
    Say(line);
  }

  void End() {
    if (!serverUp_) Ask("server-start");
    Say("end " + std::to_string(done_));
    std::fflush(stderr);
    _exit(0);
  }

  bool Ask(const std::string& what) {
    watchdog_.Pause(true);
    Say("ask " + what);
    char buf[64] = {};
    const bool ok = std::fgets(buf, sizeof buf, stdin) && std::strncmp(buf, "ok", 2) == 0;
    watchdog_.Pause(false);
    if (!ok) Fail("the walk did not answer " + what);
    if (what == "server-stop") serverUp_ = false;
    if (what == "server-start") serverUp_ = true;
    return ok;
  }

  // Windows other than the page and the passing popup.
  bool AnyWindowBesidesPage() const {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w != page_ && !qobject_cast<Tfrm_popup*>(w) && !qobject_cast<QMenu*>(w)) return true;
    return false;
  }

  void Act() {
    QWidget* modal = QApplication::activeModalWidget();
    if (qobject_cast<QFileDialog*>(modal) && !files_.empty() && Chance(50)) {
      const QString path = files_[size_t(Pick(int(files_.size())))];
      Log("pick file " + path.toStdString() + " in " + Describe(modal).toStdString());
      // Into the file name box, as a person who knows the path types it.
      if (auto* name = modal->findChild<QLineEdit*>("fileNameEdit"); name && name->isVisible())
        XClick(name->mapToGlobal(name->rect().center()));
      XKey("ctrl+a");
      XType(path);
      XKey("Return");
      return;
    }
    if (!AnyWindowBesidesPage() && Chance(40)) {
      // The page again, as a person reloads it: the document asked for anew.
      Log("ask the page for the document again");
      std::vector<std::string> args = o_.open;
      driver_->Call("GetStream", args);
      return;
    }
    const int roll = Pick(1000);
    if (!serverUp_ && roll < 80) {
      Log("start the server again");
      Ask("server-start");
      return;
    }
    if (roll < 470) return Click(1, 1);
    if (roll < 520) return Click(1, 2);
    if (roll < 550) return Click(3, 1);
    if (roll < 620) {
      const std::string w = kAsciiWords[Pick(std::size(kAsciiWords))];
      const std::string text = Chance(50) ? w : "w" + std::to_string(o_.seed % 1000) + "." + std::to_string(done_);
      Log("type \"" + text + "\" into " + Describe(QApplication::focusWidget()).toStdString());
      XType(QString::fromStdString(text));
      return;
    }
    if (roll < 670) {
      const char* w = kChineseWords[Pick(std::size(kChineseWords))];
      Log(std::string("type \"") + w + "\" into " + Describe(QApplication::focusWidget()).toStdString());
      XType(QString::fromUtf8(w));
      return;
    }
    if (roll < 780) return FillField();
    if (roll < 900) {
      const char* key = kKeys[Pick(std::size(kKeys))];
      Log(std::string("key ") + key + " in " + Describe(QApplication::focusWidget()).toStdString());
      XKey(key);
      return;
    }
    if (roll < 940) return CloseWindow();
    if (roll < 965 && serverUp_) {
      Log("stop the server");
      Ask("server-stop");
      return;
    }
    if (roll < 975) return KillOfficeWorker();
    Log("wait");
    nextAt_ = NowMs() + 800 + Pick(1500);
  }

  void Click(int button, int count) {
    std::vector<Target> targets = VisibleTargets(!Chance(10), rng_);
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
    const Target& t = targets[chosen];
    if (!t.widget) return;
    // A list's entries are opened the way people open files: with a double click.
    if (button == 1 && count == 1 && t.what.startsWith("item ") && Chance(30)) count = 2;
    const QPoint g = t.widget->mapToGlobal(t.at);
    const char* how = button == 3 ? "right click" : count == 2 ? "double click" : "click";
    Log(std::string(how) + " " + t.what.toStdString() + " in " + Describe(t.widget->window()).toStdString() + " at " +
        std::to_string(g.x()) + "," + std::to_string(g.y()));
    XClick(g, button, count);
  }

  // What a person mostly does in a form: a click on a field, a word, Enter.
  void FillField() {
    TfrmTemplate* f = form_;
    if (!f || !f->isVisible() || QApplication::activeModalWidget() != f || !f->Grid()) {
      Log("key Escape (no form to fill in)");
      XKey("Escape");
      return;
    }
    TXLView* pane = f->Grid()->View(sClient);
    std::vector<const TFieldEntry*> fields;
    for (const TFieldEntry& e : f->Doc().Fields)
      if (!e.name.empty() && pane && pane->visibleRegion().contains(pane->CellRect(TPoint{e.col, e.row}).center()))
        fields.push_back(&e);
    if (fields.empty()) {
      Log("key Tab (no field in sight)");
      XKey("Tab");
      return;
    }
    const TFieldEntry& e = *fields[size_t(Pick(int(fields.size())))];
    const std::string text = Chance(40) ? std::string(kChineseWords[Pick(std::size(kChineseWords))])
                                        : "w" + std::to_string(o_.seed % 1000) + "." + std::to_string(done_ + 1);
    const QPoint g = pane->mapToGlobal(pane->CellRect(TPoint{e.col, e.row}).center());
    Log("fill field " + U8(e.name) + " with \"" + text + "\" at " + std::to_string(g.x()) + "," + std::to_string(g.y()));
    XClick(g);
    XType(QString::fromStdString(text));
    XKey("Return");
  }

  void CloseWindow() {
    std::vector<QWidget*> windows;
    for (QWidget* w : VisibleWindows())
      if (w != page_ && !qobject_cast<QMenu*>(w)) windows.push_back(w);
    QWidget* w = QApplication::activeModalWidget();
    if (!w || Chance(20)) w = windows.empty() ? nullptr : windows[size_t(Pick(int(windows.size())))];
    if (!w) {
      Log("key Escape (no window to close)");
      XKey("Escape");
      return;
    }
    Log("close window " + Describe(w).toStdString());
    XCloseWindow(w);
  }

  // The office worker is this process's child; a person's machine may lose it any time.
  void KillOfficeWorker() {
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
      ::kill(pid, SIGKILL);
      ++killed;
    }
    if (proc) closedir(proc);
    Log(killed ? "kill the office worker" : "wait (no office worker to kill)");
  }

  // ---- oracles ----

  void Look() {
    // A form on its way out may still save (its close asks first): it is followed until
    // it is gone or another one shows.
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = qobject_cast<TfrmTemplate*>(w); f && f->isVisible()) form_ = f;
    TfrmTemplate* form = form_;
    if (!form) return;
    FormSnapshot s;
    s.valid = true;
    s.recordId = form->Doc().Header.Text(dh::RecordId);
    // Read as a save reads them (formulas, combo values, hints), without storing an
    // editor that is still open: only its working copy of the values changes.
    TTemplateFields cells(form->Sheet(), form->Doc(), true);
    cells.CollectFieldValues(false, false);
    for (const TFieldEntry& f : form->Doc().Fields) {
      if (f.name.empty()) continue;
      s.fields[f.name] = f.edited;
      if (TXLCell* c = cells.CellOf(f)) s.shown[f.name] = c->GetDisplayText();
    }
    if (TAttachmentList* list = form->AttachmentList()) s.attachments = Listed(list->Files());
    s.curStep = form->CurStepNo();
    snap_ = std::move(s);
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* m = qobject_cast<TfrmSetLoadFiles*>(w); m && m->isVisible()) manager_ = {NowMs(), Listed(m->Files())};
  }

  void CheckSaves() {
    Tfrm_popup* popup = Tfrm_popup::Current();
    const QString text = popup ? ToQString(popup->MessageTextValue()) : QString();
    QString fresh = text;
    if (popup == lastPopup_ && text.startsWith(lastText_)) fresh = text.mid(lastText_.size());
    lastPopup_ = popup;
    lastText_ = text;
    fresh = Squeezed(fresh);
    if (fresh.isEmpty()) return;
    Say("note popup " + fresh.toStdString());
    const bool saved = fresh.contains(QString::fromUtf8("文件暂存成功"));
    const bool sent = fresh.contains(QString::fromUtf8("文件操作成功"));
    if (saved || sent) VerifyFields(saved ? "saved" : "sent");
    // The Word editor's body saves say the same; only a save from the manager lists files.
    if (fresh.contains(QString::fromUtf8("附件保存成功")) && NowMs() - manager_.at < 2000) VerifyAttachments();
  }

  void VerifyAttachments() {
    if (!snap_.valid || snap_.recordId.empty()) return;
    Say("note the walk says the attachments were saved; comparing " + U8(snap_.recordId));
    const std::map<AnsiString, int32_t> held = ReadAttachments(o_.db, snap_.recordId);
    if (held != manager_.files)
      Fail("after the walk said the attachments were saved, the manager lists " + FileList(manager_.files) +
           " and the server holds " + FileList(held) + " for " + U8(snap_.recordId));
  }

  void VerifyFields(const char* how) {
    if (!snap_.valid || snap_.recordId.empty()) return;
    const std::optional<StoredDocument> stored = ReadDocument(o_.db, snap_.recordId);
    Say(std::string("note the walk says the document was ") + how + "; comparing " + U8(snap_.recordId));
    if (!stored) Fail(std::string("the walk said ") + how + " but the server holds no document " + U8(snap_.recordId));
    std::string diff;
    for (const auto& [name, value] : snap_.fields) {
      const auto it = stored->fields.find(name);
      const AnsiString held = it == stored->fields.end() ? AnsiString() : it->second;
      if (held == value) continue;
      diff += "\n  field " + U8(name) + ": the form has \"" + U8(value) + "\" (its cell shows \"" +
              U8(snap_.shown[name]) + "\"), the server holds \"" + U8(held) + "\"";
    }
    // A temporary save keeps the document at the step the form shows.
    if (std::string(how) == "saved" && snap_.curStep > 0 && stored->currentStep != snap_.curStep)
      diff += "\n  step: the form is at step " + std::to_string(snap_.curStep) + ", the server holds step " +
              std::to_string(stored->currentStep);
    if (!diff.empty())
      Fail(std::string("after the walk said ") + how + ", the form and the server differ for " + U8(snap_.recordId) + diff);
  }

  const SessionOptions& o_;
  QWidget* page_;
  PageDriver* driver_;
  std::mt19937_64 rng_;
  Watchdog watchdog_;
  QTimer timer_;
  std::vector<QString> files_;
  int64_t nextAt_ = 0;
  int done_ = 0;
  bool busy_ = false;
  bool serverUp_ = true;
  QPointer<TfrmTemplate> form_;
  FormSnapshot snap_;
  ManagerSnapshot manager_;
  QPointer<Tfrm_popup> lastPopup_;
  QString lastText_;
};

}  // namespace

int RunSession(int& argc, char** argv, const SessionOptions& o) {
  QApplication app(argc, argv);
  // The host loads the control, and the web engine with it, once its application exists:
  // too late for the engine's start-up hook to make the shared GL context. Linked in
  // here, the hook runs first; the walk takes that context away to stand where the host
  // stands.
  if (QOpenGLContext* shared = qt_gl_global_share_context()) {
    qt_gl_set_global_share_context(nullptr);
    delete shared;
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts, false);
  LoadQtChineseTranslations();
  // The page as the host shows it: its window, its help menu, the control below.
  QWidget page;
  page.setWindowTitle("tarvo-host");
  auto* layout = new QVBoxLayout(&page);
  layout->setContentsMargins(0, 0, 0, 0);
  ComPtr<IDispatch> control = CreateControlForPage(&page);
  if (!control) Fail("the control could not be created");
  auto driver = std::make_unique<PageDriver>(control);
  auto* bar = new QMenuBar(&page);
  QMenu* help = bar->addMenu(QString::fromUtf8("帮助(&H)"));
  QObject::connect(help->addAction(QString::fromUtf8("关于本程序(&A)...")), &QAction::triggered,
                   [&] { driver->Call("ShowAbort", {}); });
  layout->setMenuBar(bar);
  if (auto w = control.As<IWidgetObject>(IID_IWidgetObject)) {
    layout->addWidget(w->Widget());
    page.resize(w->Widget()->size().expandedTo(QSize(338, 44)) + QSize(0, bar->sizeHint().height()));
  }
  page.move(0, 0);
  page.show();
  if (!driver->WaitForEvent("OnDoLogin", 1, 20000)) Fail("the control never asked for its login");
  driver->Call("SetServer", {"127.0.0.1", std::to_string(o.port)});
  driver->Call("Login", {o.user});
  if (!driver->WaitForEvent("OnAfterLogin", 1, 20000)) Fail("the login was never answered");
  Say("act 0 log in as " + o.user + " and open " + o.open[1] + " " + o.open[3]);
  driver->Call("GetStream", o.open);
  Walker walker(o, &page, driver.get());
  walker.Start();
  app.exec();
  Say("end");
  std::fflush(stderr);
  _exit(0);
}

}  // namespace walk
