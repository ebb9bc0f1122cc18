// Registration of the interface's plugins, which live outside the host.
#pragma once

#include "platform/seam/embedding.h"

namespace dravel {

// For each plugin, in a fixed order: a registrar from the registry under the
// plugin's key, then the plugin's registration with it.
void registerGeneratedPlugins(FlutterViewController& registry);

}  // namespace dravel
