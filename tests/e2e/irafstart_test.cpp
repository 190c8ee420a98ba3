// The IRAF start-up seen from outside the process: exit statuses, output,
// exit handlers and the effect of signals are those of a build without IRAF.
//
// iraf_probe and iraf_probe_plain are one program built with and without the
// start-up; every case runs both under the same conditions and requires the
// same outcome, and also the outcome that the shell user expects. The tool
// itself is then run under the same conditions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e/tool.h"

namespace fs = std::filesystem;

extern "C" char** environ;

namespace {

struct Outcome {
  int status = -1;    // exit status, or 128 + signal as a shell reports it
  std::string out;    // standard output
  std::string err;    // standard error
  std::string state;  // what the probe dumps on descriptor 3
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "status " << o.status << "\n--- out\n"
            << o.out << "--- err\n"
            << o.err << "--- state\n"
            << o.state.substr(0, 2000);
}

// The conditions a program is started under.
struct Conditions {
  std::vector<std::string> args{};
  std::optional<std::vector<std::string>> env{};  // unset: this process's
  std::vector<int> ignored{};                     // set to SIG_IGN before exec
  std::vector<int> blocked{};                     // blocked before exec
  std::vector<int> closed{};                      // standard descriptors closed
  bool reader_gone = false;                       // standard output a pipe nobody reads
  int stdin_fd = -1;                              // standard input, if not /dev/null
  int stdout_fd = -1;                             // standard output, if not a pipe to us
  std::vector<int> signals{};                     // sent in turn once the program says "ready"
  fs::path dir = fs::temp_directory_path();
  // Called once the program runs, before any signal; e.g. to open a FIFO.
  std::function<void(pid_t)> started{};
};

// A run under the sanitizers keeps the options that make its reports
// comparable, even in an otherwise empty environment.
std::vector<std::string> empty_environment() {
  std::vector<std::string> env;
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

Outcome launch(const std::string& program, const Conditions& setup) {
  std::vector<std::string> args{fs::path(program).filename().string()};
  args.insert(args.end(), setup.args.begin(), setup.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_strings;
  if (setup.env) {
    env_strings = *setup.env;
  } else {
    for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2], err[2], state[2];
  if (pipe(out) != 0 || pipe(err) != 0 || pipe(state) != 0) return {};
  if (setup.reader_gone) close(out[0]);

  pid_t pid = fork();
  if (pid == 0) {
    for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
    for (int sig : setup.ignored) signal(sig, SIG_IGN);
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : setup.blocked) sigaddset(&mask, sig);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    if (chdir(setup.dir.c_str()) != 0) _exit(125);
    int in = setup.stdin_fd >= 0 ? setup.stdin_fd : open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(setup.stdout_fd >= 0 ? setup.stdout_fd : out[1], 1);
    dup2(err[1], 2);
    dup2(state[1], 3);
    for (int fd = 4; fd < 64; ++fd) close(fd);
    for (int fd : setup.closed) close(fd);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(state[1]);

  Outcome outcome;
  struct Source {
    int fd;
    std::string* text;
  };
  std::vector<Source> sources{{err[0], &outcome.err}, {state[0], &outcome.state}};
  if (!setup.reader_gone) sources.push_back({out[0], &outcome.out});
  if (setup.started) setup.started(pid);
  std::size_t next_signal = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!sources.empty() && std::chrono::steady_clock::now() < deadline) {
    bool ready = outcome.out.find("ready\n") != std::string::npos;
    if (ready && next_signal < setup.signals.size()) {
      // Give an ignored signal time to be (not) acted upon before the next.
      if (next_signal > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(pid, setup.signals[next_signal++]);
    }
    std::vector<pollfd> fds;
    for (auto& s : sources) fds.push_back({s.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 100) <= 0) continue;
    for (std::size_t i = fds.size(); i-- > 0;) {
      if (fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sources[i].text->append(buf, n);
      } else {
        close(sources[i].fd);
        sources.erase(sources.begin() + i);
      }
    }
  }
  for (auto& s : sources) close(s.fd);
  if (!sources.empty()) kill(pid, SIGKILL);  // hung: shows as status 137
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
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
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("irafstart-e2e-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string read(const fs::path& path) { return tool::read_file(path); }
  fs::path dir_;
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
    std::ofstream(dir_ / "list") << "one\ntwo\nthree\n";
    std::ofstream(dir_ / "out") << "0123456789012345678901234567890123456789\n";
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
    IrafStartFiles::SetUp();
    std::ofstream(dir_ / "in.lod") << kInput;
    std::ofstream(dir_ / "r.rules") << kRules;
  }
  Outcome tool(Conditions setup) {
    setup.dir = dir_;
    return launch(ROWFAN_BIN, setup);
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
  std::ofstream(dir_ / "list") << "one\ntwo\n";
  int in = open((dir_ / "list").c_str(), O_RDONLY);
  lseek(in, 4, SEEK_SET);
  Outcome o = tool({.args = {"in.lod", "out.lod", "r.rules"}, .stdin_fd = in});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(lseek(in, 0, SEEK_CUR), 4);
  close(in);
}

}  // namespace
