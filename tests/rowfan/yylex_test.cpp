// The rule file scanner: token boundaries and texts, line counting, and the
// bytes a rule file should not hold (quotes left open, CR, NUL, high bytes).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/scratch.h"
#include "yyparse.hpp"

namespace {

static_assert(IMPLIES == 258 && SEMI == 259 && OR == 260 && AND == 261 && EQUALS == 262 &&
              WORD == 263 && OTHER == 264);

struct Token {
  int code;
  std::string text;  // yyleng bytes, so a NUL shows
  int line;          // the parse's xline after the token
  bool operator==(const Token&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Token& t) {
  return out << "{" << t.code << ", \"" << t.text << "\", " << t.line << "}";
}

// Every token of `bytes`, read from a file as a rule file is, and, last,
// the end of input.
std::vector<Token> scan(const std::string& bytes) {
  FILE* stream = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  RuleFile rules;
  RuleParse parse{.rules = rules};
  start_rule_scanner(parse, stream);
  std::vector<Token> tokens;
  YYSTYPE value;
  int code;
  do {
    code = rule_token(&value, parse.scanner.get());
    tokens.push_back({code, std::string(rule_token_text(parse)), parse.xline});
  } while (code != 0 && tokens.size() < 1000);
  EXPECT_EQ(rule_token(&value, parse.scanner.get()), 0) << "the end of input is returned again";
  parse.scanner.reset();
  std::fclose(stream);
  return tokens;
}

using Tokens = std::vector<Token>;

TEST(Scanner, OperatorsNeedBothCharactersSideBySide) {
  EXPECT_EQ(scan("KIND=>A"),
            (Tokens{{WORD, "KIND", 1}, {IMPLIES, "=>", 1}, {WORD, "A", 1}, {0, "", 1}}));
  EXPECT_EQ(
      scan("KIND = = A"),
      (Tokens{{WORD, "KIND", 1}, {EQUALS, "=", 1}, {EQUALS, "=", 1}, {WORD, "A", 1}, {0, "", 1}}));
  EXPECT_EQ(scan("= >&&&||| ;"), (Tokens{{EQUALS, "=", 1},
                                         {OTHER, ">", 1},
                                         {AND, "&&", 1},
                                         {OTHER, "&", 1},
                                         {OR, "||", 1},
                                         {OTHER, "|", 1},
                                         {SEMI, ";", 1},
                                         {0, "", 1}}));
}

TEST(Scanner, WordsEndAtTheFirstNonWordCharacter) {
  EXPECT_EQ(scan("1.5e+3 -2\tA_B.C ABC#x => y\nA'B'"), (Tokens{{WORD, "1.5e+3", 1},
                                                               {WORD, "-2", 1},
                                                               {WORD, "A_B.C", 1},
                                                               {WORD, "ABC", 1},
                                                               {WORD, "A", 2},
                                                               {WORD, "'B'", 2},
                                                               {0, "", 2}}));
}

TEST(Scanner, QuotedStringsHoldAnythingButTheirQuoteAndCountTheirLines) {
  EXPECT_EQ(
      scan("'a \"#;=\nb' \"x'\n\ny\" z # end"),
      (Tokens{{WORD, "'a \"#;=\nb'", 2}, {WORD, "\"x'\n\ny\"", 4}, {WORD, "z", 4}, {0, "", 4}}));
  const std::string long_value = "'" + std::string(100000, 'q') + "'";
  EXPECT_EQ(scan(long_value + ";"), (Tokens{{WORD, long_value, 1}, {SEMI, ";", 1}, {0, "", 1}}));
}

// Tokens far larger than the scanner's reads are whole tokens. (A token
// that outgrew the buffer used to be scanned again from its start after
// every read; fuzz/pathological.sh times a 10 MB value.)
TEST(Scanner, TokensLargerThanTheBufferAreWhole) {
  const size_t length = 4u << 20;
  const std::string bytes = "'" + std::string(length, 'q') + "' #" + std::string(length, 'c') +
                            "\n" + std::string(length, 'w');
  std::vector<Token> tokens = scan(bytes);
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].text.size(), length + 2);
  EXPECT_EQ(tokens[1].text.size(), length);
  EXPECT_EQ(tokens[1].line, 2);
}

TEST(Scanner, UnclosedQuoteIsAloneThenScanningGoesOn) {
  EXPECT_EQ(scan("'abc\ndef"),
            (Tokens{{OTHER, "'", 1}, {WORD, "abc", 1}, {WORD, "def", 2}, {0, "", 2}}));
  EXPECT_EQ(scan("\"" + std::string(100000, 'q')).front(), (Token{OTHER, "\"", 1}));
}

TEST(Scanner, BadBytesAreSingleOtherTokens) {
  using namespace std::string_literals;
  EXPECT_EQ(scan("A\r\nB\x80\xff"), (Tokens{{WORD, "A", 1},
                                            {OTHER, "\r", 1},
                                            {WORD, "B", 2},
                                            {OTHER, "\x80", 2},
                                            {OTHER, "\xff", 2},
                                            {0, "", 2}}));
  // NUL: an OTHER of its own, or part of a comment or quoted string.
  EXPECT_EQ(
      scan("A\0B #\0x\n'\0'"s),
      (Tokens{{WORD, "A", 1}, {OTHER, "\0"s, 1}, {WORD, "B", 1}, {WORD, "'\0'"s, 2}, {0, "", 2}}));
}

TEST(Scanner, EmptyInputAndTrailingComments) {
  EXPECT_EQ(scan(""), (Tokens{{0, "", 1}}));
  EXPECT_EQ(scan("\n\n# only a comment"), (Tokens{{0, "", 3}}));
}

TEST(ScannerDeathTest, ReadFailureEndsWithStatusTwo) {
  vela_test::ScratchDir dir("rowfan-rules");
  EXPECT_EXIT(
      {
        RuleFile rules;
        RuleParse parse{.rules = rules};
        start_rule_scanner(parse, std::fopen(dir.path().c_str(), "r"));
        YYSTYPE value;
        rule_token(&value, parse.scanner.get());
      },
      testing::ExitedWithCode(2), "^input in flex scanner failed\n$");
}

}  // namespace
