// The option store: name/value texts from name=value, name+ and name-
// arguments. The first value stored for a name wins.
#pragma once

struct Alist;
extern Alist* options;

void init_option();
int is_option(const char* argument);
void put_option(const char* item);
void def_option(const char* list);
char* get_option(const char* name);
void free_option();
void print_ver();
