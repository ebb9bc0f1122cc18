// How a capture engine answers a request for an image, whatever reads it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/seam/screen_capture.h"
#include "platform/shared/engine_worker.h"

namespace dravel {

inline constexpr char kCaptureCancelled[] = "The capture was cancelled.";

// Answers `handler` once, on the engine, with what `capture` reads
// (CapturedImagePtr capture(std::string* error)): its image, else the error
// it gives. A capture cancelled before it starts or while it runs answers
// kCaptureCancelled; one that runs out of memory first, kOutOfMemory.
template <typename Capture>
void answerCapture(const ScreenCapture::ImageHandler& handler,
                   const std::function<bool()>& cancelled, Capture&& capture) {
  answerEvenWithoutMemory(
      [&](bool& answered) {
        auto answer = [&](CapturedImagePtr image, std::optional<std::string> error) {
          answered = true;
          handler(std::move(image), std::move(error));
        };
        if (cancelled()) return answer(nullptr, std::string(kCaptureCancelled));
        std::string error;
        CapturedImagePtr image = capture(&error);
        if (cancelled()) {
          image.reset();
          return answer(nullptr, std::string(kCaptureCancelled));
        }
        if (!image) return answer(nullptr, std::move(error));
        answer(std::move(image), std::nullopt);
      },
      [&] { handler(nullptr, std::string(kOutOfMemory)); });
}

}  // namespace dravel
