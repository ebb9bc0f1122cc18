#include "platform/linux/wayland/capture/wlr_screencopy_connection.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dravel::linux_platform {
namespace {

// The longest single wait on the connection between polls of `cancelled`.
constexpr int kPollStepMs = 50;

constexpr wl_output_listener kOutputListener = {
    .geometry =
        [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
           const char*, int32_t) {
          auto* output = static_cast<ScreencopyOutput*>(data);
          output->x = x;
          output->y = y;
        },
    .mode =
        [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
          if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
          auto* output = static_cast<ScreencopyOutput*>(data);
          output->modeWidth = width;
          output->modeHeight = height;
        },
    .done = [](void*, wl_output*) {},
    .scale =
        [](void* data, wl_output*, int32_t factor) {
          static_cast<ScreencopyOutput*>(data)->scale = factor > 0 ? factor : 1;
        },
    .name = [](void* data, wl_output*,
               const char* name) { static_cast<ScreencopyOutput*>(data)->name = name ? name : ""; },
    .description = [](void*, wl_output*, const char*) {},
};

constexpr zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position =
        [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
          auto* output = static_cast<ScreencopyOutput*>(data);
          output->logicalX = x;
          output->logicalY = y;
          output->hasLogicalPosition = true;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
          auto* output = static_cast<ScreencopyOutput*>(data);
          output->logicalWidth = width;
          output->logicalHeight = height;
          output->hasLogicalSize = true;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name =
        [](void* data, zxdg_output_v1*, const char* name) {
          // wl_output v4 says the same; it wins where both do.
          auto* output = static_cast<ScreencopyOutput*>(data);
          if (output->name.empty() && name) output->name = name;
        },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

}  // namespace

ScreencopyOutput::~ScreencopyOutput() {
  if (xdgOutput) zxdg_output_v1_destroy(xdgOutput);
  if (output) {
    if (version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
      wl_output_release(output);
    } else {
      wl_output_destroy(output);
    }
  }
}

bool readableFormat(uint32_t format) {
  return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888 ||
         format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

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

ShmBuffer::~ShmBuffer() {
  if (buffer_) wl_buffer_destroy(buffer_);
  if (data_ != MAP_FAILED) munmap(data_, size_);
}

bool ShmBuffer::create(wl_shm* shm, const ShmSpec& spec, size_t size, std::string* error) {
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

ScreencopyConnection::~ScreencopyConnection() {
  outputs_.clear();
  if (xdgOutputManager_) zxdg_output_manager_v1_destroy(xdgOutputManager_);
  if (manager_) zwlr_screencopy_manager_v1_destroy(manager_);
  if (shm_) wl_shm_destroy(shm_);
  if (registry_) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

void ScreencopyConnection::listen() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
}

void ScreencopyConnection::noteLost() {
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

ScreencopyConnection::Wait ScreencopyConnection::wait(const std::function<bool()>& done,
                                                      Clock::time_point deadline,
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

bool ScreencopyConnection::waitFor(const std::function<bool()>& done, Clock::time_point deadline,
                                   const std::function<bool()>& cancelled, std::string* error,
                                   const std::string& what) {
  return report(wait(done, deadline, &cancelled), error, "did not send " + what);
}

bool ScreencopyConnection::report(Wait outcome, std::string* error, const std::string& late) const {
  switch (outcome) {
    case Wait::kDone:
      return true;
    case Wait::kTimedOut:
      *error = "the compositor " + displayName_ + " " + late + " in time";
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

bool ScreencopyConnection::catchUp(Clock::time_point deadline,
                                   const std::function<bool()>* cancelled, std::string* error) {
  for (int pass = 0; pass < 2; ++pass) {
    bool synced = false;
    wl_callback* callback = wl_display_sync(display_);
    static const wl_callback_listener kSyncListener = {
        .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback_add_listener(callback, &kSyncListener, &synced);
    const Wait outcome = wait([&] { return synced; }, deadline, cancelled);
    wl_callback_destroy(callback);
    if (!report(outcome, error, "did not answer")) return false;
  }
  return true;
}

void ScreencopyConnection::watchXdgOutput(ScreencopyOutput& output) {
  if (!xdgOutputManager_ || output.xdgOutput) return;
  output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(xdgOutputManager_, output.output);
  zxdg_output_v1_add_listener(output.xdgOutput, &kXdgOutputListener, &output);
}

void ScreencopyConnection::global(uint32_t globalName, const char* interface, uint32_t version) {
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
    xdgOutputManager_ = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
        registry_, globalName, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 3)));
    for (auto& output : outputs_) watchXdgOutput(*output);
  } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
    auto output = std::make_unique<ScreencopyOutput>();
    output->globalName = globalName;
    output->version = std::min<uint32_t>(version, 4);
    output->output = static_cast<wl_output*>(
        wl_registry_bind(registry_, globalName, &wl_output_interface, output->version));
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    watchXdgOutput(*output);
    outputs_.push_back(std::move(output));
  }
}

void ScreencopyConnection::globalRemove(uint32_t globalName) {
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

const wl_registry_listener ScreencopyConnection::kRegistryListener = {
    .global =
        [](void* data, wl_registry*, uint32_t globalName, const char* interface, uint32_t version) {
          static_cast<ScreencopyConnection*>(data)->global(globalName, interface, version);
        },
    .global_remove =
        [](void* data, wl_registry*, uint32_t globalName) {
          static_cast<ScreencopyConnection*>(data)->globalRemove(globalName);
        },
};

}  // namespace dravel::linux_platform
