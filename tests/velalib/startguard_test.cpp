// StartupGuard and the environment snapshot: whatever a start-up does inside
// the guard, the process afterwards is as it was before.
#include "startguard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch.h"

extern "C" char** environ;

namespace fs = std::filesystem;

namespace {

// Puts the environment back after each test, whatever the test did to it.
class EnvironTest : public testing::Test {
 protected:
  void SetUp() override { saved_ = save_environ(); }
  void TearDown() override { restore_environ(saved_); }
  std::vector<std::string> saved_;
};

TEST_F(EnvironTest, UnsetsAddedResetsChangedAndKeepsTheOrder) {
  setenv("STARTGUARD_A", "1", 1);
  setenv("STARTGUARD_B", "2", 1);
  auto before = save_environ();

  setenv("STARTGUARD_NEW", "x", 1);
  setenv("STARTGUARD_A", "changed", 1);
  restore_environ(before);

  EXPECT_EQ(save_environ(), before);
  EXPECT_EQ(getenv("STARTGUARD_NEW"), nullptr);
  EXPECT_STREQ(getenv("STARTGUARD_A"), "1");
}

TEST_F(EnvironTest, BringsBackARemovedVariableInItsPlace) {
  setenv("STARTGUARD_FIRST", "1", 1);
  setenv("STARTGUARD_MIDDLE", "2", 1);
  setenv("STARTGUARD_LAST", "3", 1);
  auto before = save_environ();

  unsetenv("STARTGUARD_MIDDLE");
  restore_environ(before);

  EXPECT_EQ(save_environ(), before);
}

TEST_F(EnvironTest, LeavesAnUnchangedEnvironmentAlone) {
  auto before = save_environ();
  char** list = environ;
  char* first = list[0];
  restore_environ(before);
  EXPECT_EQ(environ, list);
  EXPECT_EQ(environ[0], first);
}

TEST_F(EnvironTest, UnchangedEntriesKeepTheirStorage) {
  setenv("STARTGUARD_KEEP", "1", 1);
  auto before = save_environ();
  char* keep = nullptr;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e) == "STARTGUARD_KEEP=1") keep = *e;
  }
  ASSERT_NE(keep, nullptr);

  // A string the program put in itself stays the very string it put.
  static char put[] = "STARTGUARD_PUT=1";
  putenv(put);
  before = save_environ();

  setenv("STARTGUARD_ADDED", "1", 1);
  restore_environ(before);

  bool found = false, put_found = false;
  for (char** e = environ; *e != nullptr; ++e) {
    found = found || *e == keep;
    put_found = put_found || *e == put;
  }
  EXPECT_TRUE(found);
  EXPECT_TRUE(put_found);
  unsetenv("STARTGUARD_PUT");
}

TEST_F(EnvironTest, RestoresAnEmptiedEnvironment) {
  setenv("STARTGUARD_A", "1", 1);
  auto before = save_environ();
  clearenv();
  setenv("STARTGUARD_ONLY", "1", 1);
  restore_environ(before);
  EXPECT_EQ(save_environ(), before);
}

int usr1_count = 0;
void count_usr1(int) {
  ++usr1_count;
}
void other_handler(int) {}

struct sigaction action_of(int sig) {
  struct sigaction sa = {};
  sigaction(sig, nullptr, &sa);
  return sa;
}

// Installs `handler` (or SIG_IGN / SIG_DFL) the way a foreign start-up does.
void install(int sig, void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sa.sa_flags = SA_NODEFER;
  sigaction(sig, &sa, nullptr);
}

class GuardTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int sig : {SIGUSR1, SIGUSR2, SIGINT, SIGPIPE}) saved_[sig] = action_of(sig);
    sigprocmask(SIG_SETMASK, nullptr, &mask_);
  }
  void TearDown() override {
    for (int sig : {SIGUSR1, SIGUSR2, SIGINT, SIGPIPE}) sigaction(sig, &saved_[sig], nullptr);
    sigprocmask(SIG_SETMASK, &mask_, nullptr);
  }
  struct sigaction saved_[NSIG];
  sigset_t mask_;
};

TEST_F(GuardTest, TakesBackHandlersInstalledInside) {
  struct sigaction mine = {};
  mine.sa_handler = count_usr1;
  mine.sa_flags = SA_RESTART;
  sigaddset(&mine.sa_mask, SIGUSR2);
  sigaction(SIGUSR1, &mine, nullptr);
  install(SIGINT, SIG_IGN);
  install(SIGPIPE, SIG_DFL);
  install(SIGUSR2, other_handler);  // SA_NODEFER
  {
    StartupGuard guard;
    install(SIGUSR1, other_handler);
    install(SIGINT, other_handler);
    install(SIGPIPE, other_handler);
    // The same handler with other flags is a different disposition.
    struct sigaction flags_only = action_of(SIGUSR2);
    flags_only.sa_flags = SA_RESTART;
    sigaction(SIGUSR2, &flags_only, nullptr);
  }
  EXPECT_EQ(action_of(SIGUSR2).sa_flags & (SA_NODEFER | SA_RESTART), SA_NODEFER);
  auto usr1 = action_of(SIGUSR1);
  EXPECT_EQ(usr1.sa_handler, count_usr1);
  EXPECT_TRUE(usr1.sa_flags & SA_RESTART);
  EXPECT_FALSE(usr1.sa_flags & SA_NODEFER);
  EXPECT_EQ(sigismember(&usr1.sa_mask, SIGUSR2), 1);
  EXPECT_EQ(action_of(SIGINT).sa_handler, SIG_IGN);
  EXPECT_EQ(action_of(SIGPIPE).sa_handler, SIG_DFL);
}

