// The Wayland side of the wlroots screencopy route: the route's own
// connection to the compositor, with the globals it binds (the screencopy
// manager, wl_shm, the xdg output manager) and the outputs, kept current from
// the registry; bounded waits on the compositor's events; a frame's events;
// and the shared-memory buffer the compositor copies into.
#pragma once

#include <sys/mman.h>
#include <wayland-client.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "wayland/wlr-screencopy-unstable-v1-client-protocol.h"
#include "wayland/xdg-output-unstable-v1-client-protocol.h"

namespace dravel::linux_platform {

// An output of the compositor, as wl_output and xdg_output describe it.
struct ScreencopyOutput {
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

  ~ScreencopyOutput();

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

bool readableFormat(uint32_t format);

// One frame's state, filled by the frame's events (kFrameListener).
struct FrameState {
  std::vector<ShmSpec> shm;
  bool bufferDone = false;
  uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

extern const zwlr_screencopy_frame_v1_listener kFrameListener;

// A shared-memory buffer the compositor copies into.
class ShmBuffer {
 public:
  ~ShmBuffer();

  bool create(wl_shm* shm, const ShmSpec& spec, size_t size, std::string* error);

  wl_buffer* buffer() const { return buffer_; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(data_); }
  size_t size() const { return size_; }

 private:
  wl_buffer* buffer_ = nullptr;
  void* data_ = MAP_FAILED;
  size_t size_ = 0;
};

// The connection to the compositor `displayName` names, with the globals and
// outputs its registry announces. Made, used and destroyed on one thread.
class ScreencopyConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // Takes `display`.
  ScreencopyConnection(wl_display* display, std::string displayName)
      : display_(display), displayName_(std::move(displayName)) {}
  ~ScreencopyConnection();
  ScreencopyConnection(const ScreencopyConnection&) = delete;
  ScreencopyConnection& operator=(const ScreencopyConnection&) = delete;

  // Starts following the compositor's globals; `catchUp` brings them.
  void listen();

  // Dispatches the compositor's events until `done`, the deadline or a
  // cancel; false with the failure written into `error`.
  bool waitFor(const std::function<bool()>& done, Clock::time_point deadline,
               const std::function<bool()>& cancelled, std::string* error, const std::string& what);

  // Two bounded round trips: the first brings globals added or removed, the
  // second what the outputs bound in the first announce of themselves.
  bool catchUp(Clock::time_point deadline, const std::function<bool()>* cancelled,
               std::string* error);

  // Set once the connection is gone: every later capture is refused.
  const std::string& lostMessage() const { return lostMessage_; }
  void setLost(std::string message) { lostMessage_ = std::move(message); }

  const std::string& displayName() const { return displayName_; }
  zwlr_screencopy_manager_v1* manager() const { return manager_; }
  uint32_t managerVersion() const { return managerVersion_; }
  wl_shm* shm() const { return shm_; }
  const std::vector<std::unique_ptr<ScreencopyOutput>>& outputs() const { return outputs_; }

 private:
  enum class Wait { kDone, kTimedOut, kCancelled, kLost };

  // Dispatches the compositor's events until `done`, the deadline or a
  // cancel, never blocking longer than one poll step at a time.
  Wait wait(const std::function<bool()>& done, Clock::time_point deadline,
            const std::function<bool()>* cancelled);

  void noteLost();
  // True for kDone; else false, with the failure in `error` (`late`: what
  // the compositor did not do in time).
  bool report(Wait outcome, std::string* error, const std::string& late) const;
  void watchXdgOutput(ScreencopyOutput& output);
  void global(uint32_t globalName, const char* interface, uint32_t version);
  void globalRemove(uint32_t globalName);

  static const wl_registry_listener kRegistryListener;

  wl_display* display_;
  std::string displayName_;
  wl_registry* registry_ = nullptr;
  zwlr_screencopy_manager_v1* manager_ = nullptr;
  uint32_t managerName_ = 0;
  uint32_t managerVersion_ = 0;
  wl_shm* shm_ = nullptr;
  uint32_t shmName_ = 0;
  zxdg_output_manager_v1* xdgOutputManager_ = nullptr;
  std::vector<std::unique_ptr<ScreencopyOutput>> outputs_;
  std::string lostMessage_;
};

}  // namespace dravel::linux_platform
