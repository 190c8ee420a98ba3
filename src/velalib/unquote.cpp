// Removes a surrounding pair of quotes in place; what follows the closing
// quote is dropped, and an unclosed quote keeps the rest of the string.
#include <velalib/velastring.h>

void unquote(char* s) {
  const char quote = s[0];
  if (quote != '"' && quote != '\'') return;

  char* out = s;
  for (const char* in = s + 1; *in != '\0' && *in != quote; ++in) *out++ = *in;
  *out = '\0';
}
