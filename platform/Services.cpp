#include "platform/Services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QMessageBox>
#include <QUrl>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/QtText.h"
#include "platform/Shell.h"

namespace {

// While it lives, the window refuses closes from the window system.
class CloseHeld : public QObject {
 public:
  explicit CloseHeld(QWidget* w) : window_(w ? w->windowHandle() : nullptr) {
    if (window_) window_->installEventFilter(this);
  }
  ~CloseHeld() override {
    if (window_) window_->removeEventFilter(this);
  }
  CloseHeld(const CloseHeld&) = delete;
  CloseHeld& operator=(const CloseHeld&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() != QEvent::Close) return QObject::eventFilter(watched, e);
    e->ignore();
    return true;
  }

 private:
  QPointer<QWindow> window_;
};

std::string Trimmed(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::vector<std::string> SplitBars(const std::string& s) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    size_t bar = s.find('|', pos);
    parts.push_back(s.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
    if (bar == std::string::npos) break;
    pos = bar + 1;
  }
  return parts;
}

MsgResult FirstButton(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok:
    case MsgButtons::OkCancel: return MsgResult::Ok;
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel: return MsgResult::Yes;
    case MsgButtons::RetryCancel: return MsgResult::Retry;
    case MsgButtons::AbortRetryIgnore: return MsgResult::Abort;
  }
  return MsgResult::Ok;
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// A window that has just been shown gets its place from the window manager a
// moment later; a box centred on it before then lands at the screen's corner.
void AwaitPlaced(QWidget* w) {
  if (!w || !w->isVisible()) return;
  QWindow* handle = w->window()->windowHandle();
  if (!handle || handle->isExposed()) return;
  QElapsedTimer clock;
  clock.start();
  while (!handle->isExposed() && clock.elapsed() < 2000)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

class QtPrompt : public IPromptService {
  // Unattended runs (end-to-end tests of the host) record the box and take its first
  // button instead of waiting for a person; without an application there is nobody to
  // ask (and no widget may be made).
  static bool Attended() {
    if (const char* log = std::getenv("TARVO_PROMPT_LOG"); log && *log) return false;
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
  }
  static void Record(const AnsiString& text, const AnsiString& caption, MsgIcon icon, MsgButtons buttons) {
    if (const char* log = std::getenv("TARVO_PROMPT_LOG"); log && *log) {
      if (FILE* f = std::fopen(log, "a")) {
        std::fprintf(f, "prompt caption=%s icon=%d buttons=%d text=%s\n", Cp936ToUtf8(caption).c_str(),
                     static_cast<int>(icon), static_cast<int>(buttons), Escaped(Cp936ToUtf8(text)).c_str());
        std::fclose(f);
      }
      return;
    }
    std::fprintf(stderr, "%s: %s\n", Cp936ToUtf8(caption).c_str(), Cp936ToUtf8(text).c_str());
  }

 public:
  MsgResult MessageBox(const AnsiString& text, const AnsiString& caption, MsgIcon icon, MsgButtons buttons,
                       QWidget* parent) override {
    if (!Attended()) {
      Record(text, caption, icon, buttons);
      return FirstButton(buttons);
    }
    if (!parent) parent = DialogAnchor(nullptr);
    AwaitPlaced(parent);
    QMessageBox box(QtIcon(icon), ToQString(caption), ToQString(NormalizeLineBreaks(text)), QtButtons(buttons),
                    parent);
    return FromQt(box.exec());
  }

  MsgResult AskKeepingWork(const AnsiString& text, const AnsiString& caption, MsgButtons buttons, MsgResult keep,
                           QWidget* parent) override {
    if (!Attended()) {
      Record(text, caption, MsgIcon::Question, buttons);
      return FirstButton(buttons);
    }
    if (!parent) parent = DialogAnchor(nullptr);
    AwaitPlaced(parent);
    QMessageBox box(QMessageBox::Question, ToQString(caption), ToQString(NormalizeLineBreaks(text)),
                    QtButtons(buttons), parent);
    if (QAbstractButton* enter = box.button(ToQt(keep))) box.setDefaultButton(qobject_cast<QPushButton*>(enter));
    // Without a Cancel of its own, Qt takes 否 for Escape and the close box; an unseen
    // Cancel makes both mean "stay".
    QAbstractButton* stay = box.button(QMessageBox::Cancel);
    if (!stay) {
      stay = box.addButton(QMessageBox::Cancel);
      stay->hide();
    }
    box.setEscapeButton(stay);
    // Qt lets the window system's close through to a window whose own close is under way,
    // and takes it: the window would vanish under its question, work and all.
    const CloseHeld held(parent ? parent->window() : nullptr);
    return FromQt(box.exec());
  }

 private:
  static QMessageBox::Icon QtIcon(MsgIcon i) {
    switch (i) {
      case MsgIcon::Information: return QMessageBox::Information;
      case MsgIcon::Warning: return QMessageBox::Warning;
      case MsgIcon::Error: return QMessageBox::Critical;
      case MsgIcon::Question: return QMessageBox::Question;
      case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
  }
  static QMessageBox::StandardButtons QtButtons(MsgButtons b) {
    switch (b) {
      case MsgButtons::Ok: return QMessageBox::Ok;
      case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
      case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
      case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
      case MsgButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
  }
  static QMessageBox::StandardButton ToQt(MsgResult r) {
    switch (r) {
      case MsgResult::Ok: return QMessageBox::Ok;
      case MsgResult::Cancel: return QMessageBox::Cancel;
      case MsgResult::Yes: return QMessageBox::Yes;
      case MsgResult::No: return QMessageBox::No;
      case MsgResult::Retry: return QMessageBox::Retry;
      case MsgResult::Abort: return QMessageBox::Abort;
      case MsgResult::Ignore: return QMessageBox::Ignore;
      case MsgResult::None: break;
    }
    return QMessageBox::NoButton;
  }
  static MsgResult FromQt(int r) {
    switch (r) {
      case QMessageBox::Ok: return MsgResult::Ok;
      case QMessageBox::Cancel: return MsgResult::Cancel;
      case QMessageBox::Yes: return MsgResult::Yes;
      case QMessageBox::No: return MsgResult::No;
      case QMessageBox::Retry: return MsgResult::Retry;
      case QMessageBox::Abort: return MsgResult::Abort;
      case QMessageBox::Ignore: return MsgResult::Ignore;
      default: return MsgResult::Cancel;  // closed with Escape or the close box
    }
  }
};

// Qt's dialog reads every quote in the typed name as the edge of a name in a list
// ("a" "b"), so a file whose name holds a quote could not be chosen. A typed text that
// names an existing file as a whole, or a list of existing files between '"' and '" "',
// is taken as it stands.
class TOpenFileDialog : public QFileDialog {
 public:
  TOpenFileDialog(QWidget* parent, const QString& title, const QString& dir) : QFileDialog(parent, title, dir) {}

  // Connected after the dialog's own handlers, which disable 打开 for such a name.
  void WatchTypedNames() {
    QLineEdit* edit = NameEdit();
    if (!edit) return;
    connect(edit, &QLineEdit::textChanged, this, [this] {
      if (TypedFiles().isEmpty()) return;
      if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
        if (QPushButton* open = box->button(QDialogButtonBox::Open)) open->setEnabled(true);
    });
  }
  QStringList Chosen() const { return chosen_.isEmpty() ? selectedFiles() : chosen_; }

  void accept() override {
    chosen_ = TypedFiles();
    if (chosen_.isEmpty()) {
      QFileDialog::accept();
      return;
    }
    QDialog::accept();
  }

 private:
  QLineEdit* NameEdit() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

  // Empty unless the text holds a quote and names existing files only.
  QStringList TypedFiles() const {
    QLineEdit* edit = NameEdit();
    const QString text = edit ? edit->text() : QString();
    if (!text.contains(u'"')) return {};
    const QDir dir = directory();
    auto existing = [&](const QString& name) {
      const QFileInfo info(dir.absoluteFilePath(name));
      return info.isFile() ? info.absoluteFilePath() : QString();
    };
    if (const QString whole = existing(text); !whole.isEmpty()) return {whole};
    const QString list = text.trimmed();
    if (list.size() < 2 || !list.startsWith(u'"') || !list.endsWith(u'"')) return {};
    QStringList files;
    for (const QString& name : list.mid(1, list.size() - 2).split(QStringLiteral("\" \""))) {
      const QString path = existing(name);
      if (path.isEmpty()) return {};
      files << path;
    }
    if (files.size() > 1 && fileMode() != QFileDialog::ExistingFiles) return {};
    return files;
  }

  QStringList chosen_;
};

class QtFileDialogs : public IFileDialogService {
 public:
  std::vector<std::string> OpenFiles(const FileDialogOptions& o, QWidget* parent) override {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    TOpenFileDialog dlg(parent, ToQString(o.title), QString::fromStdString(o.initialDir));
    Prepare(dlg, o);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(o.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dlg.WatchTypedNames();
    std::vector<std::string> out;
    if (dlg.exec() != QDialog::Accepted) return out;
    for (const QString& f : dlg.Chosen()) out.push_back(f.toStdString());
    return out;
  }
  std::optional<std::string> SaveFile(const FileDialogOptions& o, QWidget* parent) override {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return std::nullopt;
    QFileDialog dlg(parent, ToQString(o.title), QString::fromStdString(o.initialDir));
    Prepare(dlg, o);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    if (!o.overwritePrompt) dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().front().toStdString();
  }

 private:
  static void Prepare(QFileDialog& dlg, const FileDialogOptions& o) {
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    QString filter = QString::fromStdString(ConvertFileFilter(o.filter));
    if (!filter.isEmpty()) {
      QStringList filters = filter.split(QStringLiteral(";;"));
      dlg.setNameFilters(filters);
      if (o.filterIndex >= 1 && o.filterIndex <= filters.size()) dlg.selectNameFilter(filters[o.filterIndex - 1]);
    }
    if (!o.defaultExt.empty()) dlg.setDefaultSuffix(QString::fromStdString(o.defaultExt));
    if (!o.fileName.empty()) dlg.selectFile(QString::fromStdString(o.fileName));
  }
};

class SystemClock : public IClockService {
 public:
  TDateTime Now() override { return ::Now(); }
  uint32_t TickCount() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

struct ServiceSlots {
  std::recursive_mutex m;
  std::unique_ptr<IPromptService> prompt;
  std::unique_ptr<IFileDialogService> files;
  std::unique_ptr<IShellService> shell;
  std::unique_ptr<IClockService> clock;
};

ServiceSlots& R() {
  static ServiceSlots r;
  return r;
}

template <class I, class Q>
I& Get(std::unique_ptr<I>& slot) {
  std::lock_guard lock(R().m);
  if (!slot) slot = std::make_unique<Q>();
  return *slot;
}

template <class I>
std::unique_ptr<I> Swap(std::unique_ptr<I>& slot, std::unique_ptr<I> s) {
  std::lock_guard lock(R().m);
  std::swap(slot, s);
  return s;
}

}  // namespace

std::string ConvertFileFilter(const AnsiString& filter) {
  if (filter.empty()) return {};
  std::vector<std::string> parts = SplitBars(Cp936ToUtf8(filter));
  std::string out;
  for (size_t i = 0; i < parts.size(); i += 2) {
    std::string desc = Trimmed(parts[i]);
    std::string patterns = i + 1 < parts.size() ? Trimmed(parts[i + 1]) : std::string();
    if (desc.empty() && patterns.empty()) continue;  // a trailing bar
    for (char& c : patterns)
      if (c == ';') c = ' ';
    if (patterns.empty()) patterns.assign(1, '*');
    if (desc.empty()) desc = patterns;
    std::string tail = "(" + patterns + ")";
    bool hasTail = desc.size() >= tail.size() && desc.compare(desc.size() - tail.size(), tail.size(), tail) == 0;
    if (!out.empty()) out += ";;";
    out += hasTail ? desc : desc + " " + tail;
  }
  return out;
}

AnsiString NormalizeLineBreaks(const AnsiString& text) {
  AnsiString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

namespace Services {
IPromptService& Prompt() { return Get<IPromptService, QtPrompt>(R().prompt); }
IFileDialogService& FileDialogs() { return Get<IFileDialogService, QtFileDialogs>(R().files); }
IShellService& Shell() { return Get<IShellService, TDesktopShell>(R().shell); }
IClockService& Clock() { return Get<IClockService, SystemClock>(R().clock); }
std::unique_ptr<IPromptService> SetPrompt(std::unique_ptr<IPromptService> s) { return Swap(R().prompt, std::move(s)); }
std::unique_ptr<IFileDialogService> SetFileDialogs(std::unique_ptr<IFileDialogService> s) {
  return Swap(R().files, std::move(s));
}
std::unique_ptr<IShellService> SetShell(std::unique_ptr<IShellService> s) { return Swap(R().shell, std::move(s)); }
std::unique_ptr<IClockService> SetClock(std::unique_ptr<IClockService> s) { return Swap(R().clock, std::move(s)); }
}  // namespace Services

MsgResult ShowMessageBox(const AnsiString& text, const AnsiString& caption, MsgIcon icon, MsgButtons buttons,
                         QWidget* parent) {
  return Services::Prompt().MessageBox(text, caption, icon, buttons, parent);
}

bool ConfirmYesNo(const AnsiString& text, const AnsiString& caption, QWidget* parent) {
  return ShowMessageBox(text, caption, MsgIcon::Question, MsgButtons::YesNo, parent) == MsgResult::Yes;
}

MsgResult AskKeepingWork(const AnsiString& text, const AnsiString& caption, MsgButtons buttons, MsgResult keep,
                         QWidget* parent) {
  return Services::Prompt().AskKeepingWork(text, caption, buttons, keep, parent);
}

namespace {

// The next scripted answer, or the fallback once the script has run out.
template <class T>
T NextAnswer(std::deque<T>& answers, T fallback) {
  if (answers.empty()) return fallback;
  T r = std::move(answers.front());
  answers.pop_front();
  return r;
}

}  // namespace

// Recording services that answer from the capture's queues.
struct ServiceCapture::Impl {
  struct Prompt : IPromptService {
    ServiceCapture* c;
    explicit Prompt(ServiceCapture* c) : c(c) {}
    MsgResult MessageBox(const AnsiString& text, const AnsiString& caption, MsgIcon icon, MsgButtons buttons,
                         QWidget*) override {
      c->prompts.push_back({text, caption, icon, buttons});
      return NextAnswer(c->promptAnswers, FirstButton(buttons));
    }
    MsgResult AskKeepingWork(const AnsiString& text, const AnsiString& caption, MsgButtons buttons, MsgResult keep,
                             QWidget*) override {
      c->prompts.push_back({text, caption, MsgIcon::Question, buttons, keep});
      return NextAnswer(c->promptAnswers, FirstButton(buttons));
    }
  };
  struct Files : IFileDialogService {
    ServiceCapture* c;
    explicit Files(ServiceCapture* c) : c(c) {}
    std::vector<std::string> OpenFiles(const FileDialogOptions& o, QWidget*) override {
      c->fileDialogs.push_back({false, o});
      return NextAnswer(c->openAnswers, {});
    }
    std::optional<std::string> SaveFile(const FileDialogOptions& o, QWidget*) override {
      c->fileDialogs.push_back({true, o});
      return NextAnswer(c->saveAnswers, {});
    }
  };
  struct Shell : IShellService {
    ServiceCapture* c;
    explicit Shell(ServiceCapture* c) : c(c) {}
    bool Open(const std::string& target, std::function<void()>) override {
      c->shellOpens.push_back(target);
      return c->shellResult;
    }
  };
  struct Clock : IClockService {
    ServiceCapture* c;
    explicit Clock(ServiceCapture* c) : c(c) {}
    TDateTime Now() override { return c->now; }
    uint32_t TickCount() override { return c->tick; }
  };

  std::unique_ptr<IPromptService> prompt;
  std::unique_ptr<IFileDialogService> files;
  std::unique_ptr<IShellService> shell;
  std::unique_ptr<IClockService> clock;
};

ServiceCapture::ServiceCapture() : impl_(std::make_unique<Impl>()) {
  impl_->prompt = Services::SetPrompt(std::make_unique<Impl::Prompt>(this));
  impl_->files = Services::SetFileDialogs(std::make_unique<Impl::Files>(this));
  impl_->shell = Services::SetShell(std::make_unique<Impl::Shell>(this));
  impl_->clock = Services::SetClock(std::make_unique<Impl::Clock>(this));
}

ServiceCapture::~ServiceCapture() {
  Services::SetPrompt(std::move(impl_->prompt));
  Services::SetFileDialogs(std::move(impl_->files));
  Services::SetShell(std::move(impl_->shell));
  Services::SetClock(std::move(impl_->clock));
}

void ServiceCapture::Advance(uint32_t ms) {
  tick += ms;
  now += static_cast<double>(ms) / MSecsPerDay;
}

QWidget* DialogAnchor(QWidget* near) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  // The window the person works in: a modal form over a small host page comes first.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) return modal;
  if (near && near->window()->isVisible()) return near->window();
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog)) return w;
  return nullptr;
}
