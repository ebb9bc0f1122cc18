#include "platform/linux/session/linux_open_panel.h"

#include <gtk/gtk.h>

#include "channels/log.h"
#include "channels/main_queue.h"

namespace dravel::linux_platform {

namespace {

void destroyChooser(_GtkFileChooserNative* chooser) {
  gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser));
  g_object_unref(chooser);
}

}  // namespace

void GtkOpenPanel::dismiss(_GtkFileChooserNative* chooser) {
  g_signal_handlers_disconnect_matched(chooser, G_SIGNAL_MATCH_ID,
                                       g_signal_lookup("response", GTK_TYPE_NATIVE_DIALOG), 0,
                                       nullptr, nullptr, nullptr);
  gtk_native_dialog_hide(GTK_NATIVE_DIALOG(chooser));
  // Let go of it on a later turn (it may be in the middle of emitting its own
  // response), or when this goes, whichever comes first.
  closing_.push_back(chooser);
  if (sweep_) return;
  sweep_ = g_idle_add(
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<GtkOpenPanel*>(data);
        self->sweep_ = 0;
        std::vector<_GtkFileChooserNative*> closing = std::move(self->closing_);
        self->closing_.clear();
        for (auto* each : closing) destroyChooser(each);
        return G_SOURCE_REMOVE;
      },
      this);
}

GtkOpenPanel::~GtkOpenPanel() {
  if (sweep_) g_source_remove(sweep_);
  for (auto* chooser : closing_) destroyChooser(chooser);
  for (auto& [id, panel] : open_) {
    g_signal_handlers_disconnect_by_data(panel->chooser, panel.get());
    destroyChooser(panel->chooser);
  }
}

uint64_t GtkOpenPanel::begin(const OpenPanelConfiguration& configuration, Completion completion) {
  const uint64_t id = next_++;
  if (!gdk_display_get_default()) {
    NSLog("[panel] no display to show a chooser on: answered as cancelled");
    mainQueue().async(
        [completion = std::move(completion)] { completion(kModalResponseCancel, std::nullopt); });
    return id;
  }
  // A panel for files only opens files; every other asks for a folder.
  const bool files = configuration.canChooseFiles && !configuration.canChooseDirectories;
  const GtkFileChooserAction action =
      files ? GTK_FILE_CHOOSER_ACTION_OPEN : GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
      files ? "Choose a File" : "Choose a Folder", nullptr, action, "_Choose", "_Cancel");
  GtkFileChooser* fileChooser = GTK_FILE_CHOOSER(chooser);
  gtk_file_chooser_set_create_folders(fileChooser, configuration.canCreateDirectories);
  gtk_file_chooser_set_local_only(fileChooser, TRUE);
  if (configuration.directoryURL) {
    GError* error = nullptr;
    if (gchar* folder = g_filename_from_uri(configuration.directoryURL->c_str(), nullptr, &error)) {
      gtk_file_chooser_set_current_folder(fileChooser, folder);
      g_free(folder);
    } else {
      NSLog("[panel] starting folder %s ignored: %s", configuration.directoryURL->c_str(),
            error->message);
      g_error_free(error);
    }
  }

  auto panel = std::make_unique<Panel>();
  panel->owner = this;
  panel->id = id;
  panel->chooser = chooser;
  panel->completion = std::move(completion);
  g_signal_connect(
      chooser, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response, gpointer data) {
        auto* p = static_cast<Panel*>(data);
        std::optional<std::string> path;
        if (response == GTK_RESPONSE_ACCEPT) {
          if (gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            path = chosen;
            g_free(chosen);
          }
        }
        // Accepted without a local path (nothing chosen) is a cancel.
        const int answer = path ? kModalResponseOK : kModalResponseCancel;
        p->owner->close(p->id, answer, std::move(path));
      }),
      panel.get());
  open_.emplace(id, std::move(panel));
  // Shows at once and answers from the main loop, so never before this
  // returns.
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
  return id;
}

void GtkOpenPanel::cancel(uint64_t panel) {
  close(panel, kModalResponseCancel, std::nullopt);
}

void GtkOpenPanel::close(uint64_t panel, int response, std::optional<std::string> path) {
  auto it = open_.find(panel);
  if (it == open_.end()) return;
  std::unique_ptr<Panel> closing = std::move(it->second);
  open_.erase(it);
  dismiss(closing->chooser);
  mainQueue().async([completion = std::move(closing->completion), response,
                     path = std::move(path)] { completion(response, path); });
}

}  // namespace dravel::linux_platform
