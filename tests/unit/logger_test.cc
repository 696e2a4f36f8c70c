// SPDLOG_LEVEL overrides the front end's levels, per category too (the cases run without it). The
// loggers are process-wide and can be set up once only, so each run is a forked child.
#include "common/logger.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <tuple>

#include "support/run.h"

// Runs body in a forked child with SPDLOG_LEVEL set to env_level (unset when null) and returns
// its stdout; its stderr goes to *err when given.
static std::string StdoutOfChild(const char* env_level, const std::function<void()>& body, std::string* err = nullptr) {
  testsupport::TempDir tmp;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open((tmp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int efd = open((tmp / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0 || efd < 0 || dup2(efd, 2) < 0) _exit(4);
    if (env_level) setenv("SPDLOG_LEVEL", env_level, 1);
    else unsetenv("SPDLOG_LEVEL");
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = -1;
  EXPECT_TRUE(waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (err != nullptr) *err = testsupport::ReadText(tmp / "err");
  return testsupport::ReadText(tmp / "out");
}

static void InitFrontEnd() { InitLoggers(kDebug, true, "", "%^[%n][%l]%v%$"); }

TEST(LoggerTest, EnvironmentOverridesLevels) {
  // (level, standard output, standard error)
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"error", "", "[common][error]e\n"},
      {"mmu=trace,info", "[mmu][trace]t\n[mmu][debug]k\n", "[common][error]e\n"},
      {"tool=off", "", "[common][error]e\n"},
      // Key material only where the variable asks for debug output.
      {"debug", "[tool][debug]d\n[common][debug]k\n[mmu][debug]k\n", "[common][error]e\n"},
      {"common=trace", "[tool][debug]d\n[common][debug]k\n", "[common][error]e\n"},
  };
  const auto body = [] {
    InitFrontEnd();
    SpdLog(LogCateg::Mmu, kTrace, "t");
    SpdLog(LogCateg::Tool, kDebug, "d");
    SpdLogKey(LogCateg::Common, "k");
    SpdLogKey(LogCateg::Mmu, "k");
    SpdLog(LogCateg::Common, kError, "e");
  };
  for (const auto& [level, out, err] : cases) {
    std::string got_err;
    EXPECT_EQ(StdoutOfChild(level, body, &got_err), out) << level;
    EXPECT_EQ(got_err, err) << level;
  }
}
