// The built tool against files it cannot read or write, and the output's
// routes: each failure is one message line and exit status 1 (or the end by
// a signal), with no output file, no temporary left in the output's
// directory and any earlier file at the output path unchanged.
// The permission cases run as an unprivileged user when the tests run as
// root, since root is not stopped by permission bits.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch.h"
#include "support/tool.h"

namespace fs = std::filesystem;

namespace {

using vela_test::listing;
using vela_test::Outcome;
using vela_test::read_file;
using vela_test::run_tool;
using vela_test::RunAs;
using vela_test::running_as_root;
using vela_test::write_file;

const char* kInput =
    "ENDHEADER\n"
    "DET = ALL\n"
    "ENDROW\n"
    "ENDFILE\n";
const char* kRules = "DET = ALL => DET = A || DET = B ;\n";
const char* kEarlier = "an earlier file, not a load file\n";
const char* kOutput =
    "ENDHEADER\n\n"
    "DET = A\nEXPANSION_NUMBER = 1\nENDROW\n\n"
    "DET = B\nEXPANSION_NUMBER = 2\nENDROW\n\n"
    "ENDFILE\n";
// Rules that hand the row back and forth, so the run fails once it is going.
const char* kLoop = "DET = ALL => DET = A ;\nDET = A => DET = ALL ;\n";
const char* kLoopReport = "Rule file syntax error (Rules on lines 1, 2 expand row 1 without end)\n";

class Faults : public testing::Test {
 protected:
  void SetUp() override {
    file("in.lod", kInput);
    file("r.rules", kRules);
  }

  fs::path file(const std::string& name, const std::string& text) {
    return scratch_.write(name, text);
  }
  // Made the unprivileged user's own when the tests run as root.
  void give_away(const fs::path& path) {
    if (running_as_root()) {
      vela_test::User nobody = vela_test::nobody();
      ASSERT_EQ(chown(path.c_str(), nobody.uid, nobody.gid), 0);
    }
  }
  // One message line naming `name`, status 1, nothing on standard error.
  static void expect_one_report(const Outcome& r, const std::string& name) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(r.out.ends_with("\n")) << r.out;
    EXPECT_NE(r.out.find("(" + name), std::string::npos) << r.out;
  }

  // Open to the unprivileged user, so only the case's own file or directory
  // stands in its way.
  vela_test::ScratchDir scratch_{"rowfan-faults", vela_test::Reach::everyone};
  fs::path dir_ = scratch_.path();
};

TEST_F(Faults, OutputToAFullDeviceIsReportedAndLeavesTheDeviceAlone) {
  // Our own full device, so the system's is never at stake.
  std::string full = "/dev/full";
  if (running_as_root()) {
    full = dir_ / "full";
    ASSERT_EQ(mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0) << errno;
  }
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", full, "r.rules"});
  expect_one_report(r, full);
  EXPECT_EQ(r.out, "Cannot write to file (" + full + ")\n");
  EXPECT_EQ(listing(dir_), before);
  EXPECT_TRUE(fs::is_character_file(full));
}

TEST_F(Faults, OutputInAReadOnlyDirectoryIsRefused) {
  fs::create_directory(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  Outcome r = run_tool(dir_, {"in.lod", "ro/out.lod", "r.rules"}, RunAs::nobody);
  expect_one_report(r, "ro/out.lod");
  EXPECT_EQ(r.out, "Cannot write to file (ro/out.lod)\n");
  EXPECT_TRUE(listing(dir_ / "ro").empty());
}

TEST_F(Faults, AWritableFileInAReadOnlyDirectoryIsWrittenInPlace) {
  // The file may be written though not replaced: the complete output is
  // copied into it, and a failed run leaves it as it was.
  fs::create_directory(dir_ / "ro");
  write_file(dir_ / "ro/out.lod", kEarlier);
  give_away(dir_ / "ro/out.lod");
  fs::permissions(dir_ / "ro/out.lod", fs::perms::all);
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  file("loop.rules", kLoop);
  Outcome failed = run_tool(dir_, {"in.lod", "ro/out.lod", "loop.rules"}, RunAs::nobody);
  EXPECT_EQ(failed.out, kLoopReport);
  EXPECT_EQ(read_file(dir_ / "ro/out.lod"), kEarlier);
  Outcome r = run_tool(dir_, {"in.lod", "ro/out.lod", "r.rules"}, RunAs::nobody);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_file(dir_ / "ro/out.lod"), kOutput);
  EXPECT_EQ(listing(dir_ / "ro"), std::vector<std::string>{"out.lod"});
}

