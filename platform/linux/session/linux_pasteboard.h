// The desktop's clipboard through GTK: the host's one item is
// offered under the MIME types of its representations ("public.png" as
// image/png, "public.tiff" as image/tiff), served from memory for as long as
// the host owns the clipboard. A promised representation is made when the
// first reader asks for its type and kept for later readers. GTK answers TARGETS, TIMESTAMP,
// MULTIPLE and large transfers (INCR); a clipboard manager may store the data before the host
// exits.
//
// On Wayland the compositor takes a client's clipboard only while it has
// the keyboard focus. Where the compositor offers data control
// (useDataControl) the host owns the clipboard through it, focus or not.
// Elsewhere a copy made while no window of the host is active waits, said
// in one log line, and is made when one of them becomes active; a later
// copy replaces a waiting one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/pasteboard.h"

namespace dravel::linux_platform {

// The desktop's MIME type for a pasteboard type; the type itself when it
// has no other name.
std::string mimeTypeForPasteboardType(const std::string& type);

// Owns the clipboard without a focused window: Wayland's data control,
// which the Wayland desktop gives the pasteboard where the compositor
// offers it.
class SelectionOwner {
 public:
  virtual ~SelectionOwner() = default;
  // Makes the first item the seat's selection under `mimeTypes` (one per
  // type of the item, in its order). `lost` runs once, on the main thread,
  // when another client's selection replaces it. False when that fails.
  virtual bool own(std::shared_ptr<const std::vector<PasteboardItem>> items,
                   std::vector<std::string> mimeTypes, std::function<void()> lost) = 0;
  // Gives the selection up (it becomes empty) if the host still holds it.
  virtual void release() = 0;
};

class GtkPasteboard : public Pasteboard {
 public:
  GtkPasteboard();
  ~GtkPasteboard() override;
  GtkPasteboard(const GtkPasteboard&) = delete;
  GtkPasteboard& operator=(const GtkPasteboard&) = delete;

  int64_t clearContents() override;
  // Takes the clipboard for these items (the first one: the desktop's
  // clipboard holds one). False when GTK refused.
  bool writeObjects(std::vector<PasteboardItem> items) override;
  // What the host put there, while it still owns the clipboard; nothing once
  // another program took it over.
  std::vector<PasteboardItem> items() const override;
  // Wayland: owns the clipboard through the compositor's data control.
  void useDataControl(std::unique_ptr<SelectionOwner> dataControl) {
    dataControl_ = std::move(dataControl);
  }

  struct Offer;

 private:
  friend struct Offer;
  bool offer(std::shared_ptr<const std::vector<PasteboardItem>> items);
  bool offerThroughToolkit(std::shared_ptr<const std::vector<PasteboardItem>> items);
  // Wayland without data control: whether a window of the host is active,
  // and the wait for one that is.
  static bool hostWindowActive();
  void waitForFocus();
  void stopWaiting();
  std::unique_ptr<SelectionOwner> dataControl_;
  std::shared_ptr<const std::vector<PasteboardItem>> waiting_;
  std::vector<std::pair<void*, unsigned long>> focusHandlers_;
  int64_t changeCount_ = 0;
  uint64_t generation_ = 0;
  std::shared_ptr<const std::vector<PasteboardItem>> owned_;
};

}  // namespace dravel::linux_platform
