// The IRAF start-up seen from outside the process: exit statuses, output,
// exit handlers and the effect of signals are those of a build without IRAF.
//
// iraf_probe and iraf_probe_plain are one program built with and without the
// start-up; every case runs both under the same conditions and requires the
// same outcome, and also the outcome that the shell user expects. The tool
// itself is then run under the same conditions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/process.h"
#include "support/scratch.h"
#include "support/tool.h"

namespace fs = std::filesystem;

namespace {

using vela_test::launch;
using vela_test::Outcome;
// The conditions a program is started under.
using Conditions = vela_test::Launch;

// A run under the sanitizers keeps the options that make its reports
// comparable, even in an otherwise empty environment.
std::vector<std::string> empty_environment() {
  std::vector<std::string> env;
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

// Both builds of the probe under the same conditions; returns the outcome,
// which the two must share.
Outcome both_probes(const Conditions& setup) {
  Outcome with = launch(IRAF_PROBE, setup);
  Outcome without = launch(IRAF_PROBE_PLAIN, setup);
  EXPECT_EQ(with, without) << "with IRAF:\n" << with << "\nwithout:\n" << without;
  return with;
}

// A normal run, a run with a warning, a run that ends at an error; each with
// its exit handler, the text buffered before the start-up first.
TEST(IrafStartProbe, ReportsEndTheRunWithTheirStatus) {
  EXPECT_EQ(both_probes({.args = {"info"}}),
            (Outcome{0, "before start-up\nWrote file (out.lod)\nafter\nexit handler\n", "", ""}));
  EXPECT_EQ(
      both_probes({.args = {"warn"}}),
      (Outcome{1, "before start-up\nCould not parse option (x)\nafter\nexit handler\n", "", ""}));
  EXPECT_EQ(
      both_probes({.args = {"error"}}),
      (Outcome{1, "before start-up\nCannot open file (missing.lod)\nexit handler\n", "", ""}));
}

// Ctrl-C and SIGTERM end the run as the shell expects: killed by the signal.
TEST(IrafStartProbe, ASignalEndsTheRun) {
  for (int sig : {SIGINT, SIGTERM}) {
    EXPECT_EQ(both_probes({.args = {"wait"}, .signals = {sig}}),
              (Outcome{128 + sig, "before start-up\nready\n", "", ""}));
  }
}

// A background job started by a shell ignores Ctrl-C; so must the program.
TEST(IrafStartProbe, AnInheritedIgnoreOfCtrlCStays) {
  Outcome o = both_probes({.args = {"wait"}, .ignored = {SIGINT}, .signals = {SIGINT, SIGTERM}});
  EXPECT_EQ(o.status, 128 + SIGTERM);
  EXPECT_EQ(o.err, "");
}

TEST(IrafStartProbe, AClosedOutputPipeEndsTheRunBySigpipe) {
  Outcome o = both_probes({.args = {"flood"}, .reader_gone = true});
  EXPECT_EQ(o.status, 128 + SIGPIPE);
  EXPECT_EQ(o.err, "");
}

TEST(IrafStartProbe, WithSigpipeIgnoredAClosedPipeIsAWriteError) {
  Outcome o = both_probes({.args = {"flood"}, .ignored = {SIGPIPE}, .reader_gone = true});
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.err, "write failed: Broken pipe\n");
}

TEST(IrafStartProbe, LeavesTheProcessStateAsItFoundIt) {
  Outcome o = both_probes({.args = {"state"}});
  EXPECT_NE(o.state.find("\nnext fd 4\n"), std::string::npos) << o.state;
  EXPECT_NE(o.state.find("\nsignal 2 default flags 0\n"), std::string::npos) << o.state;
  EXPECT_EQ(o.state.find("env iraf="), std::string::npos) << o.state;
}

TEST(IrafStartProbe, InheritedIgnoresAndBlockedSignalsStay) {
  Outcome o = both_probes(
      {.args = {"state"}, .ignored = {SIGINT, SIGPIPE, SIGHUP}, .blocked = {SIGTERM, SIGUSR1}});
  EXPECT_NE(o.state.find("\nsignal 2 ignore flags 0\n"), std::string::npos) << o.state;
  EXPECT_NE(o.state.find("\nblocked 10 15\n"), std::string::npos) << o.state;
}

TEST(IrafStartProbe, StandardInputClosed) {
  Outcome o = both_probes({.args = {"info"}, .closed = {0}});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "before start-up\nWrote file (out.lod)\nafter\nexit handler\n");
  Outcome state = both_probes({.args = {"state"}, .closed = {0}});
  EXPECT_NE(state.state.find("\nfd 0 closed\n"), std::string::npos) << state.state;
  EXPECT_NE(state.state.find("\nnext fd 0\n"), std::string::npos) << state.state;
}

TEST(IrafStartProbe, StandardOutputOrErrorClosed) {
  Outcome o = both_probes({.args = {"error"}, .closed = {1}});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  Outcome state = both_probes({.args = {"state"}, .closed = {1, 2}});
  EXPECT_NE(state.state.find("\nfd 1 closed\nfd 2 closed\n"), std::string::npos) << state.state;
}

TEST(IrafStartProbe, AnEmptyEnvironmentStaysEmpty) {
  Outcome o = both_probes({.args = {"info"}, .env = empty_environment()});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "before start-up\nWrote file (out.lod)\nafter\nexit handler\n");
  Outcome state = both_probes({.args = {"state"}, .env = empty_environment()});
  std::string env;
  for (const auto& e : empty_environment()) env += "env " + e + "\n";
  EXPECT_EQ(state.state.substr(0, env.size() + 7), env + "signal ") << state.state;
}

