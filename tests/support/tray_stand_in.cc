#include "tests/support/tray_stand_in.h"

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

namespace dravel::testing {
namespace {

constexpr const char* kBuiltLabelKey = "stand-in-label";

void onActivate(GtkMenuItem* item, gpointer data) {
  auto* activated = static_cast<std::vector<std::string>*>(data);
  const auto* label = static_cast<const char*>(g_object_get_data(G_OBJECT(item), kBuiltLabelKey));
  activated->push_back(label ? label : "");
}

void onConnectionChanged(AppIndicator*, gboolean connected, gpointer data) {
  static_cast<std::vector<bool>*>(data)->push_back(connected != FALSE);
}

}  // namespace

TrayEntry TrayEntry::item(std::string label) {
  return {.label = std::move(label)};
}

TrayEntry TrayEntry::separator() {
  return {.kind = Kind::kSeparator};
}

TrayEntry TrayEntry::unlabeled() {
  return {.kind = Kind::kUnlabeled};
}

TrayEntry TrayEntry::submenu(std::string label, std::vector<TrayEntry> entries, bool attachFirst) {
  return {.label = std::move(label),
          .entries = std::move(entries),
          .hasSubmenu = true,
          .attachFirst = attachFirst};
}

TrayStandIn::TrayStandIn(const std::vector<TrayEntry>& entries, const std::string& id) {
  menu_ = GTK_MENU(g_object_ref_sink(gtk_menu_new()));
  fill(GTK_WIDGET(menu_), entries);
  indicator_ = app_indicator_new(id.c_str(), "dialog-information",
                                 APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  g_signal_connect(indicator_, "connection-changed", G_CALLBACK(onConnectionChanged), &connections);
  app_indicator_set_menu(indicator_, menu_);
  app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
}

TrayStandIn::~TrayStandIn() {
  // The library may keep the indicator a while longer: nothing of it may
  // reach this object afterwards.
  g_signal_handlers_disconnect_by_data(indicator_, &connections);
  g_object_unref(indicator_);
  gtk_widget_destroy(GTK_WIDGET(menu_));
  g_object_unref(menu_);
}

void TrayStandIn::fill(GtkWidget* menu, const std::vector<TrayEntry>& entries) {
  for (const TrayEntry& entry : entries) {
    GtkWidget* item = entry.kind == TrayEntry::Kind::kSeparator ? gtk_separator_menu_item_new()
                      : entry.kind == TrayEntry::Kind::kUnlabeled
                          ? gtk_menu_item_new()
                          : gtk_menu_item_new_with_label(entry.label.c_str());
    g_object_set_data_full(G_OBJECT(item), kBuiltLabelKey, g_strdup(entry.label.c_str()), g_free);
    g_signal_connect(item, "activate", G_CALLBACK(onActivate), &activated);
    if (entry.hasSubmenu) {
      GtkWidget* submenu = gtk_menu_new();
      if (entry.attachFirst) gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
      fill(submenu, entry.entries);
      if (!entry.attachFirst) gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
    }
    gtk_widget_show(item);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
}

GtkWidget* TrayStandIn::itemAt(int index) const {
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu_));
  auto* item = static_cast<GtkWidget*>(g_list_nth_data(children, static_cast<guint>(index)));
  g_list_free(children);
  return item;
}

}  // namespace dravel::testing
