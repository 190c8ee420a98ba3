// The load file reader: which files it takes, what Table it builds, and the
// line it names when it refuses a file.

#include <loadfile/loadfile.h>
#include "loadsplit.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "loadsplit.h"
#include "storage.h"
#include "support/plainreader.h"
#include "support/process.h"
#include "support/scratch.h"
#include "support/tables.h"

namespace {

using vela_test::dump_table;

class ReadLoadfile : public vela_test::ScratchTest {
 protected:
  TablePtr read_text(std::string_view text) {
    return TablePtr(read_loadfile(put_file("in.lod", text).c_str()));
  }
};

TEST_F(ReadLoadfile, SmallestFileGivesEmptyTable) {
  TablePtr t = read_text("ENDHEADER\nENDFILE\n");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->keynames.count, 0);
  EXPECT_EQ(t->ncol, 0);
  EXPECT_EQ(t->nrow, 0);
}

TEST_F(ReadLoadfile, HeaderNamesValuesAndComment) {
  TablePtr t = read_text(
      "# remark\n\n"
      "TITLE = first\n"
      " \t two \t words  =  one   two\t\n"
      "formula = a=b\n"
      "= no name\n"
      "EMPTY =\n"
      "N\x80ME = v\xffx\n"
      "title = second\n"
      "comment = text\n"
      "NOT = a keyword\n"
      "\n"
      "# kept as written \xff\n"
      "EndHeader \t\r\n"
      "ENDFILE\n");
  ASSERT_TRUE(t) << lod_error;
  EXPECT_EQ(dump_table(t.get()),
            "TITLE=second\nTWO WORDS=one two\nFORMULA=a=b\n=no name\nEMPTY=\nN ME=v x\n"
            "COMMENT= text\nNOT = a keyword\n\n# kept as written \xff\n\n"
            "|\n");
}

TEST_F(ReadLoadfile, RowsColumnsAndRowComments) {
  TablePtr t = read_text(
      "ENDHEADER\n"
      "A = 1\nb = x\nENDROW = 5\nb = y\n"
      "COMMENT = one\ntwo\n# three\n"
      "endrow  \n"
      "C = new\na = 2\n"
      "ENDROW\n"
      "\n# between rows\n"
      "A = 3\n"
      "COMMENT = last\n"
      "ENDFILE\n\n \t\n");
  ASSERT_TRUE(t) << lod_error;
  EXPECT_EQ(dump_table(t.get()),
            "| A | B | ENDROW | COMMENT | C |\n"
            "| 1 | y | 5 |  one\ntwo\n# three\n |  |\n"
            "| 2 |  |  |  | new |\n"
            "| 3 |  |  |  last\n |  |\n");
}

TEST_F(ReadLoadfile, LongestLineAndTrailingEmptyRowAccepted) {
  std::string value(78 - 4, 'v');
  TablePtr t = read_text("ENDHEADER\nA = " + value + "\nENDROW\nENDROW\nENDFILE\n");
  ASSERT_TRUE(t) << lod_error;
  EXPECT_EQ(dump_table(t.get()), "| A |\n| " + value + " |\n");
}

// Lines cross the reader's block boundaries at every possible offset, and a
// long comment grows over many blocks.
TEST_F(ReadLoadfile, LargeFileReadsWholeAndCountsLines) {
  std::string lines(200000, '\n');
  std::string text = "COMMENT = c\n" + lines + "ENDHEADER\n";
  constexpr int kRows = 40000;
  for (int r = 0; r < kRows; ++r) {
    text += "A = " + std::to_string(r) + "\nB = " + std::string(r % 70, 'b') + "\nENDROW\n";
  }
  text += "ENDFILE\n";
  TablePtr t = read_text(text);
  ASSERT_TRUE(t) << lod_error;
  ASSERT_EQ(t->nrow, kRows);
  EXPECT_EQ(std::string(get_tab_cell(t.get(), "A", 31234)), "31234");
  EXPECT_EQ(std::string(get_tab_cell(t.get(), "B", 31234)).size(), 31234u % 70);
  EXPECT_EQ(std::string(get_tab_key(t.get(), "COMMENT")), " c\n" + lines);

  text += "# not allowed here\n";
  EXPECT_FALSE(read_text(text));
  EXPECT_EQ(std::string(lod_error),
            "Syntax error in loadile at line " + std::to_string(3 * kRows + 200004));
}

