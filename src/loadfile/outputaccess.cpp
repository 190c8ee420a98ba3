// Handing a file's access to the stage that replaces it. The extended
// attributes are read and written through the descriptors (flistxattr,
// fgetxattr, fsetxattr), so the library needs no other library for it.

#include "outputaccess.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Attributes tied to the content they were given for, as a program's
// capabilities or an integrity measure: new content starts without them.
bool stays_with_old_content(std::string_view name) {
  return name == "security.capability" || name == "security.ima" || name == "security.evm";
}

// The names of the extended attributes of `fd`; false when they cannot be
// read. A file system without them has none.
bool list_names(int fd, std::vector<std::string>& names) {
  std::string list;
  for (;;) {
    ssize_t size = flistxattr(fd, nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    list.resize(static_cast<size_t>(size));
    size = flistxattr(fd, list.data(), list.size());
    if (size >= 0) {
      list.resize(static_cast<size_t>(size));
      break;
    }
    if (errno != ERANGE) return false;  // grown meanwhile: asked again
  }
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) names.emplace_back(list, at, end - at);
    at = end + 1;
  }
  return true;
}

// The value of `name` on `fd`; false when it cannot be read, `gone` when the
// file no longer has it.
bool read_value(int fd, const std::string& name, std::string& value, bool& gone) {
  gone = false;
  for (;;) {
    ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) {
      gone = errno == ENODATA;
      return gone;
    }
    value.resize(static_cast<size_t>(size));
    size = fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (size >= 0) {
      value.resize(static_cast<size_t>(size));
      return true;
    }
    if (errno != ERANGE) {
      gone = errno == ENODATA;
      return gone;
    }
  }
}

bool give_attributes(int stage, int old) {
  std::vector<std::string> wanted;
  std::vector<std::string> own;
  if (!list_names(old, wanted) || !list_names(stage, own)) return false;
  std::erase_if(wanted, stays_with_old_content);
  // What the stage was given on its own (an access list inherited from its
  // directory, say) would grant access the file did not.
  for (const std::string& name : own) {
    if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) continue;
    if (fremovexattr(stage, name.c_str()) != 0 && errno != ENODATA) return false;
  }
  std::string value;
  for (const std::string& name : wanted) {
    bool gone = false;
    if (!read_value(old, name, value, gone)) return false;
    if (gone) continue;
    if (fsetxattr(stage, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

}  // namespace

bool give_access(int stage, int old, const struct stat& st) {
  struct stat now {};
  if (fstat(stage, &now) != 0) return false;
  if ((now.st_uid != st.st_uid || now.st_gid != st.st_gid) &&
      fchown(stage, st.st_uid, st.st_gid) != 0)
    return false;
  // Set-user and set-group bits are not handed on to new content. The
  // permissions come before the access lists, which then set the group
  // bits to their mask as the file had them.
  if (fchmod(stage, st.st_mode & 07777 & ~(S_ISUID | S_ISGID)) != 0) return false;
  return give_attributes(stage, old);
}