class IrafStartFiles : public testing::Test {
 protected:
  static std::string read(const fs::path& path) { return vela_test::read_file(path); }
  vela_test::ScratchDir scratch_{"irafstart-e2e"};
  fs::path dir_ = scratch_.path();
};

// IRAF reads a zzsetenv.def in the working directory in place of its own; a
// FIFO of that name would hold the start-up for ever.
TEST_F(IrafStartFiles, AZzsetenvDefInTheWorkingDirectoryIsNotRead) {
  ASSERT_EQ(mkfifo((dir_ / "zzsetenv.def").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir_ / "hlibzzsetenv.def").c_str(), 0600), 0);
  Outcome o = both_probes({.args = {"info"}, .dir = dir_});
  EXPECT_EQ(o.status, 0);
  Outcome state = both_probes({.args = {"state"}, .dir = dir_});
  EXPECT_NE(state.state.find("\ncwd " + dir_.string() + "\n"), std::string::npos) << state.state;
}

// `while read name; do tool ...; done < list`: the loop's shell and the tool
// share one offset in the list, and the tool must not move it; nor may it
// move where its output goes in a file opened for update.
TEST_F(IrafStartFiles, SharedOffsetsOfStandardInputAndOutputStay) {
  auto run = [&](const char* program) {
    scratch_.write("list", "one\ntwo\nthree\n");
    scratch_.write("out", "0123456789012345678901234567890123456789\n");
    int in = open((dir_ / "list").c_str(), O_RDONLY);
    int out = open((dir_ / "out").c_str(), O_RDWR);
    lseek(in, 4, SEEK_SET);
    Outcome o = launch(program, {.args = {"info"}, .stdin_fd = in, .stdout_fd = out});
    off_t in_at = lseek(in, 0, SEEK_CUR);
    close(in);
    close(out);
    return std::make_tuple(o.status, in_at, read(dir_ / "out"));
  };
  auto with = run(IRAF_PROBE);
  auto without = run(IRAF_PROBE_PLAIN);
  EXPECT_EQ(with, without);
  EXPECT_EQ(std::get<1>(with), 4);
  EXPECT_EQ(std::get<2>(with).substr(0, 16), "before start-up\n");
}

// The tool itself, under the same conditions. Its outcome without IRAF is the
// one its command line promises.

const char* kInput = "INSTRUMENT = CAM\nENDHEADER\nDET = ALL\nENDROW\nENDFILE\n";
const char* kRules = "DET = ALL => DET = A || DET = B ;\n";
const char* kExpanded =
    "INSTRUMENT = CAM\nENDHEADER\n\n"
    "DET = A\nEXPANSION_NUMBER = 1\nENDROW\n\n"
    "DET = B\nEXPANSION_NUMBER = 2\nENDROW\n\n"
    "ENDFILE\n";

class IrafStartTool : public IrafStartFiles {
 protected:
  void SetUp() override {
    scratch_.write("in.lod", kInput);
    scratch_.write("r.rules", kRules);
  }
  Outcome tool(Conditions setup) {
    setup.dir = dir_;
    return launch(vela_test::tool_path(), setup);
  }
};

TEST_F(IrafStartTool, StandardInputClosedAndAnEmptyEnvironment) {
  EXPECT_EQ(tool({.args = {"in.lod", "out.lod", "r.rules"}, .closed = {0}}),
            (Outcome{0, "", "", ""}));
  EXPECT_EQ(read(dir_ / "out.lod"), kExpanded);
  fs::remove(dir_ / "out.lod");
  EXPECT_EQ(tool({.args = {"in.lod", "out.lod", "r.rules"}, .env = empty_environment()}),
            (Outcome{0, "", "", ""}));
  EXPECT_EQ(read(dir_ / "out.lod"), kExpanded);
}

TEST_F(IrafStartTool, AClosedOutputPipeEndsTheRunBySigpipe) {
  EXPECT_EQ(tool({.args = {"v+"}, .reader_gone = true}).status, 128 + SIGPIPE);
}

// The tool blocks reading an input that is a FIFO, long after its start-up;
// a signal then meets the tool's dispositions, not IRAF's.
class IrafStartToolWaiting : public IrafStartTool, public testing::WithParamInterface<int> {};

TEST_P(IrafStartToolWaiting, ASignalWhileTheToolWorksEndsItAsTheShellExpects) {
  int sig = GetParam();
  ASSERT_EQ(mkfifo((dir_ / "slow.lod").c_str(), 0600), 0);
  int writer = -1;
  Conditions setup{.args = {"slow.lod", "out.lod", "r.rules"}};
  setup.started = [&](pid_t pid) {
    // Opening the writing end succeeds once the tool waits at the other.
    for (int i = 0; i < 2000 && writer < 0; ++i) {
      writer = open((dir_ / "slow.lod").c_str(), O_WRONLY | O_NONBLOCK);
      if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, sig);
  };
  Outcome o = tool(setup);
  if (writer >= 0) close(writer);
  EXPECT_GE(writer, 0);
  EXPECT_EQ(o, (Outcome{128 + sig, "", "", ""}));
  EXPECT_FALSE(fs::exists(dir_ / "out.lod"));
}

INSTANTIATE_TEST_SUITE_P(CtrlCAndSigterm, IrafStartToolWaiting, testing::Values(SIGINT, SIGTERM));

TEST_F(IrafStartTool, SharedOffsetOfStandardInputStays) {
  scratch_.write("list", "one\ntwo\n");
  int in = open((dir_ / "list").c_str(), O_RDONLY);
  lseek(in, 4, SEEK_SET);
  Outcome o = tool({.args = {"in.lod", "out.lod", "r.rules"}, .stdin_fd = in});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(lseek(in, 0, SEEK_CUR), 4);
  close(in);
}

}  // namespace
