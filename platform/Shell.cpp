#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "platform/Guard.h"

namespace {

bool IsUrl(const QString& t) {
  return t.contains(QStringLiteral("://")) || t.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive);
}

// xdg-open ends with 0 only when a program took the file: 3 is no program for the type, and
// 4 is what it ends with when the program it picked cannot be run at all (no terminal for
// a terminal program, a stale desktop entry), which the person meets the same way.
bool LauncherFoundNoProgram(int exitCode, QProcess::ExitStatus status) {
  return status != QProcess::NormalExit || exitCode != 0;
}

}  // namespace

bool TDesktopShell::Open(const std::string& target, std::function<void()> refused) {
  const QString t = QString::fromStdString(target);
  if (IsUrl(t)) return QDesktopServices::openUrl(QUrl(t));
  const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (launcher.isEmpty()) return false;
  // Without a desktop session xdg-open runs the program and waits for it, so the launch may
  // outlive the window that asked. It belongs to the application: a host that ends while a
  // viewer is open frees it then. The launcher runs behind a shell that waits for it, so
  // that ending the shell leaves the person's viewer open.
  auto* p = new QProcess(QCoreApplication::instance());
  p->setProgram(QStringLiteral("/bin/sh"));
  p->setArguments({QStringLiteral("-c"), QStringLiteral("\"$0\" \"$1\" & wait $!"), launcher, t});
  p->setStandardOutputFile(QProcess::nullDevice());
  p->setStandardErrorFile(QProcess::nullDevice());
  auto tell = std::make_shared<std::function<void()>>(std::move(refused));
  QObject::connect(p, &QProcess::finished, p, [p, tell](int code, QProcess::ExitStatus status) {
    p->deleteLater();
    if (*tell && LauncherFoundNoProgram(code, status)) Guarded(*tell);
  });
  QObject::connect(p, &QProcess::errorOccurred, p, [p, tell](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    p->deleteLater();
    if (*tell) Guarded(*tell);
  });
  if (QCoreApplication* app = QCoreApplication::instance())
    QObject::connect(app, &QCoreApplication::aboutToQuit, p, [p] {
      // Nobody is left to be told; only the waiting shell ends.
      p->disconnect();
      p->kill();
      p->waitForFinished(2000);
      delete p;
    });
  p->start();
  return true;
}

AnsiString NoProgramText(const AnsiString& name) { return Cp936("没有可以打开此文件的程序：") + name; }

void OpenWithDesktop(const std::string& path, const AnsiString& name, QWidget* parent) {
  const QPointer<QWidget> owner(parent);
  auto say = [owner, name] {
    ShowMessageBox(NoProgramText(name), Cp936("系统提示"), MsgIcon::Warning, MsgButtons::Ok, owner.data());
  };
  if (!Services::Shell().Open(path, say)) say();
}
