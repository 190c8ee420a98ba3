#include "velaerror.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/reports.h"

using vela_test::MessageLog;

TEST(MessageTable, HoldsSixtyBareTexts) {
  for (int code = 0; code < VELA_NMSG; ++code) {
    ASSERT_NE(error_msg[code], nullptr) << code;
    EXPECT_EQ(std::strpbrk(error_msg[code], ".\n"), nullptr) << code;
  }
  EXPECT_STREQ(error_msg[0], "Unrecognized error code");
  EXPECT_STREQ(error_msg[20], "Can't break query at blank");
  EXPECT_STREQ(error_msg[59], "Database columns not found");
}

TEST(Report, LevelsDecideTheFlagAndTheHandlerTakesTheLines) {
  MessageLog log;
  testing::internal::CaptureStdout();
  vela_info(42, "%s", "1 Apr 1998");
  EXPECT_EQ(vela_errorflag, 0);
  vela_warn(44, "%s", "x");
  vela_info(2, "%s", "");
  EXPECT_EQ(vela_errorflag, 1);  // information never clears it
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"VELA task installation date (1 Apr 1998)\n",
                                      "Could not parse option (x)\n", "Illegal value ()\n"}));
}

TEST(Report, WritesToStandardOutputWithoutAHandler) {
  testing::internal::CaptureStdout();
  vela_info(1, "%s", "rules.dat");
  vela_info(23, "%d", 4);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot open file (rules.dat)\nWrong number of arguments to task (4)\n");
}

TEST(Report, LineIsCutAt511Characters) {
  MessageLog log;
  const int text_len = static_cast<int>(std::strlen(error_msg[2]));
  // Text and detail reaching 509: " (" fills the line, ")\n" is lost.
  vela_info(2, "%s", std::string(509 - text_len, 'd').c_str());
  // At 508 only the newline is lost.
  vela_info(2, "%s", std::string(508 - text_len, 'd').c_str());
  // A detail far longer than any buffer is cut, not overrun.
  vela_info(2, "%s%s", std::string(3000, 'x').c_str(), std::string(3000, 'y').c_str());
  ASSERT_EQ(log.lines.size(), 3u);
  for (const std::string& line : log.lines) EXPECT_EQ(line.size(), 511u);
  EXPECT_EQ(log.lines[0].back(), 'd');
  EXPECT_EQ(log.lines[1].back(), ')');
  EXPECT_EQ(log.lines[2].find('y'), std::string::npos);
}

TEST(ReportDeathTest, ErrorsAndBadCodesEndWithStatusOne) {
  EXPECT_EXIT((STDOUT_TO_STDERR(), vela_error(1, "%s", "rules.dat")), testing::ExitedWithCode(1),
              "^Cannot open file \\(rules.dat\\)\n$");
  EXPECT_EXIT((STDOUT_TO_STDERR(), vela_warn(60, "%s", "x")), testing::ExitedWithCode(1),
              "^Unrecognized error code \\(60\\)\n$");
  EXPECT_EXIT((STDOUT_TO_STDERR(), vela_info(-1, "%s", "x")), testing::ExitedWithCode(1),
              "^Unrecognized error code \\(-1\\)\n$");
}

TEST(ReportDeathTest, ErrorEndsTheProcessAfterTheHandler) {
  auto run = [] {
    vela_errhandler = [](int level, char* text) { std::fprintf(stderr, "[%d] %s", level, text); };
    vela_error(43, "%s", "w");
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(1), "^\\[2\\] Option name not recognized \\(w\\)\n$");
}
