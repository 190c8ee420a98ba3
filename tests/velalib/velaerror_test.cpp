#include <velalib/velaerror.h>

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

TEST(Report, EveryMessageIsOneLineWithin511Characters) {
  MessageLog log;
  const int text_len = static_cast<int>(std::strlen(error_msg[2]));
  // A detail that just fits, and one a character longer, whose middle gives
  // way so that the closing bracket and the newline stay.
  vela_info(2, "%s", std::string(507 - text_len, 'd').c_str());
  vela_info(2, "%s", std::string(508 - text_len, 'd').c_str());
  // A detail far longer than any buffer keeps both its ends.
  vela_info(2, "%s%s", std::string(3000, 'x').c_str(), std::string(3000, 'y').c_str());
  // Control bytes other than the tab are shown as escapes.
  vela_info(2, "%s", "a\nb\r\x1b[31m\tc\x7f");
  // A line composed elsewhere is held to the same.
  std::string finding = "rules:2: no column X\nY\n";
  vela_message(0, finding.data());
  ASSERT_EQ(log.lines.size(), 5u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(log.lines[i].size(), 511u) << i;
    EXPECT_TRUE(log.lines[i].ends_with(")\n")) << i;
  }
  EXPECT_EQ(log.lines[0].find("..."), std::string::npos);
  EXPECT_NE(log.lines[1].find("d...d"), std::string::npos);
  EXPECT_TRUE(log.lines[2].starts_with("Illegal value (xxx"));
  EXPECT_NE(log.lines[2].find("x...y"), std::string::npos);
  EXPECT_TRUE(log.lines[2].ends_with("yyy)\n"));
  EXPECT_EQ(log.lines[3], "Illegal value (a\\nb\\r\\x1b[31m\tc\\x7f)\n");
  EXPECT_EQ(log.lines[4], "rules:2: no column X\\nY\n");
}

// Control bytes take two or four characters when shown: details of them
// that just fit, and a byte or two more, keep the line within 511
// characters and keep its closing bracket, through a report and through a
// line composed elsewhere.
TEST(Report, ShownControlBytesAtAndPastTheLimit) {
  MessageLog log;
  const std::string text = error_msg[2];
  const size_t room = 511 - text.size() - 4;  // " (" and ")\n"
  struct Shown {
    char byte;
    const char* as;
  };
  for (Shown c : {Shown{'\x1b', "\\x1b"}, Shown{'\n', "\\n"}, Shown{'\x7f', "\\x7f"}}) {
    const size_t width = std::strlen(c.as);
    for (size_t n = room / width - 2; n <= room / width + 2; ++n) {
      for (size_t plain = 0; plain < width; ++plain) {
        std::string detail = std::string(plain, 'd') + std::string(n, c.byte);
        log.lines.clear();
        vela_info(2, "%s", detail.c_str());
        std::string body = "x" + detail + "y";
        vela_message(0, body.data());
        ASSERT_EQ(log.lines.size(), 2u);
        const std::string& line = log.lines[0];
        SCOPED_TRACE(testing::Message() << int(c.byte) << " x" << n << " after " << plain);
        EXPECT_LE(line.size(), 511u);
        EXPECT_TRUE(line.ends_with(")\n")) << line;
        std::string shown = std::string(plain, 'd');
        for (size_t i = 0; i < n; ++i) shown += c.as;
        if (shown.size() <= room) {
          EXPECT_EQ(line, text + " (" + shown + ")\n");
        } else {
          EXPECT_NE(line.find("..."), std::string::npos) << line;
        }
        EXPECT_LE(log.lines[1].size(), 510u);
        if (shown.size() + 2 <= 510) {
          EXPECT_EQ(log.lines[1], "x" + shown + "y");
        }
      }
    }
  }
}

// A cut moves off the continuation bytes of a UTF-8 sequence, at most three;
// a longer run of them is no sequence and keeps what is past the third.
TEST(Report, CutSkipsAtMostThreeContinuationBytes) {
  char out[64];
  const std::string head(20, 'a');
  vela_fit_detail(out, 20, head + "\xf0\x9f\x98\x80zzzzzz");
  EXPECT_EQ(std::string(out), "aaaaaaaaa...zzzzzz");
  vela_fit_detail(out, 20, head + std::string(6, '\x80') + "zzzz");
  EXPECT_EQ(std::string(out), "aaaaaaaaa...\x80zzzz");
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
