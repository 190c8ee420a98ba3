// The option store: name/value texts from name=value, name+ and name-
// arguments. The first value stored for a name wins.
#pragma once

#include <string>
#include <vector>

struct Alist;
extern Alist* options;

void init_option();
int is_option(const char* argument);
void put_option(const char* item);
void def_option(const char* list);
char* get_option(const char* name);
void free_option();

// The item as typed (name=value, name+ or name-, or a default's item) that
// gave `name` its stored value; null when the store has no such name. Tells
// name+ from name=yes where they mean different things.
const char* get_option_item(const char* name);
// The items, as typed and in the order stored, of the names that no part
// of the tool has asked get_option for so far.
std::vector<std::string> unread_options();
// The names asked for so far, in the order first asked.
std::vector<std::string> read_options();
void print_ver();
