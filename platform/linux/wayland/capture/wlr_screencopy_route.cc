#include "platform/linux/wayland/capture/wlr_screencopy_route.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "wayland/wlr-screencopy-unstable-v1-client-protocol.h"
#include "wayland/xdg-output-unstable-v1-client-protocol.h"

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

using Clock = std::chrono::steady_clock;

// How long one capture may take, from the catch-up with the compositor's
// globals to the copied frame.
constexpr std::chrono::milliseconds kCaptureTimeout{5000};
// How long the factory waits for the compositor's globals.
constexpr std::chrono::milliseconds kConnectTimeout{2000};
// The longest single wait on the connection between polls of `cancelled`.
constexpr int kPollStepMs = 50;

struct Output {
  uint32_t globalName = 0;
  uint32_t version = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  // The connector name, from wl_output v4 or xdg_output v2.
  std::string name;
  // wl_output's position in the compositor's space and current mode.
  int32_t x = 0;
  int32_t y = 0;
  int32_t modeWidth = 0;
  int32_t modeHeight = 0;
  int32_t scale = 1;
  // xdg_output's logical rectangle, where the compositor offers it.
  bool hasLogicalPosition = false;
  bool hasLogicalSize = false;
  int32_t logicalX = 0;
  int32_t logicalY = 0;
  int32_t logicalWidth = 0;
  int32_t logicalHeight = 0;

  ~Output() {
    if (xdgOutput) zxdg_output_v1_destroy(xdgOutput);
    if (output) {
      if (version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output);
      } else {
        wl_output_destroy(output);
      }
    }
  }

  // The logical rectangle: xdg_output's, else one derived from wl_output.
  bool matches(const RouteMonitor& monitor) const {
    int64_t rx = x;
    int64_t ry = y;
    int64_t rw = scale > 0 ? modeWidth / scale : 0;
    int64_t rh = scale > 0 ? modeHeight / scale : 0;
    if (hasLogicalPosition) {
      rx = logicalX;
      ry = logicalY;
    }
    if (hasLogicalSize) {
      rw = logicalWidth;
      rh = logicalHeight;
    }
    return rx == monitor.x && ry == monitor.y && rw == monitor.width && rh == monitor.height;
  }

  std::string label() const {
    return name.empty() ? "wl_output " + std::to_string(globalName) : name;
  }
};

struct ShmSpec {
  uint32_t format = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  bool operator==(const ShmSpec&) const = default;
};

bool readableFormat(uint32_t format) {
  return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888 ||
         format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

// One frame's state, filled by the frame's events.
struct FrameState {
  std::vector<ShmSpec> shm;
  bool bufferDone = false;
  uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
           uint32_t stride) {
          auto* state = static_cast<FrameState*>(data);
          // A compositor gone wrong could flood us; a few are plenty.
          if (state->shm.size() < 16) state->shm.push_back({format, width, height, stride});
        },
    .flags = [](void* data, zwlr_screencopy_frame_v1*,
                uint32_t flags) { static_cast<FrameState*>(data)->flags = flags; },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t,
                uint32_t) { static_cast<FrameState*>(data)->ready = true; },
    .failed = [](void* data,
                 zwlr_screencopy_frame_v1*) { static_cast<FrameState*>(data)->failed = true; },
    .damage = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {},
    .buffer_done =
        [](void* data, zwlr_screencopy_frame_v1*) {
          static_cast<FrameState*>(data)->bufferDone = true;
        },
};

// A shared-memory buffer the compositor copies into.
class ShmBuffer {
 public:
  ~ShmBuffer() {
    if (buffer_) wl_buffer_destroy(buffer_);
    if (data_ != MAP_FAILED) munmap(data_, size_);
  }

  bool create(wl_shm* shm, const ShmSpec& spec, size_t size, std::string* error) {
    const int fd = memfd_create("dravel-screencopy", MFD_CLOEXEC);
    if (fd < 0) {
      *error = std::string("cannot make a shared-memory buffer: ") + std::strerror(errno);
      return false;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      *error = std::string("cannot size a shared-memory buffer: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    data_ = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data_ == MAP_FAILED) {
      *error = std::string("cannot map a shared-memory buffer: ") + std::strerror(errno);
      close(fd);
      return false;
    }
    size_ = size;
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(size));
    buffer_ = wl_shm_pool_create_buffer(pool, 0, static_cast<int32_t>(spec.width),
                                        static_cast<int32_t>(spec.height),
                                        static_cast<int32_t>(spec.stride), spec.format);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer_ != nullptr;
  }

