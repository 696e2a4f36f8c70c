// The file layer where the cases cannot reach: an input changing under its mapping (and the
// death of the command it causes), and copies through the kernel, the read/write path and the
// ring of an observed copy. (Missing, empty and folder inputs and whole-file replacement: cases.)
#include "common/file_io.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run.h"

using talvex::FileBuffer;
using Names = std::vector<std::string>;

// Another process may truncate or rewrite an input while it is mapped. Reading bytes it lost ends
// the command with a status and a message, taking back what it put in place, never with SIGBUS;
// a change seen by its size or time stops anything more from being put in place.
TEST(FileBufferTest, InputChangingUnderTheMappingFailsTheCommandNotTheProcess) {
  testsupport::TempDir tmp;
  const std::string in = tmp / "in", other = tmp / "other";
  const size_t size = 5 * 4096 + 100;
  testsupport::WriteText(in, std::string(size, 'x'));
  testsupport::WriteText(other, std::string(size, 'y'));
  talvex::ProtectInputs({in});
  FileBuffer fb = FileBuffer::Load(in);
  const FileBuffer not_input = FileBuffer::Load(other);
  ASSERT_TRUE(fb.ok() && fb.mapped());
  EXPECT_FALSE(fb.Changed());
  ASSERT_EQ(truncate(other.c_str(), size + 1), 0);  // not an input: the tool's own file
  EXPECT_TRUE(talvex::ChangedInputs().empty());
  ASSERT_EQ(truncate(in.c_str(), 10), 0);
  EXPECT_TRUE(fb.Changed());
  EXPECT_EQ(talvex::ChangedInputs(), Names{in});
  std::string error;
  EXPECT_FALSE(talvex::WriteFileAtomic(tmp / "after", "x", 1, &error));
  EXPECT_EQ(error, in + " changed while it was being read");
  fb = FileBuffer();  // gone, but still remembered for the command
  EXPECT_EQ(talvex::ChangedInputs(), Names{in});
  EXPECT_EQ(talvex::CheckInputsUnchanged().code(), -1);

  talvex::ProtectInputs({});  // the next command starts afresh
  EXPECT_TRUE(talvex::ChangedInputs().empty());

  const std::string cut = tmp / "cut";
  testsupport::WriteText(cut, std::string(size, 'x'));
  const FileBuffer mapped = FileBuffer::Load(cut);
  ASSERT_TRUE(talvex::WriteFileAtomic(tmp / "before", "x", 1));
  EXPECT_EXIT(
      {
        talvex::BeginOutputs();
        (void)talvex::WriteFileAtomic(tmp / "made", "x", 1);
        if (truncate(cut.c_str(), 10) != 0) _exit(1);
        volatile uint8_t lost = mapped.data()[size - 1];
        (void)lost;
        _exit(0);
      },
      ::testing::ExitedWithCode(255), cut + " changed while it was being read");
  EXPECT_EQ(testsupport::DirEntries(tmp.path()), (Names{"before", "cut", "in", "other"}));  // "made" taken back
}

// A file of size bytes that repeat only after many MiB, so a piece copied from the wrong
// place shows; returns its bytes.
static std::string PatternFile(const std::string& path, size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
  testsupport::WriteText(path, bytes);
  return bytes;
}

// Ranges copied file to file must come out the same whichever way the bytes travel: in the
// kernel, through the read/write path, across the chunk boundaries of that path.
TEST(AtomicWriteTest, CopyFromCopiesExactRangesEitherWay) {
  testsupport::TempDir tmp;
  const std::string src = PatternFile(tmp / "src", (5u << 20) + 77);
  const FileBuffer in = FileBuffer::Load(tmp / "src");
  ASSERT_TRUE(in.ok());
  ASSERT_GE(in.fd(), 0);
  struct Case {
    uint64_t offset, len;
  };
  const Case cases[] = {{0, 0}, {0, 1}, {5, 4096}, {4095, 3}, {1u << 20, (1u << 20) + 1}, {0, src.size()},
                        {src.size() - 9, 9}};
  for (const bool kernel : {true, false}) {
    talvex::SetKernelCopyAllowed(kernel);
    for (const Case& c : cases) {
      const std::string out = tmp / "out";
      talvex::AtomicFileWriter w(out);
      ASSERT_TRUE(w.Write("<", 1) && w.CopyFrom(in.fd(), c.offset, c.len) && w.Write(">", 1) && w.Commit())
          << kernel << " " << c.offset << " " << c.len << " " << w.error();
      EXPECT_EQ(testsupport::ReadText(out), "<" + src.substr(c.offset, c.len) + ">")
          << kernel << " " << c.offset << " " << c.len;
    }
    // A range past the end of the source fails and leaves no file.
    const std::string out = tmp / ("short" + std::to_string(kernel));
    {
      talvex::AtomicFileWriter w(out);
      EXPECT_FALSE(w.CopyFrom(in.fd(), src.size() - 10, 11) && w.Commit());
      EXPECT_NE(w.error().find("the source file is shorter than expected"), std::string::npos) << w.error();
    }
    EXPECT_FALSE(talvex::FileExists(out));
  }
  talvex::SetKernelCopyAllowed(true);
  // Pages released after a pass read back the same bytes.
  in.ReleasePages(0, in.size());
  in.ReleasePages(12345, 1);
  in.ReleasePages(in.size(), 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.data()), in.size()), src);
}

// A copy that shows its bytes to an observer (the CRC of a payload) shows each byte once, in
// order, and writes them all, in one thread or two (from 4 MiB on), whatever the output holds
// before it (its pieces end on aligned output offsets); a source shorter than the range fails
// either way and leaves no file.
TEST(AtomicWriteTest, ObservedCopySeesEveryByteInOrder) {
  testsupport::TempDir tmp;
  const std::string src = PatternFile(tmp / "src", (9u << 20) + 5);
  const FileBuffer in = FileBuffer::Load(tmp / "src");
  ASSERT_TRUE(in.ok());
  struct Case {
    size_t lead;  // bytes written before the copy
    uint64_t offset, len;
  };
  const Case cases[] = {{0, 3, (1u << 20) + 1}, {64, 0, (4u << 20) - 1}, {0, 0, 8u << 20},
                        {64, 1, src.size() - 1}, {(256u << 10) + 1, 7, 5u << 20}};
  for (const Case& c : cases) {
    const std::string out = tmp / "out";
    const std::string lead(c.lead, 'h');
    std::string seen;
    talvex::AtomicFileWriter w(out);
    ASSERT_TRUE(w.Write(lead.data(), lead.size()) &&
                w.CopyFrom(in.fd(), c.offset, c.len,
                           [&](const uint8_t* p, size_t n) { seen.append(reinterpret_cast<const char*>(p), n); }) &&
                w.Commit())
        << c.lead << " " << c.len << " " << w.error();
    EXPECT_TRUE(seen == src.substr(c.offset, c.len)) << c.lead << " " << c.len;
    EXPECT_TRUE(testsupport::ReadText(out) == lead + src.substr(c.offset, c.len)) << c.lead << " " << c.len;
  }
  for (const uint64_t len : {uint64_t{1} << 20, src.size()}) {
    const std::string out = tmp / "short";
    {
      talvex::AtomicFileWriter w(out);
      EXPECT_FALSE(w.CopyFrom(in.fd(), src.size() - len + 1, len, [](const uint8_t*, size_t) {}) && w.Commit()) << len;
      EXPECT_NE(w.error().find("the source file is shorter than expected"), std::string::npos) << w.error();
    }
    EXPECT_FALSE(talvex::FileExists(out));
  }
}
