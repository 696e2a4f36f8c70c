// End-to-end: a command that did not do what was asked never exits 0, and says why.
#include "support/tool_test.h"

namespace {

using namespace testsupport;

class ExitStatusTest : public ToolTest {
 protected:
  void SetUp() override {
    WriteBytes(dir_ / "m.bnx", BuildBnx(SampleBnx()));
    std::vector<uint8_t> damaged = BuildBnx(SampleBnx());
    char mismatch[64];  // the CRC trailer no longer checks out; the buffer still verifies
    snprintf(mismatch, sizeof mismatch, "CRC trailer mismatch (expected 0x%08x, found 0x12345678)",
             Crc32(damaged, 0, damaged.size() - 4));
    mismatch_ = mismatch;
    PutLE32(damaged, damaged.size() - 4, 0x12345678);
    WriteBytes(dir_ / "damaged.bnx", damaged);
    WriteText(dir_ / "empty.bnx", "");
    WriteText(dir_ / "junk.bnx", "this is not a container at all, just text");
    ASSERT_EQ(testsupport::Run({"/bin/mkdir", dir_ / "folder.bnx"}).status, 0);
    WriteSampleTxm(dir_ / "m.txm");
    std::vector<uint8_t> txm = BuildSampleTxm();
    txm.resize(txm.size() / 2);
    WriteBytes(dir_ / "cut.txm", txm);
  }
  RunResult Tool(const Strings& args) { return ToolTest::Tool(args, {"SPDLOG_LEVEL=", "NO_COLOR=1"}); }
  std::string mismatch_;
};

TEST_F(ExitStatusTest, FailuresAreNeverSuccess) {
  struct Case {
    Strings args;
    int status;
    const char* stream;
    std::string fragment;
  };
  const Case cases[] = {
      {{"-R", "m.bnx", "-k", "target"}, 0, "out", "400\n"},
      {{"-R", "empty.bnx", "-k", "target"}, 255, "err", "empty.bnx (file is empty)"},
      {{"-R", "junk.bnx", "-k", "target"}, 255, "err", "Not a valid BNX file."},
      {{"-R", "folder.bnx", "-k", "target"}, 255, "err", "folder.bnx"},
      {{"-R", "m.bnx"}, 255, "err", "the header key is missing: -k(--header_key) one of platform, target"},
      {{"-R", "m.bnx", "-k", "colour"}, 255, "err", "unknown header key: colour (valid keys: platform, target"},
      {{"-M", "m.bnx", "-N", "0"}, 0, "out", "#001 {   32768} (       1.0) [det]"},
      {{"-M", "m.bnx"}, 255, "err", "the model positions are missing: -N(--model_idx)"},
      {{"-M", "empty.bnx", "-N", "0"}, 255, "err", "file is empty"},
      {{"-M", "junk.bnx", "-N", "0"}, 255, "err", "Not a valid BNX file."},
      {{"-I", "m.bnx"}, 0, "out", "BNX Header:"},
      {{"-I", "empty.bnx"}, 255, "err", "file is empty"},
      {{"-I", "junk.bnx"}, 255, "err", "Not a valid BNX file."},
      {{"-I", "folder.bnx"}, 255, "err", "folder.bnx"},
      // The sample's payload is no TXM file: the report is printed, the extraction fails.
      {{"-I", "m.bnx", "-s"}, 255, "out", "BNX Header:"},
      {{"-A", "m.txm"}, 0, "out", "CheckAlignment successfully"},
      {{"-A", "cut.txm"}, 255, "out", "CheckAlignment failed"},
      {{"-A", "missing.txm"}, 255, "out", "CheckAlignment failed"},
      // A damaged trailer: -X refuses it; -C and -I (header view) are unchanged.
      {{"-X", "damaged.bnx", "-O", "out"}, 255, "err", mismatch_},
      {{"-C", "damaged.bnx"}, 0, "out", "0x"},
      {{"-I", "damaged.bnx"}, 0, "out", "BNX Header:"},
  };
  for (const Case& c : cases) {
    const std::string what = c.args[0] + " " + c.args[1] + (c.args.size() > 2 ? " " + c.args[2] : "");
    const RunResult r = Tool(c.args);
    EXPECT_EQ(r.status, c.status) << what << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(std::string(c.stream) == "out" ? r.out : r.err, c.fragment)) << what << "\n" << r.out << r.err;
    // A failed reading command prints no report on standard output.
    const bool reader = c.args[0] == "-R" || c.args[0] == "-M" || (c.args[0] == "-I" && c.args.back() != "-s");
    if (c.status != 0 && reader) EXPECT_EQ(r.out, "") << what;
  }
  // The refused container wrote nothing.
  EXPECT_EQ(DirEntries(dir_ / "out"), Strings{});
}

}  // namespace
