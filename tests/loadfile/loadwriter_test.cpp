// The load file writer: the canonical layout, the round trip through the
// reader, and what is left on disk when writing fails.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <loadfile/loadfile.h>
#include <loadfile/outputfile.h>
#include "outputstate.h"
#include "support/process.h"
#include "support/process_state.h"
#include "support/scratch.h"
#include "support/tables.h"

namespace {

using vela_test::dump_table;

class WriteLoadfile : public vela_test::ScratchTest {
 protected:
  // A Table with the COMMENT keyword first and a COMMENT column between two
  // others, as no reader would build it.
  static TablePtr sample() {
    TablePtr t(create_table());
    put_tab_key(t.get(), "COMMENT", "note");
    put_tab_key(t.get(), "TITLE", "t");
    put_tab_cell(t.get(), "A", 0, "1");
    put_tab_cell(t.get(), "COMMENT", 0, "two\nlines\n");
    put_tab_cell(t.get(), "B", 0, "");
    put_tab_cell(t.get(), "B", 1, std::string(100, 'x'));
    return t;
  }
  static std::string sample_text() {
    return "TITLE = t\nCOMMENT =note\nENDHEADER\n\n"
           "A = 1\nB = \nCOMMENT =two\nlines\nENDROW\n\n"
           "A = \nB = " +
           std::string(100, 'x') + "\nCOMMENT =\nENDROW\n\nENDFILE\n";
  }

  // A device whose every write fails. As root the test makes its own node
  // in the scratch directory, so that a writer taking it for a regular file
  // could only ever replace that one, never the system's /dev/full.
  std::string full_device() {
    std::string node = path("full");
    if (geteuid() == 0 && mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) return node;
    return "/dev/full";
  }

  mode_t mode_of(const std::string& file) {
    struct stat st {};
    stat(file.c_str(), &st);
    return st.st_mode & 07777;
  }
};

TEST_F(WriteLoadfile, CanonicalLayout) {
  TablePtr empty(create_table());
  ASSERT_EQ(write_loadfile(path("empty.lod").c_str(), empty.get()), 0);
  EXPECT_EQ(slurp(path("empty.lod")), "ENDHEADER\n\nENDFILE\n");

  ASSERT_EQ(write_loadfile(path("sample.lod").c_str(), sample().get()), 0);
  EXPECT_EQ(slurp(path("sample.lod")), sample_text());
  EXPECT_EQ(listing(), "empty.lod sample.lod ") << "no temporary left behind";
}

TEST_F(WriteLoadfile, RoundTripKeepsTheTable) {
  std::string data = ROWFAN_TEST_DATA "/lod/";
  TablePtr first(read_loadfile((data + "frames.lod").c_str()));
  ASSERT_TRUE(first) << lod_error;
  ASSERT_EQ(write_loadfile(path("out.lod").c_str(), first.get()), 0);
  EXPECT_EQ(slurp(path("out.lod")), slurp(data + "frames.canonical.lod"));

  TablePtr second(read_loadfile(path("out.lod").c_str()));
  ASSERT_TRUE(second) << lod_error;
  // The one change: an empty COMMENT cell, written as "COMMENT =", comes
  // back as a newline.
  EXPECT_STREQ(get_tab_cell(second.get(), "COMMENT", 1), "\n");
  put_tab_cell(second.get(), "COMMENT", 1, "");
  EXPECT_EQ(dump_table(second.get()), dump_table(first.get()));
}

// What writing and reading again may change by the format's own rules: the
// COMMENT keyword and column come last, and a COMMENT ends with a newline.
TablePtr as_read_back(Table* table) {
  auto with_newline = [](std::string text) {
    if (text.empty() || text.back() != '\n') text += '\n';
    return text;
  };
  TablePtr out(create_table());
  for (int k = 0; k < table->keynames.count; ++k) {
    std::string_view name = get_tab_keyname_bynum(table, k);
    if (name != comment) put_tab_key(out.get(), name, get_tab_keyval_bynum(table, k));
  }
  if (const char* note = get_tab_key(table, comment))
    put_tab_key(out.get(), comment, with_newline(note));
  int note_col = get_tab_colnum(table, comment);
  for (int r = 0; r < table->nrow; ++r) {
    for (int c = 0; c < table->ncol; ++c) {
      if (c != note_col)
        put_tab_cell(out.get(), get_tab_colname(table, c), r, get_tab_cell_bynum(table, c, r));
    }
    if (note_col >= 0)
      put_tab_cell(out.get(), comment, r, with_newline(get_tab_cell_bynum(table, note_col, r)));
  }
  return out;
}

TEST_F(WriteLoadfile, EveryAcceptedFixtureReadsBackToTheSameRows) {
  int accepted = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(ROWFAN_TEST_DATA)) {
    if (!entry.is_regular_file()) continue;
    TablePtr first(read_loadfile(entry.path().c_str()));
    if (!first) continue;
    ++accepted;
    ASSERT_EQ(write_loadfile(path("out.lod").c_str(), first.get()), 0) << entry.path();
    TablePtr second(read_loadfile(path("out.lod").c_str()));
    ASSERT_TRUE(second) << entry.path() << ": " << lod_error;
    EXPECT_EQ(dump_table(second.get()), dump_table(as_read_back(first.get()).get()))
        << entry.path();
  }
  EXPECT_GE(accepted, 2);
}

