// The loggers are process-wide and can be set up once only, so every test that
// starts them does so in a forked child whose standard streams are captured.
#include "common/logger.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/run.h"

namespace {

constexpr const char* kFrontEndFormat = "%^[%n][%l]%v%$";

struct ChildResult {
  int status = -1;  // exit status, -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Runs body in a forked child with stdout and stderr sent to files. The child exits
// with 0, or with 3 when body throws.
ChildResult RunInChild(const std::function<void()>& body) {
  testsupport::TempDir tmp;
  const std::string out_path = tmp / "out";
  const std::string err_path = tmp / "err";
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(4);
    int code = 0;
    try {
      body();
    } catch (...) {
      code = 3;
    }
    std::cout.flush();
    std::fflush(nullptr);
    _exit(code);
  }
  ChildResult r;
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  r.out = testsupport::ReadText(out_path);
  r.err = testsupport::ReadText(err_path);
  return r;
}

void InitFrontEnd() { InitLoggers(kDebug, true, "", kFrontEndFormat); }

const std::vector<std::pair<LogCateg, std::string>> kCategNames = {
    {LogCateg::Common, "common"}, {LogCateg::Sorvin, "sorvin"}, {LogCateg::Graph, "graph"},
    {LogCateg::FmCut, "fmcut"},   {LogCateg::Tiling, "tiling"}, {LogCateg::Mmu, "mmu"},
    {LogCateg::Cmd, "cmd"},       {LogCateg::Weight, "wt"},     {LogCateg::Setup, "fw"},
    {LogCateg::Txm, "txm"},       {LogCateg::Evaluator, "eval"}, {LogCateg::Bie, "bie"},
    {LogCateg::Tool, "tool"},
};

TEST(LoggerNamesTest, CategoryTableHasThirteenNames) {
  const auto& names = EnumStrMap<LogCateg>();
  ASSERT_EQ(names.size(), 13u);
  for (const auto& [categ, name] : kCategNames) EXPECT_EQ(names.at(categ), name);
  EXPECT_EQ(names.count(LogCateg::LOG_CATEG_SIZE), 0u);
}

TEST(LoggerLevelTest, LevelNamesAndTheirList) {
  const char* names[] = {"trace", "debug", "info", "warning", "error", "critical", "off"};
  for (unsigned int l = 0; l < 7; ++l) EXPECT_EQ(LogLevelToStr(l), names[l]);
  EXPECT_EQ(GetLogLevelStr('|'), "trace|debug|info|warning|error|critical");
  EXPECT_EQ(GetLogLevelStr(','), "trace,debug,info,warning,error,critical");
}

TEST(LoggerLevelTest, StrToLogLevelAcceptsValidNamesAndShortForms) {
  EXPECT_EQ(StrToLogLevel("trace"), 0u);
  EXPECT_EQ(StrToLogLevel("debug"), 1u);
  EXPECT_EQ(StrToLogLevel("info"), 2u);
  EXPECT_EQ(StrToLogLevel("warning"), 3u);
  EXPECT_EQ(StrToLogLevel("warn"), 3u);
  EXPECT_EQ(StrToLogLevel("error"), 4u);
  EXPECT_EQ(StrToLogLevel("err"), 4u);
  EXPECT_EQ(StrToLogLevel("critical"), 5u);
}

TEST(LoggerLevelTest, StrToLogLevelRefusesOffAndUnknownNames) {
  for (const char* bad : {"off", "", "ERROR", "verbose", "warning "}) {
    try {
      StrToLogLevel(bad);
      ADD_FAILURE() << "accepted [" << bad << "]";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Invalid log level [") + bad + "]");
    }
  }
}

TEST(LoggerEnvTest, GetEnvReadsOrGivesEmpty) {
  setenv("TALVEX_LOGGER_TEST_VAR", "a=b", 1);
  EXPECT_EQ(GetEnv("TALVEX_LOGGER_TEST_VAR"), "a=b");
  unsetenv("TALVEX_LOGGER_TEST_VAR");
  EXPECT_EQ(GetEnv("TALVEX_LOGGER_TEST_VAR"), "");
}

TEST(FailPrefixTest, UsesTheBaseNameOfTheSourceFile) {
  EXPECT_EQ(talvex::FailPrefix("/a/b/container.cc", 42, "ReadBNX"), "[container.cc:42][ReadBNX] ");
  EXPECT_EQ(talvex::FailPrefix("main.cc", 7, "main"), "[main.cc:7][main] ");
}

TEST(LoggerOutputTest, SilentBeforeInitLoggers) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    SpdLog(LogCateg::Tool, kError, "early");
    SpdLog(LogCateg::Common, kCritical, "early");
    SetLogLevel(LogCateg::Tool, kTrace);  // no logger yet: nothing happens
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(LoggerOutputTest, FrontEndSettingsWriteDebugAndAboveToStdout) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    SpdLog(LogCateg::Tool, kTrace, "dropped");
    SpdLog(LogCateg::Tool, kDebug, "d");
    SpdLog(LogCateg::Tool, kInfo, "i");
    SpdLog(LogCateg::Tool, kWarn, "w");
    SpdLog(LogCateg::Tool, kError, "e");
    SpdLog(LogCateg::Tool, kCritical, "c");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[tool][debug]d\n[tool][info]i\n[tool][warning]w\n[tool][error]e\n[tool][critical]c\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

TEST(LoggerOutputTest, EveryCategoryWritesUnderItsName) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    for (const auto& cn : kCategNames) SpdLog(cn.first, kInfo, "x");
  });
  std::string expected;
  for (const auto& cn : kCategNames) expected += "[" + cn.second + "][info]x\n";
  EXPECT_EQ(r.out, expected);
}

