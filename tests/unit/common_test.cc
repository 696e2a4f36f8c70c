// The Status that carries every failure: its messages keep their order across merges and the
// code follows the last failure. (Helpers of src/common are reached end to end by the cases.)
#include <gtest/gtest.h>

#include <string>

#include "common/logger.h"
#include "common/status.h"

namespace {

TEST(StatusTest, MessagesKeepTheirOrderAndTheCodeFollowsTheFailure) {
  talvex::Status st;
  EXPECT_TRUE(st.ok());
  st.Note(talvex::Status::Error("noted only"));  // a failure that does not stop the step
  EXPECT_TRUE(st.ok());
  st.Merge(talvex::Status(-1).Out("second"));
  EXPECT_EQ(st.code(), -1);
  st.Merge(talvex::Status::Error("third", 7));
  EXPECT_EQ(st.code(), 7);
  ASSERT_EQ(st.messages().size(), 3u);
  EXPECT_EQ(st.messages()[0].sink, talvex::Sink::kStderr);
  EXPECT_EQ(st.messages()[1].sink, talvex::Sink::kStdout);
  EXPECT_EQ(st.messages()[1].text, "second");
  // Reported once: the plain lines go to their streams, in order.
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(talvex::Report(st), 7);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "second\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "noted only\nthird\n");
  // A log line carries its call site.
  const talvex::Status logged = TALVEX_STATUS_ERROR(LogCateg::Tool, "bad {}", 5);
  ASSERT_EQ(logged.messages().size(), 1u);
  EXPECT_EQ(logged.messages()[0].sink, talvex::Sink::kLog);
  EXPECT_EQ(logged.messages()[0].categ, LogCateg::Tool);
  EXPECT_EQ(logged.messages()[0].text.rfind("[common_test.cc:", 0), 0u);
  EXPECT_NE(logged.messages()[0].text.find("][TestBody] bad 5"), std::string::npos);
}

}  // namespace
