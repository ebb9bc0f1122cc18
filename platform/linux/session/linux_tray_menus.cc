#include "platform/linux/session/linux_tray_menus.h"

#include <gtk/gtk.h>

#include "channels/log.h"

namespace dravel::linux_platform {
namespace {

// The toolkit's modifier flags, as key equivalent masks carry them.
constexpr uint64_t kShiftFlag = 0x20000;
constexpr uint64_t kControlFlag = 0x40000;
constexpr uint64_t kOptionFlag = 0x80000;
constexpr uint64_t kCommandFlag = 0x100000;

// The GtkMenu's mirror, held in the menu's object data.
constexpr const char* kMirrorKey = "dravel-tray-mirror";

// A GtkMenuItem held weakly by its mirrored item's action.
struct WeakItem {
  explicit WeakItem(GtkWidget* item) { g_weak_ref_init(&ref, item); }
  ~WeakItem() { g_weak_ref_clear(&ref); }
  WeakItem(const WeakItem&) = delete;
  WeakItem& operator=(const WeakItem&) = delete;
  GWeakRef ref;
};

gboolean onInsert(GSignalInvocationHint*, guint count, const GValue* params, gpointer data) {
  if (count < 2) return TRUE;
  auto* shell = static_cast<GObject*>(g_value_get_object(&params[0]));
  auto* child = static_cast<GObject*>(g_value_get_object(&params[1]));
  if (GTK_IS_MENU(shell) && GTK_IS_MENU_ITEM(child)) {
    static_cast<LinuxTrayMenus*>(data)->itemInserted(GTK_MENU(shell), GTK_WIDGET(child));
  }
  return TRUE;  // stay installed
}

void deleteMirror(gpointer mirror) {
  delete static_cast<std::shared_ptr<Menu>*>(mirror);
}

}  // namespace

LinuxTrayMenus::LinuxTrayMenus(AppNotificationCenter& center)
    : center_(center), accelGroup_(gtk_accel_group_new()) {
  // The signal exists once the class does.
  gpointer shellClass = g_type_class_ref(GTK_TYPE_MENU_SHELL);
  signalId_ = g_signal_lookup("insert", GTK_TYPE_MENU_SHELL);
  if (signalId_ != 0) {
    hookId_ = g_signal_add_emission_hook(signalId_, 0, onInsert, this, nullptr);
  }
  g_type_class_unref(shellClass);
}

LinuxTrayMenus::~LinuxTrayMenus() {
  if (hookId_ != 0) g_signal_remove_emission_hook(signalId_, hookId_);
  g_object_unref(accelGroup_);
}

std::shared_ptr<Menu> LinuxTrayMenus::mirrorOf(GtkMenu* menu) {
  auto* mirror = static_cast<std::shared_ptr<Menu>*>(g_object_get_data(G_OBJECT(menu), kMirrorKey));
  return mirror ? *mirror : nullptr;
}

std::optional<LinuxTrayMenus::Accelerator> LinuxTrayMenus::acceleratorFor(
    const std::string& keyEquivalent, uint64_t mask) {
  if (keyEquivalent.empty() ||
      !g_utf8_validate(keyEquivalent.data(), static_cast<gssize>(keyEquivalent.size()), nullptr)) {
    return std::nullopt;
  }
  guint key = gdk_unicode_to_keyval(g_utf8_get_char(keyEquivalent.c_str()));
  unsigned modifiers = 0;
  if (mask & kShiftFlag) modifiers |= GDK_SHIFT_MASK;
  if (mask & kControlFlag) modifiers |= GDK_CONTROL_MASK;
  if (mask & kOptionFlag) modifiers |= GDK_MOD1_MASK;
  if (mask & kCommandFlag) modifiers |= GDK_SUPER_MASK;
  // An upper-case letter is its lower-case key with shift.
  const guint lower = gdk_keyval_to_lower(key);
  if (lower != key) {
    key = lower;
    modifiers |= GDK_SHIFT_MASK;
  }
  if (!gtk_accelerator_valid(key, static_cast<GdkModifierType>(modifiers))) return std::nullopt;
  return Accelerator{key, modifiers};
}

void LinuxTrayMenus::itemInserted(GtkMenu* gtkMenu, GtkWidget* child) {
  // Only free-standing menus: one attached to a widget is somebody else's.
  if (gtk_menu_get_attach_widget(gtkMenu)) return;

  std::shared_ptr<Menu> mirror = mirrorOf(gtkMenu);
  if (!mirror) {
    mirror = Menu::create("", "TrayMenu", &center_);
    g_object_set_data_full(G_OBJECT(gtkMenu), kMirrorKey, new std::shared_ptr<Menu>(mirror),
                           deleteMirror);
    if (!saidWhatItDoes_) {
      saidWhatItDoes_ = true;
      NSLog("[x11] tray menu: items of free-standing menus are decorated for the D-Bus menu");
    }
  }

  GtkMenuItem* gtkItem = GTK_MENU_ITEM(child);
  const gchar* label = gtk_menu_item_get_label(gtkItem);
  const bool decoratable =
      !GTK_IS_SEPARATOR_MENU_ITEM(child) && label != nullptr && label[0] != '\0';
  auto weak = std::make_shared<WeakItem>(child);
  auto item = MenuItem::create(decoratable ? label : "", [weak](MenuItem&) {
    if (GObject* alive = G_OBJECT(g_weak_ref_get(&weak->ref))) {
      gtk_menu_item_activate(GTK_MENU_ITEM(alive));
      g_object_unref(alive);
    }
  });
  mirror->addItem(item);
  if (!decoratable) return;

  // The host has decorated the mirror by now.
  if (!item->keyEquivalent().empty()) {
    if (auto accelerator =
            acceleratorFor(item->keyEquivalent(), item->keyEquivalentModifierMask())) {
      gtk_widget_add_accelerator(child, "activate", accelGroup_, accelerator->key,
                                 static_cast<GdkModifierType>(accelerator->modifiers),
                                 GTK_ACCEL_VISIBLE);
    }
  }
  if (item->view()) {
    if (auto text = item->view()->textLabel()) gtk_menu_item_set_label(gtkItem, text->c_str());
  }
}

}  // namespace dravel::linux_platform
