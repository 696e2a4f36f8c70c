// End-to-end: data on standard output, diagnostics on standard error; a command that did not do
// what was asked never exits 0, and says why; messages that say what is missing; files a mode does
// not take are refused; colour only on a terminal, never with NO_COLOR.
#include "support/tool_test.h"

namespace {

using namespace testsupport;

class StreamsTest : public ToolTest {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "a.bnx", BuildBnx(SampleBnx()));
    SampleBnx other;
    other.crc = 0x55667788;
    WriteBytes(dir_ / "b.bnx", BuildBnx(other));
    WriteSampleTxm(dir_ / "m.txm");
    WriteText(dir_ / "junk.txm", "not a TXM file");
    WriteText(dir_ / "all.bin", "x");
    Bytes damaged = BuildBnx(SampleBnx());
    char mismatch[96];  // the CRC trailer no longer checks out; the buffer still verifies
    snprintf(mismatch, sizeof mismatch, "damaged.bnx: trailer crc: FAILED: expected 0x%08x, found 0x12345678",
             Crc32(damaged, 0, damaged.size() - 4));
    mismatch_ = mismatch;
    PutLE32(damaged, damaged.size() - 4, 0x12345678);
    WriteBytes(dir_ / "damaged.bnx", damaged);
    WriteText(dir_ / "empty.bnx", "");
    WriteText(dir_ / "junk.bnx", "this is not a container at all, just text");
    ASSERT_EQ(testsupport::Run({"/bin/mkdir", dir_ / "folder.bnx"}).status, 0);
    Bytes txm = BuildSampleTxm();
    txm.resize(txm.size() / 2);
    WriteBytes(dir_ / "cut.txm", txm);
  }
  RunResult Tool(const Strings& args) { return ToolTest::Tool(args, {"SPDLOG_LEVEL=", "NO_COLOR=1"}); }
  std::string mismatch_;
};

