// Mouse cursors on the Linux desktop. There is no object runtime to search:
// what the host looks up by class and method name is the embedding's mouse
// cursor lookup, which this runtime stands for. Its table maps each cursor
// kind the interface names to the desktop's named cursor (the CSS names the
// cursor themes carry), as the embedding on Linux does. Replacing the lookup
// installs the host's handler on the interface's mouse-cursor channel
// ("flutter/mousecursor"): each "activateSystemCursor" asks the installed
// lookup for the kind's cursor and sets it on the main window, a named cursor
// from the theme, or a drawn one rendered at the window's scale with its hot
// spot where the cursor says.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "channels/binary_messenger.h"
#include "platform/seam/object_runtime.h"

typedef struct _GdkWindow GdkWindow;
typedef struct _GdkCursor GdkCursor;

namespace dravel::linux_platform {

// The class and method the host looks for.
inline constexpr const char* kMouseCursorPluginClass = "FlutterMouseCursorPlugin";
inline constexpr const char* kCursorFromKindSelector = "cursorFromKind:";
// The interface's mouse-cursor channel.
inline constexpr const char* kMouseCursorChannel = "flutter/mousecursor";

// The desktop's cursor name for a kind of the interface; "default" for kinds
// it does not know.
std::string cursorNameForKind(const std::string& kind);

class GtkCursorRuntime : public ObjectRuntime {
 public:
  // `messenger` carries the interface's channels; `window` gives the window
  // the cursor is set on (null: none now).
  GtkCursorRuntime(FlutterBinaryMessenger& messenger, std::function<GdkWindow*()> window);
  ~GtkCursorRuntime() override;
  GtkCursorRuntime(const GtkCursorRuntime&) = delete;
  GtkCursorRuntime& operator=(const GtkCursorRuntime&) = delete;

  bool classNamed(const std::string& className) override;
  std::optional<CursorFromKindImp> classMethodImplementation(const std::string& className,
                                                             const std::string& selector) override;
  // Installs `implementation` and the channel handler that uses it.
  bool setClassMethodImplementation(const std::string& className, const std::string& selector,
                                    CursorFromKindImp implementation) override;

  // Inside the interface's own process the embedding serves the cursor
  // channel with the theme's named cursors (which have the diagonal shapes)
  // on its window: its lookup is no class to be found, and the host leaves
  // the channel alone.
  void leaveToEmbedding() { embedded_ = true; }

  // Sets the cursor of `kind` as the channel would; false when there is no
  // window or no cursor.
  bool activate(const std::string& kind);
  // Sets the last activated kind again: on the surface that shows the window
  // now (the overlay's own surface on Wayland) at its scale now, for the
  // window calls this when a surface maps or its scale changes.
  void refresh();

 private:
  FlutterBinaryMessenger& messenger_;
  std::function<GdkWindow*()> window_;
  CursorFromKindImp implementation_;
  bool handlerInstalled_ = false;
  bool embedded_ = false;
  std::optional<std::string> lastKind_;
  // The toolkit's cursors made so far, reused: a drawn one per cursor and
  // scale (the cursor kept, so that its address names it), a named one per
  // name.
  struct Made {
    std::shared_ptr<Cursor> cursor;
    GdkCursor* made = nullptr;
  };
  std::map<std::pair<const Cursor*, int>, Made> drawn_;
  std::map<std::string, GdkCursor*> named_;
};

}  // namespace dravel::linux_platform
