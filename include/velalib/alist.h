// Association list: keys with values in two parallel TextLists, in order of
// first addition. Texts handed out stay valid until the next add_alist on the
// same list or free_alist.
#pragma once

#include <loadfile/text.h>

struct Alist {
  TextList keys;
  TextList values;
};

// A new empty list, owned by the caller, who releases it with free_alist.
Alist* create_alist();
void add_alist(Alist* list, const char* key, const char* value);
char* find_alist(Alist* list, const char* key);
int each_alist(Alist* list, int index, char** key, char** value);
void free_alist(Alist* list);
char* match_alist(Alist* list, const char* pattern, int* index);
char* patmatch_alist(Alist* list, const char* string);
// A new list of the key and value on each logical line of the file, owned
// by the caller (free_alist); a file that cannot be opened is an error
// (vela_error).
Alist* read_alist(const char* filename);
