// Raw setup.bin text view of every prefix of a TZ100 and a TZ200 setup (the JSON view and the
// key-offset word are checked end to end by the setup_parser and edge_inputs cases).
#include <gtest/gtest.h>

#include "common/logger.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "setup/setup_func.h"
#include "support/run.h"
#include "support/setup_builder.h"

namespace {

using testsupport::RawSetupWriter;
using Bytes = std::vector<uint8_t>;


const Bytes kTz100 = RawSetupWriter().Header(testsupport::RawTZ100Header{0x8EB5A462, 3, 0, 1, 2})
    .InputInfo({1}).bytes();

// Every other node kind once, an output last; 0x105 is type 5 (only the low byte counts). The
// texts of both files are in raw_setup_text_100.txt and raw_setup_text_200.txt.
const Bytes kTz200 = RawSetupWriter().Header(testsupport::RawTZ200Header{})
    .NetworkInput({1, 2, 3, 4, 5, 6, 7, 8}, 0x105)
    .Cpu({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}).Data({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})
    .Super({1, 2, 3, 4, 5, 6, 7}).Output({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}).bytes();

// Every prefix (an exact-size heap block) succeeds exactly at node boundaries, the whole file with
// the full text; any other fails cleanly, keeping the text of the complete parts.
TEST(RawSetupText, EveryPrefixOfBothForms) {
  const std::pair<bool, std::vector<size_t>> cases[] = {{true, {72, 80}},
                                                        {false, {60, 96, 156, 200, 232, 280}}};
  for (const auto& [is_100, bounds] : cases) {
    const Bytes& full = is_100 ? kTz100 : kTz200;
    std::string complete;  // text at the last boundary passed
    for (size_t len = 0; len <= full.size(); ++len) {
      const Bytes cut(full.begin(), full.begin() + len);
      const bool boundary = std::count(bounds.begin(), bounds.end(), len) > 0;
      std::string text = "kept:";  // appended to
      testing::internal::CaptureStderr();
      EXPECT_EQ(talvex::Report(Setup::RawToString(cut.data(), len, text, is_100)), boundary ? 0 : -1) << len;
      EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), boundary) << len;
      if (boundary) complete = text.substr(5);
      EXPECT_EQ(text, "kept:" + complete) << len;
    }
    EXPECT_EQ(complete, testsupport::ReadText(std::string(TALVEX_TEST_INPUTS) + (is_100 ? "/raw_setup_text_100.txt" : "/raw_setup_text_200.txt")));
  }
}

}  // namespace
