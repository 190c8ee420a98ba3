#include "support/tool.h"

namespace vela_test {

const fs::path& tool_path() {
  static const fs::path path = ROWFAN_BIN;
  return path;
}

Outcome run_tool(const fs::path& dir, const std::vector<std::string>& args, RunAs who,
                 const std::function<void(pid_t)>& started) {
  Launch how{.args = args, .dir = dir, .started = started};
  if (who == RunAs::nobody) return launch_as(nobody(), tool_path(), how);
  return launch(tool_path(), how);
}

}  // namespace vela_test
