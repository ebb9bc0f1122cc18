#include "platform/linux/session/linux_graphics.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <new>
#include <vector>

#include "platform/shared/image_codec.h"

namespace dravel::linux_platform {

namespace {

class BgraContext : public BitmapContext {
 public:
  BgraContext(int64_t width, int64_t height) : width_(width), height_(height) {}
  void drawImageInto(const CapturedImage& image, ByteBuffer& out) override {
    if (image.width != width_ || image.height != height_) return;
    appendAsPremultipliedBGRA(image, out);
  }

 private:
  int64_t width_;
  int64_t height_;
};

// What a load saw: whether its size was refused, and which rows the loader
// reported as filled in ("area-updated"). Most loaders given a truncated file
// still hand out an image, its missing rows left blank; only the rows they
// reported tell a whole image from a part of one.
struct LoadCheck {
  bool refused = false;
  std::vector<bool> rowsFilled;
  size_t rowsLeft = 0;
};

void onSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  if (width > 0 && height > 0 &&
      withinDecodeBound({static_cast<uint32_t>(width), static_cast<uint32_t>(height)})) {
    return;
  }
  // A size of nothing tells the loader it is about to be closed and must not
  // allocate (the convention gdk_pixbuf_get_file_info relies on).
  static_cast<LoadCheck*>(data)->refused = true;
  gdk_pixbuf_loader_set_size(loader, 0, 0);
}

void onAreaUpdated(GdkPixbufLoader* loader, gint, gint y, gint, gint height, gpointer data) {
  auto* check = static_cast<LoadCheck*>(data);
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (!pixbuf || y < 0 || height <= 0) return;
  const int rows = gdk_pixbuf_get_height(pixbuf);
  if (check->rowsFilled.empty()) {
    try {
      check->rowsFilled.assign(static_cast<size_t>(rows), false);
    } catch (const std::bad_alloc&) {
      return;  // Nothing counted: the image is refused.
    }
    check->rowsLeft = static_cast<size_t>(rows);
  }
  for (int row = y; row < y + height && row < rows; ++row) {
    if (check->rowsFilled[static_cast<size_t>(row)]) continue;
    check->rowsFilled[static_cast<size_t>(row)] = true;
    --check->rowsLeft;
  }
}

// A pixbuf's pixels (8 bits per sample, RGB with or without a straight alpha,
// rows `rowstride` apart, the last one possibly shorter) as RGBA rows.
std::optional<DecodedImage> rgbaFromPixbuf(GdkPixbuf* pixbuf) {
  if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_bits_per_sample(pixbuf) != 8) {
    return std::nullopt;
  }
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
  if (width <= 0 || height <= 0 || channels != (alpha ? 4 : 3) || rowstride < width * channels ||
      !withinDecodeBound({static_cast<uint32_t>(width), static_cast<uint32_t>(height)})) {
    return std::nullopt;
  }
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  if (!pixels) return std::nullopt;
  DecodedImage image;
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(height);
  image.rgba.resize(size_t{image.width} * image.height * 4);
  uint8_t* out = image.rgba.data();
  for (int y = 0; y < height; ++y) {
    const guint8* in = pixels + static_cast<size_t>(y) * static_cast<size_t>(rowstride);
    for (int x = 0; x < width; ++x, in += channels, out += 4) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = alpha ? in[3] : 255;
    }
  }
  return image;
}

// Whether the loader's format draws frames that may cover part of the canvas
// only (GIF): its rows then need not all be reported, and the loader itself
// refuses a file that ends before its trailer.
bool framesItsCanvas(GdkPixbufLoader* loader) {
  GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
  if (!format) return false;
  gchar* name = gdk_pixbuf_format_get_name(format);
  const bool gif = name && g_strcmp0(name, "gif") == 0;
  g_free(name);
  return gif;
}

}  // namespace

std::optional<DecodedImage> decodeWithPixbuf(std::span<const uint8_t> data, bool* sizeRefused) {
  if (sizeRefused) *sizeRefused = false;
  if (data.empty()) return std::nullopt;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  LoadCheck check;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(onSizePrepared), &check);
  g_signal_connect(loader, "area-updated", G_CALLBACK(onAreaUpdated), &check);
  // Fed in pieces, so that a refusal stops the feeding early.
  constexpr size_t kPiece = size_t{1} << 20;
  bool fed = true;
  for (size_t at = 0; at < data.size() && fed && !check.refused; at += kPiece) {
    const size_t n = std::min(kPiece, data.size() - at);
    fed = gdk_pixbuf_loader_write(loader, data.data() + at, n, nullptr);
  }
  // A failed write has closed the loader already; otherwise it is closed
  // here, which also parses what is left (a refused load is just cancelled).
  const bool closed = fed && gdk_pixbuf_loader_close(loader, nullptr);
  std::optional<DecodedImage> image;
  if (closed && !check.refused && (check.rowsLeft == 0 || framesItsCanvas(loader)) &&
      !check.rowsFilled.empty()) {
    if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader)) {
      try {
        image = rgbaFromPixbuf(pixbuf);
      } catch (const std::bad_alloc&) {
        image.reset();
      }
    }
  }
  g_object_unref(loader);
  if (sizeRefused) *sizeRefused = check.refused;
  return image;
}

std::optional<DecodedImage> LinuxGraphics::decodeImage(std::span<const uint8_t> data) const {
  // The shared codec reads PNG and TIFF headers itself and keeps to the same
  // bound; whatever it cannot place goes to gdk-pixbuf.
  if (declaredImageSize(data)) return dravel::decodeImage(data);
  return decodeWithPixbuf(data);
}

std::unique_ptr<BitmapContext> LinuxGraphics::createBitmapContext(int64_t width, int64_t height,
                                                                  int bitsPerComponent,
                                                                  int64_t bytesPerRow,
                                                                  uint32_t bitmapInfo) {
  if (width <= 0 || height <= 0 || bitsPerComponent != 8 ||
      bitmapInfo != (kBitmapByteOrder32Little | kImageAlphaPremultipliedFirst)) {
    return nullptr;
  }
  int64_t rowBytes = 0;
  if (__builtin_mul_overflow(width, int64_t{4}, &rowBytes) || bytesPerRow != rowBytes) {
    return nullptr;
  }
  return std::make_unique<BgraContext>(width, height);
}

int64_t LinuxGraphics::windowLevelForKey(int key) {
  return key == kPopUpMenuWindowLevelKey ? 101 : 0;
}

}  // namespace dravel::linux_platform
