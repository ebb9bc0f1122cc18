#include "platform/linux/wayland/capture/wlr_screencopy_route.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/linux/wayland/capture/wlr_screencopy_connection.h"

namespace dravel::linux_platform {

std::optional<size_t> screencopyBufferSize(uint32_t width, uint32_t height, uint32_t stride) {
  if (width == 0 || height == 0) return std::nullopt;
  if (uint64_t{stride} < uint64_t{width} * 4) return std::nullopt;
  const uint64_t size = uint64_t{stride} * height;
  // wl_shm pools and buffers take their sizes as int32.
  if (size > static_cast<uint64_t>(INT32_MAX)) return std::nullopt;
  return static_cast<size_t>(size);
}

CapturedImagePtr screencopyImage(const uint8_t* data, size_t size, uint32_t format, uint32_t width,
                                 uint32_t height, uint32_t stride, bool yInvert,
                                 std::string* error) {
  auto fail = [error](std::string message) -> CapturedImagePtr {
    if (error) *error = std::move(message);
    return nullptr;
  };
  bool swapRedBlue = false;
  switch (format) {
    case WL_SHM_FORMAT_XRGB8888:
    case WL_SHM_FORMAT_ARGB8888:
      break;
    case WL_SHM_FORMAT_XBGR8888:
    case WL_SHM_FORMAT_ABGR8888:
      swapRedBlue = true;
      break;
    default: {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08x", format);
      return fail(std::string("the compositor copies the screen only in pixel format ") + code +
                  ", which the host cannot read");
    }
  }
  const std::optional<size_t> needed = screencopyBufferSize(width, height, stride);
  if (!needed || !data || size < *needed) {
    return fail("the compositor's buffer parameters (" + std::to_string(width) + "x" +
                std::to_string(height) + ", stride " + std::to_string(stride) +
                ") do not fit the buffer");
  }
  const size_t rowBytes = size_t{width} * 4;
  const size_t total = rowBytes * height;
  if (!canAllocate(total)) return fail("not enough memory for the captured image");
  auto image = std::make_shared<CapturedImage>();
  image->width = width;
  image->height = height;
  image->bytesPerRow = static_cast<int64_t>(rowBytes);
  // The reply's own layout, in this one pass: every pixel opaque.
  image->format = PixelFormat::kBGRAPremultiplied;
  try {
    image->pixels.resize(total);
  } catch (const std::bad_alloc&) {
    return fail("not enough memory for the captured image");
  }
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t sourceRow = yInvert ? height - 1 - row : row;
    const uint8_t* source = data + size_t{sourceRow} * stride;
    uint8_t* target = image->pixels.data() + size_t{row} * rowBytes;
    if (!swapRedBlue) {
      copyAsOpaqueBgra(source, target, width);
      continue;
    }
    // In memory: red, green, blue, then alpha or nothing.
    for (size_t i = 0; i < rowBytes; i += 4) {
      target[i] = source[i + 2];
      target[i + 1] = source[i + 1];
      target[i + 2] = source[i];
      target[i + 3] = 0xFF;
    }
  }
  return image;
}

namespace {

using Clock = ScreencopyConnection::Clock;

// How long one capture may take, from the catch-up with the compositor's
// globals to the copied frame.
constexpr std::chrono::milliseconds kCaptureTimeout{5000};
// How long the factory waits for the compositor's globals.
constexpr std::chrono::milliseconds kConnectTimeout{2000};

// The logical rectangle: xdg_output's, else one derived from wl_output.
bool matches(const ScreencopyOutput& output, const RouteMonitor& monitor) {
  int64_t rx = output.x;
  int64_t ry = output.y;
  int64_t rw = output.scale > 0 ? output.modeWidth / output.scale : 0;
  int64_t rh = output.scale > 0 ? output.modeHeight / output.scale : 0;
  if (output.hasLogicalPosition) {
    rx = output.logicalX;
    ry = output.logicalY;
  }
  if (output.hasLogicalSize) {
    rw = output.logicalWidth;
    rh = output.logicalHeight;
  }
  return rx == monitor.x && ry == monitor.y && rw == monitor.width && rh == monitor.height;
}

class WlrScreencopyRoute : public CaptureRoute {
 public:
  explicit WlrScreencopyRoute(wl_display* display, std::string displayName)
      : connection_(display, std::move(displayName)) {}

  ~WlrScreencopyRoute() override { buffer_.reset(); }

  // Reads the compositor's globals; false with `why` when the route cannot
  // serve.
  bool start(std::string* why) {
    connection_.listen();
    const Clock::time_point deadline = Clock::now() + kConnectTimeout;
    std::string error;
    if (!connection_.catchUp(deadline, nullptr, &error)) {
      *why = error;
      return false;
    }
    if (!connection_.manager()) {
      *why = "the compositor " + connection_.displayName() +
             " does not offer zwlr_screencopy_manager_v1";
      return false;
    }
    if (!connection_.shm()) {
      *why = "the compositor " + connection_.displayName() + " does not offer wl_shm";
      return false;
    }
    return true;
  }

  std::string name() const override { return "wlr-screencopy"; }
  bool granted() const override { return true; }
  std::chrono::milliseconds keepsOpenFor() const override { return std::chrono::seconds(5); }
  void closeIdle() override { buffer_.reset(); }

