// Reading pixels of the root window into captured images, and the pixel
// arithmetic around it (clipping, cropping, layout conversion, the cursor).
//
// One reader belongs to one connection and is used on one thread. It reads
// through a MIT-SHM segment kept between reads when the server lets this
// client attach one (a local server), and through plain GetImage otherwise
// (remote displays refuse the attach). The common 24-bit visual (32 bits a
// pixel, LSBFirst, masks ff0000/ff00/ff) comes out in one pass as opaque
// PixelFormat::kBGRAPremultiplied, rows without padding: the capture reply's
// own layout. Any other true-colour layout is converted pixel by pixel to
// PixelFormat::kBGRX.
//
// The pixel buffer of the last read is kept and read into again, without new
// pages, while the size stays the same and nobody else holds the image any
// more (its reply has been sent); releaseSpare() lets it go.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/linux/session/screen_layout.h"
#include "platform/seam/captured_image.h"

namespace dravel::linux_platform {

class XConnection;

using PixelRect = DesktopLayout::PixelRect;

// The overlap of two rectangles; width and height 0 when they do not overlap.
PixelRect intersect(const PixelRect& a, const PixelRect& b);
inline bool isEmpty(const PixelRect& r) {
  return r.width <= 0 || r.height <= 0;
}

// How an X image lays out its pixels.
struct XPixelLayout {
  int bitsPerPixel = 0;
  bool lsbFirst = true;
  unsigned long redMask = 0;
  unsigned long greenMask = 0;
  unsigned long blueMask = 0;
};
XPixelLayout pixelLayoutOf(const XImage& image);
// Whether the image's bytes are already blue, green, red, padding.
bool isBGRX(const XPixelLayout& layout);
// Whether convertRowToBGRX can read this layout: 16, 24 or 32 bits a pixel
// with three non-empty contiguous masks inside the pixel.
bool canConvert(const XPixelLayout& layout);
// Converts `width` pixels of one row to blue, green, red, 0xFF. Channels
// wider than 8 bits keep their top bits; narrower ones are widened so that
// full intensity stays full.
void convertRowToBGRX(const XPixelLayout& layout, const uint8_t* source, uint8_t* destination,
                      int64_t width);

// A copy of `area` (in the image's own pixel coordinates) of a kBGRX or
// premultiplied image, in the same format; null when the area is empty or
// not inside the image, or memory is short.
CapturedImagePtr cropImage(const CapturedImage& image, const PixelRect& area);

// Draws a cursor image over `image`, whose top-left pixel is root pixel
// (imageX, imageY). The cursor's pixels are premultiplied ARGB, one in each
// `unsigned long` (as XFixes hands them over), its top-left corner at root
// pixel (cursorX, cursorY). Only colour bytes change; works on kBGRX and
// premultiplied BGRA images.
void compositeCursor(CapturedImage& image, int64_t imageX, int64_t imageY,
                     const unsigned long* argb, int64_t cursorWidth, int64_t cursorHeight,
                     int64_t cursorX, int64_t cursorY);

class XImageReader {
 public:
  enum class Route { kSharedMemory, kGetImage };

  // Checks that a shared-memory segment can be attached on `connection`
  // (under an error trap) and keeps it, else settles for GetImage. Logs the
  // route once, naming `role`. From here on, use the reader and the
  // connection on the calling thread only. `sharedMemory` false goes
  // straight to GetImage, as a remote display would.
  XImageReader(XConnection& connection, const char* role, bool sharedMemory = true);
  ~XImageReader();
  XImageReader(const XImageReader&) = delete;
  XImageReader& operator=(const XImageReader&) = delete;

  Route route() const { return route_; }

  // The root window's current size as a rectangle at (0, 0); empty when the
  // server cannot say.
  PixelRect rootArea();

  // Reads `area` of the root window into an image (its layout above). The area must lie
  // within the root (clip it with rootArea() first): a read outside fails.
  // Null with a description in `why` on failure, never partial pixels.
  std::shared_ptr<CapturedImage> read(const PixelRect& area, std::string* why);

  // Composites the current cursor over an image read from root pixel
  // (imageX, imageY); nothing when XFixes is missing or the server says no.
  void drawCursor(CapturedImage& image, int64_t imageX, int64_t imageY);

  // Lets the kept pixel buffer go (the host is idle).
  void releaseSpare();

 private:
  bool attachSegment(size_t bytes);
  void releaseSegment();
  bool prepareSharedImage(int64_t width, int64_t height);
  std::shared_ptr<CapturedImage> copyOut(const XImage& image, std::string* why);
  // An image whose pixels hold `bytes`: the kept one when free, else a new
  // one (kept from then on); null when memory is short.
  std::shared_ptr<CapturedImage> pixelBuffer(size_t bytes);

  XConnection& connection_;
  Display* display_;
  Visual* visual_;
  int depth_;
  Route route_ = Route::kGetImage;
  XShmSegmentInfo segment_{};
  bool attached_ = false;
  size_t segmentBytes_ = 0;
  // The header over the segment for the last size read; its data is the
  // segment's memory, not Xlib's.
  XImage* sharedImage_ = nullptr;
  std::shared_ptr<CapturedImage> spare_;
};

}  // namespace dravel::linux_platform
