// Helpers for the rule language and table helper tests: Tables as text, rule
// files in a scratch directory, and runs in a child process whose standard
// output and exit status are checked.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "table.h"

// A Table with the given columns (and the one empty row that adding leaves).
inline TablePtr table_with_columns(const std::vector<std::string>& columns) {
  TablePtr table(create_table());
  for (const auto& name : columns) add_tab_col(table.get(), name);
  return table;
}

// A scratch directory, removed with everything in it.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "rowfan-rules-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `bytes` (NUL bytes included) to the file `name`; returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path file = path / name;
    std::filesystem::create_directories(file.parent_path());
    FILE* out = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    return file;
  }
};

// What a run in a child process printed on standard output, and how it ended.
struct ChildRun {
  int status = -1;  // exit status, -1 if killed
  std::string out;
};

inline ChildRun run_in_child(const std::function<void()>& body) {
  std::fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    body();
    std::fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  ChildRun run;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) run.out.append(buf, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}
