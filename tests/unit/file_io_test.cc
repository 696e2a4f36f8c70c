#include "common/file_io.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run.h"

using talvex::FileBuffer;
using talvex::ReadStatus;
using Names = std::vector<std::string>;

TEST(FileBufferTest, LoadsTheWholeFileOrTellsWhyNot) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "f", "payload");
  const FileBuffer fb = FileBuffer::Load(tmp / "f");
  ASSERT_TRUE(fb.ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fb.data()), fb.size()), "payload");
  EXPECT_EQ(FileBuffer::Load(tmp / "f", 6).status(), ReadStatus::kTooLarge);

  testsupport::WriteText(tmp / "empty", "");
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0644), 0);  // no writer: a blocking open would hang
  const std::pair<std::string, ReadStatus> cases[] = {
      {tmp / "missing", ReadStatus::kMissing}, {tmp / "f/below", ReadStatus::kMissing},
      {tmp / "empty", ReadStatus::kEmpty},     {tmp.path(), ReadStatus::kUnreadable},
      {tmp / "fifo", ReadStatus::kEmpty},
  };
  for (const auto& [path, status] : cases) {
    const FileBuffer bad = FileBuffer::Load(path);
    EXPECT_EQ(bad.status(), status) << path;
    EXPECT_EQ(bad.data(), nullptr) << path;
  }
}

TEST(AtomicWriteTest, WritesOrReplacesWholeFilesOnlyAndFailsCleanly) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "f";
  testsupport::WriteText(path, std::string(5000, 'o'));
  ASSERT_TRUE(talvex::WriteFileAtomic(path, "new", 3));
  EXPECT_EQ(testsupport::ReadText(path), "new");
  {
    talvex::AtomicFileWriter w(path);
    ASSERT_TRUE(w.Write("partial", 7));
  }  // destroyed without Commit(): the original stays
  EXPECT_EQ(testsupport::ReadText(path), "new");
  talvex::AtomicFileWriter w(tmp / "g");
  ASSERT_TRUE(w.Write("ab", 2) && w.Write("", 0) && w.Write("cde", 3) && w.Commit());
  EXPECT_EQ(testsupport::ReadText(tmp / "g"), "abcde");
  const mode_t mask = umask(0);
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat((tmp / "g").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
  std::string error;
  EXPECT_FALSE(talvex::WriteFileAtomic(tmp / "nope/out.bin", "x", 1, &error));
  EXPECT_EQ(error, "create: No such file or directory");
  ASSERT_EQ(mkdir((tmp / "d").c_str(), 0755), 0);
  EXPECT_FALSE(talvex::WriteFileAtomic(tmp / "d", "x", 1, &error));
  EXPECT_EQ(error.rfind("rename: ", 0), 0u) << error;
  EXPECT_EQ(testsupport::DirEntries(tmp.path()), (Names{"d", "f", "g"}));  // no temporary left
  EXPECT_TRUE(testsupport::DirEntries(tmp / "d").empty());
}
