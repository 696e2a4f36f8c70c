// The loggers are process-wide and can be set up once only, so every test that
// starts them does so in a forked child whose standard output is captured.
#include "common/logger.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <tuple>

#include "common/exceptions.h"
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

// Logger names in LogCateg order.
const char* const kCategNames[] = {"common", "sorvin", "graph", "fmcut", "tiling", "mmu", "cmd",
                                   "wt",     "fw",     "txm",   "eval",  "bie",    "tool"};

TEST(LoggerTest, LevelNamesAndPrefix) {
  const char* names[] = {"trace", "debug", "info", "warning", "error", "critical", "off"};
  for (unsigned int l = 0; l < 7; ++l) EXPECT_EQ(LogLevelToStr(l), names[l]);
  EXPECT_EQ(GetLogLevelStr(','), "trace,debug,info,warning,error,critical");
  for (unsigned int l = 0; l < 6; ++l) EXPECT_EQ(StrToLogLevel(names[l]), l);
  EXPECT_EQ(StrToLogLevel("warn"), 3u);
  EXPECT_EQ(StrToLogLevel("err"), 4u);
  EXPECT_THROW(StrToLogLevel("ERROR"), std::invalid_argument);
  try {
    ADD_FAILURE() << StrToLogLevel("off");
  } catch (const std::invalid_argument& e) { EXPECT_STREQ(e.what(), "Invalid log level [off]"); }
  EXPECT_EQ(talvex::FailPrefix("/a/b/container.cc", 42, "ReadBNX"), "[container.cc:42][ReadBNX] ");
}

TEST(LoggerTest, FrontEndSettingsEveryCategoryAndCallSites) {
  EXPECT_EQ(StdoutOfChild(nullptr, [] { SpdLog(LogCateg::Tool, kError, "before init"); }), "");
  std::string err;
  const std::string out = StdoutOfChild(
      nullptr,
      [] {
        InitFrontEnd();
        SpdLog(LogCateg::Tool, kTrace, "dropped");
        SpdLog(LogCateg::Tool, kDebug, "d");
        SpdLogKey(LogCateg::Tool, "key material");  // not at the front end's own debug level
        SpdLog(LogCateg::Tool, 7, "out of range");
        SpdLog(LogCateg::LOG_CATEG_SIZE, kError, "out of range");
        SetLogLevel(LogCateg::Cmd, kError);
        SpdLog(LogCateg::Cmd, kWarn, "dropped");
        for (int c = 0; c < 13; ++c) SpdLog(static_cast<LogCateg>(c), kCritical, "c");
        TALVEX_LOG_ERROR(LogCateg::Txm, "bad value {} in {}", 5, "file.txm");
        SpdLog(LogCateg::Tool, kInfo, "i");
        SpdLog(LogCateg::Tool, kWarn, "w");
        InvalidProgramInput quiet("not reported");  // an exception says nothing until it is reported
        InvalidProgramInput e("bad file");
        talvex::Report(e.status());
        talvex::Report(talvex::Status(-1).Out("plain line").Err("to stderr"));
      },
      &err);
  // Debug and info (and plain output lines) on standard output, not a terminal: no colour codes.
  EXPECT_EQ(out, "[tool][debug]d\n[tool][info]i\nplain line\n");
  // Warnings and everything above on standard error.
  std::string expected;
  for (const char* name : kCategNames) expected += "[" + std::string(name) + "][critical]c\n";
  ASSERT_EQ(err.substr(0, expected.size()), expected);
  EXPECT_TRUE(std::regex_match(err.substr(expected.size()),
                               std::regex("\\[txm\\]\\[error\\]\\[logger_test\\.cc:[0-9]+\\]\\[operator\\(\\)\\] "
                                          "bad value 5 in file\\.txm\n"
                                          "\\[tool\\]\\[warning\\]w\n"
                                          "\\[common\\]\\[error\\]\\[exceptions\\.cc:[0-9]+\\]"
                                          "\\[TalvexException\\] InvalidProgramInput: bad file\n"
                                          "to stderr\n")))
      << err;
}

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
