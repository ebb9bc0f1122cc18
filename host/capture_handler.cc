#include "host/capture_handler.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "channels/log.h"
#include "host/clipboard_copy.h"
#include "host/displays.h"
#include "host/hotkey_probe.h"
#include "host/main_flutter_window.h"
#include "host/save_folder.h"
#include "host/screen_recording_access.h"
#include "host/tray_shortcuts.h"
#include "platform/seam/platform.h"
#include "platform/shared/url.h"

namespace dravel {

CaptureHandler& CaptureHandler::shared() {
  // A function-local static is made exactly once, even with racing callers.
  static CaptureHandler* const instance = new CaptureHandler();
  return *instance;
}

ValueMap CaptureHandler::geometry(const Screen& screen, uint32_t displayID) {
  const Point mouse = platform().input().mouseLocation();
  const double scale = screen.backingScaleFactor();
  const Rect frame = screen.frame();
  ValueMap map;
  map.set("scale", Value(scale));
  map.set("displayId", Value(static_cast<int64_t>(displayID)));
  map.set("screenX", Value(frame.x));
  map.set("screenY", Value(frame.y));
  map.set("screenW", Value(frame.width));
  map.set("screenH", Value(frame.height));
  map.set("cursorX", Value(mouse.x - frame.x));
  map.set("cursorY", Value((frame.y + frame.height) - mouse.y));
  return map;
}

ScreenPtr CaptureHandler::selectScreen(std::optional<int64_t> displayId) {
  if (displayId) {
    for (const ScreenPtr& screen : platform().screens().screens()) {
      if (!screen) continue;
      std::optional<uint32_t> id = displayID(*screen);
      // Zero-extended, so a negative id or one of 2^32 and more never matches.
      if (id && static_cast<int64_t>(*id) == *displayId) return screen;
    }
  }
  return screenUnderCursor();
}

void CaptureHandler::handle(const FlutterMethodCall& call, FlutterResult result) {
  const std::string& method = call.method;
  const Value args = call.arguments.argumentsOrEmpty();

  if (method == "hasPermission") {
    if (!platform().screenCaptureAccess().preflight()) {
      result(Value(false));
      return;
    }
    std::optional<bool> visible = ScreenRecordingAccess::windowNamesVisible();
    result(Value(visible.value_or(true)));
    return;
  }
  if (method == "requestPermission") {
    // A desktop whose prompt answers only when the user has chosen answers
    // later; the main thread never waits for it.
    platform().screenCaptureAccess().requestAsync(
        [result = std::move(result)](bool granted) mutable { result(Value(granted)); });
    return;
  }
  if (method == "isPromptVisible") {
    // The platform's own word where it knows its requests, else the probe.
    std::optional<bool> own = platform().screenCaptureAccess().promptVisible();
    result(Value(own ? *own : ScreenRecordingAccess::isPromptVisible()));
    return;
  }
  if (method == "openSettings") {
    ScreenRecordingAccess::openSettings();
    result(Value());
    return;
  }
  if (method == "screenUnderCursor") {
    ScreenPtr screen = screenUnderCursor();
    std::optional<uint32_t> id = screen ? displayID(*screen) : std::nullopt;
    if (!screen || !id) {
      result(FlutterError::errorWithCode("no_screen"));
      return;
    }
    result(Value(geometry(*screen, *id)));
    return;
  }
  if (method == "activeWindow") {
    std::optional<ValueMap> found = activeWindow();
    result(found ? Value(std::move(*found)) : Value());
    return;
  }
  if (method == "captureScreen") {
    captureScreen(selectScreen(args.intAt("displayId")), std::move(result));
    return;
  }
  if (method == "freezeOverlay") {
    if (auto w = window.lock(); w && w->overlayActive) w->freezeOverlay();
    result(Value());
    return;
  }
  if (method == "enterOverlay") {
    ScreenPtr screen = selectScreen(args.intAt("displayId"));
    auto w = window.lock();
    if (!w || !screen) {
      result(FlutterError::errorWithCode("no_window"));
      return;
    }
    w->enterOverlay(screen);
    result(Value());
    return;
  }
  if (method == "exitOverlay") {
    if (auto w = window.lock()) w->exitOverlay();
    result(Value());
    return;
  }
  if (method == "setOverlayBelowMenus") {
    if (auto w = window.lock()) {
      const bool below = args.boolAt("below").value_or(false);
      if (w->overlayActive) w->setOverlayBelowMenus(below);
    }
    result(Value());
    return;
  }
  if (method == "setTrayShortcuts") {
    std::vector<ValueMap> items = args.mapListAt("items").value_or(std::vector<ValueMap>{});
    std::map<std::string, std::string> badges;
    if (auto pairs = args.stringMapAt("badges")) {
      for (auto& [k, v] : *pairs) badges[k] = v;
    }
    TrayShortcuts::shared().update(items, badges, {});
    result(Value());
    return;
  }
  if (method == "probeHotkey") {
    std::optional<bool> free = HotkeyProbe::isFree(
        args.intAt("keyCode"), args.stringListAt("modifiers").value_or(std::vector<std::string>{}));
    result(free ? Value(*free) : Value());
    return;
  }
  if (method == "raiseWindow") {
    raiseWindow();
    result(Value());
    return;
  }
  if (method == "copyPng") {
    copyToClipboard(args.bytesAt("png"), result);
    return;
  }
  if (method == "pickSaveFolder") {
    SaveFolder::pick(args.stringAt("initialDirectory"), std::move(result));
    return;
  }
  if (method == "beginSaveFolderAccess") {
    SaveFolder::beginAccess(args.stringAt("bookmark"), std::move(result));
    return;
  }
  if (method == "endSaveFolderAccess") {
    SaveFolder::endAccess();
    result(Value());
    return;
  }
  if (method == "revealFile") {
    std::optional<std::string> path = args.stringAt("path");
    if (!path) {
      result(FlutterError::errorWithCode("bad_args", "path expected"));
      return;
    }
    platform().workspace().activateFileViewerSelectingURLs({fileURLWithPath(*path)});
    result(Value());
    return;
  }
  result(FlutterMethodNotImplemented);
}

void CaptureHandler::abandonCopies() {
  abandonClipboardCopies();
}

size_t CaptureHandler::copiesInFlight() const {
  return clipboardCopiesInFlight();
}

void CaptureHandler::raiseWindow() {
  auto w = window.lock();
  if (!w || w->overlayActive) return;
  NativeWindow& native = w->native();
  platform().application().unhide();
  if (native.isMiniaturized()) native.deminiaturize();
  native.setCollectionBehavior(native.collectionBehavior() | kCollectionMoveToActiveSpace);
  native.orderFrontRegardless();
  native.makeKeyAndOrderFront();
  platform().application().activateIgnoringOtherApps(true);
}

}  // namespace dravel
