#include "platform/linux/x11/x11_image_reader.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "channels/log.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/shared/parallel_for.h"

namespace dravel::linux_platform {

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
  const int64_t left = std::max(a.x, b.x);
  const int64_t top = std::max(a.y, b.y);
  const int64_t right = std::min(a.x + a.width, b.x + b.width);
  const int64_t bottom = std::min(a.y + a.height, b.y + b.height);
  if (right <= left || bottom <= top) return PixelRect{left, top, 0, 0};
  return PixelRect{left, top, right - left, bottom - top};
}

XPixelLayout pixelLayoutOf(const XImage& image) {
  return XPixelLayout{image.bits_per_pixel, image.byte_order == LSBFirst, image.red_mask,
                      image.green_mask, image.blue_mask};
}

bool isBGRX(const XPixelLayout& layout) {
  return layout.bitsPerPixel == 32 && layout.lsbFirst && layout.redMask == 0xff0000 &&
         layout.greenMask == 0xff00 && layout.blueMask == 0xff;
}

namespace {

// Images from this size on are converted on every core.
constexpr size_t kParallelPassBytes = 4 * 1024 * 1024;

bool isContiguousMaskWithin(unsigned long mask, int bits) {
  if (mask == 0) return false;
  if (bits < 64 && (mask >> bits) != 0) return false;
  const unsigned long shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

// One channel of a pixel value, as 8 bits.
inline uint8_t channel(uint32_t value, unsigned long mask) {
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const uint32_t c = static_cast<uint32_t>((value & mask) >> shift);
  if (bits >= 8) return static_cast<uint8_t>(c >> (bits - 8));
  const uint32_t top = (1u << bits) - 1;
  return static_cast<uint8_t>((c * 255 + top / 2) / top);
}

}  // namespace

bool canConvert(const XPixelLayout& layout) {
  const int bits = layout.bitsPerPixel;
  if (bits != 16 && bits != 24 && bits != 32) return false;
  return isContiguousMaskWithin(layout.redMask, bits) &&
         isContiguousMaskWithin(layout.greenMask, bits) &&
         isContiguousMaskWithin(layout.blueMask, bits);
}

void convertRowToBGRX(const XPixelLayout& layout, const uint8_t* source, uint8_t* destination,
                      int64_t width) {
  const int bytes = layout.bitsPerPixel / 8;
  for (int64_t i = 0; i < width; ++i) {
    const uint8_t* p = source + i * bytes;
    uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) {
      const int shift = layout.lsbFirst ? 8 * k : 8 * (bytes - 1 - k);
      value |= static_cast<uint32_t>(p[k]) << shift;
    }
    uint8_t* out = destination + i * 4;
    out[0] = channel(value, layout.blueMask);
    out[1] = channel(value, layout.greenMask);
    out[2] = channel(value, layout.redMask);
    out[3] = 0xff;
  }
}

