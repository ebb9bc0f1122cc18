// The Dravel host as a plugin of a Flutter Linux application: the generated
// plugin registrant calls dravel_host_plugin_register_with_registrar with the
// registrar of the application's view, and from then on the host serves its
// channels on the view's messenger, with the view's window as its main
// window.
#ifndef DRAVEL_HOST_PLUGIN_H_
#define DRAVEL_HOST_PLUGIN_H_

#include <glib.h>

G_BEGIN_DECLS

#ifdef FLUTTER_PLUGIN_IMPL
#define FLUTTER_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define FLUTTER_PLUGIN_EXPORT
#endif

typedef struct _FlPluginRegistrar FlPluginRegistrar;

FLUTTER_PLUGIN_EXPORT void dravel_host_plugin_register_with_registrar(FlPluginRegistrar* registrar);

G_END_DECLS

#endif  // DRAVEL_HOST_PLUGIN_H_
