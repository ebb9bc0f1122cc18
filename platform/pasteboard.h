// The general pasteboard (clipboard).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "channels/value.h"

namespace dravel {

inline constexpr const char* kPasteboardTypePNG = "public.png";
inline constexpr const char* kPasteboardTypeTIFF = "public.tiff";

// One pasteboard item: the same content under one or more types.
struct PasteboardItem {
  std::vector<std::pair<std::string, ByteBuffer>> representations;

  void setData(const std::string& type, ByteBuffer data) {
    representations.emplace_back(type, std::move(data));
  }
  const ByteBuffer* dataForType(const std::string& type) const {
    for (auto& [t, d] : representations)
      if (t == type) return &d;
    return nullptr;
  }
  bool operator==(const PasteboardItem&) const = default;
};

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // Empties the pasteboard; returns its new change count.
  virtual int64_t clearContents() = 0;
  virtual bool writeObjects(std::vector<PasteboardItem> items) = 0;
  virtual std::vector<PasteboardItem> items() const = 0;
};

}  // namespace dravel
