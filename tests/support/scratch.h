// Scratch directories and the files in them, for tests that work on disk.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vela_test {

namespace fs = std::filesystem;

// The whole content of a file, as bytes.
std::string read_file(const fs::path& path);
// Makes `path` hold exactly `bytes` (NUL bytes included).
void write_file(const fs::path& path, std::string_view bytes);
// The names in a directory, sorted, so a test can see that nothing was left.
std::vector<std::string> listing(const fs::path& dir);

// Who must be able to reach a scratch directory.
enum class Reach {
  owner,     // the test process only
  everyone,  // also another user that a test runs a program as
};

// A fresh directory under the temporary directory, removed with everything in
// it when the object goes, directories that a test made read-only included.
// Only the process that made it removes it: a forked child of a test that
// exits leaves it to its parent.
class ScratchDir {
 public:
  explicit ScratchDir(std::string_view prefix = "vela-test", Reach reach = Reach::owner);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(std::string_view name) const { return path_ / name; }

  // Writes `bytes` to `name`, making the directories on its way; returns the
  // file's path.
  fs::path write(std::string_view name, std::string_view bytes) const;
  std::string read(std::string_view name) const { return read_file(path_ / name); }
  bool exists(std::string_view name) const { return fs::exists(path_ / name); }
  std::vector<std::string> listing(std::string_view subdir = {}) const {
    return vela_test::listing(path_ / subdir);
  }

 private:
  fs::path path_;
  pid_t owner_;
};

// A test with a scratch directory of its own, its files named by strings.
class ScratchTest : public testing::Test {
 protected:
  std::string path(std::string_view name) const { return scratch_ / name; }
  std::string put_file(std::string_view name, std::string_view text) const {
    return scratch_.write(name, text);
  }
  static std::string slurp(const std::string& file) { return read_file(file); }
  // The names in the directory, sorted, each followed by a blank.
  std::string listing() const;

  ScratchDir scratch_{"vela-test"};
  std::string dir_ = scratch_.path();
};

}  // namespace vela_test
