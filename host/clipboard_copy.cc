#include "host/clipboard_copy.h"

#include <malloc.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>

#include "channels/main_queue.h"
#include "platform/seam/platform.h"
#include "platform/shared/image_codec.h"
#include "platform/shared/png_check.h"

namespace dravel {
namespace {

// Gives the memory freed by a large decode back to the system: glibc keeps
// freed memory in its arenas (one per thread that allocated), where it would
// stay counted against the host.
void returnFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// The clipboard copies: decoded and encoded one at a time, in the order they
// were asked, on a thread of their own that lives while there is work. Each
// job hands its outcome to the main queue, so answers and clipboard writes
// happen on the main thread in the same order; a later copy is never
// overwritten by an earlier, slower one.
class CopyLane {
 public:
  using Job = std::function<void()>;

  // Main thread. False when the lane was abandoned.
  bool post(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    jobs_.push_back(std::move(job));
    if (running_) return true;
    running_ = true;
    try {
      std::thread([self = self_.lock()] { self->drain(); }).detach();
    } catch (const std::system_error&) {
      // No thread to be had: the jobs run on a later turn of the main loop
      // instead, still in order (the lane counts as running until then).
      mainQueue().async([self = self_.lock()] { self->drain(); });
    }
    return true;
  }

  // From the lane's jobs: hands `task` to the main queue unless the lane was
  // abandoned. Done under the lane's lock, so that once abandon() returns no
  // job reaches the main queue.
  void deliver(Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) mainQueue().async(std::move(task));
  }

  // Main thread. Jobs not started are dropped; one running finishes on its
  // own thread and delivers nothing.
  void abandon() {
    std::deque<Job> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(jobs_);
  }

  static std::shared_ptr<CopyLane> make() {
    auto lane = std::shared_ptr<CopyLane>(new CopyLane());
    lane->self_ = lane;
    return lane;
  }

 private:
  CopyLane() = default;

  void drain() {
    for (;;) {
      Job job;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.empty() || closed_) {
          running_ = false;
          return;
        }
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
      job = nullptr;
      returnFreedMemory();
    }
  }

  std::weak_ptr<CopyLane> self_;
  std::mutex mutex_;
  std::deque<Job> jobs_;
  bool running_ = false;
  bool closed_ = false;
};

// Main-thread state of the copies: the lane, and the calls waiting for their
// outcome, by number. Replies never leave the main thread.
struct Copies {
  std::shared_ptr<CopyLane> lane = CopyLane::make();
  std::map<uint64_t, FlutterResult> waiting;
  uint64_t next = 1;
};

Copies& copies() {
  static auto* const state = new Copies();
  return *state;
}

// What decoding one copy gave: the item to put on the clipboard, or none
// when the image is refused.
struct CopyOutcome {
  std::optional<PasteboardItem> item;
};

// Whether the data starts with the PNG signature.
bool isPng(std::span<const uint8_t> data) {
  static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return data.size() >= sizeof kSignature &&
         std::equal(std::begin(kSignature), std::end(kSignature), data.begin());
}

// The TIFF of the item's PNG, made when a reader first asks for it, on the
// thread that serves that reader: nothing of it is made or held for a copy
// nobody pastes as TIFF.
std::optional<ByteBuffer> tiffOfPng(const PasteboardItem& item) {
  const ByteBuffer* png = item.dataForType(kPasteboardTypePNG);
  if (!png) return std::nullopt;
  try {
    std::optional<DecodedImage> image = decodePng(*png);
    if (!image) return std::nullopt;
    return encodeTiff(*image);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

// Off the main thread: the PNG as given (checked to decode, which is
// several times quicker than decoding it) or, for an image in another format,
// a PNG of its pixels, with a TIFF of the same pixels promised; or a refusal.
// An image above kMaxDecodedPixels is refused before its pixels are made.
CopyOutcome decodeForClipboard(const Graphics& graphics, const ByteView& bytes) {
  CopyOutcome outcome;
  try {
    std::optional<ByteBuffer> png;
    if (isPng(bytes)) {
      if (!isDecodablePng(bytes)) return outcome;
      png = bytes.toBuffer();
    } else {
      std::optional<DecodedImage> image = graphics.decodeImage(bytes);
      if (!image) return outcome;
      png = encodePng(*image);
      if (!png) return outcome;
    }
    PasteboardItem item;
    item.setData(kPasteboardTypePNG, std::move(*png));
    item.setDataProvider(kPasteboardTypeTIFF, tiffOfPng);
    outcome.item = std::move(item);
  } catch (const std::bad_alloc&) {
    outcome.item.reset();  // Refused like any image it cannot hold.
  }
  return outcome;
}

// On the main thread, in call order.
void finishCopy(uint64_t number, CopyOutcome outcome) {
  auto found = copies().waiting.find(number);
  if (found == copies().waiting.end()) return;
  const FlutterResult result = std::move(found->second);
  copies().waiting.erase(found);
  if (!outcome.item) {
    result(FlutterError::errorWithCode("bad_png"));
    return;
  }
  Pasteboard& pasteboard = platform().pasteboard();
  pasteboard.clearContents();
  pasteboard.writeObjects({std::move(*outcome.item)});
  outcome.item.reset();
  result(Value());
  // What the clipboard held before is freed on this thread.
  returnFreedMemory();
}

}  // namespace

void copyToClipboard(std::optional<Bytes> png, const FlutterResult& result) {
  if (!png || !*png) {
    result(FlutterError::errorWithCode("bad_png"));
    return;
  }
  // A PNG or TIFF whose header declares more than kMaxDecodedPixels is
  // refused at once, before any decoding: a small file cannot make the host
  // allocate for a huge image or wait behind other copies. Data in any other
  // format goes to the platform's decoder, which keeps to the same bound.
  std::optional<ImageSize> declared = declaredImageSize(**png);
  if (declared && !withinDecodeBound(*declared)) {
    result(FlutterError::errorWithCode("bad_png"));
    return;
  }
  Copies& state = copies();
  const uint64_t number = state.next++;
  state.waiting[number] = result;
  std::shared_ptr<CopyLane> lane = state.lane;
  std::weak_ptr<CopyLane> weakLane = lane;
  const Graphics* graphics = &platform().graphics();
  const bool posted = lane->post([weakLane, number, graphics, bytes = std::move(*png),
                                  requester = result.requester()] {
    // When nobody will read the answer, nothing is decoded and the
    // clipboard stays as it is.
    CopyOutcome outcome = requester->gone() ? CopyOutcome{} : decodeForClipboard(*graphics, *bytes);
    if (auto alive = weakLane.lock()) {
      alive->deliver([number, outcome = std::move(outcome)]() mutable {
        finishCopy(number, std::move(outcome));
      });
    }
  });
  if (!posted) {
    state.waiting.erase(number);
    result(FlutterError::errorWithCode("bad_png"));
  }
}

void abandonClipboardCopies() {
  Copies& state = copies();
  state.lane->abandon();
  state.lane = CopyLane::make();
  // Dropped here, on the main thread.
  std::map<uint64_t, FlutterResult> dropped;
  dropped.swap(state.waiting);
}

size_t clipboardCopiesInFlight() {
  return copies().waiting.size();
}

}  // namespace dravel
