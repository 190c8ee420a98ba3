// The option store. Command-line options are stored first and defaults after
// them, and a stored value is never replaced, so a default fills in only what
// the user left out.
#include <velalib/option.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <velalib/alist.h>
#include <velalib/velaerror.h>
#include <velalib/velastring.h>

Alist* options = nullptr;

namespace {

// Beside the store: the item each stored name came from, as typed, and the
// names some part of the tool has asked for, so that a checked run can name
// the options nothing reads.
struct GivenOption {
  std::string name;
  std::string item;
};
std::vector<GivenOption> given;
std::vector<std::string> asked;

}  // namespace

void init_option() {
  options = create_alist();
}

int is_option(const char* argument) {
  if (std::strchr(argument, '=') != nullptr && std::strchr(argument, ' ') == nullptr) return 1;
  std::size_t len = std::strlen(argument);
  if (len > 0 && (argument[len - 1] == '+' || argument[len - 1] == '-')) return 1;
  return 0;
}

void put_option(const char* item) {
  char* name = strclone(item);
  const char* value = nullptr;
  std::size_t len = std::strlen(name);
  if (char* equals = std::strchr(name, '='); equals != nullptr) {
    // The first `=` ends the name, so name=a+ has the value a+.
    *equals = '\0';
    value = equals + 1;
  } else if (len > 0 && name[len - 1] == '+') {
    name[len - 1] = '\0';
    value = "yes";
  } else if (len > 0 && name[len - 1] == '-') {
    name[len - 1] = '\0';
    value = "no";
  } else {
    vela_warn(VELA_OPTION_UNPARSED, "%s", item);
    std::free(name);
    return;
  }

  if (options == nullptr) init_option();
  if (find_alist(options, name) == nullptr) {
    add_alist(options, name, value);
    given.push_back({name, item});
  }
  std::free(name);
}

void def_option(const char* list) {
  char* copy = strclone(list);
  constexpr int kMaxItems = 50;
  char* items[kMaxItems];
  strsplit(',', copy, items, kMaxItems);
  for (char* item : items) {
    if (*item == '\0') break;
    put_option(item);
  }
  std::free(copy);
}

char* get_option(const char* name) {
  if (std::find(asked.begin(), asked.end(), name) == asked.end()) asked.emplace_back(name);
  char* value = options == nullptr ? nullptr : find_alist(options, name);
  if (value == nullptr) vela_error(VELA_OPTION_UNKNOWN, "%s", name);
  return value;
}

const char* get_option_item(const char* name) {
  for (const GivenOption& option : given) {
    if (option.name == name) return option.item.c_str();
  }
  return nullptr;
}

std::vector<std::string> unread_options() {
  std::vector<std::string> unread;
  for (const GivenOption& option : given) {
    if (std::find(asked.begin(), asked.end(), option.name) == asked.end()) {
      unread.push_back(option.item);
    }
  }
  return unread;
}

std::vector<std::string> read_options() {
  return asked;
}

void free_option() {
  free_alist(options);
  options = nullptr;
  given.clear();
  asked.clear();
}
