#pragma once
// No exception may leave a Qt event handler, slot, timer or dispatch call. Every such
// entry point runs its body through Guarded (the failure is swallowed, as the session
// form's application-level handler does) or GuardedCall (it becomes an HRESULT and a
// message for the caller).
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "core/AnsiString.h"
#include "platform/com/ComTypes.h"

// The current exception (call inside a catch block) as a result and a message:
// EOutOfMemory and std::bad_alloc -> E_OUTOFMEMORY, every other exception ->
// E_UNEXPECTED; the message is Exception::Message(), what(), or "Unknown exception".
HRESULT CurrentExceptionResult(AnsiString* message) noexcept;

// Observes swallowed exceptions.
using GuardObserver = std::function<void(HRESULT, const AnsiString& message)>;
void SetGuardObserver(GuardObserver observer);
void NotifyGuardObserver(HRESULT hr, const AnsiString& message) noexcept;

// One line in the program's log (standard error), prefixed with the program's name.
void LogFailure(const std::string& text) noexcept;
// What a running program installs once (a later call keeps an observer already there):
// every failure caught at a handler goes to the log and, where a person sits in front
// of the program, into a box captioned "系统提示" with the warning icon. A failure
// raised while that box is open is only logged.
void InstallFailureReporter();

// Runs fn and swallows whatever it throws. True when fn finished normally.
template <class F>
bool Guarded(F&& fn) noexcept {
  try {
    std::forward<F>(fn)();
    return true;
  } catch (...) {
    AnsiString message;
    HRESULT hr = CurrentExceptionResult(&message);
    NotifyGuardObserver(hr, message);
    return false;
  }
}

// Runs fn and drops what it throws without a word: for steps whose failure the
// program deliberately ignores.
template <class F>
bool Swallowed(F&& fn) noexcept {
  try {
    std::forward<F>(fn)();
    return true;
  } catch (...) {
    return false;
  }
}

// Runs fn; S_OK, or the exception's result with its message in *message.
template <class F>
HRESULT GuardedCall(F&& fn, AnsiString* message = nullptr) noexcept {
  try {
    std::forward<F>(fn)();
    return S_OK;
  } catch (...) {
    AnsiString m;
    HRESULT hr = CurrentExceptionResult(&m);
    if (message) {
      try {
        *message = m;
      } catch (...) {
      }
    }
    return hr;
  }
}

// Wraps a callable for connect() and timers: the wrapper swallows what it throws.
template <class F>
auto GuardSlot(F fn) {
  return [fn = std::move(fn)](auto&&... args) mutable noexcept {
    Guarded([&] { fn(std::forward<decltype(args)>(args)...); });
  };
}
