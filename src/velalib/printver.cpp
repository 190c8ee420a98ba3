// The installation-date line, printed at start-up when the user asks with v+.
#include <cstring>

#include <velalib/option.h>
#include <velalib/velaerror.h>

void print_ver() {
  def_option("v=no");
  if (std::strcmp(get_option("v"), "yes") == 0) vela_info(VELA_INSTALL_DATE, "%s", "1 Apr 1998");
}