TEST(LoggerOutputTest, OutOfRangeLevelsAndCategoriesAreIgnored) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    SpdLog(LogCateg::Tool, 7, "x");
    SpdLog(LogCateg::Tool, -1, "x");
    SpdLog(LogCateg::Tool, 1000, "x");
    SpdLog(LogCateg::LOG_CATEG_SIZE, kError, "x");
    SpdLog(static_cast<LogCateg>(-3), kError, "x");
    SpdLog(LogCateg::Tool, kError, "kept");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[tool][error]kept\n");
}

TEST(LoggerOutputTest, FailureMacroAddsTheCallSitePrefix) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    TALVEX_LOG_ERROR(LogCateg::Txm, "bad value {} in {}", 5, "file.txm");
    TALVEX_LOG(LogCateg::Txm, kWarn, "{}", "careful");
  });
  EXPECT_TRUE(std::regex_match(r.out, std::regex("\\[txm\\]\\[error\\]\\[logger_test\\.cc:[0-9]+\\]\\[operator\\(\\)\\] "
                                                 "bad value 5 in file\\.txm\n"
                                                 "\\[txm\\]\\[warning\\]\\[logger_test\\.cc:[0-9]+\\]\\[operator\\(\\)\\] "
                                                 "careful\n")))
      << r.out;
}

TEST(LoggerOutputTest, SetLogLevelChangesOneCategory) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    SetLogLevel(LogCateg::Cmd, kError);
    SetLogLevel(LogCateg::Bie, kTrace);
    SpdLog(LogCateg::Cmd, kWarn, "cmd-warn");
    SpdLog(LogCateg::Cmd, kError, "cmd-error");
    SpdLog(LogCateg::Bie, kTrace, "bie-trace");
    SpdLog(LogCateg::Mmu, kTrace, "mmu-trace");
  });
  EXPECT_EQ(r.out, "[cmd][error]cmd-error\n[bie][trace]bie-trace\n");
}

