#include "platform/linux/session/linux_workspace.h"

#include <gdk/gdk.h>
#include <gio/gio.h>

#include "channels/log.h"

namespace dravel::linux_platform {

namespace {

constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";

// A launch context of the default display, for startup notification and
// focus; none without a display.
GAppLaunchContext* newLaunchContext() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)) : nullptr;
}

}  // namespace

struct LinuxWorkspace::ShowRequest {
  std::vector<std::string> urls;
  int timeoutMs = 0;
  std::weak_ptr<std::vector<ShowOutcome>> outcomes;

  void finish(ShowOutcome outcome) {
    if (auto alive = outcomes.lock()) alive->push_back(outcome);
    delete this;
  }

  // The folder of the first file, opened by the default handler for folders.
  void openFolder() {
    GFile* file = g_file_new_for_uri(urls.front().c_str());
    GFile* parent = g_file_get_parent(file);
    gchar* folder = g_file_get_uri(parent ? parent : file);
    g_object_unref(file);
    if (parent) g_object_unref(parent);
    GAppLaunchContext* context = newLaunchContext();
    g_app_info_launch_default_for_uri_async(
        folder, context, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
          auto* self = static_cast<ShowRequest*>(data);
          GError* error = nullptr;
          if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
            NSLog("[workspace] no program could open the folder of %s: %s",
                  self->urls.front().c_str(), error ? error->message : "unknown error");
            g_clear_error(&error);
            self->finish(ShowOutcome::kNothingOpened);
            return;
          }
          self->finish(ShowOutcome::kFolderOpened);
        },
        this);
    if (context) g_object_unref(context);
    g_free(folder);
  }

  void showItems(GDBusConnection* bus) {
    GVariantBuilder uris;
    g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
    for (const std::string& url : urls) g_variant_builder_add(&uris, "s", url.c_str());
    g_dbus_connection_call(
        bus, kFileManagerName, kFileManagerPath, kFileManagerName, "ShowItems",
        g_variant_new("(ass)", &uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* self = static_cast<ShowRequest*>(data);
          GError* error = nullptr;
          GVariant* reply =
              g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
          if (reply) {
            g_variant_unref(reply);
            self->finish(ShowOutcome::kShownByFileManager);
            return;
          }
          NSLog("[workspace] the file manager did not show %s (%s): opening its folder",
                self->urls.front().c_str(), error ? error->message : "unknown error");
          g_clear_error(&error);
          self->openFolder();
        },
        this);
  }
};

LinuxWorkspace::LinuxWorkspace(std::function<std::optional<int>()> frontmostPid,
                               int showItemsTimeoutMs)
    : frontmostPid_(std::move(frontmostPid)),
      showItemsTimeoutMs_(showItemsTimeoutMs),
      outcomes_(std::make_shared<std::vector<ShowOutcome>>()) {}

LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::activateFileViewerSelectingURLs(const std::vector<std::string>& urls) {
  if (urls.empty()) return;
  auto* request = new ShowRequest{urls, showItemsTimeoutMs_, outcomes_};
  g_bus_get(
      G_BUS_TYPE_SESSION, nullptr,
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<ShowRequest*>(data);
        GError* error = nullptr;
        GDBusConnection* bus = g_bus_get_finish(result, &error);
        if (!bus) {
          NSLog("[workspace] no session bus to reach the file manager (%s): opening the folder",
                error ? error->message : "unknown error");
          g_clear_error(&error);
          self->openFolder();
          return;
        }
        self->showItems(bus);
        g_object_unref(bus);
      },
      request);
}

bool LinuxWorkspace::openURL(const std::string& url) {
  gchar* scheme = g_uri_parse_scheme(url.c_str());
  if (!scheme) {
    NSLog("[workspace] cannot open %s: not an address", url.c_str());
    return false;
  }
  g_free(scheme);
  GAppLaunchContext* context = newLaunchContext();
  GError* error = nullptr;
  const bool opened = g_app_info_launch_default_for_uri(url.c_str(), context, &error);
  if (context) g_object_unref(context);
  if (!opened) {
    NSLog("[workspace] no program could open %s: %s", url.c_str(),
          error ? error->message : "unknown error");
    g_clear_error(&error);
  }
  return opened;
}

}  // namespace dravel::linux_platform