// Rows that name their columns the same way in the same order go the quick
// way; every other spelling, order and near miss must come out the same as
// a name read afresh.
TEST_F(ReadLoadfile, RowsNameTheirColumnsInAnyWay) {
  TablePtr t = read_text(
      "ENDHEADER\n"
      "A = 1\nAB = 2\nB = 3\nA B = 4\nCOMMENT = c0\nENDROW\n"
      "A = 5\nAB = 6\nB = 7\nA B = 8\nCOMMENT = c1\nmore\nENDROW\n"
      " a= 9\nA  B = x\nB=  10  \nab = 11\nENDROW\n"
      "AB = 12\nA = 13\nA = 14\nA=B = 15\nCOMMENT=\nENDROW\n"
      "A = 16\nAB = 17\nB = 18\nENDFILE\n");
  ASSERT_TRUE(t) << lod_error;
  EXPECT_EQ(dump_table(t.get()),
            "| A | AB | B | A B | COMMENT |\n"
            "| 1 | 2 | 3 | 4 |  c0\n |\n"
            "| 5 | 6 | 7 | 8 |  c1\nmore\n |\n"
            "| 9 | 11 | 10 | x |  |\n"
            "| B = 15 | 12 |  |  | \n |\n"
            "| 16 | 17 | 18 |  |  |\n");
}

// The file is read in blocks of 128 KiB: a bad line is found at its own line
// wherever it stands against the end of the first block.
TEST_F(ReadLoadfile, BadLinesAroundTheEndOfABlock) {
  using namespace std::string_literals;
  constexpr int kBlock = 128 * 1024;
  for (int start = kBlock - 90; start <= kBlock + 90; start += 6) {
    SCOPED_TRACE(start);
    // Remark lines up to the header's last two lines and the bad line.
    std::string text;
    int lines = 0;
    int rest = start - 16;
    auto remark = [&](int bytes) {
      text += "#" + std::string(static_cast<size_t>(bytes - 2), '-') + "\n";
      rest -= bytes;
      ++lines;
    };
    while (rest >= 81) remark(79);
    if (rest > 79) remark(rest / 2);
    remark(rest);
    text += "ENDHEADER\nA = 1\n";
    ASSERT_EQ(text.size(), static_cast<size_t>(start));
    const std::string cases[] = {text + "A = " + std::string(75, 'v') + "\nENDFILE\n",
                                 text + "A = x\0y\nENDFILE\n"s, text + "ENDFILE"};
    for (const std::string& bad : cases) {
      EXPECT_FALSE(read_text(bad));
      EXPECT_EQ(std::string(lod_error),
                "Syntax error in loadile at line " + std::to_string(lines + 3));
    }
  }
}

struct Refused {
  const char* what;
  std::string text;
  int line;
  LoadReason reason;
};