TEST_F(Faults, AFileTheRunMayNotReplaceKeepsItsInodeOwnerModeAndLinks) {
  // Another owner's file with a second link, in a sticky directory open to
  // all: written by copying into it.
  fs::create_directory(dir_ / "tmp");
  fs::permissions(dir_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
  file("tmp/out.lod", kEarlier);
  fs::permissions(dir_ / "tmp/out.lod", fs::perms::owner_read | fs::perms::owner_write |
                                            fs::perms::group_read | fs::perms::group_write |
                                            fs::perms::others_read | fs::perms::others_write);
  fs::create_hard_link(dir_ / "tmp/out.lod", dir_ / "other.lod");
  struct stat before {};
  ASSERT_EQ(stat((dir_ / "tmp/out.lod").c_str(), &before), 0);
  Outcome r = run_tool(dir_, {"in.lod", "tmp/out.lod", "r.rules"}, RunAs::nobody);
  EXPECT_EQ(r.status, 0) << r.out;
  struct stat after {};
  ASSERT_EQ(stat((dir_ / "tmp/out.lod").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(read_file(dir_ / "other.lod"), kOutput);
  EXPECT_EQ(listing(dir_ / "tmp"), std::vector<std::string>{"out.lod"});
}

TEST_F(Faults, ALinkPlantedInAStickyDirectoryIsNotFollowed) {
  if (!running_as_root()) GTEST_SKIP() << "only root can plant a link as another user";
  fs::create_directory(dir_ / "tmp");
  fs::permissions(dir_ / "tmp", fs::perms::all | fs::perms::sticky_bit);
  fs::create_directory(dir_ / "victims");
  file("victims/out.lod", kEarlier);
  // A link to a file, and a link to a directory, which is as much a link on
  // the way when it stands before the last name or before "..".
  vela_test::User nobody = vela_test::nobody();
  for (auto [link, target] :
       {std::pair{"tmp/out.lod", "victims/out.lod"}, std::pair{"tmp/dlink", "victims"}}) {
    fs::create_symlink(dir_ / target, dir_ / link);
    ASSERT_EQ(lchown((dir_ / link).c_str(), nobody.uid, nobody.gid), 0);
  }
  struct Case {
    std::vector<std::string> args;
    std::string refused;
  };
  const Case cases[] = {
      {{"in.lod", "tmp/out.lod", "r.rules"}, "tmp/out.lod"},
      {{"in.lod", "tmp/dlink/out.lod", "r.rules"}, "tmp/dlink/out.lod"},
      {{"in.lod", "tmp/dlink/new.lod", "r.rules"}, "tmp/dlink/new.lod"},
      {{"in.lod", "tmp/dlink/../x.lod", "r.rules"}, "tmp/dlink/../x.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=tmp/dlink/t.tsv"}, "tmp/dlink/t.tsv"},
  };
  auto before = listing(dir_);
  for (const Case& c : cases) {
    Outcome r = run_tool(dir_, c.args);
    EXPECT_EQ(r.out, "Cannot write to file (" + c.refused + ")\n") << c.refused;
    EXPECT_EQ(r.status, 1) << c.refused;
    EXPECT_EQ(read_file(dir_ / "victims/out.lod"), kEarlier) << c.refused;
    EXPECT_EQ(listing(dir_ / "victims"), std::vector<std::string>{"out.lod"}) << c.refused;
    EXPECT_EQ(listing(dir_), before) << c.refused;
  }
  // The link's owner follows it: the link is its own.
  give_away(dir_ / "victims/out.lod");
  Outcome own = run_tool(dir_, {"in.lod", "tmp/out.lod", "r.rules"}, RunAs::nobody);
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_EQ(read_file(dir_ / "victims/out.lod"), kOutput);
  EXPECT_TRUE(fs::is_symlink(dir_ / "tmp/out.lod"));
}

TEST_F(Faults, ADanglingLinksTargetIsCreatedCompleteOrNotAtAll) {
  // A relative target lies beside the link, not in the run's directory.
  fs::create_directory(dir_ / "sub");
  fs::create_symlink("target.lod", dir_ / "sub/link.lod");
  file("loop.rules", kLoop);
  auto before = listing(dir_);
  Outcome failed = run_tool(dir_, {"in.lod", "sub/link.lod", "loop.rules"});
  EXPECT_EQ(failed.out, kLoopReport);
  EXPECT_EQ(listing(dir_ / "sub"), std::vector<std::string>{"link.lod"});
  Outcome r = run_tool(dir_, {"in.lod", "sub/link.lod", "r.rules"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_file(dir_ / "sub/target.lod"), kOutput);
  EXPECT_TRUE(fs::is_symlink(dir_ / "sub/link.lod"));
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AReaderOfTheReplacedFileKeepsItsBytes) {
  // The run puts a new file in place of the old; whoever holds the old
  // one open goes on reading what was there.
  file("out.lod", kEarlier);
  int reader = open((dir_ / "out.lod").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"});
  std::string held(4096, '\0');
  ssize_t got = pread(reader, held.data(), held.size(), 0);
  close(reader);
  held.resize(got > 0 ? static_cast<size_t>(got) : 0);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(held, kEarlier);
  EXPECT_EQ(read_file(dir_ / "out.lod"), kOutput);
}

// True once `pid` waits in the call `number`; false if it ends first.
bool waits_in(pid_t pid, long number) {
  for (int i = 0; i < 20000; i++) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string now;  // a number, or "running"
    if (!(in >> now)) return false;
    if (now == std::to_string(number)) return true;
    usleep(500);
  }
  return false;
}

TEST_F(Faults, ACopyWaitsForItsFilesLockAndCanBeStoppedWhileWaiting) {
  // A second link sends the output by the copy route, which copies only
  // while it holds the file's lock: here another process holds it.
  file("out.lod", kEarlier);
  fs::create_hard_link(dir_ / "out.lod", dir_ / "link.lod");
  int held = open((dir_ / "out.lod").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(held, F_OFD_SETLK, &lock), 0) << errno;
  auto before = listing(dir_);
  bool waited = false;
  auto stop_while_waiting = [&](pid_t pid) {
    waited = waits_in(pid, SYS_fcntl);
    EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
    kill(pid, SIGTERM);
  };
  Outcome stopped =
      run_tool(dir_, {"in.lod", "out.lod", "r.rules"}, RunAs::caller, stop_while_waiting);
  EXPECT_TRUE(waited) << "the run did not wait for the lock";
  EXPECT_EQ(stopped.status, 128 + SIGTERM);
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
  close(held);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_file(dir_ / "link.lod"), kOutput);
  EXPECT_EQ(listing(dir_), before);
}

// A POSIX access list in the form the kernel keeps it as an extended
// attribute: a version, then (tag, permissions, id) entries in tag order.
std::string access_list(uid_t user, unsigned user_perms, unsigned group_perms) {
  auto put = [](std::string& into, uint16_t tag, uint16_t perms, uint32_t id) {
    for (uint32_t v : {uint32_t{tag}, uint32_t{perms}})
      into += std::string{char(v & 0xff), char(v >> 8)};
    for (int shift : {0, 8, 16, 24}) into += char((id >> shift) & 0xff);
  };
  std::string acl{2, 0, 0, 0};
  put(acl, 0x01, 6, UINT32_MAX);                         // owner
  put(acl, 0x02, uint16_t(user_perms), uint32_t(user));  // one user
  put(acl, 0x04, uint16_t(group_perms), UINT32_MAX);     // owning group
  put(acl, 0x10, 6, UINT32_MAX);                         // mask
  put(acl, 0x20, 0, UINT32_MAX);                         // others
  return acl;
}

// An extended attribute's value, or "(none)".
std::string attribute(const fs::path& file, const char* name) {
  std::string value(4096, '\0');
  ssize_t size = getxattr(file.c_str(), name, value.data(), value.size());
  return size < 0 ? "(none)" : value.substr(0, static_cast<size_t>(size));
}

TEST_F(Faults, AReplacedFileKeepsExactlyItsAccessListsAndAttributes) {
  // An access list giving one more user write access (the group bits then
  // show its mask), and a user attribute.
  file("out.lod", kEarlier);
  fs::permissions(dir_ / "out.lod",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string acl = access_list(vela_test::nobody().uid, 6, 4);
  if (setxattr((dir_ / "out.lod").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) !=
          0 ||
      setxattr((dir_ / "out.lod").c_str(), "user.note", "kept", 4, 0) != 0)
    GTEST_SKIP() << "the file system has no access lists or user attributes: " << errno;
  // A directory whose default access list would give a new file access that
  // the file it replaces does not have.
  fs::create_directory(dir_ / "inherits");
  file("inherits/out.lod", kEarlier);
  if (setxattr((dir_ / "inherits").c_str(), "system.posix_acl_default", acl.data(), acl.size(),
               0) != 0)
    GTEST_SKIP() << "the file system has no default access lists: " << errno;
  for (const char* name : {"out.lod", "inherits/out.lod"}) {
    struct stat before {};
    ASSERT_EQ(stat((dir_ / name).c_str(), &before), 0);
    std::string acl_before = attribute(dir_ / name, "system.posix_acl_access");
    std::string note_before = attribute(dir_ / name, "user.note");
    Outcome r = run_tool(dir_, {"in.lod", name, "r.rules"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(dir_ / name), kOutput) << name;
    struct stat after {};
    ASSERT_EQ(stat((dir_ / name).c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode) << name;
    EXPECT_EQ(after.st_uid, before.st_uid) << name;
    EXPECT_EQ(after.st_gid, before.st_gid) << name;
    // Replaced by a new file, not copied into: the attributes are handed on.
    EXPECT_NE(after.st_ino, before.st_ino) << name;
    EXPECT_EQ(attribute(dir_ / name, "system.posix_acl_access"), acl_before) << name;
    EXPECT_EQ(attribute(dir_ / name, "user.note"), note_before) << name;
  }
  EXPECT_EQ(listing(dir_ / "inherits"), std::vector<std::string>{"out.lod"});
}

TEST_F(Faults, AFailedSecondPlacementLeavesOutputAndTraceAsTheyWere) {
  // The trace goes to standard output, a file opened for appending that is
  // near the file-size limit: its copy is refused once the output, which
  // is put in place first, already is; the output's placement is taken
  // back, whether it took a new name or replaced a file.
  const std::string earlier_log(8150, 'x');
  file("app.log", earlier_log);
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (bool replace : {false, true}) {
    if (replace) file("out.lod", kEarlier);
    auto before = listing(dir_);
    int log = open((dir_ / "app.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(log, 0);
    struct rlimit small = saved;
    small.rlim_cur = 8192;  // the tool inherits it
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Outcome r = vela_test::launch(vela_test::tool_path(),
                                  {.args = {"in.lod", "out.lod", "r.rules", "trace=/dev/fd/1"},
                                   .stdout_fd = log,
                                   .dir = dir_});
    setrlimit(RLIMIT_FSIZE, &saved);
    close(log);
    EXPECT_EQ(r.status, 1) << replace;
    EXPECT_EQ(listing(dir_), before) << replace;
    if (replace) {
      EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
    }
    // Whatever message the run left, no trace line.
    std::string log_text = read_file(dir_ / "app.log");
    EXPECT_TRUE(log_text.starts_with(earlier_log));
    EXPECT_EQ(log_text.find("EXPANSION_NUMBER"), std::string::npos) << log_text.substr(8150);
  }
}

TEST_F(Faults, ADescriptorNameIsWrittenThroughTheDescriptor) {
  // Standard output opened for appending, as `>> app.log` leaves it: the
  // output comes after what was there, and a failed run adds nothing (its
  // message goes to standard error, since standard output is the output).
  file("app.log", "PREVIOUS\n");
  file("loop.rules", kLoop);
  int log = open((dir_ / "app.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(log, 0);
  auto to_log = [&](const std::string& name, const char* rules) {
    return vela_test::launch(vela_test::tool_path(),
                             {.args = {"in.lod", name, rules}, .stdout_fd = log, .dir = dir_});
  };
  Outcome failed = to_log("/dev/stdout", "loop.rules");
  Outcome r = to_log("/dev/fd/1", "r.rules");
  close(log);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, kLoopReport);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir_ / "app.log"), std::string("PREVIOUS\n") + kOutput);

  // A pipe: the output flows through it, block after block of the
  // buffer, the same bytes as in a file.
  std::string big = "ENDHEADER\n";
  for (int i = 0; i < 30000; i++) big += "DET = ALL\nN = " + std::to_string(i) + "\nENDROW\n";
  file("big.lod", big + "ENDFILE\n");
  Outcome piped = run_tool(dir_, {"big.lod", "/proc/self/fd/1", "r.rules"});
  Outcome to_file = run_tool(dir_, {"big.lod", "big.out", "r.rules"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(to_file.status, 0);
  std::string written = read_file(dir_ / "big.out");
  EXPECT_GT(written.size(), 2u << 20);
  EXPECT_TRUE(piped.out == written)
      << piped.out.size() << " bytes piped, " << written.size() << " written";
  fs::remove(dir_ / "big.lod");
  fs::remove(dir_ / "big.out");
  EXPECT_EQ(listing(dir_),
            (std::vector<std::string>{"app.log", "in.lod", "loop.rules", "r.rules"}));
}

// No file of the run is written over another of its files, by whatever name:
// the trace over the input, the rule file or the output, the output over
// the rule file. Refused before anything is written. The output may replace
// the input: that is an expansion in place.
TEST_F(Faults, NoFileOfTheRunIsWrittenOverAnother) {
  const std::string abs = dir_.string() + "/";
  fs::create_symlink("in.lod", dir_ / "in.link");
  fs::create_hard_link(dir_ / "in.lod", dir_ / "in.hard");
  fs::create_symlink("r.rules", dir_ / "r.link");
  fs::create_symlink("out.lod", dir_ / "out.link");  // dangling: no output yet
  struct Case {
    std::vector<std::string> args;
    std::string refused;
  };
  const Case cases[] = {
      {{"in.lod", "out.lod", "r.rules", "trace=in.lod"}, "in.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=./in.lod"}, "./in.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=" + abs + "in.lod"}, abs + "in.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=in.link"}, "in.link"},
      {{"in.lod", "out.lod", "r.rules", "trace=in.hard"}, "in.hard"},
      {{"in.lod", "out.lod", "r.rules", "trace=/dev/stdin"}, "/dev/stdin"},
      {{"in.lod", "out.lod", "r.rules", "trace=r.link"}, "r.link"},
      {{"in.lod", "out.lod", "r.rules", "trace=./out.lod"}, "./out.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=" + abs + "out.lod"}, abs + "out.lod"},
      {{"in.lod", "out.lod", "r.rules", "trace=out.link"}, "out.link"},
      {{"in.lod", "r.rules", "r.rules"}, "r.rules"},
      {{"in.lod", abs + "r.link", "r.rules"}, abs + "r.link"},
  };
  const auto before = listing(dir_);
  for (const Case& c : cases) {
    // Standard input open on the input, as `< in.lod` leaves it.
    int in = open((dir_ / "in.lod").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    Outcome r =
        vela_test::launch(vela_test::tool_path(), {.args = c.args, .stdin_fd = in, .dir = dir_});
    close(in);
    EXPECT_EQ(r.status, 1) << c.refused;
    EXPECT_EQ(r.out, "Cannot write to file (" + c.refused + ")\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir_ / "in.lod"), kInput) << c.refused;
    EXPECT_EQ(read_file(dir_ / "r.rules"), kRules) << c.refused;
    EXPECT_EQ(listing(dir_), before) << c.refused;
  }
  Outcome in_place = run_tool(dir_, {"in.lod", "in.lod", "r.rules"});
  EXPECT_EQ(in_place.status, 0) << in_place.out;
  EXPECT_EQ(read_file(dir_ / "in.lod"), kOutput);
}

TEST_F(Faults, AFileSizeLimitMakesTheWriteFail) {
  std::string input = "ENDHEADER\n";
  for (int i = 0; i < 2000; i++) input += "DET = ALL\nN = " + std::to_string(i) + "\nENDROW\n";
  file("in.lod", input + "ENDFILE\n");
  file("out.lod", kEarlier);
  auto before = listing(dir_);
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit small = saved;
  small.rlim_cur = 16384;  // the tool inherits it
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"});
  setrlimit(RLIMIT_FSIZE, &saved);
  expect_one_report(r, "out.lod");
  EXPECT_EQ(r.out, "Cannot write to file (out.lod)\n");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AMessageToAClosedPipeEndsTheRunBySigpipe) {
  file("out.lod", kEarlier);
  file("loop.rules", kLoop);
  auto before = listing(dir_);
  Outcome r = vela_test::launch(
      vela_test::tool_path(),
      {.args = {"in.lod", "out.lod", "loop.rules"}, .reader_gone = true, .dir = dir_});
  EXPECT_EQ(r.status, 128 + SIGPIPE);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, OutputInAMissingDirectoryIsReported) {
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", "no/such/out.lod", "r.rules"});
  expect_one_report(r, "no/such/out.lod");
  EXPECT_EQ(r.out, "Cannot write to file (no/such/out.lod)\n");
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AnExistingReadOnlyFileIsNotReplaced) {
  file("out.lod", kEarlier);
  give_away(dir_ / "out.lod");
  fs::permissions(dir_ / "out.lod",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"}, RunAs::nobody);
  expect_one_report(r, "out.lod");
  EXPECT_EQ(r.out, "Cannot write to file (out.lod)\n");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AnInputThatIsADirectoryIsReported) {
  fs::create_directory(dir_ / "in.d");
  file("out.lod", kEarlier);
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.d", "out.lod", "r.rules"});
  expect_one_report(r, "in.d");
  EXPECT_EQ(r.out, "Cannot open file (in.d)\n");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AnUnreadableInputIsReported) {
  fs::permissions(dir_ / "in.lod", fs::perms::none);
  file("out.lod", kEarlier);
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"}, RunAs::nobody);
  expect_one_report(r, "in.lod");
  EXPECT_EQ(r.out, "Cannot open file (in.lod)\n");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AnEmptyFifoAsInputEndsWithoutHanging) {
  ASSERT_EQ(mkfifo((dir_ / "in.fifo").c_str(), 0666), 0);
  auto before = listing(dir_);
  // A writer that comes and goes at once: the tool sees the end of the file.
  auto open_and_close = [&](pid_t) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int fd = open((dir_ / "in.fifo").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  Outcome r = run_tool(dir_, {"in.fifo", "out.lod", "r.rules"}, RunAs::caller, open_and_close);
  expect_one_report(r, "in.fifo");
  EXPECT_EQ(r.out, "Cannot process load file (in.fifo: Syntax error in loadile at line 0)\n");
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, ARuleFileThatIsADirectoryIsReported) {
  fs::create_directory(dir_ / "rules.d");
  file("out.lod", kEarlier);
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "rules.d"});
  expect_one_report(r, "rules.d");
  EXPECT_EQ(r.out, "Cannot open file (rules.d)\n");
  EXPECT_EQ(read_file(dir_ / "out.lod"), kEarlier);
  EXPECT_EQ(listing(dir_), before);
}

TEST_F(Faults, AnUnreadableRuleFileIsReported) {
  fs::permissions(dir_ / "r.rules", fs::perms::none);
  auto before = listing(dir_);
  Outcome r = run_tool(dir_, {"in.lod", "out.lod", "r.rules"}, RunAs::nobody);
  expect_one_report(r, "r.rules");
  EXPECT_EQ(r.out, "Cannot open file (r.rules)\n");
  EXPECT_EQ(listing(dir_), before);
}

}  // namespace
