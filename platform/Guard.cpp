#include "platform/Guard.h"

#include <mutex>
#include <new>

#include "core/Exception.h"

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