TEST_F(ReadLoadfile, RefusesMalformedFilesAtTheirLine) {
  using namespace std::string_literals;
  const Refused cases[] = {
      {"empty file", "", 0, LOAD_EMPTY_FILE},
      {"ends after header", "A = 1\nENDHEADER\n", 2, LOAD_NO_ENDFILE},
      {"ends in header", "A = 1\n\n", 2, LOAD_NO_ENDHEADER},
      {"last line without newline", "ENDHEADER\nENDFILE", 2, LOAD_NO_NEWLINE},
      {"79 bytes before newline", "ENDHEADER\nA = " + std::string(75, 'v') + "\nENDFILE\n", 2,
       LOAD_LONG_LINE},
      {"78 bytes and carriage return", "ENDHEADER\n" + std::string(78, 'A') + "\r\nENDFILE\n", 2,
       LOAD_LONG_LINE},
      {"NUL before newline", "ENDHEADER\nA = x\0y\nENDFILE\n"s, 2, LOAD_NUL_BYTE},
      {"indented closing line", "ENDHEADER\nA = 1\n  ENDROW\nENDFILE\n", 3, LOAD_NO_EQUALS},
      {"closing line and remark", "ENDHEADER\nA = 1\nENDROW # done\nENDFILE\n", 3, LOAD_NO_EQUALS},
      {"data without equals", "TITLE x\nENDHEADER\nENDFILE\n", 1, LOAD_NO_EQUALS},
      {"ENDROW in header", "ENDROW\nENDHEADER\nENDFILE\n", 1, LOAD_CLOSED_IN_HEADER},
      {"ENDFILE in header", "A = 1\nENDFILE\n", 2, LOAD_CLOSED_IN_HEADER},
      {"ENDHEADER among rows", "ENDHEADER\nA = 1\nENDHEADER\nENDFILE\n", 3, LOAD_ENDHEADER_IN_ROWS},
      {"new column in second row", "ENDHEADER\nA = 1\nB = 2\nENDROW\nA = 3\nC = 4\nENDFILE\n", 6,
       LOAD_NEW_COLUMN},
      {"new column in third row", "ENDHEADER\nA = 1\nENDROW\nA = 2\nENDROW\nB = 3\nENDFILE\n", 6,
       LOAD_NEW_COLUMN},
      {"late comment column", "ENDHEADER\nA = 1\nENDROW\nA = 2\nCOMMENT = x\nENDFILE\n", 5,
       LOAD_NEW_COLUMN},
      {"row beyond the next", "ENDHEADER\nA = 1\nENDROW\nENDROW\nA = 2\nENDFILE\n", 5,
       LOAD_ROW_AFTER_EMPTY},
      {"remark after ENDFILE", "ENDHEADER\nENDFILE\n\n# no\n", 4, LOAD_AFTER_ENDFILE},
      {"data after ENDFILE", "ENDHEADER\nENDFILE\nA = 1\n", 3, LOAD_AFTER_ENDFILE},
      {"unterminated blank after ENDFILE", "ENDHEADER\nENDFILE\n  ", 3, LOAD_NO_NEWLINE},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(read_text(c.text));
    EXPECT_EQ(std::string(lod_error), "Syntax error in loadile at line " + std::to_string(c.line));
    EXPECT_EQ(load_syntax_error.reason, c.reason);
    EXPECT_EQ(load_syntax_error.line, c.line);
  }
}

// A large file is read in two halves at once, cut after the first "ENDROW"
// line past its middle. Whatever stands about the cut (an empty row, a new
// column, a comment, an error in the second half), the Table or the message
// must be those of a read in one piece.
// Switched for the two-halves tests, and back afterwards.
struct SplitSwitches {
  bool forced = load_split_forced;
  ~SplitSwitches() {
    load_split_forced = forced;
    storage_throwing_growths_left = -1;
  }
};

TEST_F(ReadLoadfile, ReadInHalvesAsInOnePiece) {
  SplitSwitches restore;
  std::string rows;
  for (int r = 0; r < 300; ++r) rows += "A = " + std::to_string(r) + "\nb = x\nENDROW\n";
  const std::string head = "T = 1\nENDHEADER\nA = a\nB = \nCOMMENT = c\nENDROW\n" + rows;
  const std::string middles[] = {
      "",
      "ENDROW\n",                            // an empty row
      "A = 1\nENDROW\nENDROW\n",             // an empty row before the cut or after it
      "A = 1\nC = 2\nENDROW\n",              // a column the first rows did not have
      "COMMENT = a\nENDROW = 1\nENDROW\n",   // a comment's lines
      "A = 1\nB\nENDROW\n",                  // a line without `=`
      "A = " + std::string(80, 'v') + "\n",  // a line too long
      "ENDHEADER\n",                         // a closing line out of place
  };
  const std::string ends[] = {"ENDFILE\n", "ENDFILE\n\n# remark\n", "A = 1\n"};
  auto read_as = [this](const std::string& text) {
    TablePtr t = read_text(text);
    if (t) return dump_table(t.get());
    return std::string(lod_error) + ", reason " + std::to_string(load_syntax_error.reason);
  };
  for (const std::string& middle : middles) {
    for (const std::string& end : ends) {
      // Blank lines at the end move the middle, and with it the cut, over
      // the rows about `middle`.
      for (int pad = 0; pad < 160; pad += 8) {
        std::string text = head + middle + rows + end + std::string(static_cast<size_t>(pad), '\n');
        load_split_forced = false;  // a small file: one piece
        std::string whole = read_as(text);
        load_split_forced = true;
        const int joined = load_halves_joined;
        ASSERT_EQ(read_as(text), whole) << middle << end << pad;
        // A clean file's halves are joined; the others' need not be.
        if (middle.empty() && end == ends[0]) {
          EXPECT_EQ(load_halves_joined, joined + 1) << pad;
        }
      }
    }
  }
}

