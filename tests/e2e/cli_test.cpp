// The built tool on real files: exact output bytes, exact standard output,
// exit status, and whether the output file exists.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <loadfile/loadfile.h>
#include "support/scratch.h"
#include "support/tool.h"

namespace fs = std::filesystem;

namespace {

using vela_test::Outcome;

// What a terminal's far end shows, up to the end of `last`, or all it shows
// within five seconds: the terminal may pass on what the tool wrote after the
// tool has ended.
std::string read_terminal(int terminal, std::string_view last) {
  std::string shown;
  pollfd ready{terminal, POLLIN, 0};
  while (!shown.ends_with(last) && poll(&ready, 1, 5000) > 0) {
    char buffer[512];
    ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<size_t>(n));
  }
  return shown;
}

class Cli : public testing::Test {
 protected:
  fs::path file(const std::string& name, const std::string& text) {
    return scratch_.write(name, text);
  }
  Outcome run(const std::vector<std::string>& args) { return vela_test::run_tool(dir_, args); }
  bool exists(const std::string& name) { return scratch_.exists(name); }
  std::string read(const std::string& name) { return scratch_.read(name); }
  // Everything in the directory, so a test can see that no temporary was left.
  std::vector<std::string> listing() { return scratch_.listing(); }

  vela_test::ScratchDir scratch_{"rowfan-e2e"};
  fs::path dir_ = scratch_.path();
};

const char* kInput =
    "INSTRUMENT = CAM\n"
    "ENDHEADER\n"
    "DET = ALL\n"
    "FILT = F1\n"
    "ENDROW\n"
    "DET = C\n"
    "FILT = F2\n"
    "ENDROW\n"
    "ENDFILE\n";

const char* kRules =
    "# detectors, then filters\n"
    "DET = ALL => DET = A || DET = B ;\n"
    "FILT = f1 => FILT = X || FILT = Y ;\n";

const char* kExpanded =
    "INSTRUMENT = CAM\nENDHEADER\n\n"
    "DET = A\nFILT = X\nEXPANSION_NUMBER = 1\nENDROW\n\n"
    "DET = A\nFILT = Y\nEXPANSION_NUMBER = 2\nENDROW\n\n"
    "DET = B\nFILT = X\nEXPANSION_NUMBER = 3\nENDROW\n\n"
    "DET = B\nFILT = Y\nEXPANSION_NUMBER = 4\nENDROW\n\n"
    "DET = C\nFILT = F2\nEXPANSION_NUMBER = 5\nENDROW\n\n"
    "ENDFILE\n";

