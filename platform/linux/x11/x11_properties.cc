#include "platform/linux/x11/x11_properties.h"

namespace dravel::linux_platform {

std::optional<XProperty> readProperty(Display* display, Window window, Atom property, Atom type,
                                      long maxLongs) {
  XProperty result;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display, window, property, 0, maxLongs, False, type,
                                        &result.type, &result.format, &count, &after, &data);
  if (status != Success) {
    if (data) XFree(data);
    return std::nullopt;
  }
  if (data && result.format == 32) {
    const auto* items = reinterpret_cast<const unsigned long*>(data);
    result.items.assign(items, items + count);
  } else if (data && result.format == 8) {
    result.bytes.assign(reinterpret_cast<const char*>(data), count);
  }
  result.cut = after > 0;
  if (data) XFree(data);
  return result;
}

std::optional<std::vector<unsigned long>> readLongs(Display* display, Window window, Atom property,
                                                    Atom type, long maxItems) {
  auto read = readProperty(display, window, property, type, maxItems);
  if (!read || read->type != type || read->format != 32) return std::nullopt;
  return std::move(read->items);
}

std::optional<unsigned long> readLong(Display* display, Window window, Atom property, Atom type) {
  auto items = readLongs(display, window, property, type, 1);
  if (!items || items->empty()) return std::nullopt;
  return items->front();
}

std::optional<XProperty> readText(Display* display, Window window, Atom property, long maxBytes) {
  auto read = readProperty(display, window, property, AnyPropertyType, (maxBytes + 3) / 4);
  if (!read || read->type == None || read->format != 8) return std::nullopt;
  return read;
}

bool hasProperty(Display* display, Window window, Atom property) {
  const auto read = readProperty(display, window, property, AnyPropertyType, 0);
  return read && read->type != None;
}

}  // namespace dravel::linux_platform
