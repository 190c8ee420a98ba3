// Wildcard expansion of a file-name argument against a directory listing.
// Matches keep the argument's directory part, so the task can open them as
// given, and are appended in byte order, so a run does not depend on the
// order in which the directory happens to list its entries.
#include <velalib/wildexpand.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <loadfile/buffer.h>
#include <velalib/velastring.h>
#include "owners.h"

namespace {

// File-name pieces hold 127 characters; one more tells that a piece was cut.
constexpr int kPieceMax = 127;

void append(const char* name, int limit, int* count, char** list) {
  if (*count < limit) list[(*count)++] = strclone(name);
}

bool piece_cut(const char* piece) {
  return std::strlen(piece) > kPieceMax;
}

// Names in `dir` (the current directory when empty) matching `pattern`, each
// prefixed with `dir`, sorted byte by byte.
std::vector<std::string> list_matches(const char* dir, const char* pattern) {
  std::vector<std::string> names;
  DirPtr listing(opendir(*dir != '\0' ? dir : "."));
  if (!listing) return names;
  while (const dirent* entry = readdir(listing.get())) {
    const char* name = entry->d_name;
    // A wildcard never stands for the directory itself or its parent.
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (patmatch(pattern, name)) names.push_back(std::string(dir) + name);
  }
  listing.reset();
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::strcmp(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

}  // namespace

int wild_expand(const char* argument, int limit, int* count, char** list) try {
  if (std::strpbrk(argument, "*?") == nullptr) {
    append(argument, limit, count, list);
    return 1;
  }

  char dir[kPieceMax + 2];
  char root[kPieceMax + 2];
  char ext[kPieceMax + 2];
  breakfname(argument, dir, root, ext, kPieceMax + 1);
  // A piece too long to keep whole would match a different, shorter
  // pattern; such an argument is taken as typed.
  if (piece_cut(dir) || piece_cut(root) || piece_cut(ext)) {
    append(argument, limit, count, list);
    return 1;
  }

  std::string pattern = std::string(root) + ext;
  std::vector<std::string> names = list_matches(dir, pattern.c_str());
  if (names.empty()) {
    append(argument, limit, count, list);
    return 1;
  }
  for (const std::string& name : names) append(name.c_str(), limit, count, list);
  return static_cast<int>(names.size());
} catch (const std::bad_alloc&) {
  out_of_memory();
}
