// c_irafinit in the test process: everything a program can see of its process
// is the same before and after the call, and, when the tool is built with
// IRAF, the IRAF environment has been started.
#include <velalib/irafstart.h>

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "startguard.h"
#include "support/process_state.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

// Present only when the IRAF runtime is linked in; a build without it has
// them null.
extern "C" {
int irafmn_(...) __attribute__((weak));
long envfid_(short* key, short* value, long* maxch) __attribute__((weak));
}

namespace {

using vela_test::Disposition;

struct ProcessView {
  std::vector<std::string> env;
  std::vector<Disposition> actions;
  std::vector<int> blocked;
  std::vector<std::string> fds;
  fs::path cwd;
  mode_t umask_bits;
  int fpe;
  int round;
  std::size_t stdout_pending;
  bool operator==(const ProcessView&) const = default;
};

ProcessView look() {
  ProcessView v;
  v.fpe = fetestexcept(FE_ALL_EXCEPT);
  v.round = fegetround();
  v.env = save_environ();
  for (int sig = 1; sig < NSIG; ++sig) {
    v.actions.push_back(vela_test::disposition(sig).value_or(Disposition{}));
  }
  v.blocked = vela_test::blocked_signals();
  if (DIR* d = opendir("/proc/self/fd")) {
    int own = dirfd(d);
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.' || std::stoi(e->d_name) == own) continue;
      v.fds.push_back(e->d_name + std::string(" -> ") +
                      fs::read_symlink(fs::path("/proc/self/fd") / e->d_name).string());
    }
    closedir(d);
  }
  std::sort(v.fds.begin(), v.fds.end());
  v.cwd = fs::current_path();
  v.umask_bits = umask(0);
  umask(v.umask_bits);
  v.stdout_pending = __fpending(stdout);
  return v;
}

void noted(int) {}

// One start-up per test process, in a setting that a careless start-up would
// disturb: an ignored, a caught and a blocked signal, text waiting in the
// standard output buffer, and a zzsetenv.def in the working directory.
class IrafStart : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = fs::current_path();
    vela_test::ScratchDir scratch("irafstart");
    dir_ = scratch.path();
    scratch.write("zzsetenv.def", "set\tpkglibs\t= \"planted/\"\n");
    ASSERT_EQ(chdir(dir_.c_str()), 0);

    saved_int_ = signal(SIGINT, SIG_IGN);
    saved_usr1_ = signal(SIGUSR1, noted);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &saved_mask_);
    std::fflush(stdout);
    std::fputs("pending ", stdout);

    before_ = look();
    errno = EINTR;
    c_irafinit();
    errno_after_ = errno;
    after_ = look();
    c_irafinit();
    again_ = look();

    std::fputs("\n", stdout);
    std::fflush(stdout);
    signal(SIGINT, saved_int_);
    signal(SIGUSR1, saved_usr1_);
    sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    ASSERT_EQ(chdir(home_.c_str()), 0);
  }

  static inline fs::path home_, dir_;
  static inline ProcessView before_, after_, again_;
  static inline int errno_after_;
  static inline void (*saved_int_)(int);
  static inline void (*saved_usr1_)(int);
  static inline sigset_t saved_mask_;
};

TEST_F(IrafStart, LeavesTheEnvironmentAsItWas) {
  EXPECT_EQ(after_.env, before_.env);
}

TEST_F(IrafStart, LeavesEverySignalDispositionAsItWas) {
  ASSERT_EQ(after_.actions.size(), before_.actions.size());
  for (std::size_t i = 0; i < before_.actions.size(); ++i) {
    EXPECT_TRUE(after_.actions[i] == before_.actions[i]) << "signal " << i + 1;
  }
  EXPECT_EQ(after_.actions[SIGINT - 1].handler, SIG_IGN);
  EXPECT_EQ(after_.actions[SIGUSR1 - 1].handler, noted);
  EXPECT_EQ(after_.actions[SIGPIPE - 1].handler, SIG_DFL);
}

TEST_F(IrafStart, LeavesTheSignalMaskAsItWas) {
  EXPECT_EQ(after_.blocked, before_.blocked);
  EXPECT_EQ(after_.blocked, std::vector<int>{SIGTERM});
}

TEST_F(IrafStart, LeavesDescriptorsAndDirectoryAsTheyWere) {
  EXPECT_EQ(after_.fds, before_.fds);
  EXPECT_EQ(after_.cwd, before_.cwd);
  EXPECT_EQ(after_.umask_bits, before_.umask_bits);
}

TEST_F(IrafStart, LeavesBufferedOutputErrnoAndFloatingPointAsTheyWere) {
  EXPECT_EQ(after_.stdout_pending, before_.stdout_pending);
  EXPECT_GT(after_.stdout_pending, 0u);
  EXPECT_EQ(errno_after_, EINTR);
  EXPECT_EQ(after_.fpe, before_.fpe);
  EXPECT_EQ(after_.round, before_.round);
}

TEST_F(IrafStart, ASecondCallDoesNothing) {
  EXPECT_TRUE(again_ == after_);
}

// The IRAF Main has run: the VOS environment answers, with the values of the
// installation's own zzsetenv.def and not of the one planted in the working
// directory.
TEST_F(IrafStart, StartsTheIrafEnvironment) {
  if (irafmn_ == nullptr) GTEST_SKIP() << "built without IRAF";
  ASSERT_NE(envfid_, nullptr);
  auto find = [](const std::string& name) {
    std::vector<short> key(name.begin(), name.end());
    key.push_back(0);
    std::vector<short> value(256, 0);
    long maxch = 255;
    long n = envfid_(key.data(), value.data(), &maxch);
    return n < 0 ? std::string("<none>") : std::string(value.begin(), value.begin() + n);
  };
  EXPECT_EQ(find("pkglibs"), "hlib$libc/");
  EXPECT_EQ(find("iraf").back(), '/');
  EXPECT_EQ(find("no_such_variable_here"), "<none>");
}

}  // namespace
