#include "platform/linux/session/linux_object_runtime.h"

#include <gtk/gtk.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "channels/log.h"
#include "channels/method_channel.h"
#include "platform/shared/cairo_pixels.h"
#include "platform/shared/drawing.h"

namespace dravel::linux_platform {

namespace {

struct KindName {
  const char* kind;
  const char* name;
};

// The interface's cursor kinds and the cursor names of the desktop's themes.
constexpr KindName kCursorNames[] = {
    {"basic", "default"},
    {"click", "pointer"},
    {"text", "text"},
    {"forbidden", "not-allowed"},
    {"grab", "grab"},
    {"grabbing", "grabbing"},
    {"none", "none"},
    {"alias", "alias"},
    {"allScroll", "all-scroll"},
    {"cell", "cell"},
    {"contextMenu", "context-menu"},
    {"copy", "copy"},
    {"help", "help"},
    {"move", "move"},
    {"noDrop", "no-drop"},
    {"precise", "crosshair"},
    {"progress", "progress"},
    {"resizeColumn", "col-resize"},
    {"resizeDown", "s-resize"},
    {"resizeDownLeft", "sw-resize"},
    {"resizeDownRight", "se-resize"},
    {"resizeLeft", "w-resize"},
    {"resizeLeftRight", "ew-resize"},
    {"resizeRight", "e-resize"},
    {"resizeRow", "row-resize"},
    {"resizeUp", "n-resize"},
    {"resizeUpDown", "ns-resize"},
    {"resizeUpLeft", "nw-resize"},
    {"resizeUpRight", "ne-resize"},
    {"resizeUpLeftDownRight", "nwse-resize"},
    {"resizeUpRightDownLeft", "nesw-resize"},
    {"verticalText", "vertical-text"},
    {"wait", "wait"},
    {"zoomIn", "zoom-in"},
    {"zoomOut", "zoom-out"},
};

// A drawn cursor as the toolkit's cursor, rendered at `scale` pixels a point.
GdkCursor* drawnCursor(GdkDisplay* display, const Cursor& cursor, int scale) {
  const Bitmap bitmap = renderImage(*cursor.image(), scale);
  if (bitmap.width <= 0 || bitmap.height <= 0) return nullptr;
  cairo_surface_t* surface = surfaceFromRows(bitmap.rgba.data(), bitmap.width, bitmap.height,
                                             static_cast<size_t>(bitmap.width) * 4, true);
  if (!surface) return nullptr;
  cairo_surface_set_device_scale(surface, scale, scale);
  GdkCursor* made =
      gdk_cursor_new_from_surface(display, surface, cursor.hotSpot().x, cursor.hotSpot().y);
  cairo_surface_destroy(surface);
  return made;
}

}  // namespace

std::string cursorNameForKind(const std::string& kind) {
  for (const KindName& entry : kCursorNames) {
    if (kind == entry.kind) return entry.name;
  }
  return "default";
}

GtkCursorRuntime::GtkCursorRuntime(FlutterBinaryMessenger& messenger,
                                   std::function<GdkWindow*()> window)
    : messenger_(messenger), window_(std::move(window)) {}

GtkCursorRuntime::~GtkCursorRuntime() {
  if (handlerInstalled_) messenger_.setMessageHandlerOnChannel(kMouseCursorChannel, nullptr);
  for (auto& [key, entry] : drawn_) g_object_unref(entry.made);
  for (auto& [name, made] : named_) g_object_unref(made);
}

bool GtkCursorRuntime::classNamed(const std::string& className) {
  return !embedded_ && className == kMouseCursorPluginClass;
}

std::optional<CursorFromKindImp> GtkCursorRuntime::classMethodImplementation(
    const std::string& className, const std::string& selector) {
  if (embedded_ || className != kMouseCursorPluginClass || selector != kCursorFromKindSelector) {
    return std::nullopt;
  }
  if (implementation_) return implementation_;
  // The embedding's own lookup: the theme's cursor of that name.
  return CursorFromKindImp([](const std::string&, const std::string&, const std::string& kind) {
    return std::make_shared<Cursor>(nullptr, Point{}, cursorNameForKind(kind));
  });
}

bool GtkCursorRuntime::setClassMethodImplementation(const std::string& className,
                                                    const std::string& selector,
                                                    CursorFromKindImp implementation) {
  if (embedded_ || className != kMouseCursorPluginClass || selector != kCursorFromKindSelector) {
    return false;
  }
  implementation_ = std::move(implementation);
  if (!handlerInstalled_) {
    handlerInstalled_ = true;
    FlutterMethodChannel channel(kMouseCursorChannel, &messenger_);
    channel.setMethodCallHandler([this](const FlutterMethodCall& call, FlutterResult result) {
      if (call.method != "activateSystemCursor") {
        result(FlutterMethodNotImplemented);
        return;
      }
      const std::optional<std::string> kind = call.arguments.argumentsOrEmpty().stringAt("kind");
      if (!kind) {
        result(FlutterError::errorWithCode("bad_args", "kind expected"));
        return;
      }
      activate(*kind);
      // Like the embedding, a cursor that cannot be set is no error.
      result(Value());
    });
  }
  return true;
}

void GtkCursorRuntime::refresh() {
  if (lastKind_) activate(std::string(*lastKind_));
}

bool GtkCursorRuntime::activate(const std::string& kind) {
  lastKind_ = kind;
  GdkWindow* window = window_ ? window_() : nullptr;
  if (!window) return false;
  std::optional<CursorFromKindImp> lookup =
      classMethodImplementation(kMouseCursorPluginClass, kCursorFromKindSelector);
  std::shared_ptr<Cursor> cursor =
      lookup ? (*lookup)(kMouseCursorPluginClass, kCursorFromKindSelector, kind) : nullptr;
  if (!cursor) return false;
  GdkDisplay* display = gdk_window_get_display(window);
  GdkCursor* made = nullptr;
  if (cursor->image()) {
    // Drawn once per scale; a window moved to a monitor of another scale
    // gets one drawn for it.
    const int scale = gdk_window_get_scale_factor(window);
    const auto key = std::make_pair(static_cast<const Cursor*>(cursor.get()), scale);
    auto found = drawn_.find(key);
    if (found == drawn_.end()) {
      GdkCursor* drawn = drawnCursor(display, *cursor, scale);
      if (!drawn) return false;
      found = drawn_.emplace(key, Made{cursor, drawn}).first;
    }
    made = found->second.made;
  } else {
    auto found = named_.find(cursor->name());
    if (found == named_.end()) {
      GdkCursor* named = gdk_cursor_new_from_name(display, cursor->name().c_str());
      if (!named) named = gdk_cursor_new_from_name(display, "default");
      if (!named) return false;
      found = named_.emplace(cursor->name(), named).first;
    }
    made = found->second;
  }
  gdk_window_set_cursor(window, made);
  gdk_display_flush(display);
  return true;
}

}  // namespace dravel::linux_platform
