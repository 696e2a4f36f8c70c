// The Status that carries every failure to the front end. (Exception texts and their exit statuses
// are checked end to end: model_modes_test, gen_mode_test.)
#include "common/exceptions.h"

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
}

TEST(StatusTest, ALogLineCarriesItsCallSite) {
  const talvex::Status st = TALVEX_STATUS_ERROR(LogCateg::Tool, "bad {}", 5);
  ASSERT_EQ(st.messages().size(), 1u);
  EXPECT_EQ(st.messages()[0].sink, talvex::Sink::kLog);
  EXPECT_EQ(st.messages()[0].categ, LogCateg::Tool);
  EXPECT_EQ(st.messages()[0].text.rfind("[exceptions_test.cc:", 0), 0u);
  EXPECT_NE(st.messages()[0].text.find("][TestBody] bad 5"), std::string::npos);
}

}  // namespace
