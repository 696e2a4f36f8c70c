#pragma once
// Runs a call that fails with a talvex::Status (or an int), reports the status as the front end
// does, and returns the code and what was written on stderr.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <utility>

#include "common/logger.h"
#include "common/status.h"

namespace testsupport {
using Outcome = std::pair<int, std::string>;

template <typename F>
Outcome Call(F fn) {
  testing::internal::CaptureStderr();
  int rc = 0;
  if constexpr (std::is_same_v<decltype(fn()), talvex::Status>) {
    rc = talvex::Report(fn());
  } else {
    rc = fn();
  }
  return {rc, testing::internal::GetCapturedStderr()};
}
}  // namespace testsupport
