#include "common/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/run.h"

namespace {

using talvex::FileBuffer;
using talvex::ReadStatus;

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

// A sparse file of `size` bytes: costs no disk space.
bool MakeSparse(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, size) == 0;
  close(fd);
  return ok;
}

TEST(FileBufferTest, LoadsTheWholeFile) {
  testsupport::TempDir tmp;
  std::vector<unsigned char> bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  testsupport::WriteBytes(tmp / "f", bytes);
  FileBuffer fb = FileBuffer::Load(tmp / "f");
  ASSERT_TRUE(fb.ok());
  EXPECT_EQ(fb.status(), ReadStatus::kOk);
  ASSERT_EQ(fb.size(), bytes.size());
  EXPECT_EQ(std::memcmp(fb.data(), bytes.data(), bytes.size()), 0);

  testsupport::WriteBytes(tmp / "one", {0x5A});
  FileBuffer one = FileBuffer::Load(tmp / "one");
  ASSERT_TRUE(one.ok());
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one.data()[0], 0x5A);
}

TEST(FileBufferTest, FailuresAreToldApart) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "empty", "");
  testsupport::WriteText(tmp / "plain", "abc");

  const std::pair<std::string, ReadStatus> cases[] = {
      {tmp / "missing", ReadStatus::kMissing},
      {tmp / "plain/below", ReadStatus::kMissing},  // a file used as a folder
      {"", ReadStatus::kMissing},
      {tmp / "empty", ReadStatus::kEmpty},
      {tmp.path(), ReadStatus::kUnreadable},
  };
  for (const auto& [path, status] : cases) {
    FileBuffer fb = FileBuffer::Load(path);
    EXPECT_FALSE(fb.ok()) << path;
    EXPECT_EQ(fb.status(), status) << path;
    EXPECT_EQ(fb.data(), nullptr) << path;
    EXPECT_EQ(fb.size(), 0u) << path;
  }
}

TEST(FileBufferTest, SizeLimitIsEnforced) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "four", "abcd");
  EXPECT_EQ(FileBuffer::Load(tmp / "four", 3).status(), ReadStatus::kTooLarge);
  EXPECT_TRUE(FileBuffer::Load(tmp / "four", 4).ok());
  EXPECT_EQ(talvex::kMaxInputBytes, 0x7FFFFFFFu);
}

TEST(FileBufferTest, FilesOfTwoGiBOrMoreAreRefused) {
  testsupport::TempDir tmp;
  for (const off_t size : {off_t{1} << 31, (off_t{1} << 32) + 100}) {
    const std::string path = tmp / "big";
    if (!MakeSparse(path, size)) GTEST_SKIP() << "no sparse files here";
    FileBuffer fb = FileBuffer::Load(path);
    EXPECT_EQ(fb.status(), ReadStatus::kTooLarge) << size;
    EXPECT_EQ(fb.data(), nullptr);
    unlink(path.c_str());
  }
}

TEST(FileBufferTest, UnreadableFileIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not apply to root";
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "secret", "abc");
  ASSERT_EQ(chmod((tmp / "secret").c_str(), 0), 0);
  EXPECT_EQ(FileBuffer::Load(tmp / "secret").status(), ReadStatus::kUnreadable);
}

TEST(FileBufferTest, NamedPipeDoesNotBlock) {
  testsupport::TempDir tmp;
  ASSERT_EQ(mkfifo((tmp / "fifo").c_str(), 0644), 0);
  // No writer exists: a blocking open would wait forever.
  FileBuffer fb = FileBuffer::Load(tmp / "fifo");
  EXPECT_FALSE(fb.ok());
}

TEST(FileBufferTest, MovesTransferOwnership) {
  testsupport::TempDir tmp;
  testsupport::WriteText(tmp / "f", "payload");
  FileBuffer a = FileBuffer::Load(tmp / "f");
  ASSERT_TRUE(a.ok());
  FileBuffer b(std::move(a));
  EXPECT_FALSE(a.ok());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_EQ(a.data(), nullptr);
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.size()), "payload");

  FileBuffer c;
  EXPECT_FALSE(c.ok());
  c = std::move(b);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.data()), c.size()), "payload");
  c = FileBuffer::Load(tmp / "missing");
  EXPECT_EQ(c.status(), ReadStatus::kMissing);
}

