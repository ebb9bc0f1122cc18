#include "platform/linux/session/linux_pasteboard.h"

#include <gdk/gdkwayland.h>
#include <gtk/gtk.h>

#include "channels/log.h"

namespace dravel::linux_platform {

std::string mimeTypeForPasteboardType(const std::string& type) {
  if (type == kPasteboardTypePNG) return "image/png";
  if (type == kPasteboardTypeTIFF) return "image/tiff";
  return type;
}

// What GTK holds while the host owns the clipboard.
struct GtkPasteboard::Offer {
  GtkPasteboard* owner;
  uint64_t generation;
  std::shared_ptr<const std::vector<PasteboardItem>> items;

  static void get(GtkClipboard*, GtkSelectionData* selection, guint info, gpointer data) {
    auto* offer = static_cast<Offer*>(data);
    if (offer->items->empty()) return;
    const PasteboardItem& item = offer->items->front();
    const std::vector<std::string> types = item.types();
    if (info >= types.size()) return;
    // A promised type is made here, for the first reader that asks; one that
    // cannot be made is refused to the reader.
    const ByteBuffer* bytes = item.dataForType(types[info]);
    if (!bytes) {
      NSLog("[clipboard] could not make %s for a reader", types[info].c_str());
      return;
    }
    gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8, bytes->data(),
                           static_cast<gint>(bytes->size()));
  }

  // GTK lets go: the host replaced its own offer, cleared it, or another
  // program took the clipboard.
  static void clear(GtkClipboard*, gpointer data) {
    auto* offer = static_cast<Offer*>(data);
    if (offer->owner && offer->owner->generation_ == offer->generation && offer->owner->owned_) {
      offer->owner->owned_.reset();
      NSLog("[clipboard] another program took the clipboard");
    }
    delete offer;
  }
};

namespace {

GtkClipboard* clipboard() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD) : nullptr;
}

}  // namespace

GtkPasteboard::GtkPasteboard() = default;

GtkPasteboard::~GtkPasteboard() {
  stopWaiting();
  if (!owned_ || dataControl_) return;
  ++generation_;
  owned_.reset();
  if (GtkClipboard* board = clipboard()) {
    // A clipboard manager keeps a copy; without one the content goes with us.
    gtk_clipboard_store(board);
    gtk_clipboard_clear(board);
  }
}

int64_t GtkPasteboard::clearContents() {
  ++generation_;
  const bool waited = waiting_ != nullptr;
  stopWaiting();
  if (owned_) {
    owned_.reset();
    if (dataControl_) {
      dataControl_->release();
    } else if (GtkClipboard* board = clipboard(); board && !waited) {
      gtk_clipboard_clear(board);
    }
  }
  return ++changeCount_;
}

bool GtkPasteboard::writeObjects(std::vector<PasteboardItem> items) {
  if (items.empty() || items.front().types().empty()) return false;
  stopWaiting();
  return offer(std::make_shared<const std::vector<PasteboardItem>>(std::move(items)));
}

bool GtkPasteboard::offer(std::shared_ptr<const std::vector<PasteboardItem>> shared) {
  std::vector<std::string> names;
  for (const std::string& type : shared->front().types()) {
    names.push_back(mimeTypeForPasteboardType(type));
  }
  if (dataControl_) {
    const uint64_t generation = ++generation_;
    if (!dataControl_->own(shared, names, [this, generation] {
          if (generation_ != generation || !owned_) return;
          owned_.reset();
          NSLog("[clipboard] another program took the clipboard");
        })) {
      NSLog("[clipboard] the desktop refused the clipboard");
      return false;
    }
    owned_ = std::move(shared);
    ++changeCount_;
    return true;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_WAYLAND_DISPLAY(display) && !hostWindowActive()) {
    NSLog(
        "[clipboard] Wayland takes the clipboard only from a focused window: the copy is made "
        "when one of the host's windows has the keyboard");
    ++generation_;
    owned_ = waiting_ = std::move(shared);
    ++changeCount_;
    waitForFocus();
    return true;
  }
  return offerThroughToolkit(std::move(shared));
}

bool GtkPasteboard::offerThroughToolkit(std::shared_ptr<const std::vector<PasteboardItem>> shared) {
  GtkClipboard* board = clipboard();
  if (!board) return false;
  const PasteboardItem& item = shared->front();
  std::vector<std::string> names;
  std::vector<GtkTargetEntry> targets;
  for (const std::string& type : item.types()) names.push_back(mimeTypeForPasteboardType(type));
  for (size_t i = 0; i < names.size(); ++i) {
    targets.push_back(
        GtkTargetEntry{const_cast<gchar*>(names[i].c_str()), 0, static_cast<guint>(i)});
  }
  const uint64_t generation = ++generation_;
  auto* offer = new Offer{this, generation, shared};
  if (!gtk_clipboard_set_with_data(board, targets.data(), static_cast<guint>(targets.size()),
                                   Offer::get, Offer::clear, offer)) {
    delete offer;
    NSLog("[clipboard] the desktop refused the clipboard");
    return false;
  }
  offer->owner = this;
  owned_ = std::move(shared);
  // Every target may be stored by a clipboard manager.
  gtk_clipboard_set_can_store(board, nullptr, 0);
  ++changeCount_;
  return true;
}

bool GtkPasteboard::hostWindowActive() {
  bool active = false;
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w && !active; w = w->next)
    active = gtk_window_is_active(GTK_WINDOW(w->data));
  g_list_free(windows);
  return active;
}

void GtkPasteboard::waitForFocus() {
  auto changed = +[](GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<GtkPasteboard*>(data);
    if (!self->waiting_ || !hostWindowActive()) return;
    std::shared_ptr<const std::vector<PasteboardItem>> items = std::move(self->waiting_);
    self->stopWaiting();
    self->owned_.reset();
    if (self->offerThroughToolkit(std::move(items))) {
      NSLog("[clipboard] a window of the host has the keyboard: the waiting copy is made");
    }
  };
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    focusHandlers_.emplace_back(
        w->data, g_signal_connect(w->data, "notify::is-active", G_CALLBACK(changed), this));
  }
  g_list_free(windows);
}

void GtkPasteboard::stopWaiting() {
  for (const auto& [window, handler] : focusHandlers_) {
    if (g_signal_handler_is_connected(window, handler))
      g_signal_handler_disconnect(window, handler);
  }
  focusHandlers_.clear();
  waiting_.reset();
}

std::vector<PasteboardItem> GtkPasteboard::items() const {
  return owned_ ? *owned_ : std::vector<PasteboardItem>{};
}

}  // namespace dravel::linux_platform
