// The PipeWire stream of a screen cast: a thread loop of its own per stream,
// the remote reached through the fd the portal handed over, raw video in any
// 32-bit screen format, buffers in shared memory (MemFd, MemPtr) only.
#include "platform/linux/wayland/capture/pipewire_stream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "channels/log.h"
#include "platform/linux/wayland/capture/pipewire_frame.h"

namespace dravel::linux_platform {
namespace {

std::optional<FrameLayout> layoutOf(uint32_t format) {
  switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
      return FrameLayout::kBGRx;
    case SPA_VIDEO_FORMAT_BGRA:
      return FrameLayout::kBGRA;
    case SPA_VIDEO_FORMAT_RGBx:
      return FrameLayout::kRGBx;
    case SPA_VIDEO_FORMAT_RGBA:
      return FrameLayout::kRGBA;
    case SPA_VIDEO_FORMAT_xRGB:
      return FrameLayout::kxRGB;
    case SPA_VIDEO_FORMAT_xBGR:
      return FrameLayout::kxBGR;
    case SPA_VIDEO_FORMAT_ARGB:
      return FrameLayout::kARGB;
    case SPA_VIDEO_FORMAT_ABGR:
      return FrameLayout::kABGR;
    default:
      return std::nullopt;
  }
}

FrameMemory memoryOf(uint32_t type) {
  switch (type) {
    case SPA_DATA_MemPtr:
      return FrameMemory::kMemPtr;
    case SPA_DATA_MemFd:
      return FrameMemory::kMemFd;
    case SPA_DATA_DmaBuf:
      return FrameMemory::kDmaBuf;
    default:
      return FrameMemory::kOther;
  }
}

// The formats offered: every 32-bit layout a screen cast sends, any size.
const spa_pod* enumFormat(spa_pod_builder* b) {
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_prop(b, SPA_FORMAT_mediaType, 0);
  spa_pod_builder_id(b, SPA_MEDIA_TYPE_video);
  spa_pod_builder_prop(b, SPA_FORMAT_mediaSubtype, 0);
  spa_pod_builder_id(b, SPA_MEDIA_SUBTYPE_raw);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_format, 0);
  spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Enum, 0);
  const uint32_t formats[] = {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                              SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                              SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_ABGR};
  for (uint32_t f : formats) spa_pod_builder_id(b, f);
  spa_pod_builder_pop(b, &choice);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_size, 0);
  spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Range, 0);
  spa_pod_builder_rectangle(b, 1920, 1080);
  spa_pod_builder_rectangle(b, 1, 1);
  spa_pod_builder_rectangle(b, kMaxFrameSide, kMaxFrameSide);
  spa_pod_builder_pop(b, &choice);
  spa_pod_builder_prop(b, SPA_FORMAT_VIDEO_framerate, 0);
  spa_pod_builder_push_choice(b, &choice, SPA_CHOICE_Range, 0);
  spa_pod_builder_fraction(b, 0, 1);
  spa_pod_builder_fraction(b, 0, 1);
  spa_pod_builder_fraction(b, 1000, 1);
  spa_pod_builder_pop(b, &choice);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
}

// Buffers in memory the host can read: MemFd or MemPtr, one plane.
const spa_pod* buffersParam(spa_pod_builder* b) {
  spa_pod_frame object;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
  spa_pod_builder_prop(b, SPA_PARAM_BUFFERS_blocks, 0);
  spa_pod_builder_int(b, 1);
  spa_pod_builder_prop(b, SPA_PARAM_BUFFERS_dataType, 0);
  spa_pod_builder_int(b, (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr));
  return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
}

