// The clipboard of the X11 desktop through GTK: the host's one item is
// offered under the MIME types of its representations ("public.png" as
// image/png, "public.tiff" as image/tiff), served from memory for as long as
// the host owns the clipboard. A promised representation is made when the
// first reader asks for its type and kept for later readers. GTK answers TARGETS, TIMESTAMP,
// MULTIPLE and large transfers (INCR); a clipboard manager may store the data before the host
// exits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam/pasteboard.h"

namespace dravel::linux_platform {

// The desktop's MIME type for a pasteboard type; the type itself when it
// has no other name.
std::string mimeTypeForPasteboardType(const std::string& type);

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

  struct Offer;

 private:
  friend struct Offer;
  int64_t changeCount_ = 0;
  uint64_t generation_ = 0;
  std::shared_ptr<const std::vector<PasteboardItem>> owned_;
};

}  // namespace dravel::linux_platform