  RouteResult capture(const RouteMonitor& monitor, const RouteLayout&, bool cursor,
                      const std::function<bool()>& cancelled) override {
    RouteResult result;
    if (!connection_.lostMessage().empty()) return unusable();
    const Clock::time_point deadline = Clock::now() + kCaptureTimeout;
    // Outputs added or removed since the last capture.
    if (!connection_.catchUp(deadline, &cancelled, &result.error)) {
      if (!connection_.lostMessage().empty()) return unusable();
      return result;
    }
    if (!connection_.manager() || !connection_.shm()) {
      connection_.setLost("the compositor " + connection_.displayName() + " withdrew " +
                          (connection_.manager() ? "wl_shm" : "zwlr_screencopy_manager_v1"));
      return unusable();
    }
    const ScreencopyOutput* output = find(monitor);
    if (!output) {
      result.error = "no Wayland output of " + connection_.displayName() + " is the monitor at " +
                     std::to_string(monitor.x) + "," + std::to_string(monitor.y) + " " +
                     std::to_string(monitor.width) + "x" + std::to_string(monitor.height) +
                     (monitor.name.empty() ? "" : " (" + monitor.name + ")");
      return result;
    }
    FrameState state;
    std::unique_ptr<zwlr_screencopy_frame_v1, void (*)(zwlr_screencopy_frame_v1*)> frame(
        zwlr_screencopy_manager_v1_capture_output(connection_.manager(), cursor ? 1 : 0,
                                                  output->output),
        zwlr_screencopy_frame_v1_destroy);
    zwlr_screencopy_frame_v1_add_listener(frame.get(), &kFrameListener, &state);
    const std::string label = output->label();
    // From version 3 on, every buffer type is announced before buffer_done.
    const bool announcesDone = connection_.managerVersion() >= 3;
    if (!connection_.waitFor(
            [&] { return state.failed || (announcesDone ? state.bufferDone : !state.shm.empty()); },
            deadline, cancelled, &result.error, "the buffer parameters of " + label)) {
      if (!connection_.lostMessage().empty()) return unusable();
      return result;
    }
    if (state.failed) {
      result.error = "the compositor could not copy output " + label;
      return result;
    }
    const ShmSpec* spec = nullptr;
    for (const ShmSpec& offered : state.shm) {
      if (readableFormat(offered.format)) {
        spec = &offered;
        break;
      }
    }
    if (!spec) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08x", state.shm.empty() ? 0u : state.shm[0].format);
      result.error = state.shm.empty()
                         ? "the compositor offers no shared-memory buffer for output " + label
                         : "the compositor copies output " + label + " only in pixel format " +
                               code + ", which the host cannot read";
      return result;
    }
    const std::optional<size_t> size =
        screencopyBufferSize(spec->width, spec->height, spec->stride);
    if (!size) {
      result.error = "the compositor asks for an unusable buffer for output " + label + " (" +
                     std::to_string(spec->width) + "x" + std::to_string(spec->height) +
                     ", stride " + std::to_string(spec->stride) + ")";
      return result;
    }
    // The buffer of the last capture serves again when the parameters are
    // the same: neither side maps and faults in fresh memory then.
    if (!buffer_ || !(bufferSpec_ == *spec)) {
      buffer_.reset();
      auto fresh = std::make_unique<ShmBuffer>();
      if (!fresh->create(connection_.shm(), *spec, *size, &result.error)) return result;
      buffer_ = std::move(fresh);
      bufferSpec_ = *spec;
    }
    ShmBuffer& buffer = *buffer_;
    zwlr_screencopy_frame_v1_copy(frame.get(), buffer.buffer());
    if (!connection_.waitFor([&] { return state.ready || state.failed; }, deadline, cancelled,
                             &result.error, "the pixels of " + label)) {
      // The compositor may still write into it.
      buffer_.reset();
      if (!connection_.lostMessage().empty()) return unusable();
      return result;
    }
    if (state.failed) {
      buffer_.reset();
      result.error = "the compositor could not copy output " + label;
      return result;
    }
    result.image = screencopyImage(
        buffer.data(), buffer.size(), spec->format, spec->width, spec->height, spec->stride,
        (state.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0, &result.error);
    return result;
  }

 private:
  RouteResult unusable() const {
    RouteResult result;
    result.error = connection_.lostMessage();
    result.unusable = true;
    return result;
  }

  const ScreencopyOutput* find(const RouteMonitor& monitor) const {
    if (!monitor.name.empty()) {
      for (const auto& output : connection_.outputs()) {
        if (output->name == monitor.name) return output.get();
      }
    }
    for (const auto& output : connection_.outputs()) {
      if (matches(*output, monitor)) return output.get();
    }
    return nullptr;
  }

  ScreencopyConnection connection_;
  // The last capture's buffer, kept while captures come.
  std::unique_ptr<ShmBuffer> buffer_;
  ShmSpec bufferSpec_;
};

}  // namespace

CaptureRoutePtr makeScreencopyRoute(std::string* why) {
  std::string ignored;
  if (!why) why = &ignored;
  const char* variable = std::getenv("WAYLAND_DISPLAY");
  const std::string displayName = variable && *variable ? variable : "wayland-0";
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    *why = "cannot connect to the Wayland compositor " + displayName + ": " + std::strerror(errno);
    return nullptr;
  }
  auto route = std::make_unique<WlrScreencopyRoute>(display, displayName);
  if (!route->start(why)) return nullptr;
  return route;
}

}  // namespace dravel::linux_platform
