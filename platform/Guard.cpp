#include "platform/Guard.h"

#include <mutex>
#include <new>

#include <QCoreApplication>
#include <QThread>
#include <cstdio>

#include "core/Exception.h"
#include "core/ScopeGuard.h"
#include "platform/ReportedFailure.h"
#include "platform/Services.h"

namespace {
std::mutex observerMutex;
GuardObserver& Observer() {
  static GuardObserver o;
  return o;
}
}  // namespace

HRESULT CurrentExceptionResult(AnsiString* message) noexcept {
  HRESULT hr = E_UNEXPECTED;
  const char* text = "Unknown exception";
  const AnsiString* own = nullptr;
  try {
    throw;
  } catch (const TReportedFailure& r) {
    // Told already: the handler that catches it says nothing more.
    hr = E_ABORT;
    if (const auto* e = dynamic_cast<const Exception*>(&r)) own = &e->Message();
  } catch (const EOutOfMemory& e) {
    hr = E_OUTOFMEMORY;
    own = &e.Message();
  } catch (const Exception& e) {
    own = &e.Message();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    text = "Out of memory";
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  if (message) {
    try {
      *message = own ? *own : AnsiString(text);
    } catch (...) {
    }
  }
  return hr;
}

void SetGuardObserver(GuardObserver observer) {
  std::lock_guard lock(observerMutex);
  Observer() = std::move(observer);
}

void NotifyGuardObserver(HRESULT hr, const AnsiString& message) noexcept {
  // A failure reported in a box of its own (TReportedFailure) goes to the log only.
  if (hr == E_ABORT) {
    LogFailure("failure already reported: " + std::string(message.c_str()));
    return;
  }
  try {
    GuardObserver o;
    {
      std::lock_guard lock(observerMutex);
      o = Observer();
    }
    if (o) o(hr, message);
  } catch (...) {
  }
}

void LogFailure(const std::string& text) noexcept {
  try {
    const std::string name =
        QCoreApplication::instance() ? QCoreApplication::applicationName().toStdString() : std::string("tarvo");
    std::fprintf(stderr, "%s: %s\n", name.c_str(), text.c_str());
    std::fflush(stderr);
  } catch (...) {
  }
}

void InstallFailureReporter() {
  {
    std::lock_guard lock(observerMutex);
    if (Observer()) return;
  }
  SetGuardObserver([](HRESULT, const AnsiString& message) {
    static bool showing = false;
    LogFailure("failure caught at a handler: " + Cp936ToUtf8(message));
    // Only the user-interface thread may show a box.
    QCoreApplication* app = QCoreApplication::instance();
    if (showing || !app || QThread::currentThread() != app->thread()) return;
    showing = true;
    const auto reset = ScopeExit([] { showing = false; });
    ShowMessageBox(message.empty() ? AnsiString("Unknown exception") : message, Cp936("系统提示"), MsgIcon::Warning);
  });
}