// With one processor to run on, a large file is read in one piece: a
// second thread would only take turns with the first.
TEST_F(ReadLoadfile, OneProcessorReadsInOnePiece) {
  SplitSwitches restore;
  const std::size_t min = load_split_min;
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &saved)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  std::string text = "ENDHEADER\n";
  for (int r = 0; r < 200; ++r) text += "A = " + std::to_string(r) + "\nENDROW\n";
  text += "ENDFILE\n";
  load_split_forced = false;
  load_split_min = 1024;
  const int joined = load_halves_joined;
  TablePtr t = read_text(text);
  load_split_min = min;
  sched_setaffinity(0, sizeof saved, &saved);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->nrow, 200);
  EXPECT_EQ(load_halves_joined, joined);
}

// Memory that runs out for the second half, on its thread or while it is
// being set up, only drops that half: the first reads on alone, and the
// Table is that of a read in one piece.
TEST_F(ReadLoadfile, RunningOutOfMemoryForTheSecondHalfReadsInOnePiece) {
  SplitSwitches restore;
  std::string text = "ENDHEADER\n";
  for (int r = 0; r < 2000; ++r) {
    text += "A = " + std::to_string(r) + "\nB = b\nCOMMENT = line\n more\nENDROW\n";
  }
  text += "ENDFILE\n";
  load_split_forced = false;
  TablePtr whole = read_text(text);
  ASSERT_TRUE(whole);
  load_split_forced = true;
  for (int growths : {0, 1, 4, 12}) {
    storage_throwing_growths_left = growths;
    const int joined = load_halves_joined;
    TablePtr t = read_text(text);
    ASSERT_TRUE(t) << growths;
    EXPECT_EQ(dump_table(t.get()), dump_table(whole.get())) << growths;
    EXPECT_EQ(load_halves_joined, joined) << growths;
    EXPECT_LT(storage_throwing_growths_left, 0) << growths << ": no growth failed";
  }
}

// Names and values are cleaned by vector scans where they are short enough:
// every byte value, alone or doubled, at either end and inside, in names
// and in values of every length about the scans' widths (16 and 64 bytes),
// must read as the plain reading with the string routines cleans them.
TEST_F(ReadLoadfile, EveryByteReadsAsThePlainReading) {
  for (int byte = 0; byte < 256; ++byte) {
    const char b = static_cast<char>(byte);
    std::string names;
    for (const char* name : {"N%", "%N", "N%M", "N%%M", "%"}) {
      std::string line(name);
      for (char& c : line) c = c == '%' ? b : c;
      names += line + " = v" + std::to_string(names.size()) + "\n";
    }
    std::string values = "ENDHEADER\n";
    for (int length = 1; length <= 74; ++length) {
      const int places[] = {0, length / 2, length - 1};
      for (int at : places) {
        for (int run : {1, 2}) {
          std::string value(static_cast<size_t>(length), 'x');
          for (int i = at; i < at + run && i < length; ++i) value[static_cast<size_t>(i)] = b;
          values += "V =" + value + "\nENDROW\n";
        }
      }
    }
    for (const std::string& text : {names + "ENDHEADER\nENDFILE\n", values + "ENDFILE\n"}) {
      std::string error;
      TablePtr plain = vela_test::PlainReader(text).read(&error);
      TablePtr read = read_text(text);
      ASSERT_EQ(read ? dump_table(read.get()) : std::string(lod_error),
                plain ? dump_table(plain.get()) : error)
          << "byte " << byte;
    }
  }
}

// An earlier call interrupted by a signal may leave errno at EINTR; the end
// of the file, which sets no errno, must still end the input rather than be
// read again and again.
TEST_F(ReadLoadfile, EndOfFileEndsTheReadWhateverErrnoHolds) {
  std::string file = put_file("in.lod", "ENDHEADER\nA = 1\nENDROW\nENDFILE\n");
  vela_test::Outcome run = vela_test::run_in_child([&] {
    alarm(30);  // a read that never ends fails the test instead of hanging it
    errno = EINTR;
    TablePtr t(read_loadfile(file.c_str()));
    std::printf("%d", t ? t->nrow : -1);
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "1");
}

TEST_F(ReadLoadfile, MissingFileCannotBeOpened) {
  EXPECT_FALSE(read_text("ENDHEADER\n"));
  EXPECT_EQ(read_loadfile(path("absent.lod").c_str()), nullptr);
  EXPECT_STREQ(lod_error, "Cannot open loadfile");
  EXPECT_EQ(load_syntax_error.reason, LOAD_NO_REASON);
}

}  // namespace