CapturedImagePtr cropImage(const CapturedImage& image, const PixelRect& area) {
  if (isEmpty(area) || !image.isWellFormed() || area.x < 0 || area.y < 0 ||
      area.x + area.width > image.width || area.y + area.height > image.height) {
    return nullptr;
  }
  const size_t rowBytes = static_cast<size_t>(area.width) * 4;
  const size_t total = rowBytes * static_cast<size_t>(area.height);
  if (!canAllocate(total)) return nullptr;
  try {
    auto crop = std::make_shared<CapturedImage>();
    crop->width = area.width;
    crop->height = area.height;
    crop->bytesPerRow = static_cast<int64_t>(rowBytes);
    crop->format = image.format;
    crop->pixels.reserve(total);
    for (int64_t y = 0; y < area.height; ++y) {
      const uint8_t* row =
          image.pixels.data() + static_cast<size_t>((area.y + y) * image.bytesPerRow + area.x * 4);
      crop->pixels.insert(crop->pixels.end(), row, row + rowBytes);
    }
    return crop;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void compositeCursor(CapturedImage& image, int64_t imageX, int64_t imageY,
                     const unsigned long* argb, int64_t cursorWidth, int64_t cursorHeight,
                     int64_t cursorX, int64_t cursorY) {
  if (!argb || !image.isWellFormed()) return;
  const PixelRect overlap = intersect(PixelRect{imageX, imageY, image.width, image.height},
                                      PixelRect{cursorX, cursorY, cursorWidth, cursorHeight});
  for (int64_t y = overlap.y; y < overlap.y + overlap.height; ++y) {
    uint8_t* row = image.pixels.data() + static_cast<size_t>((y - imageY) * image.bytesPerRow);
    const unsigned long* from = argb + (y - cursorY) * cursorWidth;
    for (int64_t x = overlap.x; x < overlap.x + overlap.width; ++x) {
      // Only the low 32 bits of each element hold the pixel.
      const uint32_t p = static_cast<uint32_t>(from[x - cursorX] & 0xffffffffu);
      const uint32_t alpha = p >> 24;
      if (alpha == 0) continue;
      uint8_t* out = row + (x - imageX) * 4;
      const uint32_t keep = 255 - alpha;
      for (int c = 0; c < 3; ++c) {
        const uint32_t source = (p >> (8 * c)) & 0xff;
        const uint32_t blended = source + (out[c] * keep + 127) / 255;
        out[c] = static_cast<uint8_t>(std::min<uint32_t>(blended, 255));
      }
    }
  }
}

XImageReader::XImageReader(XConnection& connection, const char* role, bool sharedMemory)
    : connection_(connection),
      display_(connection.display()),
      visual_(DefaultVisual(display_, DefaultScreen(display_))),
      depth_(DefaultDepth(display_, DefaultScreen(display_))) {
  const char* why = sharedMemory ? "the server has no MIT-SHM" : "shared memory not wanted";
  if (sharedMemory && connection.extensions().shm) {
    const PixelRect root = rootArea();
    const size_t bytes =
        std::max<size_t>(4096, static_cast<size_t>(std::max<int64_t>(root.width, 1)) *
                                   static_cast<size_t>(std::max<int64_t>(root.height, 1)) * 4);
    if (attachSegment(bytes)) {
      route_ = Route::kSharedMemory;
    } else {
      why = "the server refused a shared-memory segment";
    }
  }
  if (route_ == Route::kSharedMemory) {
    NSLog("[capture] the %s reads the screen through shared memory", role);
  } else {
    NSLog("[capture] the %s reads the screen with GetImage: %s", role, why);
  }
}

XImageReader::~XImageReader() {
  releaseSegment();
}

bool XImageReader::attachSegment(size_t bytes) {
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) return false;
  void* address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  segment_.shmid = id;
  segment_.shmaddr = static_cast<char*>(address);
  segment_.readOnly = False;
  bool ok = false;
  {
    // A remote server answers BadAccess or BadRequest.
    XErrorTrap trap(display_);
    ok = XShmAttach(display_, &segment_) && !trap.sync();
  }
  // Marked for removal now that both sides hold it (or failed to): the
  // segment goes when the last of them lets go, even if this process dies.
  shmctl(id, IPC_RMID, nullptr);
  if (!ok) {
    shmdt(address);
    segment_ = XShmSegmentInfo{};
    return false;
  }
  attached_ = true;
  segmentBytes_ = bytes;
  return true;
}

void XImageReader::releaseSegment() {
  if (sharedImage_) {
    // The header only: the memory is the segment's.
    sharedImage_->data = nullptr;
    sharedImage_->obdata = nullptr;
    XDestroyImage(sharedImage_);
    sharedImage_ = nullptr;
  }
  if (attached_) {
    XErrorTrap trap(display_);
    XShmDetach(display_, &segment_);
    trap.sync();
    shmdt(segment_.shmaddr);
    attached_ = false;
  }
  segment_ = XShmSegmentInfo{};
  segmentBytes_ = 0;
}

bool XImageReader::prepareSharedImage(int64_t width, int64_t height) {
  if (sharedImage_ && sharedImage_->width == width && sharedImage_->height == height) return true;
  XImage* header =
      XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &segment_,
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (!header) return false;
  const size_t needed =
      static_cast<size_t>(header->bytes_per_line) * static_cast<size_t>(header->height);
  if (sharedImage_) {
    sharedImage_->data = nullptr;
    sharedImage_->obdata = nullptr;
    XDestroyImage(sharedImage_);
    sharedImage_ = nullptr;
  }
  if (needed > segmentBytes_) {
    // A larger screen than the segment was made for: a new segment.
    releaseSegment();
    if (!attachSegment(needed)) {
      header->obdata = nullptr;
      XDestroyImage(header);
      route_ = Route::kGetImage;
      NSLog("[capture] no shared-memory segment of %zu bytes: reading with GetImage from now on",
            needed);
      return false;
    }
  }
  header->data = segment_.shmaddr;
  sharedImage_ = header;
  return true;
}

PixelRect XImageReader::rootArea() {
  Window root = 0;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  XErrorTrap trap(display_);
  if (!XGetGeometry(display_, connection_.root(), &root, &x, &y, &width, &height, &border,
                    &depth) ||
      trap.sync()) {
    return PixelRect{};
  }
  return PixelRect{0, 0, width, height};
}

std::shared_ptr<CapturedImage> XImageReader::copyOut(const XImage& image, std::string* why) {
  const XPixelLayout layout = pixelLayoutOf(image);
  const bool asIs = isBGRX(layout);
  if (!asIs && !canConvert(layout)) {
    if (why) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "The screen's pixel layout is not supported (%d bits a pixel, masks "
                    "%lx/%lx/%lx, %s first).",
                    layout.bitsPerPixel, layout.redMask, layout.greenMask, layout.blueMask,
                    layout.lsbFirst ? "LSB" : "MSB");
      *why = text;
    }
    return nullptr;
  }
  const size_t width = static_cast<size_t>(image.width);
  const size_t height = static_cast<size_t>(image.height);
  const size_t stride = width * 4;
  try {
    std::shared_ptr<CapturedImage> result = pixelBuffer(stride * height);
    if (!result) {
      if (why) *why = "Not enough memory to capture the display.";
      return nullptr;
    }
    result->width = image.width;
    result->height = image.height;
    result->bytesPerRow = static_cast<int64_t>(stride);
    const auto* data = reinterpret_cast<const uint8_t*>(image.data);
    const size_t sourceStride = static_cast<size_t>(image.bytes_per_line);
    // The one pass, from the server's image into the reply's layout:
    // premultiplied BGRA, every pixel opaque, when the server's is BGRX (as
    // good as every screen), BGRX otherwise. A whole screen's pass is split
    // over the cores: alone it takes about as long as the server's read.
    result->format = asIs ? PixelFormat::kBGRAPremultiplied : PixelFormat::kBGRX;
    uint8_t* out = result->pixels.data();
    const size_t bands = stride * height >= kParallelPassBytes ? threadCount(0) : 1;
    parallelFor(bands, static_cast<unsigned>(bands), [&](size_t band) {
      const size_t first = height * band / bands;
      const size_t end = height * (band + 1) / bands;
      for (size_t y = first; y < end; ++y) {
        if (asIs) {
          copyAsOpaqueBgra(data + y * sourceStride, out + y * stride, width);
        } else {
          convertRowToBGRX(layout, data + y * sourceStride, out + y * stride,
                           static_cast<int64_t>(width));
        }
      }
    });
    return result;
  } catch (const std::bad_alloc&) {
    if (why) *why = "Not enough memory to capture the display.";
    return nullptr;
  }
}