TEST_F(WriteLoadfile, RefusedPathsWriteNothing) {
  TablePtr t = sample();
  EXPECT_EQ(write_loadfile(path("missing/out.lod").c_str(), t.get()), -1);
  EXPECT_STREQ(lod_error, "Cannot open loadfile");
  EXPECT_EQ(write_loadfile(dir_.c_str(), t.get()), -1);
  EXPECT_STREQ(lod_error, "Cannot open loadfile");
  EXPECT_EQ(write_loadfile((dir_ + "/").c_str(), t.get()), -1);
  EXPECT_STREQ(lod_error, "Cannot open loadfile");
  EXPECT_EQ(listing(), "");
}

// Root may write any file: as root the writer runs as the unprivileged user,
// the file its own, in a directory where it could rename over the file.
TEST_F(WriteLoadfile, ReadOnlyFileIsNotReplaced) {
  vela_test::ScratchDir open_dir("vela-test", vela_test::Reach::everyone);
  std::string file = open_dir.write("old.lod", "old");
  const vela_test::User nobody = vela_test::nobody();
  if (vela_test::running_as_root()) {
    ASSERT_EQ(chown(file.c_str(), nobody.uid, nobody.gid), 0);
  }
  chmod(file.c_str(), 0444);
  vela_test::Outcome run = vela_test::run_in_child(
      [&] {
        int result = write_loadfile(file.c_str(), sample().get());
        std::printf("%d %s", result, result == 0 ? "" : lod_error);
      },
      nobody);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "-1 Cannot open loadfile");
  EXPECT_EQ(slurp(file), "old");
  EXPECT_EQ(open_dir.listing(), std::vector<std::string>{"old.lod"});
}

