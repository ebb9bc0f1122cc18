// The general pasteboard (clipboard).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "channels/value.h"

namespace dravel {

inline constexpr const char* kPasteboardTypePNG = "public.png";
inline constexpr const char* kPasteboardTypeTIFF = "public.tiff";

struct PasteboardItem;

// Makes a representation's data when a reader first asks for it, from the
// item it belongs to (which may hold what it is made from); absent when it
// cannot. Runs once, on the thread of the first reader that asks (the main
// thread, or a thread that writes the clipboard to a reader), so it may only
// read the item's held data.
using PasteboardDataProvider = std::function<std::optional<ByteBuffer>(const PasteboardItem&)>;

// A representation promised rather than held: its provider runs at most
// once, and what it made is kept by every copy of the item. Readers on
// several threads wait for the one that makes it.
class PromisedData {
 public:
  explicit PromisedData(PasteboardDataProvider provider) : provider_(std::move(provider)) {}
  // Runs the provider the first time; null when it gave nothing.
  const ByteBuffer* get(const PasteboardItem& item) {
    std::call_once(once_, [&] {
      PasteboardDataProvider provider = std::move(provider_);
      provider_ = nullptr;
      if (provider) made_ = provider(item);
      done_ = true;
    });
    return made_ ? &*made_ : nullptr;
  }
  bool made() const { return done_.load(); }

 private:
  std::once_flag once_;
  std::atomic<bool> done_{false};
  PasteboardDataProvider provider_;
  std::optional<ByteBuffer> made_;
};

// One pasteboard item: the same content under one or more types, each held
// (`representations`) or promised and made when first read (`promised`).
struct PasteboardItem {
  std::vector<std::pair<std::string, ByteBuffer>> representations;
  std::vector<std::pair<std::string, std::shared_ptr<PromisedData>>> promised;

  void setData(const std::string& type, ByteBuffer data) {
    representations.emplace_back(type, std::move(data));
  }
  void setDataProvider(const std::string& type, PasteboardDataProvider provider) {
    promised.emplace_back(type, std::make_shared<PromisedData>(std::move(provider)));
  }
  // Every type, held ones first, in the order they were set.
  std::vector<std::string> types() const {
    std::vector<std::string> all;
    for (const auto& held : representations) all.push_back(held.first);
    for (const auto& promise : promised) all.push_back(promise.first);
    return all;
  }
  // The data of a type, made now when it was promised; null when the item
  // has no such type or it could not be made.
  const ByteBuffer* dataForType(const std::string& type) const {
    for (auto& [t, d] : representations)
      if (t == type) return &d;
    for (auto& [t, promise] : promised)
      if (t == type) return promise->get(*this);
    return nullptr;
  }
  // The item with every promise made and held; types that could not be made
  // are left out. Main thread.
  PasteboardItem materialized() const {
    PasteboardItem item;
    item.representations = representations;
    for (const auto& [type, promise] : promised) {
      if (const ByteBuffer* data = promise->get(*this)) item.setData(type, *data);
    }
    return item;
  }
  // Held data compares by value, promises by type and identity.
  bool operator==(const PasteboardItem&) const = default;
};

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // Empties the pasteboard; returns its new change count.
  virtual int64_t clearContents() = 0;
  virtual bool writeObjects(std::vector<PasteboardItem> items) = 0;
  // What the pasteboard holds. A platform may give promised representations
  // as they are, made when read.
  virtual std::vector<PasteboardItem> items() const = 0;
};

}  // namespace dravel
