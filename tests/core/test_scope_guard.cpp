#include "core/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ScopeGuard, ExitAlwaysRunsFailOnlyWhenAnExceptionLeaves) {
  int exits = 0, fails = 0;
  {
    const auto e = ScopeExit([&] { ++exits; });
    const auto f = ScopeFail([&] { ++fails; });
  }
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(fails, 0);
  EXPECT_THROW(
      {
        const auto e = ScopeExit([&] { ++exits; });
        const auto f = ScopeFail([&] { ++fails; });
        throw std::runtime_error("x");
      },
      std::runtime_error);
  EXPECT_EQ(exits, 2);
  EXPECT_EQ(fails, 1);
  // A scope that completes while another exception is already unwinding is not a failure.
  struct InDestructor {
    int* fails;
    ~InDestructor() {
      const auto f = ScopeFail([this] { ++*fails; });
    }
  };
  try {
    InDestructor d{&fails};
    throw std::runtime_error("y");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(fails, 1);
}

}  // namespace
