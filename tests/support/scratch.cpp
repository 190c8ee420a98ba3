#include "support/scratch.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace vela_test {

namespace {

// True when every directory from the root down to `dir` may be searched by
// users other than its owner.
bool searchable_by_others(const fs::path& dir) {
  fs::path at;
  for (const fs::path& part : fs::absolute(dir)) {
    at /= part;
    struct stat info;
    if (stat(at.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) return false;
  }
  return true;
}

// Where scratch directories go: the temporary directory, unless another user
// must reach them and cannot reach that.
fs::path temp_root(Reach reach) {
  fs::path root = fs::temp_directory_path();
  if (reach == Reach::everyone && !searchable_by_others(root)) root = "/tmp";
  return root;
}

}  // namespace

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

ScratchDir::ScratchDir(std::string_view prefix, Reach reach) {
  std::string pattern = (temp_root(reach) / prefix).string() + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
  owner_ = getpid();
  // Open to every user, so only a case's own file or directory stands in
  // the way of a program run as another.
  if (reach == Reach::everyone) fs::permissions(path_, fs::perms::all);
}

ScratchDir::~ScratchDir() {
  if (getpid() != owner_) return;
  // Directories made read-only by a test must be writable again to go.
  std::error_code walk, ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto it = fs::recursive_directory_iterator(path_, walk); !walk && it != fs::end(it);
       it.increment(walk)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

fs::path ScratchDir::write(std::string_view name, std::string_view bytes) const {
  fs::path file = path_ / name;
  fs::create_directories(file.parent_path());
  write_file(file, bytes);
  return file;
}

std::string ScratchTest::listing() const {
  std::string out;
  for (const std::string& name : scratch_.listing()) out += name + " ";
  return out;
}

}  // namespace vela_test
