#pragma once
// Runs a clean-up when the scope ends, however it ends: the one replacement for
// `catch (...) { restore; throw; } restore;`.
//
//   auto restore = ScopeExit([&] { sheet.EndUpdate(); });
//   ... work that may throw ...
//
// Dismiss() keeps the clean-up from running (for "undo only on failure": dismiss after the
// work succeeded). The clean-up must not throw.
#include <exception>
#include <type_traits>
#include <utility>

template <class F>
class [[nodiscard]] ScopeGuard {
 public:
  explicit ScopeGuard(F fn) noexcept(std::is_nothrow_move_constructible_v<F>) : fn_(std::move(fn)) {}
  ScopeGuard(ScopeGuard&& other) noexcept(std::is_nothrow_move_constructible_v<F>)
      : fn_(std::move(other.fn_)), active_(std::exchange(other.active_, false)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ScopeGuard& operator=(ScopeGuard&&) = delete;
  ~ScopeGuard() {
    if (active_) fn_();
  }
  void Dismiss() noexcept { active_ = false; }

 private:
  F fn_;
  bool active_ = true;
};

// Always runs the clean-up at scope end.
template <class F>
[[nodiscard]] ScopeGuard<std::decay_t<F>> ScopeExit(F&& fn) {
  return ScopeGuard<std::decay_t<F>>(std::forward<F>(fn));
}

// Runs the clean-up only when the scope is left by an exception: the undo of a change that
// must not survive a failure.
template <class F>
class [[nodiscard]] ScopeFailGuard {
 public:
  explicit ScopeFailGuard(F fn) : fn_(std::move(fn)), exceptions_(std::uncaught_exceptions()) {}
  ScopeFailGuard(const ScopeFailGuard&) = delete;
  ScopeFailGuard& operator=(const ScopeFailGuard&) = delete;
  ~ScopeFailGuard() {
    if (std::uncaught_exceptions() > exceptions_) fn_();
  }

 private:
  F fn_;
  int exceptions_;
};

template <class F>
[[nodiscard]] ScopeFailGuard<std::decay_t<F>> ScopeFail(F&& fn) {
  return ScopeFailGuard<std::decay_t<F>>(std::forward<F>(fn));
}
