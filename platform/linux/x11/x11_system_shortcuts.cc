#include "platform/linux/x11/x11_system_shortcuts.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "channels/log.h"

namespace dravel::linux_platform {
namespace {

// Whether one of the keys of the modifier `index` (Mod1 is 3) is among
// `keysyms`.
bool modifierHolds(Display* display, const XModifierKeymap* map, int index,
                   std::initializer_list<KeySym> keysyms) {
  for (int k = 0; k < map->max_keypermod; ++k) {
    const KeyCode code = map->modifiermap[index * map->max_keypermod + k];
    if (code == 0) continue;
    const KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
    for (KeySym wanted : keysyms) {
      if (sym == wanted) return true;
    }
  }
  return false;
}

// The server's modifier bits for the host's: Alt and Super are whichever of
// Mod1..Mod5 hold those keys on this keymap (Mod1 and Mod4 when none does).
unsigned serverModifiers(Display* display, int64_t modifiers) {
  unsigned alt = Mod1Mask;
  unsigned super = Mod4Mask;
  if (XModifierKeymap* map = XGetModifierMapping(display)) {
    bool altFound = false;
    bool superFound = false;
    for (int index = Mod1MapIndex; index <= Mod5MapIndex; ++index) {
      if (!altFound && modifierHolds(display, map, index, {XK_Alt_L, XK_Alt_R})) {
        alt = 1u << index;
        altFound = true;
      }
      if (!superFound && modifierHolds(display, map, index, {XK_Super_L, XK_Super_R})) {
        super = 1u << index;
        superFound = true;
      }
    }
    XFreeModifiermap(map);
  }
  unsigned mask = 0;
  if (modifiers & kShortcutShift) mask |= ShiftMask;
  if (modifiers & kShortcutControl) mask |= ControlMask;
  if (modifiers & kShortcutAlt) mask |= alt;
  if (modifiers & kShortcutSuper) mask |= super;
  return mask;
}

}  // namespace

X11SystemShortcuts::X11SystemShortcuts(std::function<XConnection*()> connection)
    : connection_(std::move(connection)) {
  NSLog("[hotkeys] the desktop's shortcuts: the X server's key grabs");
}

std::optional<bool> X11SystemShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  XConnection* connection = connection_ ? connection_() : nullptr;
  if (!connection) return std::nullopt;
  // Key values have 29 bits; anything else names no key.
  if (keyCode <= 0 || keyCode > 0x1fffffff) return false;
  Display* display = connection->display();
  const KeyCode code = XKeysymToKeycode(display, static_cast<KeySym>(keyCode));
  if (code == 0) return false;
  const unsigned mask = serverModifiers(display, modifiers);
  const Window root = connection->root();
  XErrorTrap trap(display);
  XGrabKey(display, code, mask, root, False, GrabModeAsync, GrabModeAsync);
  const std::optional<XErrorRecord> error = trap.sync();
  // Released whatever the answer: a refused grab left nothing, and a granted
  // one must not outlive the question.
  XUngrabKey(display, code, mask, root);
  trap.sync();
  if (!error) return false;
  if (error->errorCode == BadAccess) return true;
  NSLog("[hotkeys] the X server did not answer a key grab plainly: %s", error->text.c_str());
  return std::nullopt;
}

}  // namespace dravel::linux_platform
