#include "platform/linux/x11/x11_input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>

#include "channels/log.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_screens.h"

namespace dravel::linux_platform {

namespace {

constexpr uint64_t kLeftButtonBit = 1u << 0;
constexpr uint64_t kRightButtonBit = 1u << 1;
constexpr uint64_t kMiddleButtonBit = 1u << 2;

}  // namespace

X11Input::X11Input(XConnection& connection, const X11Screens& screens)
    : connection_(connection), screens_(screens) {
  eventListener_ = connection_.addEventListener([this](const XEvent& event) {
    if (!hidden_ || event.type != GenericEvent) return;
    const XGenericEventCookie& cookie = event.xcookie;
    if (cookie.extension != connection_.extensions().xinputOpcode) return;
    if (cookie.evtype != XI_RawMotion) return;
    show();
  });
}

X11Input::~X11Input() {
  connection_.removeEventListener(eventListener_);
  if (hidden_) show();
}

namespace {

struct PointerState {
  int rootX = 0;
  int rootY = 0;
  unsigned int mask = 0;
};

// A query of the root cannot fail while the connection lives; with the
// pointer on another X screen the buttons still count.
PointerState queryPointer(Display* display, Window root) {
  PointerState state;
  Window rootReturn = 0;
  Window child = 0;
  int windowX = 0;
  int windowY = 0;
  XQueryPointer(display, root, &rootReturn, &child, &state.rootX, &state.rootY, &windowX, &windowY,
                &state.mask);
  return state;
}

}  // namespace

Point X11Input::mouseLocation() {
  const PointerState state = queryPointer(connection_.display(), connection_.root());
  return screens_.layout().pointFromRoot(state.rootX, state.rootY);
}

uint64_t X11Input::pressedMouseButtons() {
  const unsigned int mask = queryPointer(connection_.display(), connection_.root()).mask;
  // X's button 2 is the middle one; buttons 4 and 5 are the wheel, which is
  // never held.
  uint64_t buttons = 0;
  if (mask & Button1Mask) buttons |= kLeftButtonBit;
  if (mask & Button3Mask) buttons |= kRightButtonBit;
  if (mask & Button2Mask) buttons |= kMiddleButtonBit;
  return buttons;
}

bool X11Input::canHide() {
  const XExtensions& extensions = connection_.extensions();
  if (!xinput2_) {
    xinput2_ = false;
    if (extensions.xinput2) {
      // Raw events reach the root during other clients' grabs from 2.1 on.
      int major = 2;
      int minor = 2;
      XErrorTrap trap(connection_.display());
      const Status status = XIQueryVersion(connection_.display(), &major, &minor);
      xinput2_ = !trap.sync() && status == Success && (major > 2 || (major == 2 && minor >= 1));
    }
  }
  if (extensions.fixes && *xinput2_) return true;
  if (!loggedUnsupported_) {
    loggedUnsupported_ = true;
    NSLog("[input] the X server lacks %s: the pointer is not hidden during the overlay",
          extensions.fixes ? "XInput 2.1" : "XFixes");
  }
  return false;
}

void X11Input::selectRawMotion(bool on) {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
  if (on) XISetMask(bits, XI_RawMotion);
  XIEventMask mask;
  mask.deviceid = XIAllMasterDevices;
  mask.mask_len = sizeof bits;
  mask.mask = bits;
  XISelectEvents(connection_.display(), connection_.root(), &mask, 1);
}

void X11Input::setCursorHiddenUntilMouseMoves(bool hidden) {
  if (!hidden) {
    if (hidden_) show();
    return;
  }
  // One hide at a time: XFixes counts them, and one show must undo it.
  if (hidden_ || !canHide()) return;
  Display* display = connection_.display();
  XErrorTrap trap(display);
  selectRawMotion(true);
  XFixesHideCursor(display, connection_.root());
  if (auto error = trap.sync()) {
    NSLog("[input] cannot hide the pointer: %s", error->text.c_str());
    XFixesShowCursor(display, connection_.root());
    selectRawMotion(false);
    return;
  }
  hidden_ = true;
}

void X11Input::show() {
  hidden_ = false;
  Display* display = connection_.display();
  XErrorTrap trap(display);
  XFixesShowCursor(display, connection_.root());
  selectRawMotion(false);
  XFlush(display);
}

}  // namespace dravel::linux_platform