  wl_buffer* buffer() const { return buffer_; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(data_); }
  size_t size() const { return size_; }

 private:
  wl_buffer* buffer_ = nullptr;
  void* data_ = MAP_FAILED;
  size_t size_ = 0;
};

class WlrScreencopyRoute : public CaptureRoute {
 public:
  explicit WlrScreencopyRoute(wl_display* display, std::string displayName)
      : display_(display), displayName_(std::move(displayName)) {}

  ~WlrScreencopyRoute() override {
    buffer_.reset();
    outputs_.clear();
    if (xdgOutputManager_) zxdg_output_manager_v1_destroy(xdgOutputManager_);
    if (manager_) zwlr_screencopy_manager_v1_destroy(manager_);
    if (shm_) wl_shm_destroy(shm_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
  }

  // Reads the compositor's globals; false with `why` when the route cannot
  // serve.
  bool start(std::string* why) {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    const Clock::time_point deadline = Clock::now() + kConnectTimeout;
    std::string error;
    if (!catchUp(deadline, nullptr, &error)) {
      *why = error;
      return false;
    }
    if (!manager_) {
      *why = "the compositor " + displayName_ + " does not offer zwlr_screencopy_manager_v1";
      return false;
    }
    if (!shm_) {
      *why = "the compositor " + displayName_ + " does not offer wl_shm";
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
    if (!lostMessage_.empty()) return unusable();
    const Clock::time_point deadline = Clock::now() + kCaptureTimeout;
    // Outputs added or removed since the last capture.
    if (!catchUp(deadline, &cancelled, &result.error)) {
      if (!lostMessage_.empty()) return unusable();
      return result;
    }
    if (!manager_ || !shm_) {
      lostMessage_ = "the compositor " + displayName_ + " withdrew " +
                     (manager_ ? "wl_shm" : "zwlr_screencopy_manager_v1");
      return unusable();
    }
    const Output* output = find(monitor);
    if (!output) {
      result.error = "no Wayland output of " + displayName_ + " is the monitor at " +
                     std::to_string(monitor.x) + "," + std::to_string(monitor.y) + " " +
                     std::to_string(monitor.width) + "x" + std::to_string(monitor.height) +
                     (monitor.name.empty() ? "" : " (" + monitor.name + ")");
      return result;
    }
    FrameState state;
    std::unique_ptr<zwlr_screencopy_frame_v1, void (*)(zwlr_screencopy_frame_v1*)> frame(
        zwlr_screencopy_manager_v1_capture_output(manager_, cursor ? 1 : 0, output->output),
        zwlr_screencopy_frame_v1_destroy);
    zwlr_screencopy_frame_v1_add_listener(frame.get(), &kFrameListener, &state);
    const std::string label = output->label();
    // From version 3 on, every buffer type is announced before buffer_done.
    const bool announcesDone = managerVersion_ >= 3;
    if (!waitFor(
            [&] { return state.failed || (announcesDone ? state.bufferDone : !state.shm.empty()); },
            deadline, cancelled, &result.error, "the buffer parameters of " + label)) {
      if (!lostMessage_.empty()) return unusable();
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
      if (!fresh->create(shm_, *spec, *size, &result.error)) return result;
      buffer_ = std::move(fresh);
      bufferSpec_ = *spec;
    }
    ShmBuffer& buffer = *buffer_;
    zwlr_screencopy_frame_v1_copy(frame.get(), buffer.buffer());
    if (!waitFor([&] { return state.ready || state.failed; }, deadline, cancelled, &result.error,
                 "the pixels of " + label)) {
      // The compositor may still write into it.
      buffer_.reset();
      if (!lostMessage_.empty()) return unusable();
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
  enum class Wait { kDone, kTimedOut, kCancelled, kLost };

  RouteResult unusable() const {
    RouteResult result;
    result.error = lostMessage_;
    result.unusable = true;
    return result;
  }

  void noteLost() {
    if (!lostMessage_.empty()) return;
    const int code = wl_display_get_error(display_);
    lostMessage_ = "lost the connection to the Wayland compositor " + displayName_;
    if (code == EPROTO) {
      const wl_interface* interface = nullptr;
      uint32_t id = 0;
      const uint32_t protocolCode = wl_display_get_protocol_error(display_, &interface, &id);
      lostMessage_ += ": protocol error " + std::to_string(protocolCode) + " on " +
                      (interface ? interface->name : "an object");
    } else if (code != 0) {
      lostMessage_ += std::string(": ") + std::strerror(code);
    }
  }

  // Dispatches the compositor's events until `done`, the deadline or a
  // cancel, never blocking longer than one poll step at a time.
  Wait wait(const std::function<bool()>& done, Clock::time_point deadline,
            const std::function<bool()>* cancelled) {
    const int fd = wl_display_get_fd(display_);
    for (;;) {
      if (wl_display_dispatch_pending(display_) < 0) {
        noteLost();
        return Wait::kLost;
      }
      if (done()) return Wait::kDone;
      if (cancelled && *cancelled && (*cancelled)()) return Wait::kCancelled;
      const auto remaining =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (remaining <= 0) return Wait::kTimedOut;
      while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
          noteLost();
          return Wait::kLost;
        }
      }
      pollfd entry{fd, POLLIN, 0};
      if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
          wl_display_cancel_read(display_);
          noteLost();
          return Wait::kLost;
        }
        entry.events |= POLLOUT;
      }
      const int ready =
          poll(&entry, 1, static_cast<int>(std::min<long long>(remaining, kPollStepMs)));
      if (ready < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        noteLost();
        return Wait::kLost;
      }
      if (ready > 0 && (entry.revents & POLLIN)) {
        if (wl_display_read_events(display_) < 0) {
          noteLost();
          return Wait::kLost;
        }
        continue;
      }
      wl_display_cancel_read(display_);
      if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        noteLost();
        return Wait::kLost;
      }
    }
  }

  // `wait` with the failure written into `error`.
  bool waitFor(const std::function<bool()>& done, Clock::time_point deadline,
               const std::function<bool()>& cancelled, std::string* error,
               const std::string& what) {
    switch (wait(done, deadline, &cancelled)) {
      case Wait::kDone:
        return true;
      case Wait::kTimedOut:
        *error = "the compositor " + displayName_ + " did not send " + what + " in time";
        return false;
      case Wait::kCancelled:
        *error = "the capture was cancelled";
        return false;
      case Wait::kLost:
        *error = lostMessage_;
        return false;
    }
    return false;
  }

  // Two bounded round trips: the first brings globals added or removed, the
  // second what the outputs bound in the first announce of themselves.
  bool catchUp(Clock::time_point deadline, const std::function<bool()>* cancelled,
               std::string* error) {
    for (int pass = 0; pass < 2; ++pass) {
      bool synced = false;
      wl_callback* callback = wl_display_sync(display_);
      static const wl_callback_listener kSyncListener = {
          .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
      wl_callback_add_listener(callback, &kSyncListener, &synced);
      const Wait outcome = wait([&] { return synced; }, deadline, cancelled);
      wl_callback_destroy(callback);
      switch (outcome) {
        case Wait::kDone:
          break;
        case Wait::kTimedOut:
          *error = "the compositor " + displayName_ + " did not answer in time";
          return false;
        case Wait::kCancelled:
          *error = "the capture was cancelled";
          return false;
        case Wait::kLost:
          *error = lostMessage_;
          return false;
      }
    }
    return true;
  }

  const Output* find(const RouteMonitor& monitor) const {
    if (!monitor.name.empty()) {
      for (const auto& output : outputs_) {
        if (output->name == monitor.name) return output.get();
      }
    }
    for (const auto& output : outputs_) {
      if (output->matches(monitor)) return output.get();
    }
    return nullptr;
  }

  void watchXdgOutput(Output& output) {
    if (!xdgOutputManager_ || output.xdgOutput) return;
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputManager_, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &kXdgOutputListener, &output);
  }

  void global(uint32_t globalName, const char* interface, uint32_t version) {
    if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 && !manager_) {
      managerVersion_ = std::min<uint32_t>(version, 3);
      managerName_ = globalName;
      manager_ = static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
          registry_, globalName, &zwlr_screencopy_manager_v1_interface, managerVersion_));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0 && !shm_) {
      (void)version;
      shmName_ = globalName;
      shm_ = static_cast<wl_shm*>(wl_registry_bind(registry_, globalName, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
               !xdgOutputManager_) {
      xdgOutputManager_ = static_cast<zxdg_output_manager_v1*>(
          wl_registry_bind(registry_, globalName, &zxdg_output_manager_v1_interface,
                           std::min<uint32_t>(version, 3)));
      for (auto& output : outputs_) watchXdgOutput(*output);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
      auto output = std::make_unique<Output>();
      output->globalName = globalName;
      output->version = std::min<uint32_t>(version, 4);
      output->output = static_cast<wl_output*>(
          wl_registry_bind(registry_, globalName, &wl_output_interface, output->version));
      wl_output_add_listener(output->output, &kOutputListener, output.get());
      watchXdgOutput(*output);
      outputs_.push_back(std::move(output));
    }
  }

  void globalRemove(uint32_t globalName) {
    if (manager_ && globalName == managerName_) {
      zwlr_screencopy_manager_v1_destroy(manager_);
      manager_ = nullptr;
    }
    if (shm_ && globalName == shmName_) {
      wl_shm_destroy(shm_);
      shm_ = nullptr;
    }
    std::erase_if(outputs_,
                  [globalName](const auto& output) { return output->globalName == globalName; });
  }

  static constexpr wl_registry_listener kRegistryListener = {
      .global =
          [](void* data, wl_registry*, uint32_t globalName, const char* interface,
             uint32_t version) {
            static_cast<WlrScreencopyRoute*>(data)->global(globalName, interface, version);
          },
      .global_remove =
          [](void* data, wl_registry*, uint32_t globalName) {
            static_cast<WlrScreencopyRoute*>(data)->globalRemove(globalName);
          },
  };

  static constexpr wl_output_listener kOutputListener = {
      .geometry =
          [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
             const char*, int32_t) {
            auto* output = static_cast<Output*>(data);
            output->x = x;
            output->y = y;
          },
      .mode =
          [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
            if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
            auto* output = static_cast<Output*>(data);
            output->modeWidth = width;
            output->modeHeight = height;
          },
      .done = [](void*, wl_output*) {},
      .scale = [](void* data, wl_output*,
                  int32_t factor) { static_cast<Output*>(data)->scale = factor > 0 ? factor : 1; },
      .name = [](void* data, wl_output*,
                 const char* name) { static_cast<Output*>(data)->name = name ? name : ""; },
      .description = [](void*, wl_output*, const char*) {},
  };

  static constexpr zxdg_output_v1_listener kXdgOutputListener = {
      .logical_position =
          [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
            auto* output = static_cast<Output*>(data);
            output->logicalX = x;
            output->logicalY = y;
            output->hasLogicalPosition = true;
          },
      .logical_size =
          [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
            auto* output = static_cast<Output*>(data);
            output->logicalWidth = width;
            output->logicalHeight = height;
            output->hasLogicalSize = true;
          },
      .done = [](void*, zxdg_output_v1*) {},
      .name =
          [](void* data, zxdg_output_v1*, const char* name) {
            // wl_output v4 says the same; it wins where both do.
            auto* output = static_cast<Output*>(data);
            if (output->name.empty() && name) output->name = name;
          },
      .description = [](void*, zxdg_output_v1*, const char*) {},
  };

  wl_display* display_;
  std::string displayName_;
  wl_registry* registry_ = nullptr;
  zwlr_screencopy_manager_v1* manager_ = nullptr;
  uint32_t managerName_ = 0;
  uint32_t managerVersion_ = 0;
  wl_shm* shm_ = nullptr;
  uint32_t shmName_ = 0;
  zxdg_output_manager_v1* xdgOutputManager_ = nullptr;
  std::vector<std::unique_ptr<Output>> outputs_;
  // Set once the connection is gone: every later capture is refused.
  std::string lostMessage_;
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
