// A stand-in for the interface's tray plugin on the Linux desktop, which lies
// outside the host: it builds a plain GtkMenu the way that plugin does
// (gtk_menu_new, one GtkMenuItem with its label appended at a time) and hands
// it to an application indicator, which exports it over D-Bus as a
// StatusNotifierItem with a dbusmenu menu. It records the items activated.
#pragma once

#include <string>
#include <vector>

typedef struct _AppIndicator AppIndicator;
typedef struct _GtkMenu GtkMenu;
typedef struct _GtkWidget GtkWidget;

namespace dravel::testing {

struct TrayEntry {
  // An item with a label (gtk_menu_item_new_with_label).
  static TrayEntry item(std::string label);
  // A separator item.
  static TrayEntry separator();
  // An item without a label (gtk_menu_item_new).
  static TrayEntry unlabeled();
  // An item opening a submenu of `entries`; the submenu is set on its item
  // once filled, or, with `attachFirst`, before it is filled.
  static TrayEntry submenu(std::string label, std::vector<TrayEntry> entries,
                           bool attachFirst = false);

  enum class Kind { kItem, kSeparator, kUnlabeled };
  Kind kind = Kind::kItem;
  std::string label = {};
  std::vector<TrayEntry> entries = {};
  bool hasSubmenu = false;
  bool attachFirst = false;
};

class TrayStandIn {
 public:
  // Builds the menu and shows it on an indicator of id `id`, active.
  explicit TrayStandIn(const std::vector<TrayEntry>& entries,
                       const std::string& id = "dravel-tray-test");
  ~TrayStandIn();
  TrayStandIn(const TrayStandIn&) = delete;
  TrayStandIn& operator=(const TrayStandIn&) = delete;

  GtkMenu* menu() const { return menu_; }
  // The top-level item at `index` of the menu.
  GtkWidget* itemAt(int index) const;

  // The labels the items were built with, in the order they were activated.
  std::vector<std::string> activated;
  // What the indicator said of its connection to a watcher, in order (true:
  // registered with one; false: fell back to a tray icon of its own).
  std::vector<bool> connections;

 private:
  void fill(GtkWidget* menu, const std::vector<TrayEntry>& entries);

  GtkMenu* menu_ = nullptr;
  AppIndicator* indicator_ = nullptr;
};

}  // namespace dravel::testing
