// Whether output names lead to a file the run also reads or writes. A name
// is followed as the output would be (outputplace), so two spellings of one
// file are seen as one whatever links or descriptors stand between.

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <loadfile/outputfile.h>
#include "outputplace.h"

namespace {

// Where an output name leads: an existing file (its device and inode), or a
// name not yet taken (the device and inode of its directory, and the name).
struct OutputTarget {
  bool found = false;
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;
};

OutputTarget output_target(const char* path) {
  OutputTarget target;
  OutputPlace place;
  if (find_output_place(path, place)) {
    struct stat st {};
    if (place.descriptor >= 0) {
      target.found = target.exists = fstat(place.descriptor, &st) == 0;
    } else {
      target.found = true;
      target.exists = place.exists;
      st = place.exists ? place.st : place.dir_st;
      if (!place.exists) target.name = place.name;
    }
    target.dev = st.st_dev;
    target.ino = st.st_ino;
  }
  if (place.dir >= 0) close(place.dir);
  return target;
}

}  // namespace

bool same_output_file(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0) return true;
  OutputTarget x = output_target(a);
  OutputTarget y = output_target(b);
  return x.found && y.found && x.exists == y.exists && x.dev == y.dev && x.ino == y.ino &&
         x.name == y.name;
}

bool output_names_file(const char* path, const struct stat& file) {
  OutputTarget target = output_target(path);
  return target.found && target.exists && target.dev == file.st_dev && target.ino == file.st_ino;
}
