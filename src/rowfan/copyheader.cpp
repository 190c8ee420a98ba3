// copy_header: the output Table starts with the input's header keywords, in
// their order and with their values.
#include "tablecopy.h"

void copy_header(Table* source, Table* destination) {
  // A Table already holds its own header; rewriting a keyword from its own
  // storage would hand put_tab_key a string that lies in the list it grows.
  if (source == destination) return;
  for (int k = 0; k < source->keynames.count; k++) {
    put_tab_key(destination, get_tab_keyname_bynum(source, k), get_tab_keyval_bynum(source, k));
  }
}