TEST_F(WriteLoadfile, FailedWriteReportedAndNothingLeft) {
  TablePtr t = sample();
  std::string full = full_device();
  EXPECT_EQ(write_loadfile(full.c_str(), t.get()), -1);
  EXPECT_STREQ(lod_error, "Cannot write loadfile");
  struct stat st {};
  ASSERT_EQ(stat(full.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // A file size limit makes the write fail part way through the output.
  std::string file = put_file("old.lod", "old");
  for (int r = 2; r < 30000; ++r) put_tab_cell(t.get(), "A", r, std::string(60, 'a'));
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = 100000;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  int result = write_loadfile(file.c_str(), t.get());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, -1);
  EXPECT_STREQ(lod_error, "Cannot write loadfile");
  EXPECT_EQ(slurp(file), "old");
  EXPECT_EQ(listing(), full == "/dev/full" ? "old.lod " : "full old.lod ");
}

TEST_F(WriteLoadfile, DiscardedWriterLeavesEarlierFile) {
  std::string file = put_file("old.lod", "old");
  TablePtr t = sample();
  LoadWriter* writer = open_load_writer(file.c_str(), t.get());
  ASSERT_NE(writer, nullptr);
  std::string_view cells[] = {"1", "", "2"};
  EXPECT_EQ(put_load_row(writer, cells), 0);
  discard_load_writer(writer);
  discard_load_writer(nullptr);
  EXPECT_EQ(slurp(file), "old");
  EXPECT_EQ(listing(), "old.lod ");
}

// The expansion engine hands a column it does not carry (a name beginning
// with `_`) as an empty view with no storage behind it; copying from that
// null pointer stopped the sanitizer build of the tool.
TEST_F(WriteLoadfile, EmptyCellsWithoutStorageAreWritten) {
  std::string file = put_file("out.lod", "");
  TablePtr t = sample();
  LoadWriter* writer = open_load_writer(file.c_str(), t.get());
  ASSERT_NE(writer, nullptr);
  std::string_view cells[3] = {};
  EXPECT_EQ(put_load_row(writer, cells), 0);
  EXPECT_EQ(close_load_writer(writer), 0);
  EXPECT_EQ(slurp(file),
            "TITLE = t\nCOMMENT =note\nENDHEADER\n\nA = \nB = \nCOMMENT =\nENDROW\n\nENDFILE\n");
}

// Rows about the line limit: a value of 33 bytes, just past what the short
// copies cover, comes out whole; a row sent line by line because a line
// needs "A=" still counts its ENDROW and blank line, so the warning for a
// later value that fits no layout names that value's own line.
TEST_F(WriteLoadfile, ValuesAboutTheLimitAndTheLinesCounted) {
  TablePtr t(create_table());
  put_tab_cell(t.get(), "A", 0, "");
  const std::string copied = "abcdefghijklmnopqrstuvwxyz0123456";
  const std::string compact(76, 'c');
  const std::string overlong(100, 'o');
  std::string file = path("out.lod");
  LoadWriter* writer = open_load_writer(file.c_str(), t.get());
  ASSERT_NE(writer, nullptr);
  for (const std::string& value : {copied, compact, overlong}) {
    std::string_view cells[] = {value};
    EXPECT_EQ(put_load_row(writer, cells), 0);
  }
  EXPECT_EQ(load_writer_overlong(writer).line, 9);
  EXPECT_EQ(load_writer_overlong(writer).count, 1);
  EXPECT_EQ(close_load_writer(writer), 0);
  EXPECT_EQ(slurp(file), "ENDHEADER\n\nA = " + copied + "\nENDROW\n\nA=" + compact +
                             "\nENDROW\n\nA = " + overlong + "\nENDROW\n\nENDFILE\n");
}

TEST_F(WriteLoadfile, KeepsModeOfReplacedFileAndUmaskForNewOne) {
  std::string file = put_file("old.lod", "old");
  chmod(file.c_str(), 0640);
  ASSERT_EQ(write_loadfile(file.c_str(), sample().get()), 0);
  EXPECT_EQ(mode_of(file), 0640u);

  mode_t saved = umask(027);
  int result = write_loadfile(path("new.lod").c_str(), sample().get());
  umask(saved);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(mode_of(path("new.lod")), 0640u);
}

TEST_F(WriteLoadfile, WritesThroughLinksAndIntoNonRegularFiles) {
  std::string target = put_file("target.lod", "old");
  ASSERT_EQ(symlink(target.c_str(), path("link.lod").c_str()), 0);
  ASSERT_EQ(write_loadfile(path("link.lod").c_str(), sample().get()), 0);
  EXPECT_EQ(slurp(target), sample_text());
  struct stat st {};
  ASSERT_EQ(lstat(path("link.lod").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  std::string fifo = path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reading end is open first, so the writer neither waits for it nor
  // fills the pipe; a writer that replaced the FIFO leaves it empty.
  int in = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(in, 0);
  EXPECT_EQ(write_loadfile(fifo.c_str(), sample().get()), 0);
  std::string received(4096, '\0');
  ssize_t got = read(in, received.data(), received.size());
  close(in);
  received.resize(got > 0 ? static_cast<size_t>(got) : 0);
  EXPECT_EQ(received, sample_text());
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The signal a copy sends itself once it holds its file's lock.
int copy_signal = 0;

TEST_F(WriteLoadfile, ASignalSentIntoACopyTakesEffectOnceTheCopyIsDone) {
  // A second link sends the output by the copy route. Faults sent by
  // another process are held back as much as the others.
  for (int sig : {SIGSEGV, SIGTRAP, SIGSYS, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGTERM}) {
    std::string file = put_file("old.lod", std::string(1000, 'o'));
    ASSERT_EQ(link(file.c_str(), path("link.lod").c_str()), 0);
    copy_signal = sig;
    vela_test::Outcome r = vela_test::run_in_child([&] {
      struct rlimit no_core {};
      setrlimit(RLIMIT_CORE, &no_core);
      output_copy_hook = [] { kill(getpid(), copy_signal); };
      _exit(write_loadfile(file.c_str(), sample().get()) == 0 ? 0 : 1);
    });
    // Ended by the signal (or by a sanitizer that caught it), not before.
    EXPECT_NE(r.status, 0) << sig;
    EXPECT_EQ(slurp(path("link.lod")), sample_text()) << sig;
    EXPECT_EQ(listing(), "link.lod old.lod ") << sig;
    unlink(path("link.lod").c_str());
  }
}

TEST_F(WriteLoadfile, WritersOnSeveralThreadsAtOnceLeaveOnlyTheirFiles) {
  // The signal guard's state is shared by every output open in the
  // process; the last one closed gives the signals their actions back.
  output_unnamed_staging = false;  // temporary names, armed and disarmed
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++) {
    threads.emplace_back([this, i] {
      TablePtr t = sample();
      std::string file = path("out" + std::to_string(i) + ".lod");
      for (int round = 0; round < 50; round++) write_loadfile(file.c_str(), t.get());
    });
  }
  for (std::thread& thread : threads) thread.join();
  output_unnamed_staging = true;
  EXPECT_EQ(listing(), "out0.lod out1.lod out2.lod out3.lod ");
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(slurp(path("out" + std::to_string(i) + ".lod")), sample_text());
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// An output holds the signal guard from its opening on; every way of
// letting it go (placed, discarded, or not opened at all) gives it back, so
// the handlers in place before the first output are those after the last.
TEST_F(WriteLoadfile, EveryOutputGivesTheSignalHandlersBack) {
  const auto before = vela_test::disposition(SIGINT);
  for (bool unnamed : {true, false}) {
    output_unnamed_staging = unnamed;
    put_file("old.lod", "old");
    OutputFile* replaced = open_output_file(path("old.lod").c_str());
    OutputFile* added = open_output_file(path("new.lod").c_str());
    ASSERT_NE(replaced, nullptr);
    ASSERT_NE(added, nullptr);
    EXPECT_NE(vela_test::disposition(SIGINT), before);
    discard_output_file(added);
    EXPECT_NE(vela_test::disposition(SIGINT), before) << "one output is still open";
    EXPECT_EQ(close_output_file(replaced), 0);
    EXPECT_EQ(vela_test::disposition(SIGINT), before) << unnamed;
    discard_output_file(open_output_file(path("new.lod").c_str()));
    EXPECT_EQ(vela_test::disposition(SIGINT), before) << unnamed;
    EXPECT_EQ(open_output_file(path("missing/new.lod").c_str()), nullptr);
    EXPECT_EQ(vela_test::disposition(SIGINT), before) << unnamed;
  }
  output_unnamed_staging = true;
  EXPECT_EQ(listing(), "old.lod ");
}

// A handler the program sets for a signal it had ignored is the
// program's: the guard never took that signal, so never puts it back. Nor
// does it ever touch a signal it does not guard, however often outputs
// come and go.
int signal_seen = 0;
void note(int sig) {
  signal_seen = sig;
}

TEST_F(WriteLoadfile, TheGuardGivesBackOnlyTheSignalsItTook) {
  vela_test::Outcome r = vela_test::run_in_child([this] {
    signal(SIGWINCH, note);
    for (int round = 0; round < 2; ++round) {
      signal(SIGTERM, SIG_IGN);
      OutputFile* out = open_output_file(path("new.lod").c_str());
      if (out == nullptr) _exit(2);
      signal(SIGTERM, note);
      discard_output_file(out);
      if (vela_test::disposition(SIGTERM)->handler != note) _exit(3);
    }
    if (vela_test::disposition(SIGWINCH)->handler != note) _exit(4);
  });
  EXPECT_EQ(r.status, 0) << "2: not opened, 3: SIGTERM put back, 4: SIGWINCH reset";
}

// With standard input closed, the output's own descriptors take its number
// 0 in turn; every one is closed again, and finding where a name leads
// never closes a descriptor of the caller's, 0 included.
TEST_F(WriteLoadfile, OutputsLeaveDescriptorZeroAsTheyFoundIt) {
  put_file("sub/old.lod", "old");
  put_file("old.lod", "old");
  vela_test::Outcome r = vela_test::run_in_child([this] {
    close(0);
    // Both depths, so that whatever the depth of the scratch directory, the
    // replaced file's own descriptor is 0 in one of them.
    for (const char* name : {"old.lod", "sub/old.lod", "sub/new.lod"}) {
      if (write_loadfile(path(name).c_str(), sample().get()) != 0) _exit(2);
      if (fcntl(0, F_GETFD) != -1) _exit(3);
    }
    if (open("/dev/null", O_RDONLY) != 0) _exit(2);
    struct stat st {};
    fstat(0, &st);
    output_names_file(path("missing/new.lod").c_str(), st);
    same_output_file("/dev/stdout", path("old.lod").c_str());
    if (fcntl(0, F_GETFD) == -1) _exit(4);
  });
  EXPECT_EQ(r.status, 0) << "3: one left open, 4: the caller's closed";
}

// The file was replaced by a directory while the output was written: the
// rename over it is refused, and the output goes into the file it replaces.
TEST_F(WriteLoadfile, ARefusedRenameWritesIntoTheFileOpened) {
  std::string file = put_file("old.lod", "old");
  OutputFile* out = open_output_file(file.c_str());
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(write_output(out, "new\n", 4));
  ASSERT_EQ(rename(file.c_str(), path("moved.lod").c_str()), 0);
  ASSERT_EQ(mkdir(file.c_str(), 0700), 0);
  EXPECT_EQ(close_output_file(out), 0);
  EXPECT_EQ(slurp(path("moved.lod")), "new\n");
  EXPECT_EQ(listing(), "moved.lod old.lod ");
}

// A descriptor left past earlier text, as `{ echo head; tool ...; } > file`
// leaves standard output: the file-size limit counts from its position, and
// a copy that would cross it writes nothing. A file system that cannot
// reserve room ahead (the process's own name under /proc) is written all
// the same.
TEST_F(WriteLoadfile, ACopyIntoADescriptorIsCheckedFromItsPosition) {
  std::string file = put_file("log", std::string(100, 'h'));
  vela_test::Outcome r = vela_test::run_in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    auto copy_into = [](int fd, std::string_view text) {
      OutputFile* out = open_output_file(("/dev/fd/" + std::to_string(fd)).c_str());
      if (out == nullptr || !write_output(out, text.data(), text.size())) _exit(2);
      return close_output_file(out);
    };
    int log = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    lseek(log, 0, SEEK_END);
    struct rlimit small {};
    getrlimit(RLIMIT_FSIZE, &small);
    small.rlim_cur = 120;
    setrlimit(RLIMIT_FSIZE, &small);
    if (copy_into(log, std::string(50, 'n')) != -1) _exit(3);
    if (copy_into(open("/proc/self/comm", O_WRONLY | O_CLOEXEC), "renamed") != 0) _exit(4);
    std::printf("%s", vela_test::read_file("/proc/self/comm").c_str());
  });
  EXPECT_EQ(r.status, 0) << "3: copied past the limit, 4: not copied";
  EXPECT_EQ(r.out, "renamed\n");
  EXPECT_EQ(slurp(file), std::string(100, 'h'));
}

// Makes every unnamed file this process asks for fail with `error`.
void refuse_unnamed_files(int error) {
  const unsigned low_flags = offsetof(seccomp_data, args[2]) + (BYTE_ORDER == BIG_ENDIAN ? 4 : 0);
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, low_flags),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(error)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
    _exit(2);
}

// A file system that lacks unnamed files is staged into under a temporary
// name; one that refuses a new file for want of room is not tried again.
TEST_F(WriteLoadfile, OnlyAMissingKindOfFileIsStagedUnderAName) {
  for (int error : {EOPNOTSUPP, ENOSPC}) {
    vela_test::Outcome r = vela_test::run_in_child([&] {
      refuse_unnamed_files(error);
      OutputFile* out = open_output_file(path("new.lod").c_str());
      if ((out != nullptr) != (error == EOPNOTSUPP)) _exit(3);
      if (out != nullptr && (!write_output(out, "new\n", 4) || close_output_file(out) != 0))
        _exit(4);
    });
    EXPECT_EQ(r.status, 0) << error;
    EXPECT_EQ(listing(), error == EOPNOTSUPP ? "new.lod " : "") << error;
    unlink(path("new.lod").c_str());
  }
}

// Where the file system has no unnamed files, the output is staged under a
// temporary name beside it.
class NamedStage : public WriteLoadfile {
 protected:
  void SetUp() override { output_unnamed_staging = false; }
  void TearDown() override { output_unnamed_staging = true; }

  // In a child process with a writer open on "old.lod", raises `sig` (after
  // having the process ignore `ignored`, if any, before the writer opened),
  // then closes the writer.
  vela_test::Outcome raise_while_writing(int sig, int ignored = 0) {
    std::string file = path("old.lod");
    return vela_test::run_in_child([&] {
      struct rlimit no_core {};
      setrlimit(RLIMIT_CORE, &no_core);
      if (ignored != 0) signal(ignored, SIG_IGN);
      TablePtr t = sample();
      LoadWriter* writer = open_load_writer(file.c_str(), t.get());
      if (writer == nullptr) _exit(2);
      raise(sig);
      _exit(close_load_writer(writer) == 0 ? 0 : 1);
    });
  }
};

TEST_F(NamedStage, TheTemporaryNameGoesWithTheWriter) {
  std::string file = put_file("old.lod", "old");
  TablePtr t = sample();
  LoadWriter* writer = open_load_writer(file.c_str(), t.get());
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(listing().rfind(".old.lod.", 0), 0u) << listing();
  discard_load_writer(writer);
  EXPECT_EQ(listing(), "old.lod ");
  EXPECT_EQ(slurp(file), "old");
  ASSERT_EQ(write_loadfile(file.c_str(), t.get()), 0);
  EXPECT_EQ(slurp(file), sample_text());
  EXPECT_EQ(listing(), "old.lod ");
}

TEST_F(NamedStage, ASignalThatEndsTheProcessRemovesTheTemporaryFirst) {
  // Hang-up, the broken pipe, abort (with a core), and a real-time signal.
  for (int sig : {SIGHUP, SIGPIPE, SIGABRT, SIGRTMIN}) {
    put_file("old.lod", "old");
    EXPECT_EQ(raise_while_writing(sig).status, 128 + sig) << sig;
    EXPECT_EQ(listing(), "old.lod ") << sig;
    EXPECT_EQ(slurp(path("old.lod")), "old");
  }
}

TEST_F(NamedStage, AnIgnoredSignalStaysIgnored) {
  put_file("old.lod", "old");
  EXPECT_EQ(raise_while_writing(SIGTERM, SIGTERM).status, 0);
  EXPECT_EQ(slurp(path("old.lod")), "TITLE = t\nCOMMENT =note\nENDHEADER\n\nENDFILE\n");
  EXPECT_EQ(listing(), "old.lod ");
}

}  // namespace
