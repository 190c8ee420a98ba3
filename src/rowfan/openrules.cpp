// open_rules: finds the rule file. A name without a directory part is looked
// for in the current directory first, then in the tool set's rule directory;
// a name with one is tried only as given.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <velalib/velaerror.h>
#include <velalib/velastring.h>
#include "rules.h"

const char* const default_rule_dir = ROWFAN_RULE_DIR;

namespace {

// Opens `path` for reading when it is something a rule file can be read
// from. A directory opens on this system but fails on the first read, which
// would end the scan with status 2; it is not a rule file.
FILE* open_rule_stream(const char* path) {
  FILE* stream = std::fopen(path, "r");
  if (stream == nullptr) return nullptr;
  struct stat info;
  if (fstat(fileno(stream), &info) != 0 ||
      !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

// The directory part is taken whole, never cut to a buffer's length, so a
// long name is judged by all of it. A name that begins with a slash is
// rooted even where no later separator gives it a directory part.
bool has_directory_part(const char* name) {
  if (name[0] == '/') return true;
  const int length = static_cast<int>(std::strlen(name));
  std::string dir(length + 1, '\0');
  breakfname(name, dir.data(), nullptr, nullptr, length);
  return dir[0] != '\0';
}

}  // namespace

FILE* open_rules(const char* name, std::string& path, const char* rule_dir) {
  if (FILE* stream = open_rule_stream(name)) {
    path = name;
    return stream;
  }

  if (rule_dir != nullptr && !has_directory_part(name)) {
    // The whole path, however long: a cut one would name another file.
    std::string in_dir = std::string(rule_dir) + name;
    if (FILE* stream = open_rule_stream(in_dir.c_str())) {
      path = std::move(in_dir);
      return stream;
    }
  }

  vela_error(VELA_CANNOT_OPEN_FILE, "%s", name);
}