// The crop region, where the producer says what part holds the picture.
const spa_pod* cropMeta(spa_pod_builder* b) {
  spa_pod_frame object;
  spa_pod_builder_push_object(b, &object, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
  spa_pod_builder_prop(b, SPA_PARAM_META_type, 0);
  spa_pod_builder_id(b, SPA_META_VideoCrop);
  spa_pod_builder_prop(b, SPA_PARAM_META_size, 0);
  spa_pod_builder_int(b, sizeof(spa_meta_region));
  return static_cast<const spa_pod*>(spa_pod_builder_pop(b, &object));
}

class ThreadLoopStream final : public PipeWireStream {
 public:
  ~ThreadLoopStream() override {
    if (loop_) {
      pw_thread_loop_lock(loop_);
      if (stream_) pw_stream_destroy(stream_);
      if (core_) pw_core_disconnect(core_);
      pw_thread_loop_unlock(loop_);
      pw_thread_loop_stop(loop_);
    }
    if (context_) pw_context_destroy(context_);
    if (loop_) pw_thread_loop_destroy(loop_);
  }

  bool start(int fd, uint32_t nodeId, std::string* why) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    loop_ = pw_thread_loop_new("dravel-cast", nullptr);
    if (!loop_) return fail(fd, why, "cannot make PipeWire's loop");
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (!context_) return fail(fd, why, "cannot make a PipeWire context");
    if (pw_thread_loop_start(loop_) < 0) return fail(fd, why, "cannot start PipeWire's loop");
    pw_thread_loop_lock(loop_);
    // The core owns the fd from here on, connected or not.
    core_ = pw_context_connect_fd(context_, fd, nullptr, 0);
    if (!core_) {
      pw_thread_loop_unlock(loop_);
      if (why) *why = "cannot reach PipeWire through the screen cast's remote";
      return false;
    }
    static const pw_core_events coreEvents = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = [](void* self, uint32_t id, int, int res, const char* message) {
        if (id == PW_ID_CORE) static_cast<ThreadLoopStream*>(self)->markFailed(message, res);
      };
      return e;
    }();
    pw_core_add_listener(core_, &coreListener_, &coreEvents, this);
    stream_ = pw_stream_new(core_, "dravel-screen",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                              "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!stream_) {
      pw_thread_loop_unlock(loop_);
      if (why) *why = "cannot make a PipeWire stream";
      return false;
    }
    static const pw_stream_events streamEvents = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char* error) {
        auto* s = static_cast<ThreadLoopStream*>(self);
        if (state == PW_STREAM_STATE_ERROR) s->markFailed(error, 0);
        if (state == PW_STREAM_STATE_STREAMING) s->streaming_ = true;
        // A stream that ran and is no longer connected lost its node.
        if (state == PW_STREAM_STATE_UNCONNECTED && s->streaming_) {
          s->markFailed("the screen cast ended", 0);
        }
      };
      e.param_changed = [](void* self, uint32_t id, const spa_pod* param) {
        static_cast<ThreadLoopStream*>(self)->formatChanged(id, param);
      };
      e.process = [](void* self) { static_cast<ThreadLoopStream*>(self)->process(); };
      return e;
    }();
    pw_stream_add_listener(stream_, &streamListener_, &streamEvents, this);
    uint8_t storage[1024];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    const spa_pod* params[] = {enumFormat(&b)};
    const int connected = pw_stream_connect(
        stream_, PW_DIRECTION_INPUT, nodeId,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    pw_thread_loop_unlock(loop_);
    if (connected < 0) {
      if (why) *why = "cannot connect to the screen cast's node " + std::to_string(nodeId);
      return false;
    }
    return true;
  }

  CapturedImagePtr latestFrame(std::chrono::milliseconds timeout,
                               const std::function<bool()>& cancelled, std::string* why) override {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      if (latest_) return latest_;
      if (failed_) {
        if (why) *why = "the screen cast failed: " + failure_;
        return nullptr;
      }
      if (cancelled && cancelled()) {
        if (why) *why = "cancelled";
        return nullptr;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        if (why) {
          *why = "the screen cast sent no frame within " + std::to_string(timeout.count()) + " ms" +
                 (lastRefusal_.empty() ? "" : " (last refused: " + lastRefusal_ + ")");
        }
        return nullptr;
      }
      arrived_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                  deadline - now, std::chrono::milliseconds(50)));
    }
  }

  bool failed() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

 private:
  bool fail(int fd, std::string* why, const char* reason) {
    close(fd);
    if (why) *why = reason;
    return false;
  }

  // On the loop's thread.
  void markFailed(const char* message, int res) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) return;
    failed_ = true;
    failure_ = message && *message ? message : "error " + std::to_string(res);
    arrived_.notify_all();
  }

  // On the loop's thread: the format agreed; ask for readable buffers.
  void formatChanged(uint32_t id, const spa_pod* param) {
    if (id != SPA_PARAM_Format || !param) return;
    spa_video_info_raw info{};
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(param, &info) < 0) {
      markFailed("the screen cast's format is not raw video", 0);
      return;
    }
    const std::optional<FrameLayout> layout = layoutOf(info.format);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!layout) {
        lastRefusal_ = "pixel format " + std::to_string(info.format);
        format_.reset();
      } else {
        format_ = FrameFormat{*layout, info.size.width, info.size.height};
      }
      // A frame of the old format no longer shows the screen as it is.
      latest_.reset();
    }
    uint8_t storage[512];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, storage, sizeof storage);
    const spa_pod* params[] = {buffersParam(&b), cropMeta(&b)};
    pw_stream_update_params(stream_, params, 2);
  }

  // On the loop's thread: keep the newest buffer's frame.
  void process() {
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(stream_)) {
      if (newest) pw_stream_queue_buffer(stream_, newest);
      newest = next;
    }
    if (!newest) return;
    std::optional<FrameFormat> format;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      format = format_;
    }
    spa_buffer* buffer = newest->buffer;
    std::string why;
    CapturedImagePtr image;
    if (!format) {
      why = "no agreed format";
    } else if (!buffer || buffer->n_datas < 1 || !buffer->datas || !buffer->datas[0].chunk) {
      why = "a buffer without data";
    } else {
      const spa_data& d = buffer->datas[0];
      FrameBuffer frame;
      frame.data = static_cast<const uint8_t*>(d.data);
      frame.mappedSize = d.maxsize;
      frame.memory = memoryOf(d.type);
      frame.chunkOffset = d.chunk->offset;
      frame.chunkSize = d.chunk->size;
      frame.chunkStride = d.chunk->stride;
      frame.corrupted = (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0;
      if (auto* region = static_cast<spa_meta_region*>(
              spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
          region && spa_meta_region_is_valid(region)) {
        frame.hasCrop = true;
        frame.crop = {region->region.position.x, region->region.position.y,
                      region->region.size.width, region->region.size.height};
      }
      image = readFrame(*format, frame, &why);
    }
    pw_stream_queue_buffer(stream_, newest);
    std::lock_guard<std::mutex> lock(mutex_);
    if (image) {
      latest_ = std::move(image);
      arrived_.notify_all();
    } else if (why != "no picture in the frame") {
      if (lastRefusal_ != why) NSLog("[capture] screen cast frame refused: %s", why.c_str());
      lastRefusal_ = why;
    }
  }

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  spa_hook coreListener_{};
  spa_hook streamListener_{};
  bool streaming_ = false;  // the loop's thread only

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::optional<FrameFormat> format_;
  CapturedImagePtr latest_;
  bool failed_ = false;
  std::string failure_;
  std::string lastRefusal_;
};

}  // namespace

std::unique_ptr<PipeWireStream> PipeWireStream::open(int fd, uint32_t nodeId, std::string* why) {
  if (fd < 0) {
    if (why) *why = "no PipeWire remote was handed over";
    return nullptr;
  }
  auto stream = std::make_unique<ThreadLoopStream>();
  if (!stream->start(fd, nodeId, why)) return nullptr;
  return stream;
}

}  // namespace dravel::linux_platform
