#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <string_view>
#include <thread>

#include "support/scratch.h"

extern "C" char** environ;

namespace vela_test {

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);

// The status a shell reports for a wait status.
int shell_status(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

std::vector<std::string> this_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  return env;
}

// A sanitizer's options ("NAME_OPTIONS=a=1:suppressions=/x:b=2") with every
// file they name replaced by a reachable copy.
std::string with_reachable_files(const std::string& entry) {
  std::string_view name = std::string_view(entry).substr(0, entry.find('='));
  if (!name.ends_with("SAN_OPTIONS") || name.size() == entry.size()) return entry;
  std::string out(name);
  out += '=';
  std::string_view options = std::string_view(entry).substr(name.size() + 1);
  for (std::size_t start = 0; start <= options.size();) {
    std::size_t end = std::min(options.find(':', start), options.size());
    std::string_view option = options.substr(start, end - start);
    if (start > 0) out += ':';
    constexpr std::string_view kFile = "suppressions=";
    if (option.starts_with(kFile) && option.size() > kFile.size()) {
      out += std::string(kFile) + reachable_copy(option.substr(kFile.size())).string();
    } else {
      out += option;
    }
    start = end + 1;
  }
  return out;
}

// In the child, between fork and exec: only what may be called there.
[[noreturn]] void become(const fs::path& program, const Launch& how, char* const* argv,
                         char* const* envp, int out, int err, int state) {
  for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
  for (int sig : how.ignored) signal(sig, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  for (int sig : how.blocked) sigaddset(&mask, sig);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  if (how.user && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(how.user->gid) != 0 || setuid(how.user->uid) != 0) {
      _exit(126);
    }
  }
  if (chdir(how.dir.c_str()) != 0) _exit(125);
  int in = how.stdin_fd >= 0 ? how.stdin_fd : open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(how.stdout_fd >= 0 ? how.stdout_fd : out, 1);
  dup2(how.stderr_fd >= 0 ? how.stderr_fd : err, 2);
  dup2(state, 3);
  for (int fd = 4; fd < 64; ++fd) close(fd);
  for (int fd : how.closed) close(fd);
  execve(program.c_str(), argv, envp);
  _exit(127);
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "status " << o.status << "\n--- out\n"
            << o.out << "--- err\n"
            << o.err << "--- state\n"
            << o.state.substr(0, 2000);
}

User nobody() {
  if (const passwd* entry = getpwnam("nobody")) return {entry->pw_uid, entry->pw_gid};
  return {65534, 65534};
}

bool running_as_root() {
  return geteuid() == 0;
}

Outcome launch(const fs::path& program, const Launch& how) {
  std::vector<std::string> args{program.filename().string()};
  args.insert(args.end(), how.args.begin(), how.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = how.env ? *how.env : this_environment();
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2], err[2], state[2];
  if (pipe(out) != 0 || pipe(err) != 0 || pipe(state) != 0) return {};
  if (how.reader_gone) close(out[0]);

  pid_t pid = fork();
  if (pid == 0) become(program, how, argv.data(), envp.data(), out[1], err[1], state[1]);
  close(out[1]);
  close(err[1]);
  close(state[1]);

  Outcome outcome;
  struct Source {
    int fd;
    std::string* text;
  };
  std::vector<Source> sources{{err[0], &outcome.err}, {state[0], &outcome.state}};
  if (!how.reader_gone) sources.push_back({out[0], &outcome.out});
  if (how.started) how.started(pid);
  std::size_t next_signal = 0;
  auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!sources.empty() && std::chrono::steady_clock::now() < deadline) {
    bool ready = outcome.out.find("ready\n") != std::string::npos;
    if (ready && next_signal < how.signals.size()) {
      // Give an ignored signal time to be (not) acted upon before the next.
      if (next_signal > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(pid, how.signals[next_signal++]);
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
  waitpid(pid, &outcome.wait_status, 0);
  outcome.status = shell_status(outcome.wait_status);
  return outcome;
}

Outcome launch_as(const User& user, const fs::path& program, Launch how) {
  if (!running_as_root()) return launch(program, how);
  std::vector<std::string> env = how.env ? *how.env : this_environment();
  for (std::string& entry : env) entry = with_reachable_files(entry);
  how.env = env;
  how.user = user;
  return launch(reachable_copy(program), how);
}

const fs::path& reachable_copy(const fs::path& file) {
  struct Stage {
    ScratchDir dir{"vela-reachable", Reach::everyone};
    std::map<fs::path, fs::path> copies;
    Stage() {
      fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
    }
  };
  static Stage stage;
  auto [at, added] = stage.copies.try_emplace(fs::absolute(file));
  if (added) {
    // Numbered, so two files of one name do not meet.
    at->second = stage.dir / (std::to_string(stage.copies.size()) + "-" + file.filename().string());
    fs::copy_file(file, at->second);
    fs::permissions(at->second, fs::status(file).permissions() | fs::perms::others_read);
  }
  return at->second;
}

Outcome run_in_child(const std::function<void()>& body, std::optional<User> user) {
  std::fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    if (user && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0)) {
      _exit(126);
    }
    body();
    std::fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  Outcome run;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) run.out.append(buf, n);
  close(fds[0]);
  waitpid(pid, &run.wait_status, 0);
  run.status = shell_status(run.wait_status);
  return run;
}

}  // namespace vela_test
