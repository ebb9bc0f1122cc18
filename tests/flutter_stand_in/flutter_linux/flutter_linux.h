// A stand-in for the part of the Flutter Linux embedding's public API that
// the host's plugin uses (the embedding's names and signatures; its objects
// are plain GObjects here), for building and testing the plugin where no
// engine can be had. Its engine is tests/desktop/flutter_plugin_test.cc.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

typedef struct _FlBinaryMessenger FlBinaryMessenger;
typedef struct _FlBinaryMessengerResponseHandle FlBinaryMessengerResponseHandle;
typedef struct _FlView FlView;
typedef struct _FlPluginRegistrar {
  FlBinaryMessenger* messenger;
  FlView* view;
} FlPluginRegistrar;
typedef void (*FlBinaryMessengerMessageHandler)(FlBinaryMessenger*, const gchar* channel, GBytes*,
                                                FlBinaryMessengerResponseHandle*, gpointer);

void fl_binary_messenger_set_message_handler_on_channel(FlBinaryMessenger*, const gchar* channel,
                                                        FlBinaryMessengerMessageHandler, gpointer,
                                                        GDestroyNotify);
gboolean fl_binary_messenger_send_response(FlBinaryMessenger*, FlBinaryMessengerResponseHandle*,
                                           GBytes*, GError**);
void fl_binary_messenger_send_on_channel(FlBinaryMessenger*, const gchar* channel, GBytes*,
                                         GCancellable*, GAsyncReadyCallback, gpointer);
GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger*, GAsyncResult*, GError**);
FlBinaryMessenger* fl_plugin_registrar_get_messenger(FlPluginRegistrar*);
FlView* fl_plugin_registrar_get_view(FlPluginRegistrar*);

G_END_DECLS