TEST(FileBufferTest, StatusTexts) {
  EXPECT_STREQ(talvex::ReadStatusText(ReadStatus::kOk), "ok");
  EXPECT_STREQ(talvex::ReadStatusText(ReadStatus::kMissing), "file does not exist");
  EXPECT_STREQ(talvex::ReadStatusText(ReadStatus::kEmpty), "file is empty");
  EXPECT_STREQ(talvex::ReadStatusText(ReadStatus::kTooLarge), "file is 2 GiB or larger");
  EXPECT_STREQ(talvex::ReadStatusText(ReadStatus::kUnreadable), "file cannot be read");
}

TEST(AtomicWriteTest, WritesTheFileAndLeavesNoTemporary) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "out.bin";
  const std::string text = "hello, container";
  std::string error = "untouched";
  ASSERT_TRUE(talvex::WriteFileAtomic(path, text.data(), text.size(), &error));
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(testsupport::ReadText(path), text);
  EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"out.bin"});

  const mode_t mask = umask(0);
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(AtomicWriteTest, ReplacesAnExistingFileAndWritesEmptyFiles) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "f";
  testsupport::WriteText(path, std::string(5000, 'o'));
  ASSERT_TRUE(talvex::WriteFileAtomic(path, "new", 3));
  EXPECT_EQ(testsupport::ReadText(path), "new");
  ASSERT_TRUE(talvex::WriteFileAtomic(path, nullptr, 0));
  EXPECT_TRUE(testsupport::Exists(path));
  EXPECT_EQ(testsupport::ReadText(path), "");
  EXPECT_EQ(Entries(tmp.path()).size(), 1u);
}

TEST(AtomicWriteTest, UncommittedWriterKeepsTheOriginal) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "orig";
  testsupport::WriteText(path, "original");
  {
    talvex::AtomicFileWriter w(path);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(w.Write("partial", 7));
    EXPECT_EQ(testsupport::ReadText(path), "original");
  }  // destroyed without Commit()
  EXPECT_EQ(testsupport::ReadText(path), "original");
  EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"orig"});
}

TEST(AtomicWriteTest, ChunkedWritesAreConcatenated) {
  testsupport::TempDir tmp;
  talvex::AtomicFileWriter w(tmp / "f");
  ASSERT_TRUE(w.Write("ab", 2));
  ASSERT_TRUE(w.Write("", 0));
  ASSERT_TRUE(w.Write("cde", 3));
  ASSERT_TRUE(w.Commit());
  EXPECT_FALSE(w.Commit());  // once only
  EXPECT_EQ(testsupport::ReadText(tmp / "f"), "abcde");
}

TEST(AtomicWriteTest, MissingFolderFailsWithAReason) {
  testsupport::TempDir tmp;
  const std::string path = tmp / "nope/out.bin";
  std::string error;
  EXPECT_FALSE(talvex::WriteFileAtomic(path, "x", 1, &error));
  EXPECT_EQ(error, "create: No such file or directory");
  EXPECT_FALSE(testsupport::Exists(tmp / "nope"));

  talvex::AtomicFileWriter w(path);
  EXPECT_FALSE(w.ok());
  EXPECT_FALSE(w.Write("x", 1));
  EXPECT_FALSE(w.Commit());
  EXPECT_FALSE(w.error().empty());
}

TEST(AtomicWriteTest, FolderInTheWayIsNotReplaced) {
  testsupport::TempDir tmp;
  ASSERT_EQ(mkdir((tmp / "d").c_str(), 0755), 0);
  std::string error;
  EXPECT_FALSE(talvex::WriteFileAtomic(tmp / "d", "x", 1, &error));
  EXPECT_EQ(error.rfind("rename: ", 0), 0u) << error;
  struct stat st {};
  ASSERT_EQ(stat((tmp / "d").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{"d"});
}

}  // namespace