TEST(LoggerOutputTest, NoSinksMeansNoOutput) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitLoggers(kTrace, false, "", kFrontEndFormat);
    SpdLog(LogCateg::Tool, kCritical, "x");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(LoggerOutputTest, LogFileIsTruncatedAndReceivesTheLines) {
  testsupport::TempDir tmp;
  const std::string log = tmp / "run.log";
  testsupport::WriteText(log, "old content that must go\n");
  const ChildResult r = RunInChild([&] {
    unsetenv("SPDLOG_LEVEL");
    InitLoggers(kInfo, false, log, kFrontEndFormat);
    SpdLog(LogCateg::Setup, kDebug, "dropped");
    SpdLog(LogCateg::Setup, kInfo, "to file");
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testsupport::ReadText(log), "[fw][info]to file\n");
}

TEST(LoggerOutputTest, ConsoleAndFileTogether) {
  testsupport::TempDir tmp;
  const std::string log = tmp / "both.log";
  const ChildResult r = RunInChild([&] {
    unsetenv("SPDLOG_LEVEL");
    InitLoggers(kDebug, true, log, kFrontEndFormat);
    SpdLog(LogCateg::Common, kError, "both");
  });
  EXPECT_EQ(r.out, "[common][error]both\n");
  EXPECT_EQ(testsupport::ReadText(log), "[common][error]both\n");
}

TEST(LoggerOutputTest, SecondInitIsRefusedBySpdlog) {
  const ChildResult r = RunInChild([] {
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    InitFrontEnd();  // throws: the names are already registered
  });
  EXPECT_EQ(r.status, 3);
}

TEST(LoggerEnvLevelTest, PlainLevelAppliesToEveryCategory) {
  const ChildResult r = RunInChild([] {
    setenv("SPDLOG_LEVEL", "error", 1);
    InitFrontEnd();
    for (const auto& cn : kCategNames) {
      SpdLog(cn.first, kWarn, "w");
      SpdLog(cn.first, kError, "e");
    }
  });
  std::string expected;
  for (const auto& cn : kCategNames) expected += "[" + cn.second + "][error]e\n";
  EXPECT_EQ(r.out, expected);
}

TEST(LoggerEnvLevelTest, NamedEntriesSetSingleLoggers) {
  const ChildResult r = RunInChild([] {
    setenv("SPDLOG_LEVEL", "mmu=trace,info", 1);
    InitFrontEnd();
    SpdLog(LogCateg::Mmu, kTrace, "mmu-trace");
    SpdLog(LogCateg::Tool, kDebug, "tool-debug");
    SpdLog(LogCateg::Tool, kInfo, "tool-info");
  });
  EXPECT_EQ(r.out, "[mmu][trace]mmu-trace\n[tool][info]tool-info\n");
}

TEST(LoggerEnvLevelTest, ToolOffSilencesOnlyTheToolCategory) {
  const ChildResult r = RunInChild([] {
    setenv("SPDLOG_LEVEL", "tool=off", 1);
    InitFrontEnd();
    SpdLog(LogCateg::Tool, kCritical, "tool");
    SpdLog(LogCateg::Common, kError, "common");
  });
  EXPECT_EQ(r.out, "[common][error]common\n");
}

TEST(LoggerEnvLevelTest, EmptyVariableKeepsTheConfiguredLevel) {
  const ChildResult r = RunInChild([] {
    setenv("SPDLOG_LEVEL", "", 1);
    InitFrontEnd();
    SpdLog(LogCateg::Tool, kTrace, "t");
    SpdLog(LogCateg::Tool, kDebug, "d");
  });
  EXPECT_EQ(r.out, "[tool][debug]d\n");
}

// Colour is used on a terminal only: here stdout is a pseudo-terminal.
TEST(LoggerColourTest, TerminalOutputIsColoured) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal";
  const std::string slave_name = ptsname(master);
  const ChildResult r = RunInChild([&] {
    const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0 || dup2(slave, 1) < 0) throw std::runtime_error("pty");
    setenv("TERM", "xterm", 1);
    unsetenv("SPDLOG_LEVEL");
    InitFrontEnd();
    SpdLog(LogCateg::Tool, kError, "coloured");
  });
  EXPECT_EQ(r.status, 0);
  std::string got;
  char buf[256];
  // The child has exited: everything it wrote is waiting in the master side.
  const int flags = fcntl(master, F_GETFL);
  fcntl(master, F_SETFL, flags | O_NONBLOCK);
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  close(master);
  EXPECT_NE(got.find("\x1b["), std::string::npos) << got;
  EXPECT_NE(got.find("[tool][error]coloured"), std::string::npos) << got;
}

}  // namespace
