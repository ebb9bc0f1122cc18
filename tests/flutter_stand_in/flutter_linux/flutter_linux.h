// A stand-in for the part of the Flutter Linux embedding's public API that
// the host's plugin uses, with the embedding's names and signatures, for
// building and testing the plugin where no engine can be had. The engine's
// side is fl_stand_in.h.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

G_DECLARE_FINAL_TYPE(FlBinaryMessenger, fl_binary_messenger, FL, BINARY_MESSENGER, GObject)
G_DECLARE_FINAL_TYPE(FlBinaryMessengerResponseHandle, fl_binary_messenger_response_handle, FL,
                     BINARY_MESSENGER_RESPONSE_HANDLE, GObject)
typedef struct _FlView FlView;
typedef struct _FlPluginRegistrar FlPluginRegistrar;

typedef void (*FlBinaryMessengerMessageHandler)(FlBinaryMessenger* messenger, const gchar* channel,
                                                GBytes* message,
                                                FlBinaryMessengerResponseHandle* response_handle,
                                                gpointer user_data);

void fl_binary_messenger_set_message_handler_on_channel(FlBinaryMessenger* messenger,
                                                        const gchar* channel,
                                                        FlBinaryMessengerMessageHandler handler,
                                                        gpointer user_data,
                                                        GDestroyNotify destroy_notify);
gboolean fl_binary_messenger_send_response(FlBinaryMessenger* messenger,
                                           FlBinaryMessengerResponseHandle* response_handle,
                                           GBytes* response, GError** error);
void fl_binary_messenger_send_on_channel(FlBinaryMessenger* messenger, const gchar* channel,
                                         GBytes* message, GCancellable* cancellable,
                                         GAsyncReadyCallback callback, gpointer user_data);
GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger* messenger,
                                                   GAsyncResult* result, GError** error);

FlBinaryMessenger* fl_plugin_registrar_get_messenger(FlPluginRegistrar* registrar);
FlView* fl_plugin_registrar_get_view(FlPluginRegistrar* registrar);

G_END_DECLS
