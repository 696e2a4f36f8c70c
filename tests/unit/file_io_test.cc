// The file layer where the cases cannot reach: an input changing under its mapping (and the
// death of the command it causes), and copies through the kernel, the read/write path and the
// ring of an observed copy. (Missing, empty and folder inputs and whole-file replacement: cases.)
#include "common/file_io.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
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
  ASSERT_EQ(truncate(other.c_str(), size + 1), 0);  // not an input: the tool's own file
  EXPECT_TRUE(talvex::ChangedInputs().empty());
  ASSERT_EQ(truncate(in.c_str(), 10), 0);
  EXPECT_EQ(talvex::ChangedInputs(), Names{in});
  const talvex::Status after = talvex::WriteNewFile(tmp / "after", "x", 1);
  ASSERT_FALSE(after.ok());
  EXPECT_NE(after.messages().back().text.find("(" + in + " changed while it was being read)"), std::string::npos);
  fb = FileBuffer();  // gone, but still remembered for the command
  EXPECT_EQ(talvex::ChangedInputs(), Names{in});
  EXPECT_EQ(talvex::CheckInputsUnchanged().code(), -1);

  talvex::ProtectInputs({});  // the next command starts afresh
  EXPECT_TRUE(talvex::ChangedInputs().empty());

  const std::string cut = tmp / "cut";
  testsupport::WriteText(cut, std::string(size, 'x'));
  const FileBuffer mapped = FileBuffer::Load(cut);
  ASSERT_TRUE(talvex::WriteNewFile(tmp / "before", "x", 1).ok());
  EXPECT_EXIT(
      {
        talvex::BeginOutputs();
        (void)talvex::WriteNewFile(tmp / "made", "x", 1);
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

// Ranges copied file to file come out the same whichever way the bytes travel: in the kernel,
// through the read/write path across its chunk boundaries, or shown to an observer (the CRC of a
// payload: each byte once, in order; two threads from 4 MiB on) after any lead written before;
// a range past the end of the source fails either way and leaves no file.
TEST(AtomicWriteTest, CopyFromCopiesExactRangesEveryWay) {
  testsupport::TempDir tmp;
  const std::string src = PatternFile(tmp / "src", (9u << 20) + 5);
  const FileBuffer in = FileBuffer::Load(tmp / "src");
  ASSERT_TRUE(in.ok() && in.fd() >= 0);
  enum Way { kKernel, kReadWrite, kObserved };
  struct Case {
    Way way;
    size_t lead;  // bytes written before the copy
    uint64_t offset, len;
  };
  const uint64_t n = src.size();
  const Case cases[] = {
      {kKernel, 1, 0, 0}, {kKernel, 1, 0, 1}, {kKernel, 1, 4095, 3}, {kKernel, 1, 1u << 20, (1u << 20) + 1},
      {kKernel, 1, 0, n}, {kKernel, 1, n - 9, 9}, {kReadWrite, 1, 5, 4096}, {kReadWrite, 1, 4095, 3},
      {kReadWrite, 1, 1u << 20, (1u << 20) + 1}, {kReadWrite, 1, 0, n}, {kReadWrite, 1, n - 9, 9},
      {kObserved, 0, 3, (1u << 20) + 1}, {kObserved, 64, 0, (4u << 20) - 1}, {kObserved, 0, 0, 8u << 20},
      {kObserved, 64, 1, n - 1}, {kObserved, (256u << 10) + 1, 7, 5u << 20},
      // Past the end of the source.
      {kKernel, 0, n - 10, 11}, {kReadWrite, 0, n - 10, 11}, {kObserved, 0, n - (1u << 20) + 1, 1u << 20},
      {kObserved, 0, 1, n}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.way) + " " + std::to_string(c.offset) + " " + std::to_string(c.len));
    const bool fits = c.offset + c.len <= n;
    talvex::SetKernelCopyAllowed(c.way == kKernel);
    const std::string out = tmp / "out", lead(c.lead, 'h');
    std::string seen;
    {
      talvex::AtomicFileWriter w(out);
      const bool copied =
          w.Write(lead.data(), lead.size()) &&
          (c.way != kObserved ? w.CopyFrom(in.fd(), c.offset, c.len)
                              : w.CopyFrom(in.fd(), c.offset, c.len, [&](const uint8_t* p, size_t k) {
                                  seen.append(reinterpret_cast<const char*>(p), k);
                                })) &&
          w.Commit();
      EXPECT_EQ(copied, fits) << w.error();
      if (!fits) EXPECT_NE(w.error().find("the source file is shorter than expected"), std::string::npos) << w.error();
    }
    EXPECT_EQ(talvex::FileExists(out), fits);
    if (!fits) continue;
    EXPECT_TRUE(testsupport::ReadText(out) == lead + src.substr(c.offset, c.len));
    if (c.way == kObserved) EXPECT_TRUE(seen == src.substr(c.offset, c.len));
    std::remove(out.c_str());
  }
  talvex::SetKernelCopyAllowed(true);
  // Pages released after a pass read back the same bytes.
  in.ReleasePages(0, in.size());
  in.ReleasePages(12345, 1);
  in.ReleasePages(in.size(), 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in.data()), in.size()), src);
}
