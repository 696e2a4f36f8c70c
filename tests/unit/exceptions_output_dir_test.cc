#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <regex>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "common/exceptions.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "support/run.h"

namespace {

// Runs body in a forked child (the loggers can be started once per process) and
// returns what it wrote to stdout; *status gets its exit status (3 when body threw).
std::string StdoutOfChild(const std::function<void()>& body, int* status) {
  testsupport::TempDir tmp;
  const std::string out_path = tmp / "out";
  std::cout.flush();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0) _exit(4);
    int code = 0;
    try {
      body();
    } catch (...) {
      code = 3;
    }
    std::fflush(nullptr);
    _exit(code);
  }
  int wstatus = 0;
  *status = -1;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) *status = WEXITSTATUS(wstatus);
  return testsupport::ReadText(out_path);
}

TEST(ErrorCodeTest, NameTableMatchesTheCodes) {
  const auto& names = EnumStrMap<ErrorCode>();
  const std::pair<int, const char*> expected[] = {
      {0, "Success"},           {1, "Common"},          {2, "InvalidProgramInput"},
      {3, "InvalidONNXAttribute"}, {4, "HardwareNotSupport"}, {5, "UnexpectedGraph"},
      {6, "UnimplementedFeature"}, {7, "ValueNotReady"},   {8, "VolmarError"},
      {9, "UnexpectedValue"},   {128, "Max"},
  };
  ASSERT_EQ(names.size(), 11u);
  for (const auto& [code, name] : expected) EXPECT_EQ(names.at(static_cast<ErrorCode>(code)), name);
  EXPECT_EQ(&EnumStrMap<ErrorCode>(), &names);  // built once
}

TEST(TalvexExceptionTest, MessageCodeAndHierarchy) {
  static_assert(std::is_base_of<std::exception, TalvexException>::value, "");
  static_assert(std::is_base_of<TalvexException, InvalidProgramInput>::value, "");

  TalvexException e(ErrorCode::InvalidProgramInput, "bad file");
  EXPECT_STREQ(e.what(), "InvalidProgramInput: bad file");
  EXPECT_EQ(HandleTalvexException(e), 2);

  InvalidProgramInput ipi("no models");
  EXPECT_STREQ(ipi.what(), "InvalidProgramInput: no models");
  EXPECT_EQ(HandleTalvexException(ipi), 2);

  TalvexException max(ErrorCode::Max, "");
  EXPECT_STREQ(max.what(), "Max: ");
  EXPECT_EQ(HandleTalvexException(max), 128);

  try {
    throw InvalidProgramInput("thrown");
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), "InvalidProgramInput: thrown");
  }
}

TEST(TalvexExceptionTest, UnknownCodeFailsTheNameLookup) {
  try {
    TalvexException e(static_cast<ErrorCode>(42), "x");
    ADD_FAILURE() << "constructed with an unknown code";
  } catch (const std::out_of_range& oor) {
    EXPECT_STREQ(oor.what(), "map::at");
  }
}

TEST(TalvexExceptionTest, ConstructionLogsOneErrorLine) {
  int status = 0;
  const std::string out = StdoutOfChild(
      [] {
        unsetenv("SPDLOG_LEVEL");
        InitLoggers(kDebug, true, "", "%^[%n][%l]%v%$");
        InvalidProgramInput e("bad file");
      },
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::regex_match(
      out, std::regex("\\[common\\]\\[error\\]\\[exceptions\\.cc:[0-9]+\\]\\[TalvexException\\] "
                      "InvalidProgramInput: bad file\n")))
      << out;
}

TEST(TalvexExceptionTest, UnknownCodeLogsNothing) {
  int status = 0;
  const std::string out = StdoutOfChild(
      [] {
        unsetenv("SPDLOG_LEVEL");
        InitLoggers(kDebug, true, "", "%^[%n][%l]%v%$");
        TalvexException e(static_cast<ErrorCode>(10), "x");
      },
      &status);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(out, "");
}

class OutputDirTest : public ::testing::Test {
 protected:
  // Each test starts from a known output folder of its own.
  void SetUp() override {
    BNXUtils::SetOutputDir(tmp_.path());
    ASSERT_EQ(BNXUtils::GetOutputDir(), tmp_.path() + "/");
  }
  testsupport::TempDir tmp_;
};

TEST_F(OutputDirTest, CreatesOneMissingLevelWithMode0755) {
  const std::string out = tmp_ / "out";
  const mode_t old_mask = umask(022);
  BNXUtils::SetOutputDir(out);
  umask(old_mask);
  EXPECT_EQ(BNXUtils::GetOutputDir(), out + "/");
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(OutputDirTest, ExistingFolderIsTakenAsIs) {
  const std::string out = tmp_ / "there";
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  BNXUtils::SetOutputDir(out);
  EXPECT_EQ(BNXUtils::GetOutputDir(), out + "/");
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);  // not touched
}

TEST_F(OutputDirTest, MissingParentLeavesTheFolderUnchanged) {
  BNXUtils::SetOutputDir(tmp_ / "a/b");
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp_.path() + "/");
  EXPECT_FALSE(testsupport::Exists(tmp_ / "a"));
}

TEST_F(OutputDirTest, EmptyPathChangesNothing) {
  BNXUtils::SetOutputDir("");
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp_.path() + "/");
}

TEST_F(OutputDirTest, PlainFileInTheWayIsRefused) {
  testsupport::WriteText(tmp_ / "file", "x");
  BNXUtils::SetOutputDir(tmp_ / "file");
  EXPECT_EQ(BNXUtils::GetOutputDir(), tmp_.path() + "/");
  EXPECT_FALSE(BNXUtils::OutputDirExist(tmp_ / "file"));
  EXPECT_FALSE(BNXUtils::CreateOutputDir(tmp_ / "file", 0755));
}

TEST_F(OutputDirTest, ExistAndCreateHelpers) {
  EXPECT_FALSE(BNXUtils::OutputDirExist(""));
  EXPECT_FALSE(BNXUtils::CreateOutputDir("", 0755));
  EXPECT_TRUE(BNXUtils::OutputDirExist(tmp_.path()));
  EXPECT_TRUE(BNXUtils::CreateOutputDir(tmp_.path(), 0755));
  EXPECT_FALSE(BNXUtils::OutputDirExist(tmp_ / "new"));
  EXPECT_TRUE(BNXUtils::CreateOutputDir(tmp_ / "new", 0700));
  EXPECT_TRUE(BNXUtils::OutputDirExist(tmp_ / "new"));
  EXPECT_FALSE(BNXUtils::CreateOutputDir(tmp_ / "x/y", 0755));
}

}  // namespace
