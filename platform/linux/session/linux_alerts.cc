#include "platform/linux/session/linux_alerts.h"

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "channels/log.h"
#include "channels/main_queue.h"

namespace dravel::linux_platform {

struct GtkAlerts::Run {
  GtkAlerts* owner = nullptr;
  // Null once the dialog is gone (destroyed by someone else, or by us).
  GtkWidget* dialog = nullptr;
  size_t buttons = 0;
  std::optional<long> response;
};

namespace {

GtkMessageType messageType(int style) {
  switch (style) {
    case kAlertStyleInformational:
      return GTK_MESSAGE_INFO;
    case kAlertStyleCritical:
      return GTK_MESSAGE_ERROR;
    default:
      return GTK_MESSAGE_WARNING;
  }
}

}  // namespace

long GtkAlerts::runModal(const AlertContent& alert) {
  if (!gdk_display_get_default()) {
    NSLog("[alert] %s: %s (no display to show it on: answered as aborted)",
          alert.messageText.c_str(), alert.informativeText.c_str());
    return kModalResponseAbort;
  }

  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, messageType(alert.style),
                                             GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
  if (!alert.informativeText.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             alert.informativeText.c_str());
  }
  // An alert without buttons still has one to close it with.
  std::vector<std::string> buttons = alert.buttons;
  if (buttons.empty()) buttons.emplace_back("OK");
  for (size_t i = 0; i < buttons.size(); ++i) {
    // Titles are plain text: an underscore in one is not a mnemonic.
    std::string label;
    for (char c : buttons[i]) label += c == '_' ? std::string("__") : std::string(1, c);
    gtk_dialog_add_button(GTK_DIALOG(dialog), label.c_str(),
                          static_cast<int>(kAlertFirstButtonReturn + static_cast<long>(i)));
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<int>(kAlertFirstButtonReturn));
  gtk_window_set_title(GTK_WINDOW(dialog), alert.messageText.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

  Run run;
  run.owner = this;
  run.dialog = dialog;
  run.buttons = buttons.size();
  g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&run.dialog));
  g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, int id, gpointer data) {
                     auto& r = *static_cast<Run*>(data);
                     const long index = id - kAlertFirstButtonReturn;
                     // Any other response is the dialog being closed.
                     const bool button = index >= 0 && static_cast<size_t>(index) < r.buttons;
                     r.owner->answer(r, button ? id : kModalResponseAbort);
                   }),
                   &run);
  // Destroyed by anything but us while it runs: taken as closed.
  g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     auto& r = *static_cast<Run*>(data);
                     r.owner->answer(r, kModalResponseAbort);
                   }),
                   &run);

  runs_.push_back(&run);
  gtk_window_present(GTK_WINDOW(dialog));
  mainQueue().runModal();
  runs_.pop_back();

  if (run.dialog) {
    GtkWidget* shown = run.dialog;
    g_signal_handlers_disconnect_by_data(shown, &run);
    g_object_remove_weak_pointer(G_OBJECT(shown), reinterpret_cast<gpointer*>(&run.dialog));
    gtk_widget_destroy(shown);
  }
  // An outer alert answered while this one ran ends its own run now.
  if (!runs_.empty() && runs_.back()->response) mainQueue().stopModal();
  // A modal run that ended without a press or an abort was abandoned.
  return run.response.value_or(kModalResponseAbort);
}

void GtkAlerts::abortModal() {
  if (runs_.empty()) return;
  answer(*runs_.back(), kModalResponseAbort);
}

void GtkAlerts::answer(Run& run, long response) {
  if (run.response) return;
  run.response = response;
  if (run.dialog) gtk_widget_hide(run.dialog);
  // Only the innermost run can end now; an outer one ends when the runs
  // inside it have.
  if (!runs_.empty() && runs_.back() == &run) mainQueue().stopModal();
}

}  // namespace dravel::linux_platform