TEST_F(StreamsTest, EachLineOnItsStreamAndFailuresAreNeverSuccess) {
  struct Case {
    Strings args;
    int status;
    const char* stream;
    std::string fragment;
    Strings absent;  // nothing written here
  };
  const Case cases[] = {
      // Logged failures (error level) go to standard error (usage and version texts: command_line_test).
      {{"-X", "missing.bnx", "-O", "out"}, 255, "err", "[common][error]", {"out/missing.bnx"}},
      // Warnings too.
      {{"-S", "m.txm", "-d", "0", "-p", "missing.json"}, 255, "err", "no such file: missing.json (-p(--json_path))",
       {"output"}},
      {{"-S", "m.txm", "-d", "0"}, 255, "err", "the address file is missing: -p(--json_path)", {"output"}},
      {{"-S", "missing.txm", "-d", "0", "-p", "m.txm"}, 255, "err", "no such file: missing.txm (-S(--split_core))",
       {"output"}},
      {{"-j", "missing.txm"}, 255, "err", "no such file: missing.txm (-j(--txm_to_json))", {"output"}},
      {{"-G", "-t", "300", "-h", "missing.bin", "-m", "all.bin"}, 255, "err", "no such file: missing.bin (-h(--header))",
       {"output"}},
      {{"-G", "-t", "300", "-m", "gone.bin"}, 255, "err", "no such file: gone.bin (-m(--model))", {"output"}},
      {{"-G", "-t", "400", "-e", "missing.txm"}, 255, "err", "no such file: missing.txm (-e(--txm))", {"output"}},
      {{"-G", "-t", "400"}, 255, "err", "the TXM file is missing: -e(--txm)", {"output"}},
      {{"-G", "-t", "400", "-e", "junk.txm", "-O", "o2"}, 2, "err", "junk.txm", {"o2/models_400.bnx"}},
      {{"-G", "-t", "700", "-e", "m.txm"}, 255, "err", "unknown target: 700 (valid targets: 100, 200, 300, 400, 500, 600)",
       {"output"}},
      {{"-G", "-e", "m.txm"}, 255, "err", "the target is missing: -t(--target)", {"output"}},
      // Files a mode does not take are refused, not ignored.
      {{"-R", "a.bnx", "b.bnx", "-k", "crc"}, 1, "err", "unexpected argument: b.bnx", {}},
      {{"-M", "a.bnx", "b.bnx", "-N", "0"}, 1, "err", "unexpected argument: b.bnx", {}},
      {{"-U", "a.bnx", "b.bnx", "-o", "u"}, 1, "err", "unexpected argument: b.bnx", {"output/u.bnx"}},
      {{"-R", "a.bnx b.bnx", "-k", "crc"}, 255, "err", "-R(--read) takes one file; refusing the extra file b.bnx", {}},
      // Failures are never success.
      {{"-R", "a.bnx", "-k", "target"}, 0, "out", "400\n", {}},
      {{"-R", "empty.bnx", "-k", "target"}, 255, "err", "empty.bnx (file is empty)", {}},
      {{"-R", "junk.bnx", "-k", "target"}, 255, "err", "Not a valid BNX file.", {}},
      {{"-R", "folder.bnx", "-k", "target"}, 255, "err", "folder.bnx", {}},
      {{"-R", "a.bnx"}, 255, "err", "the header key is missing: -k(--header_key) one of platform, target", {}},
      {{"-R", "a.bnx", "-k", "colour"}, 255, "err", "unknown header key: colour (valid keys: platform, target", {}},
      {{"-M", "a.bnx", "-N", "0"}, 0, "out", "#001 {   32768} (       1.0) [det]", {}},
      {{"-M", "a.bnx"}, 255, "err", "the model positions are missing: -N(--model_idx)", {}},
      {{"-M", "empty.bnx", "-N", "0"}, 255, "err", "file is empty", {}},
      {{"-M", "junk.bnx", "-N", "0"}, 255, "err", "Not a valid BNX file.", {}},
      {{"-I", "a.bnx"}, 0, "out", "BNX Header:", {}},
      {{"-I", "empty.bnx"}, 255, "err", "file is empty", {}},
      {{"-I", "junk.bnx"}, 255, "err", "Not a valid BNX file.", {}},
      {{"-I", "folder.bnx"}, 255, "err", "folder.bnx", {}},
      {{"-A", "m.txm"}, 0, "out", "CheckAlignment successfully", {}},
      {{"-A", "cut.txm"}, 255, "out", "CheckAlignment failed", {}},
      {{"-A", "missing.txm"}, 255, "out", "CheckAlignment failed", {}},
      // A damaged trailer: -X refuses it; -I -s prints the header view, then refuses to extract;
      // -C and -I (header view) are unchanged.
      {{"-X", "damaged.bnx", "-O", "out"}, 255, "err", mismatch_, {"out"}},
      {{"-I", "damaged.bnx", "-O", "out", "-s"}, 255, "out", "BNX Header:", {"out"}},
      {{"-C", "damaged.bnx"}, 0, "out", "0x", {}},
      {{"-I", "damaged.bnx"}, 0, "out", "BNX Header:", {}},
  };
  for (const Case& c : cases) {
    std::string what;
    for (size_t i = 0; i < c.args.size() && i < 3; ++i) what += c.args[i] + " ";
    const RunResult r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << what << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(std::string(c.stream) == "out" ? r.out : r.err, c.fragment)) << what << "\n" << r.out << r.err;
    if (c.status != 0) EXPECT_FALSE(Contains(r.out, "[error]")) << what << r.out;
    // A failed reading command prints no report on standard output.
    const bool reader = c.args[0] == "-R" || c.args[0] == "-M" || (c.args[0] == "-I" && c.args.back() != "-s");
    if (c.status != 0 && reader) EXPECT_EQ(r.out, "") << what;
    if (c.status == 0) EXPECT_EQ(r.err, "") << what;
    for (const std::string& p : c.absent) EXPECT_FALSE(Exists(dir_ / p)) << what << " " << p;
  }
}

// Colour needs a terminal: run under script(1), which gives the tool one.
TEST_F(StreamsTest, ColourOnlyOnATerminalAndNeverWithNoColor) {
  if (!Exists("/usr/bin/script")) GTEST_SKIP() << "script(1) is not installed";
  const std::string cmd = std::string(TALVEX_BIN) + " -R missing.bnx -X missing.bnx";
  const RunResult tty = testsupport::Run({"/usr/bin/script", "-qec", cmd, "/dev/null"}, dir_.path(), {"TERM=xterm", "SPDLOG_LEVEL="});
  EXPECT_TRUE(Contains(tty.out, "\x1b[")) << tty.out;
  const RunResult plain =
      testsupport::Run({"/usr/bin/script", "-qec", cmd, "/dev/null"}, dir_.path(), {"TERM=xterm", "NO_COLOR=1", "SPDLOG_LEVEL="});
  EXPECT_TRUE(Contains(plain.out, "[common][error]")) << plain.out;
  EXPECT_FALSE(Contains(plain.out, "\x1b[")) << plain.out;
  // Not a terminal: no colour either.
  const RunResult piped = RunTool(TALVEX_BIN, {"-X", "missing.bnx"}, dir_.path(), {"TERM=xterm", "SPDLOG_LEVEL="});
  EXPECT_FALSE(Contains(piped.err, "\x1b[")) << piped.err;
}

}  // namespace