TEST_F(GuardTest, HoldsSignalsBackUntilTheProgramsOwnDispositionIsBack) {
  install(SIGUSR1, count_usr1);
  usr1_count = 0;
  {
    StartupGuard guard;
    install(SIGUSR1, other_handler);
    raise(SIGUSR1);
    EXPECT_EQ(usr1_count, 0);
  }
  EXPECT_EQ(usr1_count, 1);
}

TEST_F(GuardTest, DropsASignalThatTheProgramIgnores) {
  install(SIGUSR2, SIG_IGN);
  {
    StartupGuard guard;
    install(SIGUSR2, other_handler);
    raise(SIGUSR2);
  }
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGUSR2), 0);
}

TEST(StartupGuard, ComesBackToADirectoryThatWasRemoved) {
  auto here = fs::current_path();
  vela_test::ScratchDir scratch("startguard");
  auto gone = scratch / "gone";
  fs::create_directory(gone);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  struct stat before;
  ASSERT_EQ(stat(".", &before), 0);
  fs::remove(gone);
  { StartupGuard guard; }
  struct stat after;
  ASSERT_EQ(stat(".", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_dev, before.st_dev);
  ASSERT_EQ(chdir(here.c_str()), 0);
}

TEST(StartupGuard, LendsAClosedStandardDescriptorAndClosesItAgain) {
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  bool ready = false;
  struct stat inside = {};
  int inside_status = -1;
  {
    StartupGuard guard;
    ready = guard.ready();
    inside_status = fstat(0, &inside);
  }
  int after = fcntl(0, F_GETFD);
  int after_errno = errno;
  dup2(saved, 0);
  close(saved);

  EXPECT_TRUE(ready);
  ASSERT_EQ(inside_status, 0);
  EXPECT_TRUE(S_ISCHR(inside.st_mode));
  EXPECT_EQ(inside.st_rdev, makedev(1, 3));  // /dev/null
  EXPECT_EQ(after, -1);
  EXPECT_EQ(after_errno, EBADF);
}

// Standard input on a file that a shell loop is reading, standard output on a
// file being written: a start-up that rewinds the one and seeks to the end of
// the other must move neither shared offset, nor touch the C streams' buffers.
TEST(StartupGuard, LendsStandInsForStandardInputAndOutput) {
  vela_test::ScratchDir scratch("startguard-io");
  const fs::path& dir = scratch.path();
  int in = open((dir / "in").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  int out = open((dir / "out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  ASSERT_EQ(write(in, "line 1\nline 2\n", 14), 14);
  ASSERT_EQ(write(out, "0123456789", 10), 10);
  lseek(in, 7, SEEK_SET);
  lseek(out, 2, SEEK_SET);

  std::fflush(stdout);
  int own_in = dup(0), own_out = dup(1);
  dup2(in, 0);
  dup2(out, 1);
  FILE* own_stdin = stdin;
  FILE* own_stdout = stdout;
  std::fputs("ab", stdout);  // waits in the buffer
  std::size_t pending = __fpending(stdout);

  bool ready = false, null_inside = false, streams_lent = false;
  {
    StartupGuard guard;
    ready = guard.ready();
    struct stat st0, st1;
    null_inside = fstat(0, &st0) == 0 && fstat(1, &st1) == 0 && st0.st_rdev == makedev(1, 3) &&
                  st1.st_rdev == makedev(1, 3);
    streams_lent =
        stdin != own_stdin && stdout != own_stdout && fileno(stdin) == 0 && fileno(stdout) == 1;
    std::fseek(stdin, 0, SEEK_SET);
    std::fseek(stdout, 0, SEEK_END);
    lseek(0, 0, SEEK_SET);
    lseek(1, 0, SEEK_END);
  }
  bool same_streams = stdin == own_stdin && stdout == own_stdout;
  std::size_t pending_after = __fpending(stdout);
  off_t in_at = lseek(0, 0, SEEK_CUR), out_at = lseek(1, 0, SEEK_CUR);
  std::fflush(stdout);
  dup2(own_in, 0);
  dup2(own_out, 1);
  close(own_in);
  close(own_out);
  close(in);
  close(out);
  std::string text = vela_test::read_file(dir / "out");

  EXPECT_TRUE(ready);
  EXPECT_TRUE(null_inside);
  EXPECT_TRUE(streams_lent);
  EXPECT_TRUE(same_streams);
  EXPECT_EQ(pending_after, pending);
  EXPECT_EQ(in_at, 7);
  EXPECT_EQ(out_at, 2);
  EXPECT_EQ(text, "01ab456789");
}

TEST(StartupGuard, KeepsTheCloseOnExecFlagOfAStandardDescriptor) {
  int flags = fcntl(1, F_GETFD);
  fcntl(1, F_SETFD, flags | FD_CLOEXEC);
  {
    StartupGuard guard;
    EXPECT_EQ(fcntl(1, F_GETFD) & FD_CLOEXEC, 0);
  }
  int after = fcntl(1, F_GETFD);
  fcntl(1, F_SETFD, flags);
  EXPECT_EQ(after & FD_CLOEXEC, FD_CLOEXEC);
}

TEST(StartupGuard, RestoresFloatingPointStateAndErrno) {
  feclearexcept(FE_ALL_EXCEPT);
  errno = ERANGE;
  {
    StartupGuard guard;
    feraiseexcept(FE_INEXACT | FE_DIVBYZERO);
    fesetround(FE_UPWARD);
    errno = ENOENT;
  }
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ(fetestexcept(FE_ALL_EXCEPT), 0);
  EXPECT_EQ(fegetround(), FE_TONEAREST);
}

}  // namespace
