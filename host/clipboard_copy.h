// "copyPng": an image put on the clipboard as PNG, with a TIFF of the same
// pixels promised. The image is checked and decoded off the main thread, one
// copy at a time in the order asked; answers and clipboard writes happen on
// the main thread in the same order.
#pragma once

#include <cstddef>
#include <optional>

#include "channels/flutter_result.h"
#include "channels/value.h"

namespace dravel {

// Main thread. Answers `result` once, later: null when the clipboard holds
// the image, "bad_png" when there is none or it is refused.
void copyToClipboard(std::optional<Bytes> png, const FlutterResult& result);

// Main thread. Abandons the copies still being decoded: none of them writes
// the clipboard or reaches the main queue any more, and their calls are
// dropped. Later copies work again.
void abandonClipboardCopies();
// Copies asked for and not yet answered.
size_t clipboardCopiesInFlight();

}  // namespace dravel
