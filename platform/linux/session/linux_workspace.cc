#include "platform/linux/session/linux_workspace.h"

#include <fcntl.h>
#include <gdk/gdk.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include "channels/log.h"
#include "platform/linux/session/desktop_portal.h"
#include "platform/linux/session/linux_process_info.h"

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
  bool sandboxed = false;
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

  // The first file shown in its folder by the OpenURI portal, which the
  // desktop's file manager serves.
  void openDirectory(GDBusConnection* bus) {
    gchar* path = g_filename_from_uri(urls.front().c_str(), nullptr, nullptr);
    // Read-only, as the portal wants it from a sandbox (it takes a path-only
    // descriptor of a file the sandbox may write for a writable one); a file
    // that cannot be read is handed as a path only.
    int fd = path ? ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1;
    if (fd < 0 && path) fd = ::open(path, O_PATH | O_CLOEXEC);
    if (fd < 0) {
      NSLog("[workspace] cannot show %s: %s", urls.front().c_str(),
            path ? "it cannot be opened" : "not a file");
      g_free(path);
      finish(ShowOutcome::kNothingOpened);
      return;
    }
    g_free(path);
    GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_dbus_connection_call_with_unix_fd_list(
        bus, kPortalService, kPortalPath, "org.freedesktop.portal.OpenURI", "OpenDirectory",
        g_variant_new("(sha{sv})", "", 0, &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE,
        timeoutMs, fds, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* self = static_cast<ShowRequest*>(data);
          GError* error = nullptr;
          GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(
              G_DBUS_CONNECTION(source), nullptr, result, &error);
          if (reply) {
            g_variant_unref(reply);
            self->finish(ShowOutcome::kHandedToPortal);
            return;
          }
          NSLog("[workspace] the portal did not show %s: %s", self->urls.front().c_str(),
                error ? error->message : "unknown error");
          g_clear_error(&error);
          self->finish(ShowOutcome::kNothingOpened);
        },
        this);
    g_object_unref(fds);
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
    : LinuxWorkspace(std::move(frontmostPid), showItemsTimeoutMs, runningInFlatpak()) {}

LinuxWorkspace::LinuxWorkspace(std::function<std::optional<int>()> frontmostPid,
                               int showItemsTimeoutMs, bool sandboxed)
    : frontmostPid_(std::move(frontmostPid)),
      showItemsTimeoutMs_(showItemsTimeoutMs),
      sandboxed_(sandboxed),
      outcomes_(std::make_shared<std::vector<ShowOutcome>>()) {}

LinuxWorkspace::~LinuxWorkspace() = default;

void LinuxWorkspace::activateFileViewerSelectingURLs(const std::vector<std::string>& urls) {
  if (urls.empty()) return;
  auto* request = new ShowRequest{urls, showItemsTimeoutMs_, sandboxed_, outcomes_};
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
        if (self->sandboxed) {
          self->openDirectory(bus);
        } else {
          self->showItems(bus);
        }
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
