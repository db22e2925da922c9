#include "plugin/host_commands.h"

#include "plugin/plugin_state.h"

HostWord call_host(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  // Activation before initialization has no host function to call.
  if (plugin_state.host_callback == nullptr) return 0;
  if (plugin_state.light_host != 0) code += LIGHT_COMMAND_OFFSET;
  return plugin_state.host_callback(code, p1, p2, p3);
}
