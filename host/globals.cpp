#include "host/plugin_globals.h"

namespace vexel {

PluginGlobals g;

} // namespace vexel
