// Reading X window properties: the one place XGetWindowProperty is called.
// None of these traps errors; a caller reading a window that may be gone
// holds an error trap around the read.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <vector>

namespace dravel::linux_platform {

// A property as the server gave it: type None when it is unset.
struct XProperty {
  Atom type = None;
  int format = 0;
  std::vector<unsigned long> items;  // format 32 (Xlib hands these over as longs)
  std::string bytes;                 // format 8
  bool cut = false;                  // longer than what was read
};
// At most `maxLongs` 32-bit units of the property, asking for `type`
// (AnyPropertyType for any); none when the request fails.
std::optional<XProperty> readProperty(Display* display, Window window, Atom property, Atom type,
                                      long maxLongs);

// A property of 32-bit items (CARDINAL, ATOM, WINDOW) of the given type, at
// most `maxItems` of them; none when it is unset or of another type.
std::optional<std::vector<unsigned long>> readLongs(Display* display, Window window, Atom property,
                                                    Atom type, long maxItems);
std::optional<unsigned long> readLong(Display* display, Window window, Atom property, Atom type);

// A property of 8-bit items, of any type, at most `maxBytes` of them; none
// when it is unset or not of 8-bit items.
std::optional<XProperty> readText(Display* display, Window window, Atom property, long maxBytes);

// Whether `window` has `property` set, whatever its type.
bool hasProperty(Display* display, Window window, Atom property);

}  // namespace dravel::linux_platform