std::shared_ptr<CapturedImage> XImageReader::pixelBuffer(size_t bytes) {
  if (spare_ && spare_.use_count() == 1 && spare_->pixels.size() == bytes) {
    // Nobody else holds it: whatever they read of it came before they let
    // it go.
    std::atomic_thread_fence(std::memory_order_acquire);
    return spare_;
  }
  // Let go first: a held buffer of another size is not kept beside a new one.
  if (spare_ && spare_.use_count() == 1) spare_.reset();
  if (!canAllocate(bytes)) return nullptr;
  auto made = std::make_shared<CapturedImage>();
  made->pixels.resize(bytes);
  spare_ = made;
  return made;
}

void XImageReader::releaseSpare() {
  spare_.reset();
}

std::shared_ptr<CapturedImage> XImageReader::read(const PixelRect& area, std::string* why) {
  if (isEmpty(area)) {
    if (why) *why = "Nothing of the display is on screen.";
    return nullptr;
  }
  if (route_ == Route::kSharedMemory && prepareSharedImage(area.width, area.height)) {
    bool ok = false;
    {
      XErrorTrap trap(display_);
      ok = XShmGetImage(display_, connection_.root(), sharedImage_, static_cast<int>(area.x),
                        static_cast<int>(area.y), AllPlanes) &&
           !trap.failed();
    }
    if (!ok) {
      // The root changed size under the request: no pixels rather than some.
      if (why) *why = "The display changed while it was being captured.";
      return nullptr;
    }
    return copyOut(*sharedImage_, why);
  }
  XImage* image = nullptr;
  {
    XErrorTrap trap(display_);
    image = XGetImage(display_, connection_.root(), static_cast<int>(area.x),
                      static_cast<int>(area.y), static_cast<unsigned>(area.width),
                      static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (image && trap.failed()) {
      XDestroyImage(image);
      image = nullptr;
    }
  }
  if (!image) {
    if (why) *why = "The display changed while it was being captured.";
    return nullptr;
  }
  std::shared_ptr<CapturedImage> result = copyOut(*image, why);
  XDestroyImage(image);
  return result;
}

void XImageReader::drawCursor(CapturedImage& image, int64_t imageX, int64_t imageY) {
  if (!connection_.extensions().fixes) return;
  XFixesCursorImage* cursor = nullptr;
  {
    XErrorTrap trap(display_);
    cursor = XFixesGetCursorImage(display_);
    if (cursor && trap.failed()) {
      XFree(cursor);
      cursor = nullptr;
    }
  }
  if (!cursor) return;
  compositeCursor(image, imageX, imageY, cursor->pixels, cursor->width, cursor->height,
                  static_cast<int64_t>(cursor->x) - cursor->xhot,
                  static_cast<int64_t>(cursor->y) - cursor->yhot);
  XFree(cursor);
}

}  // namespace dravel::linux_platform
