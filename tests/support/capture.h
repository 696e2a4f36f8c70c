#pragma once
// Runs a call that reports failures on stderr, returning its result and what it wrote there.
#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace testsupport {
using Outcome = std::pair<int, std::string>;

template <typename F>
Outcome Call(F fn) {
  testing::internal::CaptureStderr();
  const int rc = fn();
  return {rc, testing::internal::GetCapturedStderr()};
}
}  // namespace testsupport