TEST_F(Cli, ExpandsTheCrossProductWithOptionsAnywhere) {
  file("in.lod", kInput);
  file("r.rules", kRules);
  Outcome r = run({"v-", "in.lod", "x=1", "out.lod", "r.rules", "y+"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(read("out.lod"), kExpanded);
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.lod", "out.lod", "r.rules"}));
}

TEST_F(Cli, VersionBannerFirstValueWinsAndPrintsEvenWhenTheRunFails) {
  Outcome r = run({"v+", "v=no"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "VELA task installation date (1 Apr 1998)\n"
            "Wrong number of arguments to task (0)\n");
  EXPECT_EQ(run({"v=no", "v=yes"}).out, "Wrong number of arguments to task (0)\n");
  EXPECT_EQ(run({"v=YES"}).out, "Wrong number of arguments to task (0)\n");
}

// A call that is no run, and options that cannot do what they ask: standard
// output and status as for any call, files written only as asked, and the
// usage on standard error only when that is a terminal.
TEST_F(Cli, UsageHelpAndOptionsThatSayWhatTheyDo) {
  file("in.lod", kInput);
  file("r.rules", kRules);
  const std::string help =
      "usage: rowfan IN.lod OUT.lod RULES [v+] [check+] [trace=FILE]\n"
      "  v+          print the installation-date line\n"
      "  check+      also report what the rules did, as FILE:LINE: text lines\n"
      "  trace=FILE  also write FILE: each output row's input row and rule lines\n"
      "  help+       print this text (with no file name)\n"
      "rowfan " ROWFAN_VERSION "\n";
  const std::vector<std::string> inputs = {"in.lod", "r.rules"};
  const std::vector<std::string> run_files = {"in.lod", "out.lod", "r.rules"};
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {{}, 1, "Wrong number of arguments to task (0)\n", inputs},
      {{"--help"}, 1, "Wrong number of arguments to task (1)\n", inputs},
      {{"-h", "help-"}, 1, "Wrong number of arguments to task (1)\n", inputs},
      {{"help+"}, 0, help, inputs},
      {{"v+", "help+"}, 0, "VELA task installation date (1 Apr 1998)\n" + help, inputs},
      {{"help+", "in.lod"}, 1, "Wrong number of arguments to task (1)\n", inputs},
      {{"help+", "in.lod", "out.lod", "r.rules"}, 0, "", run_files},
      {{"in.lod", "out.lod", "r.rules", "trace-"}, 0, "", run_files},
      {{"trace+", "in.lod", "out.lod", "r.rules"},
       1,
       "Could not parse option (trace+)\n",
       run_files},
      {{"in.lod", "out.lod", "r.rules", "check=true"},
       1,
       "Could not parse option (check=true)\n",
       run_files},
      {{"in.lod", "out.lod", "r.rules", "trace=no"}, 0, "", {"in.lod", "no", "out.lod", "r.rules"}},
  };
  for (const Case& c : cases) {
    std::string call;
    for (const std::string& a : c.args) call += " " + a;
    std::filesystem::remove(dir_ / "out.lod");
    std::filesystem::remove(dir_ / "no");
    Outcome r = run(c.args);
    EXPECT_EQ(r.status, c.status) << call;
    EXPECT_EQ(r.out, c.out) << call;
    EXPECT_EQ(r.err, "") << call;
    EXPECT_EQ(listing(), c.files) << call;
    if (exists("out.lod")) {
      EXPECT_EQ(read("out.lod"), kExpanded) << call;
    }
  }

  // On a terminal the usage follows the report there.
  int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  int err = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  ASSERT_GE(err, 0);
  struct termios raw;
  ASSERT_EQ(tcgetattr(err, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(err, TCSANOW, &raw), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"in.lod", "out.lod"}}) {
    Outcome r =
        vela_test::launch(vela_test::tool_path(), {.args = args, .stderr_fd = err, .dir = dir_});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Wrong number of arguments to task (" + std::to_string(args.size()) + ")\n");
    EXPECT_EQ(read_terminal(terminal, "see 'man rowfan'\n"),
              "usage: rowfan IN.lod OUT.lod RULES [v+] [check+] [trace=FILE]\n"
              "see 'man rowfan'\n");
  }
  close(err);
  close(terminal);
}

TEST_F(Cli, CountsFileArgumentsAfterWildcardExpansion) {
  file("a.lod", kInput);
  file("b.lod", kInput);
  EXPECT_EQ(run({"one", "two", "three", "four"}).out, "Wrong number of arguments to task (4)\n");
  Outcome r = run({"*.lod", "out.lod", "r.rules"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Wrong number of arguments to task (4)\n");
  EXPECT_FALSE(exists("out.lod"));
}

TEST_F(Cli, WildcardsMatchInByteOrderKeepTheirDirectoryAndFallBackToTheName) {
  fs::create_directory(dir_ / "sub");
  file("sub/in.lod", kInput);
  file("r.rules", kRules);
  Outcome r = run({"sub/i?.lod", "out.lod", "r.rul*"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read("out.lod"), kExpanded);
  // A pattern that matches nothing is taken as typed.
  Outcome none = run({"nothing*.lod", "out2.lod", "r.rules"});
  EXPECT_EQ(none.out, "Cannot open file (nothing*.lod)\n");
}

TEST_F(Cli, RefusesAnInputThatWasAlreadyExpanded) {
  file("in.lod", "ENDHEADER\nA = 1\nEXPANSION_NUMBER = \nENDROW\nENDFILE\n");
  file("r.rules", kRules);
  Outcome r = run({"in.lod", "out.lod", "r.rules"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "File has already been expanded (in.lod)\n");
  EXPECT_FALSE(exists("out.lod"));
}

TEST_F(Cli, ReportsBadInputFilesAndRuleFilesOnOneLine) {
  file("r.rules", kRules);
  EXPECT_EQ(run({"missing.lod", "out.lod", "r.rules"}).out, "Cannot open file (missing.lod)\n");
  file("bad.lod", "ENDHEADER\nA = 1\nnot a data line\nENDFILE\n");
  Outcome bad = run({"bad.lod", "out.lod", "r.rules"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "Cannot process load file (bad.lod: Syntax error in loadile at line 3)\n");

  file("in.lod", kInput);
  EXPECT_EQ(run({"in.lod", "out.lod", "none.rules"}).out, "Cannot open file (none.rules)\n");
  file("syntax.rules", "DET = ALL => DET = A\n\nFILT = X > Y ;\n");
  Outcome syntax = run({"in.lod", "out.lod", "syntax.rules"});
  EXPECT_EQ(syntax.status, 1);
  EXPECT_EQ(syntax.out, "Rule file syntax error (Last token read (FILT) on line 3)\n");
  file("empty.rules", "# nothing\n\n");
  EXPECT_EQ(run({"in.lod", "out.lod", "empty.rules"}).out,
            "Rule file syntax error (Last token read () on line 3)\n");
  EXPECT_FALSE(exists("out.lod"));
}

TEST_F(Cli, ReportsRulesThatExpandWithoutEnd) {
  file("in.lod", "ENDHEADER\nA = 1\nB = 2\nENDROW\nENDFILE\n");
  file("loop.rules", "A = 1 => B = 3 ;\n# between\nA = 1 => B = 2 ;\n");
  Outcome r = run({"in.lod", "out.lod", "loop.rules"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Rule file syntax error (Rules on lines 1, 3 expand row 1 without end)\n");
  EXPECT_EQ(listing(), (std::vector<std::string>{"in.lod", "loop.rules"}));
}

TEST_F(Cli, AFailedRunLeavesAnEarlierOutputUntouched) {
  file("in.lod", kInput);
  file("bad.rules", "DET = ALL => ;\n");
  file("out.lod", "precious\n");
  chmod((dir_ / "out.lod").c_str(), 0640);
  EXPECT_EQ(run({"in.lod", "out.lod", "bad.rules"}).status, 1);
  EXPECT_EQ(read("out.lod"), "precious\n");
  // A successful run replaces it and keeps its permissions.
  file("r.rules", kRules);
  EXPECT_EQ(run({"in.lod", "out.lod", "r.rules"}).status, 0);
  EXPECT_EQ(read("out.lod"), kExpanded);
  struct stat st;
  ASSERT_EQ(stat((dir_ / "out.lod").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A run whose output or trace is the file behind standard output, however
// it is named, keeps every message (the banner, check+ findings, an error)
// out of it: they go to standard error. Other runs print them as ever.
TEST_F(Cli, MessagesNeverEnterAnOutputOnStandardOutput) {
  file("in.lod", kInput);
  file("typo.rules", std::string(kRules) + "FILTR = F1 => FILT = Z ;\n");
  file("loop.rules", "DET = ALL => DET = B ;\nDET = B => DET = ALL ;\n");
  const std::vector<std::string> options = {"check+", "v+", "trace=t.tsv"};
  auto with = [&](std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  // The files and messages of runs with standard output apart.
  Outcome plain = run(with({"in.lod", "plain.lod", "typo.rules"}, options));
  ASSERT_EQ(plain.status, 0) << plain.out;
  ASSERT_NE(plain.out, "");
  const std::string expanded = read("plain.lod");
  const std::string trace = read("t.tsv");
  Outcome failing = run({"in.lod", "plain.lod", "loop.rules", "v+"});
  ASSERT_EQ(failing.status, 1);
  Outcome quiet;  // no message on standard error
  quiet.status = 0;

  struct Case {
    std::vector<std::string> args;
    std::string sink;  // what standard output's file holds after the run
    Outcome messages;  // whose messages go to standard error
  };
  const Case cases[] = {
      {with({"in.lod", "/dev/stdout", "typo.rules"}, options), expanded, plain},
      {with({"in.lod", "/dev/fd/1", "typo.rules"}, options), expanded, plain},
      {with({"in.lod", "/proc/self/fd/1", "typo.rules"}, options), expanded, plain},
      {with({"in.lod", "sink", "typo.rules"}, options), expanded, plain},
      {{"in.lod", "out.lod", "typo.rules", "check+", "v+", "trace=/dev/stdout"}, trace, plain},
      {{"in.lod", "/dev/stdout", "loop.rules", "v+"}, "", failing},
      // Standard output apart from the files: the messages go there.
      {with({"in.lod", "out.lod", "typo.rules"}, options), plain.out, quiet},
  };
  for (const Case& c : cases) {
    std::string args;
    for (const auto& a : c.args) args += a + " ";
    // As `> sink` leaves it.
    int sink = open((dir_ / "sink").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(sink, 0);
    Outcome r =
        vela_test::launch(vela_test::tool_path(), {.args = c.args, .stdout_fd = sink, .dir = dir_});
    close(sink);
    EXPECT_EQ(r.status, c.messages.status) << args;
    EXPECT_EQ(r.err, c.messages.out) << args;
    EXPECT_EQ(read("sink"), c.sink) << args;
  }
}

TEST_F(Cli, WritesToAFullDeviceFailWithOneLine) {
  file("in.lod", kInput);
  file("r.rules", kRules);
  Outcome r = run({"in.lod", "/dev/full", "r.rules"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Cannot write to file (/dev/full)\n");
  Outcome missing = run({"in.lod", "no/such/dir/out.lod", "r.rules"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "Cannot write to file (no/such/dir/out.lod)\n");
}

// True while `pid` has a file open in `dir` that has no name there yet (its
// stage) or only a temporary one.
bool writing_into(pid_t pid, const fs::path& dir) {
  std::error_code error;
  fs::directory_iterator fd("/proc/" + std::to_string(pid) + "/fd", error), end;
  for (; !error && fd != end; fd.increment(error)) {
    std::error_code gone;  // the descriptor may close meanwhile
    std::string target = fs::read_symlink(fd->path(), gone).string();
    if (!target.starts_with(dir.string() + "/")) continue;
    std::string name = target.substr(dir.string().size() + 1);
    if (target.ends_with(" (deleted)") || name.starts_with(".out.lod.")) return true;
  }
  return false;
}

TEST_F(Cli, AnInterruptWhileWritingLeavesNoTemporaryFile) {
  // Enough rows that the run is still writing when the signal comes.
  std::string input = "ENDHEADER\n";
  for (int i = 0; i < 200000; i++) input += "A = X\nB = " + std::to_string(i) + "\nENDROW\n";
  file("in.lod", input + "ENDFILE\n");
  file("r.rules",
       "A = X => A = P || A = Q || A = R || A = S ;\n"
       "A = P => C = 1 || C = 2 || C = 3 || C = 4 || C = 5 || C = 6 ;\n");
  // No core from the signals that leave one, so the directory shows only
  // what the run left.
  struct rlimit no_core {};
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);
  // One of each kind of signal that ends a process: hang-up, interrupt,
  // quit, the user's, the alarm, termination, real-time, and the kill that
  // cannot be caught.
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGALRM, SIGTERM, SIGRTMIN, SIGKILL}) {
    bool writing = false;
    auto interrupt = [&](pid_t pid) {
      for (int i = 0; i < 2000 && !writing; i++) {
        writing = writing_into(pid, dir_);
        if (!writing) usleep(1000);
      }
      kill(pid, sig);
    };
    int status = vela_test::run_tool(dir_, {"in.lod", "out.lod", "r.rules"},
                                     vela_test::RunAs::caller, interrupt)
                     .wait_status;
    // A run that never showed a staged output wrote the file itself (or
    // ended too soon to show anything): either way the case was not made.
    EXPECT_TRUE(writing) << "signal " << sig << ": the output was never seen staged";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.lod", "r.rules"})) << "signal " << sig;
  }
}

TEST_F(Cli, EmptyInputGivesEmptyOutput) {
  file("in.lod", "K = V\nENDHEADER\nENDFILE\n");
  file("r.rules", kRules);
  EXPECT_EQ(run({"in.lod", "out.lod", "r.rules"}).status, 0);
  EXPECT_EQ(read("out.lod"), "K = V\nENDHEADER\n\nENDFILE\n");
}

TEST_F(Cli, ShippedExampleRuns) {
  fs::path src = ROWFAN_SOURCE_DIR "/examples";
  Outcome r = run({(src / "frames.lod").string(), "out.lod", (src / "frames.rules").string()});
  EXPECT_EQ(r.status, 0) << r.out;
  std::string out = read("out.lod");
  EXPECT_NE(out.find("EXPANSION_NUMBER = 9\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("EXPANSION_NUMBER = 10\n"), std::string::npos) << out;
}

// A rule value written into the output would start new lines there: one
// input row came out as two rows of the attacker's choosing. Refused while
// the rules are read, before any output is opened.
TEST_F(Cli, ValuesThatWouldBreakTheOutputLinesAreRuleErrors) {
  file("in.lod", "ENDHEADER\nA = 1\nB = x\nCOMMENT = note\nENDROW\nENDFILE\n");
  file("forged.rules",
       "# one row in, two out\n"
       "A = 1 => B = 'y\nEXPANSION_NUMBER = 7\nENDROW\n\nA = 666\nB = forged' ;\n");
  Outcome forged = run({"in.lod", "out.lod", "forged.rules"});
  EXPECT_EQ(forged.status, 1);
  EXPECT_EQ(forged.out,
            "Rule file syntax error (Value for column B holds a line break on line 2)\n");
  file("ended.rules", "A = 1 => COMMENT = 'x\n  endrow\nendrow \t\nA = 666' ;\n");
  EXPECT_EQ(run({"in.lod", "out.lod", "ended.rules"}).out,
            "Rule file syntax error (Value for column COMMENT holds an ENDROW line on line 1)\n");
  EXPECT_FALSE(exists("out.lod"));

  // A value only tested, and COMMENT lines the reader keeps as text.
  file("fine.rules",
       "A = 1 && B = 'x\ny' => B = 2 ;\n"
       "A = 1 => COMMENT = 'two\n  ENDROW\nENDROW = 5' ;\n");
  Outcome fine = run({"in.lod", "out.lod", "fine.rules"});
  EXPECT_EQ(fine.status, 0) << fine.out;
  TablePtr back(read_loadfile((dir_ / "out.lod").c_str()));
  ASSERT_TRUE(back) << lod_error;
  EXPECT_EQ(back->nrow, 1);
  EXPECT_STREQ(get_tab_cell(back.get(), "COMMENT", 0), "TWO\n  ENDROW\nENDROW = 5\n");
}

// Lines of 78 bytes, the most the reader takes, come back out without the
// blanks around `=`; a value that fits no layout is written whole, and the
// run warns that the file will not read back.
TEST_F(Cli, OutputLinesFitTheReaderOrTheRunWarns) {
  const std::string key = "K=" + std::string(76, 'k');
  const std::string cell = "C=" + std::string(76, 'c');
  const std::string note = "COMMENT=" + std::string(70, 'n');
  file("in.lod", key + "\nENDHEADER\n" + cell + "\n" + note + "\nENDROW\nENDFILE\n");
  file("r.rules", "C = X => C = Y ;\n");
  Outcome r = run({"in.lod", "out.lod", "r.rules"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read("out.lod"), key + "\nENDHEADER\n\n" + cell + "\nEXPANSION_NUMBER = 1\n" + note +
                                 "\nENDROW\n\nENDFILE\n");
  EXPECT_TRUE(TablePtr(read_loadfile((dir_ / "out.lod").c_str()))) << lod_error;

  // The first row goes out whole by the quick way; the warning still names
  // the line the first long value stands on.
  file("two.lod", "ENDHEADER\nA = 0\nENDROW\nA = 1\nENDROW\nA = 1\nENDROW\nENDFILE\n");
  const std::string value(100000, 'v');
  file("long.rules", "A = 1 => A = '" + value + "' ;\n");
  Outcome long_value = run({"two.lod", "long.lod", "long.rules"});
  EXPECT_EQ(long_value.status, 1);
  EXPECT_EQ(long_value.out,
            "String too long for internal buffer (long.lod: line 7, column A, 2 lines over 78 "
            "bytes)\n");
  const std::string row = "A = " + std::string(100000, 'V') + "\nEXPANSION_NUMBER = ";
  EXPECT_EQ(read("long.lod"), "ENDHEADER\n\nA = 0\nEXPANSION_NUMBER = 1\nENDROW\n\n" + row +
                                  "2\nENDROW\n\n" + row + "3\nENDROW\n\nENDFILE\n");
}

// A message never spans lines, never drives the terminal, and never loses its
// end: the middle of a long detail gives way.
TEST_F(Cli, EveryMessageIsOneLine) {
  file("in.lod", kInput);
  file("escape.rules", "DET = ALL => DET = A '\x1b[2J\nx' ;\n");
  EXPECT_EQ(run({"in.lod", "out.lod", "escape.rules"}).out,
            "Rule file syntax error (Last token read ('\\x1b[2J\\nx') on line 2)\n");

  file("long.rules", "DET = ALL =>\n DET = A '" + std::string(100000, 'x') + "' ;\n");
  Outcome token = run({"in.lod", "out.lod", "long.rules"});
  EXPECT_EQ(token.status, 1);
  EXPECT_EQ(token.out.size(), 511u);
  EXPECT_TRUE(token.out.starts_with("Rule file syntax error (Last token read ('xxx")) << token.out;
  EXPECT_TRUE(token.out.ends_with("xxx') on line 2)\n")) << token.out;
  EXPECT_NE(token.out.find("x...x"), std::string::npos);

  const std::string name = std::string(300, 'a') + "/" + std::string(300, 'z') + ".lod";
  Outcome missing = run({name, "out.lod", "long.rules"});
  EXPECT_EQ(missing.out.size(), 511u);
  EXPECT_TRUE(missing.out.starts_with("Cannot open file (aaa")) << missing.out;
  EXPECT_TRUE(missing.out.ends_with("zzz.lod)\n")) << missing.out;
  EXPECT_FALSE(exists("out.lod"));
}

// What the tool writes from the test fixtures, the shipped example and the
// benchmarks' workloads reads back through the load file reader.
TEST_F(Cli, OutputsOfFixturesAndWorkloadsReadBack) {
  const fs::path src = ROWFAN_SOURCE_DIR;
  std::vector<fs::path> loads, rules;
  for (const char* sub : {"tests/data/lod", "tests/data/rules", "examples", "data"}) {
    for (const auto& entry : fs::directory_iterator(src / sub)) {
      std::string ext = entry.path().extension();
      if (ext == ".lod") loads.push_back(entry.path());
      if (ext == ".rules") rules.push_back(entry.path());
    }
  }
  std::vector<std::pair<fs::path, fs::path>> fixtures, workloads;
  for (const auto& lod : loads) {
    for (const auto& rule : rules) fixtures.emplace_back(lod, rule);
  }
  // Each workload at a small size; the generator needs Python.
  const bool python = std::system("python3 -c pass >/dev/null 2>&1") == 0;
  const std::string gen = (src / "bench/gen.py").string();
  for (const char* workload : {"fanout", "manyrules", "wide", "passthrough", "comments"}) {
    if (!python) break;
    std::string command =
        "python3 '" + gen + "' " + workload + " 50 --rules 50 --dir '" + dir_.string() + "/work'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char lod[4096] = {}, rule[4096] = {};
    bool named = std::fscanf(pipe, "%4095s %4095s", lod, rule) == 2;
    EXPECT_EQ(pclose(pipe), 0) << command;
    ASSERT_TRUE(named) << command;
    workloads.emplace_back(lod, rule);
  }

  // Whatever a run leaves as its output must read back.
  auto written = [&](const fs::path& lod, const fs::path& rule) {
    fs::remove(dir_ / "out.lod");
    Outcome r = run({lod.string(), "out.lod", rule.string()});
    if (!exists("out.lod")) return false;
    EXPECT_TRUE(TablePtr(read_loadfile((dir_ / "out.lod").c_str())))
        << lod << " with " << rule << ": " << lod_error << "\n"
        << r.out;
    return true;
  };
  int outputs = 0;
  for (const auto& [lod, rule] : fixtures) outputs += written(lod, rule);
  EXPECT_GT(outputs, 0);
  for (const auto& [lod, rule] : workloads) EXPECT_TRUE(written(lod, rule)) << lod;
  if (!python) GTEST_SKIP() << "python3 missing: the benchmarks' workloads were not generated";
}

}  // namespace
